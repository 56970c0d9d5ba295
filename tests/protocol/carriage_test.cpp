// The frame carriage against the four zentrix builds, bound by file name, and the simulated
// mouse in this process, on the virtual clock: the bytes of every path, its pauses, the 1K
// receiver's repeats and the order in which connections are tried. SendFrame runs on a
// thread of its own, as on the apply worker, while the test thread moves the clock and
// handles what the builds post to its window.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame_test_util.h"
#include "platform/clock.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "protocol/carriage.h"
#include "page/connections.h"
#include "protocol/driver_binding.h"
#include "protocol/frames.h"
#include "sim/in_process_backend.h"
#include "sim/sim_mouse.h"
#include "zentrix/hid_backend.h"

namespace brevak {
namespace {

using sim::Connection;
using test::Hex;
using test::ToHex;

// ---- What reaches the mouse ------------------------------------------------------------------

// One report as a build handed it to the HID layer (before the mouse pads it), and when.
struct SentReport {
  Connection connection;
  std::vector<uint8_t> bytes;
  int64_t at_ms;
  bool ok;
};

// Sits between the builds and the in-process simulated mouse and notes every output and
// feature report, so the exact bytes and lengths of each path can be checked.
class RecordingBackend final : public zentrix::HidBackend {
 public:
  explicit RecordingBackend(zentrix::HidBackend& inner) : inner_(inner) {}

  std::vector<zentrix::HidInterfaceInfo> Enumerate() override { return inner_.Enumerate(); }
  std::unique_ptr<zentrix::HidDevice> Open(const std::string& path) override {
    auto device = inner_.Open(path);
    auto where = sim::ParseInterfacePath(path);
    if (!device || !where) return device;
    return std::make_unique<Device>(*this, std::move(device), where->connection);
  }
  bool StartHotplug(std::function<void(const zentrix::HotplugEvent&)> sink) override {
    return inner_.StartHotplug(std::move(sink));
  }
  void StopHotplug() override { inner_.StopHotplug(); }

  std::vector<SentReport> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    return std::exchange(sent_, {});
  }

 private:
  class Device final : public zentrix::HidDevice {
   public:
    Device(RecordingBackend& owner, std::unique_ptr<zentrix::HidDevice> inner, Connection c)
        : owner_(owner), inner_(std::move(inner)), connection_(c) {}
    const zentrix::HidInterfaceInfo& info() const override { return inner_->info(); }
    int Write(const uint8_t* data, size_t length) override {
      const int n = inner_->Write(data, length);
      owner_.Note(connection_, data, length, n > 0);
      return n;
    }
    int Read(uint8_t* data, size_t capacity, int timeout_ms) override { return inner_->Read(data, capacity, timeout_ms); }
    void Cancel() override { inner_->Cancel(); }
    bool SetFeature(const uint8_t* data, size_t length) override {
      const bool ok = inner_->SetFeature(data, length);
      owner_.Note(connection_, data, length, ok);
      return ok;
    }
    int GetFeature(uint8_t* data, size_t length) override { return inner_->GetFeature(data, length); }

   private:
    RecordingBackend& owner_;
    std::unique_ptr<zentrix::HidDevice> inner_;
    Connection connection_;
  };

  void Note(Connection c, const uint8_t* data, size_t length, bool ok) {
    std::lock_guard<std::mutex> lock(mu_);
    sent_.push_back(SentReport{c, std::vector<uint8_t>(data, data + length), ClockNowMs(), ok});
  }

  zentrix::HidBackend& inner_;
  std::mutex mu_;
  std::vector<SentReport> sent_;
};

// The Bluetooth LE side: the frame goes whole to the mouse's characteristic.
class SimBleWriter final : public BleFrameWriter {
 public:
  explicit SimBleWriter(sim::SimMouse& mouse) : mouse_(mouse) {}
  int WriteFrame(std::span<const uint8_t> frame) override {
    const bool ok = mouse_.BleWrite(frame.data(), frame.size());
    std::lock_guard<std::mutex> lock(mu_);
    sent_.push_back(SentReport{Connection::kBle, {frame.begin(), frame.end()}, ClockNowMs(), ok});
    return ok ? 1 : 0;
  }
  std::vector<SentReport> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    return std::exchange(sent_, {});
  }

 private:
  sim::SimMouse& mouse_;
  std::mutex mu_;
  std::vector<SentReport> sent_;
};

// Debug output of every thread, one entry per OutputDebugStringA.
class DebugLines {
 public:
  DebugLines() {
    SetDebugSink([this](std::string_view line) {
      std::lock_guard<std::mutex> lock(mu_);
      lines_.emplace_back(line);
    });
  }
  ~DebugLines() { SetDebugSink({}); }
  std::vector<std::string> StartingWith(std::string_view prefix) {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::string> out;
    for (const auto& l : lines_)
      if (l.starts_with(prefix)) out.push_back(l);
    return out;
  }

