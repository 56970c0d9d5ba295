// Recording in the macro editor on a private X server through the real "Hook.so": keys and a
// mouse button typed through XTest become steps, and the click on the record button that stops
// the recording, made after the pointer entered it, does not. Keys typed while recording reach
// no control of the editor, and each is stored by its position in the layout of its moment.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "macro/macro_editor.h"
#include "platform/system.h"
#include "platform/text.h"
#include "store_test_util.h"
#include "tests/common/scripted_files.h"
#include "tests/common/ui_test_main.h"
#include "tests/macro/x_typist.h"  // last: Xlib's macros

namespace brevak::test {
namespace {

constexpr UINT kGaveUp = 99;

class MacroRecordingOnX11 : public DataFolderTest {
 protected:
  void TearDown() override {
    if (lib_.functions.removehook) lib_.functions.removehook();
    if (lib_.module) FreeLibrary(lib_.module);
    DataFolderTest::TearDown();
  }
  // Clicks `target` at `at` as the user does to stop a recording: once the pointer is over it
  // and the Hook library has seen it enter; then waits for the end, and for a click that
  // slipped through to arrive.
  void ClickToEnd(CMS_1_Macro& editor, QWidget* target, QPoint at) {
    typist_.MoveTo(target, at);
    ASSERT_TRUE(QTest::qWaitFor([&] { return target->underMouse(); }));
    QTest::qWait(100);
    typist_.Press(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.recording(); }));
    QTest::qWait(200);
  }

  HookLibrary lib_ = LoadHookLibrary(ProgramFolder());
  Typist typist_;
};

TEST_F(MacroRecordingOnX11, KeysAndAButtonAreRecordedButNotTheClickThatStops) {
  ASSERT_NE(lib_.functions.installhook, nullptr) << LastLoadError();
  ASSERT_TRUE(typist_.ok());
  MacroStore store;
  ScriptedFiles files;  // never asked
  CMS_1_Macro editor(store, &lib_.functions, files);
  QObject run;
  QTimer::singleShot(0, &run, [&] {
    QTimer::singleShot(std::chrono::seconds(30), &run, [&] { editor.Close(kGaveUp); });
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    auto* record = w->findChild<QWidget*>(QStringLiteral("ms_1_macro_record_btn"));
    auto* steps = w->findChild<QListWidget*>(QStringLiteral("ms_1_macro_action_list"));
    ASSERT_TRUE(record && steps);
    typist_.Click(record);  // an empty library: the recording adds a macro first
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor.recording(); }));
    typist_.MoveTo(steps, steps->rect().center());  // leaving the button lets mouse buttons count
    QTest::qWait(100);
    typist_.Tap(XK_a);
    typist_.Tap(XK_b);
    typist_.Press(3);  // right button over the step list
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor.steps().count == 6; }));
    ClickToEnd(editor, record, record->rect().center());
    editor.Close(1);
  });
  EXPECT_EQ(editor.Show(nullptr), 1u);
  ASSERT_EQ(store.list().size(), 1u);
  const MacroRecord& m = *store.list()[0];
  const uint8_t expected[][2] = {{0x04, kMacroPress}, {0x04, kMacroRelease}, {0x05, kMacroPress},
                                 {0x05, kMacroRelease}, {kMacroCodeRight, kMacroPress}, {kMacroCodeRight, kMacroRelease}};
  ASSERT_EQ(m.action_count, 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(m.actions[i].code, expected[i][0]) << i;
    EXPECT_EQ(m.actions[i].kind, expected[i][1]) << i;
  }
  MacroStore again;
  again.Load();
  ASSERT_EQ(again.list().size(), 1u);
  EXPECT_EQ(again.list()[0]->action_count, 6);
  // The hooks went with the recording.
  EXPECT_FALSE(lib_.functions.enablehook(1));
}

// X key codes (evdev code + 8) of the US positions typed below.
constexpr unsigned kKeyEscape = 9, kKeyTab = 23, kKeyQ = 24, kKeyA = 38, kKeyX = 53, kKeySpace = 65;

