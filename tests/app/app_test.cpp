// The program's main window against the simulated mouse, offscreen, on the virtual clock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/main_wnd.h"
#include "app_test_util.h"
#include "app/single_instance.h"
#include "page/page_messages.h"
#include "platform/clock.h"
#include "platform/loop.h"
#include "sim/in_process_backend.h"
#include "store_test_util.h"
#include "tests/common/ui_test_main.h"
#include "zentrix_test_util.h"

namespace brevak::test {
namespace {

using sim::Connection;

TEST_F(AppTest, StartUpShowsTheSelectedProfileAndTheFirstApplyWritesItWhole) {
  Start({Connection::kCable});
  EXPECT_TRUE(wnd_->connected());
  EXPECT_TRUE(wnd_->IsVisible());
  EXPECT_EQ(wnd_->GetWidget()->size(), QSize(800, 572));
  auto* tab = Find<CTabLayoutUI>("device_tab_switch");
  ASSERT_NE(tab, nullptr);
  EXPECT_EQ(tab->GetCurSel(), 0);
  EXPECT_TRUE(Find("ms_1_wired")->IsVisible());
  EXPECT_FALSE(Find("ms_1_wireless_8k")->IsVisible());

  // The profile list and the panels show the selected profile.
  auto* list = Find<CListUI>("ms_1_list_profile");
  ASSERT_NE(list, nullptr);
  ProfileRecord working = *wnd_->page().WorkingRecordCopy();
  ASSERT_EQ(list->GetCount(), 1);
  EXPECT_EQ(list->GetItemAt(0)->GetText().str(), FixedToString(working.name));
  EXPECT_EQ(list->GetCurSel(), 0);
  EXPECT_EQ(Find<CSliderUI>("ms_1_slider_dpi_3")->GetValue(), working.dpi_value[2]);
  EXPECT_EQ(Find("ms_1_edit_dpi_3")->GetText().utf8(), std::to_string(working.dpi_value[2] * 50));
  EXPECT_TRUE(Find<COptionUI>("ms_1_option_dpi_step_2")->IsSelected());
  EXPECT_TRUE(Find<COptionUI>(("ms_1_btn_prate_" + std::to_string(working.polling_rate_index + 1)).c_str())->IsSelected());
  EXPECT_EQ(Find<CComboUI>("ms_1_combo_light")->GetCurSel(), working.light_effect);
  EXPECT_EQ(Find("ms_1_label_key_debounce")->GetText().utf8(), std::to_string(working.key_debounce * 2) + " MS");

  // Nothing was written yet; the whole profile goes with the first apply.
  EXPECT_EQ(wnd_->page().device().worker.full_write_pending(), 1);
  EXPECT_EQ(mouse_.State().full_writes, 0);
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, 1);
  EXPECT_EQ(mouse_.State().dpi_value[2], uint32_t(working.dpi_value[2]));
  EXPECT_EQ(mouse_.State().light_effect, working.light_effect);
}

TEST_F(AppTest, AnEditThroughThePageReachesTheMouseAsOnlyItsGroup) {
  Start({Connection::kCable});
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  const auto before = mouse_.State().frame_counts;

  Click("ms_1_btn_prate_2");  // an option group: applied at once
  ASSERT_TRUE(WaitForApply());
  auto after = mouse_.State().frame_counts;
  EXPECT_EQ(wnd_->page().WorkingRecordCopy()->polling_rate_index, 1);
  EXPECT_EQ(mouse_.State().polling & 0x0F, 2);
  for (const auto& [name, count] : after) {
    int was = before.count(name) ? before.at(name) : 0;
    EXPECT_EQ(count - was, name == "polling" ? 1 : 0) << name;
  }

  // A slider waits 500 ms after the last move, then sends its group once.
  auto* debounce = Find<CSliderUI>("ms_1_slider_key_debounce");
  ASSERT_NE(debounce, nullptr);
  const int lighting_before = FrameCount("lighting");  // the debounce travels with the lighting
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(debounce->GetWidget(), Qt::Key_Right);
    AdvanceClock(100);
  }
  EXPECT_EQ(FrameCount("lighting"), lighting_before);
  AdvanceClock(500);
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(FrameCount("lighting"), lighting_before + 1);
  EXPECT_EQ(mouse_.State().key_debounce, debounce->GetValue());
  EXPECT_EQ(Find("ms_1_label_key_debounce")->GetText().utf8(), std::to_string(debounce->GetValue() * 2) + " MS");

