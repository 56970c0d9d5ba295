#include "app/main_wnd.h"

#include <QCursor>
#include <QIcon>
#include <QEvent>
#include <QMenu>
#include <QWidget>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "app/autostart.h"
#include "page/page_messages.h"
#include "platform/format.h"
#include "platform/system.h"
#include "platform/text.h"
#include "protocol/ble_transport.h"
#include "ui/svg_image.h"

namespace brevak {

namespace {
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr UINT kMsgConsumed1 = 1292, kMsgConsumed2 = 5121;
constexpr char kIconFile[] = "skin/brevak.svg";
// Pages of "device_tab_switch".
constexpr int kMousePage = 0, kNoDevicePage = 1;

// Tells the window each time its native window is exposed on screen or stops being so
// (hidden, minimised).
class ExposeWatcher : public QObject {
 public:
  ExposeWatcher(QWindow* w, std::function<void(bool)> on_expose)
      : QObject(w), window_(w), on_expose_(std::move(on_expose)) {
    w->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Expose) on_expose_(window_->isExposed());
    return false;
  }

 private:
  QWindow* window_;
  std::function<void(bool)> on_expose_;
};
}  // namespace

CMainWnd::CMainWnd(ProfileStore& profiles, MacroStore& macros) : profiles_(profiles), page_(profiles, macros) {}

CMainWnd::~CMainWnd() {
  page_.device().monitor.SetPowerListener(nullptr);
  RemoveVirtualWnd("MS_1_Page");
  CloseDpiIndicator();
  // Worker joined, then connections and builds released.
  page_.ShutDown();
  {
    auto lock = profiles_.Lock();
    profiles_.SavePendingListChanges();
  }
  tray_menu_.reset();
  tray_.DeleteTrayIcon();
}

void CMainWnd::InitWindow() {
  AddVirtualWnd("MS_1_Page", &page_);
  page_.SetMainWindow(GetHWND());
  page_.SetPaintManager(&m_pm);
  page_.SetHookTable(&hook_.functions);
  page_.SetBleTransport(std::make_unique<BleTransport>(GetHWND(), kMsgBleDevice, kMsgBleValue));
  page_.BindControls();
  icon_ = SkinIcon(CPaintManagerUI::ResourceFile(kIconFile).q());
  GetWidget()->setWindowIcon(icon_);
  // The program loads the language before it builds the window, so every control takes its text
  // once; a window made without it (tests) loads it here.
  if (!GetLanguageTable()) CResourceManager::GetInstance()->LoadLanguage("lan.xml");
  tab_ = m_pm.FindControl("device_tab_switch");
  ShowAutostartState();
  GetWidget()->setWindowTitle(CDuiString(LanguageText(u"mouse_name_text")).q());
  hook_ = LoadHookLibrary(ProgramFolder() + u"/");
  page_.device().monitor.SetPowerListener([this](const PowerState& power) { OnPowerChanged(power); });
  page_.StartUp();
  WatchActiveWindow();
  // USB arrivals reach the page through the driver builds' own monitors; there is no separate
  // device-interface notification to register on this system.
  GetWidget()->winId();  // the native window exists from here, so its exposure can be watched
  new ExposeWatcher(GetWidget()->windowHandle(), [this](bool exposed) {
    if (exposed) {
      exposed_once_ = true;
      ReportFirstShown();
      // After this exposure has been painted: the filter runs before Qt paints the window.
      QTimer::singleShot(0, GetWidget(), [this] { EnsureTray(); });
    }
    page_.device().monitor.SetDisplayShown(exposed);
  });
}