 private:
  std::mutex mu_;
  std::vector<std::string> lines_;
};

// ---- Frames ----------------------------------------------------------------------------------

// Button slot 0 (first slot 1) with a macro of 60 presses and releases: 49 items fill the
// first frame, the rest go to slot 2.
constexpr int kMacroButton = 0;
constexpr int kMacroActions = 60;

std::unique_ptr<ProfileRecord> RecordWithTwoFrameMacro() {
  auto record = NewProfileRecord(u"carriage");
  ButtonEntry& b = record->button[kMacroButton];
  b.function_code = kFunctionMacro;
  b.macro_repeat_mode = 0;
  b.macro_loop_count = 3;
  b.macro_action_count = kMacroActions;
  for (int i = 0; i < kMacroActions; ++i) {
    MacroAction& a = b.macro_actions[i];
    a.code = uint8_t(4 + i / 2);
    a.kind = i % 2 == 0 ? kMacroPress : kMacroRelease;
    a.delay = uint16_t(10 + i);  // all below 128: one item each
  }
  return record;
}

std::vector<Frame> MacroFrames(const ProfileRecord& r) {
  return BuildMacroReports(r.button[kMacroButton], kMacroSlotBase[kMacroButton]);
}

// In the order a full write sends them.
std::vector<Frame> FullWriteFrames(const ProfileRecord& r) {
  std::vector<Frame> frames = {BuildFullWriteReport(), BuildAttributeReport(r), BuildLightingReport(r),
                               BuildPollingReport(r), BuildButtonReport(r)};
  for (const Frame& f : MacroFrames(r)) frames.push_back(f);
  return frames;
}

std::vector<uint8_t> Bytes(const Frame& f) { return test::Bytes(f); }

// ---- The rig ---------------------------------------------------------------------------------

struct Outcome {
  int result = -1;
  int64_t elapsed_ms = -1;
  Transport transport = Transport::kNone;
  bool delivered = false;
};

class CarriageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseVirtualClock(0);
    recorder_ = std::make_unique<RecordingBackend>(sim::InstallInProcessSim(mouse_));
    SetProcessObject(zentrix::kHidBackendObjectName, static_cast<zentrix::HidBackend*>(recorder_.get()));
    window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      // As the page does: a write acknowledgement with value 0 sets the flag, any other clears it.
      if ((msg == 1553 || msg == 1555 || msg == 1557) && (w & 0xFFFF) == 0x5059) ack_ = (l & 0xFF) == 0 ? 1 : 0;
      if (msg == 1559) {
        const auto* report = reinterpret_cast<const uint8_t*>(w);
        if (report[1] == 0x59 && report[2] == 0x50) ack_ = report[3] == 0 ? 1 : 0;
      }
      return 0;
    });
    for (size_t i = 0; i < kDriverBuilds.size(); ++i) {
      const DriverBuildInfo& info = kDriverBuilds[i];
      builds_[i] = BindDriverBuild(info);
      ASSERT_TRUE(builds_[i].bound()) << i;
      builds_[i].Set_VIDPID(info.vendor_id, info.product_id);
      if (info.device_version) builds_[i].Set_Device_Version(info.device_version);
    }
  }

  void TearDown() override {
    for (BoundBuild& b : builds_) ReleaseDriverBuild(b);
    RunUntilIdle();
    DestroyWindow(window_);
    SetProcessObject(zentrix::kHidBackendObjectName, nullptr);
    recorder_.reset();
    sim::UninstallInProcessSim();
    UseRealClock();
  }

  // Plugs the mouse in on `c` and opens it as the page does at start-up; a receiver is also
  // marked answering. The monitor starts after the plug: the in-process backend reports
  // arrivals to one monitor only, so each build finds its interfaces by enumeration.
  void Connect(Connection c) {
    mouse_.Plug(c);
    if (c != Connection::kBle) {
      const size_t i = c == Connection::kCable ? 0 : c == Connection::k1k ? 1 : c == Connection::k4k ? 2 : 3;
      ASSERT_EQ(builds_[i].Open_DevMonitor(window_, kConnections[i].input_msg, kConnections[i].device_msg), 1);
    }
    switch (c) {
      case Connection::kCable:
        ASSERT_EQ(builds_[0].Open_FeatureDevice(), 1);
        flags_.wired_state = kPresent;
        break;
      case Connection::k1k:
        ASSERT_EQ(builds_[1].Open_FeatureDevice(), 1);
        flags_.rx1k_state = kPresent;
        flags_.rx1k_active = 1;
        break;
      case Connection::k4k:
        ASSERT_EQ(builds_[2].Open_ReportDevice(), 1);
        flags_.rx4k_state = kPresent;
        flags_.rx4k_active = 1;
        break;
      case Connection::k8k:
        ASSERT_EQ(builds_[3].Open_ReportDevice(), 1);
        flags_.rx8k_state = kPresent;
        flags_.rx8k_active = 1;
        break;
      case Connection::kBle:
        flags_.ble_connected = 1;
        break;
    }
    AdvanceClock(20);  // the readers are waiting for reports
    RunUntilIdle();
  }

  // Sends one frame from a worker thread and moves the clock until it returns. `midway`, when
  // given, runs on the test thread `midway_at_ms` after the send began.
  Outcome Send(std::span<const uint8_t> frame, int64_t midway_at_ms = -1, std::function<void()> midway = {}) {
    Outcome out;
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    const int64_t start = ClockNowMs();
    int64_t end = -1;
    HANDLE worker = StartThread(
        [&]() -> DWORD {
          out.result = carriage_.SendFrame(bytes);
          end = ClockNowMs();
          out.transport = carriage_.last_transport();
          out.delivered = carriage_.last_delivered();
          return 0;
        },
        nullptr);
    if (midway) {
      AdvanceClock(midway_at_ms);
      midway();
    }
    for (int steps = 0; WaitForSingleObject(worker, 0) != WAIT_OBJECT_0; ++steps) {
      if (steps > 100000 || !AdvanceToNextDeadline()) {
        ADD_FAILURE() << "SendFrame did not return";
        break;
      }
    }
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    out.elapsed_ms = end - start;
    RunUntilIdle();
    return out;
  }
  Outcome Send(const Frame& f) { return Send(f.view()); }

  // Reports sent on `c` since the last call (reports on other connections are dropped).
  std::vector<SentReport> Sent(Connection c) {
    std::vector<SentReport> all = c == Connection::kBle ? ble_.Take() : recorder_->Take();
    std::erase_if(all, [c](const SentReport& s) { return s.connection != c; });
    return all;
  }
  const sim::ConnectionState& Counts(const sim::MouseState& s, Connection c) { return s.connections[size_t(c)]; }

  sim::SimMouse mouse_;
  std::unique_ptr<RecordingBackend> recorder_;
  SimBleWriter ble_{mouse_};
  HWND window_ = nullptr;
  TransportFlags flags_;
  std::array<BoundBuild, 4> builds_;
  std::atomic<int32_t> ack_{0};
  FrameCarriage carriage_{flags_, builds_, ack_, &ble_};
};

