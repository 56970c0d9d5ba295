#include "app/battery_alarm.h"

namespace brevak {

std::optional<int> BatteryAlarm::Take(const PowerState& power) {
  using Charge = PowerState::Charge;
  if (power.charge == Charge::kCharging || power.charge == Charge::kFull) {
    armed_.fill(true);
    return std::nullopt;
  }
  // Only what the mouse says now: a level kept from before it slept is no news.
  if (power.charge != Charge::kDischarging || power.percent < 0 || power.link == Transport::kNone) return std::nullopt;
  std::optional<int> due;
  for (size_t i = 0; i < kBatteryAlarmPercents.size(); ++i) {
    const int threshold = kBatteryAlarmPercents[i];
    if (power.percent >= threshold + kBatteryAlarmRearmMargin) {
      armed_[i] = true;
    } else if (power.percent <= threshold && armed_[i]) {
      armed_[i] = false;
      due = threshold;
    }
  }
  return due;
}

}  // namespace brevak
