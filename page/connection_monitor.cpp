#include "page/connection_monitor.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>

#include "model/device_values.h"
#include "page/page_messages.h"
#include "platform/format.h"
#include "platform/text.h"

namespace brevak {

namespace {

constexpr char kSleepLabel[] = "ms_1_sleep_label";
constexpr char kLowPowerLabel[] = "ms_1_low_power_label";
constexpr char kNoPollingLabel[] = "ms_1_prate_none_label";
// Labels no one but the monitor shows or hides, so it knows what they show.
constexpr const char* kOwnLabels[] = {kSleepLabel, kLowPowerLabel};

// The connection chips: the connection, the control shown, its label, and the label's full and
// short texts.
struct Chip {
  Transport link;
  const char* indicator;
  const char* label;
  const char* full_key;
  const char* short_key;
};
constexpr Chip kChips[] = {
    {Transport::kCable, "ms_1_wired", "ms_1_wired_text", "link_wired_text", "link_wired_short_text"},
    {Transport::kReceiver1k, "ms_1_wireless", "ms_1_wireless_text", "link_1k_text", "link_1k_short_text"},
    {Transport::kReceiver4k, "ms_1_wireless_4k", "ms_1_wireless_4k_text", "link_4k_text", "link_4k_short_text"},
    {Transport::kReceiver8k, "ms_1_wireless_8k", "ms_1_wireless_8k_text", "link_8k_text", "link_8k_short_text"},
    {Transport::kBle, kBleIndicator, "ms_1_BLE_text", "link_ble_text", "link_ble_short_text"},
};
constexpr char kPowerLabel[] = "ms_1_label_power";
constexpr char kPowerProgress[] = "ms_1_progress_power";

// The never-opened / present / removed flag of a cable or receiver connection.
std::atomic<int32_t>& StateOf(TransportFlags& f, Transport t) { return f.*FlagFieldsOf(t).state; }
// The answering flag of a receiver.
std::atomic<int32_t>& AnsweringOf(TransportFlags& f, Transport receiver) { return f.*FlagFieldsOf(receiver).answering; }

// The receivers, in the order their answering flags are cleared together.
constexpr Transport kReceivers[] = {Transport::kReceiver1k, Transport::kReceiver4k, Transport::kReceiver8k};

}  // namespace

const char* ShortLinkKey(Transport link) {
  for (const Chip& chip : kChips) {
    if (chip.link == link) return chip.short_key;
  }
  return nullptr;
}

ConnectionMonitor::ConnectionMonitor(WorkingProfile&, ApplyWorker& worker)
    : worker_(worker), ble_present_(BluetoothHidPresent) {
  flags_.mouse_silent = 1;
}

ConnectionMonitor::~ConnectionMonitor() { Release(); }

void ConnectionMonitor::Show(std::string_view control, bool visible) {
  if (!view_) return;
  static_assert(std::size(kOwnLabels) == std::tuple_size_v<decltype(label_shown_)>);
  for (size_t i = 0; i < std::size(kOwnLabels); ++i) {
    if (control != kOwnLabels[i]) continue;
    if (label_shown_[i] == int8_t(visible)) return;
    label_shown_[i] = int8_t(visible);
  }
  view_->SetVisible(control, visible);
  for (size_t i = 0; i < std::size(kChips); ++i) {
    if (control == kChips[i].indicator && chip_shown_[i] != visible) {
      chip_shown_[i] = visible;
      FitConnectionLabels();
    }
  }
}

void ConnectionMonitor::FitConnectionLabels() {
  const bool crowded = std::count(chip_shown_.begin(), chip_shown_.end(), true) > 1;
  for (const Chip& chip : kChips) view_->SetResourceText(chip.label, crowded ? chip.short_key : chip.full_key);
}

void ConnectionMonitor::SendWhatTheMouseMissed() {
  if (worker_.HasPendingForMouse()) worker_.Request();
}

void ConnectionMonitor::Bind() {
  for (size_t i = 0; i < kDriverBuilds.size(); ++i) builds_[i] = BindDriverBuild(kDriverBuilds[i]);
  for (const ConnectionRow& row : kConnections) Open(row);
  flags_.ble_connected = ble_present_ && ble_present_() ? 1 : 0;
  if (ble_) ble_->Start();
  flags_.any_connected = AnyPresent(flags_) ? 1 : 0;
  PostMessageW(window_, kMsgConnectionChanged, 0, 0);
  TellPower();
}

// Opens one connection at start-up. A build that is not bound leaves its connection closed.
void ConnectionMonitor::Open(const ConnectionRow& row) {
  const DriverBuildInfo& info = kDriverBuilds[RowIndex(row)];
  BoundBuild& b = builds_[RowIndex(row)];
  int opened = 0;
  if (b.bound()) {
    b.Set_VIDPID(info.vendor_id, info.product_id);
    if (info.device_version && b.Set_Device_Version) b.Set_Device_Version(info.device_version);
    b.Open_DevMonitor(window_, row.input_msg, row.device_msg);
    const int feature = b.Open_FeatureDevice();
    // The high-rate receivers answer through their report interface.
    opened = info.device_version ? (b.Open_ReportDevice ? b.Open_ReportDevice() : 0) : feature;
  }
  StateOf(flags_, row.transport) = opened ? kPresent : kNeverOpened;
  if (row.transport == Transport::kCable) {
    flags_.mouse_silent = opened ? 0 : 1;
    Show(kSleepLabel, !opened);
    if (opened) StartChargeAnimation();
  }
  if (opened && row.watchdog_timer) SetTimer(window_, row.watchdog_timer, kWatchdogMs, nullptr);
  Show(row.indicator, opened != 0);
}

void ConnectionMonitor::AnnounceBluetooth() {
  if (flags_.ble_connected) OnBleConnection();
  else OnBleDisconnection();
  TellPower();
}

void ConnectionMonitor::Release() {
  // The worker has ended, so no write is in flight.
  if (ble_) ble_->Stop();
  for (BoundBuild& b : builds_) ReleaseDriverBuild(b);
}

bool ConnectionMonitor::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const bool mine = HandleMessage(msg, wParam, lParam);
  if (mine) TellPower();
  return mine;
}

