#pragma once
// Recording live input into the editor's working steps. The Hook library posts each key and
// mouse-button transition to the editor as WM_HOOK_INPUT; the editor hands them here. No
// window is needed: the recorder talks to the Hook library through its table and keeps time
// on the process clock.

#include <cstdint>

#include "macro/hook_binding.h"
#include "macro/macro_steps.h"

namespace brevak {

// How the pause before each recorded step is taken.
enum class DelayMode { kRecorded = 0, kDefault = 1, kNone = 2 };

// A recording stops itself when the steps reach either limit.
inline constexpr int kRecordingUnitLimit = 190;
inline constexpr int kRecordingStepLimit = 190;

// A WM_HOOK_INPUT as a step: a mouse-button code or a HID keyboard usage, pressed or released.
// X button 1 (the physical back button) becomes 244 and X button 2 (forward) 245, so the mouse
// plays back what the user pressed. False for messages that are no step (a wheel).
struct HookStep {
  uint8_t code = 0;
  bool press = false;
};
bool HookInputToStep(WPARAM wParam, LPARAM lParam, HookStep& out);

class MacroRecorder {
 public:
  explicit MacroRecorder(const HookFunctionTable* hooks = nullptr) : hooks_(hooks) {}
  void SetHooks(const HookFunctionTable* hooks) { hooks_ = hooks; }

  // Starts recording into `steps` for the window `target`: with no selected step the steps are
  // replaced, otherwise the new ones go after the selected step.
  void Start(HWND target, MacroSteps& steps, DelayMode mode, uint16_t default_delay);
  // Ends the recording and releases the hooks; nothing when none runs.
  void Stop();
  bool recording() const { return recording_; }

  enum class Took { kIgnored, kRecorded, kStopped };
  // One WM_HOOK_INPUT while recording. kStopped: a limit ended the recording (the caller then
  // commits what `steps` hold).
  Took Take(WPARAM wParam, LPARAM lParam, MacroSteps& steps);

  // The pointer entering or leaving a button of the editor (the record button among them) or
  // its macro list: a click on one must not become a step, so mouse buttons are reported only
  // while the pointer is elsewhere.
  void PointerOverOwnButton(bool over);

 private:
  void WriteDelayBeforeInsertion(MacroSteps& steps, uint16_t delay) const;
  uint16_t DelayNow() const;

  const HookFunctionTable* hooks_;
  bool recording_ = false;
  bool pointer_over_button_ = false;
  bool has_previous_ = false;
  bool has_last_ = false;
  WPARAM last_w_ = 0;
  LPARAM last_l_ = 0;
  int64_t last_time_ = 0;
  DelayMode mode_ = DelayMode::kDefault;
  uint16_t default_delay_ = kInsertedStepDelay;
};

}  // namespace brevak
