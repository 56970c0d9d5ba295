// The seven entry points and the state they share with the capture thread.
#include "hook/hook.h"

#include <memory>
#include <mutex>

#include "hook/raw_input.h"

namespace hook {
namespace {

struct HookState {
  std::mutex control;  // one start or stop of capture at a time
  std::unique_ptr<RawInputCapture> capture;  // under `control`

  // Under `lock`, which is also held while posting: whoever changes these knows that no
  // message decided under the old values is still on its way.
  std::mutex lock;
  HWND target = nullptr;  // from an installhook that started capture until removehook
  bool keys = false;
  bool mouse = false;
  bool wheel = true;

  // Forgets the target and stops the thread; TRUE when a target was set.
  BOOL Stop() {
    std::lock_guard control_guard(control);
    bool had_target;
    {
      std::lock_guard guard(lock);
      had_target = target != nullptr;
      target = nullptr;
      keys = mouse = false;
    }
    capture.reset();
    return had_target;
  }

  // Unloading the library must not leave the thread running code that is about to go.
  ~HookState() { Stop(); }
} g_state;

void Deliver(const HookInput& input) {
  std::lock_guard guard(g_state.lock);
  if (!g_state.target) return;
  const bool wanted = input.kind == InputKind::kKey      ? g_state.keys
                      : input.kind == InputKind::kButton ? g_state.mouse
                                                         : g_state.mouse && g_state.wheel;
  if (wanted) PostMessageW(g_state.target, WM_HOOK_INPUT, input.wParam, input.lParam);
}

// Sets one flag; TRUE while a target is set.
BOOL SetFlag(bool HookState::*flag, bool on) {
  std::lock_guard guard(g_state.lock);
  g_state.*flag = on;
  return g_state.target ? TRUE : FALSE;
}

}  // namespace
}  // namespace hook

using hook::g_state;

// installhook reports mouse buttons already; there is nothing separate to install.
HOOK_API BOOL installmousehook() {
  std::lock_guard guard(g_state.lock);
  return g_state.target ? TRUE : FALSE;
}

HOOK_API BOOL removemousehook() { return hook::SetFlag(&hook::HookState::mouse, false); }

HOOK_API BOOL enablemousehook(int flag) { return hook::SetFlag(&hook::HookState::mouse, flag != 0); }

HOOK_API BOOL installhook(HWND window) {
  if (!IsWindow(window)) return FALSE;
  std::lock_guard control_guard(g_state.control);
  // A capture whose server went away is started afresh.
  if (g_state.capture && !g_state.capture->running()) g_state.capture.reset();
  if (!g_state.capture) g_state.capture = hook::RawInputCapture::Start(&hook::Deliver);
  std::lock_guard guard(g_state.lock);
  g_state.target = g_state.capture ? window : nullptr;
  g_state.mouse = true;
  g_state.keys = false;
  return g_state.target ? TRUE : FALSE;
}

HOOK_API BOOL removehook() { return g_state.Stop(); }

HOOK_API BOOL enablehook(int flag) { return hook::SetFlag(&hook::HookState::keys, flag != 0); }

HOOK_API BOOL mousewheelenable(int flag) { return hook::SetFlag(&hook::HookState::wheel, flag != 0); }
