#pragma once
// Top-level windows. A window is a Qt widget and a platform window handle at once: the handle
// receives the numbered messages (posted from any thread, handled on the UI thread) and the
// timers; the widget shows the controls its layout file describes.

#include <QPointer>

#include "platform/winapi.h"
#include "ui/paint_manager.h"

class QEventLoop;
class QWidget;

namespace brevak {

constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
// Takes no focus and is left to itself by the window manager (an override-redirect window on X):
// nothing iconifies or covers it with its owner, a full-screen window included.
constexpr DWORD WS_EX_NOACTIVATE = 0x08000000;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr WPARAM SC_MINIMIZE = 0xF020;
constexpr WPARAM SC_RESTORE = 0xF120;
constexpr UINT IDOK = 1;
constexpr UINT IDCANCEL = 2;

class CHostWidget;

class CWindowWnd {
 public:
  CWindowWnd();
  virtual ~CWindowWnd();
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  HWND GetHWND() const { return hwnd_; }
  operator HWND() const { return hwnd_; }
  QWidget* GetWidget() const;
  // The window of `hwnd` when it is one of ours on this thread.
  static CWindowWnd* FromHandle(HWND hwnd);

  // Makes the window (owned by `parent` when given) and shows it when `style` has WS_VISIBLE.
  HWND Create(HWND parent, const CDuiString& name, DWORD style, DWORD exStyle, int x = 0, int y = 0,
              int cx = 0, int cy = 0);
  // Shows the window modally; returns the value given to Close (0 when it went another way).
  UINT ShowModal();
  // Ends the window (and a modal run) with `ret`, once the messages before it are handled.
  void Close(UINT ret = IDOK);
  void ShowWindow(bool show = true, bool takeFocus = true);
  void CenterWindow();
  void MoveWindow(int x, int y, int cx, int cy);
  void ResizeClient(int cx, int cy);
  bool IsMinimized() const;
  bool IsVisible() const;
  void BringToFront();
  LRESULT SendMessageW(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessageW(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

 protected:
  virtual const char16_t* GetWindowClassName() const = 0;
  virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // After the window is gone; the object may delete itself here.
  virtual void OnFinalMessage(HWND hwnd);
  // The layout is built and the window exists (called inside Create).
  virtual void OnCreated() {}
  // Escape was pressed in the window while it runs modally; true when it was acted on.
  virtual bool OnEscape() { return false; }
  // Caption band (drag area) of the frameless window.
  void SetCaptionRect(const RECT& rc) { caption_ = rc; }

 private:
  friend class CHostWidget;
  void FinishDestroy();

  HWND hwnd_ = nullptr;
  QPointer<QWidget> widget_;
  QEventLoop* modal_loop_ = nullptr;
  UINT modal_result_ = 0;
  bool closing_ = false;
  RECT caption_{};
};

// A window built from a layout file, whose notifications go to its Notify (virtual windows
// first) and whose "click"s reach OnClick.
class WindowImplBase : public CWindowWnd, public CNotifyPump, public INotifyUI {
 public:
  WindowImplBase() = default;
  CPaintManagerUI& GetPaintManager() { return m_pm; }
  void Notify(TNotifyUI& msg) override;
  // A dialog's whole run: made over `owner` as a tool window named `name`, centred and shown
  // modally; the value given to Close. 0, without showing anything, when the layout cannot be
  // built: a dialog without buttons would trap the user.
  UINT RunModal(HWND owner, const CDuiString& name);

 protected:
  virtual CDuiString GetSkinFile() = 0;
  virtual void InitWindow() {}
  virtual void OnClick(TNotifyUI& msg);
  virtual LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnCreated() override;
  // Clicks the window's Cancel button, or its close button when it has no Cancel.
  bool OnEscape() override;

  CPaintManagerUI m_pm;
};

}  // namespace brevak