std::vector<uint8_t> Padded(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

// A macro frame as feature chunk k: [0x09][0x40][slot][k] + 60 frame bytes from 3 + 60k.
std::vector<uint8_t> FeatureChunk(const std::vector<uint8_t>& frame, uint8_t k) {
  std::vector<uint8_t> c = {0x09, 0x40, frame[2], k};
  for (size_t i = 3 + 60 * k; i < 3 + 60 * (k + 1u); ++i) c.push_back(i < frame.size() ? frame[i] : 0);
  return c;
}

// ---- Connection order ------------------------------------------------------------------------

TEST(TransportChoice, FollowsTheFixedOrderAndOnlyAnsweringReceivers) {
  TransportFlags f;
  EXPECT_EQ(ChooseTransport(f), Transport::kNone);
  f.ble_connected = 1;
  EXPECT_EQ(ChooseTransport(f), Transport::kBle);
  // Present receivers carry nothing until the mouse answers through them.
  f.rx1k_state = f.rx4k_state = f.rx8k_state = kPresent;
  EXPECT_EQ(ChooseTransport(f), Transport::kBle);
  f.rx1k_active = 1;
  EXPECT_EQ(ChooseTransport(f), Transport::kReceiver1k);
  f.rx4k_active = 1;
  EXPECT_EQ(ChooseTransport(f), Transport::kReceiver4k);
  f.rx8k_active = 1;
  EXPECT_EQ(ChooseTransport(f), Transport::kReceiver8k);
  f.wired_state = kPresent;
  EXPECT_EQ(ChooseTransport(f), Transport::kCable);

  // A removed cable or receiver is passed over even while its answering flag is still set.
  f.wired_state = kRemoved;
  f.rx8k_state = kRemoved;
  EXPECT_EQ(ChooseTransport(f), Transport::kReceiver4k);
  f.rx4k_state = kNeverOpened;
  EXPECT_EQ(ChooseTransport(f), Transport::kReceiver1k);
}

TEST(TransportChoice, OffersAFrameOnlyToTheConnectionsAfterAGivenOne) {
  TransportFlags f;
  f.wired_state = kPresent;
  f.rx8k_state = f.rx4k_state = f.rx1k_state = kPresent;
  f.rx8k_active = f.rx4k_active = f.rx1k_active = 1;
  f.ble_connected = 1;
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kNone), Transport::kCable);
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kCable), Transport::kReceiver8k);
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kReceiver8k), Transport::kReceiver4k);
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kReceiver4k), Transport::kReceiver1k);
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kReceiver1k), Transport::kBle);
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kBle), Transport::kNone);
  f.rx8k_active = f.rx4k_active = f.rx1k_active = 0;
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kCable), Transport::kBle);
  f.ble_connected = 0;
  EXPECT_EQ(ChooseTransportAfter(f, Transport::kCable), Transport::kNone);
}

