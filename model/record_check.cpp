#include "model/record_check.h"

#include <iterator>

#include "model/device_values.h"

namespace brevak {

namespace {

enum class Group { kAttribute, kPolling, kLighting };

// The ranges of what the window lets the user set, which is what the mouse takes.
struct RangedField {
  const char* what;
  int32_t ProfileRecord::*field;
  int32_t min, max;
  Group group;
};
constexpr RangedField kRanged[] = {
    {"DPI stage", &ProfileRecord::dpi_stage_index, 0, kDpiStages - 1, Group::kAttribute},
    {"lift-off distance", &ProfileRecord::lift_off_distance, 0, 1, Group::kAttribute},
    {"ripple control", &ProfileRecord::ripple_control, 0, 1, Group::kAttribute},
    {"angle snap", &ProfileRecord::angle_snap, 0, 1, Group::kAttribute},
    {"motion sync", &ProfileRecord::motion_sync, 0, 1, Group::kAttribute},
    {"polling rate", &ProfileRecord::polling_rate_index, 0, kPollingOptions - 1, Group::kPolling},
    {"polling rate (4K/8K)", &ProfileRecord::polling_rate_hs_index, 0, kPollingHsOptions - 1, Group::kPolling},
    {"lighting effect", &ProfileRecord::light_effect, 0, int32_t(kLightEffects.size()) - 1, Group::kLighting},
    {"brightness", &ProfileRecord::brightness, 0, kBrightnessMax, Group::kLighting},
    {"effect speed", &ProfileRecord::effect_speed, 0, kEffectSpeedMax, Group::kLighting},
    {"light-off timer", &ProfileRecord::light_off_timer, 0, kLightOffTimerMax, Group::kLighting},
    {"sleep timer", &ProfileRecord::sleep_timer, 0, kSleepTimerMax, Group::kLighting},
    {"key debounce", &ProfileRecord::key_debounce, 0, kKeyDebounceMax, Group::kLighting},
};

template <class F>
void ForEachBadValue(const ProfileRecord& r, F found) {
  for (int i = 0; i < kDpiStages; ++i) {
    // A stage in use takes 50..26000 DPI; one not in use holds 0.
    const int32_t v = r.dpi_value[i];
    const bool used = r.dpi_stage_enabled[i] != 0;
    if (v < (used ? kDpiMin / kDpiStep : 0) || v > kDpiMax / kDpiStep) found(BadValue{"DPI", i + 1, v * kDpiStep}, Group::kAttribute);
  }
  for (const RangedField& f : kRanged) {
    const int32_t v = r.*f.field;
    if (v < f.min || v > f.max) found(BadValue{f.what, 0, v}, f.group);
  }
}

}  // namespace

std::vector<BadValue> OutOfRangeValues(const ProfileRecord& r) {
  std::vector<BadValue> bad;
  ForEachBadValue(r, [&](const BadValue& b, Group) { bad.push_back(b); });
  return bad;
}

ChangeGroups GroupsWithBadValues(const ProfileRecord& r) {
  ChangeGroups g;
  ForEachBadValue(r, [&](const BadValue&, Group group) {
    (group == Group::kAttribute ? g.attribute : group == Group::kPolling ? g.polling : g.lighting) = true;
  });
  return g;
}

}  // namespace brevak
