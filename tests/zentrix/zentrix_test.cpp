// The four zentrix builds, loaded by file name, against the simulated mouse in this process:
// matching, feature and output reports, the monitor's messages and its threads.
#include <gtest/gtest.h>

#include <array>
#include <atomic>

#include "zentrix/hid_interfaces.h"
#include "zentrix_test_util.h"

namespace brevak {
namespace {

using sim::Connection;
using test::LoadedBuild;
using test::Posted;

constexpr uint16_t kAck = 0x50 << 8 | 0x59;  // wParam of an acknowledgement: bytes 1 and 2

// The reset record's lighting frame and the polling frame's receiver envelope.
const std::vector<uint8_t> kLighting = {0x05, 0x0F, 0x01, 0x50, 0x03, 0xA8, 0x00, 0x00,
                                        0xFF, 0x02, 0x04, 0x02, 0x00, 0x00, 0x00};
std::array<uint8_t, 65> PollingEnvelope() {
  std::array<uint8_t, 65> e{};
  const uint8_t head[] = {0x04, 0x0E, 0x00, 0x06, 0x09, 0x01, 0x74, 0x8B, 0, 0, 0, 0, 0x01, 0x21};
  std::copy(std::begin(head), std::end(head), e.begin());
  return e;
}

class ZentrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The machine's own system bus stays out of these tests (the suspend tests bring their own).
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brevak-test-bus", 1);
    UseVirtualClock(0);
    sim::InstallInProcessSim(mouse_);
    window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      if (msg < 1553 || msg > 1560) return 0;
      Posted p{msg, w, l, {}};
      if (msg == 1559) p.report.assign(reinterpret_cast<const uint8_t*>(w), reinterpret_cast<const uint8_t*>(w) + 64);
      posted_.push_back(std::move(p));
      return 0;
    });
  }
  void TearDown() override {
    DestroyWindow(window_);
    sim::UninstallInProcessSim();
    UseRealClock();
  }
  // Lets the readers end their pause between reads and handles what they posted.
  void Settle() {
    AdvanceClock(20);
    RunUntilIdle();
  }
  std::vector<Posted> Take() {
    Settle();
    return std::exchange(posted_, {});
  }

  sim::SimMouse mouse_;
  HWND window_ = nullptr;
  std::vector<Posted> posted_;
};

TEST_F(ZentrixTest, ReportInterfaceMatchesByUsageIdsAndLowVersionByte) {
  mouse_.Plug(Connection::k4k);
  LoadedBuild b("zentrix_4k.so");
  ASSERT_TRUE(b.ok());
  EXPECT_EQ(b.Open_ReportDevice(), 0) << "no ids set yet";
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  for (auto [version, expected] : {std::pair{0x0116, 1}, {0x0016, 1}, {0x0216, 1}, {0x0117, 0}, {0x0118, 0}}) {
    b.Set_Device_Version(version);
    EXPECT_EQ(b.Open_ReportDevice(), expected) << std::hex << version;
  }
  b.Set_Device_Version(0x0116);
  b.Set_VIDPID(zentrix::kVendorId + 0x10000, zentrix::kReceiverHsProductId);
  EXPECT_EQ(b.Open_ReportDevice(), 0) << "a stored id above 0xFFFF never matches";
  b.Set_VIDPID(zentrix::kVendorId + 1, zentrix::kReceiverHsProductId);
  EXPECT_EQ(b.Open_ReportDevice(), 0);
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiver1kProductId);
  EXPECT_EQ(b.Open_ReportDevice(), 0);
  EXPECT_EQ(b.Close_ReportDevice(), 1);
  EXPECT_EQ(b.Close_ReportDevice(), 1) << "closing an empty record";

  // The 4K receiver's report interface (0xFF00/1) is the 8K build's monitored one, never its
  // report interface.
  LoadedBuild e("zentrix_8k.so");
  e.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  e.Set_Device_Version(0x0116);
  EXPECT_EQ(e.Open_ReportDevice(), 0);
  mouse_.Plug(Connection::k8k);
  e.Set_Device_Version(0x0118);
  EXPECT_EQ(e.Open_ReportDevice(), 1);
  e.Close_ReportDevice();
}

