// "Start with the desktop": the autostart entry in a temporary XDG_CONFIG_HOME, started the way
// a desktop starts it, and the window's check item, tray menu item and start put away.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/autostart.h"
#include "app_test_util.h"

namespace brevak::test {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for a scope and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A stand-in program that writes how it was started ($0 and its arguments) to $BREVAK_TEST_MARK.
void WriteStandIn(const fs::path& p) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$BREVAK_TEST_MARK\"\n";
  fs::permissions(p, fs::perms::owner_all);
}

// The entry's Exec line as the desktop runs it: the string escapes and field codes undone, then
// the command line (whose quoting is the shell's double quotes) run.
int RunExec(const std::string& entry) {
  const size_t at = entry.find("\nExec=");
  if (at == std::string::npos) return -1;
  const std::string raw = entry.substr(at + 6, entry.find('\n', at + 1) - at - 6);
  std::string exec;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
    // "%%" is the field code of a plain '%'; the line holds no other.
    else if (raw[i] == '%' && i + 1 < raw.size() && raw[i + 1] == '%') ++i;
    exec += raw[i];
  }
  return std::system(("exec " + exec).c_str());
}

class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brevak-autostart-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

// From a build folder the entry starts that folder's program; from an installed tree, the
// launcher on PATH (which survives an upgrade). Folder names a shell or a desktop would split
// or expand stay whole.
TEST_F(AutostartTest, OnWritesAnEntryWhoseExecStartsTheProgramThatWroteItAndOffRemovesIt) {
  struct Layout {
    const char* name;
    const char* program_dir;  // under the root
    const char* started;      // what the entry must start, under the root
  };
  const Layout layouts[] = {
      {"build folder", "my build $HOME `x` \"q\" 100%/bin", "my build $HOME `x` \"q\" 100%/bin/BREVAK"},
      {"installed", "prefix/lib/brevak", "prefix/bin/brevak"},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    const fs::path case_root = root_ / l.name;
    const fs::path program_dir = case_root / l.program_dir;
    WriteStandIn(program_dir / "BREVAK");
    if (std::string(l.name) == "installed") {
      fs::create_directories(case_root / "prefix/bin");
      fs::create_symlink("../lib/brevak/BREVAK", case_root / "prefix/bin/brevak");
    }
    ScopedEnv program("BREVAK_PROGRAM_DIR", program_dir.string());
    ScopedEnv config("XDG_CONFIG_HOME", (case_root / "config").string());
    ScopedEnv mark("BREVAK_TEST_MARK", (case_root / "started").string());
    const fs::path entry = case_root / "config/autostart/brevak.desktop";

    EXPECT_FALSE(AutostartEnabled());
    std::string error;
    ASSERT_TRUE(SetAutostart(true, &error)) << error;
    EXPECT_TRUE(AutostartEnabled());
    ASSERT_TRUE(fs::exists(entry));
    const std::string text = ReadFile(entry);
    ASSERT_EQ(RunExec(text), 0) << text;
    EXPECT_EQ(ReadFile(case_root / "started"), (case_root / l.started).string() + "\n--autostart\n") << text;

    ASSERT_TRUE(SetAutostart(false, &error)) << error;
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(AutostartEnabled());
    EXPECT_TRUE(SetAutostart(false, &error)) << "off when already off is no failure: " << error;
  }
}

