#pragma once
// The four HID connections of the mouse, one row each: the driver build that serves it, the
// messages the build posts to the main window, the timers the main window runs for it and the
// control that shows it. Everything that needs one of these facts reads the row.

#include <array>
#include <cstddef>
#include <string_view>

#include "page/page_messages.h"
#include "protocol/driver_binding.h"
#include "protocol/transport.h"

namespace brevak {

// How a status report reached the program; the table of status reports differs by path.
enum class StatusPath { kCable1k, k4k, k8k, kBle };

struct ConnectionRow {
  Transport transport;
  UINT input_msg;   // ButtonMsg of the build: a status report
  UINT device_msg;  // DeviceMsg of the build: wParam 1 arrival, 0 removal
  // The 8K build posts the address of the whole report; the others pack bytes 1..4.
  bool input_by_address;
  UINT_PTR watchdog_timer;  // 0: none (the cable does not sleep)
  UINT_PTR arrival_timer;   // the settling wait after an arrival
  const char* indicator;    // shown while the connection is present (or answers)
  // The cable and the 1K receiver share one status path, whose power reports act on the 1K
  // receiver's answering flag.
  StatusPath status_path;
  Transport power_receiver;
};

// In binding order, the order of kDriverBuilds.
inline constexpr std::array<ConnectionRow, 4> kConnections = {{
    {Transport::kCable, kMsgInputCable, kMsgDeviceCable, false, 0, kTimerArrivalCable, "ms_1_wired",
     StatusPath::kCable1k, Transport::kReceiver1k},
    {Transport::kReceiver1k, kMsgInput1k, kMsgDevice1k, false, kTimerWatchdog1k, kTimerArrival1k, "ms_1_wireless",
     StatusPath::kCable1k, Transport::kReceiver1k},
    {Transport::kReceiver4k, kMsgInput4k, kMsgDevice4k, false, kTimerWatchdog4k, kTimerArrival4k, "ms_1_wireless_4k",
     StatusPath::k4k, Transport::kReceiver4k},
    {Transport::kReceiver8k, kMsgInput8k, kMsgDevice8k, true, kTimerWatchdog8k, kTimerArrival8k, "ms_1_wireless_8k",
     StatusPath::k8k, Transport::kReceiver8k},
}};

constexpr bool RowsFollowTheBuilds() {
  for (size_t i = 0; i < kConnections.size(); ++i) {
    if (kConnections[i].transport != kDriverBuilds[i].transport) return false;
  }
  return kConnections.size() == kDriverBuilds.size();
}
static_assert(RowsFollowTheBuilds(), "one row per driver build, in binding order");

// The control shown while Bluetooth is connected (it has no row: no driver build serves it).
inline constexpr char kBleIndicator[] = "ms_1_BLE";

// The row of a connection, or null (Bluetooth).
constexpr const ConnectionRow* RowOf(Transport t) {
  for (const ConnectionRow& row : kConnections) {
    if (row.transport == t) return &row;
  }
  return nullptr;
}

// The row whose build posts `msg` as its input or device message, or null.
constexpr const ConnectionRow* RowOfMessage(UINT msg) {
  for (const ConnectionRow& row : kConnections) {
    if (row.input_msg == msg || row.device_msg == msg) return &row;
  }
  return nullptr;
}

// The row that runs `timer` as its watchdog or arrival wait, or null.
constexpr const ConnectionRow* RowOfTimer(UINT_PTR timer) {
  for (const ConnectionRow& row : kConnections) {
    if ((row.watchdog_timer && row.watchdog_timer == timer) || row.arrival_timer == timer) return &row;
  }
  return nullptr;
}

constexpr size_t RowIndex(const ConnectionRow& row) { return size_t(&row - kConnections.data()); }

}  // namespace brevak
