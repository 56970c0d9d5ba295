// The shortcut dialog on a private X server, with the real "Hook.so": keys are typed and clicks
// made through XTest, so the key field sees what the Hook library reports, mouse buttons too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>

#include "macro/shortcut_wnd.h"
#include "platform/system.h"
#include "tests/common/ui_test_main.h"
#include "tests/macro/x_typist.h"  // last: Xlib's macros

namespace brevak::test {
namespace {

constexpr uint32_t kUsageS = 0x16;
constexpr UINT kGaveUp = 99;  // the dialog's result when a test's steps did not end it

template <class T>
T* Child(QWidget* window, const char* name) {
  return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

class ShortcutDialogOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib_.functions.installhook, nullptr) << LastLoadError();
    ASSERT_TRUE(typist_.ok());
  }
  void TearDown() override {
    if (lib_.functions.removehook) lib_.functions.removehook();
    if (lib_.module) FreeLibrary(lib_.module);
  }

  // Runs the dialog with the user's steps, once it is shown with its key field focused.
  UINT Run(CShortcutWnd& dlg, std::function<void(QWidget*, QLineEdit*)> user) {
    dlg.m_hook = &lib_.functions;
    QObject run;  // its timers end with this call
    QTimer::singleShot(0, &run, [&] {
      // A step that fails must not leave the dialog open for ever.
      QTimer::singleShot(std::chrono::seconds(30), &run, [&] { dlg.Close(kGaveUp); });
      QWidget* w = QApplication::activeModalWidget();
      auto* key = Child<QLineEdit>(w, "edit_key");
      ASSERT_NE(key, nullptr);
      ASSERT_TRUE(QTest::qWaitForWindowActive(w));
      ASSERT_TRUE(QTest::qWaitFor([&] { return key->hasFocus(); }));
      user(w, key);
    });
    return dlg.Show(nullptr);
  }

  HookLibrary lib_ = LoadHookLibrary(ProgramFolder());
  Typist typist_;
};

// Waits until the key field shows `text`.
bool Shows(QLineEdit* key, const char* text) {
  return QTest::qWaitFor([&] { return key->text() == QString::fromUtf8(text); });
}

TEST_F(ShortcutDialogOnX11, ModifiersTickedAndTheKeyTypedAreWhatOkReturns) {
  CShortcutWnd dlg;
  const UINT result = Run(dlg, [&](QWidget* w, QLineEdit* key) {
    typist_.Tap(XK_a);
    EXPECT_TRUE(Shows(key, "A"));
    // Ticking the boxes takes the focus from the field; a click into it catches again.
    for (const char* box : {"check_flag_1", "check_flag_2"}) {
      auto* check = Child<QCheckBox>(w, box);
      typist_.Click(check, QPoint(8, check->height() / 2));
      EXPECT_TRUE(QTest::qWaitFor([&] { return check->isChecked(); })) << box;
    }
    typist_.Click(key);
    ASSERT_TRUE(QTest::qWaitFor([&] { return key->hasFocus(); }));
    typist_.Tap(XK_s);
    EXPECT_TRUE(Shows(key, "S"));
    // The Hook library reports this click too, while the field still has focus.
    typist_.Click(Child<QPushButton>(w, "btn_ok"));
  });
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(dlg.Modifiers(), 3);
  EXPECT_EQ(dlg.m_key, kUsageS);
}

TEST_F(ShortcutDialogOnX11, TabEnterAndEscAreKeysAndTheHookGoesWithTheWindow) {
  CShortcutWnd dlg;
  dlg.m_key = kUsageS;
  dlg.SetModifiers(0x0C);
  const UINT result = Run(dlg, [&](QWidget* w, QLineEdit* key) {
    EXPECT_EQ(key->text(), QStringLiteral("S"));
    EXPECT_TRUE(Child<QCheckBox>(w, "check_flag_3")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(w, "check_flag_4")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(w, "check_flag_1")->isChecked());
    const struct {
      KeySym keysym;
      const char* text;
    } keys[] = {{XK_Tab, "Tab"}, {XK_Return, "Enter"}, {XK_Escape, "Esc"}, {XK_F7, "F7"}};
    for (const auto& k : keys) {
      typist_.Tap(k.keysym);
      EXPECT_TRUE(Shows(key, k.text)) << k.text;
      EXPECT_TRUE(key->hasFocus()) << k.text;  // Tab moved nothing, Enter and Esc closed nothing
      EXPECT_TRUE(w->isVisible()) << k.text;
    }
    dlg.Close(0);  // closed while the field has focus
  });
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(dlg.m_key, 0x40u);  // F7
  // The hook was removed with the window: nothing has a target any more.
  EXPECT_FALSE(lib_.functions.enablehook(1));
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTestsOnPrivateX(BREVAK_RES_DIR);
}
