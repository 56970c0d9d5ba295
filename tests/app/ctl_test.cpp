// brevak-ctl's commands on both paths against the simulated mouse, on the virtual clock: through
// the running window's socket (the program's own Server over its page) and headless (a device
// half of the client's own). What a command asked for is on the mouse and in "pro.data"; a
// refused one changes neither; a command that comes during a write is not lost.
#include <QDialog>
#include <QLocalSocket>
#include <sys/socket.h>
#include <QThread>
#include <csignal>
#include <sys/resource.h>
#include <fstream>
#include <variant>

#include "app/ctl/ctl_headless.h"
#include "app/ctl/ctl_server.h"
#include "app/ctl/ctl_wire.h"
#include "app_test_util.h"
#include "model/device_values.h"
#include "device_test_util.h"
#include "store/record_files.h"

namespace brevak::test {
namespace {

using ctl::Output;

enum class Path { kWindow, kHeadless };

// "pro.data" as a fresh load reads it.
struct Disk {
  int selected = -1;
  std::vector<ProfileRecord> list;
  const ProfileRecord& current() const { return list.at(size_t(selected)); }
};

constexpr uint8_t kUsageS = 0x16;
constexpr uint8_t kCtrl = 1;

class CtlTest : public AppTest, public ::testing::WithParamInterface<Path> {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    // Two profiles ("Game" with its own second stage) and a library macro "Fire".
    {
      ProfileStore s;
      auto lock = s.Lock();
      s.Load();
      SetFixed(s.list()[0]->name, u"Default");
      auto game = NewProfileRecord(u"Game");
      game->dpi_value[1] = 40;
      s.list().push_back(std::move(game));
      s.MarkListChanged();
      ASSERT_TRUE(s.Save());
    }
    {
      MacroStore m;
      m.Load();
      MacroRecord* fire = AddMacro(m);
      SetFixed(fire->name, u"Fire");
      fire->action_count = 4;
      for (int i = 0; i < 4; ++i) {
        fire->actions[i].kind = uint8_t(i % 2 ? 2 : 1);
        fire->actions[i].code = uint8_t(4 + i / 2);
        fire->actions[i].delay = 20;
      }
      ASSERT_TRUE(m.Save());
    }
    // A profile file to import.
    auto imported = NewProfileRecord(u"Imported");
    imported->dpi_value[2] = 64;
    imported->light_effect = 2;
    pro_file_ = root_ / "in.pro";
    ASSERT_TRUE(ExportProfile(*imported, pro_file_));
    std::ofstream(root_ / "garbage.pro") << "not a profile";
  }
  void TearDown() override {
    while (!pending_.empty()) Wait(pending_.front());
    server_socket_.reset();
    server_.reset();
    host_.reset();
    runner_.reset();
    headless_.reset();
    AppTest::TearDown();
  }

  void StartPath() {
    if (GetParam() == Path::kWindow) {
      Start({Connection::kCable});
      host_ = std::make_unique<ctl::PageHost>(*profiles_, *macros_, wnd_->page());
      server_ = std::make_unique<ctl::Server>(*host_, [this] { ++brought_forward_; });
      // The program's own server, with Qt's client as another program would connect.
      server_socket_ = std::make_unique<LocalServer>();
      socket_path_ = QString::fromStdString((root_ / "ctl.socket").string());
      ASSERT_TRUE(server_socket_->Listen(socket_path_.toStdString()));
      server_socket_->on_connection = [this](LocalPeer* peer) { server_->Adopt(peer); };
    } else {
      mouse_.Plug(Connection::kCable);
      headless_ = std::make_unique<ctl::Headless>();
      headless_->device().monitor.SetBlePresenceCheck([] { return false; });
      headless_->Start();
      runner_ = std::make_unique<ctl::Runner>(*headless_);
    }
    Settle();
  }
  DeviceHalf& device() { return GetParam() == Path::kWindow ? wnd_->page().device() : headless_->device(); }

