#include "ui/window.h"

#include <QAbstractButton>
#include <QKeyEvent>

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <map>

#include "platform/loop.h"
#include "ui/builder.h"
#include "ui/resource_manager.h"

namespace brevak {

namespace {
std::map<HWND, CWindowWnd*>& Registry() {
  static std::map<HWND, CWindowWnd*> windows;  // UI thread only
  return windows;
}
}  // namespace

// The frameless top-level widget of a window: dragging by the caption band, and the window
// manager's close request turned into Close.
class CHostWidget : public QWidget {
 public:
  CHostWidget(CWindowWnd* owner, QWidget* parent, Qt::WindowFlags flags)
      : QWidget(parent, flags), owner_(owner) {
    setAttribute(Qt::WA_StyledBackground);
    setProperty("ui", QStringLiteral("Window"));
  }
  void Detach() { owner_ = nullptr; }

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (owner_ && e->button() == Qt::LeftButton) {
      const RECT& c = owner_->caption_;
      QPoint p = e->position().toPoint();
      bool in_caption = p.y() >= c.top && p.y() < c.bottom && p.x() >= c.left &&
                        p.x() < width() - c.right;
      if (in_caption && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
      }
    }
    QWidget::mousePressEvent(e);
  }
  // Escape in a modal window does what its Cancel or close button does. Keys a control takes
  // for itself (a key-capture field, an open list) never arrive here.
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && owner_ && owner_->modal_loop_ &&
        owner_->OnEscape()) {
      e->accept();
      return;
    }
    QWidget::keyPressEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    e->ignore();  // the window decides, through its messages: WM_CLOSE, as a modal's cancel
    if (owner_ && owner_->hwnd_ && !owner_->closing_) {
      owner_->modal_result_ = 0;
      ::PostMessageW(owner_->hwnd_, WM_CLOSE, 0, 0);
    }
  }

 private:
  CWindowWnd* owner_;
};

CWindowWnd::CWindowWnd() = default;

CWindowWnd::~CWindowWnd() {
  if (hwnd_) {
    HWND h = hwnd_;
    Registry().erase(h);
    hwnd_ = nullptr;  // the handler ignores what comes now
    ::DestroyWindow(h);
  }
  if (widget_) {
    static_cast<CHostWidget*>(widget_.data())->Detach();
    delete widget_.data();
  }
}

QWidget* CWindowWnd::GetWidget() const { return widget_.data(); }

CWindowWnd* CWindowWnd::FromHandle(HWND hwnd) {
  auto it = Registry().find(hwnd);
  return it == Registry().end() ? nullptr : it->second;
}

