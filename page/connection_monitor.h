#pragma once
// The mouse's connections as the window thread sees them: binds the four driver builds and
// opens each connection, follows arrivals and removals, decodes status reports, runs the
// receivers' watchdogs and the charge animation, and keeps the transport flags and the
// acknowledgement flag that the apply worker reads.
//
// Everything here runs on the thread of `window` (its messages and timers), on Qt's loop in the
// program or on the platform's own loop in a client without windows: no Qt and no controls; it
// shows through PageView.
//
// A setting the mouse changed itself (DPI stage, polling rate, lighting effect) goes to the
// apply worker's KeepMouseChange, which owns the last-applied copy.

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <span>

#include "page/apply_worker.h"
#include "page/connections.h"
#include "page/page_view.h"
#include "page/working_profile.h"
#include "platform/text.h"
#include "platform/winapi.h"
#include "protocol/ble_transport.h"
#include "protocol/driver_binding.h"
#include "protocol/status_report.h"
#include "protocol/transport.h"

namespace brevak {

// What the mouse last said of its power; unknown until it reports. While it is asleep or away
// `percent` is the last level it reported.
struct PowerState {
  int percent = -1;  // -1: unknown
  enum class Charge { kUnknown, kDischarging, kCharging, kFull } charge = Charge::kUnknown;
  // The connection the mouse answers on now (the one the next frame takes); kNone while it is
  // asleep or away.
  Transport link = Transport::kNone;
  bool present = false;  // a cable, receiver or Bluetooth link is there, answering or not
  bool operator==(const PowerState&) const = default;
};

// The language key of a connection's short name ("4K"), as the chips show it when crowded;
// nullptr for kNone.
const char* ShortLinkKey(Transport link);

class ConnectionMonitor {
 public:
  ConnectionMonitor(WorkingProfile& working, ApplyWorker& worker);
  ~ConnectionMonitor();
  ConnectionMonitor(const ConnectionMonitor&) = delete;
  ConnectionMonitor& operator=(const ConnectionMonitor&) = delete;

  // Before Bind.
  void SetWindow(HWND window) { window_ = window; }
  void SetView(PageView* view) { view_ = view; }
  // The Bluetooth link, created with the window and kMsgBleDevice/kMsgBleValue. Started in
  // Bind, stopped in Release.
  void SetBleTransport(std::unique_ptr<BleTransport> ble) { ble_ = std::move(ble); }
  // The Bluetooth HID presence check (hidapi's enumeration unless a test replaces it).
  void SetBlePresenceCheck(std::function<bool()> check) { ble_present_ = std::move(check); }
  // Called whenever the lighting sub-panels must follow the working record's effect (every
  // transport panel refresh, and a lighting effect the mouse reports).
  void SetLightingPanels(std::function<void()> update) { lighting_panels_ = std::move(update); }
  // Called on the window thread whenever power() changes (level, charge, connection), after
  // the message or timer that changed it; never for a report that repeats what was known.
  void SetPowerListener(std::function<void(const PowerState&)> listener) { power_listener_ = std::move(listener); }
  // Whether the battery display can be seen (the window is on screen). The charge animation
  // ticks only then: a program in the tray with the mouse on its cable would otherwise wake
  // every 30 ms to move a bar no one sees.
  void SetDisplayShown(bool shown);

  // Binds the builds and opens every connection, checks for the Bluetooth mouse, starts the
  // Bluetooth link and posts kMsgConnectionChanged.
  void Bind();
  // Runs the Bluetooth connection or disconnection path for the state Bind found, once the
  // working record is loaded.
  void AnnounceBluetooth();
  // Stops the Bluetooth link and releases the builds. Call after the apply worker has ended,
  // so no write is in flight.
  void Release();

  // The window's messages kMsgInput1k..kMsgPageLast that concern the connections, and its
  // timers: watchdogs, arrival waits, charge animation, Bluetooth registration. False for
  // anything else.
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnTimer(UINT_PTR id);
  // A notification value of the mouse over Bluetooth: [0x59][type][value][value2]; shorter or
  // unmarked values change nothing.
  void OnBleNotification(std::span<const uint8_t> value);

  // The connection-dependent panels, after every change of the flags.
  void RefreshTransportPanel();

  TransportFlags& flags() { return flags_; }
  const TransportFlags& flags() const { return flags_; }
  const BoundBuilds& builds() const { return builds_; }
  std::atomic<int32_t>& ack() { return ack_; }
  BleTransport* ble() { return ble_.get(); }
  const PowerState& power() const { return power_; }

 private:
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  bool HandleTimer(UINT_PTR id);
  void Open(const ConnectionRow& row);
  void OnArrival(const ConnectionRow& row);
  void FinishArrival(const ConnectionRow& row);  // after the settling wait
  void OnRemoval(const ConnectionRow& row);
  void OnWatchdog(const ConnectionRow& receiver);
  // `row` is null for Bluetooth.
  void OnStatus(const ConnectionRow* row, const StatusReport& report);
  void OnPowerStatus(const ConnectionRow* row, uint8_t v, uint8_t w);
  void OnBleConnection();
  void OnBleDisconnection();
  void ShowBatteryLevel(int percent);
  void StartChargeAnimation();
  void StopChargeAnimation();
  // Runs timer 531 exactly while the animation is on and can be seen.
  void RunChargeTimer();
  // The power controls change only when what they show changes: the receiver repeats its power
  // report every second, and an idle program must not repaint for it.
  // `key`: `text` is a key of the language file.
  void ShowPowerText(std::u16string text, bool key = false);
  void ShowPowerProgress(int value);
  // Brings power_'s connection up to date and tells the listener when power_ changed.
  void TellPower();
  void MarkAnswering(Transport receiver);
  void ClearAnswering(Transport receiver);
  // Shows "ms_1_sleep_label" when no connection answers.
  void ShowAsleepIfSilent();
  void ConnectionChanged(bool any);
  void Show(std::string_view control, bool visible);
  // The connection chips: full names while one shows, short ones (the full name in the
  // tooltip) when two share the row.
  void FitConnectionLabels();
  // The mouse answers again (an arrival past its wait, a wake, Bluetooth): what it missed is
  // sent without waiting for the user's next edit.
  void SendWhatTheMouseMissed();

  ApplyWorker& worker_;
  HWND window_ = nullptr;
  PageView* view_ = nullptr;
  std::function<void()> lighting_panels_;
  std::unique_ptr<BleTransport> ble_;
  std::function<bool()> ble_present_;

  TransportFlags flags_;
  std::atomic<int32_t> ack_{0};
  BoundBuilds builds_{};
  std::array<bool, kConnections.size()> arrival_pending_{};  // settling wait running
  int charge_animation_ = 0;
  bool charge_animating_ = false;
  bool display_shown_ = true;
  bool charge_timer_running_ = false;
  // What the power controls show (the label: is a key, text); nothing until told.
  std::optional<std::pair<bool, std::u16string>> power_text_;
  int power_progress_ = -1;
  // Visibility of the controls the monitor alone shows, by position in kOwnLabels; -1 unknown.
  std::array<int8_t, 2> label_shown_{-1, -1};
  std::function<void(const PowerState&)> power_listener_;
  PowerState told_power_;
  std::array<bool, 5> chip_shown_{};
  PowerState power_;
};

}  // namespace brevak