bool ConnectionMonitor::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (const ConnectionRow* row = RowOfMessage(msg)) {
    if (msg == row->device_msg) {
      if (wParam == 1) OnArrival(*row);
      else if (wParam == 0) OnRemoval(*row);
      return true;
    }
    if (!row->input_by_address) {
      if (auto report = DecodePackedStatus(wParam, lParam)) OnStatus(row, *report);
      return true;
    }
    // The build posts the address of the whole report; it stays readable (see zentrix).
    if (wParam == 0) return true;
    uint8_t report[64];
    std::memcpy(report, reinterpret_cast<const void*>(wParam), sizeof report);
    if (auto decoded = DecodeStatusReport(report)) OnStatus(row, *decoded);
    return true;
  }
  switch (msg) {
    case kMsgBleDevice:
      // An arrival while connected is a second announcement of the same mouse.
      if (wParam == 1 && !flags_.ble_connected) OnBleConnection();
      else if (wParam == 0) OnBleDisconnection();
      return true;
    case kMsgBleValue: {
      uint8_t bytes[4];
      OnBleNotification(UnpackBleValue(wParam, lParam, bytes));
      return true;
    }
    default: return false;
  }
}

bool ConnectionMonitor::OnTimer(UINT_PTR id) {
  const bool mine = HandleTimer(id);
  if (mine) TellPower();
  return mine;
}

bool ConnectionMonitor::HandleTimer(UINT_PTR id) {
  if (const ConnectionRow* row = RowOfTimer(id)) {
    if (id == row->arrival_timer) FinishArrival(*row);
    else OnWatchdog(*row);
    return true;
  }
  switch (id) {
    case kTimerBleNotify:
      // Periodic until a registration is held: the services may not be resolved yet.
      if (ble_ && !ble_->registration_held()) ble_->RegisterNotifications();
      return true;
    case kTimerChargeAnimation:
      ShowPowerProgress(charge_animation_);
      charge_animation_ += 2;
      if (charge_animation_ > 100) charge_animation_ = 0;
      return true;
    default: return false;
  }
}

