#include <gtest/gtest.h>

#include "frame_test_util.h"
#include "protocol/frames.h"

namespace brevak {
namespace {

using test::Hex;

MacroAction Step(uint8_t kind, uint8_t code, uint16_t delay, int32_t x = 0, int32_t y = 0) {
  MacroAction a{};
  a.kind = kind;
  a.code = code;
  a.delay = delay;
  a.x = x;
  a.y = y;
  return a;
}

class MacroFrames : public ::testing::Test {
 protected:
  void SetSteps(std::initializer_list<MacroAction> steps) {
    int i = 0;
    for (const auto& s : steps) button_.macro_actions[i++] = s;
    button_.macro_action_count = uint16_t(i);
  }
  void AddPresses(int n, uint16_t delay = 10) {
    for (int i = 0; i < n; ++i) button_.macro_actions[button_.macro_action_count++] = Step(kMacroPress, 4, delay);
  }
  // A 111-byte frame: header bytes, then `items` from byte 9, zeros, and the checksum that
  // this test computes itself.
  static std::vector<uint8_t> Expected(std::vector<uint8_t> head9, const std::vector<uint8_t>& items) {
    std::vector<uint8_t> f(111, 0);
    std::copy(head9.begin(), head9.end(), f.begin());
    std::copy(items.begin(), items.end(), f.begin() + 9);
    uint16_t sum = test::SumOf(f, 3, 108);
    f[109] = uint8_t(sum >> 8);
    f[110] = uint8_t(sum);
    return f;
  }

  ButtonEntry button_{};
};

TEST_F(MacroFrames, TwoStepMacroGivesTheKnownFrame) {
  SetSteps({Step(kMacroPress, 4, 10), Step(kMacroRelease, 4, 200)});
  button_.macro_repeat_mode = 0;
  button_.macro_loop_count = 1;
  MacroFrame m = BuildMacroReport(button_, 1, 0);
  EXPECT_FALSE(m.continues);
  std::vector<uint8_t> want(111, 0);
  auto head = Hex("09 6F 01 00 00 00 00 01 03 0A 04 82 04 02 03");
  std::copy(head.begin(), head.end(), want.begin());
  want[109] = 0x00;
  want[110] = 0x9D;
  EXPECT_FRAME(m.frame, want);
}

TEST_F(MacroFrames, DelaysShortLongAndTiny) {
  SetSteps({
      Step(kMacroPress, 0x10, 127),    // one byte
      Step(kMacroPress, 0x11, 128),    // 28, then [1][03]
      Step(kMacroRelease, 0x12, 0),    // raised to 2
      Step(kMacroRelease, 0x13, 1),    // raised to 2
      Step(kMacroPress, 0x14, 25000),  // 25000 mod 100 = 0 -> 2, then [250][03]
      Step(kMacroPress, 0x15, 65535),  // 35, then [655 in 8 bits = 0x8F][03]
      Step(7, 0x16, 201),              // an unknown kind is sent as a release; 201 -> d 1 -> 2
  });
  button_.macro_loop_count = 0;  // sent as 1
  button_.macro_repeat_mode = 0x102;
  button_.macro_header_reserved[0] = 0xA1;
  button_.macro_header_reserved[2] = 0xA3;
  MacroFrame m = BuildMacroReport(button_, 9, 0);
  EXPECT_FALSE(m.continues);
  EXPECT_FRAME(m.frame, Expected(Hex("09 6F 09 02 A1 00 A3 01 0B"),
                                 Hex("7F 10  1C 11 01 03  82 12  82 13  02 14 FA 03  23 15 8F 03  82 16 02 03")));
}

TEST_F(MacroFrames, MouseMovesCarryLow16BitsHighByteFirst) {
  SetSteps({Step(kMacroMove, kMacroCodeMove, 20, -1, 300), Step(kMacroMove, 0, 130, 70000, -999)});
  button_.macro_loop_count = 5;
  // 70000 = 0x11170 -> 11 70; -999 = 0xFC19; the code byte is always F6 for a move.
  EXPECT_FRAME(BuildMacroReport(button_, 0, 0).frame,
               Expected(Hex("09 6F 00 00 00 00 00 05 07"), Hex("14 F6 FF FF 01 2C  1E F6 11 70 FC 19 01 03")));
}

TEST_F(MacroFrames, EmptyMacroIsOneFrameWithNoItems) {
  button_.macro_loop_count = 3;
  auto frames = BuildMacroReports(button_, 13);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_FRAME(frames[0], Expected(Hex("09 6F 0D 00 00 00 00 03 00"), {}));
}

TEST_F(MacroFrames, ExactlyNinetyEightBytesFitOneFrame) {
  AddPresses(49);
  auto frames = BuildMacroReports(button_, 1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][8], 49);
}

TEST_F(MacroFrames, OverflowContinuesInTheNextSlot) {
  button_.macro_loop_count = 2;
  AddPresses(50);
  std::vector<uint8_t> items1;
  for (int i = 0; i < 49; ++i) items1.insert(items1.end(), {0x0A, 0x04});
  items1.insert(items1.end(), {0x06, 0xFE});  // continue in slot 5 + 1

  MacroFrame first = BuildMacroReport(button_, 5, 0);
  EXPECT_TRUE(first.continues);
  EXPECT_EQ(first.resume_position, 49);
  EXPECT_FRAME(first.frame, Expected(Hex("09 6F 05 00 00 00 00 02 32"), items1));

  // The second frame has no repeat mode or loop count.
  auto frames = BuildMacroReports(button_, 5);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_FRAME(frames[1], Expected(Hex("09 6F 06 00 00 00 00 00 01"), Hex("0A 04")));
}

TEST_F(MacroFrames, LongDelayItemIsNeverSplitFromItsStep) {
  AddPresses(48);                                                          // 96 bytes
  button_.macro_actions[button_.macro_action_count++] = Step(kMacroRelease, 5, 300);  // 4 more bytes
  std::vector<uint8_t> items1;
  for (int i = 0; i < 48; ++i) items1.insert(items1.end(), {0x0A, 0x04});
  items1.insert(items1.end(), {0x01, 0xFE});
  auto frames = BuildMacroReports(button_, 0);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_FRAME(frames[0], Expected(Hex("09 6F 00 00 00 00 00 01 31"), items1));
  EXPECT_FRAME(frames[1], Expected(Hex("09 6F 01 00 00 00 00 00 02"), Hex("82 05 03 03")));
}

TEST_F(MacroFrames, MoveAtTheBoundaryMovesWhole) {
  AddPresses(47);  // 94 bytes; a 6-byte move would make 100
  button_.macro_actions[button_.macro_action_count++] = Step(kMacroMove, kMacroCodeMove, 5, 1, 2);
  auto frames = BuildMacroReports(button_, 21);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0][8], 48);
  EXPECT_EQ(frames[0][9 + 94], 22);
  EXPECT_EQ(frames[0][9 + 95], 0xFE);
  EXPECT_FRAME(frames[1], Expected(Hex("09 6F 16 00 00 00 00 00 03"), Hex("05 F6 00 01 00 02")));
}

