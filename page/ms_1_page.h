#pragma once
// The mouse page: the profile list and working record, what was last written to the mouse,
// the connections and their drivers, the apply worker, and what the mouse reports back.
// Everything here runs on the window thread except the apply sequence, which runs on the
// worker and reaches the window thread only by posted messages and window timers.

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "model/profile_record.h"
#include "page/page_view.h"
#include "platform/winapi.h"
#include "protocol/ble_transport.h"
#include "protocol/carriage.h"
#include "protocol/driver_binding.h"
#include "protocol/status_report.h"
#include "protocol/transport.h"
#include "store/macro_store.h"
#include "store/profile_store.h"
#include "ui/duilib.h"

namespace brevak {

struct HookFunctionTable;
class PaintManagerView;

class CMS_1_Page : public CNotifyPump {
 public:
  CMS_1_Page(ProfileStore& profiles, MacroStore& macros);
  ~CMS_1_Page() override;
  CMS_1_Page(const CMS_1_Page&) = delete;
  CMS_1_Page& operator=(const CMS_1_Page&) = delete;

  // Set by the main window before BindControls.
  void SetMainWindow(HWND main_window) { main_window_ = main_window; }
  void SetView(PageView* view) { view_ = view; }
  // The main window's paint manager: the page finds its controls there and shows through it
  // (replacing any view set before).
  void SetPaintManager(CPaintManagerUI* pm);
  CPaintManagerUI* paint_manager() const { return pm_; }
  void SetHookTable(HookFunctionTable* hooks) { hooks_ = hooks; }
  HookFunctionTable* hook_table() const { return hooks_; }
  // The Bluetooth link, created with the main window and kMsgBleDevice/kMsgBleValue. The page
  // starts it in BindControls and stops it after the apply worker has ended. Without one,
  // Bluetooth frames find no mouse.
  void SetBleTransport(std::unique_ptr<BleTransport> ble) { ble_ = std::move(ble); }
  // The Bluetooth HID presence check (hidapi's enumeration unless a test replaces it).
  void SetBlePresenceCheck(std::function<bool()> check) { ble_present_ = std::move(check); }

  // Finds the page's controls, starts the apply worker, binds the four driver builds and opens
  // every connection, checks for the Bluetooth mouse and posts 1290.
  void BindControls();
  // Loads the stores, fills the profile list, makes the selected profile the working record and
  // shows it.
  void StartUp();
  // Every value of the working record into the controls, without notifications.
  void RefreshControls();

  // Notification handlers, bound by the message map.
  void OnClick(TNotifyUI& msg);
  void OnSelectChanged(TNotifyUI& msg);
  void OnItemSelect(TNotifyUI& msg);
  void OnCheckClick(TNotifyUI& msg);
  void OnKillFocus(TNotifyUI& msg);
  void OnTimer(TNotifyUI& msg);
  void OnValueChanged(TNotifyUI& msg);
  void OnMouseEnter(TNotifyUI& msg);
  void OnMouseLeave(TNotifyUI& msg);
  void OnReturn(TNotifyUI& msg);
  void OnTextChanged(TNotifyUI& msg);
  // Stops the worker (WM_QUIT, then waits for it), then releases the driver builds.
  void ShutDown();

  // Messages 1553..kMsgPageLast and timers 528..539 of the main window, on the window thread.
  void OnDeviceMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnDeviceTimer(UINT_PTR id);
  // A notification value of the mouse over Bluetooth, on the window thread: [0x59][type][value]
  // [value2]; shorter or unmarked values change nothing.
  void OnBleNotification(std::span<const uint8_t> value);
  // Asks for an apply: posts 1561 to the main window.
  void RequestApply();

  // The transport panel refresh, after every change of the connection flags.
  void RefreshTransportPanel();
  void UpdateLightingPanels();

  // Edits of the working record from the window thread go through here, under the store's
  // lock, so the worker always sends a record that is not half-written. False (and `edit` not
  // called) before StartUp.
  bool EditWorkingRecord(const std::function<void(ProfileRecord&)>& edit);
  // Makes `index` the selected profile and the working record; the next apply writes all.
  void SelectProfile(int index);

