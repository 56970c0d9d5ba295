// The in-process HID seam over the simulated mouse: what zentrix sees of each connection,
// blocked readers woken by answers, cancellation and unplugging, and time-outs and delayed
// answers on the virtual clock. Runs under ThreadSanitizer (label "threads").
#include "sim/in_process_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "platform/clock.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "platform/winapi.h"
#include "tests/platform/hang_guard.h"
#include "tests/sim/frames_by_hand.h"

namespace brevak::sim {
namespace {

using test::Bytes;
using zentrix::HidDevice;
using zentrix::HidInterfaceInfo;
using zentrix::HotplugEvent;

// A thread known to the platform layer, so the virtual clock waits for it.
class Reader {
 public:
  Reader(HidDevice& device, int timeout_ms) {
    thread_ = StartThread(
        [this, &device, timeout_ms]() -> DWORD {
          uint8_t buf[128];
          const int n = device.Read(buf, sizeof buf, timeout_ms);
          std::lock_guard<std::mutex> lock(mu_);
          result_ = n;
          at_ = ClockNowMs();
          if (n > 0) bytes_.assign(buf, buf + n);
          return 0;
        },
        nullptr);
  }
  ~Reader() { Join(); }
  void Join() {
    if (!thread_) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  bool done() {
    std::lock_guard<std::mutex> lock(mu_);
    return result_.has_value();
  }
  int result() {
    Join();
    return *result_;
  }
  int64_t at() {
    Join();
    return at_;
  }
  Bytes bytes() {
    Join();
    return bytes_;
  }

 private:
  HANDLE thread_ = nullptr;
  std::mutex mu_;
  std::optional<int> result_;
  int64_t at_ = -1;
  Bytes bytes_;
};

class InProcessBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { UseVirtualClock(); }
  void TearDown() override { UseRealClock(); }

