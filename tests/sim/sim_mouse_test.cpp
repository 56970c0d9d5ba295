// The simulated mouse's state, answers and status reports, fed by hand-made reports on each
// connection.
#include "sim/sim_mouse.h"

#include <gtest/gtest.h>

#include <mutex>

#include "sim/sim_control.h"
#include "tests/sim/frames_by_hand.h"

namespace brevak::sim {
namespace {

using test::Bytes;
using zentrix::InterfaceKind;

class Recorder : public SimMouseListener {
 public:
  void OnEvent(const SimEvent& e) override {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(e);
  }
  std::vector<SimEvent> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    return std::exchange(events_, {});
  }
  // Status reports only, as (connection, type, value, value2, delay).
  std::vector<std::tuple<Connection, int, int, int, int>> Statuses() {
    std::vector<std::tuple<Connection, int, int, int, int>> out;
    for (const SimEvent& e : Take()) {
      if (e.kind == SimEvent::Kind::kStatus) {
        EXPECT_EQ(e.status[0], kStatusMarker);
        out.emplace_back(e.connection, e.status[1], e.status[2], e.status[3], e.delay_ms);
      }
    }
    return out;
  }

 private:
  std::mutex mu_;
  std::vector<SimEvent> events_;
};

class SimMouseTest : public ::testing::Test {
 protected:
  SimMouseTest() { mouse_.AddListener(rec_); }

  bool Feature(Connection c, const Bytes& b) { return mouse_.SetFeature(c, InterfaceKind::kFeature, b.data(), b.size()); }
  int Out(Connection c, const Bytes& b) { return mouse_.Write(c, InterfaceKind::kReport, b.data(), b.size()); }
  void Plug(std::initializer_list<Connection> cs) {
    for (Connection c : cs) mouse_.Plug(c);
    rec_->Take();
  }

