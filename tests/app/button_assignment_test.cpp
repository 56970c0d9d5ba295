// Buttons 1..12 given other functions through their menus, offscreen, against the simulated mouse
// on the virtual clock, with the dialogs answered in script.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>

#include "app_test_util.h"
#include "macro/macro_steps.h"
#include "protocol/frames.h"

namespace brevak::test {
namespace {

class ButtonAssignmentTest : public AppTest {
 protected:
  // A library with one macro of `steps` press/release pairs (40 steps need two frames), or of
  // `actions` as given.
  static void SeedMacro(int steps) {
    std::vector<MacroAction> actions(static_cast<size_t>(steps));
    for (int i = 0; i < steps; ++i) {
      actions[size_t(i)].kind = uint8_t(i % 2 ? 2 : 1);
      actions[size_t(i)].code = uint8_t(4 + i / 2 % 20);
      actions[size_t(i)].delay = uint16_t(i % 3 ? 20 : 300);
    }
    SeedMacro(actions);
  }
  static void SeedMacro(const std::vector<MacroAction>& actions) {
    MacroStore seed;
    seed.Load();
    auto m = std::make_unique<MacroRecord>();
    std::memset(static_cast<void*>(m.get()), 0, sizeof(MacroRecord));
    SetFixed(m->name, u"Burst");
    m->loop_count = 1;
    m->action_count = int32_t(actions.size());
    std::copy(actions.begin(), actions.end(), m->actions);
    seed.list().push_back(std::move(m));
    ASSERT_TRUE(seed.Save());
  }
  // Opens button `n`'s menu (1-based) and picks `item` in it, as the menu posts the choice.
  void Choose(int n, const char* item) {
    Click(("ms_1_btn_key_" + std::to_string(n)).c_str());
    ::PostMessageW(wnd_->GetHWND(), WM_MENUCLICK, reinterpret_cast<WPARAM>(new MenuCmd{item, "", ""}), 0);
    RunUntilIdle();
  }
  const ButtonEntry& Entry(int n) {
    working_ = *wnd_->page().WorkingRecordCopy();
    return working_.button[n - 1];
  }
  // The mouse holds the button report of the working record.
  void ExpectMouseButtons() {
    const Frame report = BuildButtonReport(*wnd_->page().WorkingRecordCopy());
    const sim::MouseState m = mouse_.State();
    for (size_t i = 0; i < kPageButtons; ++i)
      for (size_t k = 0; k < 3; ++k) EXPECT_EQ(m.buttons[i][k], report[3 + 3 * i + k]) << "button " << i + 1;
  }
  std::string Caption(int n) { return Find(("ms_1_btn_key_" + std::to_string(n)).c_str())->GetText().utf8(); }

  ProfileRecord working_;
};

TEST_F(ButtonAssignmentTest, FunctionsShortcutsAndMacrosReachTheMouse) {
  SeedMacro(40);
  Start({Connection::kCable});
  wnd_->page().SetKeyText([](uint8_t usage) { return usage == 0x16 ? std::u16string(u"S") : std::u16string(u"?"); });
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());

  // Button 4's default function has no name of its own: a dim hint, not an empty button.
  // The skin draws a hint in italics, and a named function upright again.
  auto hinted = [&](int n) {
    const QWidget* w = Find(("ms_1_btn_key_" + std::to_string(n)).c_str())->GetWidget();
    EXPECT_EQ(w->font().italic(), w->property("hint").toBool()) << "button " << n;
    return w->property("hint").toBool();
  };
  const uint8_t unnamed = Entry(4).function_code;
  EXPECT_EQ(Caption(4), Utf16ToUtf8(LanguageText(u"button_unnamed_text")));
  EXPECT_TRUE(hinted(4));
  Choose(4, "ms_1_scroll");
  EXPECT_EQ(Entry(4).function_code, 3);
  EXPECT_EQ(Caption(4), Utf16ToUtf8(LanguageText(u"wheel_click_text")));
  EXPECT_FALSE(hinted(4));
  EXPECT_NE(unnamed, 3);

  dialogs_.shortcut = {{3, 0x16}};  // Ctrl+Shift+S
  Choose(2, "ms_1_shortcut");
  EXPECT_EQ(Entry(2).function_code, kFunctionShortcut);
  EXPECT_EQ(Entry(2).shortcut_modifiers, 3);
  EXPECT_EQ(Entry(2).shortcut_key, 0x16);
  EXPECT_EQ(Caption(2), "Ctrl+Shift+S");

  // Button 1 keeps the only left click until button 3 takes one.
  dialogs_.macro = {{0, 0, 1}};
  dialogs_.asked.clear();
  Choose(1, "ms_1_select_macro");
  EXPECT_EQ(dialogs_.asked, std::vector<std::string>{"warn one_click_text"});
  Choose(3, "ms_1_click");
  Choose(1, "ms_1_select_macro");
  Choose(7, "ms_1_select_macro");
  EXPECT_EQ(Entry(1).function_code, kFunctionMacro);
  EXPECT_EQ(Caption(7), Utf16ToUtf8(LanguageText(u"assign_macro_text")) + "Burst");
  ASSERT_TRUE(WaitForApply());
  ExpectMouseButtons();
  const auto macros = mouse_.State().Macros();
  ASSERT_EQ(macros.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(macros[i].slot, kMacroSlotBase[i == 0 ? 0 : 6]);
    EXPECT_EQ(macros[i].frames, 2);
    EXPECT_TRUE(macros[i].complete);
    // Without moves the mouse holds one item per unit: each step, and each long pause.
    EXPECT_EQ(int(macros[i].items.size()), ComputeMacroUnits(Entry(1).macro_actions, 40));
  }

