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

// Noise a repair kept: the profiles are marked until the user edits or applies them, and a value
// the mouse does not take is not sent, but shown to the user, who sets it right.
TEST_F(StoreNoticeTest, ARepairedProfileIsMarkedAndItsImpossibleValuesAreNotSent) {
  {
    ProfileStore seed;
    seed.Load();
    seed.list()[0]->dpi_value[0] = 15596;  // 779,800 DPI
    seed.list().push_back(NewProfileRecord(u"Second"));
    ASSERT_TRUE(seed.Save());
  }
  std::filesystem::resize_file(ProfileStorePath(), std::filesystem::file_size(ProfileStorePath()) - 100);
  Start({Connection::kCable});
  auto* list = Find<CListUI>("ms_1_list_profile");
  ASSERT_EQ(list->GetCount(), 1) << "the cut second profile is dropped";
  const std::string marked = list->GetItemAt(0)->GetText().utf8();
  EXPECT_NE(marked, Utf16ToUtf8(FixedToString(wnd_->page().WorkingRecordCopy()->name))) << "marked";
  const int dpi_before = mouse_.State().dpi_value[0];
  dialogs_.asked.clear();

  Click("ms_1_apply_btn");  // the user applies it as it is: confirmed, but DPI stays unsent
  ASSERT_TRUE(WaitForApply());
  RunUntilIdle();
  EXPECT_EQ(mouse_.State().full_writes, 1);
  EXPECT_EQ(mouse_.State().dpi_value[0], dpi_before) << "779800 DPI was sent";
  ASSERT_EQ(dialogs_.asked.size(), 1u);
  EXPECT_NE(dialogs_.asked[0].find("DPI 1: 779800"), std::string::npos) << dialogs_.asked[0];
  EXPECT_EQ(list->GetItemAt(0)->GetText().utf8(), Utf16ToUtf8(FixedToString(wnd_->page().WorkingRecordCopy()->name)));

  auto* edit = Find<CEditUI>("ms_1_edit_dpi_1");
  edit->SetText(u"1200");
  wnd_->GetPaintManager().SendNotify(edit, "return");
  Click("ms_1_btn_apply_dpi");
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().dpi_value[0], 1200 / 50);
}

TEST_F(StoreNoticeTest, AFailedSaveIsToldOnceAndALaterApplySaves) {
  Start({Connection::kCable});
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  RunUntilIdle();
  dialogs_.asked.clear();

  // The store no longer fits under the process's file-size limit: every save fails.
  {
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.set());
    for (int i = 0; i < 2; ++i) {
      wnd_->page().EditWorkingRecord([i](ProfileRecord& r) { r.dpi_value[0] = 10 + i; });
      Click("ms_1_apply_btn");
      ASSERT_TRUE(WaitForApply());
      RunUntilIdle();
    }
  }
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
