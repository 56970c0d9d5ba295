// What the mouse and its drivers report, on the window thread: arrivals and removals of each
// connection, status reports (DPI stage, polling, power and battery, acknowledgements,
// lighting effect) and the receivers' watchdogs.
#include <string>

#include "page/ms_1_page.h"
#include "page/page_messages.h"
#include "platform/text.h"

namespace brevak {

namespace {

struct ReceiverInfo {
  std::atomic<int32_t>* state;
  std::atomic<int32_t>* active;
  const char* indicator;
  UINT_PTR watchdog;
  size_t build;
};

// Standard and high-speed polling options: 4 and 7 of them.
constexpr int kPollingOptions = 4;
constexpr int kPollingHsOptions = 7;

ReceiverInfo ReceiverOf(TransportFlags& f, Transport t) {
  switch (t) {
    case Transport::kReceiver4k: return {&f.rx4k_state, &f.rx4k_active, "ms_1_wireless_4k", kTimerWatchdog4k, 2};
    case Transport::kReceiver8k: return {&f.rx8k_state, &f.rx8k_active, "ms_1_wireless_8k", kTimerWatchdog8k, 3};
    default: return {&f.rx1k_state, &f.rx1k_active, "ms_1_wireless", kTimerWatchdog1k, 1};
  }
}

}  // namespace

bool CMS_1_Page::AnotherTransportPresent(Transport except) const {
  return (except != Transport::kCable && flags_.wired_state == kPresent) || flags_.ble_connected == 1 ||
         (except != Transport::kReceiver1k && flags_.rx1k_state == kPresent) ||
         (except != Transport::kReceiver4k && flags_.rx4k_state == kPresent) ||
         (except != Transport::kReceiver8k && flags_.rx8k_state == kPresent);
}

namespace {

size_t BuildIndex(Transport t) {
  switch (t) {
    case Transport::kCable: return 0;
    case Transport::kReceiver1k: return 1;
    case Transport::kReceiver4k: return 2;
    default: return 3;
  }
}

UINT_PTR ArrivalTimer(Transport t) { return kTimerArrivalCable + BuildIndex(t); }

// The never-opened / present / removed flag of a cable or receiver connection.
std::atomic<int32_t>& StateOf(TransportFlags& f, Transport t) {
  return t == Transport::kCable ? f.wired_state : *ReceiverOf(f, t).state;
}

}  // namespace

void CMS_1_Page::OnArrival(Transport t) {
  std::atomic<int32_t>& state = StateOf(flags_, t);
  // A duplicate arrival is ignored, wait included.
  if (state == kPresent || arrival_pending_[BuildIndex(t)]) return;
  arrival_pending_[BuildIndex(t)] = true;
  SetTimer(main_window_, ArrivalTimer(t), kArrivalSettleMs, nullptr);
}

void CMS_1_Page::FinishArrival(Transport t) {
  KillTimer(main_window_, ArrivalTimer(t));
  if (!arrival_pending_[BuildIndex(t)]) return;
  arrival_pending_[BuildIndex(t)] = false;
  std::atomic<int32_t>& state = StateOf(flags_, t);
  state = kPresent;
  if (t == Transport::kCable) {
    BoundBuild& b = builds_[0];
    if (b.bound()) b.Open_FeatureDevice();
    flags_.mouse_silent = 0;
    Show("ms_1_sleep_label", false);
    Show("ms_1_wired", true);
    RefreshTransportPanel();
    charge_animation_ = 0;
    if (view_) view_->SetResourceText("ms_1_label_power", "charging_text");
    SetTimer(main_window_, kTimerChargeAnimation, kChargeAnimationMs, nullptr);
  } else {
    const ReceiverInfo r = ReceiverOf(flags_, t);
    BoundBuild& b = builds_[r.build];
    Show(r.indicator, true);
    RefreshTransportPanel();
    if (b.bound()) {
      b.Open_FeatureDevice();
      if (t != Transport::kReceiver1k && b.Open_ReportDevice) b.Open_ReportDevice();
    }
    SetTimer(main_window_, r.watchdog, kWatchdogMs, nullptr);
  }
  if (!AnotherTransportPresent(t)) {
    flags_.any_connected = 1;
    Post(kMsgConnectionChanged);
  }
}

void CMS_1_Page::OnRemoval(Transport t) {
  if (arrival_pending_[BuildIndex(t)]) {  // gone again before it settled
    arrival_pending_[BuildIndex(t)] = false;
    KillTimer(main_window_, ArrivalTimer(t));
  }
  std::atomic<int32_t>& state = StateOf(flags_, t);
  if (state == kRemoved) return;
  state = kRemoved;
  if (t == Transport::kCable) {
    BoundBuild& b = builds_[0];
    if (b.bound()) b.Close_FeatureDevice();
    flags_.mouse_silent = 1;
    Show("ms_1_sleep_label", true);
    Show("ms_1_wired", false);
    RefreshTransportPanel();
    if (view_) view_->SetText("ms_1_label_power", u"");
    KillTimer(main_window_, kTimerChargeAnimation);
  } else {
    const ReceiverInfo r = ReceiverOf(flags_, t);
    if (*r.active) {
      *r.active = 0;
      Show(r.indicator, false);
      RefreshTransportPanel();
      const bool other_answers = flags_.wired_state == kPresent || flags_.ble_connected || flags_.rx1k_active ||
                                 flags_.rx4k_active || flags_.rx8k_active;
      if (!other_answers) Show("ms_1_sleep_label", true);
    }
    BoundBuild& b = builds_[r.build];
    if (b.bound()) {
      b.Close_FeatureDevice();
      if (t != Transport::kReceiver1k && b.Close_ReportDevice) b.Close_ReportDevice();
    }
    RefreshTransportPanel();
    KillTimer(main_window_, r.watchdog);
  }
  if (!AnotherTransportPresent(t)) {
    flags_.any_connected = 0;
    Post(kMsgConnectionChanged);
  }
}

void CMS_1_Page::OnBleConnection() {
  flags_.ble_connected = 1;
  SetTimer(main_window_, kTimerBleNotify, kBleNotifyMs, nullptr);
  flags_.mouse_silent = 0;
  Show("ms_1_sleep_label", false);
  Show("ms_1_BLE", true);
  // Bluetooth takes over: frames go there until a receiver answers or the cable arrives again.
  for (Transport t : {Transport::kReceiver1k, Transport::kReceiver8k, Transport::kReceiver4k}) ClearAnswering(t);
  flags_.wired_state = kRemoved;
  RefreshTransportPanel();
  // The link takes the mouse's identity and lists the connected devices now, not only when the
  // notifications are registered, so an apply in the first two seconds reaches the mouse.
  if (ble_) ble_->OnConnected();
  if (!flags_.rx1k_active && !flags_.rx4k_active && !flags_.rx8k_active && flags_.wired_state != kPresent) {
    flags_.any_connected = 1;
    Post(kMsgConnectionChanged);
  }
}

void CMS_1_Page::OnBleDisconnection() {
  flags_.ble_connected = 0;
  KillTimer(main_window_, kTimerBleNotify);
  // The charge animation belongs to the cable while it is present (start-up runs this path
  // with the cable plugged in): only Bluetooth's own charging display stops here.
  if (flags_.wired_state != kPresent) KillTimer(main_window_, kTimerChargeAnimation);
  if (ble_) ble_->OnDisconnected();
  Show("ms_1_BLE", false);
  const bool receiver_answers = flags_.rx1k_active || flags_.rx4k_active || flags_.rx8k_active;
  if (!receiver_answers && flags_.wired_state != kPresent) Show("ms_1_sleep_label", true);
  if (flags_.wired_state != kPresent && flags_.rx1k_state != kPresent && flags_.rx4k_state != kPresent &&
      flags_.rx8k_state != kPresent) {
    flags_.any_connected = 0;
    Post(kMsgConnectionChanged);
  }
}

void CMS_1_Page::OnBleNotification(std::span<const uint8_t> value) {
  if (auto report = DecodeBleStatus(value)) OnStatus(StatusPath::kBle, *report);
}

void CMS_1_Page::OnWatchdog(Transport receiver) {
  const ReceiverInfo r = ReceiverOf(flags_, receiver);
  KillTimer(main_window_, r.watchdog);
  Show(r.indicator, false);
  *r.active = 0;
  RefreshTransportPanel();
  if (flags_.wired_state != kPresent && !flags_.ble_connected && !flags_.rx1k_active && !flags_.rx4k_active &&
      !flags_.rx8k_active)
    Show("ms_1_sleep_label", true);
}

void CMS_1_Page::KeepMouseChange(const std::function<void(ProfileRecord&)>& change) {
  auto lock = profiles_.Lock();
  ProfileRecord* r = WorkingRecordLocked();
  if (!r) return;
  // Only the reported field goes into the last-applied copy as well: the user's other edits
  // that have not been written yet stay pending instead of being taken as sent.
  change(*r);
  change(*last_applied_);
  profiles_.Save();
}

void CMS_1_Page::OnStatus(StatusPath path, const StatusReport& s) {
  switch (s.type) {
    case kStatusDpiStage: {
      if (s.value < 1 || s.value > kDpiStages) return;
      const int stage = s.value - 1;
      int32_t dpi = 0;
      bool known = false;
      KeepMouseChange([&](ProfileRecord& r) {
        r.dpi_stage_index = stage;
        dpi = r.dpi_value[stage];
        known = true;
      });
      if (!known) return;
      if (view_) view_->SelectOption("ms_1_option_dpi_step_" + std::to_string(s.value));
      Post(kMsgShowDpi, 0, LPARAM(dpi));
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
      KeepMouseChange([&](ProfileRecord& r) {
        if (standard_ok) r.polling_rate_index = standard - 1;
        if (hs_ok) r.polling_rate_hs_index = high_speed - 1;
      });
      if (view_ && standard_ok) view_->SelectOption("ms_1_btn_prate_" + std::to_string(standard));
      if (view_ && hs_ok) view_->SelectOption("ms_1_btn_prate_hs_" + std::to_string(high_speed));
      return;
    }
    case kStatusPower: OnPowerStatus(path, s.value, s.value2); return;
    case kStatusWriteAck: ack_ = s.value == 0 ? 1 : 0; return;
    case kStatusLightEffect: {
      if (path == StatusPath::k8k) return;
      const int effect = (s.value >> 4) & 0x0F;
      KeepMouseChange([&](ProfileRecord& r) { r.light_effect = effect; });
      if (view_) view_->SelectItem("ms_1_combo_light", effect);
      UpdateLightingPanels();
      return;
    }
    case kStatus80:
      if (path == StatusPath::k8k || s.value < 1 || s.value > 5) return;
      KeepMouseChange([](ProfileRecord&) {});
      return;
    default: return;  // 0x60 and unknown types: nothing
  }
}

void CMS_1_Page::MarkAnswering(Transport receiver) {
  const ReceiverInfo r = ReceiverOf(flags_, receiver);
  if (!*r.active) {
    *r.active = 1;
    Show(r.indicator, true);
  }
  flags_.mouse_silent = 0;
  Show("ms_1_sleep_label", false);
}

void CMS_1_Page::ClearAnswering(Transport receiver) {
  const ReceiverInfo r = ReceiverOf(flags_, receiver);
  *r.active = 0;
  Show(r.indicator, false);
}

void CMS_1_Page::ShowBatteryLevel(int percent) {
  if (!view_) return;
  view_->SetProgress("ms_1_progress_power", percent);
  view_->SetText("ms_1_label_power", Utf8ToUtf16(std::to_string(percent) + "%"));
}

void CMS_1_Page::OnPowerStatus(StatusPath path, uint8_t v, uint8_t w) {
  const Transport receiver = path == StatusPath::k4k   ? Transport::kReceiver4k
                             : path == StatusPath::k8k ? Transport::kReceiver8k
                                                       : Transport::kReceiver1k;
  const bool ble = path == StatusPath::kBle;
  if (!ble) SetTimer(main_window_, ReceiverOf(flags_, receiver).watchdog, kWatchdogMs, nullptr);
  const bool cable = flags_.wired_state == kPresent;
  if (v == kPowerChargeComplete) {
    KillTimer(main_window_, kTimerChargeAnimation);
    ShowBatteryLevel(100);
    if (ble) return;
    if (cable) {
      if (path == StatusPath::kCable1k) {
        for (Transport t : {Transport::kReceiver1k, Transport::kReceiver4k, Transport::kReceiver8k}) ClearAnswering(t);
      } else {
        ClearAnswering(receiver);
      }
    } else {
      MarkAnswering(receiver);
    }
  } else if (v == kPowerCharging) {
    if (view_) view_->SetResourceText("ms_1_label_power", "charging_text");
    SetTimer(main_window_, kTimerChargeAnimation, kChargeAnimationMs, nullptr);
    if (ble) return;
    if (cable) ClearAnswering(receiver);
    else MarkAnswering(receiver);
  } else {
    KillTimer(main_window_, kTimerChargeAnimation);
    if (ble) {
      flags_.mouse_silent = 0;
      Show("ms_1_sleep_label", false);
      if (w <= 100) ShowBatteryLevel(w);
      return;
    }
    MarkAnswering(receiver);
    if (w >= 1 && w <= 100) ShowBatteryLevel(w);
  }
}

}  // namespace brevak
