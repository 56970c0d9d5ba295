#pragma once
// Window messages and timers of the mouse page and its main window.

#include "platform/winapi.h"

namespace brevak {

inline constexpr UINT kMsgConnectionChanged = 1290;  // main window reads any_connected
inline constexpr UINT kMsgShowDpi = 1291;            // lParam: the reported stage's dpi_value
inline constexpr UINT kMsgApplyThread = 1552;        // thread message to the apply worker
inline constexpr UINT kMsgInput1k = 1553, kMsgDevice1k = 1554;
inline constexpr UINT kMsgInputCable = 1555, kMsgDeviceCable = 1556;
inline constexpr UINT kMsgInput4k = 1557, kMsgDevice4k = 1558;
inline constexpr UINT kMsgInput8k = 1559, kMsgDevice8k = 1560;
inline constexpr UINT kMsgSettingsChanged = 1561;  // an apply request, handed to the worker
// The worker's busy indicator: wParam 1 shows "apply_ring", 0 hides it. The worker never
// touches a control; it posts this to the main window, which hands it to the page.
inline constexpr UINT kMsgApplyIndicator = 1562;
// From the Bluetooth transport's bus thread: the mouse arrived (wParam 1) or went away (0), and
// a notification value (PackBleValue). Status handling runs on the window thread only.
inline constexpr UINT kMsgBleDevice = 1563;
inline constexpr UINT kMsgBleValue = 1564;
// The page's own: what happened to the store files since the user was last told (a repair, a
// file moved aside, a failed save), shown once the message that caused it has been handled.
inline constexpr UINT kMsgStoreEvents = 1565;
// From the apply worker before each frame it sends: how far the write is (PackProgress).
inline constexpr UINT kMsgApplyProgress = 1566;
// The main window hands kMsgInput1k..kMsgPageLast to the page's OnDeviceMessage.
inline constexpr UINT kMsgPageLast = kMsgApplyProgress;

inline constexpr UINT_PTR kTimerWatchdog1k = 528;
inline constexpr UINT_PTR kTimerDelayedApply = 529;
inline constexpr UINT_PTR kTimerScrollSettings = 530;
inline constexpr UINT_PTR kTimerChargeAnimation = 531;
inline constexpr UINT_PTR kTimerWatchdog4k = 533;
inline constexpr UINT_PTR kTimerWatchdog8k = 534;
inline constexpr UINT_PTR kTimerBleNotify = 535;
// The settling wait after an arrival, one per connection (cable, 1K, 4K, 8K): a one-shot
// timer, so the window keeps answering while a receiver or the cable settles.
inline constexpr UINT_PTR kTimerArrivalCable = 536;
inline constexpr UINT_PTR kTimerArrival1k = 537;
inline constexpr UINT_PTR kTimerArrival4k = 538;
inline constexpr UINT_PTR kTimerArrival8k = 539;

inline constexpr UINT kWatchdogMs = 6000;
inline constexpr UINT kChargeAnimationMs = 30;
inline constexpr DWORD kArrivalSettleMs = 1000;
// Notifications are registered this long after the Bluetooth connection (and retried as often
// while none is held): BlueZ needs the time to resolve the mouse's GATT services.
inline constexpr UINT kBleNotifyMs = 2000;

}  // namespace brevak
