#pragma once
// The mouse page: the controller of the main window's configuration page. It binds the page's
// controls to the working record (the settings panels, the profile list, the button captions)
// and turns the user's edits into apply requests. Its device half is apart: the
// ConnectionMonitor follows the connections and what the mouse reports, the ApplyWorker writes
// to the mouse; the page owns both and hands them the window's messages and timers. Everything
// here runs on the window thread.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "model/profile_record.h"
#include "page/button_rules.h"
#include "page/device_half.h"
#include "page/page_dialogs.h"
#include "page/page_view.h"
#include "page/profile_follower.h"
#include "platform/winapi.h"
#include "protocol/ble_transport.h"
#include "store/bindings_store.h"
#include "store/macro_store.h"
#include "store/profile_store.h"
#include "store/store_events.h"
#include "ui/duilib.h"

namespace brevak {

struct HookFunctionTable;
class PaintManagerView;

// What the user is told of a store event: a repair, a file moved aside, a failed save.
std::u16string StoreEventText(const StoreEvent& e);

// The caption of a button: its function's text, a shortcut as "Ctrl+Shift+S" (the key named by
// `key_text`), or "Macro: " and the macro's name, marked when page button `button` (0..17) may
// not send it.
std::u16string ButtonCaption(const ButtonEntry& b, const std::function<std::u16string(uint8_t)>& key_text,
                             int button = -1);
// Shows `caption` on a button's control; an empty one as a dim hint.
void ShowButtonCaption(CControlUI* key, const std::u16string& caption);

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
  void SetHookTable(HookFunctionTable* hooks) { hooks_ = hooks; }
  // Where the page asks the user (the program's modal dialogs unless replaced, as tests do).
  void SetDialogs(PageDialogs* dialogs) { dialogs_ = dialogs; }
  // The Bluetooth link, created with the main window and kMsgBleDevice/kMsgBleValue.
  void SetBleTransport(std::unique_ptr<BleTransport> ble) { device_.monitor.SetBleTransport(std::move(ble)); }
  // The Bluetooth HID presence check (hidapi's enumeration unless a test replaces it).
  void SetBlePresenceCheck(std::function<bool()> check) { device_.monitor.SetBlePresenceCheck(std::move(check)); }

  // Finds the page's controls, starts the apply worker, then binds the four driver builds,
  // opens every connection, checks for the Bluetooth mouse and posts 1290.
  void BindControls();
  // Loads the stores, fills the profile list, makes the selected profile the working record and
  // shows it; the next apply writes it whole.
  void StartUp();
  // Every value of the working record into the controls, without notifications.
  void RefreshControls();
  // The working record was changed from outside the page (a command-line client): shown, with
  // the profile list filled again when `list` (a profile added or selected).
  void ShowWorkingRecord(bool list);
  // Opens every settings section, as clicking each closed header would.
  void OpenAllSections();

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
  // Stops the worker (WM_QUIT, then waits for it), then releases the connections.
  void ShutDown() { device_.ShutDown(); }

  // Messages 1553..kMsgPageLast and timers 528..539 of the main window, on the window thread.
  void OnDeviceMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnDeviceTimer(UINT_PTR id);
  // Asks for an apply: posts 1561 to the main window.
  void RequestApply();

  // Buttons 1..12 have a function menu; the main window hands the chosen "ms_1..." item here,
  // for the button whose menu was opened last.
  void ApplyMenuChoice(std::u16string_view item);
  // The caption of button `index` (0..17) from the working record.
  void RefreshButtonLabel(int index);
  // How a shortcut's key is named in captions (the key tables; tests may replace it).
  void SetKeyText(std::function<std::u16string(uint8_t usage)> key_text) { key_text_ = std::move(key_text); }

  // Edits of the working record from the window thread go through here, under the store's
  // lock, so the worker always sends a record that is not half-written. False (and `edit` not
  // called) before StartUp.
  bool EditWorkingRecord(const std::function<void(ProfileRecord&)>& edit) {
    if (!device_.working.Edit(edit)) return false;
    ConfirmWorkingProfile();
    return true;
  }
  std::optional<ProfileRecord> WorkingRecordCopy() { return device_.working.Copy(); }
  // Makes `index` the selected profile and the working record; the next apply writes all.
  void SelectProfile(int index);

  // Whether some connection to the mouse is present (the main window shows the page or waits).
  bool any_connected() const { return device_.monitor.flags().any_connected != 0; }
  // False when the system bus or BlueZ cannot be reached, so a Bluetooth mouse cannot be found.
  bool bluetooth_reachable() {
    BleTransport* ble = device_.monitor.ble();
    return !ble || ble->bluez_reachable();
  }
  DeviceHalf& device() { return device_; }

