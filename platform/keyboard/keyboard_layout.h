#pragma once
// Keyboard layouts, answered from XKB keymaps: which virtual-key code a key reports, which key
// gives a virtual key, and what that key prints. The Hook library reports keys by these rules
// and the key tables store and show them by the same rules, so the two agree on every layout.
//
// A key's virtual key is the letter or digit of its level-0 or level-1 keysym in the layout's
// group, otherwise the US virtual key of the key's position (so "&1" on a French keyboard is
// '1', "ö" on a German one is the US ";" key's 0xBA). A position whose US letter the layout
// moved to another key takes a virtual key that the layout left free instead, so that no two
// keys of the main block report one virtual key.
//
// Keys are X key codes (evdev code + 8); scan code set 1 of the main block (1..0x58) is the
// evdev code.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/winapi.h"

struct xcb_connection_t;

namespace brevak {

// Rules, model, layout, variant and options, as setxkbmap names them.
struct LayoutNames {
  std::string rules = "evdev";
  std::string model = "pc105";
  std::string layout = "us";
  std::string variant;
  std::string options;
};

inline constexpr UINT kX11KeyCodeOffset = 8;   // X key code = evdev code + 8
inline constexpr UINT kLastSet1ScanCode = 0x58;  // F12: up to here set 1 equals the evdev code

class KeyboardLayout {
 public:
  // A layout without keys: every question finds nothing.
  KeyboardLayout();

  // Compiled from names with xkb-data, ignoring the environment; nothing when they name no
  // keymap there.
  static std::optional<KeyboardLayout> FromNames(const LayoutNames& names, uint32_t group = 0);
  // The keymap named by XKB_DEFAULT_RULES/MODEL/LAYOUT/VARIANT/OPTIONS ("us" where they name
  // nothing); "us" when they name a keymap xkb-data lacks.
  static std::optional<KeyboardLayout> FromEnvironment();
  // The keymap and effective group of the core keyboard of the X server on `connection`;
  // nothing when the server has no XKB.
  static std::optional<KeyboardLayout> FromServer(xcb_connection_t* connection);

  // The same keymap in another group (wrapped into the keymap's groups).
  KeyboardLayout InGroup(uint32_t group) const;
  uint32_t group() const { return group_; }

  // The virtual key that the Hook library reports for `keycode`; 0 for a key without one.
  UINT VirtualKeyOfKeyCode(UINT keycode) const;
  // MapVirtualKeyW(vk, MAPVK_VK_TO_VSC): the scan code of the main-block key that gives `vk`;
  // 0 when none does.
  UINT ScanCodeOfVirtualKey(UINT vk) const;
  // MapVirtualKeyW(scan, MAPVK_VSC_TO_VK_EX): the virtual key of the main-block key with that
  // scan code; 0 for none.
  UINT VirtualKeyOfScanCode(UINT scan) const;
  // ToUnicode(vk) with no key held, upper-cased: what the key that gives `vk` prints at its
  // first level as its keycap shows it ("A", "&", "Ö"; a dead key its spacing accent); empty
  // when no key gives `vk` or it prints nothing.
  std::u16string KeyCapText(UINT vk) const;

 private:
  struct Tables;
  KeyboardLayout(std::shared_ptr<const Tables> tables, uint32_t group);
  // The key code of the first key that gives `vk`, 0 for none.
  UINT KeyCodeOfVirtualKey(UINT vk, UINT last_keycode) const;

  std::shared_ptr<const Tables> tables_;
  uint32_t group_ = 0;
};

// The virtual key of a keysym by its meaning (letters, digits, F-keys, named keys); 0 for
// keysyms without one. The US positions are read through it from the "us" keymap.
UINT VirtualKeyOfKeysym(uint32_t keysym);

// The layout the key tables answer from, shared by the process. Never fails: without X server,
// environment and xkb-data it is a layout without keys.
KeyboardLayout ActiveLayout();
// The active layout is to be read again before its next use: the keymap and group of the X
// server that DISPLAY names, on a connection of its own, when it answers; FromEnvironment
// otherwise. Nothing changes while a layout is pinned.
void RefreshActiveLayout();
// Makes `layout` the active one until unpinned (nothing), so that tests never read the
// display of whoever runs them.
void PinActiveLayout(std::optional<KeyboardLayout> layout);

}  // namespace brevak
