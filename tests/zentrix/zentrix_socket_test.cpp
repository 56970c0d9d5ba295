// The run command's arrangement, end to end in real time: brevak-mousesim as its own process,
// a zentrix build finding it through ZENTRIX_SIM, frames reaching the mouse's state (read back
// with `ctl dump`) and the mouse's answers reaching the window as messages.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "zentrix/hid_interfaces.h"
#include "zentrix_test_util.h"

extern char** environ;

namespace brevak {
namespace {

using test::Posted;

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

class ZentrixSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/brevak-sock-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    socket_ = dir_ + "/mouse.sock";
    const char* argv[] = {BREVAK_MOUSESIM, "--socket", socket_.c_str(), "--connect", "1k", "--power-interval", "300",
                          nullptr};
    ASSERT_EQ(posix_spawn(&sim_pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    setenv("ZENTRIX_SIM", socket_.c_str(), 1);
    window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      if (msg == 1553 || msg == 1554) posted_.push_back({msg, w, l, {}});
      return 0;
    });
  }
  void TearDown() override {
    DestroyWindow(window_);
    unsetenv("ZENTRIX_SIM");
    if (sim_pid_ > 0) {
      kill(sim_pid_, SIGTERM);
      waitpid(sim_pid_, nullptr, 0);
    }
    std::filesystem::remove_all(dir_);
  }
  bool Seen(const Posted& p) { return std::count(posted_.begin(), posted_.end(), p) > 0; }
  std::string Ctl(const std::string& command) {
    return RunCommand(std::string(BREVAK_MOUSESIM) + " ctl --socket " + socket_ + " " + command);
  }

  std::string dir_, socket_;
  pid_t sim_pid_ = 0;
  HWND window_ = nullptr;
  std::vector<Posted> posted_;
};

TEST_F(ZentrixSocketTest, FramesReachTheMouseProgramAndItsAnswersComeBack) {
  test::LoadedBuild b("zentrix_1.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiver1kProductId);
  ASSERT_EQ(b.Open_DevMonitor(window_, 1553, 1554), 1);
  // The mouse may come up after the library: its interfaces then arrive like a plugged device.
  ASSERT_TRUE(test::PumpUntil([&] { return Seen({1554, 1, 1, {}}); }));
  ASSERT_TRUE(test::PumpUntil([&] { return b.Open_FeatureDevice() == 1; }));

  uint8_t lighting[15] = {0x05, 0x0F, 0x01, 0x50, 0x03, 0xA8, 0x00, 0x00, 0xFF, 0x02, 0x04, 0x02, 0x00, 0x00, 0x00};
  EXPECT_EQ(b.SetFeature(lighting, sizeof lighting), 1);
  EXPECT_TRUE(test::PumpUntil([&] { return Seen({1553, 0x5059, 0, {}}); })) << "acknowledgement";
  EXPECT_TRUE(test::PumpUntil([&] {
    return std::any_of(posted_.begin(), posted_.end(), [](const Posted& p) { return p.msg == 1553 && p.wParam == 0x4059; });
  })) << "the receiver's periodic power status";
  const std::string dump = Ctl("dump");
  EXPECT_NE(dump.find("\"effect\": 5"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"color\": \"0000FF\""), std::string::npos) << dump;

  // Unplugging the receiver in the mouse program removes the device here.
  Ctl("unplug 1k");
  EXPECT_TRUE(test::PumpUntil([&] { return Seen({1554, 0, 1, {}}); }));
  EXPECT_EQ(b.SetFeature(lighting, sizeof lighting), 0);
}

// The library's own backend (here the socket client) must outlive the monitor it serves when
// the program lets go of a build without closing it first.
TEST_F(ZentrixSocketTest, UnloadingWithoutCloseStopsEverything) {
  const int threads_before = test::BaselineThreadCount();
  HMODULE m = LoadLibraryW((ProgramFolder() + u"zentrix_1.so").c_str());
  ASSERT_NE(m, nullptr) << LastLoadError();
  reinterpret_cast<zentrix::SetVidPidFn>(GetProcAddress(m, "Set_VIDPID"))(zentrix::kVendorId,
                                                                         zentrix::kReceiver1kProductId);
  ASSERT_EQ(reinterpret_cast<zentrix::OpenDevMonitorFn>(GetProcAddress(m, "Open_DevMonitor"))(window_, 1553, 1554), 1);
  ASSERT_TRUE(test::PumpUntil([&] { return Seen({1554, 1, 1, {}}); }));
  EXPECT_TRUE(FreeLibrary(m));
  EXPECT_EQ(test::ThreadCountSettlingAt(threads_before), threads_before);
}

}  // namespace
}  // namespace brevak
