// The profile list's buttons through the page, offscreen, against the simulated mouse on the
// virtual clock, with the dialogs answered in script.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <fstream>
#include <iterator>

#include "app_test_util.h"
#include "page/profile_follower.h"
#include "store/bindings_store.h"
#include "store/record_files.h"

namespace brevak::test {
namespace {

class ProfileListTest : public AppTest {
 protected:
  // A store with the profiles `names`, the first selected, written before the program starts.
  static void Seed(std::initializer_list<const char16_t*> names) {
    ProfileStore seed;
    seed.Load();
    seed.list().clear();
    for (const char16_t* name : names) seed.list().push_back(NewProfileRecord(name));
    seed.header().selected_profile = 0;
    ASSERT_TRUE(seed.Save());
  }
  void StartAndApply() {
    Start({Connection::kCable});
    Click("ms_1_apply_btn");
    ASSERT_TRUE(WaitForApply());
  }
  CListUI* List() { return Find<CListUI>("ms_1_list_profile"); }
  std::vector<std::string> ListTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < List()->GetCount(); ++i) texts.push_back(List()->GetItemAt(i)->GetText().utf8());
    return texts;
  }
  std::string WorkingName() { return Utf16ToUtf8(FixedToString(wnd_->page().WorkingRecordCopy()->name)); }
  void Choose(int index) {
    auto* widget = static_cast<QListWidget*>(List()->GetWidget());
    QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, widget->visualItemRect(widget->item(index)).center());
    ASSERT_TRUE(WaitForApply());
  }
  static std::string Bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// While the mouse is written nothing moves under the pointer, and the sections the user opened
// stay open after the write of their own edit (the 1K receiver plugged in beside the cable
// stays silent, so its watchdog expires after the write); another profile closes them.
TEST_F(ProfileListTest, AWriteMovesNothingAndLeavesOpenSectionsOpenUntilAnotherProfile) {
  Seed({u"One", u"Two"});
  Start({Connection::kCable, Connection::k1k});
  Click("ms_1_check_light");
  auto geometry = [&] {
    QApplication::processEvents();
    std::vector<QRect> rects;
    for (const char* name : {"ms_1_apply_btn", "ms_1_btn_reset", "ms_1_ver_dpi", "ms_1_btn_apply_dpi",
                             "ms_1_btn_key_11", "ms_1_check_light", "ms_1_check_prate", "ms_1_check_power"}) {
      QWidget* w = Find(name) ? Find(name)->GetWidget() : nullptr;
      rects.push_back(w ? QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()) : QRect());
    }
    return rects;
  };
  ASSERT_TRUE(Find("ms_1_ver_light")->IsVisible());
  // A lighting edit (its sub-panels change at once): applied after its delay, as the first
  // write of the run, whole.
  Find<CComboUI>("ms_1_combo_light")->SelectItem(2);
  const std::vector<QRect> before = geometry();
  int checked_while_writing = 0;
  for (int ms = 0; ms < 60'000 && (ms < 1000 || applying()); ms += 250) {
    AdvanceClock(250);
    if (!applying()) continue;
    ++checked_while_writing;
    EXPECT_EQ(geometry(), before) << "at " << ms << " ms";
  }
  EXPECT_GE(checked_while_writing, 10) << "the write ran for a few seconds";
  EXPECT_EQ(mouse_.State().full_writes, 1);
  AdvanceClock(kWatchdogMs + 1000);
  EXPECT_EQ(geometry(), before) << "after the write";
  EXPECT_TRUE(Find("ms_1_ver_light")->IsVisible()) << "the user's own edit closed the section";

  Choose(1);
  EXPECT_FALSE(Find("ms_1_ver_light")->IsVisible()) << "another profile shows its sections closed";
}