TEST(TransportChoice, AppliesRunOnlyWithCableAnsweringReceiverOrBluetooth) {
  TransportFlags f;
  EXPECT_FALSE(ApplyAllowed(f));
  f.rx1k_state = f.rx4k_state = f.rx8k_state = kPresent;
  EXPECT_FALSE(ApplyAllowed(f)) << "receivers present, mouse not answering";
  f.wired_state = kRemoved;
  EXPECT_FALSE(ApplyAllowed(f));
  f.wired_state = kPresent;
  EXPECT_TRUE(ApplyAllowed(f));
  f.wired_state = kRemoved;
  for (std::atomic<int32_t>* active : {&f.rx1k_active, &f.rx4k_active, &f.rx8k_active, &f.ble_connected}) {
    *active = 1;
    EXPECT_TRUE(ApplyAllowed(f));
    *active = 0;
  }
}

// ---- Envelopes -------------------------------------------------------------------------------

TEST(Envelope, WrapsThePollingFrameWithItsOwnLengthAndChecksum) {
  auto record = NewProfileRecord(u"reset");
  const Frame polling = BuildPollingReport(*record);
  const auto envelope = BuildEnvelope(polling.view(), 0);
  EXPECT_EQ(ToHex(envelope), ToHex(Padded(Hex("04 0E 00 06 09 01 74 8B 00 00 00 00 01 21"), 65)));
}

std::string ConnectionParamName(const ::testing::TestParamInfo<Connection>& p) { return sim::ConnectionName(p.param); }

// ---- Each connection alone -------------------------------------------------------------------

class EveryConnection : public CarriageTest, public ::testing::WithParamInterface<Connection> {};

TEST_P(EveryConnection, CarriesTheResetRecordAndATwoFrameMacroIntoTheMouse) {
  const Connection c = GetParam();
  Connect(c);
  auto record = RecordWithTwoFrameMacro();
  const std::vector<Frame> frames = FullWriteFrames(*record);
  ASSERT_EQ(frames.size(), 7u);
  for (const Frame& f : frames) {
    SCOPED_TRACE(int(f[0]));
    const Outcome o = Send(f);
    const bool skipped = c == Connection::kBle && f[0] == kCmdPolling;
    EXPECT_EQ(o.delivered, !skipped);
  }
  const sim::MouseState s = mouse_.State();
  const bool ble = c == Connection::kBle;
  EXPECT_EQ(Counts(s, c).accepted, ble ? 6 : 7);
  EXPECT_EQ(Counts(s, c).rejected, 0) << s.last_rejection;
  for (Connection other : sim::kAllConnections)
    if (other != c) {
      EXPECT_EQ(Counts(s, other).accepted + Counts(s, other).rejected, 0) << sim::ConnectionName(other);
    }

  // What the mouse holds is what the record says.
  const ProfileRecord& r = *record;
  EXPECT_EQ(s.full_writes, 1);
  uint8_t mask = 0;
  for (int i = 0; i < kDpiStages; ++i) mask |= r.dpi_stage_enabled[i] ? 1 << i : 0;
  EXPECT_EQ(s.stage_mask, mask);
  for (int i = 0; i < kDpiStages; ++i) {
    if (r.dpi_value[i] != 0) {
      EXPECT_EQ(s.dpi_value[i], uint32_t(r.dpi_value[i])) << i;
    }
    EXPECT_EQ(s.dpi_colors[i], (sim::Rgb{ColorRed(r.dpi_color[i]), ColorGreen(r.dpi_color[i]), ColorBlue(r.dpi_color[i])}));
  }
  EXPECT_EQ(s.stage_index, r.dpi_stage_index);
  EXPECT_EQ(s.lift_off, r.lift_off_distance);
  EXPECT_EQ(s.ripple, r.ripple_control);
  EXPECT_EQ(s.angle_snap, r.angle_snap);
  EXPECT_EQ(s.motion_sync, r.motion_sync);
  EXPECT_EQ(s.light_effect, r.light_effect);
  EXPECT_EQ(s.effect_speed, r.effect_speed);
  EXPECT_EQ(s.sleep_timer, r.sleep_timer);
  EXPECT_EQ(s.brightness, r.brightness);
  EXPECT_EQ(s.light_color, (sim::Rgb{ColorRed(r.light_color), ColorGreen(r.light_color), ColorBlue(r.light_color)}));
  EXPECT_EQ(s.light_off_timer, r.light_off_timer);
  EXPECT_EQ(s.key_debounce, r.key_debounce);
  // Never sent over Bluetooth LE, so the mouse keeps what it had.
  EXPECT_EQ(s.polling, ble ? 0 : ((r.polling_rate_hs_index + 1) << 4 | (r.polling_rate_index + 1)));
  const Frame buttons = BuildButtonReport(r);
  for (size_t i = 0; i < sim::kButtonSlots; ++i)
    EXPECT_EQ(s.buttons[i], (std::array<uint8_t, 3>{buttons[3 + 3 * i], buttons[4 + 3 * i], buttons[5 + 3 * i]})) << i;
  EXPECT_EQ(s.buttons[kMacroButton][2], kMacroSlotBase[kMacroButton]);

  const auto macros = s.Macros();
  ASSERT_EQ(macros.size(), 1u);
  const sim::StoredMacro& m = macros[0];
  EXPECT_EQ(m.slot, kMacroSlotBase[kMacroButton]);
  EXPECT_EQ(m.frames, 2);
  EXPECT_TRUE(m.complete);
  EXPECT_EQ(m.loop_count, 3);
  ASSERT_EQ(m.items.size(), size_t(kMacroActions));
  for (int i = 0; i < kMacroActions; ++i) {
    const MacroAction& a = r.button[kMacroButton].macro_actions[i];
    EXPECT_EQ(m.items[i].kind, a.kind == kMacroPress ? sim::MacroItem::Kind::kPress : sim::MacroItem::Kind::kRelease);
    EXPECT_EQ(m.items[i].code, a.code);
    EXPECT_EQ(m.items[i].delay, a.delay);
  }
}