  // A profile per program. The desktop's active window changed (the main window watches it).
  void WindowActivated(const ActiveWindow& w);
  // The bindings changed elsewhere (brevak-ctl): the active window is weighed again.
  void BindingsChanged();
  // What the window can see of the desktop's windows, told in the bindings dialog (empty: all),
  // and the classes of the programs whose windows are open now.
  void SetWindowSight(std::function<std::u16string()> note, std::function<std::vector<std::string>()> open_classes) {
    sight_note_ = std::move(note);
    open_classes_ = std::move(open_classes);
  }
  BindingStore& bindings() { return bindings_; }

 protected:
  const DUI_MSGMAP* GetMessageMap() const override;

 private:
  // Controls (page_controls.cpp).
  struct Controls;
  void LookUpControls();
  void FillProfileList();
  void UpdateLightingPanels();
  void RestartDelayedApply(UINT ms);
  void OnSectionToggle(size_t index);
  void CommitDpiEdit(int stage);
  void PickColor(CControlUI* button, const std::function<COLORREF&(ProfileRecord&)>& field);
  void SwitchProfile(int index);
  void RefreshValueLabels(const ProfileRecord& r);
  void OpenMouseSettings();
  // The stores' events: taken after anything that may have loaded or saved, told the user once
  // each, from a message of their own (never inside another modal run).
  void CollectStoreEvents();
  // Saves the profile store now, ahead of the write an operation asks for.
  void SaveBeforeTheWrite();
  void TellStoreEvents();
  // A write ended with something the mouse did not take (its 1K tries spent, an unplug).
  void NoteUndelivered(const ApplyReport& end);
  // A write left out settings whose values the mouse does not take: the user is told which.
  void NoteRefused(const ApplyReport& end);
  // The user edited or applied the working profile: a mark from a repaired store goes.
  void ConfirmWorkingProfile();
  // The profile list's text for `r`: its name, marked while it is unconfirmed. Under the lock.
  std::u16string ProfileListText(const ProfileRecord& r) const;

  // Something to tell the user from a message of its own, with the store events.
  void Tell(std::u16string text);

  // Button assignment (button_assignment.cpp).
  void OpenFunctionMenu(int button);
  // The macro editor, then the buttons' macro copies re-linked (macro_link.cpp).
  void EditMacros();
  // Macros that buttons hold and the library lacks put back into it (at start-up and after the
  // editor, except the names the user deleted or renamed there); the user is told. The store's
  // lock is held by the caller; the library is saved here.
  void PutBackButtonMacros(const std::vector<std::u16string>& gone = {});
  // The buttons of `record` that hold a macro they may not send, each told once (the store's
  // lock is held by the caller), and what was noted told.
  void NoteWithheldMacros(const ProfileRecord& record);
  void TellWithheldMacros();

  // The profile list's operations (profile_list.cpp).
  bool OnProfileButton(CControlUI* sender);
  void AddListItem(const std::u16string& name);
  std::vector<std::u16string> ProfileNames();
  void ShowSelectedProfile(int index);
  void AddProfile();
  void DeleteProfile();
  void RenameProfile();
  void ResetProfile();
  void ExportSelectedProfile();
  void ImportProfileFile();
  // The programs bound to profiles: shown, added and removed (profile_list.cpp).
  void EditBindings();
  // The follower's view of the program.
  class Follower;
  friend class Follower;
  bool SwitchByName(const std::u16string& name);
  PageDialogs& dialogs() { return dialogs_ ? *dialogs_ : modal_dialogs_; }

  void Show(std::string_view control, bool visible);

  ProfileStore& profiles_;
  MacroStore& macros_;
  HWND main_window_ = nullptr;
  PageView* view_ = nullptr;
  CPaintManagerUI* pm_ = nullptr;
  std::unique_ptr<PaintManagerView> pm_view_;
  std::unique_ptr<Controls> controls_;
  HookFunctionTable* hooks_ = nullptr;
  ModalPageDialogs modal_dialogs_;
  PageDialogs* dialogs_ = nullptr;
  int32_t list_guard_ = 1;
  int menu_button_ = -1;  // the button whose function menu was opened last
  std::unique_ptr<CMenuWnd> function_menu_;
  std::function<std::u16string(uint8_t)> key_text_;
  std::vector<StoreEvent> store_events_;
  std::vector<std::u16string> notices_;
  std::vector<std::u16string> withheld_lines_;
  std::set<std::u16string> withheld_told_;
  bool store_events_posted_ = false;
  // The mouse did not take a write: the user is told once, until a write arrives whole.
  bool undelivered_told_ = false;
  // The record whose refused values were told last (compared, never read).
  const ProfileRecord* refused_told_for_ = nullptr;

  DeviceHalf device_;
  BindingStore bindings_;
  std::function<std::u16string()> sight_note_;
  std::function<std::vector<std::string>()> open_classes_;
  std::unique_ptr<Follower> follower_host_;
  std::unique_ptr<ProfileFollower> follower_;
};

}  // namespace brevak