HWND CWindowWnd::Create(HWND parent, const CDuiString& name, DWORD style, DWORD exStyle, int x,
                        int y, int cx, int cy) {
  if (hwnd_) return hwnd_;
  CPaintManagerUI::SetInstance(CPaintManagerUI::GetInstance());
  QWidget* owner = nullptr;
  if (CWindowWnd* p = FromHandle(parent)) owner = p->GetWidget();
  Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint;
  if (exStyle & WS_EX_TOOLWINDOW) flags |= Qt::Tool;
  if (exStyle & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
  if (exStyle & WS_EX_NOACTIVATE) flags |= Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus;
  auto* host = new CHostWidget(this, owner, flags);
  widget_ = host;
  host->setWindowTitle(name.q());
  if (exStyle & (WS_EX_TOPMOST | WS_EX_NOACTIVATE)) host->setAttribute(Qt::WA_ShowWithoutActivating);
  hwnd_ = CreateMessageWindow([this](HWND h, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (hwnd_ != h) return 0;  // being torn down by the destructor
    LRESULT r = HandleMessage(msg, wParam, lParam);
    if (msg == WM_DESTROY) FinishDestroy();  // may delete this: nothing after it
    return r;
  });
  Registry()[hwnd_] = this;
  host->setGeometry(x, y, cx > 0 ? cx : 1, cy > 0 ? cy : 1);
  OnCreated();
  if (hwnd_ && (style & WS_VISIBLE)) {
    ShowWindow(true, !(exStyle & (WS_EX_TOPMOST | WS_EX_NOACTIVATE)));
    if (exStyle & WS_EX_TOPMOST) host->raise();
  }
  return hwnd_;
}

void CWindowWnd::FinishDestroy() {
  HWND h = hwnd_;
  Registry().erase(h);
  hwnd_ = nullptr;
  if (widget_) {
    static_cast<CHostWidget*>(widget_.data())->Detach();
    widget_->hide();
    widget_->deleteLater();
  }
  if (modal_loop_) modal_loop_->quit();
  OnFinalMessage(h);
}

void CWindowWnd::OnFinalMessage(HWND) {}

LRESULT CWindowWnd::HandleMessage(UINT msg, WPARAM, LPARAM) {
  if (msg == WM_CLOSE && hwnd_) ::DestroyWindow(hwnd_);
  return 0;
}

UINT CWindowWnd::ShowModal() {
  if (!hwnd_ || !widget_) return 0;
  // Modality only takes when the window is shown again.
  if (widget_->isVisible()) widget_->hide();
  widget_->setWindowModality(Qt::ApplicationModal);
  if (QWindow* w = widget_->windowHandle()) w->setModality(Qt::ApplicationModal);
  ShowWindow(true, true);
  QEventLoop loop;
  modal_loop_ = &loop;
  if (hwnd_) loop.exec();
  modal_loop_ = nullptr;
  return modal_result_;
}

void CWindowWnd::Close(UINT ret) {
  if (!hwnd_ || closing_) return;
  closing_ = true;
  modal_result_ = ret;
  ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
  if (!widget_) return;
  if (!show) {
    widget_->hide();
    return;
  }
  widget_->show();
  if (takeFocus) {
    widget_->raise();
    widget_->activateWindow();
  }
}

void CWindowWnd::CenterWindow() {
  if (!widget_) return;
  QRect area;
  if (QWidget* owner = widget_->parentWidget()) {
    area = owner->window()->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isEmpty()) return;
  QRect r = widget_->geometry();
  r.moveCenter(area.center());
  widget_->move(r.topLeft());
}

void CWindowWnd::MoveWindow(int x, int y, int cx, int cy) {
  if (widget_) widget_->setGeometry(x, y, cx, cy);
}

void CWindowWnd::ResizeClient(int cx, int cy) {
  if (widget_) widget_->resize(cx, cy);
}

bool CWindowWnd::IsMinimized() const { return widget_ && widget_->isMinimized(); }
bool CWindowWnd::IsVisible() const { return widget_ && widget_->isVisible(); }

void CWindowWnd::BringToFront() {
  if (!widget_) return;
  if (widget_->isMinimized()) widget_->showNormal();
  widget_->show();
  widget_->raise();
  widget_->activateWindow();
}

LRESULT CWindowWnd::SendMessageW(UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(hwnd_, msg, wParam, lParam);
}

BOOL CWindowWnd::PostMessageW(UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(hwnd_, msg, wParam, lParam);
}

// ---- WindowImplBase ---------------------------------------------------------------------------

void WindowImplBase::OnCreated() {
  m_pm.Init(GetHWND(), GetWidget());
  CDialogBuilder builder;
  builder.PlaceRootIn(&m_pm);
  CControlUI* root = builder.Create(GetSkinFile(), &m_pm);
  const WindowAttributes& w = builder.window();
  if (!root) DUI__Trace(u"layout " + GetSkinFile().str() + u": " + Utf8ToUtf16(builder.error()));
  if (w.width > 0 && w.height > 0) ResizeClient(w.width, w.height);
  SetCaptionRect(w.caption);
  if (!w.stylesheet.IsEmpty()) {
    QString sheet = LoadStyleSheet(w.stylesheet);
    if (sheet != CResourceManager::GetInstance()->StyleSheet()) GetWidget()->setStyleSheet(sheet);
  }
  if (!w.title_key.IsEmpty()) GetWidget()->setWindowTitle(CDuiString(LanguageText(w.title_key)).q());
  else if (!w.title.IsEmpty()) GetWidget()->setWindowTitle(w.title.q());
  m_pm.AttachDialog(root);
  m_pm.AddNotifier(this);
  InitWindow();
}

void WindowImplBase::Notify(TNotifyUI& msg) {
  if (!msg.sVirtualWnd.IsEmpty()) {
    NotifyPump(msg);
    return;
  }
  if (msg.sType.str() == u"click") OnClick(msg);
}

bool WindowImplBase::OnEscape() {
  // The dialogs' cancel buttons, then the close buttons of windows without one.
  static constexpr const char* kCancelNames[] = {"btn_cancel", "cancel_btn", "btn_exit", "closebtn", "btn_close"};
  for (const char* name : kCancelNames) {
    CControlUI* c = m_pm.FindControl(name);
    auto* button = c ? qobject_cast<QAbstractButton*>(c->GetWidget()) : nullptr;
    if (button && button->isVisibleTo(GetWidget()) && button->isEnabled()) {
      button->click();
      return true;
    }
  }
  return false;
}

UINT WindowImplBase::RunModal(HWND owner, const CDuiString& name) {
  Create(owner, name, WS_POPUP, WS_EX_TOOLWINDOW);
  if (!m_pm.GetRoot()) return 0;
  CenterWindow();
  return ShowModal();
}

void WindowImplBase::OnClick(TNotifyUI&) {}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  BOOL handled = FALSE;
  LRESULT r = 0;
  if (msg == WM_DESTROY) {
    m_pm.RemoveNotifier(this);  // nothing more reaches a window that is going
    r = OnDestroy(msg, wParam, lParam, handled);
  } else if (msg == WM_SYSCOMMAND && GetWidget()) {
    if (wParam == SC_MINIMIZE) {
      GetWidget()->showMinimized();
      handled = TRUE;
    } else if (wParam == SC_RESTORE) {
      GetWidget()->showNormal();
      handled = TRUE;
    }
  }
  if (handled) return r;
  r = HandleCustomMessage(msg, wParam, lParam, handled);
  if (handled) return r;
  if (msg == WM_TIMER && m_pm.HandleTimer(wParam)) return 0;
  return CWindowWnd::HandleMessage(msg, wParam, lParam);
}

}  // namespace brevak
