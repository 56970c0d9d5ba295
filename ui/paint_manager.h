#pragma once
// The paint manager: one per window. It holds the window's control tree, finds controls by
// name, hands notifications to the window's notifiers, runs per-control timers on the process
// clock and keeps the groups of option buttons. Its static part is the application: start,
// resource folder, message loop.

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "platform/winapi.h"
#include "ui/control.h"
#include "ui/dui_string.h"

class QButtonGroup;
class QWidget;

namespace brevak {

struct TNotifyUI {
  CDuiString sType;
  CDuiString sVirtualWnd;
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;
  POINT ptMouse{};
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

class INotifyUI {
 public:
  virtual ~INotifyUI() = default;
  virtual void Notify(TNotifyUI& msg) = 0;
};

class CNotifyPump;
using DUI_PMSG = void (CNotifyPump::*)(TNotifyUI&);
struct DUI_MSGMAP_ENTRY {
  const char* sMsgType;  // notification type
  const char* sCtrlName; // "" for any control
  DUI_PMSG pfn;
};
struct DUI_MSGMAP {
  const DUI_MSGMAP* pBaseMap;
  std::span<const DUI_MSGMAP_ENTRY> entries;
};
// A handler of a derived pump as a map entry's member.
template <class T>
DUI_PMSG DuiHandler(void (T::*handler)(TNotifyUI&)) {
  return static_cast<DUI_PMSG>(handler);
}

// Dispatches notifications through a message map (type and control name to handler), and to
// virtual windows: pumps attached under a name receive the notifications whose controls carry
// that virtual-window name.
class CNotifyPump {
 public:
  virtual ~CNotifyPump() = default;
  bool AddVirtualWnd(const CDuiString& name, CNotifyPump* pump);
  bool RemoveVirtualWnd(const CDuiString& name);
  // To the virtual window named by msg.sVirtualWnd when there is one, else through this map.
  void NotifyPump(TNotifyUI& msg);
  // Through this pump's map and its base maps; true when a handler ran.
  bool LoopDispatch(TNotifyUI& msg);

 protected:
  virtual const DUI_MSGMAP* GetMessageMap() const { return GetBaseMessageMap(); }
  static const DUI_MSGMAP* GetBaseMessageMap();

 private:
  std::map<std::u16string, CNotifyPump*> virtual_wnds_;
};

class CPaintManagerUI {
 public:
  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  // ---- The application ----
  // Creates the Qt application when there is none yet and lets the platform's message queue of
  // this thread run inside Qt's loop.
  static void SetInstance(void* instance = nullptr);
  static void* GetInstance();
  static void SetResourceType(int type);  // 1: files; the only kind there is
  static int GetResourceType();
  // The program's folder, with a trailing slash.
  static CDuiString GetInstancePath();
  static void SetResourcePath(const CDuiString& path);
  static CDuiString GetResourcePath();  // with a trailing slash
  // Runs until WM_QUIT is taken from this thread's queue; returns its exit code.
  static int MessageLoop();
  static void Term();
  template <class T>
  static void DeletePtr(T* p) {
    delete p;
  }
  // Full path of a resource file name (absolute names stay as they are).
  static CDuiString ResourceFile(const CDuiString& file);

  // ---- One window ----
  void Init(HWND hwnd, QWidget* host);
  HWND GetPaintWindow() const { return hwnd_; }
  QWidget* GetHostWidget() const { return host_; }
  // Takes the tree and places its root in the window.
  bool AttachDialog(CControlUI* root);
  // Puts the root's widget in the window (once); AttachDialog still takes the tree.
  void PlaceRoot(CControlUI* root);
  CControlUI* GetRoot() const { return root_.get(); }
  CControlUI* FindControl(const CDuiString& name) const;
  CControlUI* FindSubControlByName(CControlUI* parent, const CDuiString& name) const;
  bool AddNotifier(INotifyUI* notifier);
  bool RemoveNotifier(INotifyUI* notifier);
  void SendNotify(CControlUI* control, const char* type, WPARAM wParam = 0, LPARAM lParam = 0);
  // A "timer" notification (wParam = id) from `control` every `elapseMs` until killed.
  bool SetTimer(CControlUI* control, UINT id, UINT elapseMs);
  bool KillTimer(CControlUI* control, UINT id);
  void KillTimer(CControlUI* control);
  // The window passes WM_TIMER here; true when the id was a control timer.
  bool HandleTimer(UINT_PTR id);
  // Re-reads every language text of the tree.
  void ReloadTexts();
  // The exclusive group of options of this name in this window.
  QButtonGroup* GetOptionGroup(const CDuiString& group);
  // A control leaving the tree: its timers go.
  void ControlRemoved(CControlUI* control);

  static constexpr UINT_PTR kControlTimerBase = 0x40000000;

 private:
  struct ControlTimer {
    CControlUI* control;
    UINT id;
  };
  HWND hwnd_ = nullptr;
  QWidget* host_ = nullptr;
  std::unique_ptr<CControlUI> root_;
  // FindControl's index of the tree's names, as of a generation of ControlTreeGeneration.
  mutable std::unordered_map<std::u16string, CControlUI*> names_;
  mutable uint64_t names_generation_ = 0;
  mutable bool names_valid_ = false;
  std::vector<INotifyUI*> notifiers_;
  std::map<UINT_PTR, ControlTimer> timers_;
  UINT_PTR next_timer_ = kControlTimerBase;
  std::map<std::u16string, std::unique_ptr<QButtonGroup>> groups_;
};

}  // namespace brevak
