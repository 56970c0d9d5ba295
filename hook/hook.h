#pragma once
// The seven functions the Hook library exports, as the program binds them by name at run time,
// and the message it posts. Each returns TRUE while capture has a window to post to (installhook:
// when capture started for it) and FALSE otherwise; callers ignore the results.
//
// The library watches every key and mouse button of the X server (not only our windows) and
// posts each transition to the window last given to installhook:
//   WM_HOOK_INPUT, wParam = virtual-key code, lParam = 0 for a press, 1 for a release;
//   WM_HOOK_INPUT, wParam = WM_LBUTTONDOWN ... WM_MBUTTONUP, lParam = 0;
//   WM_HOOK_INPUT, wParam = WM_XBUTTONDOWN/UP, lParam = X button 1 (back) or 2 (forward);
//   WM_HOOK_INPUT, wParam = WM_MOUSEWHEEL/WM_MOUSEHWHEEL, lParam = +120 or -120 per notch.
// Without a reachable X server every call returns FALSE and nothing is posted.

#include "platform/winapi.h"

#ifdef HOOK_EXPORTS
#define HOOK_API extern "C" __attribute__((visibility("default")))
#else
#define HOOK_API extern "C"
#endif

constexpr UINT WM_HOOK_INPUT = 1034;

// Mouse buttons are reported separately from keys; installhook also does this.
HOOK_API BOOL installmousehook();
HOOK_API BOOL removemousehook();
HOOK_API BOOL enablemousehook(int flag);
// Starts capture (if not running) towards `window`, with mouse buttons on and keys off.
HOOK_API BOOL installhook(HWND window);
// Forgets the window and stops capture: once it returns, nothing more is posted.
HOOK_API BOOL removehook();
HOOK_API BOOL enablehook(int flag);
// Wheel notches; on until turned off, and kept across installhook and removehook.
HOOK_API BOOL mousewheelenable(int flag);

// Entry point types for binding with GetProcAddress.
namespace hook {
using NoArgFn = BOOL (*)();
using FlagFn = BOOL (*)(int);
using WindowFn = BOOL (*)(HWND);
}  // namespace hook
