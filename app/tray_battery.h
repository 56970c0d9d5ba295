#pragma once
// The battery in the tray: the icon in a few steps (and charging), the tooltip with the level
// and the connection. The look and the text are worked out without Qt; the icon is drawn over
// the program's own.

#include <iterator>
#include <string>

#include "model/device_values.h"
#include "page/connection_monitor.h"

class QIcon;

namespace brevak {

// Levels up to each top give that step: 0 is empty (critical), kBatterySteps - 1 full.
inline constexpr int kBatteryStepTops[] = {kCriticalBatteryPercent, kLowBatteryPercent, 40, 70, 100};
inline constexpr int kBatterySteps = int(std::size(kBatteryStepTops));

struct TrayBatteryLook {
  int step = -1;  // -1: no level known, no gauge
  bool charging = false;
  bool stale = false;  // the mouse is asleep or away: its last level, greyed
  bool operator==(const TrayBatteryLook&) const = default;
};

TrayBatteryLook TrayLookOf(const PowerState& power);
// "BREVAK APEX · 57% · 4K", "BREVAK APEX · Charging · Cable", "BREVAK APEX · last 57% · asleep",
// "BREVAK APEX · not connected"; texts from the language file.
std::u16string TrayToolTip(const PowerState& power);
// `base` with the gauge drawn in its lower part; `base` itself when no level is known and the
// mouse does not charge.
QIcon TrayIconWithBattery(const QIcon& base, const TrayBatteryLook& look);

}  // namespace brevak