TEST_F(MacroFrames, FullMacroOfSlowMovesSpansManyFrames) {
  for (int i = 0; i < kMaxMacroActions; ++i) button_.macro_actions[i] = Step(kMacroMove, kMacroCodeMove, 500, i, -i);
  button_.macro_action_count = kMaxMacroActions;
  // 8 bytes per step: 12 steps (96 bytes) per frame, so 16 frames for 190 steps.
  auto frames = BuildMacroReports(button_, 1);
  ASSERT_EQ(frames.size(), 16u);
  for (size_t k = 0; k < frames.size(); ++k) {
    EXPECT_EQ(size_t(frames[k][2]), 1 + k);
    EXPECT_EQ(frames[k][8], k + 1 < frames.size() ? 49 : (190 - 15 * 12) * 4);
  }
}

TEST_F(MacroFrames, DamagedStepCountIsClampedToTheSlot) {
  AddPresses(kMaxMacroActions);
  auto whole = BuildMacroReports(button_, 1);
  button_.macro_action_count = 60000;  // from a damaged file
  auto clamped = BuildMacroReports(button_, 1);
  ASSERT_EQ(clamped.size(), whole.size());
  for (size_t k = 0; k < whole.size(); ++k) EXPECT_EQ(test::Bytes(clamped[k]), test::Bytes(whole[k]));
}

// The builder the apply uses keeps each button in its own slots: none for a button without a
// base slot, none for a macro of more frames than a button has, else from the button's base.
TEST_F(MacroFrames, AButtonsMacroGoesOnlyIntoItsOwnSlots) {
  enum Steps { kTwo, kFourFrames, kFiveFrames };
  struct Case {
    const char* what;
    int button;  // 0-based
    Steps steps;
    std::vector<int> slots;
  } cases[] = {
      {"button 1, one frame", 0, kTwo, {1}},
      {"button 8, four frames: up to its last slot", 7, kFourFrames, {21, 22, 23, 24}},
      {"button 2, five frames: the fifth would be button 3's first", 1, kFiveFrames, {}},
      {"button 5 has no slots", 4, kTwo, {}},
      {"button 9 has no slots", 8, kTwo, {}},
      {"no such button", kPageButtons, kTwo, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    button_ = {};
    button_.function_code = kFunctionMacro;
    if (c.steps == kTwo) AddPresses(2);
    if (c.steps == kFourFrames) AddPresses(kMaxMacroActions);  // 49 two-byte items a frame
    if (c.steps == kFiveFrames) {
      // 188 units; a move that straddles each frame's end pushes the rest into a fifth.
      for (int block = 0; block < 4; ++block) {
        AddPresses(block ? 42 : 46);
        button_.macro_actions[button_.macro_action_count++] = Step(kMacroMove, kMacroCodeMove, 200, 5, 0);
      }
      ASSERT_LT(ComputeMacroUnits(button_.macro_actions, button_.macro_action_count), kMacroUnitLimit);
    }
    std::vector<int> slots;
    for (const Frame& f : BuildButtonMacroReports(button_, c.button)) slots.push_back(f[2]);
    EXPECT_EQ(slots, c.slots);
    EXPECT_EQ(CheckButtonMacro(c.button, button_) == ButtonMacroCheck::kSends, !c.slots.empty());
    EXPECT_EQ(MacroWithheld(c.button, button_), c.slots.empty());
  }
}

}  // namespace
}  // namespace brevak
