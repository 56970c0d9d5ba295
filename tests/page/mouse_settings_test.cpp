// Which desktop settings the mouse-settings button opens.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "page/mouse_settings.h"

namespace brevak {
namespace {

TEST(MouseSettingsTest, TheDesktopsOwnToolFirstThenAnyInstalledOne) {
  struct Case {
    const char* desktop;
    std::set<std::string> installed;
    const char* expected;  // null: none
  };
  const Case cases[] = {
      {"GNOME", {"gnome-control-center", "systemsettings"}, "gnome-control-center"},
      {"ubuntu:GNOME", {"gnome-control-center"}, "gnome-control-center"},
      {"KDE", {"gnome-control-center", "systemsettings"}, "systemsettings"},
      {"xfce", {"xfce4-mouse-settings", "gnome-control-center"}, "xfce4-mouse-settings"},  // case ignored
      {"MATE", {"mate-mouse-properties"}, "mate-mouse-properties"},
      {"X-Cinnamon", {"cinnamon-settings"}, "cinnamon-settings"},
      {"LXQt", {"lxqt-config-input", "systemsettings"}, "lxqt-config-input"},
      {"KDE", {"xfce4-mouse-settings"}, "xfce4-mouse-settings"},  // the desktop's own is missing
      {"", {"mate-mouse-properties"}, "mate-mouse-properties"},
      {"Hyprland", {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desktop);
    auto tool = ChooseMouseSettings(c.desktop, [&](const char* p) { return c.installed.count(p) > 0; });
    if (!c.expected) {
      EXPECT_FALSE(tool.has_value());
    } else {
      ASSERT_TRUE(tool.has_value());
      EXPECT_STREQ(tool->program, c.expected);
    }
  }
}

}  // namespace
}  // namespace brevak
