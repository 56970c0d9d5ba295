#pragma once
// When the mouse's battery is worth a desktop notification: on falling to each threshold while
// discharging, once per discharge. A threshold is armed again by charging, or by a level that
// climbs back at least kBatteryAlarmRearmMargin points above it (readings wander by a point or
// two, and a mouse taken off the charger early starts a new discharge). No Qt.

#include <array>
#include <optional>

#include "model/device_values.h"
#include "page/connection_monitor.h"

namespace brevak {

inline constexpr int kBatteryAlarmRearmMargin = 5;
// Highest first.
inline constexpr std::array<int, 2> kBatteryAlarmPercents = {kLowBatteryPercent, kCriticalBatteryPercent};
static_assert(kBatteryAlarmPercents[0] > kBatteryAlarmPercents[1] + kBatteryAlarmRearmMargin);

class BatteryAlarm {
 public:
  // Each change of the mouse's power; the threshold to announce, if one was reached now. A
  // level that passes both at once announces the lower one only.
  std::optional<int> Take(const PowerState& power);

 private:
  std::array<bool, kBatteryAlarmPercents.size()> armed_{true, true};
};

}  // namespace brevak