TEST_F(ZentrixTest, CableAnd1kCarryFramesAsFeatureReportsAndForwardAnswers) {
  struct Case {
    Connection connection;
    const char* file;
    uint16_t product;
    UINT button_msg, device_msg;
  };
  for (const Case& c : {Case{Connection::kCable, "zentrix_2.so", zentrix::kCableProductId, 1555, 1556},
                        Case{Connection::k1k, "zentrix_1.so", zentrix::kReceiver1kProductId, 1553, 1554}}) {
    SCOPED_TRACE(c.file);
    LoadedBuild b(c.file);
    ASSERT_TRUE(b.ok());
    b.Set_VIDPID(zentrix::kVendorId, c.product);
    EXPECT_EQ(b.Open_FeatureDevice(), 0) << "not plugged";
    std::vector<uint8_t> frame = kLighting;
    EXPECT_EQ(b.SetFeature(frame.data(), int(frame.size())), 0) << "no feature interface open";

    mouse_.Plug(c.connection);
    EXPECT_EQ(b.Open_DevMonitor(window_, c.button_msg, c.device_msg), 1);
    EXPECT_EQ(b.Open_FeatureDevice(), 1);
    EXPECT_EQ(b.SetFeature(frame.data(), int(frame.size())), 1);
    EXPECT_EQ(mouse_.State().light_effect, 5);
    EXPECT_EQ(mouse_.State().light_color.b, 0xFF);
    uint8_t answer[64] = {zentrix::kStatusReportId};
    EXPECT_EQ(b.GetFeature(answer, sizeof answer), 1);
    EXPECT_EQ(answer[1], 0x59);

    EXPECT_EQ(Take(), (std::vector<Posted>{{c.device_msg, 1, 1, {}}, {c.button_msg, kAck, 0, {}}}));
    EXPECT_EQ(b.Close_FeatureDevice(), 1);
    EXPECT_EQ(b.SetFeature(frame.data(), int(frame.size())), 0);
    EXPECT_EQ(b.Close_DevMonitor(), 1);
    EXPECT_EQ(Take(), (std::vector<Posted>{{c.device_msg, 0, 1, {}}}));
    mouse_.Unplug(c.connection);
  }
}

