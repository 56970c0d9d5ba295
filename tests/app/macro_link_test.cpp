// The macro editor opened from the page and its changes followed by the buttons that use the
// edited macros, in every profile, down to the simulated mouse (offscreen, virtual clock). The
// editor's session is scripted: it changes the library as the user would in the window.
#include <gtest/gtest.h>

#include <cstring>

#include "app_test_util.h"
#include "protocol/frames.h"

namespace brevak::test {
namespace {

constexpr int kOtherProfile = 1;

MacroRecord Burst(const char16_t* name) {
  MacroRecord m = MakeEmptyMacroRecord();
  SetFixed(m.name, name);
  m.action_count = 6;
  const MacroAction steps[] = {{0, 4, kMacroPress, 0, 20, 0, 0, 0},   {0, 4, kMacroRelease, 0, 300, 0, 0, 0},
                               {0, 241, kMacroPress, 0, 1, 0, 0, 0},  {0, 241, kMacroRelease, 0, 128, 0, 0, 0},
                               {0, 246, kMacroMove, 0, 5, 0, 40, -7}, {0, 5, kMacroPress, 0, 25000, 0, 0, 0}};
  std::copy(std::begin(steps), std::end(steps), m.actions);
  return m;
}

// What the mouse holds for a library macro: each step's item with its pause byte, and a long-delay
// item after each step whose pause is above 127.
std::vector<sim::MacroItem> AsMouseItems(const MacroRecord& m) {
  std::vector<sim::MacroItem> items;
  for (int i = 0; i < m.action_count; ++i) {
    const MacroAction& a = m.actions[i];
    sim::MacroItem item;
    item.kind = a.kind == kMacroMove ? sim::MacroItem::Kind::kMove
                : a.kind == kMacroPress ? sim::MacroItem::Kind::kPress
                                        : sim::MacroItem::Kind::kRelease;
    item.delay = uint8_t(std::max(a.delay <= 127 ? a.delay : a.delay % 100, 2));
    if (a.kind == kMacroMove) {
      item.x = int16_t(a.x);
      item.y = int16_t(a.y);
    } else {
      item.code = a.code;
    }
    items.push_back(item);
    if (a.delay > 127) {
      sim::MacroItem pause;
      pause.kind = sim::MacroItem::Kind::kLongDelay;
      pause.hundreds = uint8_t(a.delay / 100);
      items.push_back(pause);
    }
  }
  return items;
}

void Bind(ButtonEntry& b, const MacroRecord& m) {
  b.function_code = kFunctionMacro;
  b.macro_loop_count = 1;
  b.macro_list_index = 0;
  std::memcpy(b.macro_name, m.name, sizeof m.name);
  b.macro_action_count = uint16_t(m.action_count);
  std::memcpy(b.macro_actions, m.actions, sizeof m.actions);
}

class MacroLinkTest : public AppTest {
 protected:
  // "Burst" in the library, bound to buttons 1 and 7 of the selected profile and to button 2 of
  // a second one.
  void SetUp() override {
    AppTest::SetUp();
    MacroStore macros;
    macros.list().push_back(std::make_unique<MacroRecord>(Burst(u"Burst")));
    ASSERT_TRUE(macros.Save());
    ProfileStore profiles;
    profiles.Load();
    AddDefaultProfile(profiles.list());
    const MacroRecord& m = *macros.list()[0];
    Bind(profiles.list()[0]->button[0], m);
    Bind(profiles.list()[0]->button[6], m);
    Bind(profiles.list()[kOtherProfile]->button[1], m);
    ASSERT_TRUE(profiles.Save());
    Start({Connection::kCable});
    Click("ms_1_apply_btn");
    ASSERT_TRUE(WaitForApply());
  }
  const ButtonEntry& Entry(int profile, int n) {
    auto lock = profiles_->Lock();
    return profiles_->list()[size_t(profile)]->button[n - 1];
  }
  std::string Caption(int n) { return Find(("ms_1_btn_key_" + std::to_string(n)).c_str())->GetText().utf8(); }
};

TEST_F(MacroLinkTest, ARenamedMacroTurnsItsButtonsBackToTheirDefaultsInEveryProfile) {
  ASSERT_EQ(mouse_.State().buttons[0][0], 18);  // the macro assignment reached the mouse
  dialogs_.edit_macros = [](MacroStore& macros) {
    SetFixed(macros.list()[0]->name, u"Renamed");
    macros.Save();
  };
  Click("ms_1_btn_macro");
  EXPECT_EQ(dialogs_.asked, std::vector<std::string>{"macro editor"});
  for (auto [profile, n] : {std::pair{0, 1}, {0, 7}, {kOtherProfile, 2}}) {
    EXPECT_EQ(Entry(profile, n).function_code, kDefaultFunctionCodes[size_t(n - 1)]) << profile << "/" << n;
    EXPECT_EQ(Entry(profile, n).macro_action_count, 0);
    EXPECT_EQ(Entry(profile, n).macro_name[0], 0);
  }
  EXPECT_EQ(Caption(1), Utf16ToUtf8(LanguageText(u"left_click_text")));
  ASSERT_TRUE(WaitForApply());
  const Frame report = BuildButtonReport(*wnd_->page().WorkingRecordCopy());
  const sim::MouseState m = mouse_.State();
  for (size_t i = 0; i < kPageButtons; ++i)
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(m.buttons[i][k], report[3 + 3 * i + k]) << "button " << i + 1;
  // The other profile's buttons reach the file as well.
  ProfileStore again;
  again.Load();
  EXPECT_EQ(again.list()[kOtherProfile]->button[1].function_code, kDefaultFunctionCodes[1]);
}

TEST_F(MacroLinkTest, AnEditedMacroReachesTheMouseOnTheNextApplyAsTheLibraryHoldsIt) {
  MacroRecord edited = Burst(u"BURST");  // the same macro by name, other steps
  edited.actions[0].delay = 4321;
  edited.actions[4].x = -999;
  edited.action_count = 5;
  dialogs_.edit_macros = [&](MacroStore& macros) {
    *macros.list()[0] = edited;
    macros.Save();
  };
  const int before = FrameCount("macro");
  Click("ms_1_btn_macro");
  EXPECT_EQ(Entry(kOtherProfile, 2).macro_action_count, 5);
  EXPECT_EQ(Entry(kOtherProfile, 2).macro_actions[0].delay, 4321);
  EXPECT_EQ(Caption(7), Utf16ToUtf8(LanguageText(u"assign_macro_text")) + "BURST");
  ASSERT_TRUE(WaitForApply());
  EXPECT_GT(FrameCount("macro"), before);
  const auto stored = mouse_.State().Macros();
  ASSERT_EQ(stored.size(), 2u);
  for (const sim::StoredMacro& m : stored) {
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.items, AsMouseItems(edited)) << "slot " << m.slot;
  }

  // Nothing changed in the editor: nothing is sent.
  dialogs_.edit_macros = nullptr;
  const auto frames = mouse_.State().frame_counts;
  Click("ms_1_btn_macro");
  AdvanceClock(2000);
  EXPECT_EQ(mouse_.State().frame_counts, frames);
}

}  // namespace
}  // namespace brevak::test
