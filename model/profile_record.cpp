#include "model/profile_record.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "platform/text.h"

namespace brevak {

static_assert(std::is_trivially_copyable_v<ProfileRecord> && std::is_standard_layout_v<ProfileRecord>);
static_assert(std::has_unique_object_representations_v<ProfileRecord>,
              "no padding: byte comparison and storage see every byte");

void ResetDpiSettings(ProfileRecord& r) {
  std::copy(kDefaultDpiValues.begin(), kDefaultDpiValues.end(), r.dpi_value);
  std::copy(kDefaultDpiValues.begin(), kDefaultDpiValues.end(), r.dpi_value_copy);
  for (int i = 0; i < kDpiStages; ++i) r.dpi_stage_enabled[i] = kDefaultDpiValues[i] != 0 ? 1 : 0;
  r.dpi_stage_index = 1;
  std::copy(kDefaultDpiColors.begin(), kDefaultDpiColors.end(), r.dpi_color);
}

void ResetProfile(ProfileRecord& r) {
  std::fill(std::begin(r.reserved_text_1), std::end(r.reserved_text_1), u'\0');
  std::fill(std::begin(r.reserved_text_2), std::end(r.reserved_text_2), u'\0');
  r.reserved_2200 = 420;
  r.reserved_2204 = 3;
  r.reserved_2208 = 0;
  r.reserved_2212 = 6;
  r.attribute_reserved_1 = 0;
  r.lift_off_distance = 0;
  r.attribute_reserved_2 = 0;
  ResetDpiSettings(r);
  r.brightness = 8;
  r.effect_speed = 6;
  r.sleep_timer = 10;
  r.polling_rate_index = 3;
  r.polling_rate_hs_index = 6;
  r.ripple_control = 1;
  r.angle_snap = 0;
  r.motion_sync = 1;
  r.light_off_timer = 2;
  r.light_effect = 5;
  r.light_reserved = 3;
  r.reserved_2392 = 1;
  r.key_debounce = 4;
  r.wakeup = 1;
  r.light_color = 0x00FF0000;
  static constexpr COLORREF kPalette[kDpiStages] = {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00FF00FF,
                                                    0x0000FFFF, 0x00FFFFFF, 0x00FFFFFF, 0x000080FF};
  std::copy(std::begin(kPalette), std::end(kPalette), r.palette_reserved);

  std::memset(static_cast<void*>(r.button), 0, sizeof r.button);
  for (int i = 0; i < kPageButtons; ++i) {
    ButtonEntry& b = r.button[i];
    b.button_index = uint8_t(i);
    b.function_code = kDefaultFunctionCodes[i];
    b.function_param = 0;
    b.reserved_8 = 562;
    b.macro_list_index = -1;
    b.reserved_1076 = -1;
  }
}

std::unique_ptr<ProfileRecord> NewProfileRecord(std::u16string_view name) {
  auto r = std::make_unique<ProfileRecord>();  // value-initialised: all zero
  ResetProfile(*r);
  SetFixed(r->name, name);
  return r;
}

bool SameProfileBytes(const ProfileRecord& a, const ProfileRecord& b) {
  return std::memcmp(&a, &b, sizeof(ProfileRecord)) == 0;
}

bool ChangeGroups::Any() const {
  return attribute || polling || lighting || buttons ||
         std::any_of(macro.begin(), macro.end(), [](bool m) { return m; });
}

ChangeGroups ChangeGroups::All() {
  ChangeGroups g;
  g.attribute = g.polling = g.lighting = g.buttons = true;
  g.macro.fill(true);
  return g;
}

namespace {
template <typename T>
bool Differs(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) != 0;
}

// The bytes of a slot that make up its macro frames. `macro_action_count` is compared too:
// the frames encode exactly that many steps, so a changed count alone must resend the macro.
bool MacroDiffers(const ButtonEntry& a, const ButtonEntry& b) {
  constexpr size_t tail = offsetof(ButtonEntry, macro_header_reserved);
  return a.macro_repeat_mode != b.macro_repeat_mode || a.macro_loop_count != b.macro_loop_count ||
         a.macro_action_count != b.macro_action_count ||
         std::memcmp(reinterpret_cast<const uint8_t*>(&a) + tail, reinterpret_cast<const uint8_t*>(&b) + tail,
                     sizeof(ButtonEntry) - tail) != 0;
}
}  // namespace

ChangeGroups CompareChangeGroups(const ProfileRecord& c, const ProfileRecord& l) {
  ChangeGroups g;
  g.attribute = c.dpi_stage_index != l.dpi_stage_index || c.attribute_reserved_1 != l.attribute_reserved_1 ||
                c.lift_off_distance != l.lift_off_distance || c.attribute_reserved_2 != l.attribute_reserved_2 ||
                c.ripple_control != l.ripple_control || c.angle_snap != l.angle_snap ||
                c.motion_sync != l.motion_sync || Differs(c.dpi_value, l.dpi_value) ||
                Differs(c.dpi_value_copy, l.dpi_value_copy) || Differs(c.dpi_stage_enabled, l.dpi_stage_enabled) ||
                Differs(c.dpi_color, l.dpi_color);
  g.polling = c.polling_rate_index != l.polling_rate_index || c.polling_rate_hs_index != l.polling_rate_hs_index;
  g.lighting = c.light_effect != l.light_effect || c.light_reserved != l.light_reserved ||
               c.effect_speed != l.effect_speed || c.brightness != l.brightness ||
               c.key_debounce != l.key_debounce || c.light_color != l.light_color ||
               c.sleep_timer != l.sleep_timer || c.light_off_timer != l.light_off_timer;
  g.buttons = Differs(c.button, l.button);
  for (int i = 0; i < kPageButtons; ++i) g.macro[i] = MacroDiffers(c.button[i], l.button[i]);
  return g;
}

}  // namespace brevak
