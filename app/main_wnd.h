#pragma once
// The program's only top-level window: hosts the mouse page, owns the tray icon and its menu,
// binds the Hook library, routes the device messages and timers to the page, shows the
// no-device warning and the DPI indicator, and shuts everything down in order.

#include <QIcon>
#include <memory>
#include <optional>
#include <string>

#include "app/active_window.h"
#include "app/battery_alarm.h"
#include "app/desktop_notify.h"
#include "app/tray_battery.h"
#include "dialogs/small_dialogs.h"
#include "macro/hook_binding.h"
#include "page/ms_1_page.h"
#include "ui/duilib.h"

namespace brevak {

inline constexpr UINT kMsgBringToFront = 1281;
inline constexpr UINT_PTR kTimerDpiIndicator = 52;
inline constexpr UINT kDpiIndicatorMs = 2000;
// A start from the desktop's autostart looks this often for a tray that comes up late.
inline constexpr UINT_PTR kTimerTrayWait = 53;
inline constexpr UINT kTrayWaitPollMs = 500;

class CMainWnd : public WindowImplBase {
 public:
  CMainWnd(ProfileStore& profiles, MacroStore& macros);
  ~CMainWnd() override;

  CMS_1_Page& page() { return page_; }
  bool connected() const { return connected_; }
  bool warning_open() const { return warning_open_; }
  // The open DPI indicator, or null; looked up by handle, since it deletes itself when it ends.
  CDPIMsg* dpi_indicator() const { return dynamic_cast<CDPIMsg*>(CWindowWnd::FromHandle(dpi_)); }
  const HookLibrary& hook() const { return hook_; }
  CTrayIcon& tray() { return tray_; }
  // Makes the tray icon where there is a tray, once: once the window's first exposure has been
  // painted, or sooner for whatever needs it (a start put away, a close). Asking the desktop for its tray takes
  // round trips that the first frame need not wait for.
  void EnsureTray();
  // What the mouse last said of its power, as the tray shows it.
  const PowerState& power() const { return power_; }
  // Called once, when the window is first shown on screen (for the start-up report).
  std::function<void()> on_first_shown;
  // Calls on_first_shown if it has not been called yet; also for a window put away at once.
  void ReportFirstShown();

  // The no-device warning; one at a time. Public for the tray and a second start.
  void ShowNoDeviceWarning();
  void BringToFront();
  // A start with the desktop: put away at once (to the tray, else minimised); without a tray
  // yet, one that appears within `tray_wait_ms` takes the window when it is still minimised.
  void StartPutAway(int tray_wait_ms);
  // "Start with the desktop", from the check item or the tray menu; a failure is said.
  void SetStartWithDesktop(bool on);

 protected:
  const char16_t* GetWindowClassName() const override { return u"BREVAK APEX"; }
  CDuiString GetSkinFile() override { return "main.xml"; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;
  LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;

 private:
  void OnConnectionChanged();
  void OnTrayIcon(LPARAM mouse_message);
  void OnMenuChoice(MenuCmd* cmd);
  void ShowDpiIndicator(WPARAM form, LPARAM value);
  void CloseDpiIndicator();
  // Hides to the tray when there is one; otherwise minimises, so the window stays reachable.
  void PutAway();
  // The close button and the desktop's close request: to the tray where there is one, else the
  // program ends.
  void CloseByUser();
  bool HasTray();
  // Whether the window is on screen (neither hidden nor minimised): dialogs are owned by it then,
  // and stand alone otherwise, where the user can see them.
  bool OnScreen() const;
  void CreateTray();
  // The mouse's level, charge or connection changed: the tray follows, and a low battery is
  // announced on the desktop.
  void OnPowerChanged(const PowerState& power);
  void ShowBatteryInTray();
  void OnTrayWaitTimer();
  // The check item shows whether the entry is there (brevak-ctl may have changed it).
  void ShowAutostartState();
  // Follows the desktop's active window and tells the page what it can see.
  void WatchActiveWindow();

  ProfileStore& profiles_;
  CMS_1_Page page_;
  CTrayIcon tray_;
  std::unique_ptr<CMenuWnd> tray_menu_;
  // The desktop's active window, for a profile per program.
  std::unique_ptr<ActiveWindowWatcher> windows_;
  HWND dpi_ = nullptr;
  QIcon icon_;  // the program's icon, read once: the window's, and the tray's under its gauge
  PowerState power_;
  bool power_known_ = false;  // told at least once; until then the tray shows the plain icon
  std::u16string tray_tip_;
  std::optional<TrayBatteryLook> tray_look_;
  BatteryAlarm battery_alarm_;
  DesktopNotifier notifier_;
  HookLibrary hook_;
  bool connected_ = false;
  bool warning_open_ = false;
  CControlUI* tab_ = nullptr;
  int tray_wait_left_ms_ = 0;
  bool tray_asked_ = false;  // EnsureTray has run
  bool minimise_again_ = false;  // a start put away without a tray, not yet seen minimised
  bool exposed_once_ = false;    // the window has been on screen
};

}  // namespace brevak
