#include "sim/frame_decoder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace brevak::sim {
namespace {

std::string Why(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Why(const char* fmt, ...) {
  char buf[160];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// First non-zero byte in [from, to), if any.
std::optional<size_t> NonZero(const uint8_t* data, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (data[i] != 0) return i;
  }
  return std::nullopt;
}

std::string ChecksumError(const uint8_t* d, size_t at, uint16_t want) {
  return Why("checksum %02X %02X at bytes %zu..%zu, expected %02X %02X", d[at], d[at + 1], at, at + 1,
             want >> 8, want & 0xFF);
}

// Frames whose layout ends "payload, checksum, zero tail".
std::optional<std::string> CheckSummed(const uint8_t* d, size_t sum_at, size_t length) {
  const uint16_t want = Sum16(d, 3, sum_at);
  if (Be16(d + sum_at) != want) return ChecksumError(d, sum_at, want);
  if (auto z = NonZero(d, sum_at + 2, length)) return Why("byte %zu must be 0, is %02X", *z, d[*z]);
  return std::nullopt;
}

Decoded<Frame> Attribute(const uint8_t* d) {
  if (d[49] != 0x01) return Decoded<Frame>::Fail(Why("attribute byte 49 must be 01, is %02X", d[49]));
  if (auto e = CheckSummed(d, 50, kAttributeLength)) return Decoded<Frame>::Fail(*e);
  AttributeFrame f;
  f.lift_off = d[3];
  f.ripple = d[4];
  f.stage_mask = d[5];
  f.angle_snap = d[6];
  f.motion_sync = d[7];
  for (size_t i = 0; i < kDpiStages; ++i) {
    f.dpi_code[i] = uint16_t(d[16 + i] << 8 | d[8 + i]);
    f.colors[i] = Rgb{d[25 + 3 * i], d[26 + 3 * i], d[27 + 3 * i]};
  }
  f.stage = d[24];
  return Decoded<Frame>::Ok(f);
}

Decoded<Frame> Lighting(const uint8_t* d) {
  if (auto e = CheckSummed(d, 11, kLightingLength)) return Decoded<Frame>::Fail(*e);
  if (d[3] & 0x0F) return Decoded<Frame>::Fail(Why("lighting byte 3 low nibble must be 0, is %02X", d[3]));
  LightingFrame f;
  f.effect = d[3] >> 4;
  f.speed_code = d[4] & 0x0F;
  f.sleep_timer = uint8_t((d[4] & 0xF0) | (d[5] >> 4));
  if (f.effect == 1 || f.effect == 5) {
    f.brightness = d[5] & 0x0F;
  } else if ((d[5] & 0x0F) != 8) {
    // Only effects 1 and 5 carry a brightness; the others send 8 in its place.
    return Decoded<Frame>::Fail(Why("lighting byte 5 low nibble must be 8 for effect %d, is %02X", f.effect, d[5]));
  }
  f.color = Rgb{d[6], d[7], d[8]};
  f.light_off_timer = d[9];
  f.key_debounce = d[10];
  return Decoded<Frame>::Ok(f);
}

Decoded<Frame> Polling(const uint8_t* d) {
  if (d[4] != uint8_t(~d[3]))
    return Decoded<Frame>::Fail(Why("polling byte 4 must be the complement of %02X, is %02X", d[3], d[4]));
  if (auto z = NonZero(d, 5, kPollingLength)) return Decoded<Frame>::Fail(Why("byte %zu must be 0, is %02X", *z, d[*z]));
  return Decoded<Frame>::Ok(PollingFrame{d[3]});
}

Decoded<Frame> Buttons(const uint8_t* d) {
  if (auto e = CheckSummed(d, 57, kButtonsLength)) return Decoded<Frame>::Fail(*e);
  ButtonFrame f;
  for (size_t i = 0; i < kButtonSlots; ++i) {
    for (size_t k = 0; k < 3; ++k) f.slots[i][k] = d[3 + 3 * i + k];
  }
  return Decoded<Frame>::Ok(f);
}

Decoded<Frame> FullWrite(const uint8_t* d) {
  static constexpr uint8_t kFixed[kFullWriteLength] = {0x0C, 0x0A, 0x01, 0xFE, 0x01, 0xFE, 0, 0, 0, 0};
  for (size_t i = 3; i < kFullWriteLength; ++i) {
    if (d[i] != kFixed[i]) return Decoded<Frame>::Fail(Why("full-write byte %zu must be %02X, is %02X", i, kFixed[i], d[i]));
  }
  return Decoded<Frame>::Ok(FullWriteFrame{});
}

Decoded<Frame> Macro(const uint8_t* d) {
  const uint16_t want = Sum16(d, 3, 109);
  if (Be16(d + 109) != want) return Decoded<Frame>::Fail(ChecksumError(d, 109, want));
  MacroFrame f;
  f.slot = d[2];
  // The header is filled in a macro's first frame only, where the loop count is at least 1.
  f.first = d[7] != 0;
  if (!f.first) {
    if (auto z = NonZero(d, 3, 7))
      return Decoded<Frame>::Fail(Why("continuation frame byte %zu must be 0, is %02X", *z, d[*z]));
  }
  f.repeat_mode = d[3];
  f.reserved = {d[4], d[5], d[6]};
  f.loop_count = d[7];

  const size_t area = size_t(d[8]) * 2;
  if (area > kMacroItemBytes + 2) return Decoded<Frame>::Fail(Why("item area of %zu bytes is too long", area));
  if (auto z = NonZero(d, 9 + area, 109))
    return Decoded<Frame>::Fail(Why("byte %zu after the item area must be 0, is %02X", *z, d[*z]));

  const uint8_t* p = d + 9;
  size_t at = 0;
  bool after_action = false;   // a long delay may follow an action whose pause byte is below 100
  uint8_t last_delay = 0;
  while (at < area) {
    const size_t pos = 9 + at;
    if (area - at < 2) return Decoded<Frame>::Fail(Why("item at byte %zu is cut short", pos));
    const uint8_t b0 = p[at], b1 = p[at + 1];
    MacroItem item;
    if (b1 == 0xFE) {
      if (at + 2 != area) return Decoded<Frame>::Fail(Why("continuation item at byte %zu is not the last item", pos));
      if (b0 != uint8_t(f.slot + 1))
        return Decoded<Frame>::Fail(Why("continuation item names slot %d, expected %d", b0, uint8_t(f.slot + 1)));
      f.continues = true;
      at += 2;
      break;
    }
    if (b1 == 0x03) {
      if (!after_action) return Decoded<Frame>::Fail(Why("long-delay item at byte %zu follows no action", pos));
      if (last_delay >= 100)
        return Decoded<Frame>::Fail(Why("long-delay item at byte %zu follows a pause byte of %d", pos, last_delay));
      item.kind = MacroItem::Kind::kLongDelay;
      item.hundreds = b0;
      after_action = false;
      at += 2;
    } else {
      item.delay = b0 & 0x7F;
      if (b1 == 0xF6 && !(b0 & 0x80)) {
        if (area - at < 6) return Decoded<Frame>::Fail(Why("move item at byte %zu is cut short", pos));
        item.kind = MacroItem::Kind::kMove;
        item.x = int16_t(Be16(p + at + 2));
        item.y = int16_t(Be16(p + at + 4));
        at += 6;
      } else {
        item.kind = (b0 & 0x80) ? MacroItem::Kind::kRelease : MacroItem::Kind::kPress;
        item.code = b1;
        at += 2;
      }
      if (item.delay < 2) return Decoded<Frame>::Fail(Why("item at byte %zu has pause byte %d, below 2", pos, item.delay));
      after_action = true;
      last_delay = item.delay;
    }
    f.items.push_back(item);
  }
  const size_t item_bytes = area - (f.continues ? 2 : 0);
  if (item_bytes > kMacroItemBytes) return Decoded<Frame>::Fail(Why("%zu item bytes, at most 98 fit", item_bytes));
  return Decoded<Frame>::Ok(std::move(f));
}

struct Layout {
  uint8_t command;
  size_t length;
};
constexpr Layout kLayouts[] = {
    {kCmdAttribute, kAttributeLength}, {kCmdLighting, kLightingLength}, {kCmdPolling, kPollingLength},
    {kCmdButtons, kButtonsLength},     {kCmdMacro, kMacroLength},       {kCmdFullWrite, kFullWriteLength},
};

}  // namespace

uint16_t Sum16(const uint8_t* data, size_t from, size_t to_exclusive) {
  uint32_t sum = 0;
  for (size_t i = from; i < to_exclusive; ++i) sum += data[i];
  return uint16_t(sum);
}

Decoded<Frame> DecodeFrame(const uint8_t* d, size_t length) {
  if (!d || length < 3) return Decoded<Frame>::Fail(Why("frame of %zu bytes is too short", length));
  const Layout* layout = nullptr;
  for (const Layout& l : kLayouts) {
    if (l.command == d[0]) layout = &l;
  }
  if (!layout) return Decoded<Frame>::Fail(Why("unknown command %02X", d[0]));
  if (d[1] != layout->length)
    return Decoded<Frame>::Fail(Why("command %02X has length byte %02X, expected %02zX", d[0], d[1], layout->length));
  if (length != layout->length)
    return Decoded<Frame>::Fail(Why("command %02X came with %zu bytes, expected %zu", d[0], length, layout->length));
  if (d[0] != kCmdMacro && d[2] != 0x01)
    return Decoded<Frame>::Fail(Why("command %02X byte 2 must be 01, is %02X", d[0], d[2]));
  switch (d[0]) {
    case kCmdAttribute: return Attribute(d);
    case kCmdLighting: return Lighting(d);
    case kCmdPolling: return Polling(d);
    case kCmdButtons: return Buttons(d);
    case kCmdMacro: return Macro(d);
    default: return FullWrite(d);
  }
}

const char* FrameName(const Frame& frame) {
  static constexpr const char* kNames[] = {"attribute", "lighting", "polling", "buttons", "macro", "full_write"};
  return kNames[frame.index()];
}

Decoded<Envelope> DecodeEnvelope(const uint8_t* r, size_t length) {
  if (!r || length != kEnvelopeSize)
    return Decoded<Envelope>::Fail(Why("envelope of %zu bytes, expected %zu", length, kEnvelopeSize));
  if (r[0] != 0x04) return Decoded<Envelope>::Fail(Why("envelope byte 0 must be 04, is %02X", r[0]));
  const size_t n = r[1];
  if (n < 6 || n > kEnvelopeSize) return Decoded<Envelope>::Fail(Why("envelope length byte %02zX is out of range", n));
  const uint16_t want = Sum16(r, 0, n - 2);
  if (Be16(r + n - 2) != want) {
    return Decoded<Envelope>::Fail(Why("envelope checksum %02X %02X, expected %02X %02X", r[n - 2], r[n - 1],
                                       want >> 8, want & 0xFF));
  }
  if (auto z = NonZero(r, n, kEnvelopeSize))
    return Decoded<Envelope>::Fail(Why("envelope padding byte %zu must be 0, is %02X", *z, r[*z]));
  return Decoded<Envelope>::Ok(Envelope{r[2], std::vector<uint8_t>(r + 3, r + n - 2)});
}

namespace {

CarriageResult Rejected(std::string why) {
  CarriageResult r;
  r.kind = CarriageResult::Kind::kRejected;
  r.error = std::move(why);
  return r;
}

CarriageResult FromFrame(Decoded<Frame> f) {
  if (!f) return Rejected(std::move(f.error));
  CarriageResult r;
  r.kind = CarriageResult::Kind::kFrame;
  r.frame = std::move(f.value);
  return r;
}

CarriageResult Partial() {
  CarriageResult r;
  r.kind = CarriageResult::Kind::kPartial;
  return r;
}

}  // namespace

CarriageResult FeatureAssembler::Add(const uint8_t* r, size_t length) {
  if (!r || length != kFeatureSize) return Rejected(Why("feature report of %zu bytes, expected %zu", length, kFeatureSize));
  if (r[0] != kCmdMacro) {
    chunk0_.reset();
    const size_t n = r[1];
    if (n > kFeatureSize) return Rejected(Why("frame length %zu does not fit a feature report", n));
    if (n >= 3) {
      if (auto z = NonZero(r, n, kFeatureSize))
        return Rejected(Why("feature padding byte %zu must be 0, is %02X", *z, r[*z]));
    }
    return FromFrame(DecodeFrame(r, n < 3 ? kFeatureSize : n));
  }
  const uint8_t slot = r[2];
  if (r[1] == 0x0C) {
    // The 1K receiver closes each macro frame with this chunk.
    if (r[3] != 0x02) return Rejected(Why("closing chunk index must be 02, is %02X", r[3]));
    if (auto z = NonZero(r, 4, kFeatureSize)) return Rejected(Why("closing chunk byte %zu must be 0", *z));
    if (last_chunk_slot_ != slot) return Rejected(Why("closing chunk for slot %d follows no chunk of that slot", slot));
    CarriageResult end;
    end.kind = CarriageResult::Kind::kMacroEnd;
    return end;
  }
  if (r[1] != 0x40) return Rejected(Why("macro chunk length byte must be 40, is %02X", r[1]));
  last_chunk_slot_ = slot;
  if (r[3] == 0) {
    chunk0_.emplace();
    std::memcpy(chunk0_->data(), r, kFeatureSize);
    return Partial();
  }
  if (r[3] != 1) {
    chunk0_.reset();
    return Rejected(Why("macro chunk index %d, expected 0 or 1", r[3]));
  }
  if (!chunk0_) return Rejected(Why("macro chunk 1 for slot %d without chunk 0", slot));
  const auto head = *chunk0_;
  chunk0_.reset();
  if (head[2] != slot) return Rejected(Why("macro chunk 1 for slot %d follows chunk 0 for slot %d", slot, head[2]));
  // Chunk 1 carries frame bytes 63..122; the frame ends at 110.
  constexpr size_t kTail = 4 + (kMacroLength - 3 - kChunkPayload);
  if (auto z = NonZero(r, kTail, kFeatureSize)) return Rejected(Why("macro chunk 1 byte %zu lies past the frame and must be 0", *z));
  uint8_t frame[kMacroLength];
  frame[0] = kCmdMacro;
  frame[1] = uint8_t(kMacroLength);
  frame[2] = slot;
  std::memcpy(frame + 3, head.data() + 4, kChunkPayload);
  std::memcpy(frame + 3 + kChunkPayload, r + 4, kMacroLength - 3 - kChunkPayload);
  return FromFrame(DecodeFrame(frame, kMacroLength));
}

CarriageResult EnvelopeAssembler::Add(const uint8_t* r, size_t length) {
  Decoded<Envelope> env = DecodeEnvelope(r, length);
  if (!env) {
    head_.reset();
    return Rejected(std::move(env.error));
  }
  const std::vector<uint8_t>& b = env.value->bytes;
  const bool macro = env.value->chunk == 1 || (!b.empty() && b[0] == kCmdMacro);
  if (!macro) {
    head_.reset();
    if (env.value->chunk != 0) return Rejected(Why("envelope chunk %d of a whole frame", env.value->chunk));
    return FromFrame(DecodeFrame(b.data(), b.size()));
  }
  if (env.value->chunk == 0) {
    if (b.size() != kEnvelopeChunk0Bytes)
      return Rejected(Why("macro envelope chunk 0 carries %zu bytes, expected %zu", b.size(), kEnvelopeChunk0Bytes));
    head_ = b;
    return Partial();
  }
  if (env.value->chunk != 1) {
    head_.reset();
    return Rejected(Why("envelope chunk index %d, expected 0 or 1", env.value->chunk));
  }
  if (!head_) return Rejected("macro envelope chunk 1 without chunk 0");
  std::vector<uint8_t> frame = std::move(*head_);
  head_.reset();
  if (b.size() != kEnvelopeChunk1Bytes)
    return Rejected(Why("macro envelope chunk 1 carries %zu bytes, expected %zu", b.size(), kEnvelopeChunk1Bytes));
  frame.insert(frame.end(), b.begin(), b.end());
  return FromFrame(DecodeFrame(frame.data(), frame.size()));
}

}  // namespace brevak::sim
