// The macro selection dialog through its layout, offscreen: what it shows for a button's stored
// values, and what it returns after the user's choices.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "macro/key_tables.h"
#include "macro/select_macro_wnd.h"
#include "platform/keyboard/keyboard_layout.h"
#include "tests/common/ui_test_main.h"

namespace brevak::test {
namespace {

template <class T>
T* Child(QWidget* window, const char* name) {
  return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

void Click(QWidget* window, const char* button) {
  auto* b = Child<QPushButton>(window, button);
  ASSERT_NE(b, nullptr) << button;
  QTest::mouseClick(b, Qt::LeftButton);
}

// Types into the loop field, replacing its text, and leaves it the way a click elsewhere does.
void TypeLoop(QWidget* window, const char* text) {
  auto* edit = Child<QLineEdit>(window, "edit_loop_time");
  ASSERT_NE(edit, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));  // focus changes only in the active window
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
  Child<QWidget>(window, "list_macro")->setFocus();
}

MacroList Library(int count) {
  MacroList list;
  for (int i = 0; i < count; ++i) {
    list.push_back(std::make_unique<MacroRecord>());
    SetFixed(list.back()->name, Format(u"Macro %d", i + 1));
  }
  return list;
}

struct Seen {
  int rows = -1, current_row = -2;
  bool loop_row = false, mode_checked = false;
  std::string loop_text;
};

Seen Look(QWidget* w, int mode) {
  Seen s;
  if (auto* list = Child<QListWidget>(w, "list_macro")) {
    s.rows = list->count();
    s.current_row = list->currentRow();
  }
  if (auto* row = Child<QWidget>(w, "hor_loop_time")) s.loop_row = row->isVisible();
  const std::string option_name = "repeat_" + std::to_string(mode + 1);
  if (auto* option = Child<QPushButton>(w, option_name.c_str())) s.mode_checked = option->isChecked();
  if (auto* edit = Child<QLineEdit>(w, "edit_loop_time")) s.loop_text = edit->text().toStdString();
  return s;
}

struct Case {
  const char* what;
  int index, mode, count;                 // stored on the button
  int shown_row, shown_mode;              // what the dialog opens with
  bool shown_loop_row;
  std::string shown_loop_text;
  std::function<void(QWidget*)> user;     // then the user's steps, ending with a button
  UINT result;
  int got_index, got_mode, got_count;
  std::string final_loop_text;
  std::u16string name = {};  // the button's macro name, which wins over its stored index
};

TEST(SelectMacroDialog, ShowsTheButtonsValuesAndReturnsTheChoice) {
  const MacroList library = Library(3);
  const Case cases[] = {
      {"a button without a macro", -1, 0, 1, -1, 0, true, "1",
       [](QWidget* w) { Click(w, "btn_ok"); }, 1, -1, 0, 1, "1"},
      {"a macro chosen with its mode and count", 1, 2, 7, 1, 2, false, "7",
       [](QWidget* w) {
         QListWidget* list = Child<QListWidget>(w, "list_macro");
         QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
         Click(w, "repeat_1");
         EXPECT_TRUE(Child<QWidget>(w, "hor_loop_time")->isVisible());
         Click(w, "btn_ok");
       },
       1, 2, 0, 7, "7"},
      {"an index outside the library", 5, 0, 3, -1, 0, true, "3",
       [](QWidget* w) { Click(w, "btn_ok"); }, 1, -1, 0, 3, "3"},
      {"letters typed between digits go at once", 0, 0, 1, 0, 0, true, "1",
       [](QWidget* w) {
         TypeLoop(w, "1a2");
         Click(w, "btn_ok");
       },
       1, 0, 0, 12, "12"},
      {"above 255 becomes 255", 0, 0, 1, 0, 0, true, "1",
       [](QWidget* w) {
         TypeLoop(w, "300");
         Click(w, "btn_ok");
       },
       1, 0, 0, 255, "255"},
      {"0 becomes 1", 0, 0, 9, 0, 0, true, "9",
       [](QWidget* w) {
         TypeLoop(w, "0");
         Click(w, "btn_ok");
       },
       1, 0, 0, 1, "1"},
      {"an empty field becomes 1", 0, 0, 9, 0, 0, true, "9",
       [](QWidget* w) {
         TypeLoop(w, "");
         Click(w, "btn_ok");
       },
       1, 0, 0, 1, "1"},
      {"mode 1 hides the loop row and keeps the count", 0, 0, 40, 0, 0, true, "40",
       [](QWidget* w) {
         Click(w, "repeat_2");
         EXPECT_FALSE(Child<QWidget>(w, "hor_loop_time")->isVisible());
         Click(w, "btn_ok");
       },
       1, 0, 1, 40, "40"},
      {"a count confirmed while its field keeps the focus", 0, 0, 1, 0, 0, true, "1",
       [](QWidget* w) {
         auto* edit = Child<QLineEdit>(w, "edit_loop_time");
         edit->setFocus();
         edit->selectAll();
         QTest::keyClicks(edit, "999");
         Child<QPushButton>(w, "btn_ok")->setFocusPolicy(Qt::NoFocus);
         Click(w, "btn_ok");
       },
       1, 0, 0, 255, "255"},
      {"an unknown mode and a count of 0", 2, 7, 0, 2, 0, true, "1",
       [](QWidget* w) { Click(w, "btn_cancel"); }, 0, 2, 0, 1, "1"},
      {"the close button", 1, 1, 5, 1, 1, false, "5",
       [](QWidget* w) { Click(w, "btn_exit"); }, 0, 1, 1, 5, "5"},
      {"the button's macro by name, its stored index stale", 0, 0, 1, 2, 0, true, "1",
       [](QWidget* w) { Click(w, "btn_ok"); }, 1, 2, 0, 1, "1", u"MACRO 3"},
      {"a name the library lacks", 1, 0, 1, -1, 0, true, "1",
       [](QWidget* w) { Click(w, "btn_ok"); }, 1, -1, 0, 1, "1", u"Gone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CMS_1_SelectMacro dlg;
    dlg.m_macros = &library;
    dlg.m_macro_index = c.index;
    dlg.m_macro_name = c.name;
    dlg.m_repeat_mode = c.mode;
    dlg.m_loop_count = c.count;
    Seen opened, closing;
    QTimer::singleShot(0, [&] {
      QWidget* w = QApplication::activeModalWidget();
      ASSERT_NE(w, nullptr);
      opened = Look(w, c.shown_mode);
      c.user(w);
      closing = Look(w, c.got_mode);
    });
    EXPECT_EQ(dlg.Show(nullptr), c.result);
    EXPECT_EQ(opened.rows, 3);
    EXPECT_EQ(opened.current_row, c.shown_row);
    EXPECT_TRUE(opened.mode_checked);
    EXPECT_EQ(opened.loop_row, c.shown_loop_row);
    EXPECT_EQ(opened.loop_text, c.shown_loop_text);
    EXPECT_EQ(closing.loop_text, c.final_loop_text);
    EXPECT_EQ(dlg.m_macro_index, c.got_index);
    EXPECT_EQ(dlg.m_repeat_mode, c.got_mode);
    EXPECT_EQ(dlg.m_loop_count, c.got_count);
  }
}

// Every key name the key tables look up is in "lan.xml" (a missing one would show the key).
TEST(KeyNames, EveryNamedKeyHasItsEnglishText) {
  PinActiveLayout(KeyboardLayout::FromNames(LayoutNames{}));
  auto missing = [](const std::u16string& text) {
    return text.starts_with(u"key_") || text.ends_with(u"_Button");
  };
  for (uint32_t code = 0; code < 256; ++code) {
    EXPECT_FALSE(missing(UsageToKeyText(code))) << "usage " << code << ": " << Utf16ToUtf8(UsageToKeyText(code));
    EXPECT_FALSE(missing(VirtualKeyToKeyText(code))) << "virtual key " << code;
  }
  EXPECT_EQ(Utf16ToUtf8(UsageToKeyText(0x4B)), "Page Up");
  PinActiveLayout(std::nullopt);
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTests(BREVAK_RES_DIR, "offscreen");
}
