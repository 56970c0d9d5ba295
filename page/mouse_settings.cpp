#include "page/mouse_settings.h"

#include "platform/text.h"

namespace brevak {

const std::vector<MouseSettingsTool>& MouseSettingsTools() {
  // Program names as Debian 12 installs them.
  static const std::vector<MouseSettingsTool> tools = {
      {"GNOME", "gnome-control-center", {"mouse"}},
      {"KDE", "systemsettings", {"kcm_mouse"}},
      {"XFCE", "xfce4-mouse-settings", {}},
      {"MATE", "mate-mouse-properties", {}},
      {"X-Cinnamon", "cinnamon-settings", {"mouse"}},
      {"LXQt", "lxqt-config-input", {}},
  };
  return tools;
}

std::optional<MouseSettingsTool> ChooseMouseSettings(std::string_view current_desktop,
                                                     const std::function<bool(const char* program)>& installed) {
  const auto& tools = MouseSettingsTools();
  size_t from = 0;
  while (from <= current_desktop.size()) {
    size_t to = current_desktop.find(':', from);
    if (to == std::string_view::npos) to = current_desktop.size();
    const std::u16string name = Utf8ToUtf16(current_desktop.substr(from, to - from));
    for (const MouseSettingsTool& tool : tools) {
      if (!name.empty() && EqualsNoCase(name, Utf8ToUtf16(tool.desktop)) && installed(tool.program)) return tool;
    }
    from = to + 1;
  }
  for (const MouseSettingsTool& tool : tools) {
    if (installed(tool.program)) return tool;
  }
  return std::nullopt;
}

}  // namespace brevak