void CMainWnd::WatchActiveWindow() {
  windows_ = std::make_unique<ActiveWindowWatcher>([this](const ActiveWindow& w) { page_.WindowActivated(w); });
  // Asked when the bindings are shown: a window manager may have come up after the program.
  auto note = [this]() -> std::u16string {
    switch (windows_ ? windows_->sight() : ActiveWindowWatcher::Sight::kNone) {
      case ActiveWindowWatcher::Sight::kAll: return {};
      case ActiveWindowWatcher::Sight::kX11Only: return LanguageText(u"sight_x11_only_text");
      case ActiveWindowWatcher::Sight::kNoWindowManager: return LanguageText(u"sight_no_wm_text");
      case ActiveWindowWatcher::Sight::kNone: return LanguageText(u"sight_no_x_text");
    }
    return {};
  };
  page_.SetWindowSight(note, [this] { return windows_ ? windows_->OpenClasses() : std::vector<std::string>(); });
}

void CMainWnd::ReportFirstShown() {
  if (!on_first_shown) return;
  auto report = std::move(on_first_shown);
  on_first_shown = nullptr;
  report();
}

void CMainWnd::Notify(TNotifyUI& msg) {
  if (!msg.sVirtualWnd.IsEmpty()) {
    WindowImplBase::Notify(msg);
    return;
  }
  if (msg.sType.str() == u"click") OnClick(msg);
  if (msg.sType.str() == u"checkclick" && msg.pSender->GetName().str() == u"autostart_check") {
    SetStartWithDesktop(msg.wParam != 0);
  }
}

void CMainWnd::EnsureTray() {
  if (tray_asked_) return;
  tray_asked_ = true;
  CreateTray();
}

void CMainWnd::CreateTray() {
  tray_.CreateTrayIcon(GetHWND(), kIconFile, LanguageText(u"mouse_name_text"), UIMSG_TRAYICON);
  tray_tip_.clear();
  tray_look_.reset();
  if (power_known_) ShowBatteryInTray();
}

void CMainWnd::OnPowerChanged(const PowerState& power) {
  power_ = power;
  power_known_ = true;
  ShowBatteryInTray();
  const std::optional<int> due = battery_alarm_.Take(power);
  if (!due) return;
  const bool critical = *due <= kCriticalBatteryPercent;
  notifier_.Notify(LanguageText(critical ? u"battery_critical_title_text" : u"battery_low_title_text"),
                   Format(LanguageText(critical ? u"battery_critical_body_text" : u"battery_low_body_text"),
                          power.percent),
                   critical ? DesktopNotifier::Urgency::kCritical : DesktopNotifier::Urgency::kNormal);
}

void CMainWnd::ShowBatteryInTray() {
  // Only what changed: a tray icon set again is sent to the desktop again.
  std::u16string tip = TrayToolTip(power_);
  if (tip != tray_tip_) {
    tray_.SetToolTip(tip);
    tray_tip_ = std::move(tip);
  }
  const TrayBatteryLook look = TrayLookOf(power_);
  if (tray_look_ != look) {
    tray_.SetIcon(TrayIconWithBattery(icon_, look));
    tray_look_ = look;
  }
}

void CMainWnd::ShowAutostartState() {
  if (auto* check = dynamic_cast<CCheckBoxUI*>(m_pm.FindControl("autostart_check"))) check->SetCheck(AutostartEnabled());
}

void CMainWnd::SetStartWithDesktop(bool on) {
  std::string error;
  if (!SetAutostart(on, &error)) {
    CMsgWnd::ShowText(OnScreen() ? GetHWND() : nullptr, "warning_title_text",
                      Format(LanguageText(u"autostart_failed_text"), Utf8ToUtf16(error)));
  }
  ShowAutostartState();
}

