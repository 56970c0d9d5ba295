// Binding the zentrix builds by file name and releasing them: which exports each build needs,
// what happens to a build that is missing or incomplete, and that no thread of a build
// outlives its release.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "page/connections.h"
#include "protocol/driver_binding.h"
#include "sim/in_process_backend.h"
#include "tests/zentrix/zentrix_test_util.h"

namespace brevak {
namespace {

using sim::Connection;

const DriverBuildInfo& Info(Transport t) {
  for (const DriverBuildInfo& info : kDriverBuilds)
    if (info.transport == t) return info;
  throw std::logic_error("no build");
}

Connection ConnectionOf(Transport t) {
  switch (t) {
    case Transport::kCable: return Connection::kCable;
    case Transport::kReceiver1k: return Connection::k1k;
    case Transport::kReceiver4k: return Connection::k4k;
    default: return Connection::k8k;
  }
}

// Debug output of every thread.
class DebugLines {
 public:
  DebugLines() {
    SetDebugSink([this](std::string_view line) {
      std::lock_guard<std::mutex> lock(mu_);
      text_ += line;
      text_ += '\n';
    });
  }
  ~DebugLines() { SetDebugSink({}); }
  std::string Text() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }

 private:
  std::mutex mu_;
  std::string text_;
};

// Calls made into the recording stand-in builds, which find this log by name.
using CallLogFn = void (*)(const char*);
std::mutex g_calls_mu;
std::vector<std::string> g_calls;
void RecordCall(const char* call) {
  std::lock_guard<std::mutex> lock(g_calls_mu);
  g_calls.emplace_back(call);
}
CallLogFn g_call_log = &RecordCall;

std::vector<std::string> TakeCalls() {
  std::lock_guard<std::mutex> lock(g_calls_mu);
  return std::exchange(g_calls, {});
}

class DriverBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseVirtualClock(0);
    sim::InstallInProcessSim(mouse_);
    window_ = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    SetProcessObject("test.driver_calls", &g_call_log);
    TakeCalls();
  }
  void TearDown() override {
    SetProcessObject("test.driver_calls", nullptr);
    RunUntilIdle();
    DestroyWindow(window_);
    sim::UninstallInProcessSim();
    UseRealClock();
  }

  // Binds a build from the folder of the recording stand-ins instead of the program folder.
  BoundBuild BindStandIn(const char16_t* file, Transport as) {
    const char* set = getenv("BREVAK_PROGRAM_DIR");
    const std::string program_dir = set ? set : "";
    setenv("BREVAK_PROGRAM_DIR", BREVAK_TEST_DRIVER_DIR, 1);
    DriverBuildInfo info = Info(as);
    info.file = file;
    BoundBuild b = BindDriverBuild(info);
    if (set) {
      setenv("BREVAK_PROGRAM_DIR", program_dir.c_str(), 1);
    } else {
      unsetenv("BREVAK_PROGRAM_DIR");
    }
    return b;
  }

  sim::SimMouse mouse_;
  HWND window_ = nullptr;
};

TEST_F(DriverBindingTest, EachBuildBindsItsExportsAndReachesItsConnection) {
  for (const DriverBuildInfo& info : kDriverBuilds) {
    SCOPED_TRACE(int(info.transport));
    BoundBuild b = BindDriverBuild(info);
    ASSERT_TRUE(b.bound());
    for (void* fn : {(void*)b.Set_VIDPID, (void*)b.Open_DevMonitor, (void*)b.Close_DevMonitor,
                     (void*)b.Open_FeatureDevice, (void*)b.Close_FeatureDevice, (void*)b.SetFeature,
                     (void*)b.GetFeature})
      EXPECT_NE(fn, nullptr);
    // Only the high-rate receivers are told a version and write output reports.
    const bool report = info.device_version != 0;
    for (void* fn : {(void*)b.Set_Device_Version, (void*)b.Open_ReportDevice, (void*)b.Close_ReportDevice,
                     (void*)b.WriteUSB, (void*)b.ReadUSB})
      EXPECT_EQ(fn != nullptr, report);

    // The entry points are this build's own: it finds its own connection and no other.
    const Connection c = ConnectionOf(info.transport);
    b.Set_VIDPID(info.vendor_id, info.product_id);
    if (report) b.Set_Device_Version(info.device_version);
    auto open = report ? b.Open_ReportDevice : b.Open_FeatureDevice;
    for (Connection other : {Connection::kCable, Connection::k1k, Connection::k4k, Connection::k8k})
      if (other != c) mouse_.Plug(other);
    EXPECT_EQ(open(), 0);
    mouse_.Plug(c);
    EXPECT_EQ(open(), 1);

    ReleaseDriverBuild(b);
    EXPECT_FALSE(b.bound());
    EXPECT_EQ(b.SetFeature, nullptr);
    EXPECT_EQ(b.WriteUSB, nullptr);
    for (Connection any : sim::kAllConnections) mouse_.Unplug(any);
  }
}