  SimMouse mouse_;
  std::shared_ptr<Recorder> rec_ = std::make_shared<Recorder>();
};

constexpr auto kCable = Connection::kCable;
constexpr auto k1k = Connection::k1k;
constexpr auto k4k = Connection::k4k;
constexpr auto k8k = Connection::k8k;
constexpr auto kBle = Connection::kBle;
constexpr int kAck = kStatusAck;

TEST_F(SimMouseTest, FramesFromEveryConnectionUpdateOneState) {
  Plug({kCable, k1k, k4k, k8k, kBle});
  EXPECT_TRUE(Feature(kCable, test::ResetLighting()));  // padded by the HID call
  EXPECT_EQ(Out(k4k, test::Envelope(test::ResetAttribute(), 0)), 65);
  EXPECT_EQ(Out(k8k, test::PollingEnvelope()), 65);
  for (const Bytes& chunk : test::MacroChunks(test::TwoStepMacro(), true)) EXPECT_TRUE(Feature(k1k, chunk));
  const Bytes buttons = test::ButtonsFrame(), full = test::FullWrite();
  EXPECT_TRUE(mouse_.BleWrite(buttons.data(), buttons.size()));
  EXPECT_TRUE(mouse_.BleWrite(full.data(), full.size()));

  const MouseState s = mouse_.State();
  EXPECT_EQ(s.light_effect, 5);
  EXPECT_EQ(s.effect_speed, 6);
  EXPECT_EQ(s.sleep_timer, 10);
  EXPECT_EQ(s.brightness, 8);
  EXPECT_EQ(s.light_color, (Rgb{0, 0, 0xFF}));
  EXPECT_EQ(s.ripple, 1);
  EXPECT_EQ(s.stage_mask, 0x3F);
  EXPECT_EQ(s.dpi_value, (std::array<uint32_t, 8>{16, 32, 64, 130, 260, 520, 1, 1}));
  EXPECT_EQ(s.stage_index, 1);
  EXPECT_EQ(s.polling, 0x74);
  EXPECT_EQ(s.buttons[0], (std::array<uint8_t, 3>{1, 0x10, 0x80}));
  EXPECT_EQ(s.full_writes, 1);
  const std::vector<StoredMacro> macros = s.Macros();
  ASSERT_EQ(macros.size(), 1u);
  EXPECT_EQ(macros[0].slot, 1);
  EXPECT_EQ(macros[0].items.size(), 3u);
  const int accepted[] = {1, 1, 1, 1, 2};
  for (Connection c : kAllConnections) {
    EXPECT_EQ(s.connections[size_t(c)].accepted, accepted[size_t(c)]) << ConnectionName(c);
    EXPECT_EQ(s.connections[size_t(c)].rejected, 0) << ConnectionName(c);
  }
}

TEST_F(SimMouseTest, UnpluggedUnlinkedAndWrongInterfacesDoNotReachTheMouse) {
  const Bytes lighting = test::ResetLighting();
  EXPECT_FALSE(Feature(kCable, lighting));
  EXPECT_EQ(Out(k4k, test::PollingEnvelope()), -1);
  EXPECT_FALSE(mouse_.BleWrite(lighting.data(), lighting.size()));

  Plug({kCable, k4k});
  EXPECT_FALSE(mouse_.SetFeature(kCable, InterfaceKind::kOsd, lighting.data(), lighting.size()));
  EXPECT_EQ(mouse_.Write(kCable, InterfaceKind::kFeature, lighting.data(), lighting.size()), -1);
  EXPECT_FALSE(Feature(kCable, test::Padded(lighting, 65)));  // longer than the feature report
  EXPECT_EQ(Out(k4k, test::Padded(test::PollingEnvelope(), 66)), -1);

  // A receiver the mouse is not linked to takes the report and nothing more happens.
  mouse_.SetLinked(k4k, false);
  EXPECT_EQ(Out(k4k, test::PollingEnvelope()), 65);
  const MouseState s = mouse_.State();
  EXPECT_EQ(s.polling, 0);
  EXPECT_EQ(s.connections[size_t(k4k)].lost, 1);
  EXPECT_TRUE(rec_->Take().empty());
}

TEST_F(SimMouseTest, AnswersAcknowledgeAcceptedAndRefuseBadFrames) {
  Plug({k1k, k4k});
  Feature(k1k, test::ResetPolling());
  Bytes bad = test::ResetLighting();
  bad[6] ^= 0x10;
  Feature(k1k, bad);
  EXPECT_EQ(rec_->Statuses(), (std::vector<std::tuple<Connection, int, int, int, int>>{{k1k, kAck, 0, 0, 0},
                                                                                        {k1k, kAck, 1, 0, 0}}));
  const MouseState s = mouse_.State();
  EXPECT_EQ(s.connections[size_t(k1k)].rejected, 1);
  EXPECT_NE(s.last_rejection.find("1k: checksum"), std::string::npos) << s.last_rejection;

  // A macro frame on the 1K receiver is answered once, when its second chunk completes it.
  const std::vector<Bytes> chunks = test::MacroChunks(test::TwoStepMacro(), true);
  Feature(k1k, chunks[0]);
  EXPECT_TRUE(rec_->Take().empty());
  Feature(k1k, chunks[1]);
  Feature(k1k, chunks[2]);
  EXPECT_EQ(rec_->Statuses().size(), 1u);
}

TEST_F(SimMouseTest, DroppedDelayedAndRefusedAnswers) {
  Plug({k1k});
  mouse_.DropAnswers(2);
  for (int i = 0; i < 3; ++i) Feature(k1k, test::ResetPolling());
  EXPECT_EQ(rec_->Statuses().size(), 1u);  // the third repeat is the first one answered
  EXPECT_EQ(mouse_.State().connections[size_t(k1k)].accepted, 3);

  mouse_.DelayAnswers(300);
  Feature(k1k, test::ResetPolling());
  EXPECT_EQ(std::get<4>(rec_->Statuses().at(0)), 300);
  mouse_.DelayAnswers(0);

  mouse_.RejectNextFrames(1);
  Feature(k1k, test::ResetLighting());
  Feature(k1k, test::ResetLighting());
  const auto answers = rec_->Statuses();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(std::get<2>(answers[0]), 1);
  EXPECT_EQ(std::get<2>(answers[1]), 0);
  EXPECT_NE(mouse_.State().last_rejection.find("refused on purpose"), std::string::npos);
}

TEST_F(SimMouseTest, DpiStageIsReportedOnEveryLinkedConnection) {
  Plug({kCable, k8k, kBle});
  mouse_.SetLinked(k8k, false);
  Feature(kCable, test::AttributeWith(0b00100101, 0));  // stages 1, 3 and 6 enabled
  EXPECT_EQ(rec_->Statuses(), (std::vector<std::tuple<Connection, int, int, int, int>>{
                                  {kCable, kAck, 0, 0, 0}, {kCable, kStatusDpiStage, 1, 0, 0}, {kBle, kStatusDpiStage, 1, 0, 0}}));
  std::vector<int> reported;
  for (int press = 0; press < 4; ++press) {
    mouse_.PressDpiButton();
    for (const auto& s : rec_->Statuses()) {
      if (std::get<0>(s) == kCable) reported.push_back(std::get<2>(s));
    }
  }
  EXPECT_EQ(reported, (std::vector<int>{3, 6, 1, 3}));
  EXPECT_EQ(mouse_.State().stage_index, 2);

  Feature(kCable, test::AttributeWith(0, 4));  // no stage enabled: the button changes nothing
  rec_->Take();
  mouse_.PressDpiButton();
  EXPECT_EQ(std::get<2>(rec_->Statuses().at(0)), 5);
}

TEST_F(SimMouseTest, PowerReportsFollowBatteryAndCharging) {
  Plug({k4k, kBle});
  mouse_.SetBattery(40);
  mouse_.SetCharging(true);
  mouse_.SetBattery(100);
  mouse_.SetCharging(false);
  mouse_.SetBattery(250);  // clamped
  std::vector<std::tuple<int, int>> on_4k;
  for (const auto& s : rec_->Statuses()) {
    EXPECT_EQ(std::get<1>(s), kStatusPower);
    if (std::get<0>(s) == k4k) on_4k.emplace_back(std::get<2>(s), std::get<3>(s));
  }
  EXPECT_EQ(on_4k, (std::vector<std::tuple<int, int>>{{1, 40}, {3, 40}, {2, 100}, {1, 100}, {1, 100}}));

  mouse_.SendPowerStatus(k1k);  // not plugged: nothing
  mouse_.SendPowerStatus(k4k);
  EXPECT_EQ(rec_->Statuses().size(), 1u);

  uint8_t report[64] = {0x04};
  EXPECT_EQ(mouse_.GetFeature(k4k, InterfaceKind::kFeature, report, sizeof report), 64);
  EXPECT_EQ((Bytes(report, report + 5)), (Bytes{0x04, 0x59, 0x40, 1, 100}));
}

TEST_F(SimMouseTest, PlugEventsOncePerChange) {
  mouse_.Plug(k4k);
  mouse_.Plug(k4k);
  mouse_.Unplug(k4k);
  mouse_.Unplug(k4k);
  const std::vector<SimEvent> events = rec_->Take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, SimEvent::Kind::kPlugged);
  EXPECT_EQ(events[1].kind, SimEvent::Kind::kUnplugged);
  EXPECT_TRUE(mouse_.PresentInterfaces().empty());
}

