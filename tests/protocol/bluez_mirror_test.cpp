// The mirror of BlueZ's objects without a bus: the mouse's arrival and removal as objects come,
// go and change, and which characteristics are the mouse's.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/bluez_mirror.h"

namespace brevak {
namespace {

constexpr char kMouseId[] = "usb:v045Ep0059d0001";
const std::string kMouse = "/org/bluez/hci0/dev_C0_FF_EE_00_00_01";
// Its path begins with the mouse's: only a whole path element makes a service the device's.
const std::string kStranger = kMouse + "_02";

BluezInterfaces Device(const char* modalias, bool paired, bool connected) {
  return {{kBluezDevice, {.modalias = modalias, .paired = paired, .connected = connected}}};
}

// A service at `device`/service0010 with a 0xFEE3 and a 0xFEE4 characteristic.
std::map<std::string, BluezInterfaces> Gatt(const std::string& device) {
  const std::string service = device + "/service0010";
  return {
      {service, {{kBluezService, {.uuid = "0000fee0-0000-1000-8000-00805f9b34fb"}}}},
      {service + "/char0011",
       {{kBluezCharacteristic, {.uuid = "0000fee3-0000-1000-8000-00805f9b34fb", .flags = {{"write"}}}}}},
      {service + "/char0013",
       {{kBluezCharacteristic, {.uuid = "0000FEE4-0000-1000-8000-00805F9B34FB", .flags = {{"notify"}}}}}},
  };
}

TEST(BluezMirror, TellsTheMouseArrivingAndGoingAsObjectsComeChangeAndGo) {
  BluezMirror m;
  const BluezProperties connected{.connected = true};
  struct Step {
    const char* what;
    std::function<MouseNews()> feed;
    MouseNews news;
  } steps[] = {
      {"a stranger, connected", [&] { return m.Add({{kStranger, Device("usb:v046Dp0059d0001", true, true)}}); },
       MouseNews::kNone},
      {"the mouse, paired, not connected", [&] { return m.Add({{kMouse, Device(kMouseId, true, false)}}); },
       MouseNews::kNone},
      {"it connects", [&] { return m.Change(kMouse, kBluezDevice, connected, {}); }, MouseNews::kArrived},
      {"a change that leaves it connected", [&] { return m.Change(kMouse, kBluezDevice, {.paired = true}, {}); },
       MouseNews::kNone},
      {"Connected invalidated", [&] { return m.Change(kMouse, kBluezDevice, {}, {"Connected"}); }, MouseNews::kGone},
      {"connected again", [&] { return m.Change(kMouse, kBluezDevice, connected, {}); }, MouseNews::kArrived},
      {"Modalias invalidated", [&] { return m.Change(kMouse, kBluezDevice, {}, {"Modalias"}); }, MouseNews::kGone},
      {"its identity back", [&] { return m.Change(kMouse, kBluezDevice, {.modalias = kMouseId}, {}); },
       MouseNews::kArrived},
      {"a change of an object never announced",
       [&] { return m.Change(kMouse + "_09", kBluezDevice, {.modalias = kMouseId, .paired = true, .connected = true}, {}); },
       MouseNews::kNone},
      {"its service goes", [&] { return m.Remove(kMouse + "/service0010", {kBluezService}); }, MouseNews::kNone},
      {"it disconnects", [&] { return m.Change(kMouse, kBluezDevice, {.connected = false}, {}); }, MouseNews::kGone},
      {"removed while not connected", [&] { return m.Remove(kMouse, {kBluezDevice}); }, MouseNews::kGone},
      {"the stranger removed", [&] { return m.Remove(kStranger, {kBluezDevice}); }, MouseNews::kNone},
      {"the mouse announced connected", [&] { return m.Add({{kMouse, Device(kMouseId, true, true)}}); },
       MouseNews::kArrived},
      {"BlueZ gone", [&] { return m.Forget(); }, MouseNews::kGone},
      {"and gone again", [&] { return m.Forget(); }, MouseNews::kNone},
  };
  for (const Step& s : steps) EXPECT_EQ(s.feed(), s.news) << s.what;
}

TEST(BluezMirror, FindsTheMouseCharacteristicsByModaliasAndUuid) {
  struct Case {
    const char* what;
    const char* modalias;
    bool paired, connected;
    bool is_mouse;
  } cases[] = {
      {"the mouse", kMouseId, true, true, true},
      {"hex digits in lower case", "usb:v045ep0059d0001", true, true, true},
      {"the same ids from the Bluetooth id space", "bluetooth:v045Ep0059d0001", true, true, false},
      {"another product", "usb:v045Ep005Ad0001", true, true, false},
      {"not connected", kMouseId, true, false, false},
      {"not paired", kMouseId, false, true, false},
  };
  for (const Case& c : cases) {
    BluezMirror m;
    m.Add({{kMouse, Device(c.modalias, c.paired, c.connected)},
           {kStranger, Device("usb:v1D57p2029d0001", true, true)}});
    m.Add(Gatt(kMouse));
    m.Add(Gatt(kStranger));
    m.Add({{"/org/bluez/hci0/service0020/char0021",
            {{kBluezCharacteristic,
              {.uuid = "0000fee3-0000-1000-8000-00805f9b34fb", .service = kMouse + "/service0010"}}}}});
    const std::vector<std::string> listed = m.ConnectedDevices(1000);
    const auto write = m.MouseCharacteristics(listed, "0000fee3-0000-1000-8000-00805f9b34fb");
    const auto notify = m.MouseCharacteristics(listed, "0000fee4-0000-1000-8000-00805f9b34fb");
    if (!c.is_mouse) {
      EXPECT_TRUE(write.empty() && notify.empty()) << c.what;
      continue;
    }
    // The characteristic that names the mouse's service as its own counts too.
    ASSERT_EQ(write.size(), 2u) << c.what;
    EXPECT_EQ(write[0].path, kMouse + "/service0010/char0011");
    EXPECT_TRUE(write[0].Has("write"));
    EXPECT_EQ(write[1].path, "/org/bluez/hci0/service0020/char0021");
    ASSERT_EQ(notify.size(), 1u) << c.what;
    EXPECT_EQ(notify[0].path, kMouse + "/service0010/char0013");
    EXPECT_EQ(m.ConnectedDevices(1), std::vector<std::string>{kMouse}) << "the mouse first, the stranger left out";
    EXPECT_TRUE(m.MouseCharacteristics({kStranger}, "0000fee3-0000-1000-8000-00805f9b34fb").empty())
        << "the mouse is not in the list";

    m.Remove(kMouse + "/service0010/char0011", {kBluezCharacteristic});
    EXPECT_EQ(m.MouseCharacteristics(listed, "0000fee3-0000-1000-8000-00805f9b34fb").size(), 1u);
  }
}

}  // namespace
}  // namespace brevak
