// Suspend and resume as logind announces them, on a private bus with a mocked logind: while
// the system sleeps arrivals are ignored, and an interface that arrived then stays unmonitored
// until it arrives again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "logind_rig.h"
#include "zentrix/hid_interfaces.h"
#include "zentrix_test_util.h"

namespace brevak {
namespace {

using sim::Connection;
using test::Posted;

class ZentrixSuspendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::InstallInProcessSim(mouse_);
    SetDebugSink([this](std::string_view line) {
      std::lock_guard lock(mu_);
      log_.append(line);
    });
    window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      if (msg == 1560) posted_.push_back({msg, w, l, {}});
      return 0;
    });
  }
  void TearDown() override {
    DestroyWindow(window_);
    SetDebugSink({});
    sim::UninstallInProcessSim();
  }

  size_t LogCount(std::string_view line) {
    std::lock_guard lock(mu_);
    size_t n = 0;
    for (size_t at = log_.find(line); at != std::string::npos; at = log_.find(line, at + 1)) ++n;
    return n;
  }
  bool Arrived() {
    return std::count(posted_.begin(), posted_.end(), Posted{1560, 1, 1, {}}) > 0;
  }

  sim::SimMouse mouse_;
  HWND window_ = nullptr;
  std::vector<Posted> posted_;
  std::mutex mu_;
  std::string log_;
};

TEST_F(ZentrixSuspendTest, ArrivalsWhileAsleepAreIgnoredUntilTheyArriveAgain) {
  test::LogindRig rig;
  ASSERT_TRUE(rig.ready()) << "dbus-daemon and python3-dbusmock's logind could not be started";
  test::LoadedBuild b("zentrix_8k.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  b.Set_Device_Version(zentrix::kReceiver8kVersion);
  ASSERT_EQ(b.Open_DevMonitor(window_, 1559, 1560), 1);
  ASSERT_TRUE(test::PumpUntil([&] { return LogCount("PrepareForSleep watched") == 1; })) << log_;

  ASSERT_TRUE(rig.EmitPrepareForSleep(true));
  ASSERT_TRUE(test::PumpUntil([&] { return LogCount("PBT_APMSUSPEND\n") == 1; }));
  mouse_.Plug(Connection::k8k);
  const size_t interfaces = sim::ConnectionInterfaces(Connection::k8k).size();  // one event each
  ASSERT_TRUE(test::PumpUntil([&] { return LogCount("DBT_DEVICEARRIVAL.\n") == interfaces; })) << log_;

  ASSERT_TRUE(rig.EmitPrepareForSleep(false));
  // The resume reopens the monitor with the same numbers.
  ASSERT_TRUE(test::PumpUntil([&] { return LogCount("ButtonMsg = 1559") == 2; })) << log_;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ProcessPendingMessages();
  EXPECT_FALSE(Arrived()) << "an interface that arrived while asleep is not monitored";

  mouse_.Unplug(Connection::k8k);
  mouse_.Plug(Connection::k8k);
  EXPECT_TRUE(test::PumpUntil([&] { return Arrived(); }));
  EXPECT_EQ(b.Close_DevMonitor(), 1);
}

TEST_F(ZentrixSuspendTest, MonitorRunsWithoutASystemBus) {
  const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string saved = old ? old : "";
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brevak-test-bus", 1);
  mouse_.Plug(Connection::k8k);
  test::LoadedBuild b("zentrix_8k.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  b.Set_Device_Version(zentrix::kReceiver8kVersion);
  EXPECT_EQ(b.Open_DevMonitor(window_, 1559, 1560), 1);
  EXPECT_TRUE(test::PumpUntil([&] { return Arrived(); }));
  EXPECT_TRUE(test::PumpUntil([&] { return LogCount("PrepareForSleep not watched") == 1; }));
  EXPECT_EQ(b.Close_DevMonitor(), 1);
  if (old) setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
  else unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace brevak
