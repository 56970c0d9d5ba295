// Whatever sits where a store file belongs, loading neither hangs nor loses it: the original is
// kept under a name no earlier one has, and the user is told once.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>

#include "store/macro_store.h"
#include "store/profile_store.h"
#include "store_test_util.h"

namespace brevak {
namespace {

namespace fs = std::filesystem;
using OddStoreFileTest = test::DataFolderTest;

// A store loaded afresh from `file`: the events of its load.
using LoadStore = std::function<std::vector<StoreEvent>(const fs::path& file)>;

std::vector<StoreEvent> LoadProfiles(const fs::path& file) {
  ProfileStore s(file);
  s.Load();
  EXPECT_FALSE(s.list().empty());
  EXPECT_LE(s.list().size(), kMaxStoredProfiles);
  EXPECT_LT(size_t(s.header().selected_profile), s.list().size());
  return s.TakeEvents();
}

std::vector<StoreEvent> LoadMacros(const fs::path& file) {
  MacroStore s(file);
  s.Load();
  EXPECT_LE(s.list().size(), kMaxStoredMacros);
  return s.TakeEvents();
}

ino_t InodeOf(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

void WriteText(const fs::path& p, const char* text) { std::ofstream(p) << text; }

void MakeSparseGiB(const fs::path& p) {
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t(1) << 30), 0);
  ::close(fd);
}

TEST_F(OddStoreFileTest, EveryOriginalIsKeptUnderAFreshNameWithoutHanging) {
  struct Odd {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* tag;  // of the name it is kept under, which tells the event
  };
  const bool root = geteuid() == 0;  // root reads a file of mode 000: it is then only damaged
  const std::vector<Odd> odds = {
      {"file of mode 000", [](const fs::path& p) { WriteText(p, "x"), fs::permissions(p, fs::perms::none); },
       root ? "damaged" : "unreadable"},
      {"named pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, "unreadable"},
      {"folder", [](const fs::path& p) { fs::create_directory(p), WriteText(p / "inside", "x"); }, "unreadable"},
      {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, "unreadable"},
      {"link to nothing", [](const fs::path& p) { fs::create_symlink("gone", p); }, "unreadable"},
      {"sparse file of 1 GiB", MakeSparseGiB, "too-large"},
  };
  const std::map<std::string, StoreEventKind> kinds = {{"damaged", StoreEventKind::kRepaired},
                                                       {"unreadable", StoreEventKind::kMovedAside},
                                                       {"too-large", StoreEventKind::kTooLarge}};
  const std::vector<std::pair<std::string, LoadStore>> stores = {{"pro.data", LoadProfiles}, {"macro.data", LoadMacros}};
  for (const auto& [name, load] : stores) {
    for (const auto& odd : odds) {
      SCOPED_TRACE(name + ", " + odd.what);
      fs::remove_all(data_);
      const fs::path dir = data_ / "ms_1", file = dir / name;
      fs::create_directories(dir);
      // What killed saves and copies left is removed; a user's file of a similar name stays.
      for (const char* left : {".Ab12Cd", ".damaged.Xy34Zw", ".notes"}) WriteText(dir / ("." + name + left), "x");

      // Two in a row: the second never replaces the first.
      std::vector<std::pair<fs::path, ino_t>> kept;
      for (const char* suffix : {"", ".1"}) {
        fs::remove(file);
        odd.make(file);
        const ino_t original = InodeOf(file);
        alarm(60);  // a load that hangs fails the test instead of stalling it
        const std::vector<StoreEvent> events = load(file);
        alarm(0);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].kind, kinds.at(odd.tag));
        EXPECT_EQ(events[0].file, file);
        EXPECT_FALSE(events[0].reason.empty());
        EXPECT_EQ(events[0].kept_as, dir / (name + "." + odd.tag + suffix));
        kept.emplace_back(events[0].kept_as, original);
        ForgetStoreNotice(events[0]);  // seen: the next load does not tell it again
      }
      // Both originals are still there, themselves (never copied: a 1 GiB copy would show).
      for (const auto& [path, inode] : kept) EXPECT_EQ(InodeOf(path), inode) << path;
      EXPECT_FALSE(fs::exists(dir / ("." + name + ".Ab12Cd")));
      EXPECT_FALSE(fs::exists(dir / ("." + name + ".damaged.Xy34Zw")));
      EXPECT_TRUE(fs::exists(dir / ("." + name + ".notes")));
      // What is on disk now loads without a word.
      if (fs::exists(file)) {
        EXPECT_TRUE(load(file).empty());
      }
    }
  }
}

