// The look of every window on a real X server, compared with reference pictures kept in
// tests/app/reference/: the main window with its sections as they start and all open, the
// function menu, each dialog and the macro editor, against the simulated mouse on the cable.
// BREVAK_UPDATE_REFERENCES=1 writes the pictures instead of comparing (only after looking at
// them); a failed comparison (or BREVAK_KEEP_SHOTS=1) leaves the picture taken and its
// differences in the build folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMenu>
#include <QScrollArea>
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "app_test_util.h"
#include "dialogs/profile_name.h"
#include "dialogs/small_dialogs.h"
#include "macro/macro_editor.h"
#include "macro/select_macro_wnd.h"
#include "macro/shortcut_wnd.h"
#include "page/page_controls.h"
#include "tests/common/private_x_server.h"
#include "tests/common/ui_test_main.h"

namespace brevak::test {
namespace {

// A pixel differs when one of its channels is off by more than this: anti-aliased glyph edges
// may land a few levels apart between two ways of drawing the same text, which the eye does
// not see; a wrong colour anywhere is far more than that.
constexpr int kChannelTolerance = 24;
// At most this share of a window's pixels, and at most this many, may differ. The pictures
// were taken while a style sheet drew the skin; the skin is now drawn in code, and the rims of
// rounded corners differ (a style sheet strokes each corner as an arc, QPainter a rounded
// rectangle) without the look changing: 0.9 % of the DPI indicator (200 x 50, four corners of
// radius 8), 0.84 % of the colour dialog (sixteen rounded swatches), under 0.2 % of the other
// windows, 687 pixels at most. A recoloured button or field, a missing section header, frame
// or line of text is more than that.
constexpr double kMaxDifferingShare = 0.01;
constexpr int64_t kMaxDifferingPixels = 1000;

const std::filesystem::path kReferenceDir = BREVAK_REFERENCE_DIR;
const std::filesystem::path kOutputDir = BREVAK_SHOT_OUTPUT_DIR;

bool Updating() {
  const char* v = std::getenv("BREVAK_UPDATE_REFERENCES");
  return v && *v == '1';
}

QImage Grab(QWidget* w) {
  QApplication::processEvents();
  return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Compares `shot` with the reference `name`; on a difference keeps the shot and a picture of
// the differing pixels (red) beside the build.
void Compare(const char* name, const QImage& shot) {
  SCOPED_TRACE(name);
  const QString file = QString::fromStdString((kReferenceDir / (std::string(name) + ".png")).string());
  if (Updating()) {
    ASSERT_TRUE(shot.save(file));
    return;
  }
  QImage ref(file);
  ASSERT_FALSE(ref.isNull()) << "no reference " << file.toStdString();
  ref = ref.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), ref.size());
  QImage diff = ref;
  int64_t differing = 0;
  int worst = 0;
  for (int y = 0; y < ref.height(); ++y) {
    for (int x = 0; x < ref.width(); ++x) {
      const QRgb a = ref.pixel(x, y), b = shot.pixel(x, y);
      const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
      worst = std::max(worst, d);
      if (d > kChannelTolerance) {
        ++differing;
        diff.setPixel(x, y, qRgb(255, 0, 0));
      }
    }
  }
  const double share = double(differing) / (double(ref.width()) * ref.height());
  if (share > kMaxDifferingShare || differing > kMaxDifferingPixels || std::getenv("BREVAK_KEEP_SHOTS")) {
    std::filesystem::create_directories(kOutputDir);
    shot.save(QString::fromStdString((kOutputDir / (std::string(name) + ".png")).string()));
    diff.save(QString::fromStdString((kOutputDir / (std::string(name) + ".diff.png")).string()));
  }
  EXPECT_LE(differing, kMaxDifferingPixels) << "see " << kOutputDir.string();
  EXPECT_LE(share, kMaxDifferingShare) << differing << " pixels differ (worst channel " << worst
                                       << "); see " << kOutputDir.string();
}

class SkinTest : public AppTest {
 protected:
  // A dialog made over the main window without its modal loop, shown, pictured and closed.
  template <class Wnd>
  void Picture(const char* name, Wnd& dialog, DWORD exstyle = WS_EX_TOOLWINDOW) {
    ASSERT_TRUE(dialog.Create(wnd_->GetHWND(), "", WS_POPUP | WS_VISIBLE, exstyle, 0, 0, 0, 0));
    ASSERT_NE(dialog.GetPaintManager().GetRoot(), nullptr) << name;
    Settle();
    Compare(name, Grab(dialog.GetWidget()));
    ::DestroyWindow(dialog.GetHWND());
    RunUntilIdle();
    QApplication::processEvents();
  }
};

TEST_F(SkinTest, EveryWindowLooksAsItsReference) {
  QApplication::setCursorFlashTime(0);
  QCursor::setPos(1023, 767);  // off every window: nothing is drawn hovered by chance
  Start({Connection::kCable});
  ASSERT_TRUE(wnd_->connected());
  // A macro for the editor and the selection dialog (the window has loaded the empty store).
  auto macro = std::make_unique<MacroRecord>();
  std::u16string_view macro_name = u"Burst";
  std::copy(macro_name.begin(), macro_name.end(), macro->name);
  macro->loop_count = 1;
  const MacroAction steps[] = {{0, 4, kMacroPress, 0, 30, 0, 0, 0}, {0, 4, kMacroRelease, 0, 120, 0, 0, 0},
                               {0, kMacroCodeLeft, kMacroPress, 0, 10, 0, 0, 0},
                               {0, kMacroCodeMove, kMacroMove, 0, 10, 0, 12, -4}};
  std::copy(std::begin(steps), std::end(steps), macro->actions);
  macro->action_count = int32_t(std::size(steps));
  macros_->list().push_back(std::move(macro));
  QWidget* main = wnd_->GetWidget();
  Compare("main_window", Grab(main));

  // Every section open: the window, and the whole settings column as it scrolls.
  for (const SectionToggle& t : kSectionToggles) {
    auto* toggle = Find<CCheckBoxUI>(t.toggle);
    ASSERT_NE(toggle, nullptr) << t.toggle;
    if (!toggle->GetCheck()) Click(t.toggle);
  }
  Settle();
  Compare("main_window_open", Grab(main));
  auto* column = qobject_cast<QScrollArea*>(Find("ms_1_ver_setting")->GetWidget());
  ASSERT_NE(column, nullptr);
  Compare("settings_column_open", Grab(column->widget()));

  Click("ms_1_btn_key_2");
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  Compare("function_menu", Grab(menu));
  menu->close();
  QApplication::processEvents();

  {
    CDpiColorWnd colour;
    colour.m_color = 0xFF1ED2F0;
    colour.m_position = POINT{40, 60};
    Picture("colour_dialog", colour);
  }
  {
    CMsgWnd box("warning_title_text", "warn_name_2_text", MsgKind::kConfirm);
    Picture("message_box", box);
  }
  {
    CMS_1_ProfileName name;
    name.m_title_key = "profile_name_1_text";
    name.m_initial = u"Profile 2";
    Picture("profile_name", name);
  }
  {
    CMS_1_SelectMacro select;
    select.m_macros = &macros_->list();
    select.m_macro_name = u"Burst";
    select.m_repeat_mode = 0;
    select.m_loop_count = 3;
    Picture("select_macro", select);
  }
  {
    CShortcutWnd shortcut;
    shortcut.SetModifiers(0x05);  // Ctrl and Alt
    shortcut.m_key = 0x04;
    Picture("shortcut", shortcut);
  }
  {
    CDPIMsg dpi(DpiIndicatorText(0, 1600 / 50));
    Picture("dpi_indicator", dpi, WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE);
  }
  {
    ScriptedFiles files;
    CMS_1_Macro editor(*macros_, nullptr, files);
    Picture("macro_editor", editor);
  }
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brevak-test-bus", 1);
  // Fonts from the machine's configuration alone (and, in the test, a caret that does not
  // blink), so two pictures of the same window are the same.
  unsetenv("QT_FONT_DPI");
  unsetenv("QT_SCALE_FACTOR");
  return brevak::test::RunWindowTestsOnPrivateX(BREVAK_RES_DIR);
}