TEST_F(MacroRecordingOnX11, KeysTypedWhileRecordingAreStepsOnlyAndFollowALayoutSwitch) {
  ASSERT_NE(lib_.functions.installhook, nullptr) << LastLoadError();
  ASSERT_TRUE(typist_.ok());
  struct Key {
    unsigned code;
    int group;  // locked before the key; -1 keeps the one in effect
  };
  const struct Case {
    const char* what;
    const char* layouts;
    std::vector<Key> keys;
    std::vector<uint8_t> usages;  // each pressed and released
  } cases[] = {
      // Space would toggle the record box, Tab move the focus to the name field that the x would
      // then rename, Escape close the window.
      {"Space, Tab, x and Escape", "us", {{kKeySpace, -1}, {kKeyTab, -1}, {kKeyX, -1}, {kKeyEscape, -1}},
       {0x2C, 0x2B, 0x1B, 0x29}},
      // The French A sits at the US Q position: stored there, not where the US A is.
      {"a layout switch from us to fr between two keys", "us,fr", {{kKeyA, 0}, {kKeyQ, 1}}, {0x04, 0x14}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(std::system((std::string("setxkbmap -layout ") + c.layouts).c_str()), 0);
    typist_.LockGroup(0);
    MacroStore store;
    store.list().push_back(std::make_unique<MacroRecord>(MakeEmptyMacroRecord()));
    SetFixed(store.list()[0]->name, u"Keys");
    ScriptedFiles files;  // never asked
    CMS_1_Macro editor(store, &lib_.functions, files);
    QObject run;
    QTimer::singleShot(0, &run, [&] {
      QTimer::singleShot(std::chrono::seconds(30), &run, [&] { editor.Close(kGaveUp); });
      QWidget* w = QApplication::activeModalWidget();
      ASSERT_NE(w, nullptr);
      ASSERT_TRUE(QTest::qWaitForWindowActive(w));
      auto* record = w->findChild<QCheckBox*>(QStringLiteral("ms_1_macro_record_btn"));
      auto* name = w->findChild<QLineEdit*>(QStringLiteral("ms_1_macro_name_edit"));
      ASSERT_TRUE(record && name);
      // The pointer stays on the record button: its clicks are no steps.
      typist_.MoveTo(record, record->rect().center());
      ASSERT_TRUE(QTest::qWaitFor([&] { return record->underMouse(); }));
      QTest::qWait(100);
      typist_.Press(1);
      ASSERT_TRUE(QTest::qWaitFor([&] { return editor.recording(); }));
      QWidget* focus = QApplication::focusWidget();
      int expected = 0;
      for (const Key& k : c.keys) {
        if (k.group >= 0) typist_.LockGroup(unsigned(k.group));
        typist_.TapKeyCode(k.code);
        expected += 2;
        ASSERT_TRUE(QTest::qWaitFor([&] { return editor.steps().count == expected; })) << k.code;
      }
      QTest::qWait(100);  // what the keys did to the controls, if anything, has happened by now
      EXPECT_TRUE(editor.recording());
      EXPECT_TRUE(record->isChecked());
      EXPECT_EQ(QApplication::focusWidget(), focus);
      EXPECT_EQ(name->text(), QStringLiteral("Keys"));
      EXPECT_TRUE(w->isVisible());
      typist_.Press(1);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.recording(); }));
      editor.Close(1);
    });
    EXPECT_EQ(editor.Show(nullptr), 1u);
    const MacroRecord& m = *store.list()[0];
    EXPECT_EQ(Utf16ToUtf8(FixedToString(m.name)), "Keys");
    std::vector<std::vector<int>> got, want;
    for (int i = 0; i < m.action_count; ++i) got.push_back({m.actions[i].code, m.actions[i].kind});
    for (uint8_t usage : c.usages) want.insert(want.end(), {{usage, kMacroPress}, {usage, kMacroRelease}});
    EXPECT_EQ(got, want);
  }
  ASSERT_EQ(std::system("setxkbmap -layout us"), 0);
}

// A click on one of the editor's buttons, or on another macro, mid-recording ends the recording
// before it acts, and is no step itself.
TEST_F(MacroRecordingOnX11, AClickOnAnEditorButtonOrMacroEndsTheRecordingAndIsNoStep) {
  ASSERT_NE(lib_.functions.installhook, nullptr) << LastLoadError();
  ASSERT_TRUE(typist_.ok());
  const struct {
    const char* target;
    int row;  // of the list `target`; -1 for a button
    std::vector<std::vector<int>> steps;  // {usage, kind} of the first macro afterwards
  } cases[] = {
      {"ms_1_macro_cancel_btn", -1, {{0x04, kMacroPress}, {0x04, kMacroRelease}}},
      {"ms_1_macro_up_btn", -1, {{0x04, kMacroRelease}, {0x04, kMacroPress}}},  // the last step moved up
      {"ms_1_macro_list", 1, {{0x04, kMacroPress}, {0x04, kMacroRelease}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    MacroStore store;
    for (const char16_t* name : {u"First", u"Second"}) {
      store.list().push_back(std::make_unique<MacroRecord>(MakeEmptyMacroRecord()));
      SetFixed(store.list().back()->name, name);
    }
    ScriptedFiles files;  // never asked
    CMS_1_Macro editor(store, &lib_.functions, files);
    QObject run;
    QTimer::singleShot(0, &run, [&] {
      QTimer::singleShot(std::chrono::seconds(30), &run, [&] { editor.Close(kGaveUp); });
      QWidget* w = QApplication::activeModalWidget();
      ASSERT_NE(w, nullptr);
      ASSERT_TRUE(QTest::qWaitForWindowActive(w));
      auto* record = w->findChild<QWidget*>(QStringLiteral("ms_1_macro_record_btn"));
      auto* target = w->findChild<QWidget*>(QString::fromLatin1(c.target));
      ASSERT_TRUE(record && target);
      typist_.Click(record);
      ASSERT_TRUE(QTest::qWaitFor([&] { return editor.recording(); }));
      typist_.Tap(XK_a);
      ASSERT_TRUE(QTest::qWaitFor([&] { return editor.steps().count == 2; }));
      if (auto* list = qobject_cast<QListWidget*>(target); list && c.row >= 0) {
        ClickToEnd(editor, list->viewport(), list->visualItemRect(list->item(c.row)).center());
      } else {
        ClickToEnd(editor, target, target->rect().center());
      }
      editor.Close(1);
    });
    EXPECT_EQ(editor.Show(nullptr), 1u);
    ASSERT_EQ(store.list().size(), 2u);
    const MacroRecord& m = *store.list()[0];
    EXPECT_EQ(store.list()[1]->action_count, 0);
    std::vector<std::vector<int>> got;
    for (int i = 0; i < m.action_count; ++i) got.push_back({m.actions[i].code, m.actions[i].kind});
    EXPECT_EQ(got, c.steps);
  }
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTestsOnPrivateX(BREVAK_RES_DIR);
}