  // A command on its way; Wait gives its answer.
  struct Call {
    std::unique_ptr<QLocalSocket> socket;  // the window path
    std::string received;
    std::shared_ptr<std::optional<Output>> headless;
  };
  using CallPtr = std::shared_ptr<Call>;

  CallPtr Begin(const std::vector<std::string>& args) { return BeginRaw(ctl::EncodeRequest(args), args); }
  CallPtr BeginRaw(const std::string& bytes, const std::vector<std::string>& args = {}) {
    auto call = std::make_shared<Call>();
    if (GetParam() == Path::kWindow) {
      call->socket = std::make_unique<QLocalSocket>();
      call->socket->connectToServer(socket_path_);
      EXPECT_TRUE(call->socket->waitForConnected(1000));
      if (!bytes.empty()) call->socket->write(bytes.data(), qint64(bytes.size()));
      call->socket->flush();
    } else {
      call->headless = std::make_shared<std::optional<Output>>();
      auto parsed = ctl::ParseArguments(args);
      if (auto* refused = std::get_if<Output>(&parsed)) {
        *call->headless = *refused;
      } else {
        runner_->Submit(std::get<ctl::Command>(parsed), nullptr, [slot = call->headless](const Output& o) { *slot = o; });
      }
    }
    pending_.push_back(call);
    return call;
  }
  // Runs the window's events and virtual time until the answer came (the exit record).
  Output Wait(const CallPtr& call) {
    std::erase(pending_, call);
    Output out;
    out.code = -1;
    for (int i = 0; i < 4000; ++i) {
      QCoreApplication::processEvents();
      if (call->headless && *call->headless) return **call->headless;
      if (call->socket) {
        call->received += call->socket->readAll().toStdString();
        std::string_view rest = call->received;
        for (ctl::ParsedRecord r; (r = ctl::ParseRecord(rest)).state == ctl::Parse::kComplete;) {
          rest.remove_prefix(r.consumed);
          if (r.tag == ctl::Tag::kOut) out.out += r.payload;
          if (r.tag == ctl::Tag::kErr) out.err += r.payload;
          if (r.tag == ctl::Tag::kExit) {
            out.code = std::stoi(r.payload);
            return out;
          }
        }
        if (call->received == "ok") {
          out.out = "ok";
          return out;
        }
      }
      AdvanceClock(50);
      QThread::usleep(200);  // real time for the socket's own timers
    }
    ADD_FAILURE() << "no answer";
    return out;
  }
  Output Run(const std::vector<std::string>& args) { return Wait(Begin(args)); }

