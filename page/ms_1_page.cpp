#include "page/ms_1_page.h"

#include <cstring>
#include <string>

#include "page/page_controls.h"
#include "page/page_messages.h"
#include "page/paint_manager_view.h"
#include "platform/loop.h"

namespace brevak {

namespace {
// Indices into kDriverBuilds and builds_.
constexpr size_t kBuildCable = 0, kBuild1k = 1, kBuild4k = 2, kBuild8k = 3;
}  // namespace

CMS_1_Page::CMS_1_Page(ProfileStore& profiles, MacroStore& macros)
    : profiles_(profiles), macros_(macros), ble_present_(BluetoothHidPresent),
      last_applied_(std::make_unique<ProfileRecord>()) {
  std::memset(static_cast<void*>(last_applied_.get()), 0, sizeof(ProfileRecord));
  flags_.mouse_silent = 1;
}

CMS_1_Page::~CMS_1_Page() { ShutDown(); }

void CMS_1_Page::Post(UINT msg, WPARAM wParam, LPARAM lParam) { PostMessageW(main_window_, msg, wParam, lParam); }

void CMS_1_Page::Show(std::string_view control, bool visible) {
  if (view_) view_->SetVisible(control, visible);
}

void CMS_1_Page::BindControls() {
  LookUpControls();
  apply_thread_ = StartThread([this] { return ApplyThreadProc(this); }, &apply_thread_id_);
  for (size_t i = 0; i < kDriverBuilds.size(); ++i) builds_[i] = BindDriverBuild(kDriverBuilds[i]);
  carriage_ = std::make_unique<FrameCarriage>(flags_, builds_, ack_, ble_.get());
  for (size_t i = 0; i < kDriverBuilds.size(); ++i) OpenTransport(i);
  flags_.ble_connected = ble_present_ && ble_present_() ? 1 : 0;
  if (ble_) ble_->Start();
  flags_.any_connected = (flags_.wired_state == kPresent || flags_.rx1k_state == kPresent ||
                          flags_.rx4k_state == kPresent || flags_.rx8k_state == kPresent || flags_.ble_connected == 1)
                             ? 1
                             : 0;
  Post(kMsgConnectionChanged);
}

// Opens one connection at start-up. A build that is not bound leaves its connection closed.
void CMS_1_Page::OpenTransport(size_t i) {
  const DriverBuildInfo& info = kDriverBuilds[i];
  BoundBuild& b = builds_[i];
  int opened = 0;
  if (b.bound()) {
    b.Set_VIDPID(info.vendor_id, info.product_id);
    if (info.device_version && b.Set_Device_Version) b.Set_Device_Version(info.device_version);
    b.Open_DevMonitor(main_window_, info.input_msg, info.device_msg);
    const int feature = b.Open_FeatureDevice();
    opened = info.device_version ? (b.Open_ReportDevice ? b.Open_ReportDevice() : 0) : feature;
  }
  switch (i) {
    case kBuildCable:
      if (opened) {
        flags_.wired_state = kPresent;
        flags_.mouse_silent = 0;
        Show("ms_1_sleep_label", false);
        if (view_) view_->SetResourceText("ms_1_label_power", "charging_text");
        SetTimer(main_window_, kTimerChargeAnimation, kChargeAnimationMs, nullptr);
      } else {
        flags_.wired_state = kNeverOpened;
        flags_.mouse_silent = 1;
        Show("ms_1_sleep_label", true);
      }
      break;
    case kBuild1k: flags_.rx1k_state = opened ? kPresent : kNeverOpened; break;
    case kBuild4k: flags_.rx4k_state = opened ? kPresent : kNeverOpened; break;
    case kBuild8k: flags_.rx8k_state = opened ? kPresent : kNeverOpened; break;
  }
  if (opened && info.watchdog_timer) SetTimer(main_window_, info.watchdog_timer, kWatchdogMs, nullptr);
  Show(info.indicator, opened != 0);
}

void CMS_1_Page::StartUp() {
  full_write_pending_ = 1;
  {
    auto lock = profiles_.Lock();
    LoadProfileStore(profiles_);
  }
  LoadMacroStore(macros_);
  auto lock = profiles_.Lock();
  const int selected = profiles_.header().selected_profile;
  working_index_ = selected;
  CopyProfile(*last_applied_, *profiles_.list()[size_t(selected)]);
  undelivered_ = {};
  lock.unlock();
  FillProfileList();
  // Our list raises no notification of its own while it is filled, so nothing is left for the
  // guard to swallow; kept armed it would eat the user's first switch.
  list_guard_ = 0;
  if (flags_.ble_connected) OnBleConnection();
  else OnBleDisconnection();
  RefreshControls();
}

void CMS_1_Page::ShutDown() {
  if (apply_thread_) {
    PostThreadMessageW(apply_thread_id_, WM_QUIT, 0, 0);
    WaitForSingleObject(apply_thread_, INFINITE);
    CloseHandle(apply_thread_);
    apply_thread_ = nullptr;
    apply_thread_id_ = 0;
  }
  carriage_.reset();
  // The worker has ended, so no write is in flight.
  if (ble_) ble_->Stop();
  for (BoundBuild& b : builds_) ReleaseDriverBuild(b);
}

void CMS_1_Page::RequestApply() { Post(kMsgSettingsChanged); }

ProfileRecord* CMS_1_Page::WorkingRecordLocked() {
  auto& list = profiles_.list();
  if (working_index_ < 0 || size_t(working_index_) >= list.size()) return nullptr;
  return list[size_t(working_index_)].get();
}

bool CMS_1_Page::EditWorkingRecord(const std::function<void(ProfileRecord&)>& edit) {
  auto lock = profiles_.Lock();
  ProfileRecord* r = WorkingRecordLocked();
  if (!r) return false;
  edit(*r);
  return true;
}

void CMS_1_Page::SelectProfile(int index) {
  auto lock = profiles_.Lock();
  if (index < 0 || size_t(index) >= profiles_.list().size()) return;
  working_index_ = index;
  profiles_.header().selected_profile = index;
  full_write_pending_ = 1;
}

std::optional<ProfileRecord> CMS_1_Page::WorkingRecordCopy() {
  auto lock = profiles_.Lock();
  ProfileRecord* r = WorkingRecordLocked();
  if (!r) return std::nullopt;
  return *r;
}

ProfileRecord CMS_1_Page::LastAppliedCopy() {
  auto lock = profiles_.Lock();
  return *last_applied_;
}

void CMS_1_Page::OnDeviceMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kMsgSettingsChanged:
      if (apply_thread_id_) PostThreadMessageW(apply_thread_id_, kMsgApplyThread, wParam, lParam);
      return;
    case kMsgApplyIndicator: Show("apply_ring", wParam != 0); return;
    case kMsgDeviceCable:
    case kMsgDevice1k:
    case kMsgDevice4k:
    case kMsgDevice8k: {
      const Transport t = msg == kMsgDeviceCable ? Transport::kCable
                          : msg == kMsgDevice1k  ? Transport::kReceiver1k
                          : msg == kMsgDevice4k  ? Transport::kReceiver4k
                                                 : Transport::kReceiver8k;
      if (wParam == 1) OnArrival(t);
      else if (wParam == 0) OnRemoval(t);
      return;
    }
    case kMsgInputCable:
    case kMsgInput1k:
    case kMsgInput4k:
      if (auto report = DecodePackedStatus(wParam, lParam))
        OnStatus(msg == kMsgInput4k ? StatusPath::k4k : StatusPath::kCable1k, *report);
      return;
    case kMsgBleDevice:
      // An arrival while connected is a second announcement of the same mouse.
      if (wParam == 1 && !flags_.ble_connected) OnBleConnection();
      else if (wParam == 0) OnBleDisconnection();
      return;
    case kMsgBleValue: {
      uint8_t bytes[4];
      OnBleNotification(UnpackBleValue(wParam, lParam, bytes));
      return;
    }
    case kMsgInput8k: {
      // The 8K build posts the address of the whole report; it stays readable (see zentrix).
      if (wParam == 0) return;
      uint8_t report[64];
      std::memcpy(report, reinterpret_cast<const void*>(wParam), sizeof report);
      if (auto decoded = DecodeStatusReport(report)) OnStatus(StatusPath::k8k, *decoded);
      return;
    }
    default: return;
  }
}