  // DPI typed into an edit waits for an apply button.
  auto* edit = Find<CEditUI>("ms_1_edit_dpi_1");
  edit->SetText("12a3");
  wnd_->GetPaintManager().SendNotify(edit, "textchanged");
  EXPECT_EQ(edit->GetText().utf8(), "123");
  wnd_->GetPaintManager().SendNotify(edit, "return");
  EXPECT_EQ(edit->GetText().utf8(), "100");
  EXPECT_EQ(wnd_->page().WorkingRecordCopy()->dpi_value[0], 2);
  AdvanceClock(2000);
  EXPECT_NE(mouse_.State().dpi_value[0], 2u);
  Click("ms_1_btn_apply_dpi");
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().dpi_value[0], 2u);
}

// The user's first choice in the profile list switches the profile (the list raises no
// selection of its own while it is filled, so nothing is left for the guard to swallow).
TEST_F(AppTest, ChoosingAProfileInTheListSwitchesAndWritesItWhole) {
  {
    ProfileStore seed;
    seed.Load();
    auto game = NewProfileRecord(u"Game");
    game->dpi_value[0] = 40;
    game->light_effect = 2;
    seed.list().push_back(std::move(game));
    ASSERT_TRUE(seed.Save());
  }
  Start({Connection::k8k});
  mouse_.SendPowerStatus(Connection::k8k);  // the receiver answers once the mouse has reported
  Settle();
  auto* list = Find<CListUI>("ms_1_list_profile");
  ASSERT_EQ(list->GetCount(), 2);
  EXPECT_EQ(list->GetItemAt(1)->GetText().utf8(), "Game");
  EXPECT_EQ(list->GetCurSel(), 0);
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  const int full_writes = mouse_.State().full_writes;

  auto* widget = static_cast<QListWidget*>(list->GetWidget());
  QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, widget->visualItemRect(widget->item(1)).center());
  EXPECT_EQ(profiles_->header().selected_profile, 1);
  EXPECT_EQ(FixedToString(wnd_->page().WorkingRecordCopy()->name), u"Game");
  EXPECT_EQ(Find<CSliderUI>("ms_1_slider_dpi_1")->GetValue(), 40);  // refreshed
  EXPECT_EQ(Find<CComboUI>("ms_1_combo_light")->GetCurSel(), 2);
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, full_writes + 1);
  EXPECT_EQ(mouse_.State().dpi_value[0], 40u);
  EXPECT_EQ(mouse_.State().light_effect, 2);
}

TEST_F(AppTest, SectionTogglesShowTheirSectionsAndTheLowerOnesScrollToTheEnd) {
  Start({Connection::kCable});
  auto* toggle = Find<CCheckBoxUI>("ms_1_check_wakeup");
  ASSERT_NE(toggle, nullptr);
  Click("ms_1_check_wakeup");
  EXPECT_EQ(toggle->GetCheck(), Find("ms_1_hor_wakeup")->IsVisible());
  Click("ms_1_check_prate");  // the cable's polling group, not the high-speed one
  EXPECT_EQ(Find<CCheckBoxUI>("ms_1_check_prate")->GetCheck(), Find("ms_1_ver_prate")->IsVisible());
  EXPECT_FALSE(Find("ms_1_ver_prate_hs")->IsVisible());
}