// What cannot be done is refused with a reason and leaves nothing half-written; an entry the
// user switched off in the desktop's settings reads as off.
TEST_F(AutostartTest, FailuresAreSaidAndASwitchedOffEntryReadsAsOff) {
  WriteStandIn(root_ / "bin/BREVAK");
  ScopedEnv program("BREVAK_PROGRAM_DIR", (root_ / "bin").string());

  std::ofstream(root_ / "a file") << "x";
  {
    ScopedEnv config("XDG_CONFIG_HOME", (root_ / "a file").string());
    std::string error;
    EXPECT_FALSE(SetAutostart(true, &error));
    EXPECT_NE(error.find("a file"), std::string::npos) << error;
  }
  ScopedEnv config("XDG_CONFIG_HOME", (root_ / "config").string());
  {
    ScopedEnv no_program("BREVAK_PROGRAM_DIR", (root_ / "nowhere").string());
    std::string error;
    EXPECT_FALSE(SetAutostart(true, &error));
    EXPECT_NE(error.find("not found"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(AutostartEntryPath()));
  }
  ASSERT_TRUE(SetAutostart(true, nullptr));
  std::ofstream(AutostartEntryPath(), std::ios::app) << "Hidden=true\n";
  EXPECT_FALSE(AutostartEnabled());
  // Written whole: nothing beside the entry.
  EXPECT_EQ(std::distance(fs::directory_iterator(AutostartFolder()), fs::directory_iterator()), 1);
}

class AutostartWindowTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    // The program folder stays the build's (the page loads the driver builds from it).
    config_.emplace("XDG_CONFIG_HOME", (root_ / "config").string());
  }
  void TearDown() override {
    AppTest::TearDown();
    config_.reset();
  }
  bool Checked() { return Find<CCheckBoxUI>("autostart_check")->GetCheck(); }
  std::optional<ScopedEnv> config_;
};

// The check item in the window and the item of the tray menu write and remove the entry, and
// each shows what the other did.
TEST_F(AutostartWindowTest, TheCheckItemAndTheTrayMenuSwitchTheEntry) {
  Start({Connection::k4k}, true);
  ASSERT_NE(Find<CCheckBoxUI>("autostart_check"), nullptr);
  EXPECT_FALSE(Checked());
  Click("autostart_check");
  RunUntilIdle();
  EXPECT_TRUE(fs::exists(AutostartEntryPath()));
  EXPECT_TRUE(Checked());

  auto* choice = new MenuCmd{"autostart", "", ""};
  ::PostMessageW(wnd_->GetHWND(), WM_MENUCLICK, reinterpret_cast<WPARAM>(choice), 0);
  RunUntilIdle();
  EXPECT_FALSE(fs::exists(AutostartEntryPath()));
  EXPECT_FALSE(Checked());
}

// A start from the entry: hidden where there is a tray; minimised where there is none yet, and
// hidden when a tray comes up within the wait, unless the user opened the window meanwhile.
TEST_F(AutostartWindowTest, AStartWithTheDesktopGoesToTheTrayEvenOneThatComesLate) {
  struct Case {
    const char* name;
    bool tray_at_start;
    int tray_after_ms;  // -1: never
    bool user_opens;
    bool hidden, minimised;
  };
  const Case cases[] = {
      {"tray at once", true, -1, false, true, false},
      {"tray late", false, 4000, false, true, false},
      {"tray late, window opened", false, 4000, true, false, false},
      {"tray too late", false, kAutostartTrayWaitMs + 2000, false, false, true},
      {"no tray", false, -1, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start({Connection::kCable}, c.tray_at_start);
    ASSERT_TRUE(wnd_->connected());  // a window brought forward shows the mouse, not a warning
    wnd_->StartPutAway(kAutostartTrayWaitMs);
    RunUntilIdle();
    EXPECT_EQ(wnd_->IsVisible(), !c.tray_at_start);
    if (c.user_opens) ::PostMessageW(wnd_->GetHWND(), kMsgBringToFront, 0, 0);
    for (int ms = 0; ms < kAutostartTrayWaitMs + 4000; ms += 500) {
      if (ms == c.tray_after_ms) CTrayIcon::SetTrayAvailableForTesting(true);
      AdvanceClock(500);
    }
    EXPECT_EQ(!wnd_->IsVisible(), c.hidden);
    EXPECT_EQ(wnd_->IsVisible() && wnd_->IsMinimized(), c.minimised);
    EXPECT_EQ(wnd_->tray().IsCreated(), c.tray_at_start || (c.tray_after_ms >= 0 && c.tray_after_ms < kAutostartTrayWaitMs));
    Close();
  }
}

}  // namespace
}  // namespace brevak::test