TEST_F(ProfileListTest, AddDeleteRenameAndResetReachTheMouseAndTheDisk) {
  Seed({u"One", u"Two", u"Three"});
  StartAndApply();
  int full_writes = mouse_.State().full_writes;

  // Add: appended, selected, written whole.
  dialogs_.name = u"Four";
  Click("ms_1_profile_add_btn");
  EXPECT_EQ(ListTexts(), (std::vector<std::string>{"One", "Two", "Three", "Four"}));
  EXPECT_EQ(List()->GetCurSel(), 3);
  EXPECT_EQ(WorkingName(), "Four");
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, ++full_writes);

  // Delete the last: the one before it is selected. Delete another: the one that moved up.
  Click("ms_1_profile_delete_btn");
  EXPECT_EQ(ListTexts(), (std::vector<std::string>{"One", "Two", "Three"}));
  EXPECT_EQ(List()->GetCurSel(), 2);
  EXPECT_EQ(WorkingName(), "Three");
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, ++full_writes);
  Choose(0);
  ++full_writes;
  Click("ms_1_profile_delete_btn");
  EXPECT_EQ(List()->GetCurSel(), 0);
  EXPECT_EQ(WorkingName(), "Two");
  EXPECT_EQ(profiles_->header().selected_profile, 0);
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, ++full_writes);

  // A cancelled confirmation, and the only profile: nothing changes, nothing is sent.
  dialogs_.confirm = false;
  Click("ms_1_profile_delete_btn");
  EXPECT_EQ(List()->GetCount(), 2);
  dialogs_.confirm = true;
  Click("ms_1_profile_delete_btn");
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, ++full_writes);
  const auto frames = mouse_.State().frame_counts;
  dialogs_.asked.clear();
  Click("ms_1_profile_delete_btn");
  EXPECT_EQ(dialogs_.asked, std::vector<std::string>{"warn one_profile_text"});
  EXPECT_EQ(ListTexts(), std::vector<std::string>{"Three"});
  AdvanceClock(2000);
  EXPECT_EQ(mouse_.State().frame_counts, frames);

  // Rename: the list at once and the disk, with nothing sent.
  dialogs_.name = u"Renamed";
  Click("ms_1_profile_rename_btn");
  EXPECT_EQ(ListTexts(), std::vector<std::string>{"Renamed"});
  ProfileStore reread;
  ASSERT_EQ(reread.Load(), StoreLoad::kLoaded);
  EXPECT_EQ(Utf16ToUtf8(FixedToString(reread.list()[0]->name)), "Renamed");
  AdvanceClock(2000);
  EXPECT_EQ(mouse_.State().frame_counts, frames);
  dialogs_.name.reset();  // a cancelled name dialog
  Click("ms_1_profile_rename_btn");
  Click("ms_1_profile_add_btn");
  EXPECT_EQ(ListTexts(), std::vector<std::string>{"Renamed"});

  // Reset keeps the name, the place and move mode, and writes the defaults whole.
  wnd_->page().EditWorkingRecord([](ProfileRecord& r) {
    r.light_effect = 9;
    r.move_mode = 1;
  });
  Click("ms_1_profile_reset_btn");
  const ProfileRecord after = *wnd_->page().WorkingRecordCopy();
  EXPECT_EQ(Utf16ToUtf8(FixedToString(after.name)), "Renamed");
  EXPECT_EQ(after.move_mode, 1);
  EXPECT_EQ(after.light_effect, NewProfileRecord(u"x")->light_effect);
  EXPECT_EQ(List()->GetCurSel(), 0);
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, ++full_writes);
  EXPECT_EQ(mouse_.State().light_effect, after.light_effect);
}

// A profile per program through the page: a damaged bindings file is told as the stores are; a
// bound window held a second switches (the list and the mouse show it), another brings back the
// hand choice, a dialog of ours open holds the switch until it closes; the bindings follow a
// rename and go with a deleted profile.
TEST_F(ProfileListTest, BindingsSwitchFollowRenamesAndGoWithTheirProfile) {
  // Offscreen: the desktop's own windows must not take part.
  const char* display = std::getenv("DISPLAY");
  const std::string saved_display = display ? display : "";
  unsetenv("DISPLAY");
  Seed({u"Desk", u"Game", u"Other"});
  const std::filesystem::path file = BindingsPathBeside(ProfileStorePath());
  std::ofstream(file) << "steam_app_730\tGame\nXLogo\tOther\nKonsole\tDesk\nno tab: damaged\n";
  StartAndApply();
  ASSERT_FALSE(dialogs_.asked.empty());
  EXPECT_EQ(dialogs_.asked[0].rfind("warn Your program bindings were damaged", 0), 0u) << dialogs_.asked[0];
  const int full_writes = mouse_.State().full_writes;

  const auto activate = [&](const char* cls) {
    wnd_->page().WindowActivated({"instance", cls, false});
    AdvanceClock(ProfileFollower::kSettleMs);
    ASSERT_TRUE(WaitForApply());
  };
  activate("steam_app_730");
  EXPECT_EQ(WorkingName(), "Game");
  EXPECT_EQ(List()->GetCurSel(), 1);
  activate("XTerm");
  EXPECT_EQ(WorkingName(), "Desk");
  EXPECT_EQ(mouse_.State().full_writes, full_writes + 2);

  // A dialog of ours open: no switch until it closes.
  QWidget modal;
  modal.setWindowModality(Qt::ApplicationModal);
  modal.show();
  activate("XLogo");
  EXPECT_EQ(WorkingName(), "Desk");
  modal.close();
  AdvanceClock(ProfileFollower::kBusyRetryMs);
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(WorkingName(), "Other");

  // The Programs dialog's model: says what switching can see (no display here) and binds to the
  // selected profile.
  dialogs_.edit_bindings = [](BindingsModel& m) {
    EXPECT_EQ(m.SightNote(), LanguageText(u"sight_no_x_text"));
    EXPECT_EQ(m.Profile(), u"Other");
    EXPECT_EQ(m.Add(u"steam_app_730"), Format(LanguageText(u"bindings_moved_text"), u"steam_app_730", u"Game", u"Other"));
    EXPECT_EQ(m.Rows().size(), 3u);
  };
  Click("ms_1_profile_programs_btn");
  EXPECT_EQ(dialogs_.asked.back(), "bindings");
  dialogs_.edit_bindings = [](BindingsModel& m) { m.Remove({u"steam_app_730", u"Other"}); };
  Click("ms_1_profile_programs_btn");

  // Renamed while selected: its binding follows; deleted: its binding goes.
  dialogs_.name = u"Played";
  Click("ms_1_profile_rename_btn");
  EXPECT_EQ(Bytes(file).find("XLogo\tPlayed\n") != std::string::npos, true) << Bytes(file);
  Click("ms_1_profile_delete_btn");
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(Bytes(file).find("XLogo"), std::string::npos) << Bytes(file);
  EXPECT_EQ(Bytes(file).find("steam_app_730"), std::string::npos) << Bytes(file);
  EXPECT_NE(Bytes(file).find("Konsole\tDesk\n"), std::string::npos) << Bytes(file);
  if (display) setenv("DISPLAY", saved_display.c_str(), 1);
}