TEST_F(DriverBindingTest, MissingBuildStaysUnboundAndSaysWhy) {
  DebugLines debug;
  DriverBuildInfo info = Info(Transport::kReceiver8k);
  info.file = u"zentrix_absent.so";
  BoundBuild b = BindDriverBuild(info);
  EXPECT_FALSE(b.bound());
  EXPECT_EQ(b.Set_VIDPID, nullptr);
  EXPECT_NE(debug.Text().find("zentrix_absent.so"), std::string::npos) << debug.Text();
  ReleaseDriverBuild(b);  // nothing to release
  EXPECT_FALSE(b.bound());
}

TEST_F(DriverBindingTest, BuildLackingAnExportItsConnectionNeedsStaysUnbound) {
  DebugLines debug;
  BoundBuild b = BindStandIn(u"recording_driver_no_write.so", Transport::kReceiver4k);
  EXPECT_FALSE(b.bound());
  EXPECT_EQ(b.Set_VIDPID, nullptr) << "no half-bound table";
  EXPECT_NE(debug.Text().find("WriteUSB"), std::string::npos) << debug.Text();
  EXPECT_EQ(TakeCalls(), std::vector<std::string>{"unload"}) << "let go at once, nothing called";

  // The cable needs no report functions, so the same library binds as a cable build.
  b = BindStandIn(u"recording_driver_no_write.so", Transport::kCable);
  EXPECT_TRUE(b.bound());
  ReleaseDriverBuild(b);
  TakeCalls();
}

TEST_F(DriverBindingTest, ReleaseClosesInterfacesAndMonitorBeforeUnloading) {
  BoundBuild b = BindStandIn(u"recording_driver_full.so", Transport::kReceiver8k);
  ASSERT_TRUE(b.bound());
  ReleaseDriverBuild(b);
  EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Close_ReportDevice", "Close_FeatureDevice", "Close_DevMonitor", "unload"}));
  EXPECT_FALSE(b.bound());

  b = BindStandIn(u"recording_driver_full.so", Transport::kReceiver1k);
  ASSERT_TRUE(b.bound());
  EXPECT_EQ(b.WriteUSB, nullptr) << "not bound for a build without a version";
  ReleaseDriverBuild(b);
  EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Close_FeatureDevice", "Close_DevMonitor", "unload"}));
}

TEST_F(DriverBindingTest, ReleaseLeavesNoThreadOfAnyBuildRunning) {
  const int threads_before = test::BaselineThreadCount();
  for (Connection c : {Connection::kCable, Connection::k1k, Connection::k4k, Connection::k8k}) mouse_.Plug(c);
  std::array<BoundBuild, 4> builds;
  for (size_t i = 0; i < builds.size(); ++i) {
    const DriverBuildInfo& info = kDriverBuilds[i];
    builds[i] = BindDriverBuild(info);
    ASSERT_TRUE(builds[i].bound());
    BoundBuild& b = builds[i];
    b.Set_VIDPID(info.vendor_id, info.product_id);
    if (info.device_version) b.Set_Device_Version(info.device_version);
    EXPECT_EQ(b.Open_DevMonitor(window_, kConnections[i].input_msg, kConnections[i].device_msg), 1);
    EXPECT_EQ(info.device_version ? b.Open_ReportDevice() : b.Open_FeatureDevice(), 1);
  }
  AdvanceClock(20);
  RunUntilIdle();
  // Each build has its monitor thread and a reader for its connection's status interface.
  EXPECT_GE(test::ThreadCount(), threads_before + 8);

  for (BoundBuild& b : builds) ReleaseDriverBuild(b);
  EXPECT_EQ(test::ThreadCountSettlingAt(threads_before), threads_before);
}

}  // namespace
}  // namespace brevak