TEST_F(SimMouseTest, MacrosAreAssembledFromTheirFramesAndRepeatsDoNotDuplicate) {
  Plug({kBle});
  const Bytes first = test::MacroFrame(21, true, {10, 4, 22, 0xFE}, 3);
  const Bytes second = test::MacroFrame(22, false, {12, 5, 0x8C, 5});
  for (const Bytes* f : {&first, &second, &second, &first}) mouse_.BleWrite(f->data(), f->size());
  std::vector<StoredMacro> macros = mouse_.State().Macros();
  ASSERT_EQ(macros.size(), 1u);
  EXPECT_TRUE(macros[0].complete);
  EXPECT_EQ(macros[0].frames, 2);
  EXPECT_EQ(macros[0].loop_count, 3);
  EXPECT_EQ(macros[0].items.size(), 3u);

  const Bytes lonely = test::MacroFrame(0, true, {10, 4, 1, 0xFE});
  mouse_.BleWrite(lonely.data(), lonely.size());
  macros = mouse_.State().Macros();
  ASSERT_EQ(macros.size(), 2u);
  EXPECT_EQ(macros[0].slot, 0);
  EXPECT_FALSE(macros[0].complete);  // its continuation never came
}

TEST_F(SimMouseTest, JsonDumpOfAFreshMouse) {
  mouse_.Plug(kCable);
  EXPECT_EQ(mouse_.DumpJson(), R"({
  "connections": {
    "cable": {"plugged": true, "linked": true, "accepted": 0, "rejected": 0, "lost": 0},
    "1k": {"plugged": false, "linked": true, "accepted": 0, "rejected": 0, "lost": 0},
    "4k": {"plugged": false, "linked": true, "accepted": 0, "rejected": 0, "lost": 0},
    "8k": {"plugged": false, "linked": true, "accepted": 0, "rejected": 0, "lost": 0},
    "ble": {"plugged": false, "linked": true, "accepted": 0, "rejected": 0, "lost": 0}
  },
  "attribute": {"lift_off": 0, "ripple": 0, "stage_mask": 0, "angle_snap": 0, "motion_sync": 0,
    "dpi_values": [0, 0, 0, 0, 0, 0, 0, 0],
    "dpi_colors": ["000000", "000000", "000000", "000000", "000000", "000000", "000000", "000000"],
    "stage_index": 0},
  "lighting": {"effect": 0, "speed": 0, "sleep_timer": 0, "brightness": 0, "color": "000000", "light_off_timer": 0, "key_debounce": 0},
  "polling": 0,
  "buttons": [[0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0], [0, 0, 0]],
  "macros": [],
  "frame_counts": {"attribute": 0, "lighting": 0, "polling": 0, "buttons": 0, "macro": 0, "full_write": 0},
  "full_writes": 0,
  "power": {"battery": 100, "charging": false, "state": 1},
  "last_rejection": ""
}
)");
}

