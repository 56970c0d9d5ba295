// The battery on the desktop: when a low level is announced, and what the tray shows.
#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <string>
#include <vector>

#include "app/battery_alarm.h"
#include "app/tray_battery.h"
#include "app_test_util.h"
#include "page/page_messages.h"
#include "platform/text.h"

namespace brevak::test {
namespace {

using Charge = PowerState::Charge;

PowerState Power(int percent, Charge charge, Transport link = Transport::kReceiver4k) {
  return PowerState{percent, charge, link, true};
}

TEST(BatteryAlarmTest, AnnouncesEachThresholdOncePerDischarge) {
  constexpr Charge D = Charge::kDischarging, C = Charge::kCharging;
  struct Case {
    const char* what;
    std::vector<PowerState> reports;
    std::vector<int> announced;
  };
  std::vector<PowerState> falling;
  for (int level = 20; level >= 4; --level) falling.push_back(Power(level, D));
  const Case cases[] = {
      {"falling from 20 to 4", falling, {15, 5}},
      {"a jump past both says the lower", {Power(20, D), Power(4, D)}, {5}},
      {"wandering back within the margin", {Power(16, D), Power(15, D), Power(19, D), Power(15, D), Power(4, D), Power(9, D), Power(5, D)}, {15, 5}},
      {"climbing past the margin re-arms", {Power(15, D), Power(20, D), Power(15, D)}, {15, 15}},
      {"charging re-arms, never announces", {Power(14, D), Power(14, C), Power(3, C), Power(14, D)}, {15, 15}},
      {"full re-arms", {Power(4, D), Power(100, Charge::kFull), Power(5, D)}, {5, 5}},
      {"a start already low", {Power(10, D)}, {15}},
      {"an asleep mouse's last level is no news", {Power(10, D, Transport::kNone), Power(-1, D), Power(10, Charge::kUnknown)}, {}},
  };
  for (const Case& c : cases) {
    BatteryAlarm alarm;
    std::vector<int> announced;
    for (const PowerState& p : c.reports) {
      if (auto due = alarm.Take(p)) announced.push_back(*due);
    }
    EXPECT_EQ(announced, c.announced) << c.what;
  }
}

TEST(TrayBatteryTest, ToolTipAndIconFollowLevelChargeAndConnection) {
  CResourceManager::GetInstance()->LoadLanguage("lan.xml");
  struct Case {
    PowerState power;
    const char16_t* tip;
    TrayBatteryLook look;
  };
  const Case cases[] = {
      {Power(57, Charge::kDischarging), u"BREVAK APEX · 57% · 4K", {3, false, false}},
      {Power(15, Charge::kDischarging, Transport::kReceiver1k), u"BREVAK APEX · 15% · 2.4G", {1, false, false}},
      {Power(16, Charge::kDischarging, Transport::kReceiver8k), u"BREVAK APEX · 16% · 8K", {2, false, false}},
      {Power(5, Charge::kDischarging, Transport::kBle), u"BREVAK APEX · 5% · BT", {0, false, false}},
      {Power(40, Charge::kCharging, Transport::kCable), u"BREVAK APEX · Charging · Cable", {2, true, false}},
      {Power(-1, Charge::kCharging, Transport::kCable), u"BREVAK APEX · Charging · Cable", {-1, true, false}},
      {Power(71, Charge::kFull, Transport::kCable), u"BREVAK APEX · 100% · Charged · Cable", {4, false, false}},
      {Power(57, Charge::kDischarging, Transport::kNone), u"BREVAK APEX · last 57% · asleep", {3, false, true}},
      {Power(-1, Charge::kUnknown, Transport::kNone), u"BREVAK APEX · asleep", {-1, false, false}},
      {PowerState{}, u"BREVAK APEX · not connected", {-1, false, false}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(TrayToolTip(c.power)), Utf16ToUtf8(c.tip));
    const TrayBatteryLook look = TrayLookOf(c.power);
    EXPECT_EQ(look, c.look) << Utf16ToUtf8(c.tip) << ": step " << look.step << " charging " << look.charging
                            << " stale " << look.stale;
  }
}

// Each step, charging and a stale level look different; with nothing known the icon is the
// program's own.
TEST(TrayBatteryTest, EveryLookIsDrawnApart) {
  const QIcon base(CPaintManagerUI::ResourceFile("skin/brevak.svg").q());
  EXPECT_EQ(TrayIconWithBattery(base, {}).cacheKey(), base.cacheKey());
  std::vector<TrayBatteryLook> looks;
  for (int step = 0; step < kBatterySteps; ++step) {
    looks.push_back({step, false, false});
    looks.push_back({step, true, false});
    looks.push_back({step, false, true});
  }
  looks.push_back({-1, true, false});
  std::vector<QImage> images;
  for (const TrayBatteryLook& look : looks) {
    images.push_back(TrayIconWithBattery(base, look).pixmap(64, 64).toImage());
  }
  for (size_t i = 0; i < images.size(); ++i)
    for (size_t k = i + 1; k < images.size(); ++k) EXPECT_NE(images[i], images[k]) << i << " and " << k;
}

// Through the window: the simulated mouse's reports reach the tray's tooltip.
TEST_F(AppTest, TheTrayShowsTheBatteryAndTheConnection) {
  Start({Connection::k4k}, true);
  EXPECT_FALSE(wnd_->tray().IsCreated());  // the first frame does not wait for the desktop's tray
  // The window is exposed and painted; the tray comes after.
  for (int i = 0; i < 10 && !wnd_->tray().IsCreated(); ++i) QApplication::processEvents();
  ASSERT_TRUE(wnd_->tray().IsCreated());
  mouse_.SetBattery(57);
  Settle();
  EXPECT_EQ(wnd_->tray().ToolTip().utf8(), "BREVAK APEX · 57% · 4K");
  mouse_.SetCharging(true);
  Settle();
  EXPECT_EQ(wnd_->tray().ToolTip().utf8(), "BREVAK APEX · Charging · 4K");
  mouse_.SetCharging(false);
  mouse_.SetBattery(56);
  Settle();
  AdvanceClock(kWatchdogMs);
  EXPECT_EQ(wnd_->tray().ToolTip().utf8(), "BREVAK APEX · last 56% · asleep");
}

// On the cable the battery bar animates, but only while the window is on screen: in the tray
// nothing ticks.
TEST_F(AppTest, TheChargeAnimationTicksOnlyWhileTheWindowIsSeen) {
  Start({Connection::kCable});
  auto* bar = Find<CProgressUI>("ms_1_progress_power");
  ASSERT_NE(bar, nullptr);
  auto moves = [&] {
    const int before = bar->GetValue();
    AdvanceClock(3 * kChargeAnimationMs);
    return bar->GetValue() != before;
  };
  EXPECT_TRUE(moves());
  wnd_->ShowWindow(false, false);
  QApplication::processEvents();
  EXPECT_FALSE(moves()) << "hidden";
  wnd_->ShowWindow(true, false);
  QApplication::processEvents();
  EXPECT_TRUE(moves()) << "shown again";
}

}  // namespace
}  // namespace brevak::test