void CMS_1_Page::OnDeviceTimer(UINT_PTR id) {
  switch (id) {
    case kTimerWatchdog1k: OnWatchdog(Transport::kReceiver1k); return;
    case kTimerWatchdog4k: OnWatchdog(Transport::kReceiver4k); return;
    case kTimerWatchdog8k: OnWatchdog(Transport::kReceiver8k); return;
    case kTimerBleNotify:
      // Periodic until a registration is held: the services may not be resolved yet.
      if (ble_ && !ble_->registration_held()) ble_->RegisterNotifications();
      return;
    case kTimerArrivalCable: FinishArrival(Transport::kCable); return;
    case kTimerArrival1k: FinishArrival(Transport::kReceiver1k); return;
    case kTimerArrival4k: FinishArrival(Transport::kReceiver4k); return;
    case kTimerArrival8k: FinishArrival(Transport::kReceiver8k); return;
    case kTimerDelayedApply:
      KillTimer(main_window_, kTimerDelayedApply);
      RequestApply();
      return;
    case kTimerScrollSettings:
      KillTimer(main_window_, kTimerScrollSettings);
      if (pm_) {
        if (auto* settings = dynamic_cast<CContainerUI*>(pm_->FindControl("ms_1_ver_setting"))) settings->EndDown();
      }
      return;
    case kTimerChargeAnimation:
      if (view_) view_->SetProgress("ms_1_progress_power", charge_animation_);
      charge_animation_ += 2;
      if (charge_animation_ > 100) charge_animation_ = 0;
      return;
    default: return;
  }
}

void CMS_1_Page::UpdateLightingPanels() {
  if (!view_) return;
  int effect = 0;
  {
    auto lock = profiles_.Lock();
    if (ProfileRecord* r = WorkingRecordLocked()) effect = r->light_effect;
  }
  view_->SetVisible("ms_1_ver_brightness", false);
  view_->SetVisible("ms_1_ver_breathspeed", false);
  view_->SetVisible("ms_1_hor_light_color", false);
  switch (effect) {
    case 1: view_->SetVisible("ms_1_ver_brightness", true), view_->SetVisible("ms_1_hor_light_color", true); break;
    case 2: view_->SetVisible("ms_1_ver_breathspeed", true), view_->SetVisible("ms_1_hor_light_color", true); break;
    case 5: view_->SetVisible("ms_1_ver_brightness", true); break;
    default:
      if ((effect >= 3 && effect <= 4) || (effect >= 6 && effect <= 11)) view_->SetVisible("ms_1_ver_breathspeed", true);
      break;
  }
}

void CMS_1_Page::RefreshTransportPanel() {
  UpdateLightingPanels();
  if (!view_) return;
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

}  // namespace brevak
