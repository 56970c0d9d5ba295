#pragma once
// The desktop's own mouse settings, opened by the page's mouse-settings button: the tool of the
// desktop that XDG_CURRENT_DESKTOP names first, then any installed one.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevak {

struct MouseSettingsTool {
  const char* desktop;  // as XDG_CURRENT_DESKTOP names it
  const char* program;
  std::vector<std::string> args;
};

// The tools, in the order tried when the desktop names none of them.
const std::vector<MouseSettingsTool>& MouseSettingsTools();

// The tool to start for `current_desktop` (a colon-separated list, as in XDG_CURRENT_DESKTOP,
// compared without case), given which programs are installed; nothing when none is.
std::optional<MouseSettingsTool> ChooseMouseSettings(std::string_view current_desktop,
                                                     const std::function<bool(const char* program)>& installed);

}  // namespace brevak
