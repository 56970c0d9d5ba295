// The colour dialog, the DPI indicator and the message box through their layouts, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/bindings_wnd.h"
#include "dialogs/file_chooser.h"
#include "dialogs/profile_name.h"
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

// Escape pressed on the child `on`; should the dialog stay open, its `fallback` button ends it
// two seconds later, so a failure never hangs the suite.
void PressEscape(QWidget* window, const char* on, const char* fallback) {
  QWidget* target = Child<QWidget>(window, on);
  ASSERT_NE(target, nullptr) << on;
  QTest::keyClick(target, Qt::Key_Escape);
  QTimer::singleShot(2000, [w = QPointer<QWidget>(window), fallback] {
    if (w && w->isVisible()) ClickIn(w, fallback);
  });
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

  // Escape in an edit: the dialog ends as Cancel (its opener keeps the colour it had).
  run = RunColorDialog(0xFF0000FF, [](QWidget* w) {
    Type(w, "g_edit", "99");
    PressEscape(w, "g_edit", "confirm_btn");
  });
  EXPECT_EQ(run.result, 0u);
}

TEST(DpiIndicator, SitsInTheLowerRightCornerAndShowsItsText) {
  auto* dpi = new CDPIMsg(DpiIndicatorText(0, 16));
  dpi->SetSelfDelete(true);
  HWND h = dpi->Create(nullptr, "", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(dpi->GetWidget()->geometry(), QRect(work.right() + 1 - 210, work.bottom() + 1 - 60, 200, 50));
  EXPECT_EQ(Utf16ToUtf8(dpi->text()), "DPI :800");
  dpi->SetText(DpiIndicatorText(2, 520));
  EXPECT_EQ(Utf16ToUtf8(dpi->text()), "DPI :26000");
  EXPECT_EQ(Utf16ToUtf8(DpiIndicatorText(3, 16)), "DPI :");
  ::DestroyWindow(h);  // deletes itself
  EXPECT_EQ(CWindowWnd::FromHandle(h), nullptr);
}

// A warning has OK alone; a confirmation OK and Cancel. A composed text is shown as it is.
TEST(MessageBox, ShowsTheLanguageTextsOfItsKeysAndReturnsTheChoice) {
  struct Case {
    MsgKind kind;
    const char* button;
    UINT expected;
    bool cancel_shown;
  };
  for (const Case& c : {Case{MsgKind::kConfirm, "btn_ok", 1u, true}, Case{MsgKind::kConfirm, "btn_cancel", 0u, true},
                        Case{MsgKind::kWarning, "btn_ok", 1u, false}, Case{MsgKind::kConfirm, nullptr, 0u, true}}) {
    QString title, text;
    bool cancel_shown = false;
    WhileModal([&](QWidget* w) {
      if (auto* l = Child<QWidget>(w, "warning_title")) title = l->property("text").toString();
      if (auto* l = Child<QWidget>(w, "warning")) text = l->property("text").toString();
      if (auto* b = Child<QWidget>(w, "btn_cancel")) cancel_shown = b->isVisible();
      if (c.button) ClickIn(w, c.button);
      else PressEscape(w, "btn_ok", "btn_ok");  // Escape cancels, wherever the focus is
    });
    EXPECT_EQ(CMsgWnd::Show(nullptr, "warning_title_text", "one_profile_text", c.kind), c.expected);
    EXPECT_EQ(CDuiString(title).str(), LanguageText(u"warning_title_text"));
    EXPECT_EQ(CDuiString(text).str(), LanguageText(u"one_profile_text"));
    EXPECT_NE(text, QStringLiteral("one_profile_text"));  // the language file has it
    EXPECT_EQ(cancel_shown, c.cancel_shown) << (c.button ? c.button : "Escape");
  }
  QString text;
  WhileModal([&](QWidget* w) {
    if (auto* l = Child<QWidget>(w, "warning")) text = l->property("text").toString();
    ClickIn(w, "btn_ok");
  });
  EXPECT_EQ(CMsgWnd::ShowText(nullptr, "warning_title_text", u"game.pro: it is not a profile file"), 1u);
  EXPECT_EQ(text, QStringLiteral("game.pro: it is not a profile file"));
}

// The profile name dialog: refusals keep it open and change nothing, OK returns the name as
// typed, at most 99 characters.
TEST(ProfileNameDialog, RefusesEmptyAndTakenNamesAndReturnsTheNameAsTyped) {
  const std::vector<std::u16string> taken = {u"Game", u"Work"};
  struct Step {
    const char* typed;  // null: press Esc
    const char* refusal;
  };
  struct Case {
    const char* title;
    std::vector<Step> steps;
    UINT result;
    std::string name;
  };
  const std::string long_name(150, 'x');
  const Case cases[] = {
      {"profile_name_1_text", {{"", "warn_name_1_text"}, {"   ", nullptr}}, 1, "   "},
      {"profile_name_2_text", {{"gAME", "warn_name_2_text"}, {"Game 2", nullptr}}, 1, "Game 2"},
      {"profile_name_1_text", {{"work", "warn_name_2_text"}, {nullptr, nullptr}}, 0, ""},
      {"profile_name_1_text", {{long_name.c_str(), nullptr}}, 1, std::string(99, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps.front().typed);
    CMS_1_ProfileName dialog;
    dialog.m_title_key = c.title;
    dialog.m_names = taken;
    std::vector<std::string> refusals;
    dialog.warn = [&](const char* key) { refusals.push_back(key); };
    QString title;
    WhileModal([&](QWidget* w) {
      if (auto* l = Child<QWidget>(w, "title_string")) title = l->property("text").toString();
      for (const Step& step : c.steps) {
        if (!step.typed) {
          QTest::keyClick(Child<QLineEdit>(w, "edit_name"), Qt::Key_Escape);
          return;
        }
        Type(w, "edit_name", step.typed);
        QTest::keyClick(Child<QLineEdit>(w, "edit_name"), Qt::Key_Return);  // Enter confirms
      }
    });
    EXPECT_EQ(dialog.Run(nullptr), c.result);
    EXPECT_EQ(Utf16ToUtf8(dialog.m_name), c.name);
    EXPECT_EQ(CDuiString(title).str(), LanguageText(Utf8ToUtf16(c.title)));
    std::vector<std::string> expected;
    for (const Step& step : c.steps) {
      if (step.refusal) expected.push_back(step.refusal);
    }
    EXPECT_EQ(refusals, expected);
  }

  // A rename opens with the current name selected; confirmed unchanged it is a cancel, not the
  // refusal of a taken name.
  CMS_1_ProfileName rename;
  rename.m_title_key = "profile_name_2_text";
  rename.m_names = taken;
  rename.m_initial = u"Game";
  std::vector<std::string> refusals;
  rename.warn = [&](const char* key) { refusals.push_back(key); };
  WhileModal([&](QWidget* w) {
    auto* edit = Child<QLineEdit>(w, "edit_name");
    EXPECT_EQ(edit->text(), QStringLiteral("Game"));
    EXPECT_EQ(edit->selectedText(), QStringLiteral("Game"));
    QTest::keyClick(edit, Qt::Key_Return);
  });
  EXPECT_EQ(rename.Run(nullptr), 0u);
  EXPECT_EQ(refusals, std::vector<std::string>{});
}

// The bindings dialog: a class chosen from the open windows or typed is added to the model, the
// selected row removed, what the model says shown, and Escape closes it.
TEST(BindingsDialog, AddsChosenAndTypedClassesRemovesTheSelectedAndClosesWithEscape) {
  struct Model : BindingsModel {
    std::vector<BindingRow> Rows() override { return rows; }
    std::vector<std::u16string> OpenClasses() override { return {u"XCalc", u"XLogo"}; }
    std::u16string Profile() override { return u"Game"; }
    std::u16string SightNote() override { return u"only X11"; }
    std::u16string Add(const std::u16string& c) override {
      if (c == u"refused") return u"no";
      rows.push_back({c, u"Game"});
      return {};
    }
    void Remove(const BindingRow& r) override {
      std::erase_if(rows, [&](const BindingRow& x) { return x.window_class == r.window_class; });
    }
    std::vector<BindingRow> rows;
  } model;
  CMS_1_Bindings dialog(model);
  std::vector<int> counts;
  QString note_after_refusal;
  WhileModal([&](QWidget* w) {
    auto* list = Child<QListWidget>(w, "bindings_list");
    auto* combo = Child<QComboBox>(w, "bindings_open_combo");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 3);  // its hint, then the open windows
    combo->setCurrentIndex(2);
    Q_EMIT combo->activated(2);  // as the user's pick in its popup
    ClickIn(w, "btn_add");
    counts.push_back(list->count());
    Type(w, "bindings_class_edit", "steam_app_730");
    QTest::keyClick(Child<QLineEdit>(w, "bindings_class_edit"), Qt::Key_Return);
    counts.push_back(list->count());
    Type(w, "bindings_class_edit", "refused");
    ClickIn(w, "btn_add");
    if (auto* note = Child<QWidget>(w, "bindings_note")) note_after_refusal = note->property("text").toString();
    list->setCurrentRow(0);
    ClickIn(w, "btn_remove");
    counts.push_back(list->count());
    PressEscape(w, "bindings_class_edit", "btn_close");
  });
  EXPECT_EQ(dialog.Run(nullptr), 0u);
  EXPECT_EQ(counts, (std::vector<int>{1, 2, 1}));
  ASSERT_EQ(model.rows.size(), 1u);
  EXPECT_EQ(model.rows[0].window_class, u"steam_app_730");
  EXPECT_EQ(note_after_refusal, QStringLiteral("no"));
}

// A profile or macro name suggested as a file name stays one name in the chosen folder.
TEST(FileChooser, SuggestedNamesHoldNoFolder) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Profile 1", u"Profile 1"}, {u"CS/GO", u"CS_GO"}, {u"../../.bashrc", u".._.._.bashrc"},
      {u"..", u"_"},               {u"a\\b", u"a_b"},    {u"Jeu é", u"Jeu é"}};
  for (const auto& [name, file] : cases) EXPECT_EQ(SuggestedFileName(name), file) << Utf16ToUtf8(name);
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTests(BREVAK_RES_DIR, "offscreen");
}