  // For the main window and tests.
  TransportFlags& flags() { return flags_; }
  const TransportFlags& flags() const { return flags_; }
  std::atomic<int32_t>& ack_flag() { return ack_; }
  int32_t full_write_pending() const { return full_write_pending_; }
  void set_full_write_pending(int32_t v) { full_write_pending_ = v; }
  DWORD apply_thread_id() const { return apply_thread_id_; }
  int charge_animation() const { return charge_animation_; }
  ProfileStore& profiles() { return profiles_; }
  MacroStore& macros() { return macros_; }
  // Copies under the lock, for tests and the UI.
  std::optional<ProfileRecord> WorkingRecordCopy();
  ProfileRecord LastAppliedCopy();
  const std::array<BoundBuild, 4>& builds() const { return builds_; }
  BleTransport* ble() { return ble_.get(); }

 protected:
  const DUI_MSGMAP* GetMessageMap() const override;

 private:
  enum class StatusPath { kCable1k, k4k, k8k, kBle };

  // Controls (page_controls.cpp).
  struct Controls;
  void LookUpControls();
  void FillProfileList();
  void RestartDelayedApply(UINT ms);
  void OnSectionToggle(size_t index);
  void CommitDpiEdit(int stage);
  void PickColor(CControlUI* button, const std::function<COLORREF&(ProfileRecord&)>& field);
  void SwitchProfile(int index);
  void RefreshValueLabels(const ProfileRecord& r);

  // Worker (apply_sequence.cpp).
  static DWORD ApplyThreadProc(CMS_1_Page* page);
  void ApplySequence();

  // Device status (device_status.cpp).
  void OnArrival(Transport t);
  void FinishArrival(Transport t);  // after the settling wait
  void OnRemoval(Transport t);
  void OnStatus(StatusPath path, const StatusReport& report);
  void OnPowerStatus(StatusPath path, uint8_t v, uint8_t w);
  void OnWatchdog(Transport receiver);
  void ShowBatteryLevel(int percent);
  void MarkAnswering(Transport receiver);
  void ClearAnswering(Transport receiver);
  bool AnotherTransportPresent(Transport except) const;
  // The Bluetooth connection and disconnection paths.
  void OnBleConnection();
  void OnBleDisconnection();
  // The mouse changed a setting itself: keep it in the working record and the last-applied
  // copy (so it is not written back) and save the store.
  void KeepMouseChange(const std::function<void(ProfileRecord&)>& change);

  void OpenTransport(size_t build_index);
  void Post(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  void Show(std::string_view control, bool visible);
  ProfileRecord* WorkingRecordLocked();

  ProfileStore& profiles_;
  MacroStore& macros_;
  HWND main_window_ = nullptr;
  PageView* view_ = nullptr;
  CPaintManagerUI* pm_ = nullptr;
  std::unique_ptr<PaintManagerView> pm_view_;
  std::unique_ptr<Controls> controls_;
  HookFunctionTable* hooks_ = nullptr;
  int32_t list_guard_ = 1;
  std::unique_ptr<BleTransport> ble_;
  std::function<bool()> ble_present_;

  // Guarded by the store's lock: the selection, the last-applied copy and the groups that did
  // not reach the mouse on the last apply.
  int working_index_ = -1;
  std::unique_ptr<ProfileRecord> last_applied_;
  ChangeGroups undelivered_;

  std::atomic<int32_t> full_write_pending_{0};
  TransportFlags flags_;
  std::atomic<int32_t> ack_{0};
  int charge_animation_ = 0;
  std::array<bool, 4> arrival_pending_{};  // settling wait running, by build index

  std::array<BoundBuild, 4> builds_{};  // cable, 1K, 4K, 8K
  std::unique_ptr<FrameCarriage> carriage_;
  HANDLE apply_thread_ = nullptr;
  DWORD apply_thread_id_ = 0;
};

}  // namespace brevak
