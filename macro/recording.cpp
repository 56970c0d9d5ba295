#include "macro/recording.h"

#include <algorithm>

#include "macro/key_tables.h"
#include "platform/clock.h"
#include "platform/keyboard/keyboard_layout.h"

namespace brevak {
namespace {

constexpr WPARAM kFirstMouseMessage = 0x0200;  // WM_MOUSEMOVE
constexpr WPARAM kLastMouseMessage = WM_MOUSEHWHEEL;
constexpr uint16_t kNoDelay = 1;

struct ButtonMessage {
  WPARAM message;
  uint8_t code;
  bool press;
};
constexpr ButtonMessage kButtonMessages[] = {
    {WM_LBUTTONDOWN, kMacroCodeLeft, true},   {WM_LBUTTONUP, kMacroCodeLeft, false},
    {WM_RBUTTONDOWN, kMacroCodeRight, true},  {WM_RBUTTONUP, kMacroCodeRight, false},
    {WM_MBUTTONDOWN, kMacroCodeMiddle, true}, {WM_MBUTTONUP, kMacroCodeMiddle, false},
};

}  // namespace

bool HookInputToStep(WPARAM wParam, LPARAM lParam, HookStep& out) {
  for (const ButtonMessage& b : kButtonMessages) {
    if (b.message == wParam) {
      out = HookStep{b.code, b.press};
      return true;
    }
  }
  if (wParam == WM_XBUTTONDOWN || wParam == WM_XBUTTONUP) {
    if (lParam != XBUTTON1 && lParam != XBUTTON2) return false;
    out = HookStep{lParam == XBUTTON1 ? kMacroCodeBackward : kMacroCodeForward, wParam == WM_XBUTTONDOWN};
    return true;
  }
  // The wheel and other pointer messages make no step.
  if (wParam >= kFirstMouseMessage && wParam <= kLastMouseMessage) return false;
  const UsageLookup key = VirtualKeyToUsage(uint32_t(wParam));
  if (key.usage == 0) return false;  // a key the tables do not know would replay as nothing
  out = HookStep{uint8_t(key.usage), lParam == 0};
  return true;
}

void MacroRecorder::Start(HWND target, MacroSteps& steps, DelayMode mode, uint16_t default_delay) {
  if (steps.selected < 0) {
    steps.Clear();
  } else {
    steps.insertion = steps.insertion_start = steps.selected + 1;
    steps.scroll_to_insertion = true;
  }
  recording_ = true;
  has_previous_ = true;
  has_last_ = false;  // the last event of an earlier recording says nothing about this one
  mode_ = mode;
  default_delay_ = default_delay;
  if (hooks_) {
    if (hooks_->installhook) hooks_->installhook(target);
    if (hooks_->enablehook) hooks_->enablehook(1);
    if (hooks_->mousewheelenable) hooks_->mousewheelenable(0);
    // The library starts with mouse buttons off; they count from here unless the pointer is
    // still on the button that started the recording (its leaving turns them on).
    if (hooks_->enablemousehook) hooks_->enablemousehook(pointer_over_button_ ? 0 : 1);
  }
  last_time_ = ClockNowMs();
}

void MacroRecorder::Stop() {
  if (!recording_) return;
  last_time_ = 0;
  recording_ = false;
  if (hooks_) {
    if (hooks_->removehook) hooks_->removehook();
    if (hooks_->removemousehook) hooks_->removemousehook();
    if (hooks_->enablemousehook) hooks_->enablemousehook(0);
    if (hooks_->enablehook) hooks_->enablehook(0);
    if (hooks_->mousewheelenable) hooks_->mousewheelenable(0);
  }
  has_previous_ = false;
}

void MacroRecorder::PointerOverOwnButton(bool over) {
  pointer_over_button_ = over;
  if (recording_ && hooks_ && hooks_->enablemousehook) hooks_->enablemousehook(over ? 0 : 1);
}

uint16_t MacroRecorder::DelayNow() const {
  switch (mode_) {
    case DelayMode::kRecorded:
      return uint16_t(std::clamp<int64_t>(ClockNowMs() - last_time_, 0, kMaxMacroDelay));
    case DelayMode::kDefault:
      return default_delay_;
    case DelayMode::kNone:
      break;
  }
  return kNoDelay;
}

// The pause belongs to the step before the new one: the last step when appending, else the
// step before the insertion point (at the first event of an insert, the selected step).
void MacroRecorder::WriteDelayBeforeInsertion(MacroSteps& steps, uint16_t delay) const {
  const int before = steps.insertion < 0 ? steps.count - 1 : std::min(steps.insertion, steps.count) - 1;
  if (before >= 0) steps.steps[size_t(before)].delay = delay;
}

MacroRecorder::Took MacroRecorder::Take(WPARAM wParam, LPARAM lParam, MacroSteps& steps) {
  if (!recording_) return Took::kIgnored;
  // A held key repeats its press.
  if (has_last_ && wParam == last_w_ && lParam == last_l_) return Took::kIgnored;
  has_last_ = true;
  last_w_ = wParam;
  last_l_ = lParam;
  if (ComputeMacroUnits(steps.steps.data(), steps.count) >= kRecordingUnitLimit) {
    Stop();
    return Took::kStopped;
  }
  // The Hook library names each key in the layout in effect when it was typed, and the user may
  // switch layouts mid-recording: each key is placed with the layout read again for it.
  if (wParam < kFirstMouseMessage || wParam > kLastMouseMessage) RefreshActiveLayout();
  HookStep input;
  if (!HookInputToStep(wParam, lParam, input)) return Took::kIgnored;

  // A step that would not fit the mouse's frames is left out and ends the recording, so the
  // commit that follows keeps everything recorded before it.
  const MacroSteps before = steps;
  if (has_previous_) WriteDelayBeforeInsertion(steps, DelayNow());
  MacroAction step{};
  step.code = input.code;
  step.kind = input.press ? kMacroPress : kMacroRelease;
  step.delay = kNoDelay;
  steps.InsertStep(step);
  if (!FitsOnMouse(steps.steps.data(), steps.count)) {
    steps = before;
    Stop();
    return Took::kStopped;
  }
  last_time_ = ClockNowMs();
  has_previous_ = true;
  if (steps.count >= kRecordingStepLimit) {
    Stop();
    return Took::kStopped;
  }
  return Took::kRecorded;
}

}  // namespace brevak
