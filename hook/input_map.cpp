#include "hook/input_map.h"

namespace hook {

std::optional<HookInput> KeyInput(UINT vk, bool press) {
  if (vk == 0) return std::nullopt;
  return HookInput{InputKind::kKey, vk, press ? 0 : 1};
}

std::optional<HookInput> ButtonInput(int button, bool press) {
  auto mouse = [](UINT msg, LPARAM lParam = 0) { return HookInput{InputKind::kButton, msg, lParam}; };
  auto wheel = [](UINT msg, LPARAM delta) { return HookInput{InputKind::kWheel, msg, delta}; };
  switch (button) {
    case 1: return mouse(press ? WM_LBUTTONDOWN : WM_LBUTTONUP);
    case 2: return mouse(press ? WM_MBUTTONDOWN : WM_MBUTTONUP);
    case 3: return mouse(press ? WM_RBUTTONDOWN : WM_RBUTTONUP);
    case 8: return mouse(press ? WM_XBUTTONDOWN : WM_XBUTTONUP, XBUTTON1);
    case 9: return mouse(press ? WM_XBUTTONDOWN : WM_XBUTTONUP, XBUTTON2);
  }
  // A notch is one X press (and its immediate release); positive is up and right, as on Windows.
  if (!press) return std::nullopt;
  switch (button) {
    case 4: return wheel(WM_MOUSEWHEEL, WHEEL_DELTA);
    case 5: return wheel(WM_MOUSEWHEEL, -WHEEL_DELTA);
    case 6: return wheel(WM_MOUSEHWHEEL, -WHEEL_DELTA);
    case 7: return wheel(WM_MOUSEHWHEEL, WHEEL_DELTA);
  }
  return std::nullopt;
}

}  // namespace hook
