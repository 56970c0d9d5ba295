// Keymaps read into per-group tables: the level-0 keysym and the virtual key of every key.
// Nothing of libxkbcommon is kept, so a layout is a plain value any thread may read.
#include "platform/keyboard/keyboard_layout.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <deque>
#include <vector>

namespace brevak {
namespace {

constexpr UINT kKeyCodes = 256;  // X key codes are one byte

struct ContextFree {
  void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct KeymapFree {
  void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct StateFree {
  void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
using Context = std::unique_ptr<xkb_context, ContextFree>;
using Keymap = std::unique_ptr<xkb_keymap, KeymapFree>;
using State = std::unique_ptr<xkb_state, StateFree>;

// The first two levels of every key in one group.
struct GroupKeysyms {
  std::array<xkb_keysym_t, kKeyCodes> level0{}, level1{};
};

xkb_keysym_t KeysymAt(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout, xkb_level_index_t level) {
  const xkb_keysym_t* syms = nullptr;
  return xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) > 0 ? syms[0] : XKB_KEY_NoSymbol;
}

GroupKeysyms ReadGroup(xkb_keymap* keymap, xkb_layout_index_t group) {
  GroupKeysyms out;
  // The state wraps or clamps the group per key, as the server does for keys with fewer groups.
  State state(xkb_state_new(keymap));
  if (!state) return out;
  xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, group);
  const xkb_keycode_t first = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap), kX11KeyCodeOffset);
  const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), kKeyCodes - 1);
  for (xkb_keycode_t key = first; key <= last; ++key) {
    const xkb_layout_index_t layout = xkb_state_key_get_layout(state.get(), key);
    if (layout == XKB_LAYOUT_INVALID) continue;
    out.level0[key] = KeysymAt(keymap, key, layout, 0);
    out.level1[key] = KeysymAt(keymap, key, layout, 1);
  }
  return out;
}