TEST_F(ZentrixTest, ReceiversCarryEnvelopesAndRefuseLongTransfers) {
  mouse_.Plug(Connection::k4k);
  LoadedBuild b("zentrix_4k.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  b.Set_Device_Version(0x0116);
  auto envelope = PollingEnvelope();
  EXPECT_EQ(b.WriteUSB(envelope.data(), 65), 0) << "no report interface open";
  ASSERT_EQ(b.Open_DevMonitor(window_, 1557, 1558), 1);
  ASSERT_EQ(b.Open_ReportDevice(), 1);
  EXPECT_EQ(b.Open_FeatureDevice(), 1) << "kept for the program, opens nothing";
  uint8_t feature[64] = {0x05};
  EXPECT_EQ(b.SetFeature(feature, 64), 0);
  EXPECT_EQ(b.GetFeature(feature, 64), 0);

  std::vector<uint8_t> too_long(201, 0x04);
  EXPECT_EQ(b.WriteUSB(too_long.data(), 201), 0);
  EXPECT_EQ(b.ReadUSB(too_long.data(), 201), 0);
  EXPECT_EQ(mouse_.State().connections[size_t(Connection::k4k)].accepted, 0);

  EXPECT_EQ(b.WriteUSB(envelope.data(), 65), 1);
  EXPECT_EQ(mouse_.State().polling, 0x74);
  EXPECT_EQ(Take(), (std::vector<Posted>{{1558, 1, 1, {}}, {1557, kAck, 0, {}}}));

  // Nothing comes back on the report interface: ReadUSB gives up after its 2000 ms wait and
  // leaves the caller's buffer alone.
  std::array<uint8_t, 65> in{};
  in.fill(0xEE);
  std::atomic<int> read_result{-1};
  HANDLE reader = StartThread([&]() -> DWORD { return DWORD(read_result = b.ReadUSB(in.data(), 65)); }, nullptr);
  AdvanceClock(1999);
  EXPECT_EQ(read_result, -1);
  AdvanceClock(1);
  WaitForSingleObject(reader, INFINITE);
  CloseHandle(reader);
  EXPECT_EQ(read_result, 0);
  EXPECT_EQ(in[0], 0xEE);

  b.Close_ReportDevice();
  EXPECT_EQ(b.WriteUSB(envelope.data(), 65), 0);
  b.Close_DevMonitor();
}

TEST_F(ZentrixTest, MonitorNumbersDevicesAndStopsEveryThread) {
  const int threads_before = test::BaselineThreadCount();
  LoadedBuild b("zentrix_8k.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  b.Set_Device_Version(0x0118);
  ASSERT_EQ(b.Open_DevMonitor(window_, 1559, 1560), 1);
  EXPECT_TRUE(Take().empty()) << "nothing plugged yet";

  mouse_.Plug(Connection::k8k);
  mouse_.Plug(Connection::k4k);  // another receiver: not this build's
  EXPECT_EQ(Take(), (std::vector<Posted>{{1560, 1, 1, {}}}));
  mouse_.Unplug(Connection::k8k);
  EXPECT_EQ(Take(), (std::vector<Posted>{{1560, 0, 1, {}}}));
  mouse_.Plug(Connection::k8k);
  EXPECT_EQ(Take(), (std::vector<Posted>{{1560, 1, 1, {}}})) << "indices start again at 1";

  // A second open only takes the new numbers; it adds nothing.
  EXPECT_EQ(b.Open_DevMonitor(window_, 1559, 1560), 1);
  EXPECT_TRUE(Take().empty());

  EXPECT_GT(test::ThreadCount(), threads_before);
  EXPECT_EQ(b.Close_DevMonitor(), 1);
  EXPECT_EQ(Take(), (std::vector<Posted>{{1560, 0, 1, {}}}));
  EXPECT_EQ(b.Close_DevMonitor(), 1);
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(test::ThreadCountSettlingAt(threads_before), threads_before) << "a monitor or reader thread outlived Close_DevMonitor";

  // The monitor starts again in the same process.
  EXPECT_EQ(b.Open_DevMonitor(window_, 1559, 1560), 1);
  EXPECT_EQ(Take(), (std::vector<Posted>{{1560, 1, 1, {}}}));
  EXPECT_EQ(b.Close_DevMonitor(), 1);
  Take();
}

TEST_F(ZentrixTest, PlugsRacingOpenAndCloseNeverLeaveADeviceBehindOrTwice) {
  LoadedBuild b("zentrix_8k.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  b.Set_Device_Version(0x0118);
  std::atomic<bool> done{false};
  HANDLE plugger = StartThread(
      [&]() -> DWORD {
        for (int i = 0; i < 300; ++i) {
          mouse_.Plug(Connection::k8k);
          mouse_.Unplug(Connection::k8k);
        }
        mouse_.Plug(Connection::k8k);
        done = true;
        return 0;
      },
      nullptr);
  // Messages of one monitor session at a time: the device is monitored at most once, and
  // everything added is removed by the close.
  for (int round = 0; round < 60 || !done; ++round) {
    ASSERT_EQ(b.Open_DevMonitor(window_, 1559, 1560), 1);
    RunUntilIdle();
    b.Close_DevMonitor();
    int monitored = 0;
    for (const Posted& p : Take()) {
      if (p.msg != 1560) continue;
      monitored += p.wParam == 1 ? 1 : -1;
      ASSERT_GE(monitored, 0) << "round " << round;
      ASSERT_LE(monitored, 1) << "round " << round << ": the same interface monitored twice";
    }
    ASSERT_EQ(monitored, 0) << "round " << round << ": a device outlived Close_DevMonitor";
  }
  WaitForSingleObject(plugger, INFINITE);
  CloseHandle(plugger);
}

TEST_F(ZentrixTest, UnloadingStopsTheMonitorWithoutMessages) {
  const int threads_before = test::BaselineThreadCount();
  mouse_.Plug(Connection::k8k);
  HMODULE m = LoadLibraryW((ProgramFolder() + u"zentrix_8k.so").c_str());
  ASSERT_NE(m, nullptr) << LastLoadError();
  reinterpret_cast<zentrix::SetVidPidFn>(GetProcAddress(m, "Set_VIDPID"))(zentrix::kVendorId,
                                                                         zentrix::kReceiverHsProductId);
  reinterpret_cast<zentrix::SetDeviceVersionFn>(GetProcAddress(m, "Set_Device_Version"))(0x0118);
  ASSERT_EQ(reinterpret_cast<zentrix::OpenDevMonitorFn>(GetProcAddress(m, "Open_DevMonitor"))(window_, 1559, 1560), 1);
  EXPECT_EQ(Take(), (std::vector<Posted>{{1560, 1, 1, {}}}));
  // No Close_DevMonitor: the library itself must not leave threads running code it unmaps.
  EXPECT_TRUE(FreeLibrary(m));
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(test::ThreadCountSettlingAt(threads_before), threads_before);
}

TEST_F(ZentrixTest, EightKReportsStayReadableAfterTheNextOne) {
  mouse_.Plug(Connection::k8k);
  LoadedBuild b("zentrix_8k.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  b.Set_Device_Version(0x0118);
  ASSERT_EQ(b.Open_DevMonitor(window_, 1559, 1560), 1);
  Take();

  // Two reports are read before the window looks at either: each must still hold its own bytes.
  mouse_.SetBattery(40);
  Settle();
  mouse_.SetBattery(70);
  auto posted = Take();
  ASSERT_EQ(posted.size(), 2u);
  const auto* first = reinterpret_cast<const uint8_t*>(posted[0].wParam);
  const auto* second = reinterpret_cast<const uint8_t*>(posted[1].wParam);
  EXPECT_EQ(first[1], 0x59);
  EXPECT_EQ(first[2], 0x40);
  EXPECT_EQ(first[4], 40);
  EXPECT_EQ(second[2], 0x40);
  EXPECT_EQ(second[4], 70);
  b.Close_DevMonitor();
  Take();
}

// The reader spaces what it forwards by its pause but waits only when reports come closer than
// that: a burst is forwarded whole, in order, one pause apart, and the next report after a
// quiet spell at once.
TEST_F(ZentrixTest, ReportsCloserThanThePauseAreAllForwardedInOrderAndSpaced) {
  constexpr int kPauseMs = 10;  // the reader's pause between forwarded reports
  mouse_.Plug(Connection::k4k);
  LoadedBuild b("zentrix_4k.so");
  ASSERT_TRUE(b.ok());
  b.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  b.Set_Device_Version(0x0116);
  ASSERT_EQ(b.Open_DevMonitor(window_, 1557, 1558), 1);
  Take();
  auto levels = [this] {
    std::vector<int> seen;
    for (const Posted& p : std::exchange(posted_, {})) {
      if (p.msg == 1557) seen.push_back(int(p.lParam >> 8));
    }
    return seen;
  };

  mouse_.SetBattery(40);
  RunUntilIdle();
  EXPECT_EQ(levels(), std::vector<int>{40}) << "after a quiet spell a report is forwarded without a pause";

  for (int level : {50, 60, 70}) mouse_.SetBattery(level);
  RunUntilIdle();
  EXPECT_TRUE(levels().empty()) << "the next report waits out the pause";
  for (int level : {50, 60, 70}) {
    AdvanceClock(kPauseMs - 1);
    EXPECT_TRUE(levels().empty()) << level << " came before its pause was over";
    AdvanceClock(1);
    EXPECT_EQ(levels(), std::vector<int>{level});
  }
  AdvanceClock(10 * kPauseMs);
  EXPECT_TRUE(levels().empty());

  mouse_.SetBattery(80);
  RunUntilIdle();
  EXPECT_EQ(levels(), std::vector<int>{80});
  b.Close_DevMonitor();
  Take();
}

TEST_F(ZentrixTest, FourBuildsInOneProcessKeepTheirOwnState) {
  for (Connection c : {Connection::kCable, Connection::k1k, Connection::k4k, Connection::k8k}) mouse_.Plug(c);
  LoadedBuild cable("zentrix_2.so"), rx1k("zentrix_1.so"), rx4k("zentrix_4k.so"), rx8k("zentrix_8k.so");
  ASSERT_TRUE(cable.ok() && rx1k.ok() && rx4k.ok() && rx8k.ok());
  cable.Set_VIDPID(zentrix::kVendorId, zentrix::kCableProductId);
  rx1k.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiver1kProductId);
  rx4k.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  rx4k.Set_Device_Version(0x0116);
  rx8k.Set_VIDPID(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  rx8k.Set_Device_Version(0x0118);
  EXPECT_EQ(cable.Open_DevMonitor(window_, 1555, 1556), 1);
  EXPECT_EQ(rx1k.Open_DevMonitor(window_, 1553, 1554), 1);
  EXPECT_EQ(rx4k.Open_DevMonitor(window_, 1557, 1558), 1);
  EXPECT_EQ(rx8k.Open_DevMonitor(window_, 1559, 1560), 1);
  EXPECT_EQ(cable.Open_FeatureDevice(), 1);
  EXPECT_EQ(rx1k.Open_FeatureDevice(), 1);
  EXPECT_EQ(rx4k.Open_ReportDevice(), 1);
  EXPECT_EQ(rx8k.Open_ReportDevice(), 1);
  auto posted = Take();
  for (UINT device_msg : {1554u, 1556u, 1558u, 1560u})
    EXPECT_EQ(std::count(posted.begin(), posted.end(), Posted{device_msg, 1, 1, {}}), 1) << device_msg;

  // A power report reaches every receiver's program message once, in that build's form.
  mouse_.SendPowerStatus();
  posted = Take();
  int power_1k = 0, power_4k = 0, power_8k = 0;
  for (const Posted& p : posted) {
    if (p.msg == 1553 && p.wParam == (0x40 << 8 | 0x59)) ++power_1k;
    if (p.msg == 1557 && p.wParam == (0x40 << 8 | 0x59)) ++power_4k;
    if (p.msg == 1559 && p.report[2] == 0x40) ++power_8k;
  }
  EXPECT_EQ(power_1k, 1);
  EXPECT_EQ(power_4k, 1);
  EXPECT_EQ(power_8k, 1);
  for (LoadedBuild* b : {&cable, &rx1k, &rx4k, &rx8k}) {
    b->Close_ReportDevice();
    b->Close_FeatureDevice();
    b->Close_DevMonitor();
  }
  Take();
}

}  // namespace
}  // namespace brevak