  // Refused and cancelled choices change nothing and send nothing.
  const auto frames = mouse_.State().frame_counts;
  const ProfileRecord before = *wnd_->page().WorkingRecordCopy();
  dialogs_.asked.clear();
  Choose(3, "ms_1_menu");  // the last left click
  dialogs_.shortcut.reset();
  dialogs_.macro.reset();
  Choose(4, "ms_1_shortcut");
  Choose(4, "ms_1_select_macro");
  EXPECT_EQ(dialogs_.asked, (std::vector<std::string>{"warn one_click_text", "shortcut", "macro"}));
  EXPECT_EQ(Entry(3).function_code, 1);
  EXPECT_EQ(Entry(4).function_code, 3);
  EXPECT_EQ(Entry(1).function_code, before.button[0].function_code);
  AdvanceClock(2000);
  EXPECT_EQ(mouse_.State().frame_counts, frames);
}

// Confirming the shortcut dialog with neither key nor modifier counts as a cancel: the button's
// record, caption and mouse keep what it had, a shortcut or another function.
TEST_F(ButtonAssignmentTest, AnEmptyShortcutConfirmKeepsWhatTheButtonHad) {
  Start({Connection::kCable});
  wnd_->page().SetKeyText([](uint8_t usage) { return usage == 0x16 ? std::u16string(u"S") : std::u16string(u"?"); });
  dialogs_.shortcut = {{1, 0x16}};  // Ctrl+S
  Choose(2, "ms_1_shortcut");
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  for (int n : {2, 4}) {
    SCOPED_TRACE(n);
    const ProfileRecord before = *wnd_->page().WorkingRecordCopy();
    const std::string caption = Caption(n);
    dialogs_.shortcut = {{0, 0}};
    Choose(n, "ms_1_shortcut");
    ASSERT_TRUE(WaitForApply());
    EXPECT_EQ(std::memcmp(&Entry(n), &before.button[n - 1], sizeof(ButtonEntry)), 0);
    EXPECT_EQ(Caption(n), caption);
    ExpectMouseButtons();
  }
  EXPECT_EQ(Caption(2), "Ctrl+S");
}

// A stored macro that needs more frames than a button has slots is refused, nothing sent.
TEST_F(ButtonAssignmentTest, AMacroTooLongForTheButtonsSlotsIsRefused) {
  // 188 units, within the unit limit; a move that straddles each frame's end makes it five.
  std::vector<MacroAction> actions;
  for (int block = 0; block < 4; ++block) {
    for (int i = 0; i < (block ? 42 : 46); ++i) {
      MacroAction key{};
      key.code = 0x04;
      key.kind = uint8_t(i % 2 ? 2 : 1);
      key.delay = 10;
      actions.push_back(key);
    }
    MacroAction move{};
    move.code = kMacroCodeMove;
    move.kind = kMacroMove;
    move.delay = 200;
    move.x = 5;
    actions.push_back(move);
  }
  SeedMacro(actions);
  Start({Connection::kCable});
  const MacroRecord& m = *macros_->list()[0];
  ASSERT_LT(ComputeMacroUnits(m.actions, m.action_count), kMacroUnitLimit);
  ASSERT_GT(CountMacroFrames(m.actions, m.action_count), 4);
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  Choose(3, "ms_1_click");  // a second left click, so button 1 may take a macro
  ASSERT_TRUE(WaitForApply());
  dialogs_.macro = {{0, 0, 1}};
  dialogs_.asked.clear();
  Choose(1, "ms_1_select_macro");
  EXPECT_EQ(dialogs_.asked, (std::vector<std::string>{"macro", "warn macro_too_long_text"}));
  EXPECT_EQ(Entry(1).function_code, 1);
  AdvanceClock(2000);
  EXPECT_EQ(mouse_.State().Macros().size(), 0u);
}

// A button whose macro would start at slot 0 shares that slot with every other such button:
// its menu does not offer macros; the buttons with slots of their own do.
TEST_F(ButtonAssignmentTest, MacrosAreOfferedOnlyWhereAButtonHasSlotsOfItsOwn) {
  Start({Connection::kCable});
  for (int n = 1; n <= kMenuButtons; ++n) {
    SCOPED_TRACE(n);
    Click(("ms_1_btn_key_" + std::to_string(n)).c_str());
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    auto* macro = menu->findChild<QAction*>(QStringLiteral("ms_1_select_macro"));
    ASSERT_NE(macro, nullptr);
    EXPECT_EQ(macro->isVisible(), kMacroSlotBase[size_t(n - 1)] != 0);
    menu->close();
  }
}

}  // namespace
}  // namespace brevak::test