TEST_F(SimMouseTest, JsonDumpAfterWrites) {
  Plug({kCable});
  Feature(kCable, test::ResetLighting());
  for (const Bytes& chunk : test::MacroChunks(test::TwoStepMacro(), false)) Feature(kCable, chunk);
  Bytes bad = test::ResetPolling();
  bad[4] = 0;
  Feature(kCable, bad);
  const std::string json = mouse_.DumpJson();
  for (const char* expected : {
           R"("cable": {"plugged": true, "linked": true, "accepted": 2, "rejected": 1, "lost": 0})",
           R"("lighting": {"effect": 5, "speed": 6, "sleep_timer": 10, "brightness": 8, "color": "0000FF", "light_off_timer": 2, "key_debounce": 4})",
           R"({"slot": 1, "repeat_mode": 0, "reserved": [0, 0, 0], "loop_count": 1, "frames": 1, "complete": true,)",
           R"("items": [{"kind": "press", "delay": 10, "code": 4}, {"kind": "release", "delay": 2, "code": 4}, {"kind": "long_delay", "hundreds": 2}]})",
           R"("frame_counts": {"attribute": 0, "lighting": 1, "polling": 0, "buttons": 0, "macro": 1, "full_write": 0})",
           R"("last_rejection": "cable: polling byte 4 must be the complement of 74, is 00")",
       }) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\nin\n" << json;
  }
}

TEST(SimControl, CommandsDriveTheMouse) {
  SimMouse mouse;
  auto rec = std::make_shared<Recorder>();
  mouse.AddListener(rec);
  EXPECT_TRUE(RunControl(mouse, "plug 4k").ok);
  EXPECT_TRUE(RunControl(mouse, "  link 4k   off ").ok);
  EXPECT_FALSE(mouse.IsLinked(Connection::k4k));
  EXPECT_TRUE(RunControl(mouse, "link 4k on").ok);
  EXPECT_TRUE(RunControl(mouse, "battery 40").ok);
  EXPECT_TRUE(RunControl(mouse, "charging on").ok);
  EXPECT_TRUE(RunControl(mouse, "press-dpi").ok);
  EXPECT_TRUE(RunControl(mouse, "power").ok);
  const MouseState s = mouse.State();
  EXPECT_TRUE(s.connections[size_t(Connection::k4k)].plugged);
  EXPECT_EQ(s.battery, 40);
  EXPECT_TRUE(s.charging);
  EXPECT_EQ(rec->Statuses().size(), 4u);

  EXPECT_TRUE(RunControl(mouse, "reject").ok);
  const Bytes env = test::PollingEnvelope();
  mouse.Write(Connection::k4k, InterfaceKind::kReport, env.data(), env.size());
  EXPECT_EQ(mouse.State().connections[size_t(Connection::k4k)].rejected, 1);
  EXPECT_TRUE(RunControl(mouse, "drop 1").ok);
  mouse.Write(Connection::k4k, InterfaceKind::kReport, env.data(), env.size());
  EXPECT_TRUE(RunControl(mouse, "delay 250").ok);
  mouse.Write(Connection::k4k, InterfaceKind::kReport, env.data(), env.size());
  const auto answers = rec->Statuses();
  ASSERT_EQ(answers.size(), 2u);  // the nack, then (one dropped) the delayed ack
  EXPECT_EQ(std::get<4>(answers[1]), 250);

  const ControlReply dump = RunControl(mouse, "dump");
  EXPECT_TRUE(dump.ok);
  EXPECT_EQ(dump.text, mouse.DumpJson());
  EXPECT_TRUE(RunControl(mouse, "unplug 4k").ok);
  EXPECT_FALSE(mouse.IsPlugged(Connection::k4k));
}

TEST(SimControl, BadCommandsSayWhatIsWrong) {
  SimMouse mouse;
  const std::pair<const char*, const char*> cases[] = {
      {"", "empty command"},          {"frobnicate", "unknown command 'frobnicate'"},
      {"plug usb", "usage: plug"},    {"battery 101", "usage: battery"},
      {"battery -1", "usage: battery"}, {"battery 4x", "usage: battery"},
      {"link 1k maybe", "usage: link"}, {"charging", "usage: charging"},
      {"drop", "usage: drop"},        {"dump now", "usage: dump"},
  };
  for (const auto& [command, why] : cases) {
    const ControlReply r = RunControl(mouse, command);
    EXPECT_FALSE(r.ok) << command;
    EXPECT_NE(r.text.find(why), std::string::npos) << command << ": " << r.text;
  }
  EXPECT_EQ(mouse.State().battery, 100);
}

}  // namespace
}  // namespace brevak::sim
