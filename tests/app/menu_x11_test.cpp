// The function menu on a real X server (1024 x 768, no window manager): near the screen's
// bottom and right edges it stays on screen, opening upwards from a button near the bottom.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <cstdio>

#include "app_test_util.h"
#include "tests/common/private_x_server.h"
#include "tests/common/ui_test_main.h"

namespace brevak::test {
namespace {

TEST_F(AppTest, FunctionMenusNearTheScreensEdgesStayOnScreen) {
  Start({Connection::kCable});
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(screen.height(), 768);
  // Where the window stands, and which button's menu is opened: near the bottom (upwards), at
  // the right edge with the buttons' column past it, and both.
  struct Case {
    const char* what;
    int x, y;
    const char* button;
    bool upwards;
  } cases[] = {
      {"bottom", 100, screen.height() - 572, "ms_1_btn_key_12", true},
      {"right edge", screen.width() - 420, 40, "ms_1_btn_key_1", false},
      {"bottom right", screen.width() - 420, screen.height() - 572, "ms_1_btn_key_12", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    wnd_->MoveWindow(c.x, c.y, 800, 572);
    RunUntilIdle();
    QApplication::processEvents();
    CControlUI* key = Find(c.button);
    const QRect button(key->GetWidget()->mapToGlobal(QPoint(0, 0)), key->GetWidget()->size());
    Click(c.button);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    const QRect shown = menu->geometry();
    EXPECT_TRUE(screen.contains(shown)) << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
    if (c.upwards) {
      EXPECT_LT(shown.top(), button.top()) << "opened upwards";
    }
    for (QAction* item : menu->actions()) {
      if (!item->isVisible() || item->isSeparator()) continue;
      const QRect r = menu->actionGeometry(item).translated(shown.topLeft());
      EXPECT_TRUE(screen.contains(r)) << item->objectName().toStdString();
    }
    menu->close();
    QApplication::processEvents();
  }
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brevak-test-bus", 1);
  return brevak::test::RunWindowTestsOnPrivateX(BREVAK_RES_DIR, false);
}