void ConnectionMonitor::RefreshTransportPanel() {
  if (lighting_panels_) lighting_panels_();
  if (!view_) return;
  view_->SetVisible(kNoPollingLabel, false);
  view_->SetCheck("ms_1_check_light", false);
  view_->SetVisible("ms_1_ver_light", false);
  const bool hid = flags_.wired_state == kPresent || flags_.rx1k_active || flags_.rx4k_active || flags_.rx8k_active;
  if (hid) {
    view_->SetCheck("ms_1_check_prate", false);
    view_->SetVisible("ms_1_check_prate", true);
    view_->SetVisible("ms_1_check_key_debounce", true);
    view_->SetVisible("ms_1_ver_prate", false);
    view_->SetVisible("ms_1_ver_prate_hs", false);
  } else if (flags_.ble_connected) {
    // Polling rate and key debounce are not offered over Bluetooth.
    view_->SetCheck("ms_1_check_prate", false);
    view_->SetVisible("ms_1_check_prate", false);
    view_->SetVisible("ms_1_ver_prate", false);
    view_->SetVisible("ms_1_ver_prate_hs", false);
    view_->SetCheck("ms_1_check_key_debounce", false);
    view_->SetVisible("ms_1_check_key_debounce", false);
    view_->SetVisible("ms_1_hor_key_debounce", false);
  }
}

void ConnectionMonitor::StartChargeAnimation() {
  power_.charge = PowerState::Charge::kCharging;
  ShowPowerText(u"charging_text", true);
  // A running animation keeps its phase; each charging report would restart it otherwise.
  charge_animating_ = true;
  RunChargeTimer();
}

void ConnectionMonitor::StopChargeAnimation() {
  charge_animating_ = false;
  RunChargeTimer();
}

void ConnectionMonitor::SetDisplayShown(bool shown) {
  display_shown_ = shown;
  RunChargeTimer();
}

void ConnectionMonitor::RunChargeTimer() {
  const bool run = charge_animating_ && display_shown_;
  if (run == charge_timer_running_) return;
  charge_timer_running_ = run;
  if (run) SetTimer(window_, kTimerChargeAnimation, kChargeAnimationMs, nullptr);
  else KillTimer(window_, kTimerChargeAnimation);
}

void ConnectionMonitor::ShowPowerText(std::u16string text, bool key) {
  if (power_text_ && power_text_->first == key && power_text_->second == text) return;
  if (view_) {
    if (key) view_->SetResourceText(kPowerLabel, Utf16ToUtf8(text));
    else view_->SetText(kPowerLabel, text);
  }
  power_text_.emplace(key, std::move(text));
}

void ConnectionMonitor::ShowPowerProgress(int value) {
  if (value == power_progress_) return;
  power_progress_ = value;
  if (view_) view_->SetProgress(kPowerProgress, value);
}

void ConnectionMonitor::TellPower() {
  power_.link = ChooseTransport(flags_);
  power_.present = AnyPresent(flags_);
  if (power_ == told_power_) return;
  told_power_ = power_;
  if (power_listener_) power_listener_(power_);
}

void ConnectionMonitor::ConnectionChanged(bool any) {
  flags_.any_connected = any ? 1 : 0;
  PostMessageW(window_, kMsgConnectionChanged, 0, 0);
}

void ConnectionMonitor::ShowAsleepIfSilent() {
  if (AnyAnswering(flags_)) return;
  Show(kSleepLabel, true);
  // The bar keeps the last level; the label says it is not a current one.
  if (power_.percent >= 0 && flags_.wired_state != kPresent)
    ShowPowerText(Format(LanguageText(u"battery_last_text"), power_.percent));
}

void ConnectionMonitor::OnArrival(const ConnectionRow& row) {
  const size_t i = RowIndex(row);
  // A duplicate arrival is ignored, wait included.
  if (StateOf(flags_, row.transport) == kPresent || arrival_pending_[i]) return;
  arrival_pending_[i] = true;
  SetTimer(window_, row.arrival_timer, kArrivalSettleMs, nullptr);
}

void ConnectionMonitor::FinishArrival(const ConnectionRow& row) {
  const size_t i = RowIndex(row);
  KillTimer(window_, row.arrival_timer);
  if (!arrival_pending_[i]) return;
  arrival_pending_[i] = false;
  StateOf(flags_, row.transport) = kPresent;
  BoundBuild& b = builds_[i];
  if (row.transport == Transport::kCable) {
    if (b.bound()) b.Open_FeatureDevice();
    flags_.mouse_silent = 0;
    Show(kSleepLabel, false);
    Show(row.indicator, true);
    RefreshTransportPanel();
    charge_animation_ = 0;
    StartChargeAnimation();
    SendWhatTheMouseMissed();
  } else {
    Show(row.indicator, true);
    RefreshTransportPanel();
    if (b.bound()) {
      b.Open_FeatureDevice();
      if (b.Open_ReportDevice) b.Open_ReportDevice();
    }
    SetTimer(window_, row.watchdog_timer, kWatchdogMs, nullptr);
  }
  if (!AnyPresent(flags_, row.transport)) ConnectionChanged(true);
}