TEST_F(AppTest, ADpiStageReportShowsTheIndicatorForTwoSecondsAfterTheLastChange) {
  Start({Connection::kCable});
  mouse_.PressDpiButton();  // stage 2 -> 3
  Settle();
  ASSERT_NE(wnd_->dpi_indicator(), nullptr);
  const int stage = mouse_.State().stage_index;
  const int dpi = wnd_->page().WorkingRecordCopy()->dpi_value[stage] * 50;
  EXPECT_EQ(Utf16ToUtf8(wnd_->dpi_indicator()->text()), "DPI :" + std::to_string(dpi));
  CDPIMsg* first = wnd_->dpi_indicator();
  AdvanceClock(1500);
  mouse_.PressDpiButton();
  Settle();
  EXPECT_EQ(wnd_->dpi_indicator(), first);  // the same window, new text
  AdvanceClock(1970);
  EXPECT_NE(wnd_->dpi_indicator(), nullptr);
  AdvanceClock(20);
  EXPECT_EQ(wnd_->dpi_indicator(), nullptr);

  // The message itself: forms 0..2 carry the value, others not.
  ::PostMessageW(wnd_->GetHWND(), kMsgShowDpi, 0, 16);
  RunUntilIdle();
  EXPECT_EQ(Utf16ToUtf8(wnd_->dpi_indicator()->text()), "DPI :800");
  ::PostMessageW(wnd_->GetHWND(), kMsgShowDpi, 3, 16);
  RunUntilIdle();
  EXPECT_EQ(Utf16ToUtf8(wnd_->dpi_indicator()->text()), "DPI :");
}

// With no mouse the window goes to the tray when there is one and stays reachable otherwise;
// asking for it then shows one warning at a time.
TEST_F(AppTest, NoMouseHidesToTheTrayOrStaysReachableAndWarnsOnce) {
  for (bool tray : {true, false}) {
    SCOPED_TRACE(tray ? "with a tray" : "without a tray");
    Start({}, tray);
    EXPECT_FALSE(wnd_->connected());
    EXPECT_EQ(Find<CTabLayoutUI>("device_tab_switch")->GetCurSel(), 1) << "the no-device page, not an empty body";
    EXPECT_TRUE(Find("no_device_btn")->IsVisible());
    if (tray) {
      EXPECT_FALSE(wnd_->IsVisible());
    } else {
      EXPECT_TRUE(wnd_->IsVisible());
      EXPECT_TRUE(wnd_->IsMinimized());
    }
    int warnings = 0;
    bool second_ignored = false;
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      if (!box) return;
      ++warnings;
      EXPECT_TRUE(wnd_->warning_open());
      // A tray click while it is open shows nothing more.
      ::SendMessageW(wnd_->GetHWND(), UIMSG_TRAYICON, 0, WM_LBUTTONUP_TRAY);
      second_ignored = QApplication::activeModalWidget() == box;
      auto* ok = box->findChild<QPushButton*>(QStringLiteral("btn_ok"));
      ASSERT_NE(ok, nullptr);
      QTest::mouseClick(ok, Qt::LeftButton);
    });
    ::PostMessageW(wnd_->GetHWND(), kMsgBringToFront, 0, 0);
    RunUntilIdle();
    EXPECT_EQ(warnings, 1);
    EXPECT_TRUE(second_ignored);
    EXPECT_FALSE(wnd_->warning_open());
    Close();
  }
}

TEST_F(AppTest, ExitButtonPutsTheWindowAwayAndTrayMenuExitEndsIt) {
  Start({Connection::k4k}, true);
  EXPECT_TRUE(wnd_->IsVisible());
  Click("exit_btn");
  EXPECT_FALSE(wnd_->IsVisible());  // hidden to the tray, still running
  ::PostMessageW(wnd_->GetHWND(), UIMSG_TRAYICON, 0, WM_LBUTTONUP_TRAY);
  RunUntilIdle();
  EXPECT_TRUE(wnd_->IsVisible());
  // The desktop's close request (Alt+F4) puts it away too, every time.
  for (int i = 0; i < 2; ++i) {
    wnd_->GetWidget()->close();
    RunUntilIdle();
    EXPECT_FALSE(wnd_->IsVisible()) << i;
    EXPECT_NE(wnd_->GetHWND(), nullptr);
    ::PostMessageW(wnd_->GetHWND(), UIMSG_TRAYICON, 0, WM_LBUTTONUP_TRAY);
    RunUntilIdle();
    EXPECT_TRUE(wnd_->IsVisible()) << i;
  }
  auto* exit = new MenuCmd{"EXIT", "", ""};
  ::PostMessageW(wnd_->GetHWND(), WM_MENUCLICK, reinterpret_cast<WPARAM>(exit), 0);
  RunUntilIdle();
  EXPECT_EQ(wnd_->GetHWND(), nullptr);  // destroyed: the loop would end now
  MSG m;
  bool quit = false;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) quit |= m.message == WM_QUIT;
  EXPECT_TRUE(quit);
}

