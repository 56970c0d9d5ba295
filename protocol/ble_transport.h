#pragma once
// The mouse over Bluetooth LE, through BlueZ on the system bus: frames are written whole to
// the characteristic 0xFEE3 of the mouse's GATT service, status reports come back as value
// changes of 0xFEE4.
//
// One thread of its own (ble_bus_thread.h) holds the bus connection and does every D-Bus
// call. It follows BlueZ's objects (InterfacesAdded/Removed, PropertiesChanged of Device1 and
// GattCharacteristic1, the owner of org.bluez) in a mirror (bluez_mirror.h, which also says
// which device is the mouse) and reports to the window by posted messages only: the mouse's
// arrival and removal, and each notification value. The other calls hand their work to that
// thread and wait for its result, so the callers see BlueZ's answer as if they had called it
// themselves.
//
// A device's key in the device list is its object path; a GATT service is the mouse's only
// when its path lies under a device of the device list and that device is the mouse.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/winapi.h"
#include "protocol/bluez_mirror.h"
#include "protocol/carriage.h"

namespace brevak {

inline constexpr char kBleWriteUuid[] = "0000fee3-0000-1000-8000-00805f9b34fb";
inline constexpr char kBleNotifyUuid[] = "0000fee4-0000-1000-8000-00805f9b34fb";
// Paired devices beyond this many are not listed.
inline constexpr size_t kBleDeviceListMax = 1000;
// The largest value one attribute can hold; a longer frame is not written.
inline constexpr size_t kBleMaxValue = 512;

// A notification value travels to the window thread in one posted message: wParam holds the
// number of bytes (at most 4, the rest is not used), lParam the first four bytes, byte 0 lowest.
void PackBleValue(std::span<const uint8_t> value, WPARAM& wParam, LPARAM& lParam);
// The bytes back; empty for a count of 0 or above 4.
std::span<const uint8_t> UnpackBleValue(WPARAM wParam, LPARAM lParam, uint8_t (&bytes)[4]);

class BleTransport final : public BleFrameWriter {
 public:
  // Posts to `window`: `device_msg` with wParam 1 when the mouse arrives (paired, connected)
  // and 0 when it goes away; `value_msg` with a packed notification value (see PackBleValue).
  BleTransport(HWND window, UINT device_msg, UINT value_msg);
  ~BleTransport() override;
  BleTransport(const BleTransport&) = delete;
  BleTransport& operator=(const BleTransport&) = delete;

  // Starts the bus thread; it connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set)
  // and keeps reconnecting while the bus or BlueZ is away. False when the thread could not be
  // started.
  bool Start();
  // Ends the thread; calls made afterwards fail at once.
  void Stop();

  // Any thread (the apply worker): writes `frame` to the first writable 0xFEE3 characteristic
  // of the mouse's service. 1 when BlueZ accepted the write, 0 otherwise (not connected, no
  // service in the device list, a write that failed, an empty or oversized frame).
  int WriteFrame(std::span<const uint8_t> frame) override;

  // Window thread. The connection path: the link takes the mouse's identity and fills the
  // device list at once, so frames written before the notifications are registered still
  // find the mouse.
  void OnConnected();
  // The disconnection path: StopNotify on what was registered, identity and list emptied.
  void OnDisconnected();
  // Fills the device list and calls StartNotify on each notifying 0xFEE4 characteristic of
  // the mouse's service. True when a registration is held afterwards.
  bool RegisterNotifications();
  bool registration_held() const;
  // Whether the system bus and BlueZ answered the last time they were tried (true before the
  // first try). Any thread.
  bool bluez_reachable() const;
  // Returns once every signal the bus delivered before this call has been handled and what it
  // caused has been posted. False without a bus.
  bool Settle();
  // Entries in the device list (for diagnostics and tests).
  size_t device_count() const;

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace brevak
