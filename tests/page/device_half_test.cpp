// The loop from the working record to the simulated mouse and back, on each connection, on
// the virtual clock: what is sent when, over which connection, and what the mouse's reports do.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "device_test_util.h"
#include "platform/format.h"
#include "platform/text.h"
#include "protocol/frames.h"

namespace brevak {
namespace {

using sim::Connection;
using test::DeviceTest;

using test::BindMacro;
using test::ExpectMouseHolds;

class OnEachConnection : public DeviceTest, public ::testing::WithParamInterface<Connection> {};

TEST_P(OnEachConnection, CarriesTheWholeProfile) {
  const Connection c = GetParam();
  Start({c});
  if (c != Connection::kCable) {
    EXPECT_FALSE(Apply()) << "a receiver is silent until the mouse reports power";
    EXPECT_EQ(Accepted(c), 0);
    PowerFrom(c);
  }
  working().Edit([](ProfileRecord& r) {
    r.dpi_value[2] = 64;
    r.light_effect = 2;
    r.polling_rate_hs_index = 5;
    BindMacro(r, 0, 40);
    BindMacro(r, 6, 4);
  });
  ASSERT_TRUE(Apply());
  const sim::MouseState m = mouse_.State();
  EXPECT_EQ(m.full_writes, 1);
  EXPECT_EQ(m.connections[size_t(c)].rejected, 0) << m.last_rejection;
  ExpectMouseHolds(m, *working().Copy());
  const auto macros = m.Macros();
  ASSERT_EQ(macros.size(), 2u);
  EXPECT_EQ(macros[0].slot, kMacroSlotBase[0]);
  EXPECT_EQ(macros[0].frames, 2);
  EXPECT_TRUE(macros[0].complete);
  EXPECT_EQ(macros[1].slot, kMacroSlotBase[6]);
  EXPECT_EQ(worker().full_write_pending(), 0);
}

// What the window and a client show while the mouse is written: every frame reported once, in
// order, as k of n, with the pauses still ahead (exact on the virtual clock), and then the end.
TEST_P(OnEachConnection, ReportsEveryFrameOnceInOrderWithTheTimeLeft) {
  const Connection c = GetParam();
  struct Seen {
    ApplyProgress progress;
    DWORD at;
  };
  std::mutex lock;
  std::vector<Seen> seen;
  DWORD ended_at = 0;
  worker().SetProgressListener([&](const ApplyProgress& p) {
    std::lock_guard<std::mutex> hold(lock);
    seen.push_back({p, GetTickCount()});
  });
  worker().SetListener([&](const ApplyReport& r) {
    std::lock_guard<std::mutex> hold(lock);
    if (r.ran) ended_at = GetTickCount();
  });
  Start({c});
  if (c != Connection::kCable) PowerFrom(c);
  working().Edit([](ProfileRecord& r) { BindMacro(r, 0, 40); });
  ASSERT_TRUE(Apply());
  std::lock_guard<std::mutex> hold(lock);
  // The whole profile (full write, DPI, lighting, polling, buttons) and two macro frames.
  const std::vector<ApplyStep> steps = {ApplyStep::kFullWrite, ApplyStep::kAttribute, ApplyStep::kLighting,
                                        ApplyStep::kPolling,   ApplyStep::kButtons,   ApplyStep::kMacro,
                                        ApplyStep::kMacro};
  ASSERT_EQ(seen.size(), steps.size());
  for (size_t k = 0; k < seen.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(seen[k].progress.frame, int(k + 1));
    EXPECT_EQ(seen[k].progress.frames, int(steps.size()));
    EXPECT_EQ(seen[k].progress.step, steps[k]);
    EXPECT_EQ(seen[k].progress.ms_left, ended_at - seen[k].at) << "the time left is the pauses still ahead";
  }
  EXPECT_EQ(seen.back().progress.button, 0);
  // The window was told the same, and how it ended.
  EXPECT_EQ(view_.text["apply_ring"], LanguageText(u"apply_done_text"));
  EXPECT_EQ(view_.progress["ms_1_apply_progress"], 100);
  EXPECT_EQ(view_.foreign_calls, 0);
}

INSTANTIATE_TEST_SUITE_P(Connections, OnEachConnection,
                         ::testing::Values(Connection::kCable, Connection::k1k, Connection::k4k, Connection::k8k),
                         [](const auto& p) { return std::string("on_") + sim::ConnectionName(p.param); });

TEST_F(DeviceTest, FramesTakeTheFirstConnectionInOrder) {
  Start({Connection::k1k, Connection::k4k, Connection::k8k});
  PowerFrom(Connection::k1k);
  PowerFrom(Connection::k4k);
  ASSERT_TRUE(Apply());
  EXPECT_GT(Accepted(Connection::k4k), 0) << "4K before 1K";
  EXPECT_EQ(Accepted(Connection::k1k), 0);
  EXPECT_EQ(Accepted(Connection::k8k), 0) << "8K is present but has not answered";

  PowerFrom(Connection::k8k);
  const int on_4k = Accepted(Connection::k4k);
  working().Edit([](ProfileRecord& r) { r.light_effect = 3; });
  ASSERT_TRUE(Apply());
  EXPECT_EQ(Accepted(Connection::k4k), on_4k);
  EXPECT_EQ(Accepted(Connection::k8k), 1) << "8K before 4K, once it answers";

  mouse_.Plug(Connection::kCable);
  Settle();
  AdvanceClock(1000);  // the arrival's settling wait
  working().Edit([](ProfileRecord& r) { r.light_effect = 4; });
  ASSERT_TRUE(Apply());
  EXPECT_EQ(Accepted(Connection::kCable), 1) << "the cable before every receiver";
  EXPECT_EQ(Accepted(Connection::k8k), 1);
}

TEST_F(DeviceTest, OnlyChangedGroupsAreSentAndEveryApplySaves) {
  Start({Connection::kCable});
  ASSERT_TRUE(Apply());
  const int attribute = FrameCount("attribute"), lighting = FrameCount("lighting"), polling = FrameCount("polling"),
            buttons = FrameCount("buttons");
  working().Edit([](ProfileRecord& r) { r.dpi_value[0] = 20; });
  ASSERT_TRUE(Apply());
  EXPECT_EQ(FrameCount("attribute"), attribute + 1);
  EXPECT_EQ(FrameCount("lighting"), lighting);
  EXPECT_EQ(FrameCount("polling"), polling);
  EXPECT_EQ(FrameCount("buttons"), buttons);

  // No group covers the wake-up option: nothing is sent, the store still is saved.
  working().Edit([](ProfileRecord& r) { r.wakeup = 1; });
  const int accepted = Accepted(Connection::kCable);
  ASSERT_TRUE(Apply());
  EXPECT_EQ(Accepted(Connection::kCable), accepted);
  ProfileStore reread;
  ASSERT_EQ(reread.Load(), StoreLoad::kLoaded);
  EXPECT_EQ(reread.list()[size_t(reread.header().selected_profile)]->wakeup, 1);

  // Another profile: full write, then every group and every bound macro.
  {
    auto lock = profiles_->Lock();
    auto second = NewProfileRecord(u"Second");
    BindMacro(*second, 1, 3);
    BindMacro(*second, 4, 3);  // button 5 has no macro slots of its own
    profiles_->list().push_back(std::move(second));
  }
  ASSERT_TRUE(working().Select(1));
  worker().RequestFullWrite();
  ASSERT_TRUE(Apply());
  EXPECT_EQ(mouse_.State().full_writes, 2);
  EXPECT_EQ(FrameCount("attribute"), attribute + 2);
  EXPECT_EQ(FrameCount("lighting"), lighting + 1);
  EXPECT_EQ(FrameCount("buttons"), buttons + 1);
  ASSERT_EQ(mouse_.State().Macros().size(), 1u) << "button 5's macro is withheld";
  EXPECT_EQ(mouse_.State().Macros()[0].slot, kMacroSlotBase[1]);
}

// What the mouse missed reaches it when it answers again, with no click of the user's, and the
// progress strip says what it waits for until then: a profile switch on the 1K receiver cut
// by an unplug 2.3 s in, and an edit made while the mouse sleeps on the 4K receiver.
TEST_F(DeviceTest, WhatTheMouseMissedGoesWhenItAnswersAgainAndIsShownUntilThen) {
  const std::u16string waiting = Format(LanguageText(u"apply_pending_text"), u"");
  auto shows_waiting = [&] { return view_.text["apply_ring"].rfind(waiting, 0) == 0; };
  auto run_until_applied = [&](int applies) {
    for (int ms = 0; ms < 600'000 && applies_done_ < applies; ms += 250) AdvanceClock(250);
    return applies_done_ >= applies;
  };

  Start({Connection::k1k, Connection::k4k});
  PowerFrom(Connection::k1k);
  ASSERT_TRUE(Apply());
  {
    auto lock = profiles_->Lock();
    auto second = NewProfileRecord(u"Second");
    second->dpi_value[0] = 40;
    second->light_effect = 3;
    second->polling_rate_index = 1;
    BindMacro(*second, 6, 4);
    profiles_->list().push_back(std::move(second));
  }
  ASSERT_TRUE(working().Select(1));
  worker().RequestFullWrite();
  PostMessageW(window_, kMsgSettingsChanged, 0, 0);
  AdvanceClock(2300);
  mouse_.Unplug(Connection::k1k);
  ASSERT_TRUE(run_until_applied(2));
  EXPECT_TRUE(shows_waiting()) << Utf16ToUtf8(view_.text["apply_ring"]);
  AdvanceClock(5000);
  EXPECT_EQ(applies_done_, 2) << "nothing goes while the receiver is away";
  EXPECT_TRUE(shows_waiting());

  mouse_.Plug(Connection::k1k);
  Settle();
  AdvanceClock(kArrivalSettleMs);
  PowerFrom(Connection::k1k);  // the mouse reports through the receiver again
  ASSERT_TRUE(run_until_applied(3));
  ExpectMouseHolds(mouse_.State(), *working().Copy());
  ASSERT_EQ(mouse_.State().Macros().size(), 1u);
  EXPECT_TRUE(mouse_.State().Macros()[0].complete);
  EXPECT_EQ(view_.text["apply_ring"], LanguageText(u"apply_done_text"));

  // The mouse falls asleep on the 4K receiver (the 1K one unplugged): an edit then is not
  // tried, and is sent at the wake.
  mouse_.Unplug(Connection::k1k);
  Settle();
  PowerFrom(Connection::k4k);
  AdvanceClock(kWatchdogMs + 500);
  EXPECT_TRUE(view_.Visible("ms_1_sleep_label"));
  EXPECT_EQ(view_.text["ms_1_label_power"], Format(LanguageText(u"battery_last_text"), mouse_.State().battery));
  working().Edit([](ProfileRecord& r) { r.light_effect = 5; });
  PostMessageW(window_, kMsgSettingsChanged, 0, 0);
  Settle();
  EXPECT_EQ(applies_done_, 3) << "asleep: nothing was written";
  EXPECT_TRUE(shows_waiting());
  PowerFrom(Connection::k4k);
  ASSERT_TRUE(run_until_applied(4));
  EXPECT_EQ(mouse_.State().light_effect, 5);
  EXPECT_EQ(view_.text["apply_ring"], LanguageText(u"apply_done_text"));
}

// Two connection chips share the row with short names (the full ones are their tooltips), one
// alone has its full name; the low-battery warning shows while discharging below 15 %.
TEST_F(DeviceTest, ConnectionChipsFitAndALowBatteryIsSaid) {
  Start({Connection::k4k});
  PowerFrom(Connection::k4k);
  EXPECT_EQ(view_.text["ms_1_wireless_4k_text"], u"@link_4k_text");
  mouse_.Plug(Connection::kCable);
  Settle();
  AdvanceClock(kArrivalSettleMs);
  EXPECT_EQ(view_.text["ms_1_wireless_4k_text"], u"@link_4k_short_text");
  EXPECT_EQ(view_.text["ms_1_wired_text"], u"@link_wired_short_text");
  mouse_.Unplug(Connection::kCable);
  Settle();
  EXPECT_EQ(view_.text["ms_1_wireless_4k_text"], u"@link_4k_text");

  const std::pair<int, bool> levels[] = {{50, false}, {15, false}, {14, true}, {5, true}, {1, true}, {80, false}};
  for (const auto& [level, low] : levels) {
    mouse_.SetBattery(level);
    Settle();
    EXPECT_EQ(view_.Visible("ms_1_low_power_label"), low) << level << "%";
  }
  mouse_.SetBattery(5);
  Settle();
  mouse_.SetCharging(true);
  Settle();
  EXPECT_FALSE(view_.Visible("ms_1_low_power_label")) << "charging";
}

// The receivers repeat their power report every second: one that says nothing new touches no
// control and tells no listener, and nothing ticks between reports unless the mouse charges.
struct PowerCase {
  const char* what;
  Connection via;
  int level;
  bool charging;
  PowerState::Charge charge;
};
class RepeatedPowerTest : public DeviceTest, public testing::WithParamInterface<PowerCase> {
 protected:
  std::vector<PowerState> told;  // outlives the device half, which may tell until it ends
};

TEST_P(RepeatedPowerTest, UpdatesNothing) {
  const PowerCase& c = GetParam();
  monitor().SetPowerListener([&](const PowerState& p) { told.push_back(p); });
  Start({c.via});
  mouse_.SetBattery(c.level);
  mouse_.SetCharging(c.charging);
  Settle();
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back().charge, c.charge);
  if (!c.charging) {
    EXPECT_EQ(told.back().percent, c.level);
  }
  EXPECT_NE(told.back().link, Transport::kNone);
  // The charge animation alone moves the bar, one step a tick, while charging.
  const bool animating = c.charge == PowerState::Charge::kCharging;
  int expected = view_.updates;
  const size_t told_before = told.size();
  for (int i = 0; i < 3; ++i) {
    mouse_.SendPowerStatus(c.via);
    RunUntilIdle();
    AdvanceClock(kChargeAnimationMs);
    expected += animating ? 1 : 0;
  }
  EXPECT_EQ(view_.updates, expected) << "a repeated report updated a control";
  EXPECT_EQ(told.size(), told_before);
  // Between reports nothing ticks, unless the mouse charges.
  expected = view_.updates + (animating ? 900 / int(kChargeAnimationMs) : 0);
  AdvanceClock(900);
  EXPECT_EQ(view_.updates, expected);

  // A report that says something new is shown and told.
  const int before = view_.updates;
  mouse_.SetCharging(false);
  mouse_.SetBattery(c.level - 5);
  Settle();
  EXPECT_GT(view_.updates, before);
  EXPECT_EQ(view_.progress["ms_1_progress_power"], c.level - 5);
  ASSERT_GT(told.size(), told_before);
  EXPECT_EQ(told.back().charge, PowerState::Charge::kDischarging);
  EXPECT_EQ(told.back().percent, c.level - 5);

  // Silent past the watchdog: asleep, still there, the last level kept.
  const size_t told_awake = told.size();
  AdvanceClock(kWatchdogMs);
  ASSERT_EQ(told.size(), told_awake + 1);
  EXPECT_EQ(told.back().link, Transport::kNone);
  EXPECT_TRUE(told.back().present);
  EXPECT_EQ(told.back().percent, c.level - 5);
}

INSTANTIATE_TEST_SUITE_P(
    Power, RepeatedPowerTest,
    testing::Values(PowerCase{"Discharging4k", Connection::k4k, 57, false, PowerState::Charge::kDischarging},
                    PowerCase{"Low1k", Connection::k1k, 9, false, PowerState::Charge::kDischarging},
                    PowerCase{"Charging8k", Connection::k8k, 40, true, PowerState::Charge::kCharging},
                    PowerCase{"Charged4k", Connection::k4k, 100, true, PowerState::Charge::kFull}),
    [](const testing::TestParamInfo<PowerCase>& i) { return std::string(i.param.what); });

TEST_F(DeviceTest, UndeliveredGroupsStayPendingUntilTheMouseTakesThem) {
  Start({Connection::k1k});
  PowerFrom(Connection::k1k);
  ASSERT_TRUE(Apply());
  const int lighting = FrameCount("lighting");

  // A mouse that never acknowledges: ten tries, then the loop goes on, and the group is kept.
  mouse_.DropAnswers(1000);
  working().Edit([](ProfileRecord& r) { r.light_effect = 6; });
  ASSERT_TRUE(Apply());
  EXPECT_EQ(FrameCount("lighting"), lighting + 10);
  mouse_.DropAnswers(0);
  ASSERT_TRUE(Apply());
  EXPECT_EQ(FrameCount("lighting"), lighting + 11) << "resent once the mouse answers";
  ASSERT_TRUE(Apply());
  EXPECT_EQ(FrameCount("lighting"), lighting + 11) << "and not again";
}

// What a client without windows waits on: the end of every request, run or dropped, with the
// groups that did not reach the mouse.
TEST_F(DeviceTest, TheWorkerReportsEachApplyAndWhatStayedPending) {
  std::mutex lock;
  std::vector<ApplyReport> reports;
  worker().SetListener([&](const ApplyReport& r) {
    std::lock_guard<std::mutex> hold(lock);
    reports.push_back(r);
  });
  auto last = [&] {
    std::lock_guard<std::mutex> hold(lock);
    return reports.empty() ? ApplyReport{} : reports.back();
  };
  auto count = [&] {
    std::lock_guard<std::mutex> hold(lock);
    return reports.size();
  };
  Start({Connection::k1k});
  PostMessageW(window_, kMsgSettingsChanged, 0, 0);
  AdvanceClock(500);
  ASSERT_EQ(count(), 1u);
  EXPECT_FALSE(last().ran) << "the receiver has not answered yet: the request is dropped";

  PowerFrom(Connection::k1k);
  ASSERT_TRUE(Apply());
  ASSERT_EQ(count(), 2u);
  EXPECT_TRUE(last().ran && last().full_write && last().saved);
  EXPECT_FALSE(last().pending.Any());

  mouse_.DropAnswers(1000);  // never acknowledged
  working().Edit([](ProfileRecord& r) { r.light_effect = 6; });
  ASSERT_TRUE(Apply());
  ChangeGroups lighting;
  lighting.lighting = true;
  EXPECT_EQ(last().sent, lighting);
  EXPECT_EQ(last().pending, lighting);
  EXPECT_FALSE(last().full_write_pending);

  mouse_.DropAnswers(0);
  ASSERT_TRUE(Apply());
  EXPECT_EQ(last().sent, lighting) << "the pending group goes again";
  EXPECT_FALSE(last().pending.Any());
  EXPECT_EQ(count(), 4u);
}

TEST_F(DeviceTest, StatusReportsUpdateTheRecordTheFlagsAndTheDisplay) {
  Start({Connection::k4k});
  EXPECT_EQ(monitor().flags().rx4k_state, kPresent);
  EXPECT_TRUE(view_.Visible("ms_1_wireless_4k"));
  EXPECT_EQ(monitor().flags().mouse_silent, 1);

  mouse_.SetBattery(57);
  Settle();
  EXPECT_EQ(monitor().flags().rx4k_active, 1);
  EXPECT_EQ(monitor().flags().mouse_silent, 0);
  EXPECT_EQ(view_.progress["ms_1_progress_power"], 57);
  EXPECT_EQ(view_.text["ms_1_label_power"], u"57%");

  // The DPI button: the third stage is taken, stored, and shown on screen.
  working().Edit([](ProfileRecord& r) { r.dpi_stage_enabled[0] = r.dpi_stage_enabled[1] = r.dpi_stage_enabled[2] = 1; });
  working().Edit([](ProfileRecord& r) { r.dpi_value[5] = 99; });  // an edit not yet applied
  PowerFrom(Connection::k4k);
  uint8_t report[64] = {0x04, 0x59, 0x10, 3, 0};
  uintptr_t w;
  intptr_t l;
  PackStatus(report, w, l);
  posted_.clear();
  device_->OnMessage(kMsgInput4k, w, LPARAM(l));
  RunUntilIdle();
  EXPECT_EQ(working().Copy()->dpi_stage_index, 2);
  EXPECT_EQ(worker().LastAppliedCopy().dpi_stage_index, 2);
  EXPECT_NE(worker().LastAppliedCopy().dpi_value[5], 99) << "the unsent edit stays pending";
  ASSERT_EQ(posted_.size(), 1u);
  EXPECT_EQ(posted_[0].msg, kMsgShowDpi);
  EXPECT_EQ(posted_[0].lParam, working().Copy()->dpi_value[2]);
  EXPECT_TRUE(view_.selected.count("ms_1_option_dpi_step_3"));
  ProfileStore reread;
  reread.Load();
  EXPECT_EQ(reread.list()[0]->dpi_stage_index, 2);

  // Out-of-range values from the device are ignored, never used as indices.
  for (uint8_t bad : {uint8_t(0), uint8_t(9), uint8_t(0xFF)}) {
    report[3] = bad;
    PackStatus(report, w, l);
    device_->OnMessage(kMsgInput4k, w, LPARAM(l));
  }
  report[2] = 0x20, report[3] = 0x80;  // high-speed nibble 8: past the seven options
  PackStatus(report, w, l);
  device_->OnMessage(kMsgInput4k, w, LPARAM(l));
  RunUntilIdle();
  EXPECT_EQ(working().Copy()->dpi_stage_index, 2);
  EXPECT_EQ(working().Copy()->polling_rate_hs_index, NewProfileRecord(u"x")->polling_rate_hs_index);
  EXPECT_EQ(posted_.size(), 1u);

  // Silence for six seconds: the receiver is taken as asleep.
  AdvanceClock(6000);
  EXPECT_EQ(monitor().flags().rx4k_active, 0);
  EXPECT_FALSE(view_.Visible("ms_1_wireless_4k"));
  EXPECT_TRUE(view_.Visible("ms_1_sleep_label"));
}

TEST_F(DeviceTest, ArrivalsAndRemovalsFlipTheFlags) {
  Start({});
  EXPECT_EQ(monitor().flags().any_connected, 0);
  EXPECT_EQ(monitor().flags().mouse_silent, 1);
  posted_.clear();

  mouse_.Plug(Connection::k8k);
  Settle();
  AdvanceClock(1000);
  EXPECT_EQ(monitor().flags().rx8k_state, kPresent);
  EXPECT_EQ(monitor().flags().any_connected, 1);
  ASSERT_EQ(posted_.size(), 1u);
  EXPECT_EQ(posted_[0].msg, kMsgConnectionChanged);

  // A second arrival of a present receiver is ignored, wait included.
  const int64_t before = ClockNowMs();
  device_->OnMessage(kMsgDevice8k, 1, 1);
  EXPECT_EQ(ClockNowMs(), before);
  EXPECT_EQ(posted_.size(), 1u);

  // The cable arrives while the receiver is present: no connection-state message.
  mouse_.Plug(Connection::kCable);
  Settle();
  AdvanceClock(1000);
  EXPECT_EQ(monitor().flags().wired_state, kPresent);
  EXPECT_EQ(posted_.size(), 1u);
  EXPECT_TRUE(view_.Visible("ms_1_wired"));

  mouse_.Unplug(Connection::kCable);
  Settle();
  EXPECT_EQ(monitor().flags().wired_state, kRemoved);
  EXPECT_FALSE(view_.Visible("ms_1_wired"));
  mouse_.Unplug(Connection::k8k);
  Settle();
  EXPECT_EQ(monitor().flags().rx8k_state, kRemoved);
  EXPECT_EQ(monitor().flags().any_connected, 0);
  ASSERT_EQ(posted_.size(), 2u);
}

TEST_F(DeviceTest, UnpluggingDuringAFullWriteRecoversOnTheNextApply) {
  Start({Connection::k8k});
  PowerFrom(Connection::k8k);
  working().Edit([](ProfileRecord& r) {
    BindMacro(r, 0, 60);
    BindMacro(r, 1, 60);
  });
  PostMessageW(window_, kMsgSettingsChanged, 0, 0);
  AdvanceClock(2500);  // in the middle of the frames
  mouse_.Unplug(Connection::k8k);
  for (int i = 0; i < 400 && applies_done_ == 0; ++i) AdvanceClock(50);
  ASSERT_EQ(applies_done_, 1) << "the apply ends even though the mouse went away";
  EXPECT_EQ(worker().full_write_pending(), 1) << "what did not arrive is written again";

  mouse_.Plug(Connection::k8k);
  Settle();
  AdvanceClock(1000);
  PowerFrom(Connection::k8k);
  ASSERT_TRUE(Apply());
  ExpectMouseHolds(mouse_.State(), *working().Copy());
  EXPECT_EQ(mouse_.State().Macros().size(), 2u);
  EXPECT_EQ(worker().full_write_pending(), 0);
}

}  // namespace
}  // namespace brevak