// A pipe where "pro.data" belongs that cannot be moved (every free name taken): it is left as
// it is and nothing is written, until a name is free.
// A notice the user never saw (the run was killed after the file was kept) is told by the next
// start, once: for both stores, and for a save that failed as the run ended.
TEST_F(OddStoreFileTest, ANoticeStaysDueUntilTheUserHasSeenIt) {
  const std::vector<std::pair<std::string, LoadStore>> stores = {{"pro.data", LoadProfiles}, {"macro.data", LoadMacros}};
  for (const auto& [name, load] : stores) {
    SCOPED_TRACE(name);
    fs::remove_all(data_);
    const fs::path dir = data_ / "ms_1", file = dir / name;
    fs::create_directories(dir);
    WriteText(file, "noise that is no store");
    const std::vector<StoreEvent> first = load(file);  // ... and the run dies before the message
    ASSERT_EQ(first.size(), 1u);
    EXPECT_FALSE(first[0].earlier_run);
    const std::vector<StoreEvent> again = load(file);
    ASSERT_EQ(again.size(), 1u) << "the next start tells it";
    EXPECT_TRUE(again[0].earlier_run);
    EXPECT_EQ(again[0].kind, first[0].kind);
    EXPECT_EQ(again[0].kept_as, first[0].kept_as);
    EXPECT_EQ(again[0].reason, first[0].reason);
    ForgetStoreNotice(again[0]);  // the user saw it
    EXPECT_TRUE(load(file).empty()) << "and the start after that does not";
  }

  // A save that fails as the run ends is told by the next start; a later save that succeeds
  // needs no word.
  const fs::path file = data_ / "ms_1" / "pro.data";
  {
    ProfileStore s(file);
    s.Load();
    s.TakeEvents();
    test::FileSizeLimit limit(1024);  // the marker fits, the store does not
    ASSERT_TRUE(limit.set());
    EXPECT_FALSE(s.Save());
  }
  std::vector<StoreEvent> next = LoadProfiles(file);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0].kind, StoreEventKind::kSaveFailed);
  EXPECT_TRUE(next[0].earlier_run);
  ProfileStore s(file);
  s.Load();
  ASSERT_TRUE(s.Save());
  EXPECT_TRUE(LoadProfiles(file).empty()) << "a save that worked since leaves nothing to tell";
}

// A store kept in another folder and linked in stays linked: saves write the link's target.
// A link that leads nowhere is kept aside like an unreadable store and told.
TEST_F(OddStoreFileTest, ALinkedStoreStaysLinked) {
  const fs::path dir = data_ / "ms_1", file = dir / "pro.data", elsewhere = data_ / "synced";
  fs::create_directories(dir);
  fs::create_directories(elsewhere);
  {
    ProfileStore seed(elsewhere / "pro.data");
    seed.Load();
    seed.list().push_back(NewProfileRecord(u"Linked"));
    ASSERT_TRUE(seed.Save());
  }
  fs::create_symlink(elsewhere / "pro.data", file);
  {
    ProfileStore s(file);
    ASSERT_EQ(s.Load(), StoreLoad::kLoaded);
    ASSERT_EQ(s.list().size(), 2u);
    s.list().push_back(NewProfileRecord(u"Third"));
    ASSERT_TRUE(s.Save());
  }
  EXPECT_TRUE(fs::is_symlink(file)) << "the link was replaced";
  ProfileStore target(elsewhere / "pro.data");
  ASSERT_EQ(target.Load(), StoreLoad::kLoaded);
  EXPECT_EQ(target.list().size(), 3u) << "the target holds the new store";

  fs::remove(file);
  fs::create_symlink(elsewhere / "gone.data", file);
  const std::vector<StoreEvent> events = LoadProfiles(file);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, StoreEventKind::kMovedAside);
  EXPECT_TRUE(fs::is_symlink(events[0].kept_as)) << "the dangling link itself is kept";
  EXPECT_FALSE(fs::exists(elsewhere / "gone.data"));
}

TEST_F(OddStoreFileTest, AnOriginalThatCannotBeMovedStopsEverySaveUntilItCan) {
  const fs::path dir = data_ / "ms_1", file = dir / "pro.data";
  fs::create_directories(dir);
  ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
  WriteText(dir / "pro.data.unreadable", "earlier");
  for (int n = 1; n < 1000; ++n) WriteText(dir / ("pro.data.unreadable." + std::to_string(n)), "earlier");

  ProfileStore store(file);
  EXPECT_EQ(store.Load(), StoreLoad::kFirstRun);
  ASSERT_EQ(store.list().size(), 1u);
  auto events = store.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, StoreEventKind::kLeftInPlace);
  EXPECT_TRUE(events[0].kept_as.empty());
  EXPECT_FALSE(store.Save());
  EXPECT_FALSE(store.Save());
  EXPECT_TRUE(fs::is_fifo(file));
  events = store.TakeEvents();
  ASSERT_EQ(events.size(), 1u);  // one failure streak, one word
  EXPECT_EQ(events[0].kind, StoreEventKind::kSaveFailed);

  fs::remove(dir / "pro.data.unreadable.500");
  EXPECT_TRUE(store.Save());
  events = store.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, StoreEventKind::kMovedAside);
  EXPECT_EQ(events[0].kept_as, dir / "pro.data.unreadable.500");
  EXPECT_TRUE(fs::is_fifo(dir / "pro.data.unreadable.500"));
  EXPECT_EQ(SizeOf(file), sizeof(ProfileStoreHeader) + sizeof(ProfileRecord));
}

}  // namespace
}  // namespace brevak
