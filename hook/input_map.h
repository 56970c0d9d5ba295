#pragma once
// What an X key or button transition becomes in the Hook library's message.

#include <optional>

#include "platform/winapi.h"

namespace hook {

enum class InputKind { kKey, kButton, kWheel };

struct HookInput {
  InputKind kind;
  WPARAM wParam;
  LPARAM lParam;
};

// A key transition with its virtual key (KeyboardLayout::VirtualKeyOfKeyCode); nothing for a key
// without one (0).
std::optional<HookInput> KeyInput(UINT vk, bool press);

// An X button transition (1 left, 2 middle, 3 right, 4/5 wheel up/down, 6/7 wheel left/right,
// 8 back, 9 forward); nothing for other buttons and for wheel "releases".
std::optional<HookInput> ButtonInput(int button, bool press);

}  // namespace hook
