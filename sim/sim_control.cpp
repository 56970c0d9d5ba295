#include "sim/sim_control.h"

#include <charconv>
#include <optional>
#include <vector>

namespace brevak::sim {
namespace {

constexpr const char kHelp[] =
    "commands: plug <c> | unplug <c> | link <c> on|off | press-dpi | battery <0..100> | "
    "charging on|off | power | drop <n> | delay <ms> | reject [n] | dump | help "
    "(c = cable, 1k, 4k, 8k, ble)";

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> out;
  size_t at = 0;
  while (at < s.size()) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n')) ++at;
    size_t end = at;
    while (end < s.size() && !(s[end] == ' ' || s[end] == '\t' || s[end] == '\r' || s[end] == '\n')) ++end;
    if (end > at) out.push_back(s.substr(at, end - at));
    at = end;
  }
  return out;
}

std::optional<int> Number(std::string_view s, int lo, int hi) {
  int v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

std::optional<bool> OnOff(std::string_view s) {
  if (s == "on") return true;
  if (s == "off") return false;
  return std::nullopt;
}

ControlReply Ok() { return {true, "ok"}; }
ControlReply Fail(std::string why) { return {false, std::move(why)}; }

}  // namespace

ControlReply RunControl(SimMouse& mouse, std::string_view command) {
  const std::vector<std::string_view> w = Words(command);
  if (w.empty()) return Fail("empty command; try help");
  const std::string_view verb = w[0];
  const size_t args = w.size() - 1;
  auto usage = [&](const char* form) { return Fail(std::string("usage: ") + form); };

  if (verb == "help") return {true, kHelp};
  if (verb == "dump") return args == 0 ? ControlReply{true, mouse.DumpJson()} : usage("dump");
  if (verb == "press-dpi") {
    if (args != 0) return usage("press-dpi");
    mouse.PressDpiButton();
    return Ok();
  }
  if (verb == "power") {
    if (args != 0) return usage("power");
    mouse.SendPowerStatus();
    return Ok();
  }
  if (verb == "plug" || verb == "unplug") {
    std::optional<Connection> c = args == 1 ? ParseConnection(w[1]) : std::nullopt;
    if (!c) return usage(verb == "plug" ? "plug cable|1k|4k|8k|ble" : "unplug cable|1k|4k|8k|ble");
    verb == "plug" ? mouse.Plug(*c) : mouse.Unplug(*c);
    return Ok();
  }
  if (verb == "link") {
    std::optional<Connection> c = args == 2 ? ParseConnection(w[1]) : std::nullopt;
    std::optional<bool> on = args == 2 ? OnOff(w[2]) : std::nullopt;
    if (!c || !on) return usage("link cable|1k|4k|8k|ble on|off");
    mouse.SetLinked(*c, *on);
    return Ok();
  }
  if (verb == "battery") {
    std::optional<int> level = args == 1 ? Number(w[1], 0, 100) : std::nullopt;
    if (!level) return usage("battery 0..100");
    mouse.SetBattery(*level);
    return Ok();
  }
  if (verb == "charging") {
    std::optional<bool> on = args == 1 ? OnOff(w[1]) : std::nullopt;
    if (!on) return usage("charging on|off");
    mouse.SetCharging(*on);
    return Ok();
  }
  if (verb == "drop") {
    std::optional<int> n = args == 1 ? Number(w[1], 0, 100000) : std::nullopt;
    if (!n) return usage("drop <count>");
    mouse.DropAnswers(*n);
    return Ok();
  }
  if (verb == "delay") {
    std::optional<int> ms = args == 1 ? Number(w[1], 0, 600000) : std::nullopt;
    if (!ms) return usage("delay <ms>");
    mouse.DelayAnswers(*ms);
    return Ok();
  }
  if (verb == "reject") {
    std::optional<int> n = args == 0 ? std::optional<int>(1) : args == 1 ? Number(w[1], 0, 100000) : std::nullopt;
    if (!n) return usage("reject [count]");
    mouse.RejectNextFrames(*n);
    return Ok();
  }
  return Fail("unknown command '" + std::string(verb) + "'; try help");
}

}  // namespace brevak::sim
