// A real window of the test layout on a private X server: each named control is drawn where
// its geometry says, and the picture is kept in the build folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <set>

#include "private_x_server.h"
#include "tests/common/ui_test_main.h"
#include "tests/ui/ui_test_util.h"

namespace brevak::testing {

const DUI_MSGMAP* RecordingPage::GetMessageMap() const {
  static const DUI_MSGMAP map{CNotifyPump::GetBaseMessageMap(), {}};
  return &map;
}

namespace {

std::set<QRgb> Colours(const QImage& shot, const QRect& r) {
  std::set<QRgb> colours;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) colours.insert(shot.pixel(x, y) & 0xFFFFFF);
  return colours;
}

TEST(UiOnX11, EveryNamedControlIsDrawnWhereItsGeometrySays) {
  TestWnd wnd;
  ASSERT_TRUE(wnd.Create(nullptr, "test", WS_POPUP | WS_VISIBLE, 0));
  wnd.CenterWindow();
  QWidget* w = wnd.GetWidget();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  QTest::qWait(300);  // the first frames reach the server
  QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  ASSERT_FALSE(shot.isNull());
  ASSERT_TRUE(shot.save(QStringLiteral(BREVAK_SCREENSHOT_FILE)));
  const QPoint origin = w->geometry().topLeft();
  // Centred on the 1024 x 768 screen at its layout size.
  EXPECT_EQ(w->size(), QSize(420, 360));
  EXPECT_EQ(origin, QPoint((1024 - 420) / 2, (768 - 360) / 2));
  const QRgb window_bg = shot.pixel(origin + QPoint(2, 40)) & 0xFFFFFF;

  // Controls with text: more than one colour in their rectangle (the text is drawn).
  for (const char* name : {"title", "label", "button", "check", "edit", "opt_1", "opt_2", "combo",
                           "slider", "progress", "list", "palette", "rich", "close_btn"}) {
    CControlUI* c = wnd.Find(name);
    ASSERT_NE(c, nullptr) << name;
    RECT p = c->GetPos();
    QRect r(origin + QPoint(p.left, p.top), origin + QPoint(p.right - 1, p.bottom - 1));
    ASSERT_TRUE(shot.rect().contains(r)) << name;
    auto colours = Colours(shot, r);
    EXPECT_GT(colours.size(), 1u) << name << " looks empty";
  }
  // Plain areas: exactly their colour, and the window's background around them.
  for (auto [name, rgb] : {std::pair("swatch", 0x00FF00u), std::pair("floater", 0xFF0000u)}) {
    RECT p = wnd.Find(name)->GetPos();
    QRect r(origin + QPoint(p.left + 1, p.top + 1), origin + QPoint(p.right - 2, p.bottom - 2));
    EXPECT_EQ(Colours(shot, r), std::set<QRgb>{rgb}) << name;
    EXPECT_EQ(shot.pixel(origin + QPoint(p.right + 1, p.top + 2)) & 0xFFFFFF, window_bg) << name;
  }
  // A hidden control leaves the background behind (a floating one: nothing moves into its place).
  CControlUI* floater = wnd.Find("floater");
  RECT p = floater->GetPos();
  floater->SetVisible(false);
  QTest::qWait(300);
  QImage after = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  QRect r(origin + QPoint(p.left, p.top), origin + QPoint(p.right - 1, p.bottom - 1));
  EXPECT_EQ(Colours(after, r), std::set<QRgb>{window_bg});
}

}  // namespace
}  // namespace brevak::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTestsOnPrivateX(BREVAK_UI_TEST_RES);
}
