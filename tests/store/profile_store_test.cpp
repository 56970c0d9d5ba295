#include "store/profile_store.h"

#include <gtest/gtest.h>

#include <cstring>

#include <fstream>

#include "platform/text.h"
#include "store/names.h"
#include "store_test_util.h"

namespace brevak {
namespace {

namespace fs = std::filesystem;
using test::DataFolderTest;

using ProfileStoreTest = DataFolderTest;

void WriteBytes(const fs::path& p, const std::vector<uint8_t>& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> StoreImage(int32_t selected, const std::vector<std::u16string>& names, size_t cut = 0) {
  std::vector<uint8_t> bytes(sizeof(ProfileStoreHeader), 0);
  std::memcpy(bytes.data(), &selected, 4);
  for (const auto& n : names) {
    auto r = NewProfileRecord(n);
    auto* p = reinterpret_cast<const uint8_t*>(r.get());
    bytes.insert(bytes.end(), p, p + sizeof(ProfileRecord));
  }
  bytes.erase(bytes.end() - std::ptrdiff_t(cut), bytes.end());
  return bytes;
}

std::vector<std::u16string> Names(const ProfileStore& s) {
  std::vector<std::u16string> out;
  for (const auto& r : s.list()) out.push_back(FixedToString(r->name));
  return out;
}

TEST_F(ProfileStoreTest, FirstRunCreatesFoldersAndOneDefaultProfile) {
  ProfileStore store;
  EXPECT_EQ(store.file(), data_ / "ms_1" / "pro.data");
  EXPECT_EQ(store.Load(), StoreLoad::kFirstRun);
  EXPECT_EQ(SizeOf(store.file()), 609268u);
  ASSERT_EQ(store.list().size(), 1u);
  EXPECT_EQ(store.header().selected_profile, 0);
  // Without a language table the key stands for its text.
  EXPECT_EQ(FixedToString(store.list()[0]->name), u"add_profile_text1");
  EXPECT_FALSE(fs::exists(data_ / "ms_1" / "pro.data.damaged"));
}

TEST_F(ProfileStoreTest, DataFolderFollowsTheEnvironmentAndIsCreated) {
  EXPECT_EQ(GetDataFolder(), data_);
  EXPECT_TRUE(fs::is_directory(data_));
  unsetenv("BREVAK_DATA_DIR");
  const char* old_xdg = std::getenv("XDG_DATA_HOME");
  const std::string saved = old_xdg ? old_xdg : "";
  setenv("XDG_DATA_HOME", (root_ / "xdg").c_str(), 1);
  EXPECT_EQ(GetDataFolder(), root_ / "xdg" / "brevak" / "Data");
  EXPECT_TRUE(fs::is_directory(root_ / "xdg" / "brevak" / "Data"));
  if (old_xdg) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  // The program folder is where the drivers are looked for, with its separator.
  const std::u16string program = GetProgramFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.back(), u'/');
}

TEST_F(ProfileStoreTest, ThreeProfilesRoundTripWithSelectionAndReservedBlock) {
  ProfileStore store;
  store.Load();
  AddDefaultProfile(store.list());
  AddDefaultProfile(store.list());
  SetFixed(store.list()[1]->name, u"Fp\u00E4s");
  store.header().selected_profile = 2;
  for (size_t i = 0; i < kReservedBlockBytes; ++i) store.header().reserved_block[i] = uint8_t(i * 7);
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(SizeOf(store.file()), 812356u);

  ProfileStore again;
  EXPECT_EQ(again.Load(), StoreLoad::kLoaded);
  EXPECT_EQ(Names(again), (std::vector<std::u16string>{u"add_profile_text1", u"Fp\u00E4s", u"add_profile_text3"}));
  EXPECT_EQ(again.header().selected_profile, 2);
  EXPECT_EQ(std::memcmp(again.header().reserved_block, store.header().reserved_block, kReservedBlockBytes), 0);
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(SameProfileBytes(*again.list()[i], *store.list()[i]));
}

TEST_F(ProfileStoreTest, DamagedStoresKeepEveryWholeRecordAndTheOriginal) {
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    std::vector<std::u16string> expect_names;
    int32_t expect_selected;
  };
  const std::vector<Case> cases = {
      {"empty file", {}, {u"add_profile_text1"}, 0},
      {"header only", StoreImage(0, {}), {u"add_profile_text1"}, 0},
      {"cut last record", StoreImage(1, {u"a", u"b", u"c"}, 1000), {u"a", u"b"}, 1},
      {"selection past the end", StoreImage(5, {u"a", u"b"}), {u"a", u"b"}, 0},
      {"negative selection", StoreImage(-1, {u"a"}), {u"a"}, 0},
  };
  for (const auto& c : cases) {
    fs::remove_all(data_);
    const fs::path file = data_ / "ms_1" / "pro.data";
    WriteBytes(file, c.image);
    ProfileStore store;
    EXPECT_EQ(store.Load(), StoreLoad::kRepaired) << c.what;
    EXPECT_EQ(Names(store), c.expect_names) << c.what;
    EXPECT_EQ(store.header().selected_profile, c.expect_selected) << c.what;
    // The original bytes are kept aside, and the store on disk is valid again.
    ASSERT_EQ(store.damaged_copy(), data_ / "ms_1" / "pro.data.damaged") << c.what;
    std::ifstream kept(store.damaged_copy(), std::ios::binary);
    std::vector<uint8_t> kept_bytes((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_EQ(kept_bytes, c.image) << c.what;
    ProfileStore reloaded;
    EXPECT_EQ(reloaded.Load(), StoreLoad::kLoaded) << c.what;
    EXPECT_EQ(Names(reloaded), c.expect_names) << c.what;
  }
}

TEST_F(ProfileStoreTest, PendingListChangesAreSavedOnlyWhenTheListChanged) {
  ProfileStore store;
  store.Load();
  const auto before = fs::last_write_time(store.file());
  store.header().selected_profile = 0;  // a selection alone is not a list change
  EXPECT_TRUE(store.SavePendingListChanges());
  EXPECT_EQ(fs::last_write_time(store.file()), before);

  AddDefaultProfile(store.list());
  store.MarkListChanged();
  EXPECT_TRUE(store.SavePendingListChanges());
  EXPECT_FALSE(store.list_changed());
  ProfileStore again;
  again.Load();
  EXPECT_EQ(again.list().size(), 2u);
}

TEST_F(ProfileStoreTest, FailedSaveLeavesTheOldStore) {
  ProfileStore store;
  store.Load();
  AddDefaultProfile(store.list());
  fs::permissions(data_ / "ms_1", fs::perms::owner_read | fs::perms::owner_exec);
  const bool saved = store.Save();
  fs::permissions(data_ / "ms_1", fs::perms::owner_all);
  if (geteuid() != 0) {
    EXPECT_FALSE(saved);  // root writes anyway
  }
  ProfileStore again;
  again.Load();
  EXPECT_EQ(again.list().size(), saved ? 2u : 1u);
}

TEST(UniqueNames, CaseInsensitiveSuffixes) {
  std::vector<std::u16string> names = {u"Game"};
  EXPECT_EQ(MakeUniqueName(names, u"GAME", 99), u"GAME_1");
  EXPECT_EQ(MakeUniqueName(names, u"Other", 99), u"Other");
  names.push_back(u"Game_1");
  EXPECT_EQ(MakeUniqueName(names, u"Game", 99), u"Game_2");
  EXPECT_EQ(MakeUniqueName(std::vector<std::u16string>{u"\u00C4rger"}, u"\u00E4RGER", 99), u"\u00E4RGER_1");
  EXPECT_EQ(MakeUniqueName(std::vector<std::u16string>{u"\u0416\u0443\u043A"}, u"\u0436\u0423\u043A", 99),
            u"\u0436\u0423\u043A_1");
}

TEST(UniqueNames, SuffixedNamesAreShortenedToFitTheField) {
  const std::u16string full(23, u'x');
  std::vector<std::u16string> names = {full};
  EXPECT_EQ(MakeUniqueName(names, full, 23), std::u16string(21, u'x') + u"_1");
  names.push_back(std::u16string(21, u'x') + u"_1");
  EXPECT_EQ(MakeUniqueName(names, full, 23), std::u16string(21, u'x') + u"_2");
  for (int k = 2; k <= 9; ++k) names.push_back(std::u16string(21, u'x') + u"_" + Utf8ToUtf16(std::to_string(k)));
  EXPECT_EQ(MakeUniqueName(names, full, 23), std::u16string(20, u'x') + u"_10");
  // A base longer than the field is cut even without a collision.
  EXPECT_EQ(MakeUniqueName(std::vector<std::u16string>{}, std::u16string(40, u'y'), 23), std::u16string(23, u'y'));
}

}  // namespace
}  // namespace brevak