Keymap Compile(const LayoutNames* names) {
  // Named keymaps ignore the environment; a null `names` is the environment's.
  Context context(xkb_context_new(names ? XKB_CONTEXT_NO_ENVIRONMENT_NAMES : XKB_CONTEXT_NO_FLAGS));
  if (!context) return nullptr;
  xkb_rule_names rmlvo{};
  if (names) {
    rmlvo = {names->rules.c_str(), names->model.c_str(), names->layout.c_str(), names->variant.c_str(),
             names->options.c_str()};
  }
  return Keymap(xkb_keymap_new_from_names(context.get(), &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

// The virtual key of each key of the US layout, by position; null without xkb-data.
const std::array<UINT, kKeyCodes>* UsPositions() {
  static const auto table = []() -> std::optional<std::array<UINT, kKeyCodes>> {
    const LayoutNames us;
    Keymap keymap = Compile(&us);
    if (!keymap) return std::nullopt;
    const GroupKeysyms syms = ReadGroup(keymap.get(), 0);
    // A code goes to the first key that has it: keys the keymap adds for the same keysym (a
    // second Print key, the keypad comma beside its decimal point) have no position of their own.
    std::array<UINT, kKeyCodes> vk{};
    std::array<bool, kKeyCodes> taken{};
    for (UINT key = 0; key < kKeyCodes; ++key) {
      const UINT code = VirtualKeyOfKeysym(syms.level0[key]);
      if (code && !taken[code]) {
        vk[key] = code;
        taken[code] = true;
      }
    }
    return vk;
  }();
  return table ? &*table : nullptr;
}

UINT LetterOrDigit(xkb_keysym_t keysym) {
  const bool letter = (keysym >= XKB_KEY_a && keysym <= XKB_KEY_z) || (keysym >= XKB_KEY_A && keysym <= XKB_KEY_Z);
  const bool digit = keysym >= XKB_KEY_0 && keysym <= XKB_KEY_9;
  return letter || digit ? VirtualKeyOfKeysym(keysym) : 0;
}

// The spacing accents of the dead keys dead_grave .. dead_iota, in keysym order.
constexpr std::array<char16_t, 14> kDeadKeySpacing = {
    u'`', u'\u00B4', u'^', u'~', u'\u00AF', u'\u02D8', u'\u02D9',
    u'\u00A8', u'\u02DA', u'\u02DD', u'\u02C7', u'\u00B8', u'\u02DB', u'\u037A'};
static_assert(XKB_KEY_dead_iota - XKB_KEY_dead_grave + 1 == kDeadKeySpacing.size());

// One group of a layout as the questions need it.
struct GroupTable {
  std::array<xkb_keysym_t, kKeyCodes> keysym{};  // level 0
  std::array<UINT, kKeyCodes> vk{};
};

GroupTable BuildGroup(const GroupKeysyms& syms) {
  GroupTable group;
  group.keysym = syms.level0;
  const std::array<UINT, kKeyCodes>* us = UsPositions();
  auto position = [&](UINT key) { return us ? (*us)[key] : VirtualKeyOfKeysym(syms.level0[key]); };

  // Letters and digits first: the first key that prints one reports it.
  std::array<bool, kKeyCodes> claimed{};
  for (UINT key = 0; key < kKeyCodes; ++key) {
    UINT vk = LetterOrDigit(syms.level0[key]);
    if (!vk) vk = LetterOrDigit(syms.level1[key]);
    if (vk && !claimed[vk]) {
      group.vk[key] = vk;
      claimed[vk] = true;
    }
  }
  // What the moved letters left: the US codes of positions that took another letter.
  std::deque<UINT> freed;
  for (UINT key = 0; key < kKeyCodes; ++key) {
    const UINT own = position(key);
    if (group.vk[key] && own && own != group.vk[key] && !claimed[own]) freed.push_back(own);
  }
  // Everything else by position; a position whose US letter went elsewhere takes a freed code.
  for (UINT key = 0; key < kKeyCodes; ++key) {
    if (group.vk[key]) continue;
    UINT vk = position(key);
    if (vk && claimed[vk]) {
      vk = freed.empty() ? 0 : freed.front();
      if (!freed.empty()) freed.pop_front();
    }
    group.vk[key] = vk;
  }
  return group;
}

}  // namespace

struct KeyboardLayout::Tables {
  std::vector<GroupTable> groups;  // at least one

  static std::shared_ptr<const Tables> Build(xkb_keymap* keymap) {
    auto tables = std::make_shared<Tables>();
    const xkb_layout_index_t count = std::max<xkb_layout_index_t>(xkb_keymap_num_layouts(keymap), 1);
    for (xkb_layout_index_t g = 0; g < count; ++g) tables->groups.push_back(BuildGroup(ReadGroup(keymap, g)));
    return tables;
  }
};

KeyboardLayout::KeyboardLayout() : tables_(std::make_shared<Tables>(Tables{{GroupTable{}}})) {}

KeyboardLayout::KeyboardLayout(std::shared_ptr<const Tables> tables, uint32_t group)
    : tables_(std::move(tables)), group_(uint32_t(group % tables_->groups.size())) {}

std::optional<KeyboardLayout> KeyboardLayout::FromNames(const LayoutNames& names, uint32_t group) {
  Keymap keymap = Compile(&names);
  if (!keymap) return std::nullopt;
  return KeyboardLayout(Tables::Build(keymap.get()), group);
}

std::optional<KeyboardLayout> KeyboardLayout::FromEnvironment() {
  if (Keymap keymap = Compile(nullptr)) return KeyboardLayout(Tables::Build(keymap.get()), 0);
  return FromNames(LayoutNames{});
}

std::optional<KeyboardLayout> KeyboardLayout::FromServer(xcb_connection_t* connection) {
  if (!connection || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                  XKB_X11_MIN_MINOR_XKB_VERSION,
                                                  XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                                                  nullptr, nullptr)) {
    return std::nullopt;
  }
  const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
  if (device < 0) return std::nullopt;
  Context context(
      xkb_context_new(xkb_context_flags(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES)));
  if (!context) return std::nullopt;
  Keymap keymap(xkb_x11_keymap_new_from_device(context.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) return std::nullopt;
  State state(xkb_x11_state_new_from_device(keymap.get(), connection, device));
  const uint32_t group = state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
  return KeyboardLayout(Tables::Build(keymap.get()), group);
}

KeyboardLayout KeyboardLayout::InGroup(uint32_t group) const { return KeyboardLayout(tables_, group); }

UINT KeyboardLayout::VirtualKeyOfKeyCode(UINT keycode) const {
  return keycode < kKeyCodes ? tables_->groups[group_].vk[keycode] : 0;
}

UINT KeyboardLayout::KeyCodeOfVirtualKey(UINT vk, UINT last_keycode) const {
  if (vk == 0) return 0;
  const auto& keys = tables_->groups[group_].vk;
  for (UINT key = kX11KeyCodeOffset; key <= last_keycode && key < kKeyCodes; ++key) {
    if (keys[key] == vk) return key;
  }
  return 0;
}

UINT KeyboardLayout::ScanCodeOfVirtualKey(UINT vk) const {
  const UINT key = KeyCodeOfVirtualKey(vk, kLastSet1ScanCode + kX11KeyCodeOffset);
  return key ? key - kX11KeyCodeOffset : 0;
}

UINT KeyboardLayout::VirtualKeyOfScanCode(UINT scan) const {
  return scan >= 1 && scan <= kLastSet1ScanCode ? VirtualKeyOfKeyCode(scan + kX11KeyCodeOffset) : 0;
}

std::u16string KeyboardLayout::KeyCapText(UINT vk) const {
  const UINT key = KeyCodeOfVirtualKey(vk, kKeyCodes - 1);
  if (!key) return {};
  const xkb_keysym_t keysym = tables_->groups[group_].keysym[key];
  if (keysym >= XKB_KEY_dead_grave && keysym <= XKB_KEY_dead_iota) {
    return std::u16string(1, kDeadKeySpacing[keysym - XKB_KEY_dead_grave]);
  }
  // Some keysyms upper-case to no keysym at all (ß in libxkbcommon 1.5): they stay as they are.
  const uint32_t upper = xkb_keysym_to_utf32(xkb_keysym_to_upper(keysym));
  const uint32_t c = upper ? upper : xkb_keysym_to_utf32(keysym);
  // Keys that print nothing, or a control character (Enter, Tab, Delete), show nothing.
  if (c < 0x20 || c == 0x7F) return {};
  if (c < 0x10000) return std::u16string(1, char16_t(c));
  return {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))};
}

}  // namespace brevak
