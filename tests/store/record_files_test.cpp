#include "store/record_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include <fstream>

#include "platform/text.h"
#include "store/file_io.h"
#include "store_test_util.h"

namespace brevak {
namespace {

namespace fs = std::filesystem;
using RecordFilesTest = test::DataFolderTest;

MacroRecord MakeMacro(std::u16string_view name, int steps) {
  MacroRecord m{};
  SetFixed(m.name, name);
  m.action_count = steps;
  m.loop_count = 3;
  for (int i = 0; i < steps; ++i) {
    m.actions[i].kind = uint8_t(1 + i % 2);
    m.actions[i].code = uint8_t(4 + i);
    m.actions[i].delay = uint16_t(100 + i);
  }
  return m;
}

void BindMacro(ButtonEntry& b, const MacroRecord& m) {
  b.function_code = kFunctionMacro;
  std::memcpy(b.macro_name, m.name, sizeof b.macro_name);
  b.macro_action_count = uint16_t(m.action_count);
  b.macro_loop_count = 2;
  std::memcpy(b.macro_actions, m.actions, sizeof b.macro_actions);
}

TEST_F(RecordFilesTest, MacroImportRenamesCollisionsAndKeepsSteps) {
  MacroStore macros;
  macros.list().push_back(std::make_unique<MacroRecord>(MakeMacro(u"fire", 1)));
  const MacroRecord fire = MakeMacro(u"Fire", 6);
  const fs::path file = root_ / "fire.macro";
  ASSERT_TRUE(ExportMacro(fire, file));
  EXPECT_EQ(fs::file_size(file), 3096u);

  EXPECT_EQ(ImportMacro(macros, file), ImportResult::kImported);
  EXPECT_EQ(ImportMacro(macros, file), ImportResult::kImported);
  ASSERT_EQ(macros.list().size(), 3u);
  EXPECT_EQ(FixedToString(macros.list()[1]->name), u"Fire_1");
  EXPECT_EQ(FixedToString(macros.list()[2]->name), u"Fire_2");
  for (int i : {1, 2}) {
    EXPECT_EQ(std::memcmp(macros.list()[i]->actions, fire.actions, sizeof fire.actions), 0);
    EXPECT_EQ(macros.list()[i]->loop_count, 3);
  }
  EXPECT_EQ(fs::file_size(macros.file()), 3u * 3096);
}

TEST_F(RecordFilesTest, ProfileExportThenImportRecreatesItsMacros) {
  ProfileStore profiles;
  profiles.Load();
  MacroStore macros;
  macros.Load();
  ProfileRecord& p = *profiles.list()[0];
  SetFixed(p.name, u"Game");
  macros.list().push_back(std::make_unique<MacroRecord>(MakeMacro(u"Fire", 4)));
  BindMacro(p.button[0], *macros.list()[0]);
  BindMacro(p.button[6], *macros.list()[0]);  // the same macro on two buttons: two new macros
  const fs::path file = root_ / "game.pro";
  ASSERT_TRUE(ExportProfile(p, file));
  EXPECT_EQ(fs::file_size(file), 101544u);

  int index = -1;
  ASSERT_EQ(ImportProfile(profiles, macros, file, &index), ImportResult::kImported);
  ASSERT_EQ(index, 1);
  const ProfileRecord& imported = *profiles.list()[1];
  EXPECT_EQ(FixedToString(imported.name), u"Game_1");
  EXPECT_TRUE(profiles.list_changed());
  ASSERT_EQ(macros.list().size(), 3u);
  EXPECT_EQ(FixedToString(macros.list()[1]->name), u"Fire_1");
  EXPECT_EQ(FixedToString(macros.list()[2]->name), u"Fire_2");
  EXPECT_EQ(FixedToString(imported.button[0].macro_name), u"Fire_1");
  EXPECT_EQ(FixedToString(imported.button[6].macro_name), u"Fire_2");
  EXPECT_EQ(imported.button[0].macro_list_index, 1);
  EXPECT_EQ(imported.button[6].macro_list_index, 2);
  EXPECT_EQ(macros.list()[1]->loop_count, 2);
  EXPECT_EQ(macros.list()[1]->action_count, 4);
  EXPECT_EQ(std::memcmp(macros.list()[2]->actions, p.button[6].macro_actions, 3040), 0);
  EXPECT_EQ(fs::file_size(macros.file()), 3u * 3096);  // saved (the original macro was never saved)
}

TEST_F(RecordFilesTest, ProfileWithoutMacrosLeavesTheLibraryFileAlone) {
  ProfileStore profiles;
  profiles.Load();
  MacroStore macros;
  macros.Load();
  const fs::path file = root_ / "plain.pro";
  ASSERT_TRUE(ExportProfile(*profiles.list()[0], file));
  EXPECT_EQ(ImportProfile(profiles, macros, file), ImportResult::kImported);
  EXPECT_FALSE(fs::exists(macros.file()));
  EXPECT_TRUE(macros.list().empty());
}

TEST_F(RecordFilesTest, BadFilesAreRefusedBeforeAnythingIsAdded) {
  ProfileStore profiles;
  profiles.Load();
  MacroStore macros;
  macros.Load();
  auto good = NewProfileRecord(u"ok");
  BindMacro(good->button[1], MakeMacro(u"m", 3));

  int written = 0;
  auto write_profile = [&](auto mutate) {
    auto r = std::make_unique<ProfileRecord>(*good);
    mutate(*r);
    fs::path f = root_ / ("bad" + std::to_string(written++) + ".pro");
    ExportProfile(*r, f);
    return f;
  };
  std::vector<fs::path> bad_profiles = {
      write_profile([](ProfileRecord& r) { std::fill(std::begin(r.name), std::end(r.name), u'n'); }),
      write_profile([](ProfileRecord& r) {
        std::fill(std::begin(r.button[1].macro_name), std::end(r.button[1].macro_name), u'm');
      }),
      write_profile([](ProfileRecord& r) { r.button[1].macro_action_count = 191; }),
      write_profile([](ProfileRecord& r) {  // 64 slow moves: 256 units
        for (int i = 0; i < 64; ++i) r.button[1].macro_actions[i] = MacroAction{0, kMacroCodeMove, kMacroMove, 0, 500, 0, 1, 1};
        r.button[1].macro_action_count = 64;
      }),
  };
  for (size_t i = 0; i < bad_profiles.size(); ++i)
    EXPECT_EQ(ImportProfile(profiles, macros, bad_profiles[i]), ImportResult::kNotAProfile) << i;
  // Wrong lengths, a macro file offered as a profile, and a missing file.
  fs::path short_file = root_ / "short.pro";
  ASSERT_TRUE(ExportProfile(*good, short_file));
  fs::resize_file(short_file, 101543);
  EXPECT_EQ(ImportProfile(profiles, macros, short_file), ImportResult::kNotAProfile);
  fs::path macro_file = root_ / "x.macro";
  ASSERT_TRUE(ExportMacro(MakeMacro(u"x", 1), macro_file));
  EXPECT_EQ(ImportProfile(profiles, macros, macro_file), ImportResult::kNotAProfile);
  EXPECT_EQ(ImportProfile(profiles, macros, root_ / "missing.pro"), ImportResult::kUnreadable);
  // A pipe or a device chosen in the dialog is refused without waiting on it or reading on.
  ASSERT_EQ(::mkfifo((root_ / "pipe.pro").c_str(), 0644), 0);
  alarm(30);
  for (const fs::path& odd : {root_ / "pipe.pro", fs::path("/dev/zero")}) {
    EXPECT_EQ(ImportProfile(profiles, macros, odd), ImportResult::kUnreadable) << odd;
    EXPECT_EQ(ImportMacro(macros, odd), ImportResult::kUnreadable) << odd;
  }
  alarm(0);

  MacroRecord unterminated = MakeMacro(u"x", 1);
  std::fill(std::begin(unterminated.name), std::end(unterminated.name), u'x');
  ExportMacro(unterminated, root_ / "u.macro");
  EXPECT_EQ(ImportMacro(macros, root_ / "u.macro"), ImportResult::kNotAMacro);
  MacroRecord too_many = MakeMacro(u"x", 1);
  too_many.action_count = 191;
  ExportMacro(too_many, root_ / "n.macro");
  EXPECT_EQ(ImportMacro(macros, root_ / "n.macro"), ImportResult::kNotAMacro);
  MacroRecord negative = MakeMacro(u"x", 1);
  negative.action_count = -1;
  ExportMacro(negative, root_ / "neg.macro");
  EXPECT_EQ(ImportMacro(macros, root_ / "neg.macro"), ImportResult::kNotAMacro);
  EXPECT_EQ(ImportMacro(macros, short_file), ImportResult::kNotAMacro);

  EXPECT_EQ(profiles.list().size(), 1u);
  EXPECT_FALSE(profiles.list_changed());
  EXPECT_TRUE(macros.list().empty());
  EXPECT_FALSE(fs::exists(macros.file()));
}

}  // namespace
}  // namespace brevak