INSTANTIATE_TEST_SUITE_P(Carriage, EveryConnection,
                         ::testing::Values(Connection::kCable, Connection::k1k, Connection::k4k, Connection::k8k,
                                           Connection::kBle),
                         ConnectionParamName);

// ---- Bytes and pauses of each path -----------------------------------------------------------

TEST_F(CarriageTest, CableSendsFramesWholeAndMacroFramesAsTwoChunks) {
  Connect(Connection::kCable);
  auto record = RecordWithTwoFrameMacro();
  const Frame lighting = BuildLightingReport(*record);
  Outcome o = Send(lighting);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.transport, Transport::kCable);
  EXPECT_EQ(o.elapsed_ms, 1000);
  auto sent = Sent(Connection::kCable);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(ToHex(sent[0].bytes), ToHex(Bytes(lighting))) << "unchanged, with the frame's own length";

  const std::vector<uint8_t> macro = Bytes(MacroFrames(*record)[0]);
  const int64_t t0 = ClockNowMs();
  o = Send(macro);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.elapsed_ms, 200 + 200 + 1000);
  sent = Sent(Connection::kCable);
  ASSERT_EQ(sent.size(), 2u);
  for (uint8_t k = 0; k < 2; ++k) {
    EXPECT_EQ(ToHex(sent[k].bytes), ToHex(FeatureChunk(macro, k))) << int(k);
    EXPECT_EQ(sent[k].at_ms - t0, 200 * k);
  }
  EXPECT_EQ(sent[0].bytes[63], macro[62]);
  EXPECT_EQ(sent[1].bytes[4 + 47], macro[110]) << "the last frame byte";
  EXPECT_EQ(sent[1].bytes[4 + 48], 0);
}

TEST_F(CarriageTest, OneKReceiverSendsMacroFramesAsThreeChunksASecondApart) {
  Connect(Connection::k1k);
  DebugLines debug;
  auto record = RecordWithTwoFrameMacro();
  const Frame lighting = BuildLightingReport(*record);
  Outcome o = Send(lighting);
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.delivered);
  EXPECT_EQ(o.transport, Transport::kReceiver1k);
  EXPECT_EQ(o.elapsed_ms, 500 + 1000) << "acknowledged at once: no repeat";
  auto sent = Sent(Connection::k1k);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(ToHex(sent[0].bytes), ToHex(Bytes(lighting)));
  EXPECT_EQ(debug.StartingWith("Wireless Send"), std::vector<std::string>{"Wireless Send = 1"});

  const std::vector<uint8_t> macro = Bytes(MacroFrames(*record)[1]);
  const int64_t t0 = ClockNowMs();
  o = Send(macro);
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.delivered);
  EXPECT_EQ(o.elapsed_ms, 3 * 1000 + 1000);
  sent = Sent(Connection::k1k);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(ToHex(sent[0].bytes), ToHex(FeatureChunk(macro, 0)));
  EXPECT_EQ(ToHex(sent[1].bytes), ToHex(FeatureChunk(macro, 1)));
  EXPECT_EQ(ToHex(sent[2].bytes), ToHex(Padded({0x09, 0x0C, macro[2], 0x02}, 64)));
  EXPECT_EQ(macro[2], kMacroSlotBase[kMacroButton] + 1) << "the second frame's slot";
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(sent[k].at_ms - t0, int64_t(1000 * k));
}