  Disk ReadDisk() {
    ProfileStore s;
    auto lock = s.Lock();
    s.Load();
    Disk d;
    d.selected = s.header().selected_profile;
    for (const auto& r : s.list()) d.list.push_back(*r);
    return d;
  }
  std::string FileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path pro_file_;
  QString socket_path_;
  std::unique_ptr<ctl::PageHost> host_;
  std::unique_ptr<ctl::Server> server_;
  std::unique_ptr<LocalServer> server_socket_;
  std::unique_ptr<ctl::Headless> headless_;
  std::unique_ptr<ctl::Runner> runner_;
  std::vector<CallPtr> pending_;
  int brought_forward_ = 0;
};

struct Asked {
  const char* what;
  std::vector<std::string> args;  // "{pro}" is the profile file
  std::function<void(const Disk&)> check;
};

// Switch, DPI, button and import: on the mouse and on disk as asked.
TEST_P(CtlTest, CommandsLeaveTheMouseAndTheStoreAsAsked) {
  const std::vector<Asked> table = {
      {"switch by name", {"switch", "game"}, [](const auto& d) {
         EXPECT_EQ(d.selected, 1);
         EXPECT_EQ(d.current().dpi_value[1], 40);
       }},
      {"switch by number", {"switch", "1"}, [](const auto& d) { EXPECT_EQ(d.selected, 0); }},
      {"dpi, rounded down to a step", {"dpi", "2", "1649"}, [](const auto& d) { EXPECT_EQ(d.current().dpi_value[1], 32); }},
      {"dpi, clamped", {"dpi", "1", "99999"}, [](const auto& d) { EXPECT_EQ(d.current().dpi_value[0], kDpiMax / kDpiStep); }},
      {"dpi stage", {"dpi-stage", "3"}, [](const auto& d) { EXPECT_EQ(d.current().dpi_stage_index, 2); }},
      {"button function", {"button", "3", "right-click"}, [](const auto& d) { EXPECT_EQ(d.current().button[2].function_code, 2); }},
      {"button function by the word a user types", {"button", "5", "tilt-right"}, [](const auto& d) {
         EXPECT_EQ(d.current().button[4].function_code, 14);
       }},
      {"button shortcut", {"button", "4", "shortcut", "Ctrl+S"}, [](const auto& d) {
         const ButtonEntry& b = d.current().button[3];
         EXPECT_EQ(b.function_code, kFunctionShortcut);
         EXPECT_EQ(b.shortcut_modifiers, kCtrl);
         EXPECT_EQ(b.shortcut_key, kUsageS);
       }},
      {"button macro", {"button", "2", "macro", "fire"}, [](const auto& d) {
         const ButtonEntry& b = d.current().button[1];
         EXPECT_EQ(b.function_code, kFunctionMacro);
         EXPECT_EQ(FixedToString(b.macro_name), u"Fire");
         EXPECT_EQ(b.macro_action_count, 4);
       }},
      {"import", {"import", "{pro}"}, [](const auto& d) {
         ASSERT_EQ(d.list.size(), 3u);
         EXPECT_EQ(d.selected, 2);
         EXPECT_EQ(FixedToString(d.current().name), u"Imported");
         EXPECT_EQ(d.current().dpi_value[2], 64);
       }},
  };
  StartPath();
  for (const Asked& a : table) {
    SCOPED_TRACE(a.what);
    std::vector<std::string> args = a.args;
    for (auto& s : args) {
      if (s == "{pro}") s = pro_file_.string();
    }
    const Output out = Run(args);
    ASSERT_EQ(out.code, ctl::kExitDone) << out.err;
    const Disk disk = ReadDisk();
    a.check(disk);
    const sim::MouseState m = mouse_.State();
    EXPECT_EQ(m.connections[size_t(Connection::kCable)].rejected, 0) << m.last_rejection;
    ExpectMouseHolds(m, disk.current());
    // The working record (and so the window) shows what is on disk.
    auto working = device().working.Copy();
    ASSERT_TRUE(working);
    EXPECT_EQ(std::memcmp(&*working, &disk.current(), sizeof(ProfileRecord)), 0);
  }
  const auto macros = mouse_.State().Macros();
  ASSERT_FALSE(macros.empty()) << "the macro bound to button 2 reached the mouse";
}

// A command that comes while a write runs waits for it and is written after it.
TEST_P(CtlTest, ACommandDuringAWriteIsNotLost) {
  StartPath();
  const CallPtr first = Begin({"dpi", "1", "800"});
  for (int i = 0; i < 200 && !device().writing(); ++i) {
    QCoreApplication::processEvents();
    RunUntilIdle();
    QThread::usleep(200);
  }
  ASSERT_TRUE(device().writing()) << "the first command's write has begun";
  const CallPtr second = Begin({"button", "5", "forward"});
  EXPECT_EQ(Wait(first).code, ctl::kExitDone);
  EXPECT_EQ(Wait(second).code, ctl::kExitDone);
  const Disk disk = ReadDisk();
  EXPECT_EQ(disk.current().dpi_value[0], 16);
  EXPECT_EQ(disk.current().button[4].function_code, 4);
  ExpectMouseHolds(mouse_.State(), disk.current());
}

// Refused: exit 1 with a reason, and neither "pro.data" nor the mouse changed.
TEST_P(CtlTest, ARefusedCommandChangesNothing) {
  StartPath();
  const std::vector<std::vector<std::string>> refused = {
      {"button", "1", "right-click"},  // the only left click
      {"button", "6", "macro", "Fire"}, {"button", "2", "macro", "Nope"}, {"button", "13", "forward"},
      {"button", "2", "shortcut", "ctrl+"}, {"switch", "Nope"}, {"switch", "3"}, {"dpi", "9", "800"},
      {"dpi", "1", "fast"}, {"dpi", "7", "800"},  // a stage whose value is 0
      {"dpi-stage", "8"}, {"import", (root_ / "garbage.pro").string()}, {"import", (root_ / "missing.pro").string()},
      {"export", "Nope", (root_ / "out.pro").string()}, {"frobnicate"},
      {"bind", "Nope", "XLogo"}, {"bind", "1", ""}, {"bind", "1"}, {"unbind", "1", "XLogo"},
  };
  const std::string before = FileBytes(ProfileStorePath());
  const auto frames_before = mouse_.State().frame_counts;
  for (const auto& args : refused) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    const Output out = Run(args);
    EXPECT_EQ(out.code, ctl::kExitRefused);
    EXPECT_FALSE(out.err.empty());
  }
  EXPECT_TRUE(FileBytes(ProfileStorePath()) == before) << "pro.data changed";
  EXPECT_EQ(mouse_.State().frame_counts, frames_before);
  EXPECT_FALSE(std::filesystem::exists(root_ / "out.pro"));
}

