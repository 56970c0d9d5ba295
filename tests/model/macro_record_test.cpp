#include "model/macro_record.h"

#include <gtest/gtest.h>

#include <vector>

namespace brevak {
namespace {

std::vector<MacroAction> Steps(int n, uint8_t kind, uint16_t delay) {
  MacroAction a{};
  a.kind = kind;
  a.code = kind == kMacroMove ? kMacroCodeMove : 4;
  a.delay = delay;
  return std::vector<MacroAction>(size_t(n), a);
}

TEST(MacroUnits, CostsAndTheLimit) {
  EXPECT_EQ(ComputeMacroUnits(nullptr, 0), 0);
  EXPECT_TRUE(IsMacroWithinLimits(nullptr, 0));

  auto presses = Steps(190, kMacroPress, 127);
  EXPECT_EQ(ComputeMacroUnits(presses.data(), 190), 190);
  EXPECT_TRUE(IsMacroWithinLimits(presses.data(), 190));
  EXPECT_FALSE(CanInsertMacroActions(190, 1));
  EXPECT_TRUE(CanInsertMacroActions(188, 2));
  EXPECT_FALSE(CanInsertMacroActions(189, 2));  // a click needs two free entries

  auto slow_moves = Steps(63, kMacroMove, 128);
  EXPECT_EQ(ComputeMacroUnits(slow_moves.data(), 63), 252);
  EXPECT_FALSE(IsMacroWithinLimits(slow_moves.data(), 63));
  EXPECT_EQ(ComputeMacroUnits(slow_moves.data(), 47), 188);
  EXPECT_TRUE(IsMacroWithinLimits(slow_moves.data(), 47));
  EXPECT_EQ(ComputeMacroUnits(slow_moves.data(), 48), 192);
  EXPECT_FALSE(IsMacroWithinLimits(slow_moves.data(), 48));
}

TEST(MacroUnits, DelayThresholdAndKinds) {
  MacroAction a[4]{};
  a[0].kind = kMacroPress, a[0].delay = 127;
  a[1].kind = kMacroRelease, a[1].delay = 128;
  a[2].kind = kMacroMove, a[2].delay = 0;
  a[3].kind = 9, a[3].delay = 25000;  // unknown kinds cost like a release
  EXPECT_EQ(ComputeMacroUnits(a, 1), 1);
  EXPECT_EQ(ComputeMacroUnits(a, 2), 3);
  EXPECT_EQ(ComputeMacroUnits(a, 3), 6);
  EXPECT_EQ(ComputeMacroUnits(a, 4), 8);
}

TEST(MacroUnits, DamagedCountNeverReadsPastTheRecord) {
  MacroRecord rec = MakeEmptyMacroRecord();
  for (auto& a : rec.actions) a.kind = kMacroPress;
  EXPECT_EQ(ComputeMacroUnits(rec.actions, 100000), 190);
  EXPECT_EQ(ComputeMacroUnits(rec.actions, -5), 0);
}

}  // namespace
}  // namespace brevak