class HighRateReceiver : public CarriageTest, public ::testing::WithParamInterface<Connection> {};

TEST_P(HighRateReceiver, WrapsFramesInEnvelopesAndMacroFramesInTwo) {
  const Connection c = GetParam();
  Connect(c);
  DebugLines debug;
  auto record = RecordWithTwoFrameMacro();
  Outcome o = Send(BuildPollingReport(*record));
  EXPECT_EQ(o.result, 0) << "these paths report nothing";
  EXPECT_TRUE(o.delivered);
  EXPECT_EQ(o.transport, c == Connection::k8k ? Transport::kReceiver8k : Transport::kReceiver4k);
  EXPECT_EQ(o.elapsed_ms, 1000);
  auto sent = Sent(c);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(ToHex(sent[0].bytes), ToHex(Padded(Hex("04 0E 00 06 09 01 74 8B 00 00 00 00 01 21"), 65)));

  const std::vector<uint8_t> macro = Bytes(MacroFrames(*record)[0]);
  const int64_t t0 = ClockNowMs();
  o = Send(macro);
  EXPECT_EQ(o.elapsed_ms, 200 + 200 + 1000);
  sent = Sent(c);
  ASSERT_EQ(sent.size(), 2u);
  std::vector<uint8_t> head = {0x04, 0x40, 0x00};
  head.insert(head.end(), macro.begin(), macro.begin() + 59);
  const uint16_t head_sum = test::SumOf(head, 0, 61);
  head.insert(head.end(), {uint8_t(head_sum >> 8), uint8_t(head_sum)});
  std::vector<uint8_t> tail = {0x04, 0x39, 0x01};
  tail.insert(tail.end(), macro.begin() + 59, macro.end());
  const uint16_t tail_sum = test::SumOf(tail, 0, 54);
  tail.insert(tail.end(), {uint8_t(tail_sum >> 8), uint8_t(tail_sum)});
  EXPECT_EQ(ToHex(sent[0].bytes), ToHex(Padded(head, 65)));
  EXPECT_EQ(ToHex(sent[1].bytes), ToHex(Padded(tail, 65)));
  EXPECT_EQ(sent[0].at_ms - t0, 0);
  EXPECT_EQ(sent[1].at_ms - t0, 200);

  // One line per byte summed for the second envelope, with the running sum.
  const auto lines = debug.StartingWith("wCheckSum");
  ASSERT_EQ(lines.size(), 55u);
  char last[64];
  std::snprintf(last, sizeof last, "wCheckSum = %x, buffer[54] = %d", tail_sum, tail[54]);
  EXPECT_EQ(lines.back(), last);
  EXPECT_EQ(lines.front(), "wCheckSum = 4, buffer[0] = 4");
}

INSTANTIATE_TEST_SUITE_P(Carriage, HighRateReceiver, ::testing::Values(Connection::k4k, Connection::k8k),
                         ConnectionParamName);

TEST_F(CarriageTest, BluetoothWritesFramesWholeButNeverThePollingFrame) {
  Connect(Connection::kBle);
  auto record = RecordWithTwoFrameMacro();
  Outcome o = Send(BuildPollingReport(*record));
  EXPECT_EQ(o.result, 0);
  EXPECT_FALSE(o.delivered) << "the polling change is still to be made";
  EXPECT_EQ(o.elapsed_ms, 1000);
  EXPECT_TRUE(Sent(Connection::kBle).empty());

  const Frame macro = MacroFrames(*record)[0];
  o = Send(macro);
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.delivered);
  EXPECT_EQ(o.transport, Transport::kBle);
  EXPECT_EQ(o.elapsed_ms, 1000);
  const auto sent = Sent(Connection::kBle);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(ToHex(sent[0].bytes), ToHex(Bytes(macro)));
}