TEST_F(ProfileListTest, FilesAreChosenImportedAndRefusedWithoutLosingAnything) {
  Seed({u"Game"});
  StartAndApply();
  const std::filesystem::path dir = GetDataFolder().parent_path();

  // A profile with a macro on its first button, as another computer exported it.
  auto shared = NewProfileRecord(u"Game");
  ButtonEntry& b = shared->button[0];
  b.function_code = kFunctionMacro;
  SetFixed(b.macro_name, u"Burst");
  b.macro_loop_count = 1;
  b.macro_action_count = 2;
  for (int i = 0; i < 2; ++i) {
    b.macro_actions[i].code = 0x04;  // a, pressed then released
    b.macro_actions[i].kind = uint8_t(i + 1);
    b.macro_actions[i].delay = 30;
  }
  const std::filesystem::path good = dir / "shared.pro";
  ASSERT_TRUE(ExportProfile(*shared, good));

  dialogs_.files.path = good;
  Click("ms_1_profile_import_btn");
  EXPECT_EQ(ListTexts(), (std::vector<std::string>{"Game", "Game_1"}));
  EXPECT_EQ(List()->GetCurSel(), 1);
  ASSERT_EQ(macros_->list().size(), 1u);
  EXPECT_EQ(Utf16ToUtf8(FixedToString(macros_->list()[0]->name)), "Burst");
  const int full_writes = mouse_.State().full_writes;
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().full_writes, full_writes + 1);
  EXPECT_EQ(mouse_.State().Macros().size(), 1u);

  // Refused files: the message names the file and the reason; the stores stay byte for byte.
  const std::filesystem::path bad = dir / "short.pro";
  std::ofstream(bad) << "not a profile";
  const std::string store = Bytes(ProfileStorePath()), library = Bytes(MacroStorePath());
  struct Refused {
    std::filesystem::path path;
    std::string said;
  };
  for (const Refused& r : {Refused{bad, "short.pro was not imported: it is not a profile file"},
                           Refused{dir / "missing.pro", "missing.pro was not imported: the file cannot be read"}}) {
    dialogs_.asked.clear();
    dialogs_.files.path = r.path;
    Click("ms_1_profile_import_btn");
    ASSERT_EQ(dialogs_.asked.size(), 1u);
    EXPECT_EQ(dialogs_.asked[0].rfind("warn " + r.said, 0), 0u) << dialogs_.asked[0];
    EXPECT_EQ(List()->GetCount(), 2);
    EXPECT_EQ(Bytes(ProfileStorePath()), store);
    EXPECT_EQ(Bytes(MacroStorePath()), library);
  }

  // Cancel does nothing; an export that cannot be written says so.
  dialogs_.asked.clear();
  dialogs_.files.path.reset();
  Click("ms_1_profile_import_btn");
  Click("ms_1_profile_export_btn");
  EXPECT_EQ(dialogs_.asked, std::vector<std::string>{});
  EXPECT_EQ(List()->GetCount(), 2);
  dialogs_.files.path = dir / "no-such-folder" / "out.pro";
  Click("ms_1_profile_export_btn");
  ASSERT_EQ(dialogs_.asked.size(), 1u);
  EXPECT_EQ(dialogs_.asked[0].rfind("warn out.pro could not be written", 0), 0u) << dialogs_.asked[0];
  dialogs_.files.path = dir / "out.pro";
  Click("ms_1_profile_export_btn");
  EXPECT_EQ(std::filesystem::file_size(dir / "out.pro"), sizeof(ProfileRecord));
  EXPECT_EQ(dialogs_.files.asked.back(), "save *.pro *.PRO");
}

}  // namespace
}  // namespace brevak::test