TEST_F(AppTest, ShutdownStopsEveryThreadTheProgramStarted) {
  // Qt keeps a few threads of its own once a window has been made: count from there. Its
  // pool's threads (image conversion) come and go on their own clock, so the pool is emptied
  // on both sides; none of the program's threads runs in it.
  Start({});
  Close();
  ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(5000));
  const auto before = BaselineThreadIds();
  Start({Connection::kCable, Connection::k1k, Connection::k8k});
  EXPECT_FALSE(ThreadsStartedSince(before).empty());  // worker, monitors, readers
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  Close();
  ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(5000));
  EXPECT_EQ(ThreadsLeftSince(before), std::vector<std::string>{});
}

TEST(SingleInstanceTest, ASecondInstanceReachesTheFirstWhichComesForward) {
  char dir[] = "/tmp/brevak-runtime-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  setenv("XDG_RUNTIME_DIR", dir, 1);
  std::vector<UINT> got;
  HWND window = CreateMessageWindow([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    got.push_back(msg);
    return 0;
  });
  {
    SingleInstance first(u"BREVAK APEX");
    ASSERT_TRUE(first.IsFirst());
    first.ListenForOthers(window, 1281);
    bool asked = false;
    std::thread second([&] {
      SingleInstance other(u"BREVAK APEX");
      EXPECT_FALSE(other.IsFirst());
      asked = other.AskFirstToComeForward(1281);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !got.empty(); }, 5000));
    second.join();
    EXPECT_TRUE(asked);
    EXPECT_EQ(got, std::vector<UINT>{1281});
  }
  {
    // Once the first has ended, the next start is first again.
    SingleInstance again(u"BREVAK APEX");
    EXPECT_TRUE(again.IsFirst());
  }
  DestroyWindow(window);
  unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(dir);
}

// Without XDG_RUNTIME_DIR every user gets a lock of their own; with it, the lock is there.
TEST(SingleInstanceTest, TheLockFolderIsTheUsersOwn) {
  const QString temp = QStringLiteral("/tmp");
  EXPECT_NE(SingleInstance::LockFolder({}, 1000, temp), SingleInstance::LockFolder({}, 1001, temp));
  EXPECT_EQ(SingleInstance::LockFolder({}, 1000, temp), QStringLiteral("/tmp/brevak-1000"));
  EXPECT_EQ(SingleInstance::LockFolder(QStringLiteral("/run/user/1000"), 1000, temp), QStringLiteral("/run/user/1000"));
}

// A lock that cannot be made (here a folder sits where the lock file goes) is no second
// instance: the program says why and ends with its own code, neither 0 nor 1.
TEST(SingleInstanceTest, ALockThatCannotBeMadeIsSaidAndEndsTheProgramWithTwo) {
  char dir[] = "/tmp/brevak-runtime-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string runtime = dir;
  ASSERT_TRUE(std::filesystem::create_directory(runtime + "/BREVAK APEX.lock"));
  setenv("XDG_RUNTIME_DIR", dir, 1);
  {
    SingleInstance instance(u"BREVAK APEX");
    EXPECT_EQ(instance.state(), SingleInstance::State::kFailed);
    EXPECT_TRUE(instance.error().contains(QStringLiteral("BREVAK APEX.lock"))) << instance.error().toStdString();
  }
  unsetenv("XDG_RUNTIME_DIR");

  const char* program_dir = std::getenv("BREVAK_PROGRAM_DIR");
  ASSERT_NE(program_dir, nullptr);
  const std::string command = "env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR='" + runtime + "' BREVAK_DATA_DIR='" +
                              runtime + "' '" + program_dir + "/BREVAK' 2>&1";
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string said;
  char buf[256];
  while (size_t n = fread(buf, 1, sizeof buf, out)) said.append(buf, n);
  const int status = pclose(out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2) << said;
  EXPECT_NE(said.find("cannot create the lock"), std::string::npos) << said;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // No system bus here: the Bluetooth part gives up at once.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brevak-test-bus", 1);
  return brevak::test::RunWindowTests(BREVAK_RES_DIR, "offscreen", false);  // the window loads it
}