TEST_F(CarriageTest, WithNoConnectionNothingIsSentButThePauseStays) {
  mouse_.Plug(Connection::kCable);
  mouse_.Plug(Connection::k4k);  // present, but the mouse has not answered through it
  ASSERT_EQ(builds_[2].Open_ReportDevice(), 1);
  flags_.rx4k_state = kPresent;
  flags_.wired_state = kRemoved;
  auto record = NewProfileRecord(u"none");
  const Outcome o = Send(BuildAttributeReport(*record));
  EXPECT_EQ(o.transport, Transport::kNone);
  EXPECT_FALSE(o.delivered);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.elapsed_ms, 1000);
  EXPECT_TRUE(recorder_->Take().empty());
}

TEST_F(CarriageTest, EachFrameTakesTheFirstQualifyingConnection) {
  for (Connection c : sim::kAllConnections) Connect(c);
  auto record = NewProfileRecord(u"order");
  const Frame lighting = BuildLightingReport(*record);
  struct Step {
    std::function<void()> change;
    Connection expected;
  };
  const Step steps[] = {
      {[] {}, Connection::kCable},
      {[&] { flags_.wired_state = kRemoved; }, Connection::k8k},
      {[&] { flags_.rx8k_active = 0; }, Connection::k4k},
      {[&] { flags_.rx4k_state = kRemoved; }, Connection::k1k},
      {[&] { flags_.rx1k_active = 0; }, Connection::kBle},
  };
  int step = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(step++);
    s.change();
    const sim::MouseState before = mouse_.State();
    Send(lighting);
    const sim::MouseState after = mouse_.State();
    for (Connection c : sim::kAllConnections)
      EXPECT_EQ(Counts(after, c).accepted - Counts(before, c).accepted, c == s.expected ? 1 : 0) << sim::ConnectionName(c);
  }
}

// ---- The 1K receiver's repeats ---------------------------------------------------------------

TEST_F(CarriageTest, OneKAcknowledgementDuringTheWaitStopsTheRepeats) {
  Connect(Connection::k1k);
  auto record = NewProfileRecord(u"ack");
  const Frame lighting = BuildLightingReport(*record);

  mouse_.DelayAnswers(300);  // within the first 500 ms wait
  Outcome o = Send(lighting);
  EXPECT_EQ(Sent(Connection::k1k).size(), 1u);
  EXPECT_EQ(o.elapsed_ms, 500 + 1000);
  EXPECT_TRUE(o.delivered);

  mouse_.DelayAnswers(700);  // lands in the second wait
  const int64_t t0 = ClockNowMs();
  o = Send(lighting);
  const auto sent = Sent(Connection::k1k);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].at_ms - t0, 500);
  EXPECT_EQ(o.elapsed_ms, 2 * 500 + 1000);
  EXPECT_TRUE(o.delivered);
}

TEST_F(CarriageTest, OneKFrameNeverAcknowledgedIsSentTenTimes) {
  Connect(Connection::k1k);
  DebugLines debug;
  auto record = NewProfileRecord(u"silent");
  mouse_.DropAnswers(1000);
  ack_ = 1;  // left over from an earlier frame: cleared before sending
  const int64_t t0 = ClockNowMs();
  const Outcome o = Send(BuildAttributeReport(*record));
  const auto sent = Sent(Connection::k1k);
  ASSERT_EQ(sent.size(), 10u);
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i].at_ms - t0, int64_t(500 * i));
  EXPECT_EQ(o.elapsed_ms, 10 * 500 + 1000);
  EXPECT_EQ(o.result, 1) << "the last SetFeature's";
  EXPECT_FALSE(o.delivered);
  EXPECT_EQ(debug.StartingWith("Wireless Send = 1").size(), 10u);
  EXPECT_EQ(Counts(mouse_.State(), Connection::k1k).accepted, 10);
}

TEST_F(CarriageTest, OneKFrameRejectedByTheMouseIsSentAgain) {
  Connect(Connection::k1k);
  auto record = NewProfileRecord(u"nack");
  mouse_.RejectNextFrames(2);
  const Outcome o = Send(BuildButtonReport(*record));
  EXPECT_EQ(Sent(Connection::k1k).size(), 3u);
  EXPECT_EQ(o.elapsed_ms, 3 * 500 + 1000);
  EXPECT_TRUE(o.delivered);
  const sim::MouseState s = mouse_.State();
  EXPECT_EQ(Counts(s, Connection::k1k).rejected, 2);
  EXPECT_EQ(Counts(s, Connection::k1k).accepted, 1);
}