  HangGuard guard_;
  SimMouse mouse_;
  InProcessBackend backend_{mouse_};
};

Bytes Ack(size_t length) {
  Bytes r(length, 0);
  r[0] = 0x04, r[1] = 0x59, r[2] = 0x50;
  return r;
}

TEST_F(InProcessBackendTest, EnumerateShowsEachPluggedConnectionsInterfaces) {
  EXPECT_TRUE(backend_.Enumerate().empty());
  mouse_.Plug(Connection::k8k);
  mouse_.Plug(Connection::k1k);
  const std::vector<HidInterfaceInfo> list = backend_.Enumerate();
  ASSERT_EQ(list.size(), 6u);
  auto find = [&](const std::string& path) {
    for (const auto& i : list) {
      if (i.path == path) return i;
    }
    ADD_FAILURE() << path << " missing";
    return HidInterfaceInfo{};
  };
  const HidInterfaceInfo osd8k = find("sim:8k/osd");
  EXPECT_EQ(osd8k.usage_page, 0xFF00);
  EXPECT_EQ(osd8k.usage, 0x0001);
  EXPECT_EQ(osd8k.product_id, 0xFA65);
  EXPECT_EQ(osd8k.version_number, 0x0118);
  EXPECT_EQ(osd8k.input_report_length, 65);
  const HidInterfaceInfo report8k = find("sim:8k/report");
  EXPECT_EQ(report8k.usage_page, 0xFF01);
  EXPECT_EQ(report8k.output_report_length, 65);
  const HidInterfaceInfo feature1k = find("sim:1k/feature");
  EXPECT_EQ(feature1k.usage_page, 0x000B);
  EXPECT_EQ(feature1k.product_id, 0xFA60);
  EXPECT_EQ(feature1k.version_number & 0xFF, 0);  // the 1K build matches version 0
  EXPECT_EQ(feature1k.feature_report_length, 64);
  EXPECT_EQ(find("sim:1k/osd").input_report_length, 64);

  EXPECT_EQ(backend_.Open("sim:4k/osd"), nullptr);  // not plugged
  EXPECT_EQ(backend_.Open("sim:8k/nothing"), nullptr);
  EXPECT_EQ(backend_.Open(""), nullptr);
}

TEST_F(InProcessBackendTest, HotplugEventsArriveOnThePluggingThreadOnePerInterface) {
  std::vector<std::pair<HotplugEvent::Kind, std::string>> seen;
  const DWORD me = GetCurrentThreadId();
  ASSERT_TRUE(backend_.StartHotplug([&](const HotplugEvent& e) {
    EXPECT_EQ(GetCurrentThreadId(), me);
    seen.emplace_back(e.kind, e.path);
  }));
  mouse_.Plug(Connection::kCable);
  mouse_.Unplug(Connection::kCable);
  backend_.StopHotplug();
  mouse_.Plug(Connection::k4k);
  using P = std::pair<HotplugEvent::Kind, std::string>;
  EXPECT_EQ(seen, (std::vector<P>{{HotplugEvent::kArrival, "sim:cable/osd"},
                                  {HotplugEvent::kArrival, "sim:cable/feature"},
                                  {HotplugEvent::kArrival, "sim:cable/report"},
                                  {HotplugEvent::kRemoval, "sim:cable/osd"},
                                  {HotplugEvent::kRemoval, "sim:cable/feature"},
                                  {HotplugEvent::kRemoval, "sim:cable/report"}}));
}

TEST_F(InProcessBackendTest, ABlockedReaderGetsTheAnswerToAWriteFromAnotherThread) {
  mouse_.Plug(Connection::k4k);
  mouse_.Plug(Connection::k8k);
  std::unique_ptr<HidDevice> osd4k = backend_.Open("sim:4k/osd");
  std::unique_ptr<HidDevice> osd8k = backend_.Open("sim:8k/osd");
  std::unique_ptr<HidDevice> report = backend_.Open("sim:4k/report");
  ASSERT_TRUE(osd4k && osd8k && report);
  Reader reader(*osd4k, -1);
  RunUntilIdle();
  EXPECT_FALSE(reader.done());

  const Bytes env = test::PollingEnvelope();
  EXPECT_EQ(report->Write(env.data(), env.size()), 65);
  EXPECT_EQ(reader.bytes(), Ack(64));
  EXPECT_EQ(reader.at(), 0);  // no time passed
  EXPECT_EQ(mouse_.State().polling, 0x74);

  // The 8K receiver's OSD reports are 65 bytes; nothing of the 4K answer went there.
  uint8_t buf[80];
  EXPECT_EQ(osd8k->Read(buf, sizeof buf, 0), 0);
  mouse_.SendPowerStatus(Connection::k8k);
  ASSERT_EQ(osd8k->Read(buf, sizeof buf, 0), 65);
  EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{0x04, 0x59, 0x40, 1, 100}));
}

TEST_F(InProcessBackendTest, CancelWakesABlockedReaderForGood) {
  mouse_.Plug(Connection::kCable);
  std::unique_ptr<HidDevice> osd = backend_.Open("sim:cable/osd");
  Reader reader(*osd, -1);
  RunUntilIdle();
  osd->Cancel();
  EXPECT_EQ(reader.result(), -1);
  mouse_.SendPowerStatus();
  uint8_t buf[64];
  EXPECT_EQ(osd->Read(buf, sizeof buf, 1000), -1);
}

TEST_F(InProcessBackendTest, UnplugWakesReadersAndKillsTheHandlesEvenAfterReplug) {
  mouse_.Plug(Connection::k1k);
  std::unique_ptr<HidDevice> osd = backend_.Open("sim:1k/osd");
  std::unique_ptr<HidDevice> feature = backend_.Open("sim:1k/feature");
  Reader reader(*osd, 5000);
  RunUntilIdle();
  mouse_.Unplug(Connection::k1k);
  EXPECT_EQ(reader.result(), -1);
  EXPECT_EQ(reader.at(), 0);

  mouse_.Plug(Connection::k1k);
  const Bytes polling = test::ResetPolling();
  EXPECT_FALSE(feature->SetFeature(polling.data(), polling.size()));
  uint8_t buf[64] = {0x04};
  EXPECT_EQ(feature->GetFeature(buf, sizeof buf), -1);
  std::unique_ptr<HidDevice> fresh = backend_.Open("sim:1k/feature");
  EXPECT_TRUE(fresh->SetFeature(polling.data(), polling.size()));
  EXPECT_EQ(fresh->GetFeature(buf, sizeof buf), 64);
}