void ConnectionMonitor::OnRemoval(const ConnectionRow& row) {
  const size_t i = RowIndex(row);
  if (arrival_pending_[i]) {  // gone again before it settled
    arrival_pending_[i] = false;
    KillTimer(window_, row.arrival_timer);
  }
  std::atomic<int32_t>& state = StateOf(flags_, row.transport);
  if (state == kRemoved) return;
  state = kRemoved;
  BoundBuild& b = builds_[i];
  if (row.transport == Transport::kCable) {
    if (b.bound()) b.Close_FeatureDevice();
    flags_.mouse_silent = 1;
    Show(kSleepLabel, true);
    Show(row.indicator, false);
    RefreshTransportPanel();
    ShowPowerText(u"");
    StopChargeAnimation();
    // Off its charger the mouse runs on its battery; how full it is, its next report says.
    power_.charge = PowerState::Charge::kUnknown;
  } else {
    std::atomic<int32_t>& answering = AnsweringOf(flags_, row.transport);
    if (answering) {
      answering = 0;
      Show(row.indicator, false);
      RefreshTransportPanel();
      ShowAsleepIfSilent();
    }
    if (b.bound()) {
      b.Close_FeatureDevice();
      if (b.Close_ReportDevice) b.Close_ReportDevice();
    }
    RefreshTransportPanel();
    KillTimer(window_, row.watchdog_timer);
  }
  if (!AnyPresent(flags_, row.transport)) ConnectionChanged(false);
}

void ConnectionMonitor::OnBleConnection() {
  flags_.ble_connected = 1;
  SetTimer(window_, kTimerBleNotify, kBleNotifyMs, nullptr);
  flags_.mouse_silent = 0;
  Show(kSleepLabel, false);
  Show(kBleIndicator, true);
  // Bluetooth takes over: frames go there until a receiver answers or the cable arrives again.
  for (Transport t : {Transport::kReceiver1k, Transport::kReceiver8k, Transport::kReceiver4k}) ClearAnswering(t);
  flags_.wired_state = kRemoved;
  RefreshTransportPanel();
  // The link takes the mouse's identity and lists the connected devices now, not only when the
  // notifications are registered, so an apply in the first two seconds reaches the mouse.
  if (ble_) ble_->OnConnected();
  if (!AnyAnswering(flags_, Transport::kBle)) ConnectionChanged(true);
  SendWhatTheMouseMissed();
}

void ConnectionMonitor::OnBleDisconnection() {
  flags_.ble_connected = 0;
  KillTimer(window_, kTimerBleNotify);
  // The charge animation belongs to the cable while it is present (start-up runs this path
  // with the cable plugged in): only Bluetooth's own charging display stops here.
  if (flags_.wired_state != kPresent) StopChargeAnimation();
  if (ble_) ble_->OnDisconnected();
  Show(kBleIndicator, false);
  ShowAsleepIfSilent();
  if (!AnyPresent(flags_)) ConnectionChanged(false);
}

void ConnectionMonitor::OnBleNotification(std::span<const uint8_t> value) {
  if (auto report = DecodeBleStatus(value)) OnStatus(nullptr, *report);
  TellPower();
}

void ConnectionMonitor::OnWatchdog(const ConnectionRow& receiver) {
  KillTimer(window_, receiver.watchdog_timer);
  Show(receiver.indicator, false);
  // Only a receiver that stops answering changes what the panels offer; refreshing them for
  // one that was already silent would close the sections the user has open.
  const bool was_answering = AnsweringOf(flags_, receiver.transport).exchange(0) != 0;
  if (was_answering) RefreshTransportPanel();
  ShowAsleepIfSilent();
}

