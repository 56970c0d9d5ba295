#pragma once
// Frames and carried reports put together byte by byte from the frame and carriage tables,
// and the published example frames, for feeding the simulated mouse.

#include <cstdint>
#include <string_view>
#include <vector>

namespace brevak::sim::test {

using Bytes = std::vector<uint8_t>;

// "04 38 01 ..." -> bytes.
inline Bytes Hex(std::string_view text) {
  Bytes out;
  int nibbles = 0;
  uint8_t cur = 0;
  for (char c : text) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    cur = uint8_t(cur << 4 | v);
    if (++nibbles == 2) {
      out.push_back(cur);
      nibbles = 0;
      cur = 0;
    }
  }
  return out;
}

inline uint16_t SumOf(const Bytes& b, size_t from, size_t to) {
  uint32_t s = 0;
  for (size_t i = from; i < to; ++i) s += b[i];
  return uint16_t(s);
}

// Writes the frame checksum (bytes 3 .. at-1) at `at`, high byte first.
inline void Seal(Bytes& frame, size_t at) {
  const uint16_t s = SumOf(frame, 3, at);
  frame[at] = uint8_t(s >> 8);
  frame[at + 1] = uint8_t(s);
}

inline Bytes Padded(Bytes b, size_t n) {
  b.resize(n, 0);
  return b;
}

// [0x04][len][chunk][carried][sum of everything before it, hi, lo], zeros up to 65.
inline Bytes Envelope(const Bytes& carried, uint8_t chunk) {
  Bytes e = {0x04, uint8_t(carried.size() + 5), chunk};
  e.insert(e.end(), carried.begin(), carried.end());
  const uint16_t s = SumOf(e, 0, e.size());
  e.push_back(uint8_t(s >> 8));
  e.push_back(uint8_t(s));
  return Padded(e, 65);
}

// A 111-byte macro frame as its two envelopes: frame bytes 0..58 and 59..110.
inline std::vector<Bytes> MacroEnvelopes(const Bytes& frame) {
  return {Envelope(Bytes(frame.begin(), frame.begin() + 59), 0), Envelope(Bytes(frame.begin() + 59, frame.end()), 1)};
}

// A macro frame as 64-byte feature chunks [0x09][0x40][slot][k] + 60 bytes from byte 3 + 60k,
// and with `closing` the 1K receiver's [0x09][0x0C][slot][0x02] + zeros.
inline std::vector<Bytes> MacroChunks(const Bytes& frame, bool closing) {
  std::vector<Bytes> out;
  for (size_t k = 0; k < 2; ++k) {
    Bytes c = {0x09, 0x40, frame[2], uint8_t(k)};
    for (size_t i = 0; i < 60; ++i) {
      const size_t at = 3 + 60 * k + i;
      c.push_back(at < frame.size() ? frame[at] : 0);
    }
    out.push_back(c);
  }
  if (closing) out.push_back(Padded({0x09, 0x0C, frame[2], 0x02}, 64));
  return out;
}

// The published frames for a record at its reset values, and the two-step macro.
inline Bytes ResetAttribute() {
  return Hex(
      "04 38 01 00 01 3F 00 01 0F 1F 3F 81 03 07 00 00 00 00 00 00 01 02 00 00 02 FF FF 00 00 FF FF 00 FF 00 FF 00 FF "
      "00 00 FF FF 00 00 FF 40 00 FF FF FF 01 0E 72 00 00 00 00");
}
inline Bytes ResetLighting() { return Hex("05 0F 01 50 03 A8 00 00 FF 02 04 02 00 00 00"); }
inline Bytes ResetPolling() { return Hex("06 09 01 74 8B 00 00 00 00"); }
inline Bytes FullWrite() { return Hex("0C 0A 01 FE 01 FE 00 00 00 00"); }
inline Bytes TwoStepMacro() {
  Bytes f = Padded(Hex("09 6F 01 00 00 00 00 01 03 0A 04 82 04 02 03"), 111);
  f[109] = 0x00;
  f[110] = 0x9D;
  return f;
}
inline Bytes PollingEnvelope() { return Padded(Hex("04 0E 00 06 09 01 74 8B 00 00 00 00 01 21"), 65); }

// A macro frame from its parts: header (first frame) or zeros (continuation), items, sum.
inline Bytes MacroFrame(uint8_t slot, bool first, const Bytes& items, uint8_t loop = 1) {
  Bytes f(111, 0);
  f[0] = 0x09;
  f[1] = 0x6F;
  f[2] = slot;
  if (first) f[7] = loop;
  f[8] = uint8_t(items.size() / 2);
  for (size_t i = 0; i < items.size(); ++i) f[9 + i] = items[i];
  Seal(f, 109);
  return f;
}

// An attribute frame with the given stage mask and stage index, other fields as in the reset.
inline Bytes AttributeWith(uint8_t mask, uint8_t stage_index) {
  Bytes f = ResetAttribute();
  f[5] = mask;
  f[24] = uint8_t(stage_index + 1);
  Seal(f, 50);
  return f;
}

inline Bytes ButtonsFrame() {
  Bytes f(59, 0);
  f[0] = 0x08;
  f[1] = 0x3B;
  f[2] = 0x01;
  for (size_t i = 0; i < 18; ++i) {
    f[3 + 3 * i] = uint8_t(i + 1);
    f[4 + 3 * i] = uint8_t(0x10 + i);
    f[5 + 3 * i] = uint8_t(0x80 | i);
  }
  Seal(f, 57);
  return f;
}

}  // namespace brevak::sim::test
