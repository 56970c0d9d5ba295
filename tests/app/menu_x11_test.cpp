// The function menu on a real X server (1024 x 768, no window manager): a button near the
// bottom of the screen opens its menu upwards, with every visible item on screen.
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

TEST_F(AppTest, AFunctionMenuNearTheScreensBottomOpensUpwardsOnScreen) {
  Start({Connection::kCable});
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(screen.height(), 768);
  wnd_->MoveWindow(100, screen.height() - 572, 800, 572);
  RunUntilIdle();
  QApplication::processEvents();
  CControlUI* key = Find("ms_1_btn_key_12");
  const QRect button(key->GetWidget()->mapToGlobal(QPoint(0, 0)), key->GetWidget()->size());
  Click("ms_1_btn_key_12");
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
  const QRect shown = menu->geometry();
  EXPECT_GE(shown.top(), screen.top());
  EXPECT_LE(shown.bottom(), screen.bottom());
  EXPECT_LT(shown.top(), button.top()) << "opened upwards";
  for (QAction* item : menu->actions()) {
    if (!item->isVisible() || item->isSeparator()) continue;
    const QRect r = menu->actionGeometry(item).translated(shown.topLeft());
    EXPECT_TRUE(screen.contains(r)) << item->objectName().toStdString();
  }
  menu->close();
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brevak-test-bus", 1);
  return brevak::test::RunWindowTestsOnPrivateX(BREVAK_RES_DIR, false);
}