TEST_F(InProcessBackendTest, ReadTimesOutOnTheProcessClock) {
  mouse_.Plug(Connection::k4k);
  std::unique_ptr<HidDevice> osd = backend_.Open("sim:4k/osd");
  Reader reader(*osd, 250);
  AdvanceClock(249);
  EXPECT_FALSE(reader.done());
  AdvanceClock(1);
  EXPECT_EQ(reader.result(), 0);
  EXPECT_EQ(reader.at(), 250);
}

TEST_F(InProcessBackendTest, DelayedAnswersArriveWhenTheClockGetsThere) {
  mouse_.Plug(Connection::k1k);
  std::unique_ptr<HidDevice> osd = backend_.Open("sim:1k/osd");
  std::unique_ptr<HidDevice> feature = backend_.Open("sim:1k/feature");
  mouse_.DelayAnswers(300);
  Reader reader(*osd, -1);
  const Bytes polling = test::ResetPolling();
  ASSERT_TRUE(feature->SetFeature(polling.data(), polling.size()));
  AdvanceClock(299);
  EXPECT_FALSE(reader.done());
  AdvanceClock(1);
  EXPECT_EQ(reader.bytes(), Ack(64));
  EXPECT_EQ(reader.at(), 300);
}

// The 1K receiver's way of sending: repeat every 500 ms until the acknowledgement comes.
TEST_F(InProcessBackendTest, RepeatingUntilAcknowledgedGetsThroughDroppedAnswers) {
  mouse_.Plug(Connection::k1k);
  std::unique_ptr<HidDevice> osd = backend_.Open("sim:1k/osd");
  std::unique_ptr<HidDevice> feature = backend_.Open("sim:1k/feature");
  mouse_.DropAnswers(2);
  std::atomic<int> sends{0};
  HANDLE sender = StartThread(
      [&]() -> DWORD {
        const Bytes lighting = test::ResetLighting();
        uint8_t buf[64];
        for (int attempt = 0; attempt < 10; ++attempt) {
          ++sends;
          feature->SetFeature(lighting.data(), lighting.size());
          const int64_t until = ClockNowMs() + 500;
          for (int64_t now = ClockNowMs(); now < until; now = ClockNowMs()) {
            if (osd->Read(buf, sizeof buf, int(until - now)) > 0 && buf[2] == 0x50 && buf[3] == 0) return 0;
          }
        }
        return 1;
      },
      nullptr);
  AdvanceClock(5000);
  DWORD code = 99;
  WaitForSingleObject(sender, INFINITE);
  GetExitCodeThread(sender, &code);
  CloseHandle(sender);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(sends.load(), 3);
  EXPECT_EQ(mouse_.State().connections[size_t(Connection::k1k)].accepted, 3);
}

TEST(InProcessSimInstall, RegistersTheBackendForZentrix) {
  SimMouse mouse;
  InProcessBackend& installed = InstallInProcessSim(mouse);
  EXPECT_EQ(GetProcessObject(zentrix::kHidBackendObjectName), static_cast<zentrix::HidBackend*>(&installed));
  mouse.Plug(Connection::kCable);
  auto* seen = static_cast<zentrix::HidBackend*>(GetProcessObject(zentrix::kHidBackendObjectName));
  EXPECT_EQ(seen->Enumerate().size(), 3u);
  UninstallInProcessSim();
  EXPECT_EQ(GetProcessObject(zentrix::kHidBackendObjectName), nullptr);
}

}  // namespace
}  // namespace brevak::sim
