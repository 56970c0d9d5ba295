// The colour dialog, the DPI indicator and the message box through their layouts, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>

#include "dialogs/small_dialogs.h"
#include "tests/common/ui_test_main.h"

namespace brevak::test {
namespace {

// Runs `body` on the open modal window once the dialog's modal loop is running.
void WhileModal(std::function<void(QWidget*)> body) {
  QTimer::singleShot(0, [body = std::move(body)] { body(QApplication::activeModalWidget()); });
}

template <class T>
T* Child(QWidget* window, const char* name) {
  return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

void Type(QWidget* window, const char* edit, const char* text) {
  auto* e = Child<QLineEdit>(window, edit);
  ASSERT_NE(e, nullptr) << edit;
  e->selectAll();
  QTest::keyClicks(e, text);
}

void ClickIn(QWidget* window, const char* button) {
  auto* b = Child<QPushButton>(window, button);
  ASSERT_NE(b, nullptr) << button;
  QTest::mouseClick(b, Qt::LeftButton);
}

struct ColorRun {
  UINT result;
  DWORD color;
  std::string g_text;
};

ColorRun RunColorDialog(DWORD start, std::function<void(QWidget*)> user) {
  CDpiColorWnd dlg;
  dlg.m_color = start;
  dlg.m_position = POINT{40, 60};
  dlg.Create(nullptr, "", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW, 0, 0, 800, 800);
  std::string g_text;
  WhileModal([&](QWidget* w) {
    EXPECT_EQ(w->geometry(), QRect(40, 60, 250, 200));
    user(w);
    if (auto* g = Child<QLineEdit>(w, "g_edit")) g_text = g->text().toStdString();
  });
  UINT r = dlg.ShowModal();
  return {r, dlg.m_color, g_text};
}

TEST(ColorDialog, ShowsTheColourAndTakesSwatchesEditsAndThePalette) {
  // Opened with a colour: the three edits show it.
  auto run = RunColorDialog(0xFF102030, [](QWidget* w) {
    EXPECT_EQ(Child<QLineEdit>(w, "r_edit")->text(), QStringLiteral("16"));
    EXPECT_EQ(Child<QLineEdit>(w, "b_edit")->text(), QStringLiteral("48"));
    ClickIn(w, "cancel_btn");
  });
  EXPECT_EQ(run.result, 0u);
  EXPECT_EQ(run.g_text, "32");

  // A swatch, then confirm: that swatch's colour with full alpha.
  run = RunColorDialog(0xFF000000, [](QWidget* w) {
    ClickIn(w, "mouse_dpi_color_7");
    ClickIn(w, "confirm_btn");
  });
  EXPECT_EQ(run.result, 1u);
  EXPECT_EQ(run.color, 0xFFFF5400u);

  // Typed components: above 255 is written back as 255; the others stay as typed.
  run = RunColorDialog(0xFF000000, [](QWidget* w) {
    Type(w, "g_edit", "300");
    Type(w, "r_edit", "12");
    ClickIn(w, "confirm_btn");
  });
  EXPECT_EQ(run.color, 0xFF0CFF00u);
  EXPECT_EQ(run.g_text, "255");

  // An emptied edit reads as 0 and stays as it is.
  run = RunColorDialog(0xFF808080, [](QWidget* w) {
    auto* b = Child<QLineEdit>(w, "b_edit");
    b->selectAll();
    QTest::keyClick(b, Qt::Key_Backspace);
    EXPECT_EQ(b->text(), QString());
    ClickIn(w, "confirm_btn");
  });
  EXPECT_EQ(run.color, 0xFF808000u);

  // A pick on the palette: the edits follow it.
  run = RunColorDialog(0xFF0000FF, [](QWidget* w) {
    QWidget* palette = Child<QWidget>(w, "ColorPallet");
    ASSERT_NE(palette, nullptr);
    QTest::mousePress(palette, Qt::LeftButton, {}, QPoint(1, 1));  // the white corner ((0, 0) means the centre)
    QTest::mouseRelease(palette, Qt::LeftButton, {}, QPoint(1, 1));
    ClickIn(w, "confirm_btn");
  });
  // Next to the white corner: every component near 255, and the edits show the picked colour.
  for (int shift : {0, 8, 16}) EXPECT_GE((run.color >> shift) & 0xFF, 245u) << shift;
  EXPECT_EQ(run.g_text, std::to_string((run.color >> 8) & 0xFF));
  EXPECT_EQ(run.color >> 24, 0xFFu);
}

TEST(DpiIndicator, SitsInTheLowerRightCornerAndShowsItsText) {
  auto* dpi = new CDPIMsg(DpiIndicatorText(0, 16));
  dpi->SetSelfDelete(true);
  HWND h = dpi->Create(nullptr, "", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(dpi->GetWidget()->geometry(), QRect(work.width() - 210, work.height() - 60, 200, 50));
  EXPECT_EQ(Utf16ToUtf8(dpi->text()), "DPI :800");
  dpi->SetText(DpiIndicatorText(2, 520));
  EXPECT_EQ(Utf16ToUtf8(dpi->text()), "DPI :26000");
  EXPECT_EQ(Utf16ToUtf8(DpiIndicatorText(3, 16)), "DPI :");
  ::DestroyWindow(h);  // deletes itself
  EXPECT_EQ(CWindowWnd::FromHandle(h), nullptr);
}

TEST(MessageBox, ShowsTheLanguageTextsOfItsKeysAndReturnsTheChoice) {
  for (auto [button, expected] : {std::pair("btn_ok", 1u), std::pair("btn_cancel", 0u)}) {
    QString title, text;
    WhileModal([&, b = button](QWidget* w) {
      if (auto* l = Child<QWidget>(w, "warning_title")) title = l->property("text").toString();
      if (auto* l = Child<QWidget>(w, "warning")) text = l->property("text").toString();
      ClickIn(w, b);
    });
    EXPECT_EQ(CMsgWnd::Show(nullptr, "warning_title_text", "one_profile_text"), expected);
    EXPECT_EQ(CDuiString(title).str(), LanguageText(u"warning_title_text"));
    EXPECT_EQ(CDuiString(text).str(), LanguageText(u"one_profile_text"));
    EXPECT_NE(text, QStringLiteral("one_profile_text"));  // the language file has it
  }
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTests(BREVAK_RES_DIR, "offscreen");
}
