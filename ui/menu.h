#pragma once
// Pop-up menus and the tray icon. A chosen menu item is posted to the owner window as 1027
// with a MenuCmd (free it with CPaintManagerUI::DeletePtr); the tray icon posts its message
// with the mouse message in lParam.

#include <QPointer>
#include <memory>
#include <optional>
#include <vector>

#include "platform/winapi.h"
#include "ui/dui_string.h"

class QMenu;
class QIcon;
class QSystemTrayIcon;

namespace brevak {

class CPaintManagerUI;

constexpr UINT WM_MENUCLICK = 1027;
constexpr UINT UIMSG_TRAYICON = 1025;
// The mouse messages a tray click reports in lParam.
constexpr LPARAM WM_LBUTTONUP_TRAY = 0x0202;
constexpr LPARAM WM_RBUTTONUP_TRAY = 0x0205;

struct MenuCmd {
  CDuiString szName;
  CDuiString szUserData;
  CDuiString szText;
};

class CMenuElementUI;
struct LayoutNode;

class CMenuWnd {
 public:
  CMenuWnd();
  ~CMenuWnd();
  CMenuWnd(const CMenuWnd&) = delete;
  CMenuWnd& operator=(const CMenuWnd&) = delete;
  // Builds the menu of layout `xml` and opens it at `point` (screen) for the owner window of
  // `owner`. False when the layout cannot be read.
  bool Init(CMenuElementUI* parent, const CDuiString& xml, POINT point, CPaintManagerUI* owner,
            void* checks = nullptr, DWORD flags = 0);
  QMenu* GetMenuUI() const;
  // Keeps the menu inside the screen that holds its point.
  void ResizeMenu();
  void Close();

 private:
  static void AddItems(QMenu* menu, const std::vector<LayoutNode>& nodes, HWND target);

  QPointer<QMenu> menu_;
  POINT point_{};
};

class CTrayIcon {
 public:
  CTrayIcon();
  ~CTrayIcon();
  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;
  // False when the desktop has no tray; the window must then stay reachable without one.
  static bool IsTrayAvailable();
  // Tests stand in for a desktop with or without a tray (nullopt: ask the desktop).
  static void SetTrayAvailableForTesting(std::optional<bool> available);
  // `icon` is a file in the resource folder.
  bool CreateTrayIcon(HWND receiver, const CDuiString& icon, const CDuiString& tooltip,
                      UINT message = UIMSG_TRAYICON);
  void DeleteTrayIcon();
  bool IsCreated() const { return icon_ != nullptr; }
  // Change a created icon; nothing without one.
  void SetIcon(const QIcon& icon);
  void SetToolTip(const CDuiString& tooltip);
  CDuiString ToolTip() const;

 private:
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace brevak
