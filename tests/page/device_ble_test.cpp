// The mouse over Bluetooth LE: the connection monitor and its BlueZ transport against
// python3-dbusmock's BlueZ on a private system bus, with the simulated mouse behind the GATT
// objects. Virtual time drives the device half; the bus runs in real time, so the test pumps
// the window's queue until what the bus thread posted has arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ble_rig.h"
#include "device_test_util.h"

namespace brevak {
namespace {

using sim::Connection;
using test::BleRig;

class BleDeviceTest : public test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    rig_ = std::make_unique<BleRig>(mouse_);
    ASSERT_TRUE(rig_->ready()) << "dbus-daemon and python3-dbusmock's bluez5 could not be started";
    // What hid_enumerate would see: the mouse's HID interface while it is linked.
    monitor().SetBlePresenceCheck([this] { return mouse_.IsPlugged(Connection::kBle); });
    monitor().SetBleTransport(std::make_unique<BleTransport>(window_, kMsgBleDevice, kMsgBleValue));
  }
  void TearDown() override {
    EXPECT_EQ(view_.foreign_calls, 0) << "the device half touched the controls off the window thread";
    device_->ShutDown();  // the transport's thread ends before the bus goes
    rig_.reset();
    DeviceTest::TearDown();
  }

  // Handles the window's messages until `done` holds; the bus answers in real time.
  template <class Pred>
  bool PumpUntil(Pred done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      RunUntilIdle();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  bool WaitConnected(int32_t connected) {
    return PumpUntil([&] { return monitor().flags().ble_connected == connected; });
  }
  // Everything the mock announced before this (the rig's calls return after its signals)
  // has been handled by the transport and then by the connection monitor.
  bool Sync() {
    const bool settled = monitor().ble()->Settle();
    RunUntilIdle();
    return settled;
  }
  int Posted(UINT msg) {
    int n = 0;
    for (const auto& p : posted_) n += p.msg == msg;
    return n;
  }
  // Connected, and the 2000 ms registration done: retried each tick until BlueZ has resolved
  // the mouse's services, which on a loaded machine can take more than the first.
  std::string ConnectMouse() {
    const std::string mouse = rig_->AddMouse(true);
    EXPECT_FALSE(mouse.empty());
    EXPECT_TRUE(WaitConnected(1));
    EXPECT_TRUE(Sync());
    EXPECT_TRUE(WaitRegistered());
    return mouse;
  }
  bool WaitRegistered() {
    return PumpUntil([&] {
      AdvanceClock(kBleNotifyMs);
      return monitor().ble()->registration_held();
    });
  }

  std::unique_ptr<BleRig> rig_;
};

TEST_F(BleDeviceTest, ConnectionTakesOverAndRegistersNotificationsAfterTwoSeconds) {
  Start({Connection::k8k});
  PowerFrom(Connection::k8k);
  ASSERT_EQ(monitor().flags().rx8k_active, 1);
  EXPECT_FALSE(view_.Visible("ms_1_BLE"));
  posted_.clear();

  const std::string mouse = rig_->AddMouse(true);
  ASSERT_FALSE(mouse.empty());
  ASSERT_TRUE(WaitConnected(1));
  const TransportFlags& f = monitor().flags();
  EXPECT_EQ(f.mouse_silent, 0);
  EXPECT_FALSE(view_.Visible("ms_1_sleep_label"));
  EXPECT_TRUE(view_.Visible("ms_1_BLE"));
  EXPECT_EQ(f.rx8k_active, 0) << "Bluetooth takes over from the answering receiver";
  EXPECT_FALSE(view_.Visible("ms_1_wireless_8k"));
  EXPECT_EQ(f.wired_state, kRemoved);
  EXPECT_EQ(f.any_connected, 1);
  EXPECT_EQ(Posted(kMsgConnectionChanged), 1);
  EXPECT_FALSE(view_.Visible("ms_1_check_prate")) << "no polling rate over Bluetooth";
  EXPECT_FALSE(view_.Visible("ms_1_check_key_debounce"));
  EXPECT_EQ(monitor().ble()->device_count(), 1u) << "the device list is filled on connection";

  const std::string notify = BleRig::NotifyChar(BleRig::MouseService(mouse));
  AdvanceClock(kBleNotifyMs - 1);
  EXPECT_EQ(rig_->Notifying(notify), false);
  EXPECT_FALSE(monitor().ble()->registration_held());
  AdvanceClock(1);
  EXPECT_EQ(rig_->Notifying(notify), true) << "StartNotify 2000 ms after the connection";
  EXPECT_TRUE(monitor().ble()->registration_held());

  // Announced again (BlueZ repeats the connected state): the path does not run twice.
  ASSERT_TRUE(rig_->SetConnected(mouse, true));
  ASSERT_TRUE(Sync());
  EXPECT_EQ(Posted(kMsgConnectionChanged), 1);
}

TEST_F(BleDeviceTest, MouseConnectedAtStartUpIsTakenAtOnce) {
  const std::string mouse = rig_->AddMouse(true);
  ASSERT_FALSE(mouse.empty());
  Start({});
  EXPECT_EQ(monitor().flags().ble_connected, 1);
  EXPECT_TRUE(view_.Visible("ms_1_BLE"));
  AdvanceClock(kBleNotifyMs);
  EXPECT_EQ(rig_->Notifying(BleRig::NotifyChar(BleRig::MouseService(mouse))), true);
}

TEST_F(BleDeviceTest, ApplyOverBluetoothAloneReachesTheMouseFromTheFirstFrame) {
  Start({});
  working().Edit([](ProfileRecord& r) {
    r.dpi_value[1] = 48;
    r.light_effect = 2;
    r.polling_rate_index = 2;
    test::BindMacro(r, 0, 40);
  });
  ASSERT_TRUE(rig_->AddMouse(true) != "");
  ASSERT_TRUE(WaitConnected(1));

  // Within the first two seconds, before any registration: the full write arrives. The
  // connection itself sends the edit the mouse missed; the user's request after it finds
  // nothing new.
  PostMessageW(window_, kMsgSettingsChanged, 0, 0);
  RunUntilIdle();
  EXPECT_EQ(mouse_.State().full_writes, 1);
  EXPECT_FALSE(monitor().ble()->registration_held());
  for (int ms = 0; ms < 600'000 && applies_done_ < 2; ms += 500) AdvanceClock(500);
  ASSERT_EQ(applies_done_, 2);
  EXPECT_EQ(mouse_.State().full_writes, 1);

  const sim::MouseState m = mouse_.State();
  EXPECT_EQ(m.connections[size_t(Connection::kBle)].rejected, 0) << m.last_rejection;
  EXPECT_GT(m.connections[size_t(Connection::kBle)].accepted, 0);
  EXPECT_EQ(FrameCount("polling"), 0) << "the polling report never goes over Bluetooth";
  test::ExpectMouseHolds(m, *working().Copy(), false);
  ASSERT_EQ(m.Macros().size(), 1u);
  EXPECT_TRUE(m.Macros()[0].complete);
  EXPECT_EQ(worker().full_write_pending(), 0);

  // Only what changed goes next time, and the polling rate is not kept pending for Bluetooth.
  const int accepted = m.connections[size_t(Connection::kBle)].accepted;
  working().Edit([](ProfileRecord& r) { r.light_effect = 5; });
  ASSERT_TRUE(Apply());
  EXPECT_EQ(mouse_.State().connections[size_t(Connection::kBle)].accepted, accepted + 1);
  EXPECT_EQ(FrameCount("polling"), 0);
}

TEST_F(BleDeviceTest, NotificationsReachTheStatusHandlingOnTheWindowThread) {
  Start({});
  ConnectMouse();

  // The mouse's own reports: battery, then the DPI button.
  mouse_.SetBattery(57);
  ASSERT_TRUE(PumpUntil([&] { return view_.text["ms_1_label_power"] == u"57%"; }));
  EXPECT_EQ(view_.progress["ms_1_progress_power"], 57);

  posted_.clear();
  ASSERT_TRUE(rig_->Notify({0x59, 0x10, 3, 0}));
  ASSERT_TRUE(PumpUntil([&] { return Posted(kMsgShowDpi) == 1; }));
  EXPECT_EQ(working().Copy()->dpi_stage_index, 2);
  EXPECT_EQ(worker().LastAppliedCopy().dpi_stage_index, 2) << "the mouse's change is not written back";
  EXPECT_TRUE(view_.selected.count("ms_1_option_dpi_step_3"));
  EXPECT_EQ(posted_.back().lParam, working().Copy()->dpi_value[2]);

  // Over Bluetooth only the standard polling nibble is taken.
  ASSERT_TRUE(rig_->Notify({0x59, 0x20, 0x53, 0}));
  ASSERT_TRUE(Sync());
  EXPECT_EQ(working().Copy()->polling_rate_index, 2);
  EXPECT_EQ(working().Copy()->polling_rate_hs_index, NewProfileRecord(u"x")->polling_rate_hs_index);

  // Empty, short and unmarked values change nothing.
  const ProfileRecord before = *working().Copy();
  ASSERT_TRUE(rig_->Notify({}));
  ASSERT_TRUE(rig_->Notify({0x59}));
  ASSERT_TRUE(rig_->Notify({0x59, 0x10, 5}));
  ASSERT_TRUE(rig_->Notify({0x58, 0x10, 5, 0}));
  ASSERT_TRUE(Sync());
  EXPECT_EQ(working().Copy()->dpi_stage_index, before.dpi_stage_index);
  EXPECT_EQ(Posted(kMsgShowDpi), 1);
}

TEST_F(BleDeviceTest, DisconnectionAndRemovalHandOverToReceiverAndCable) {
  Start({Connection::k4k});
  const std::string mouse = ConnectMouse();
  const std::string notify = BleRig::NotifyChar(BleRig::MouseService(mouse));
  posted_.clear();

  ASSERT_TRUE(rig_->SetConnected(mouse, false));
  ASSERT_TRUE(WaitConnected(0));
  EXPECT_FALSE(view_.Visible("ms_1_BLE"));
  EXPECT_TRUE(view_.Visible("ms_1_sleep_label")) << "nothing answers now";
  EXPECT_FALSE(monitor().ble()->registration_held());
  EXPECT_EQ(monitor().flags().any_connected, 1) << "the 4K receiver is still plugged in";
  EXPECT_EQ(Posted(kMsgConnectionChanged), 0);
  EXPECT_EQ(monitor().ble()->device_count(), 0u);
  AdvanceClock(3 * kBleNotifyMs);
  EXPECT_EQ(rig_->Notifying(notify), false) << "timer 535 was stopped";

  // The receiver takes over once the mouse answers through it.
  const int on_ble = Accepted(Connection::kBle);
  PowerFrom(Connection::k4k);
  working().Edit([](ProfileRecord& r) { r.light_effect = 7; });
  ASSERT_TRUE(Apply());
  EXPECT_EQ(Accepted(Connection::kBle), on_ble);
  EXPECT_GT(Accepted(Connection::k4k), 0);

  // Back on Bluetooth, then unpaired and removed: the disconnection path again, and the
  // cable takes over when it arrives.
  ASSERT_TRUE(rig_->SetConnected(mouse, true));
  ASSERT_TRUE(WaitConnected(1));
  AdvanceClock(kBleNotifyMs);
  EXPECT_EQ(rig_->Notifying(notify), true);
  ASSERT_TRUE(rig_->Remove(mouse));
  mouse_.Unplug(Connection::kBle);
  ASSERT_TRUE(WaitConnected(0));
  EXPECT_FALSE(monitor().ble()->registration_held());
  mouse_.Plug(Connection::kCable);
  Settle();
  AdvanceClock(kArrivalSettleMs);
  ASSERT_EQ(monitor().flags().wired_state, kPresent);
  const int on_cable = Accepted(Connection::kCable);
  working().Edit([](ProfileRecord& r) { r.light_effect = 8; });
  ASSERT_TRUE(Apply());
  EXPECT_GT(Accepted(Connection::kCable), on_cable);
}

TEST_F(BleDeviceTest, UnpairingWhileLinkedEndsTheNotifySession) {
  Start({});
  const std::string mouse = ConnectMouse();
  const std::string notify = BleRig::NotifyChar(BleRig::MouseService(mouse));
  ASSERT_EQ(rig_->Notifying(notify), true);
  ASSERT_TRUE(rig_->SetPaired(mouse, false));
  ASSERT_TRUE(WaitConnected(0));
  EXPECT_EQ(rig_->Notifying(notify), false) << "StopNotify on the disconnection path";
  EXPECT_FALSE(monitor().ble()->registration_held());
  working().Edit([](ProfileRecord& r) { r.light_effect = 9; });
  PostMessageW(window_, kMsgSettingsChanged, 0, 0);
  RunUntilIdle();
  EXPECT_EQ(applies_done_, 0);
}

TEST_F(BleDeviceTest, RemovalOfTheMouseRunsTheDisconnectionPathEvenWhenNotConnected) {
  Start({});
  const std::string mouse = rig_->AddDevice("C0:FF:EE:00:00:02", test::kMouseModalias, true, false);
  ASSERT_FALSE(mouse.empty());
  ASSERT_TRUE(Sync());
  EXPECT_EQ(monitor().flags().ble_connected, 0) << "paired but not connected is no arrival";
  posted_.clear();
  view_.visible["ms_1_BLE"] = true;
  ASSERT_TRUE(rig_->Remove(mouse));
  ASSERT_TRUE(PumpUntil([&] { return !view_.Visible("ms_1_BLE"); }));
  EXPECT_EQ(Posted(kMsgConnectionChanged), 1);
  EXPECT_EQ(monitor().flags().any_connected, 0);
}

TEST_F(BleDeviceTest, StrangersAndServicesOutsideTheMouseAreNeverWritten) {
  Start({});
  // Another device with the same service, a device with the mouse's ids in the Bluetooth id
  // space, an unpaired mouse, and odd objects: none of them is the mouse.
  const std::string stranger = rig_->AddDevice("AA:00:00:00:00:01", "usb:v046Dp0059d0001", true, true);
  const std::string bt_ids = rig_->AddDevice("AA:00:00:00:00:02", "bluetooth:v045Ep0059d0001", true, true);
  const std::string unpaired = rig_->AddDevice("AA:00:00:00:00:03", test::kMouseModalias, false, true);
  for (const std::string& d : {stranger, bt_ids, unpaired}) {
    ASSERT_FALSE(d.empty());
    ASSERT_TRUE(rig_->AddGatt(d, BleRig::MouseService(d)));
  }
  ASSERT_TRUE(rig_->AddOddObjects(rig_->adapter() + "/dev_AA_00_00_00_00_04"));
  ASSERT_TRUE(Sync());
  EXPECT_EQ(monitor().flags().ble_connected, 0);

  // The mouse, whose service lies outside its path (it names the mouse as its device).
  const std::string mouse = rig_->AddDevice("C0:FF:EE:00:00:01", test::kMouseModalias, true, true);
  const std::string outside = rig_->adapter() + "/service0030";
  ASSERT_TRUE(rig_->AddGatt(mouse, outside));
  ASSERT_TRUE(WaitConnected(1));
  working().Edit([](ProfileRecord& r) { r.light_effect = 3; });
  ASSERT_TRUE(Apply());
  AdvanceClock(kBleNotifyMs);
  EXPECT_FALSE(monitor().ble()->registration_held());
  for (const std::string& service :
       {BleRig::MouseService(stranger), BleRig::MouseService(bt_ids), BleRig::MouseService(unpaired), outside}) {
    EXPECT_EQ(rig_->WriteCount(BleRig::WriteChar(service)), 0u) << service;
    EXPECT_EQ(rig_->Notifying(BleRig::NotifyChar(service)), false) << service;
  }
  EXPECT_EQ(Accepted(Connection::kBle), 0);
  EXPECT_EQ(worker().full_write_pending(), 1) << "nothing arrived, so everything stays pending";

  // Its own service appears under it: the pending groups reach the mouse, the others stay
  // untouched.
  ASSERT_TRUE(rig_->AddGatt(mouse, BleRig::MouseService(mouse)));
  ASSERT_TRUE(Sync());
  ASSERT_TRUE(Apply());
  EXPECT_EQ(mouse_.State().full_writes, 1);
  EXPECT_EQ(mouse_.State().light_effect, 3);
  EXPECT_EQ(rig_->WriteCount(BleRig::WriteChar(outside)), 0u);
  EXPECT_EQ(rig_->WriteCount(BleRig::WriteChar(BleRig::MouseService(stranger))), 0u);
  AdvanceClock(kBleNotifyMs);
  EXPECT_TRUE(monitor().ble()->registration_held()) << "the retry registers once the service is there";
}

TEST_F(BleDeviceTest, MoreConnectedDevicesThanTheListHoldsNeverCrowdOutTheMouse) {
  Start({});
  ASSERT_TRUE(rig_->AddStrangers(uint32_t(kBleDeviceListMax)));
  const std::string mouse = rig_->AddMouse(true, "FF:00:00:00:00:01");  // listed last by path
  ASSERT_TRUE(WaitConnected(1));
  EXPECT_EQ(monitor().ble()->device_count(), kBleDeviceListMax);
  working().Edit([](ProfileRecord& r) { r.light_effect = 6; });
  ASSERT_TRUE(Apply());
  EXPECT_EQ(mouse_.State().light_effect, 6);
  EXPECT_EQ(rig_->WriteCount(BleRig::WriteChar(BleRig::MouseService(mouse))), uint32_t(Accepted(Connection::kBle)));
}

TEST_F(BleDeviceTest, BluezOrTheBusGoingAwayDisconnectsAndBluezReturningReconnects) {
  Start({});
  ConnectMouse();

  rig_->StopBluez();
  ASSERT_TRUE(WaitConnected(0));
  EXPECT_FALSE(monitor().ble()->registration_held());

  ASSERT_TRUE(rig_->StartBluez());
  const std::string mouse = rig_->AddMouse(true);
  ASSERT_TRUE(WaitConnected(1));
  ASSERT_TRUE(Sync());
  EXPECT_TRUE(WaitRegistered()) << "notifications registered again once BlueZ returned";
  EXPECT_EQ(rig_->Notifying(BleRig::NotifyChar(BleRig::MouseService(mouse))), true);

  rig_->KillBus();
  ASSERT_TRUE(WaitConnected(0));
  working().Edit([](ProfileRecord& r) { r.light_effect = 4; });
  PostMessageW(window_, kMsgSettingsChanged, 0, 0);
  RunUntilIdle();
  EXPECT_EQ(applies_done_, 0) << "nothing to apply to";
}

}  // namespace
}  // namespace brevak
