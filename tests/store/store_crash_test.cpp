// A store on disk is always either the old one or the new one: killed saves, a full disk
// and saves racing with list changes on other threads never leave a mix.
#include <algorithm>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <thread>

#include "platform/text.h"
#include "store/macro_store.h"
#include "store/profile_store.h"
#include "store_test_util.h"

namespace brevak {
namespace {

using StoreCrashTest = test::DataFolderTest;

// Every profile of a store written by these tests is named after the store's size, so a
// store that mixes two saves is caught by its names.
void Fill(ProfileStore& s, size_t n) {
  auto lock = s.Lock();
  s.list().clear();
  for (size_t i = 0; i < n; ++i) s.list().push_back(NewProfileRecord(Utf8ToUtf16("size" + std::to_string(n))));
  s.header().selected_profile = int32_t(n - 1);
}

void ExpectConsistent(const std::filesystem::path& file, std::initializer_list<size_t> sizes) {
  ProfileStore s(file);
  ASSERT_EQ(s.Load(), StoreLoad::kLoaded);
  const size_t n = s.list().size();
  EXPECT_NE(std::find(sizes.begin(), sizes.end(), n), sizes.end()) << n << " profiles";
  for (const auto& r : s.list()) EXPECT_EQ(FixedToString(r->name), Utf8ToUtf16("size" + std::to_string(n)));
  EXPECT_EQ(s.header().selected_profile, int32_t(n - 1));
}

TEST_F(StoreCrashTest, KilledSavesLeaveTheOldOrTheNewStore) {
  const auto file = data_ / "ms_1" / "pro.data";
  {
    ProfileStore s(file);
    Fill(s, 3);
    ASSERT_TRUE(s.Save());
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 25; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ProfileStore s(file);
      for (size_t k = 0;; ++k) {
        Fill(s, k % 2 ? 3 : 40);
        s.Save();
      }
    }
    usleep(useconds_t(1000 + rng() % 30000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ExpectConsistent(file, {3, 40});
  }
  // The loads above cleared what killed saves left; the folder holds the store and nothing else
  // (a sibling with a similar name is not ours to remove).
  std::ofstream(file.parent_path() / ".pro.data.notes") << "user file";
  std::ofstream(file.parent_path() / ".pro.data.Ab12Cd") << "temp";
  ProfileStore(file).Load();
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(file.parent_path())) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".pro.data.notes", "pro.data"}));
}

TEST_F(StoreCrashTest, FullDiskLeavesTheOldStore) {
  const auto file = data_ / "ms_1" / "pro.data";
  {
    ProfileStore s(file);
    Fill(s, 2);
    ASSERT_TRUE(s.Save());
  }
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Files may not grow past 1 MB: the 12-profile store below cannot be written.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    ProfileStore s(file);
    Fill(s, 12);
    _exit(s.Save() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save claimed success";
  ExpectConsistent(file, {2});
  // No temporary file is left behind; a marker keeps the failure due for the next start.
  std::vector<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(file.parent_path())) entries.push_back(e.path().filename());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"." + file.filename().string() + ".save-failed.unseen-notice", file.filename()}));
}

TEST_F(StoreCrashTest, SavesFromSeveralThreadsSerialiseWithListChanges) {
  const auto file = data_ / "ms_1" / "pro.data";
  ProfileStore s(file);
  Fill(s, 1);
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) s.Save();
  });
  std::thread bluetooth([&] {
    for (int i = 0; i < 20; ++i) s.Save();
  });
  for (int i = 0; i < 20; ++i) Fill(s, size_t(1 + i % 4));
  worker.join();
  bluetooth.join();
  ASSERT_TRUE(s.Save());
  ExpectConsistent(file, {1, 2, 3, 4});
}

// Files may not grow past 1 MB while it lives: a save of more fails as on a full disk.
class FileSizeLimit {
 public:
  FileSizeLimit() {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1 << 20, saved_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  sighandler_t old_handler_;
};

size_t Count(const std::vector<StoreEvent>& events, StoreEventKind kind) {
  return size_t(std::count_if(events.begin(), events.end(), [&](const StoreEvent& e) { return e.kind == kind; }));
}

TEST_F(StoreCrashTest, AFailedSaveIsToldOncePerStreakAndALaterSaveWrites) {
  const auto file = data_ / "ms_1" / "pro.data";
  ProfileStore s(file);
  ASSERT_EQ(s.Load(), StoreLoad::kFirstRun);
  Fill(s, 1);
  ASSERT_TRUE(s.Save());
  Fill(s, 12);  // about 1.7 MB
  std::vector<StoreEvent> events;
  {
    FileSizeLimit limit;
    // The apply worker and the Bluetooth thread fail to save while the window thread takes events.
    std::thread worker([&] {
      for (int i = 0; i < 5; ++i) EXPECT_FALSE(s.Save());
    });
    std::thread bluetooth([&] {
      for (int i = 0; i < 5; ++i) EXPECT_FALSE(s.Save());
    });
    for (int i = 0; i < 50; ++i) {
      auto taken = s.TakeEvents();
      events.insert(events.end(), taken.begin(), taken.end());
    }
    worker.join();
    bluetooth.join();
    auto taken = s.TakeEvents();
    events.insert(events.end(), taken.begin(), taken.end());
  }
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, StoreEventKind::kSaveFailed);
  EXPECT_EQ(events[0].file, file);
  EXPECT_EQ(events[0].reason, std::error_code(EFBIG, std::generic_category()).message());
  ExpectConsistent(file, {1});  // the old store, untouched
  ASSERT_FALSE(s.list_changed());  // so only the failure makes shutdown save

  // Shutdown's save retries what failed, and the next failure is a new streak.
  EXPECT_TRUE(s.SavePendingListChanges());
  EXPECT_TRUE(s.TakeEvents().empty());
  ExpectConsistent(file, {12});
  {
    FileSizeLimit limit;
    Fill(s, 13);
    EXPECT_FALSE(s.Save());
    EXPECT_FALSE(s.Save());
  }
  EXPECT_EQ(Count(s.TakeEvents(), StoreEventKind::kSaveFailed), 1u);

  // The macro library alike: 400 macros are 1.2 MB.
  MacroStore macros(data_ / "ms_1" / "macro.data");
  macros.Load();
  for (int i = 0; i < 400; ++i) macros.list().push_back(std::make_unique<MacroRecord>());
  {
    FileSizeLimit limit;
    EXPECT_FALSE(macros.Save());
    EXPECT_FALSE(macros.Save());
  }
  events = macros.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, StoreEventKind::kSaveFailed);
  EXPECT_FALSE(std::filesystem::exists(macros.file()));
  EXPECT_TRUE(macros.Save());
  EXPECT_EQ(SizeOf(macros.file()), 400 * sizeof(MacroRecord));
}

}  // namespace
}  // namespace brevak