void CMainWnd::StartPutAway(int tray_wait_ms) {
  // It may never be exposed, so no exposure would say that it is not seen.
  page_.device().monitor.SetDisplayShown(false);
  if (HasTray()) {
    ShowWindow(false, false);
    return;
  }
  SendMessageW(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  minimise_again_ = true;
  tray_wait_left_ms_ = std::max(tray_wait_ms, int(kTrayWaitPollMs));
  SetTimer(GetHWND(), kTimerTrayWait, kTrayWaitPollMs, nullptr);
}

void CMainWnd::OnTrayWaitTimer() {
  tray_wait_left_ms_ -= int(kTrayWaitPollMs);
  // Some window managers map a window that asks to start minimised as a normal one (openbox
  // does): once it is managed it is minimised again, unless the user brought it forward.
  if (minimise_again_) {
    minimise_again_ = false;
    if (IsVisible() && !IsMinimized()) SendMessageW(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  }
  if (CTrayIcon::IsTrayAvailable()) {
    KillTimer(GetHWND(), kTimerTrayWait);
    tray_asked_ = true;
    if (!tray_.IsCreated()) CreateTray();
    // Opened by the user meanwhile: left where it is.
    if (HasTray() && IsMinimized()) ShowWindow(false, false);
  } else if (tray_wait_left_ms_ <= 0) {
    KillTimer(GetHWND(), kTimerTrayWait);
  }
}

void CMainWnd::OnClick(TNotifyUI& msg) {
  const std::u16string& name = msg.pSender->GetName().str();
  if (name == u"min_btn") {
    SendMessageW(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == u"exit_btn") {
    CloseByUser();
  } else if (name == u"no_device_btn") {
    ShowNoDeviceWarning();
  }
}

bool CMainWnd::HasTray() {
  EnsureTray();
  return CTrayIcon::IsTrayAvailable() && tray_.IsCreated();
}

bool CMainWnd::OnScreen() const { return IsVisible() && !IsMinimized(); }

void CMainWnd::PutAway() {
  if (HasTray()) ShowWindow(false, true);
  // Not yet on screen (a start with no mouse): a window manager may map it as a normal window
  // all the same, so it is minimised again once managed, as a start with the desktop is.
  else if (!exposed_once_) StartPutAway(0);
  else SendMessageW(WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void CMainWnd::CloseByUser() {
  // With a tray the program keeps running there and the tray menu's "exit" ends it; without
  // one, closing is the only way the user has to end it.
  if (HasTray()) ShowWindow(false, true);
  else ::DestroyWindow(GetHWND());
}

LRESULT CMainWnd::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  bHandled = TRUE;
  switch (msg) {
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_CLOSE: CloseByUser(); return 0;  // the desktop's close (Alt+F4), as the close button
    case WM_TIMER:
      bHandled = FALSE;  // timers are not reported as handled
      if (wParam == kTimerDpiIndicator) {
        KillTimer(GetHWND(), kTimerDpiIndicator);
        CloseDpiIndicator();
      } else if (wParam == kTimerTrayWait) {
        OnTrayWaitTimer();
      } else if (wParam >= kTimerWatchdog1k && wParam <= kTimerArrival8k) {
        page_.OnDeviceTimer(wParam);
      }
      return 0;
    case WM_DEVICECHANGE: return 0;
    case UIMSG_TRAYICON: OnTrayIcon(lParam); return 0;
    case WM_MENUCLICK: OnMenuChoice(reinterpret_cast<MenuCmd*>(wParam)); return 0;
    case 1034:
    case kMsgConsumed1:
    case kMsgConsumed2: return 0;
    case kMsgBringToFront: BringToFront(); return 0;
    case kMsgConnectionChanged: OnConnectionChanged(); return 0;
    case kMsgShowDpi: ShowDpiIndicator(wParam, lParam); return 0;
    default:
      if (msg >= kMsgInput1k && msg <= kMsgPageLast) {
        page_.OnDeviceMessage(msg, wParam, lParam);
        return 0;
      }
      bHandled = FALSE;
      return 0;
  }
}

void CMainWnd::OnConnectionChanged() {
  connected_ = page_.any_connected();
  if (auto* tab = dynamic_cast<CTabLayoutUI*>(tab_)) tab->SelectItem(connected_ ? kMousePage : kNoDevicePage);
  if (!connected_) PutAway();
}

void CMainWnd::BringToFront() {
  minimise_again_ = false;
  ShowAutostartState();
  if (!connected_) {
    ShowNoDeviceWarning();
    return;
  }
  CWindowWnd::BringToFront();
}

void CMainWnd::ShowNoDeviceWarning() {
  if (warning_open_) return;
  warning_open_ = true;
  CMsgWnd::Show(OnScreen() ? GetHWND() : nullptr, "warning_title_text",
                page_.bluetooth_reachable() ? "no_device_text" : "no_device_no_ble_text");
  warning_open_ = false;
}

void CMainWnd::OnTrayIcon(LPARAM mouse_message) {
  if (mouse_message == WM_LBUTTONUP_TRAY) {
    BringToFront();
  } else if (mouse_message == WM_RBUTTONUP_TRAY) {
    tray_menu_ = std::make_unique<CMenuWnd>();
    QPoint cursor = QCursor::pos();
    tray_menu_->Init(nullptr, "traymenu.xml", POINT{cursor.x(), cursor.y() - 50}, &m_pm, nullptr, 6);
    if (QMenu* menu = tray_menu_->GetMenuUI()) {
      if (auto* item = menu->findChild<QAction*>(QStringLiteral("autostart"))) {
        item->setCheckable(true);
        item->setChecked(AutostartEnabled());
      }
    }
    tray_menu_->ResizeMenu();
  }
}

void CMainWnd::OnMenuChoice(MenuCmd* cmd) {
  if (!cmd) return;
  const CDuiString name = cmd->szName;
  CPaintManagerUI::DeletePtr(cmd);
  if (name.CompareNoCase(u"configuration") == 0) {
    BringToFront();
  } else if (name.CompareNoCase(u"autostart") == 0) {
    SetStartWithDesktop(!AutostartEnabled());
  } else if (name.CompareNoCase(u"exit") == 0) {
    ::DestroyWindow(GetHWND());
  } else if (name.str().compare(0, 4, u"ms_1") == 0) {
    page_.ApplyMenuChoice(name.str());  // a button's function menu
  }
}

void CMainWnd::ShowDpiIndicator(WPARAM form, LPARAM value) {
  std::u16string text = DpiIndicatorText(form, value);
  KillTimer(GetHWND(), kTimerDpiIndicator);
  SetTimer(GetHWND(), kTimerDpiIndicator, kDpiIndicatorMs, nullptr);
  if (CDPIMsg* open = dpi_indicator()) {
    open->SetText(std::move(text));
    return;
  }
  auto* indicator = new CDPIMsg(std::move(text));
  indicator->SetSelfDelete(true);
  // Seen while playing: a window of its own, not the main window's, so that minimising or
  // hiding the main window leaves it up, and one the window manager leaves alone, so that it
  // stays above a full-screen game.
  dpi_ = indicator->Create(nullptr, "DPIWnd", WS_POPUP | WS_VISIBLE,
                           WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE);
}

void CMainWnd::CloseDpiIndicator() {
  HWND h = dpi_;
  dpi_ = nullptr;
  // Gone at once (it deletes itself when its window ends); a stale handle is refused.
  if (h) ::DestroyWindow(h);
}

LRESULT CMainWnd::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  // The widgets go with the window; their last focus changes must not reach the page.
  RemoveVirtualWnd("MS_1_Page");
  CloseDpiIndicator();
  // No switch once the window goes: the end may still wait for a write to finish.
  windows_.reset();
  // The power listener too.
  page_.device().monitor.SetPowerListener(nullptr);
  tray_menu_.reset();
  tray_.DeleteTrayIcon();
  KillTimer(GetHWND(), kTimerDpiIndicator);
  KillTimer(GetHWND(), kTimerTrayWait);
  if (hook_.functions.removemousehook) hook_.functions.removemousehook();
  if (hook_.functions.removehook) hook_.functions.removehook();
  if (hook_.module) FreeLibrary(hook_.module);
  hook_ = HookLibrary{};
  return 0;
}

}  // namespace brevak