// "pro.data" cannot be written (it no longer fits under the process's file-size limit): a command
// that changed the profile says so and does not end as done.
TEST_P(CtlTest, AStoreThatCannotBeSavedIsNotReportedDone) {
  StartPath();
  const std::string before = FileBytes(ProfileStorePath());
  std::vector<Output> outs;
  {
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.set());
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"dpi", "1", "800"}, {"import", pro_file_.string()}}) {
      outs.push_back(Run(args));
    }
  }
  for (const Output& out : outs) {
    EXPECT_EQ(out.code, ctl::kExitRefused);
    EXPECT_NE(out.err.find("could not be saved"), std::string::npos) << out.err;
  }
  EXPECT_TRUE(FileBytes(ProfileStorePath()) == before) << "the old store stays whole";
}

// The read-only commands, the exports and a macro's import: nothing is written to the mouse.
TEST_P(CtlTest, StatusListsAndExportsLeaveTheMouseAlone) {
  StartPath();
  const auto frames_before = mouse_.State().frame_counts;
  const Output status = Run({"--json", "status"});
  EXPECT_EQ(status.code, ctl::kExitDone) << status.err;
  EXPECT_NE(status.out.find("\"connection\":\"cable\""), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("\"profile\":\"Default\""), std::string::npos) << status.out;
  EXPECT_EQ(Run({"profiles"}).out, "* 1 Default\n  2 Game\n");
  EXPECT_EQ(Run({"--json", "macros"}).out, "[{\"index\":1,\"name\":\"Fire\",\"steps\":4}]\n");
  ASSERT_EQ(Run({"export", "2", (root_ / "game.pro").string()}).code, ctl::kExitDone);
  ASSERT_EQ(Run({"export-macro", "fire", (root_ / "fire.macro").string()}).code, ctl::kExitDone);
  ASSERT_EQ(Run({"import-macro", (root_ / "fire.macro").string()}).code, ctl::kExitDone);
  EXPECT_EQ(Run({"macros"}).out, "1 Fire (4 steps)\n2 Fire_1 (4 steps)\n");
  EXPECT_EQ(mouse_.State().frame_counts, frames_before);
  // The exported profile comes back whole.
  ASSERT_EQ(Run({"import", (root_ / "game.pro").string()}).code, ctl::kExitDone);
  EXPECT_EQ(Run({"profiles"}).out, "  1 Default\n  2 Game\n* 3 Game_1\n");
  EXPECT_EQ(ReadDisk().current().dpi_value[1], 40);
}

