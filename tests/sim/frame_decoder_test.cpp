// The simulated mouse's decoder against the published frames: each is accepted with the right
// fields, and any one-byte change of it is refused.
#include "sim/frame_decoder.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/sim/frames_by_hand.h"

namespace brevak::sim {
namespace {

using test::Bytes;

Decoded<Frame> Decode(const Bytes& b) { return DecodeFrame(b.data(), b.size()); }

template <typename T>
T As(const Bytes& b) {
  Decoded<Frame> d = Decode(b);
  EXPECT_TRUE(d) << d.error;
  if (!d) return T{};
  EXPECT_TRUE(std::holds_alternative<T>(*d.value));
  return std::holds_alternative<T>(*d.value) ? std::get<T>(*d.value) : T{};
}

// Every way of changing one byte that the loops below try.
std::set<uint8_t> OtherValues(uint8_t v) {
  std::set<uint8_t> out = {uint8_t(v + 1), uint8_t(v - 1), uint8_t(v ^ 0x80), uint8_t(v ^ 0xFF), 0x00, 0xFF};
  out.erase(v);
  return out;
}

// Counts the one-byte changes of `b` (outside `skip`) that `accepts` still takes.
template <typename Accepts>
int AcceptedChanges(const Bytes& b, Accepts accepts, std::set<size_t> skip = {}) {
  int accepted = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    if (skip.count(i)) continue;
    for (uint8_t v : OtherValues(b[i])) {
      Bytes changed = b;
      changed[i] = v;
      if (accepts(changed)) {
        ADD_FAILURE() << "byte " << i << " changed to " << int(v) << " was accepted";
        ++accepted;
      }
    }
  }
  return accepted;
}

bool FrameAccepted(const Bytes& b) { return bool(Decode(b)); }

TEST(FrameDecoder, ResetAttributeFrame) {
  const AttributeFrame a = As<AttributeFrame>(test::ResetAttribute());
  EXPECT_EQ(a.lift_off, 0);
  EXPECT_EQ(a.ripple, 1);
  EXPECT_EQ(a.stage_mask, 0x3F);
  EXPECT_EQ(a.angle_snap, 0);
  EXPECT_EQ(a.motion_sync, 1);
  EXPECT_EQ(a.dpi_code, (std::array<uint16_t, 8>{15, 31, 63, 129, 259, 519, 0, 0}));
  EXPECT_EQ(a.stage, 2);
  EXPECT_EQ(a.colors[0], (Rgb{0xFF, 0xFF, 0x00}));
  EXPECT_EQ(a.colors[6], (Rgb{0xFF, 0x40, 0x00}));
  EXPECT_EQ(a.colors[7], (Rgb{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(AcceptedChanges(test::ResetAttribute(), FrameAccepted), 0);
}

TEST(FrameDecoder, ResetLightingFrame) {
  const LightingFrame l = As<LightingFrame>(test::ResetLighting());
  EXPECT_EQ(l.effect, 5);
  EXPECT_EQ(l.speed_code, 3);
  EXPECT_EQ(l.sleep_timer, 10);
  EXPECT_EQ(l.brightness, std::optional<uint8_t>(8));
  EXPECT_EQ(l.color, (Rgb{0, 0, 0xFF}));
  EXPECT_EQ(l.light_off_timer, 2);
  EXPECT_EQ(l.key_debounce, 4);
  EXPECT_EQ(AcceptedChanges(test::ResetLighting(), FrameAccepted), 0);
}

TEST(FrameDecoder, LightingWithoutBrightnessMustCarryEight) {
  Bytes l = test::ResetLighting();
  l[3] = 0x20;  // effect 2 has no brightness
  l[5] = 0xA8;
  test::Seal(l, 11);
  EXPECT_EQ(As<LightingFrame>(l).brightness, std::nullopt);
  l[5] = 0xA7;
  test::Seal(l, 11);
  EXPECT_FALSE(Decode(l));
}

TEST(FrameDecoder, ResetPollingFrameAndTheOtherFixedFrames) {
  EXPECT_EQ(As<PollingFrame>(test::ResetPolling()).value, 0x74);
  EXPECT_EQ(AcceptedChanges(test::ResetPolling(), FrameAccepted), 0);
  As<FullWriteFrame>(test::FullWrite());
  EXPECT_EQ(AcceptedChanges(test::FullWrite(), FrameAccepted), 0);
  const ButtonFrame b = As<ButtonFrame>(test::ButtonsFrame());
  EXPECT_EQ(b.slots[17], (std::array<uint8_t, 3>{18, 0x21, 0x91}));
  EXPECT_EQ(AcceptedChanges(test::ButtonsFrame(), FrameAccepted), 0);
}

TEST(FrameDecoder, TwoStepMacroFrame) {
  const MacroFrame m = As<MacroFrame>(test::TwoStepMacro());
  EXPECT_EQ(m.slot, 1);
  EXPECT_TRUE(m.first);
  EXPECT_EQ(m.loop_count, 1);
  EXPECT_FALSE(m.continues);
  using K = MacroItem::Kind;
  EXPECT_EQ(m.items, (std::vector<MacroItem>{{K::kPress, 10, 4, 0, 0, 0},
                                             {K::kRelease, 2, 4, 0, 0, 0},
                                             {K::kLongDelay, 0, 0, 0, 0, 2}}));
  // Byte 2 addresses the slot and lies outside the checksum: any slot is a valid frame, which
  // the mouse then stores under that slot. Every other byte is guarded.
  EXPECT_EQ(AcceptedChanges(test::TwoStepMacro(), FrameAccepted, {2}), 0);
  Bytes other_slot = test::TwoStepMacro();
  other_slot[2] = 7;
  EXPECT_EQ(As<MacroFrame>(other_slot).slot, 7);
}

TEST(FrameDecoder, MacroMovesAndContinuation) {
  Bytes items;
  for (int i = 0; i < 16; ++i) {  // 96 bytes of moves, then the continuation to slot 6
    const int16_t x = int16_t(-300 + i), y = int16_t(i * 7);
    items.insert(items.end(), {uint8_t(20 + i), 0xF6, uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8), uint8_t(y)});
  }
  items.insert(items.end(), {6, 0xFE});
  const MacroFrame first = As<MacroFrame>(test::MacroFrame(5, true, items));
  ASSERT_EQ(first.items.size(), 16u);
  EXPECT_TRUE(first.continues);
  EXPECT_EQ(first.items[15].kind, MacroItem::Kind::kMove);
  EXPECT_EQ(first.items[15].x, -285);
  EXPECT_EQ(first.items[15].y, 105);

  const MacroFrame second = As<MacroFrame>(test::MacroFrame(6, false, {0x0C, 0xF1}));
  EXPECT_FALSE(second.first);
  EXPECT_EQ(second.items.size(), 1u);

  Bytes wrong_slot = items;
  wrong_slot[96] = 7;
  EXPECT_FALSE(Decode(test::MacroFrame(5, true, wrong_slot)));
}

TEST(FrameDecoder, MacroItemAreaMustAgreeWithItsLengthAndRules) {
  struct Case {
    const char* why;
    Bytes frame;
  };
  Bytes long_area(100, 0);
  for (size_t i = 0; i < long_area.size(); i += 2) long_area[i] = 10, long_area[i + 1] = 4;
  Bytes continued_header = test::MacroFrame(3, false, {10, 4});
  continued_header[4] = 1;
  test::Seal(continued_header, 109);
  Bytes beyond = test::MacroFrame(3, true, {10, 4, 12, 5});
  beyond[8] = 1;  // says one item, carries two
  test::Seal(beyond, 109);
  const Case cases[] = {
      {"long delay first", test::MacroFrame(1, true, {2, 0x03})},
      {"long delay after a pause of 100", test::MacroFrame(1, true, {100, 4, 2, 0x03})},
      {"long delay after a long delay", test::MacroFrame(1, true, {10, 4, 2, 0x03, 2, 0x03})},
      {"pause byte below 2", test::MacroFrame(1, true, {1, 4})},
      {"release with pause byte 0x80", test::MacroFrame(1, true, {0x80, 4})},
      {"move cut short", test::MacroFrame(1, true, {10, 0xF6, 0, 1})},
      {"continuation not last", test::MacroFrame(1, true, {2, 0xFE, 10, 4})},
      {"100 item bytes without continuation", test::MacroFrame(1, true, long_area)},
      {"header in a continuation frame", continued_header},
      {"items past the length byte", beyond},
  };
  for (const Case& c : cases) {
    Decoded<Frame> d = Decode(c.frame);
    EXPECT_FALSE(d) << c.why;
    EXPECT_FALSE(d.error.empty()) << c.why;
  }
}

TEST(FrameDecoder, WrongHeadersAndLengthsAreRefusedWithAReason) {
  Bytes lighting = test::ResetLighting();
  EXPECT_NE(DecodeFrame(lighting.data(), 14).error.find("expected 15"), std::string::npos);
  EXPECT_NE(DecodeFrame(lighting.data(), 2).error.find("too short"), std::string::npos);
  EXPECT_FALSE(DecodeFrame(nullptr, 15));
  Bytes unknown = lighting;
  unknown[0] = 0x07;
  EXPECT_NE(Decode(unknown).error.find("unknown command 07"), std::string::npos);
  Bytes bad_sum = lighting;
  bad_sum[12] ^= 1;
  EXPECT_NE(Decode(bad_sum).error.find("checksum"), std::string::npos);
}

// ---- carriage ----

CarriageResult::Kind Feed(FeatureAssembler& a, const Bytes& b) { return a.Add(b.data(), b.size()).kind; }
CarriageResult::Kind Feed(EnvelopeAssembler& a, const Bytes& b) { return a.Add(b.data(), b.size()).kind; }
using Kind = CarriageResult::Kind;

TEST(FeatureCarriage, WholeFramesArePaddedAndThePaddingIsChecked) {
  FeatureAssembler a;
  const Bytes padded = test::Padded(test::ResetLighting(), 64);
  CarriageResult r = a.Add(padded.data(), padded.size());
  ASSERT_EQ(r.kind, Kind::kFrame) << r.error;
  EXPECT_TRUE(std::holds_alternative<LightingFrame>(*r.frame));
  EXPECT_EQ(AcceptedChanges(padded, [](const Bytes& b) { return FeatureAssembler().Add(b.data(), b.size()).kind == Kind::kFrame; }), 0);
  EXPECT_EQ(Feed(a, test::ResetLighting()), Kind::kRejected);  // not a 64-byte report
}

TEST(FeatureCarriage, MacroFrameInTwoChunksAndTheClosingChunk) {
  const Bytes frame = test::TwoStepMacro();
  const std::vector<Bytes> chunks = test::MacroChunks(frame, true);
  FeatureAssembler a;
  EXPECT_EQ(Feed(a, chunks[0]), Kind::kPartial);
  CarriageResult r = a.Add(chunks[1].data(), chunks[1].size());
  ASSERT_EQ(r.kind, Kind::kFrame) << r.error;
  EXPECT_EQ(std::get<MacroFrame>(*r.frame).items.size(), 3u);
  EXPECT_EQ(Feed(a, chunks[2]), Kind::kMacroEnd);

  // One changed byte anywhere in the two chunks loses the frame, the slot included (the two
  // chunk headers must agree).
  auto completes = [&](size_t which) {
    return [&, which](const Bytes& changed) {
      FeatureAssembler fresh;
      const Bytes& c0 = which == 0 ? changed : chunks[0];
      const Bytes& c1 = which == 1 ? changed : chunks[1];
      fresh.Add(c0.data(), c0.size());
      return fresh.Add(c1.data(), c1.size()).kind == Kind::kFrame;
    };
  };
  EXPECT_EQ(AcceptedChanges(chunks[0], completes(0)), 0);
  EXPECT_EQ(AcceptedChanges(chunks[1], completes(1)), 0);
}

TEST(FeatureCarriage, ChunksOutOfOrderAreRefused) {
  const std::vector<Bytes> chunks = test::MacroChunks(test::TwoStepMacro(), true);
  FeatureAssembler a;
  EXPECT_EQ(Feed(a, chunks[1]), Kind::kRejected);  // no chunk 0 before it
  FeatureAssembler b;
  EXPECT_EQ(Feed(b, chunks[2]), Kind::kRejected);  // closing chunk of a frame never sent
  FeatureAssembler c;
  Feed(c, chunks[0]);
  Feed(c, test::Padded(test::ResetPolling(), 64));  // another frame in between
  EXPECT_EQ(Feed(c, chunks[1]), Kind::kRejected);
  // A repeated attempt after a lost chunk goes through.
  FeatureAssembler d;
  Feed(d, chunks[0]);
  Feed(d, chunks[0]);
  EXPECT_EQ(Feed(d, chunks[1]), Kind::kFrame);
}

TEST(EnvelopeCarriage, PollingEnvelope) {
  const Bytes env = test::PollingEnvelope();
  EXPECT_EQ(env, test::Envelope(test::ResetPolling(), 0));
  EnvelopeAssembler a;
  CarriageResult r = a.Add(env.data(), env.size());
  ASSERT_EQ(r.kind, Kind::kFrame) << r.error;
  EXPECT_EQ(std::get<PollingFrame>(*r.frame).value, 0x74);
  EXPECT_EQ(AcceptedChanges(env, [](const Bytes& b) { return EnvelopeAssembler().Add(b.data(), b.size()).kind == Kind::kFrame; }), 0);
  Decoded<Envelope> short_one = DecodeEnvelope(env.data(), 64);
  EXPECT_FALSE(short_one);
}

TEST(EnvelopeCarriage, MacroFrameInTwoEnvelopes) {
  const std::vector<Bytes> envs = test::MacroEnvelopes(test::TwoStepMacro());
  EXPECT_EQ(envs[0][1], 0x40);
  EXPECT_EQ(envs[1][1], 0x39);
  EnvelopeAssembler a;
  EXPECT_EQ(Feed(a, envs[0]), Kind::kPartial);
  CarriageResult r = a.Add(envs[1].data(), envs[1].size());
  ASSERT_EQ(r.kind, Kind::kFrame) << r.error;
  EXPECT_EQ(std::get<MacroFrame>(*r.frame).slot, 1);
  // The envelope sum covers the slot byte too.
  for (size_t which = 0; which < 2; ++which) {
    EXPECT_EQ(AcceptedChanges(envs[which],
                              [&](const Bytes& changed) {
                                EnvelopeAssembler fresh;
                                const Bytes& e0 = which == 0 ? changed : envs[0];
                                const Bytes& e1 = which == 1 ? changed : envs[1];
                                fresh.Add(e0.data(), e0.size());
                                return fresh.Add(e1.data(), e1.size()).kind == Kind::kFrame;
                              }),
              0);
  }
  EnvelopeAssembler b;
  EXPECT_EQ(Feed(b, envs[1]), Kind::kRejected);  // second half alone
}

}  // namespace
}  // namespace brevak::sim
