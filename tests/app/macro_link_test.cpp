// The macro editor opened from the page and its changes followed by the buttons that use the
// edited macros, in every profile, down to the simulated mouse (offscreen, virtual clock). The
// editor's session is scripted: it changes the library as the user would in the window.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>

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

// 188 units, within the unit limit; a move that straddles each frame's end makes it five frames.
MacroRecord FiveFrames(const char16_t* name) {
  MacroRecord m = MakeEmptyMacroRecord();
  SetFixed(m.name, name);
  for (int block = 0; block < 4; ++block) {
    for (int i = 0; i < (block ? 42 : 46); ++i) m.actions[m.action_count++] = {0, 4, uint8_t(i % 2 ? 2 : 1), 0, 10, 0, 0, 0};
    m.actions[m.action_count++] = {0, kMacroCodeMove, kMacroMove, 0, 200, 0, 5, 0};
  }
  return m;
}

// Burst's first `steps` steps under another name.
MacroRecord Steps(const char16_t* name, int steps) {
  MacroRecord m = Burst(name);
  m.action_count = steps;
  return m;
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

// The mouse goes while the editor is open: the buttons of the macro deleted there reach the file
// at once, not with an apply that no mouse answers.
TEST_F(MacroLinkTest, WithoutAMouseTheButtonsOfADeletedMacroAreResetOnDisk) {
  dialogs_.edit_macros = [&](MacroStore& macros) {
    mouse_.Unplug(Connection::kCable);
    RunUntilIdle();
    DeleteMacro(macros, 0);
  };
  Click("ms_1_btn_macro");
  RunUntilIdle();
  ASSERT_FALSE(wnd_->page().any_connected());
  ProfileStore on_disk;
  ASSERT_EQ(on_disk.Load(), StoreLoad::kLoaded);
  for (auto [profile, n] : {std::pair{0, 1}, {0, 7}, {kOtherProfile, 2}}) {
    const ButtonEntry& e = on_disk.list()[size_t(profile)]->button[n - 1];
    EXPECT_EQ(e.function_code, kDefaultFunctionCodes[size_t(n - 1)]) << profile << "/" << n;
    EXPECT_EQ(e.macro_name[0], 0);
  }
}

// After a macro before it is deleted, a button's stored list index names another macro: the
// selection dialog is given the button's macro by name.
TEST_F(MacroLinkTest, TheSelectionDialogIsGivenTheButtonsMacroByName) {
  dialogs_.edit_macros = [](MacroStore& macros) {
    auto first = std::make_unique<MacroRecord>(Burst(u"First"));
    macros.list().insert(macros.list().begin(), std::move(first));
    macros.Save();
  };
  Click("ms_1_btn_macro");
  ASSERT_EQ(Entry(0, 7).macro_list_index, 0) << "the stored index now names First";
  auto choose = [&](int n, const char* item) {
    Click(("ms_1_btn_key_" + std::to_string(n)).c_str());
    ::PostMessageW(wnd_->GetHWND(), WM_MENUCLICK, reinterpret_cast<WPARAM>(new MenuCmd{item, "", ""}), 0);
    RunUntilIdle();
  };
  choose(3, "ms_1_click");  // a left click, so button 7 may change
  ASSERT_TRUE(WaitForApply());
  choose(7, "ms_1_select_macro");
  EXPECT_EQ(dialogs_.asked.back(), "macro");
  EXPECT_EQ(dialogs_.shown_macro, u"Burst");
}

// A profile as another program could write it: macros on buttons 5 and 9, which have no slots of
// their own, a macro of five frames on button 1 (its fifth would land in button 2's first slot)
// and macros the mouse can take on buttons 3 and 7.
enum class Arrival { kImportedFile, kStoreAtStartUp };

class MacroRuleTest : public AppTest, public testing::WithParamInterface<Arrival> {};

TEST_P(MacroRuleTest, ButtonsKeepMacrosTheMouseCannotTakeAndSendNothingIntoOtherButtonsSlots) {
  const MacroRecord three = Steps(u"Three", 4), seven = Steps(u"Seven", 6);
  auto foreign = NewProfileRecord(u"Foreign");
  Bind(foreign->button[0], FiveFrames(u"Long"));
  Bind(foreign->button[2], three);
  Bind(foreign->button[4], Burst(u"Five"));
  Bind(foreign->button[6], seven);
  Bind(foreign->button[8], Burst(u"Nine"));
  foreign->button[1].function_code = 1;
  ASSERT_GT(BuildMacroReports(foreign->button[0], 1).size(), 4u);

  const std::filesystem::path file = root_ / "foreign.pro";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(foreign.get()), sizeof(ProfileRecord));
  if (GetParam() == Arrival::kStoreAtStartUp) {
    ProfileStore seed;
    seed.Load();
    seed.list().clear();
    seed.list().push_back(std::make_unique<ProfileRecord>(*foreign));
    seed.header().selected_profile = 0;
    ASSERT_TRUE(seed.Save());
  }
  Start({Connection::kCable});
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  if (GetParam() == Arrival::kImportedFile) {
    dialogs_.files.path = file;
    Click("ms_1_profile_import_btn");
    ASSERT_TRUE(WaitForApply());
  }
  RunUntilIdle();

  // Buttons 3 and 7 hold their own macros; no other slot holds anything.
  const sim::MouseState m = mouse_.State();
  std::set<int> written;
  for (const auto& [slot, frame] : m.macro_frames) written.insert(slot);
  EXPECT_EQ(written, (std::set<int>{kMacroSlotBase[2], kMacroSlotBase[6]}));
  const auto stored = m.Macros();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].items, AsMouseItems(three));
  EXPECT_EQ(stored[1].items, AsMouseItems(seven));
  const std::array<uint8_t, 3> off = {1, 0, 0};
  for (int n : {1, 5, 9}) EXPECT_EQ(m.buttons[size_t(n - 1)], off) << "button " << n;
  EXPECT_EQ(m.buttons[2], (std::array<uint8_t, 3>{18, 0, kMacroSlotBase[2]}));
  EXPECT_EQ(m.buttons[6], (std::array<uint8_t, 3>{18, 0, kMacroSlotBase[6]}));

  // The user is told once, of each of the three buttons and why.
  std::vector<std::string> told;
  for (const std::string& a : dialogs_.asked)
    if (a.rfind("warn These buttons keep their macro", 0) == 0) told.push_back(a);
  ASSERT_EQ(told.size(), 1u) << testing::PrintToString(dialogs_.asked);
  for (const char* line : {"Foreign, button 1, macro Long: This macro is too long",
                           "Foreign, button 5, macro Five: Only buttons 1 to 4, 7 and 8",
                           "Foreign, button 9, macro Nine: Only buttons 1 to 4, 7 and 8"})
    EXPECT_NE(told[0].find(line), std::string::npos) << line << " in " << told[0];
  EXPECT_EQ(told[0].find("button 3,"), std::string::npos);

  // Nothing stored was dropped: the profile holds the three macros as the file had them.
  const ProfileRecord working = *wnd_->page().WorkingRecordCopy();
  for (int n : {1, 5, 9}) {
    EXPECT_EQ(working.button[n - 1].function_code, kFunctionMacro) << "button " << n;
    EXPECT_EQ(working.button[n - 1].macro_action_count, foreign->button[n - 1].macro_action_count);
  }
  EXPECT_EQ(Find("ms_1_btn_key_1")->GetText().utf8(), "Macro: Long (not sent)");
}

