// The Bluetooth transport's identity check, the packing of notification values into one
// posted message, and its behaviour without a system bus. The transport against BlueZ is
// tested with the page (tests/page/page_ble_test.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/ble_transport.h"

namespace brevak {
namespace {

TEST(BleIdentity, OnlyTheMouseUsbIdsMatch) {
  const auto m = ParseModalias("usb:v045Ep0059d0123");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->source, "usb");
  EXPECT_EQ(m->vendor, 0x045E);
  EXPECT_EQ(m->product, 0x0059);
  EXPECT_EQ(m->version, 0x0123);

  EXPECT_TRUE(IsMouseModalias("usb:v045Ep0059d0001"));
  EXPECT_TRUE(IsMouseModalias("usb:v045ep0059d0001")) << "hex digits in either case";
  EXPECT_TRUE(IsMouseModalias("USB:V045EP0059DFFFF"));
  for (const char* other : {
           "bluetooth:v045Ep0059d0001",  // the same numbers in the Bluetooth SIG id space
           "usb:v046Dp0059d0001",        // another vendor
           "usb:v045Ep0058d0001",        // another product
           "usb:v1D57p2029d0001",        // the mouse's cable ids
       })
    EXPECT_FALSE(IsMouseModalias(other)) << other;
  for (const char* broken : {"", ":", "usb", "usb:", "usb:v045Ep0059", "usb:v045Ep0059d00011", "usb:v045Gp0059d0001",
                             "usb:x045Ep0059d0001", ":v045Ep0059d0001", "usb:v045E-0059d0001"})
    EXPECT_FALSE(ParseModalias(broken)) << '"' << broken << '"';
}

TEST(BleValue, PacksUpToFourBytesIntoOneMessage) {
  WPARAM w;
  LPARAM l;
  uint8_t bytes[4];
  const std::vector<uint8_t> report = {0x59, 0x40, 0xFF, 0x80};
  PackBleValue(report, w, l);
  const auto back = UnpackBleValue(w, l, bytes);
  EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end()), report) << "high bits survive the LPARAM";

  const std::vector<uint8_t> longer = {0x59, 0x10, 3, 0, 0xAA, 0xBB};
  PackBleValue(longer, w, l);
  const auto first4 = UnpackBleValue(w, l, bytes);
  EXPECT_EQ(std::vector<uint8_t>(first4.begin(), first4.end()), std::vector<uint8_t>(longer.begin(), longer.begin() + 4));

  const std::vector<uint8_t> shorter = {0x59, 0x10};
  PackBleValue(shorter, w, l);
  EXPECT_EQ(UnpackBleValue(w, l, bytes).size(), 2u);

  PackBleValue({}, w, l);
  EXPECT_TRUE(UnpackBleValue(w, l, bytes).empty());
  EXPECT_TRUE(UnpackBleValue(5, 0, bytes).empty()) << "a count that no packing gives";
}

// A system bus address where nothing listens: the transport must neither hang nor crash,
// and every call fails at once.
class BleWithoutBus : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    had_ = old != nullptr;
    if (old) saved_ = old;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/brevak-test-bus", 1);
  }
  void TearDown() override {
    if (had_) setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_.c_str(), 1);
    else unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
  bool had_ = false;
  std::string saved_;
};

TEST_F(BleWithoutBus, CallsFailQuicklyBeforeStartWhileRunningAndAfterStop) {
  BleTransport ble(nullptr, 1563, 1564);
  const std::vector<uint8_t> frame = {0x05, 0x09, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ble.WriteFrame(frame), 0) << "not started";

  ASSERT_TRUE(ble.Start());
  const auto start = std::chrono::steady_clock::now();
  ble.OnConnected();
  EXPECT_EQ(ble.WriteFrame(frame), 0);
  EXPECT_FALSE(ble.RegisterNotifications());
  EXPECT_FALSE(ble.registration_held());
  EXPECT_EQ(ble.device_count(), 0u);
  EXPECT_FALSE(ble.Settle());
  ble.OnDisconnected();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  ble.Stop();
  EXPECT_EQ(ble.WriteFrame(frame), 0) << "stopped";
  ble.Stop();  // twice is harmless
}

}  // namespace
}  // namespace brevak