// Programs bound to profiles: listed by profile, moved from one profile to another, removed;
// the file follows and nothing is written to the mouse.
TEST_P(CtlTest, BindingsAreMadeListedAndRemoved) {
  StartPath();
  const auto frames_before = mouse_.State().frame_counts;
  EXPECT_EQ(Run({"bind", "game", "steam_app_730"}).code, ctl::kExitDone);
  EXPECT_EQ(Run({"bind", "1", "XLogo"}).code, ctl::kExitDone);
  EXPECT_EQ(Run({"bind", "2", "xlogo"}).err, "brevak-ctl: xlogo switched to Default; now to Game\n");
  EXPECT_EQ(Run({"bindings"}).out, "2 Game: steam_app_730, XLogo\n");
  EXPECT_EQ(Run({"unbind", "2", "STEAM_APP_730"}).code, ctl::kExitDone);
  EXPECT_EQ(Run({"--json", "bindings"}).out, "[{\"class\":\"XLogo\",\"profile\":\"Game\",\"profile_index\":2}]\n");
  EXPECT_EQ(FileBytes(BindingsPathBeside(ProfileStorePath())).find("steam"), std::string::npos);
  EXPECT_NE(FileBytes(BindingsPathBeside(ProfileStorePath())).find("XLogo\tGame\n"), std::string::npos);
  EXPECT_EQ(mouse_.State().frame_counts, frames_before);
}

INSTANTIATE_TEST_SUITE_P(Paths, CtlTest, ::testing::Values(Path::kWindow, Path::kHeadless),
                         [](const ::testing::TestParamInfo<Path>& p) {
                           return p.param == Path::kWindow ? "Window" : "Headless";
                         });

// The socket itself: garbage and an oversized request are refused and the program answers the
// next good one; a connection that sends nothing brings the window forward; a dialog open makes
// the program busy.
class CtlSocketTest : public CtlTest {};

TEST_P(CtlSocketTest, RefusesGarbageAndOversizedRequestsAndAnswersTheNext) {
  StartPath();
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"garbage", "GET / HTTP/1.1\r\n\r\n"},
      {"oversized", "BREVAK-CTL 1 99999999\n"},
      {"oversized body", "BREVAK-CTL 1 70000\n" + std::string(70000, 'x')},
      {"no arguments", "BREVAK-CTL 1 0\n"},
      {"another version", "BREVAK-CTL 7 7\nstatus"},
  };
  for (const auto& [what, bytes] : bad) {
    SCOPED_TRACE(what);
    const Output out = Wait(BeginRaw(bytes));
    EXPECT_EQ(out.code, ctl::kExitRefused);
    EXPECT_EQ(Run({"profiles"}).out, "* 1 Default\n  2 Game\n");
  }
  EXPECT_EQ(brought_forward_, 0);
  // A client that sends its request and then closes its sending side still gets the answer.
  CallPtr half = Begin({"profiles"});
  ASSERT_EQ(::shutdown(int(half->socket->socketDescriptor()), SHUT_WR), 0);
  EXPECT_EQ(Wait(half).out, "* 1 Default\n  2 Game\n");
  EXPECT_EQ(Wait(BeginRaw("")).out, "ok");
  EXPECT_EQ(brought_forward_, 1);
}

TEST_P(CtlSocketTest, ADialogOpenMakesTheProgramBusy) {
  StartPath();
  const std::string before = FileBytes(ProfileStorePath());
  QDialog dialog(wnd_->GetWidget());
  dialog.setModal(true);
  dialog.show();
  ASSERT_NE(QApplication::activeModalWidget(), nullptr);
  const Output out = Run({"dpi", "1", "800"});
  EXPECT_EQ(out.code, ctl::kExitBusy);
  dialog.hide();
  EXPECT_TRUE(FileBytes(ProfileStorePath()) == before) << "pro.data changed";
  EXPECT_EQ(Run({"dpi", "1", "800"}).code, ctl::kExitDone);
}

INSTANTIATE_TEST_SUITE_P(Window, CtlSocketTest, ::testing::Values(Path::kWindow));

}  // namespace
}  // namespace brevak::test