INSTANTIATE_TEST_SUITE_P(Arrivals, MacroRuleTest,
                         testing::Values(Arrival::kImportedFile, Arrival::kStoreAtStartUp),
                         [](const auto& p) {
                           return std::string(p.param == Arrival::kImportedFile ? "ImportedFile"
                                                                                   : "StoreAtStartUp");
                         });

// The library lost at start-up (cut in the middle, or a folder in its place): the editor opened
// and closed keeps every button's macro, and the library gets them back from the buttons.
enum class LibraryLoss { kCutInTheMiddle, kFolderInItsPlace };

class LostLibraryTest : public AppTest, public testing::WithParamInterface<LibraryLoss> {};

TEST_P(LostLibraryTest, TheEditorKeepsEveryButtonsMacroAndTheLibraryHoldsThemAgain) {
  MacroRecord other = Steps(u"Other", 4);
  other.actions[1].delay = 777;
  {
    MacroStore macros;
    macros.list().push_back(std::make_unique<MacroRecord>(Burst(u"Burst")));
    macros.list().push_back(std::make_unique<MacroRecord>(other));
    ASSERT_TRUE(macros.Save());
    ProfileStore profiles;
    profiles.Load();
    AddDefaultProfile(profiles.list());
    Bind(profiles.list()[0]->button[0], *macros.list()[0]);
    Bind(profiles.list()[0]->button[6], *macros.list()[1]);
    profiles.list()[0]->button[6].macro_repeat_mode = 2;
    profiles.list()[0]->button[6].macro_loop_count = 9;
    Bind(profiles.list()[kOtherProfile]->button[1], *macros.list()[1]);
    Bind(profiles.list()[kOtherProfile]->button[2], *macros.list()[0]);
    ASSERT_TRUE(profiles.Save());
  }
  ProfileStore before;
  ASSERT_EQ(before.Load(), StoreLoad::kLoaded);
  if (GetParam() == LibraryLoss::kCutInTheMiddle) {
    std::filesystem::resize_file(MacroStorePath(), sizeof(MacroRecord) * 3 / 2);
  } else {
    std::filesystem::remove(MacroStorePath());
    std::filesystem::create_directory(MacroStorePath());
  }
  Start({Connection::kCable});
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  Click("ms_1_btn_macro");
  ASSERT_TRUE(WaitForApply());
  RunUntilIdle();

  {
    auto lock = profiles_->Lock();
    ASSERT_EQ(profiles_->list().size(), before.list().size());
    for (size_t p = 0; p < before.list().size(); ++p)
      for (int n = 1; n <= kPageButtons; ++n)
        EXPECT_EQ(std::memcmp(&profiles_->list()[p]->button[n - 1], &before.list()[p]->button[n - 1], sizeof(ButtonEntry)), 0)
            << "profile " << p << ", button " << n;
  }
  MacroStore library;
  ASSERT_EQ(library.Load(), StoreLoad::kLoaded);
  ASSERT_EQ(library.list().size(), 2u);
  const MacroRecord burst = Burst(u"Burst");
  for (const MacroRecord* m : std::initializer_list<const MacroRecord*>{&burst, &other}) {
    const int i = MatchButtonMacro(library.list(), [&] {
      ButtonEntry e{};
      std::memcpy(e.macro_name, m->name, sizeof m->name);
      return e;
    }());
    ASSERT_GE(i, 0) << Utf16ToUtf8(FixedToString(m->name));
    EXPECT_EQ(library.list()[size_t(i)]->action_count, m->action_count);
    EXPECT_EQ(std::memcmp(library.list()[size_t(i)]->actions, m->actions, sizeof m->actions), 0);
  }
  const bool told = std::any_of(dialogs_.asked.begin(), dialogs_.asked.end(), [](const std::string& a) {
    return a.rfind("warn The macro library lacked macros", 0) == 0 && a.find("Other") != std::string::npos;
  });
  EXPECT_TRUE(told) << testing::PrintToString(dialogs_.asked);
}

INSTANTIATE_TEST_SUITE_P(Losses, LostLibraryTest,
                         testing::Values(LibraryLoss::kCutInTheMiddle, LibraryLoss::kFolderInItsPlace),
                         [](const auto& p) {
                           return std::string(p.param == LibraryLoss::kCutInTheMiddle ? "CutInTheMiddle"
                                                                                         : "FolderInItsPlace");
                         });

}  // namespace
}  // namespace brevak::test
