#pragma once
// The simulated mouse's script language: one command per line, as `brevak-mousesim ctl` sends
// it and tests type it.
//
//   plug <c> | unplug <c>          c = cable, 1k, 4k, 8k, ble
//   link <c> on|off                whether the mouse is linked to that connection
//   press-dpi                      the DPI button
//   battery <0..100> | charging on|off | power
//   drop <n> | delay <ms> | reject [n]
//   dump                           the whole state as JSON
//   help

#include <string>
#include <string_view>

#include "sim/sim_mouse.h"

namespace brevak::sim {

struct ControlReply {
  bool ok = false;
  std::string text;  // "ok", the JSON of dump, or what was wrong
};

ControlReply RunControl(SimMouse& mouse, std::string_view command);

}  // namespace brevak::sim
