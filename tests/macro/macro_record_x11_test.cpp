// Recording in the macro editor on a private X server through the real "Hook.so": keys and a
// mouse button typed through XTest become steps, and the click on the record button that stops
// the recording, made after the pointer entered it, does not.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "macro/macro_editor.h"
#include "platform/system.h"
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
    typist_.MoveTo(record, record->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return record->underMouse(); }));
    QTest::qWait(100);  // the entering reaches the Hook library before the click
    typist_.Press(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.recording(); }));
    QTest::qWait(200);  // a click that slipped through would arrive by now
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

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTestsOnPrivateX(BREVAK_RES_DIR);
}
