#include "store/macro_store.h"

#include <gtest/gtest.h>

#include <cstring>

#include <fstream>

#include "platform/text.h"
#include "store_test_util.h"

namespace brevak {
namespace {

namespace fs = std::filesystem;
using MacroStoreTest = test::DataFolderTest;

MacroRecord* Named(MacroStore& s, std::u16string_view name, int steps) {
  MacroRecord* m = AddMacro(s);
  SetFixed(m->name, name);
  m->action_count = steps;
  for (int i = 0; i < steps; ++i) {
    m->actions[i].kind = uint8_t(1 + i % 2);
    m->actions[i].code = uint8_t(4 + i);
    m->actions[i].delay = uint16_t(10 * i);
  }
  s.Save();
  return m;
}

TEST_F(MacroStoreTest, AddDeleteAndReload) {
  MacroStore store;
  EXPECT_EQ(store.Load(), StoreLoad::kLoaded);
  EXPECT_TRUE(store.list().empty());
  EXPECT_FALSE(fs::exists(store.file()));  // a missing library creates no file

  MacroRecord* m = AddMacro(store);
  EXPECT_EQ(FixedToString(m->name), u"add_macro_text1");
  EXPECT_EQ(fs::file_size(store.file()), 3096u);
  AddMacro(store);
  EXPECT_EQ(FixedToString(store.list()[1]->name), u"add_macro_text2");

  EXPECT_FALSE(DeleteMacro(store, 2));
  EXPECT_FALSE(DeleteMacro(store, -1));
  EXPECT_TRUE(DeleteMacro(store, 0));
  EXPECT_EQ(FixedToString(store.list()[0]->name), u"add_macro_text2");
  EXPECT_TRUE(DeleteMacro(store, 0));
  EXPECT_EQ(fs::file_size(store.file()), 0u);
  MacroStore again;
  again.Load();
  EXPECT_TRUE(again.list().empty());
}

TEST_F(MacroStoreTest, CutLastRecordIsRepairedAndKeptAside) {
  MacroStore store;
  Named(store, u"one", 3);
  Named(store, u"two", 4);
  fs::resize_file(store.file(), 3096 + 100);
  MacroStore again;
  EXPECT_EQ(again.Load(), StoreLoad::kRepaired);
  ASSERT_EQ(again.list().size(), 1u);
  EXPECT_EQ(FixedToString(again.list()[0]->name), u"one");
  EXPECT_EQ(fs::file_size(again.damaged_copy()), 3196u);
  EXPECT_EQ(fs::file_size(again.file()), 3096u);
}

TEST_F(MacroStoreTest, MatchIgnoresCase) {
  MacroStore store;
  Named(store, u"Fire", 2);
  Named(store, u"\u00C9clair", 2);
  ButtonEntry e{};
  SetFixed(e.macro_name, u"fIRE");
  EXPECT_EQ(MatchButtonMacro(store.list(), e), 0);
  SetFixed(e.macro_name, u"\u00E9CLAIR");
  EXPECT_EQ(MatchButtonMacro(store.list(), e), 1);
  SetFixed(e.macro_name, u"none");
  EXPECT_EQ(MatchButtonMacro(store.list(), e), -1);
  EXPECT_EQ(MatchButtonMacro(MacroList{}, e), -1);
}

TEST_F(MacroStoreTest, ButtonCopiesFollowTheLibrary) {
  MacroStore store;
  Named(store, u"Fire", 3);
  Named(store, u"Jump", 2);
  ProfileList profiles;
  for (int p = 0; p < 2; ++p) profiles.push_back(NewProfileRecord(u"p"));
  auto bind = [&](ProfileRecord& r, int slot, const MacroRecord& m) {
    ButtonEntry& b = r.button[slot];
    b.function_code = kFunctionMacro;
    b.macro_loop_count = 4;
    b.macro_repeat_mode = 1;
    b.macro_list_index = 0;
    std::memcpy(b.macro_name, m.name, sizeof b.macro_name);
    b.macro_action_count = uint16_t(m.action_count);
    std::memcpy(b.macro_actions, m.actions, sizeof b.macro_actions);
  };
  bind(*profiles[0], 2, *store.list()[0]);
  bind(*profiles[1], 7, *store.list()[0]);
  bind(*profiles[1], 1, *store.list()[1]);
  bind(*profiles[1], 14, *store.list()[1]);  // beyond the 12 assignable buttons: left alone

  // Edit Fire's steps and rename Jump.
  store.list()[0]->actions[1].delay = 999;
  store.list()[0]->action_count = 2;
  SetFixed(store.list()[1]->name, u"Leap");

  const std::vector<std::u16string> gone = GoneMacroNames({u"Fire", u"Jump"}, store.list());
  EXPECT_EQ(gone, std::vector<std::u16string>{u"Jump"});
  const MacroSync first = SyncButtonMacros(profiles, store.list(), 1, gone);
  EXPECT_TRUE(first.current_changed && first.any_changed);
  const MacroSync again = SyncButtonMacros(profiles, store.list(), 0, gone);
  EXPECT_FALSE(again.current_changed || again.any_changed) << "nothing left to change";
  for (auto* b : {&profiles[0]->button[2], &profiles[1]->button[7]}) {
    EXPECT_EQ(b->function_code, kFunctionMacro);
    EXPECT_EQ(b->macro_action_count, 2);
    EXPECT_EQ(b->macro_actions[1].delay, 999);
    EXPECT_EQ(b->macro_loop_count, 4);  // the button's own choices stay
    EXPECT_EQ(b->macro_repeat_mode, 1);
  }
  const ButtonEntry& reset = profiles[1]->button[1];
  EXPECT_EQ(reset.function_code, kDefaultFunctionCodes[1]);
  EXPECT_EQ(reset.macro_list_index, -1);
  EXPECT_EQ(reset.macro_action_count, 0);
  EXPECT_EQ(FixedToString(reset.macro_name), u"");
  EXPECT_EQ(reset.macro_actions[0].code, 0);
  EXPECT_EQ(reset.reserved_8, 0);  // bytes 3..1071 are cleared with the rest of the binding
  EXPECT_EQ(profiles[1]->button[14].function_code, kFunctionMacro);
}

// What the buttons hold and the library lacks goes back into it: each name once, a second copy
// with other steps under a name of its own (its button follows), never a name the user deleted
// or renamed, never from a button that no longer has the macro function.
TEST(RestoreButtonMacros, PutsBackWhatOnlyButtonsHold) {
  auto macro = [](std::u16string_view name, int steps, uint16_t delay) {
    ButtonEntry e{};
    e.function_code = kFunctionMacro;
    SetFixed(e.macro_name, name);
    e.macro_loop_count = 3;
    e.macro_action_count = uint16_t(steps);
    for (int i = 0; i < steps; ++i) e.macro_actions[i] = {0, uint8_t(4 + i), uint8_t(1 + i % 2), 0, delay, 0, 0, 0};
    return e;
  };
  ProfileList profiles;
  for (int p = 0; p < 2; ++p) profiles.push_back(NewProfileRecord(u"p"));
  profiles[0]->button[0] = macro(u"Fire", 2, 10);
  profiles[0]->button[6] = macro(u"Kept", 2, 10);    // the library still has it
  profiles[1]->button[1] = macro(u"FIRE", 2, 10);    // the same macro again
  profiles[1]->button[2] = macro(u"Fire", 3, 50);    // the same name, other steps
  profiles[1]->button[3] = macro(u"Deleted", 2, 10);
  profiles[1]->button[7] = macro(u"Stale", 2, 10);
  profiles[1]->button[7].function_code = 1;         // no longer a macro button
  profiles[1]->button[14] = macro(u"Beyond", 2, 10);  // past the 12 buttons the re-link keeps
  MacroList library;
  library.push_back(std::make_unique<MacroRecord>(MakeEmptyMacroRecord()));
  SetFixed(library[0]->name, u"Kept");
  library[0]->action_count = 2;
  std::memcpy(library[0]->actions, profiles[0]->button[6].macro_actions, sizeof library[0]->actions);

  const auto restored = RestoreButtonMacros(profiles, library, {u"deleted"});
  EXPECT_EQ(restored, (std::vector<std::u16string>{u"Fire", u"Fire_1"}));
  ASSERT_EQ(library.size(), 3u);
  EXPECT_EQ(library[1]->action_count, 2);
  EXPECT_EQ(library[1]->loop_count, 3);
  EXPECT_EQ(std::memcmp(library[1]->actions, profiles[0]->button[0].macro_actions, sizeof library[1]->actions), 0);
  EXPECT_EQ(library[2]->action_count, 3);
  EXPECT_EQ(FixedToString(profiles[1]->button[2].macro_name), u"Fire_1");
  EXPECT_EQ(profiles[1]->button[2].macro_action_count, 3) << "its own steps stay";
  EXPECT_EQ(FixedToString(profiles[1]->button[1].macro_name), u"FIRE");

  // The re-link then leaves every one of them as it was, and resets the deleted one.
  const auto kept = std::make_unique<ProfileRecord>(*profiles[0]);
  const MacroSync sync = SyncButtonMacros(profiles, library, 0, {u"Deleted"});
  EXPECT_FALSE(sync.current_changed);
  EXPECT_TRUE(sync.any_changed);
  EXPECT_EQ(std::memcmp(profiles[0].get(), kept.get(), sizeof(ProfileRecord)), 0);
  EXPECT_EQ(profiles[1]->button[3].function_code, kDefaultFunctionCodes[3]);
  EXPECT_EQ(FixedToString(profiles[1]->button[7].macro_name), u"Stale");
}

}  // namespace
}  // namespace brevak
