// What the user is told about the stores: a repair found at start-up, and a save that failed,
// each once, through the page's message box (answered in script).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include "app_test_util.h"

namespace brevak::test {
namespace {

using StoreNoticeTest = AppTest;

TEST_F(StoreNoticeTest, ADamagedStoreIsRepairedAndTheUserToldWhereTheOriginalIs) {
  {
    ProfileStore seed;
    seed.Load();
    ASSERT_TRUE(seed.Save());
  }
  // A store cut short in its last record.
  std::filesystem::resize_file(ProfileStorePath(), std::filesystem::file_size(ProfileStorePath()) - 100);
  Start({Connection::kCable});
  ASSERT_EQ(dialogs_.asked.size(), 1u) << "told once";
  EXPECT_EQ(dialogs_.asked[0].rfind("warn Your profiles were damaged", 0), 0u) << dialogs_.asked[0];
  const std::string kept = dialogs_.asked[0].substr(dialogs_.asked[0].rfind(' ') + 1);
  EXPECT_TRUE(std::filesystem::exists(kept.substr(0, kept.size() - 1))) << kept;  // less the full stop
}

TEST_F(StoreNoticeTest, AFailedSaveIsToldOnceAndALaterApplySaves) {
  Start({Connection::kCable});
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  RunUntilIdle();
  dialogs_.asked.clear();

  // The store no longer fits under the process's file-size limit: every save fails.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 2; ++i) {
    wnd_->page().EditWorkingRecord([i](ProfileRecord& r) { r.dpi_value[0] = 10 + i; });
    Click("ms_1_apply_btn");
    ASSERT_TRUE(WaitForApply());
    RunUntilIdle();
  }
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  ASSERT_EQ(dialogs_.asked.size(), 1u) << "one message for the streak of failures";
  EXPECT_EQ(dialogs_.asked[0].rfind("warn Saving your profiles (pro.data) failed:", 0), 0u) << dialogs_.asked[0];
  EXPECT_NE(dialogs_.asked[0].find("kept in memory"), std::string::npos);

  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  RunUntilIdle();
  ProfileStore reread;
  ASSERT_EQ(reread.Load(), StoreLoad::kLoaded);
  EXPECT_EQ(reread.list()[0]->dpi_value[0], 11) << "the next apply saved what was kept in memory";
  EXPECT_EQ(dialogs_.asked.size(), 1u);
}

}  // namespace
}  // namespace brevak::test