TEST_F(CarriageTest, OneKMacroAttemptsRepeatUntilAcknowledgedCheckedBeforeEach) {
  Connect(Connection::k1k);
  auto record = RecordWithTwoFrameMacro();
  const Frame macro = MacroFrames(*record)[0];

  // The answer to the first attempt arrives while its closing chunk's pause runs.
  mouse_.DelayAnswers(1500);
  Outcome o = Send(macro);
  EXPECT_EQ(Sent(Connection::k1k).size(), 3u);
  EXPECT_EQ(o.elapsed_ms, 3 * 1000 + 1000);
  EXPECT_TRUE(o.delivered);

  // It arrives only once the second attempt has begun: that attempt still runs to its end.
  mouse_.DelayAnswers(2500);
  o = Send(macro);
  EXPECT_EQ(Sent(Connection::k1k).size(), 6u);
  EXPECT_EQ(o.elapsed_ms, 6 * 1000 + 1000);
  EXPECT_TRUE(o.delivered);

  // Never answered: ten attempts.
  mouse_.DelayAnswers(0);
  mouse_.DropAnswers(1000);
  const int accepted_before = Counts(mouse_.State(), Connection::k1k).accepted;
  o = Send(macro);
  EXPECT_EQ(Sent(Connection::k1k).size(), 30u);
  EXPECT_EQ(o.elapsed_ms, 30 * 1000 + 1000);
  EXPECT_FALSE(o.delivered);
  EXPECT_EQ(Counts(mouse_.State(), Connection::k1k).accepted - accepted_before, 10);
}

// ---- A cable macro frame that fails ----------------------------------------------------------

TEST_F(CarriageTest, CableMacroFrameCutOffMidwayGoesToTheNextConnection) {
  Connect(Connection::kCable);
  Connect(Connection::k4k);
  Connect(Connection::kBle);
  auto record = RecordWithTwoFrameMacro();
  const Frame macro = MacroFrames(*record)[0];
  const int64_t t0 = ClockNowMs();
  // The cable is pulled between the two chunks; the page has not heard of it yet.
  const Outcome o = Send(macro.view(), 100, [&] { mouse_.Unplug(Connection::kCable); });

  const auto all = recorder_->Take();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].connection, Connection::kCable);
  EXPECT_TRUE(all[0].ok);
  EXPECT_EQ(all[1].connection, Connection::kCable);
  EXPECT_FALSE(all[1].ok);
  EXPECT_EQ(all[1].at_ms - t0, 200);
  EXPECT_EQ(all[2].connection, Connection::k4k);
  EXPECT_EQ(all[2].at_ms - t0, 200) << "no pause after the failed chunk";
  EXPECT_EQ(all[3].connection, Connection::k4k);
  EXPECT_EQ(o.elapsed_ms, 200 + 200 + 200 + 1000);
  EXPECT_EQ(o.transport, Transport::kReceiver4k);
  EXPECT_TRUE(o.delivered);
  EXPECT_TRUE(ble_.Take().empty()) << "only the first connection after the cable";
  const sim::MouseState s = mouse_.State();
  EXPECT_EQ(Counts(s, Connection::k4k).accepted, 1);
  EXPECT_EQ(s.macro_frames.count(macro[2]), 1u);
}

TEST_F(CarriageTest, CableMacroFrameThroughAnUnboundBuildGoesToTheNextConnection) {
  Connect(Connection::kCable);
  Connect(Connection::k1k);
  ReleaseDriverBuild(builds_[0]);  // flags still say the cable is there
  auto record = RecordWithTwoFrameMacro();

  // Only macro frames move on; any other frame is lost with the failed call.
  Outcome o = Send(BuildLightingReport(*record));
  EXPECT_EQ(o.transport, Transport::kCable);
  EXPECT_EQ(o.result, 0);
  EXPECT_FALSE(o.delivered);
  EXPECT_EQ(o.elapsed_ms, 1000);
  EXPECT_TRUE(recorder_->Take().empty());

  const Frame macro = MacroFrames(*record)[0];
  o = Send(macro);
  EXPECT_EQ(o.transport, Transport::kReceiver1k);
  EXPECT_EQ(o.elapsed_ms, 3 * 1000 + 1000) << "no pauses after the cable's failed chunks";
  EXPECT_TRUE(o.delivered);
  EXPECT_EQ(Sent(Connection::k1k).size(), 3u);
  EXPECT_EQ(Counts(mouse_.State(), Connection::k1k).accepted, 1);
}

TEST_F(CarriageTest, CableMacroFrameWithNowhereElseToGoIsLost) {
  Connect(Connection::kCable);
  auto record = RecordWithTwoFrameMacro();
  const Outcome o = Send(MacroFrames(*record)[0].view(), 100, [&] { mouse_.Unplug(Connection::kCable); });
  EXPECT_EQ(o.transport, Transport::kCable);
  EXPECT_EQ(o.result, 0);
  EXPECT_FALSE(o.delivered);
  EXPECT_EQ(o.elapsed_ms, 200 + 1000);
  EXPECT_EQ(Sent(Connection::kCable).size(), 2u);
}

}  // namespace
}  // namespace brevak
