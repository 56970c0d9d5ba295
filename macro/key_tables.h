#pragma once
// Keys are stored and sent as HID keyboard usages and reported by the Hook library as virtual
// keys. These tables connect the two, and name a usage (or a mouse-button code of a macro) for
// display. The main key block goes through the active keyboard layout (ActiveLayout): a key is
// stored by its position and shown with what the user's layout prints on it.

#include <array>
#include <cstdint>
#include <string>

namespace brevak {

struct KeyCodeRow {
  uint32_t vk;
  uint32_t usage;
  uint32_t scan;  // scan code set 1 make code; 0 where the row has none
};

inline constexpr size_t kKeyCodeRows = 112;
// Searched from the first row; the first match counts (two rows carry usage 0x38).
extern const std::array<KeyCodeRow, kKeyCodeRows> KeyCodeTable;

struct UsageLookup {
  bool found;  // a row has the virtual key
  uint32_t usage;  // 0 when not found
};

// The usage of a virtual key; letters, digits, punctuation and F-keys by the position of the
// key that gives them in the active layout.
UsageLookup VirtualKeyToUsage(uint32_t vk);
// The virtual key that the active layout gives the main-block key of `usage` (0x04..0x39); 0
// for other usages and for 0x32, which has no row.
uint32_t UsageToVirtualKey(uint32_t usage);
// The display text of a usage or of a mouse-button code 241..245; empty for codes without one.
std::u16string UsageToKeyText(uint32_t code);
// The display text of a virtual key: a language text for named keys, else what the key prints.
std::u16string VirtualKeyToKeyText(uint32_t vk);

}  // namespace brevak
