#pragma once
// A macro: a named list of input steps, each followed by a pause. The record is also the
// on-disk image in "macro.data" and ".macro" files, so its layout is fixed.

#include <cstddef>
#include <cstdint>

namespace brevak {

enum MacroActionKind : uint8_t {
  kMacroMove = 0,
  kMacroPress = 1,
  kMacroRelease = 2,
};

// Mouse-button codes that macros use above the keyboard usage range.
inline constexpr uint8_t kMacroCodeLeft = 241;
inline constexpr uint8_t kMacroCodeRight = 242;
inline constexpr uint8_t kMacroCodeMiddle = 243;
inline constexpr uint8_t kMacroCodeBackward = 244;
inline constexpr uint8_t kMacroCodeForward = 245;
inline constexpr uint8_t kMacroCodeMove = 246;

struct MacroAction {
  uint8_t reserved_0;
  uint8_t code;  // HID keyboard usage, a mouse-button code above, or kMacroCodeMove
  uint8_t kind;  // MacroActionKind
  uint8_t reserved_3;
  uint16_t delay;  // pause after this step in ms
  uint16_t reserved_6;
  int32_t x;  // relative move for kMacroMove
  int32_t y;
};
static_assert(sizeof(MacroAction) == 16);
static_assert(offsetof(MacroAction, code) == 1 && offsetof(MacroAction, kind) == 2);
static_assert(offsetof(MacroAction, delay) == 4 && offsetof(MacroAction, x) == 8 &&
              offsetof(MacroAction, y) == 12);

inline constexpr int kMacroNameUnits = 24;  // 23 characters and the terminator
inline constexpr int kMaxMacroActions = 190;
inline constexpr uint16_t kMaxMacroDelay = 25000;
// The mouse's macro space: a macro is valid while its units stay below this.
inline constexpr int kMacroUnitLimit = 192;

struct MacroRecord {
  char16_t name[kMacroNameUnits];
  int32_t loop_count;
  int32_t action_count;
  MacroAction actions[kMaxMacroActions];
};
static_assert(sizeof(MacroRecord) == 3096);
static_assert(offsetof(MacroRecord, loop_count) == 48);
static_assert(offsetof(MacroRecord, action_count) == 52);
static_assert(offsetof(MacroRecord, actions) == 56);

// Cost of the first `action_count` actions in the mouse's macro space: 1 unit for a press
// or release, 3 for a move, 1 more for a delay of 128 ms or longer. A count outside
// 0..190 (a damaged file) is clamped so the array is never read past its end.
int ComputeMacroUnits(const MacroAction* actions, int action_count);

inline bool IsMacroWithinLimits(const MacroAction* actions, int action_count) {
  return ComputeMacroUnits(actions, action_count) < kMacroUnitLimit;
}

// Room for `steps` more entries (a click insertion needs two).
inline bool CanInsertMacroActions(int action_count, int steps) {
  return action_count >= 0 && action_count + steps <= kMaxMacroActions;
}

// A zero-filled record, as every new macro starts.
MacroRecord MakeEmptyMacroRecord();

}  // namespace brevak