void ConnectionMonitor::OnStatus(const ConnectionRow* row, const StatusReport& s) {
  const StatusPath path = row ? row->status_path : StatusPath::kBle;
  switch (s.type) {
    case kStatusDpiStage: {
      if (s.value < 1 || s.value > kDpiStages) return;
      const int stage = s.value - 1;
      int32_t dpi = 0;
      const bool known = worker_.KeepMouseChange([&](ProfileRecord& r) {
        r.dpi_stage_index = stage;
        dpi = r.dpi_value[stage];
      });
      if (!known) return;
      if (view_) view_->SelectOption("ms_1_option_dpi_step_" + std::to_string(s.value));
      PostMessageW(window_, kMsgShowDpi, 0, LPARAM(dpi));
      return;
    }
    case kStatusPollingRate: {
      // A nibble outside the option list is not stored: it would index past the options.
      const int standard = s.value & 0x0F, high_speed = s.value >> 4;
      const bool take_standard = path == StatusPath::kCable1k || path == StatusPath::kBle;
      const bool take_hs = path != StatusPath::kBle;
      const bool standard_ok = take_standard && standard >= 1 && standard <= kPollingOptions;
      const bool hs_ok = take_hs && high_speed >= 1 && high_speed <= kPollingHsOptions;
      if (!standard_ok && !hs_ok) return;
      worker_.KeepMouseChange([&](ProfileRecord& r) {
        if (standard_ok) r.polling_rate_index = standard - 1;
        if (hs_ok) r.polling_rate_hs_index = high_speed - 1;
      });
      if (view_ && standard_ok) view_->SelectOption("ms_1_btn_prate_" + std::to_string(standard));
      if (view_ && hs_ok) view_->SelectOption("ms_1_btn_prate_hs_" + std::to_string(high_speed));
      return;
    }
    case kStatusPower: OnPowerStatus(row, s.value, s.value2); return;
    case kStatusWriteAck: ack_ = s.value == 0 ? 1 : 0; return;
    case kStatusLightEffect: {
      if (path == StatusPath::k8k) return;
      const int effect = (s.value >> 4) & 0x0F;
      worker_.KeepMouseChange([&](ProfileRecord& r) { r.light_effect = effect; });
      if (view_) view_->SelectItem("ms_1_combo_light", effect);
      if (lighting_panels_) lighting_panels_();
      return;
    }
    case kStatus80:
      if (path == StatusPath::k8k || s.value < 1 || s.value > 5) return;
      worker_.KeepMouseChange([](ProfileRecord&) {});
      return;
    default: return;  // 0x60 and unknown types: nothing
  }
}

void ConnectionMonitor::MarkAnswering(Transport receiver) {
  std::atomic<int32_t>& answering = AnsweringOf(flags_, receiver);
  flags_.mouse_silent = 0;
  Show(kSleepLabel, false);
  if (answering) return;
  // The mouse is back on this receiver (first report, or a wake): the panels follow it, and
  // what it missed meanwhile goes now.
  answering = 1;
  Show(RowOf(receiver)->indicator, true);
  RefreshTransportPanel();
  SendWhatTheMouseMissed();
}

void ConnectionMonitor::ClearAnswering(Transport receiver) {
  AnsweringOf(flags_, receiver) = 0;
  Show(RowOf(receiver)->indicator, false);
}

void ConnectionMonitor::ShowBatteryLevel(int percent) {
  power_.percent = percent;
  ShowPowerProgress(percent);
  ShowPowerText(Utf8ToUtf16(std::to_string(percent) + "%"));
}

void ConnectionMonitor::OnPowerStatus(const ConnectionRow* row, uint8_t v, uint8_t w) {
  const bool ble = row == nullptr;
  const Transport receiver = ble ? Transport::kNone : row->power_receiver;
  if (!ble) SetTimer(window_, RowOf(receiver)->watchdog_timer, kWatchdogMs, nullptr);
  const bool cable = flags_.wired_state == kPresent;
  // Low while discharging only: a mouse on its charger is being looked after.
  const bool discharging = v != kPowerChargeComplete && v != kPowerCharging;
  Show(kLowPowerLabel, discharging && w >= 1 && w < kLowBatteryPercent);
  if (v == kPowerChargeComplete) {
    power_.charge = PowerState::Charge::kFull;
    StopChargeAnimation();
    ShowBatteryLevel(100);
    if (ble) return;
    if (cable) {
      if (row->status_path == StatusPath::kCable1k) {
        for (Transport t : kReceivers) ClearAnswering(t);
      } else {
        ClearAnswering(receiver);
      }
    } else {
      MarkAnswering(receiver);
    }
  } else if (v == kPowerCharging) {
    StartChargeAnimation();
    if (ble) return;
    if (cable) ClearAnswering(receiver);
    else MarkAnswering(receiver);
  } else {
    power_.charge = PowerState::Charge::kDischarging;
    StopChargeAnimation();
    if (ble) {
      flags_.mouse_silent = 0;
      Show(kSleepLabel, false);
      if (w <= 100) ShowBatteryLevel(w);
      return;
    }
    MarkAnswering(receiver);
    if (w >= 1 && w <= 100) ShowBatteryLevel(w);
  }
}

}  // namespace brevak
