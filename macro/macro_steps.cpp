#include "macro/macro_steps.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "protocol/frames.h"

namespace brevak {
namespace {

constexpr int kFramesPerButton = kMacroSlotBase[1] - kMacroSlotBase[0];
static_assert(kFramesPerButton == 4);
constexpr int kMinStepDelay = 10;
constexpr int kMinMoveDelay = 1;
constexpr int kMaxCoordinate = 999;

}  // namespace

int CountMacroFrames(const MacroAction* actions, int action_count) {
  ButtonEntry entry{};
  const int n = std::clamp(action_count, 0, kMaxMacroActions);
  entry.macro_action_count = uint16_t(n);
  std::memcpy(entry.macro_actions, actions, sizeof(MacroAction) * size_t(n));
  return int(BuildMacroReports(entry, kMacroSlotBase[0]).size());
}

bool FitsOnMouse(const MacroAction* actions, int action_count) {
  return IsMacroWithinLimits(actions, action_count) && CountMacroFrames(actions, action_count) <= kFramesPerButton;
}

void MacroSteps::Load(const MacroRecord& record) {
  std::copy(std::begin(record.actions), std::end(record.actions), steps.begin());
  count = std::clamp(record.action_count, 0, kMaxMacroActions);
  if (count == 0 || selected >= count) selected = -1;
}

void MacroSteps::Clear() {
  steps = {};
  count = 0;
  selected = insertion = insertion_start = -1;
  scroll_to_insertion = false;
}

bool MacroSteps::InsertStep(const MacroAction& step) {
  if (!CanInsertMacroActions(count, 1)) return false;
  const int at = insertion < 0 ? count : std::min(insertion, count);
  std::copy_backward(steps.begin() + at, steps.begin() + count, steps.begin() + count + 1);
  steps[size_t(at)] = step;
  ++count;
  ++selected;
  if (insertion >= 0) insertion = at + 1;
  return true;
}

bool MacroSteps::InsertClick(uint8_t code, uint16_t delay) {
  if (!CanInsertMacroActions(count, 2)) return false;
  insertion = selected + 1;
  scroll_to_insertion = true;
  for (uint8_t kind : {uint8_t(kMacroPress), uint8_t(kMacroRelease)}) {
    MacroAction a{};
    a.code = code;
    a.kind = kind;
    a.delay = delay;
    InsertStep(a);
  }
  return true;
}

bool MacroSteps::InsertMove(int32_t x, int32_t y) {
  if (!CanInsertMacroActions(count, 1)) return false;
  if (selected >= 0) {
    insertion = insertion_start = selected + 1;
    scroll_to_insertion = true;
  } else {
    insertion = -1;
  }
  MacroAction a{};
  a.code = kMacroCodeMove;
  a.kind = kMacroMove;
  a.delay = kInsertedStepDelay;
  a.x = x;
  a.y = y;
  return InsertStep(a);
}

bool MacroSteps::MoveSelected(int by) {
  const int to = selected + by;
  if (selected < 0 || selected >= count || to < 0 || to >= count) return false;
  std::swap(steps[size_t(selected)], steps[size_t(to)]);
  selected = to;
  return true;
}

bool MacroSteps::DeleteSelected() {
  if (selected < 0 || selected >= count) return false;
  std::copy(steps.begin() + selected + 1, steps.begin() + count, steps.begin() + selected);
  --count;
  steps[size_t(count)] = MacroAction{};
  if (count == 0) selected = -1;
  else selected = std::min(selected, count - 1);
  return true;
}

int MacroSteps::RowAfterRebuild() const {
  if (count == 0) return -1;
  if (scroll_to_insertion && insertion > 0) return std::min(insertion, count) - 1;
  return count - 1;
}

uint16_t ClampStepDelay(int64_t value) {
  return uint16_t(std::clamp<int64_t>(value, kMinStepDelay, kMaxMacroDelay));
}

uint16_t ClampMoveDelay(int64_t value) {
  return uint16_t(std::clamp<int64_t>(value, kMinMoveDelay, kMaxMacroDelay));
}

int64_t FieldNumber(std::u16string_view text) {
  int64_t n = 0;
  bool negative = false, digits = false;
  for (char16_t c : text) {
    if (c == u'-' && !digits) negative = !negative;
    if (c < u'0' || c > u'9') continue;
    digits = true;
    n = std::min<int64_t>(n * 10 + (c - u'0'), 1'000'000'000);
  }
  return negative ? -n : n;
}

std::u16string FilterCoordinate(std::u16string_view text) {
  std::u16string kept;
  for (char16_t c : text) {
    if ((c >= u'0' && c <= u'9') || c == u'-') kept.push_back(c);
  }
  if (kept.find_first_of(u"0123456789") == std::u16string::npos) return kept;
  const int64_t n = FieldNumber(kept);
  if (n > kMaxCoordinate) return u"999";
  if (n < -kMaxCoordinate) return u"-999";
  return kept;
}

}  // namespace brevak
