#pragma once
// What each button function code means: its caption (a language key), the button-menu
// item that assigns it, and the three bytes the button report sends for it.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace brevak {

struct ButtonFunction {
  uint8_t code;
  std::string_view caption_key;  // empty: no caption from resources
  std::string_view menu_item;    // empty: not assignable from the menu
  std::array<uint8_t, 3> device_bytes;
  bool composed_caption = false;  // shortcut and macro captions are built from the slot
};

std::span<const ButtonFunction> ButtonFunctionTable();

// nullptr for a code that is not in the table (empty caption, device bytes 0, 0, 0).
const ButtonFunction* FindButtonFunction(uint8_t code);
const ButtonFunction* FindButtonFunctionByMenuItem(std::string_view menu_item);

}  // namespace brevak
