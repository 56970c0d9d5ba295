#pragma once
// One profile: DPI stages, polling, lighting, timers, sensor options and 24 button slots.
// The record is the unit of editing, of comparison and of storage: the profile store and
// profile files hold it byte for byte, so every offset below is a file format.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "model/macro_record.h"

namespace brevak {

using COLORREF = uint32_t;  // 0x00BBGGRR

inline constexpr int kButtonSlots = 24;
inline constexpr int kPageButtons = 18;  // slots 0..17 are the page's buttons; 18..23 stay zero
inline constexpr int kDpiStages = 8;
inline constexpr int kProfileNameUnits = 100;

inline constexpr uint8_t kFunctionShortcut = 16;
inline constexpr uint8_t kFunctionMacro = 17;

struct ButtonEntry {
  uint8_t button_index;
  uint8_t function_code;
  uint8_t function_param;
  uint8_t shortcut_key;  // HID usage; bytes 3..6 are cleared when switching to a shortcut
  uint8_t unused_4[3];
  uint8_t shortcut_modifiers;  // bit 0 Ctrl, 1 Shift, 2 Alt, 3 Windows key
  uint16_t reserved_8;         // 562 after reset
  uint8_t unused_10[2];
  int32_t macro_repeat_mode;
  char16_t macro_name[kMacroNameUnits];
  int32_t macro_loop_count;  // 0 is sent as 1
  uint16_t macro_action_count;
  uint8_t unused_70[1002];
  int32_t macro_list_index;  // -1 = none
  int32_t reserved_1076;     // -1 after reset
  uint8_t unused_1080[4];
  uint8_t macro_header_reserved[3];
  uint8_t unused_1087;
  MacroAction macro_actions[kMaxMacroActions];
};
static_assert(sizeof(ButtonEntry) == 4128);
static_assert(offsetof(ButtonEntry, function_code) == 1);
static_assert(offsetof(ButtonEntry, function_param) == 2);
static_assert(offsetof(ButtonEntry, shortcut_key) == 3);
static_assert(offsetof(ButtonEntry, shortcut_modifiers) == 7);
static_assert(offsetof(ButtonEntry, reserved_8) == 8);
static_assert(offsetof(ButtonEntry, macro_repeat_mode) == 12);
static_assert(offsetof(ButtonEntry, macro_name) == 16);
static_assert(offsetof(ButtonEntry, macro_loop_count) == 64);
static_assert(offsetof(ButtonEntry, macro_action_count) == 68);
static_assert(offsetof(ButtonEntry, macro_list_index) == 1072);
static_assert(offsetof(ButtonEntry, reserved_1076) == 1076);
static_assert(offsetof(ButtonEntry, macro_header_reserved) == 1084);
static_assert(offsetof(ButtonEntry, macro_actions) == 1088);

struct ProfileRecord {
  char16_t name[kProfileNameUnits];
  char16_t reserved_text_1[500];
  char16_t reserved_text_2[500];
  int32_t reserved_2200;
  int32_t reserved_2204;
  uint8_t reserved_2208;
  uint8_t unused_2209[3];
  int32_t reserved_2212;
  uint8_t unused_2216[8];
  int32_t attribute_reserved_1;
  int32_t lift_off_distance;
  int32_t attribute_reserved_2;
  uint8_t unused_2236[8];
  int32_t dpi_value[kDpiStages];  // units of 50 DPI
  int32_t dpi_value_copy[kDpiStages];
  int32_t dpi_stage_enabled[kDpiStages];
  int32_t brightness;
  int32_t effect_speed;
  int32_t sleep_timer;
  int32_t dpi_stage_index;
  int32_t polling_rate_index;
  int32_t polling_rate_hs_index;
  int32_t move_mode;
  int32_t ripple_control;
  int32_t angle_snap;
  int32_t motion_sync;
  int32_t light_off_timer;  // half-units
  int32_t light_effect;
  int32_t light_reserved;
  uint8_t reserved_2392;
  uint8_t unused_2393[3];
  int32_t key_debounce;  // units of 2 ms
  int32_t wakeup;
  COLORREF light_color;
  COLORREF dpi_color[kDpiStages];
  COLORREF palette_reserved[kDpiStages];
  ButtonEntry button[kButtonSlots];
};
static_assert(sizeof(ProfileRecord) == 101544);
static_assert(offsetof(ProfileRecord, reserved_text_1) == 200);
static_assert(offsetof(ProfileRecord, reserved_text_2) == 1200);
static_assert(offsetof(ProfileRecord, reserved_2200) == 2200);
static_assert(offsetof(ProfileRecord, reserved_2204) == 2204);
static_assert(offsetof(ProfileRecord, reserved_2208) == 2208);
static_assert(offsetof(ProfileRecord, reserved_2212) == 2212);
static_assert(offsetof(ProfileRecord, attribute_reserved_1) == 2224);
static_assert(offsetof(ProfileRecord, lift_off_distance) == 2228);
static_assert(offsetof(ProfileRecord, attribute_reserved_2) == 2232);
static_assert(offsetof(ProfileRecord, dpi_value) == 2244);
static_assert(offsetof(ProfileRecord, dpi_value_copy) == 2276);
static_assert(offsetof(ProfileRecord, dpi_stage_enabled) == 2308);
static_assert(offsetof(ProfileRecord, brightness) == 2340);
static_assert(offsetof(ProfileRecord, effect_speed) == 2344);
static_assert(offsetof(ProfileRecord, sleep_timer) == 2348);
static_assert(offsetof(ProfileRecord, dpi_stage_index) == 2352);
static_assert(offsetof(ProfileRecord, polling_rate_index) == 2356);
static_assert(offsetof(ProfileRecord, polling_rate_hs_index) == 2360);
static_assert(offsetof(ProfileRecord, move_mode) == 2364);
static_assert(offsetof(ProfileRecord, ripple_control) == 2368);
static_assert(offsetof(ProfileRecord, angle_snap) == 2372);
static_assert(offsetof(ProfileRecord, motion_sync) == 2376);
static_assert(offsetof(ProfileRecord, light_off_timer) == 2380);
static_assert(offsetof(ProfileRecord, light_effect) == 2384);
static_assert(offsetof(ProfileRecord, light_reserved) == 2388);
static_assert(offsetof(ProfileRecord, reserved_2392) == 2392);
static_assert(offsetof(ProfileRecord, key_debounce) == 2396);
static_assert(offsetof(ProfileRecord, wakeup) == 2400);
static_assert(offsetof(ProfileRecord, light_color) == 2404);
static_assert(offsetof(ProfileRecord, dpi_color) == 2408);
static_assert(offsetof(ProfileRecord, palette_reserved) == 2440);
static_assert(offsetof(ProfileRecord, button) == 2472);

// Reset values shared by the full reset and the DPI panel's own reset.
inline constexpr std::array<int32_t, kDpiStages> kDefaultDpiValues = {16, 32, 64, 130, 260, 520, 0, 0};
inline constexpr std::array<COLORREF, kDpiStages> kDefaultDpiColors = {
    0x0000FFFF, 0x00FFFF00, 0x0000FF00, 0x00FF00FF, 0x00FF0000, 0x000000FF, 0x000040FF, 0x00FFFFFF};
inline constexpr std::array<uint8_t, kPageButtons> kDefaultFunctionCodes = {
    1, 2, 3, 52, 0, 0, 5, 4, 52, 0, 0, 0, 0, 0, 0, 0, 11, 12};

// Writes every reset value and rebuilds the button area; keeps `name` and `move_mode`.
void ResetProfile(ProfileRecord& record);
// Only the DPI panel: stage values, their copy, the enabled flags, the stage and colours.
void ResetDpiSettings(ProfileRecord& record);
// A zeroed, reset record carrying `name` (cut to 99 characters). Heap-allocated because
// the record is 100 KB.
std::unique_ptr<ProfileRecord> NewProfileRecord(std::u16string_view name);

inline COLORREF MakeColor(uint8_t r, uint8_t g, uint8_t b) {
  return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
inline uint8_t ColorRed(COLORREF c) { return uint8_t(c); }
inline uint8_t ColorGreen(COLORREF c) { return uint8_t(c >> 8); }
inline uint8_t ColorBlue(COLORREF c) { return uint8_t(c >> 16); }

// Which groups of settings differ between two records, each sent as its own report.
struct ChangeGroups {
  bool attribute = false;
  bool polling = false;
  bool lighting = false;
  bool buttons = false;
  std::array<bool, kPageButtons> macro{};

  bool Any() const;
  static ChangeGroups All();
  bool operator==(const ChangeGroups&) const = default;
};

ChangeGroups CompareChangeGroups(const ProfileRecord& current, const ProfileRecord& last_applied);

// Whole-record byte copy and comparison.
inline void CopyProfile(ProfileRecord& dst, const ProfileRecord& src) { dst = src; }
bool SameProfileBytes(const ProfileRecord& a, const ProfileRecord& b);

}  // namespace brevak
