#pragma once
// The page's control references, found once by name, and the tables that tie controls to
// fields of the working record.

#include <array>
#include <iterator>

#include "model/device_values.h"
#include "page/ms_1_page.h"

namespace brevak {

struct SectionToggle {
  const char* toggle;
  const char* section;  // null: the polling section, chosen by the connection
  bool scroll;          // opening it scrolls the settings to their end
};
inline constexpr SectionToggle kSectionToggles[] = {
    {"ms_1_check_button", "ms_1_hor_button", false},
    {"ms_1_check_profile", "ms_1_ver_profile", false},
    {"ms_1_check_power", "ms_1_ver_power", false},
    {"ms_1_check_dpi", "ms_1_ver_dpi", false},
    {"ms_1_check_light", "ms_1_ver_light", false},
    {"ms_1_check_prate", nullptr, false},
    {"ms_1_check_mouse_attribute", "ms_1_ver_mouse_attribute", false},
    {"ms_1_check_power_setting", "ms_1_ver_power_setting", true},
    {"ms_1_check_lift_of_distance", "ms_1_hor_lift_of_distance", true},
    {"ms_1_check_key_debounce", "ms_1_hor_key_debounce", true},
    {"ms_1_check_ripple_control", "ms_1_hor_ripple_control", true},
    {"ms_1_check_angle_snap", "ms_1_hor_angle_snap", true},
    {"ms_1_check_motion_sync", "ms_1_hor_motion_sync", true},
    {"ms_1_check_wakeup", "ms_1_hor_wakeup", true},
};
inline constexpr size_t kToggleCount = std::size(kSectionToggles);

struct SensorPair {
  const char* format;  // "%d" from 1
  int32_t ProfileRecord::*field;
};
inline constexpr SensorPair kSensorPairs[] = {
    {"ms_1_option_lift_of_distance_%d", &ProfileRecord::lift_off_distance},
    {"ms_1_option_ripple_control_%d", &ProfileRecord::ripple_control},
    {"ms_1_option_angle_snap_%d", &ProfileRecord::angle_snap},
    {"ms_1_option_motion_sync_%d", &ProfileRecord::motion_sync},
    {"ms_1_option_wakeup_%d", &ProfileRecord::wakeup},
};

// Sliders whose value is stored as it is and applied 500 ms after the last move.
struct ValueSlider {
  const char* name;
  int32_t ProfileRecord::*field;
};
inline constexpr ValueSlider kValueSliders[] = {
    {"ms_1_slider_brightness", &ProfileRecord::brightness},
    {"ms_1_slider_breathspeed", &ProfileRecord::effect_speed},
    {"ms_1_slider_sleep_timer", &ProfileRecord::sleep_timer},
    {"ms_1_slider_light_off", &ProfileRecord::light_off_timer},
    {"ms_1_slider_key_debounce", &ProfileRecord::key_debounce},
};

struct CMS_1_Page::Controls {
  std::array<CControlUI*, kPageButtons> key{};
  CControlUI* macro = nullptr;
  CListUI* profile_list = nullptr;
  CControlUI *profile_add = nullptr, *profile_delete = nullptr, *profile_rename = nullptr,
             *profile_import = nullptr, *profile_export = nullptr, *profile_reset = nullptr,
             *profile_programs = nullptr,
             *reset = nullptr;
  std::array<CCheckBoxUI*, kToggleCount> toggle{};
  std::array<CControlUI*, kToggleCount> section{};
  CContainerUI* settings = nullptr;
  std::array<CSliderUI*, kDpiStages> dpi_slider{};
  std::array<CControlUI*, kDpiStages> dpi_label{};
  std::array<COptionUI*, kDpiStages> dpi_option{};
  std::array<CControlUI*, kDpiStages> dpi_color{};
  std::array<CEditUI*, kDpiStages> dpi_edit{};
  CComboUI* light_combo = nullptr;
  CSliderUI *brightness = nullptr, *breathspeed = nullptr;
  CControlUI* light_color = nullptr;
  std::array<COptionUI*, kPollingOptions> prate{};
  std::array<COptionUI*, kPollingHsOptions> prate_hs{};
  CControlUI* mouse_attribute = nullptr;
  CSliderUI *light_off = nullptr, *sleep_timer = nullptr, *debounce = nullptr;
  CControlUI *light_off_label = nullptr, *sleep_label = nullptr, *debounce_label = nullptr;
  CCheckBoxUI* movemode = nullptr;
  CControlUI *apply = nullptr, *apply_dpi = nullptr, *reset_dpi = nullptr;
  CProgressUI* progress_power = nullptr;
  std::array<std::array<COptionUI*, 2>, std::size(kSensorPairs)> sensor{};
  std::array<CSliderUI*, std::size(kValueSliders)> value_slider{};
};

}  // namespace brevak
