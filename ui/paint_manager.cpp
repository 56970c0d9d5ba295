#include "ui/paint_manager.h"

#include <QApplication>
#include <QButtonGroup>
#include <QSocketNotifier>
#include <QTimer>
#include <sys/eventfd.h>
#include <unistd.h>
#include <QVBoxLayout>
#include <QWidget>
#include <atomic>
#include <set>

#include "platform/loop.h"
#include "platform/system.h"

namespace brevak {

namespace {

// Runs this thread's platform queue inside Qt's loop: the wake hook (any thread) asks for one
// pass on the UI thread through an eventfd that a socket notifier watches; a single-shot timer
// covers the next platform timer deadline. Nothing but that counter crosses threads here: the
// messages themselves are handed over under the platform's lock.
class QueuePump {
 public:
  QueuePump() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), notifier_(fd_, QSocketNotifier::Read) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Run(); });
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] {
      uint64_t n;
      while (read(fd_, &n, sizeof n) > 0) {
      }
      Run();
    });
  }
  ~QueuePump() { close(fd_); }

  void Wake() {
    if (!scheduled_.exchange(true)) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
    }
  }

  void Run() {
    scheduled_ = false;
    PumpResult r = ProcessPendingMessages();
    if (r.quit) {
      quit_code_ = r.exitCode;
      quit_ = true;
      QCoreApplication::exit(r.exitCode);
      return;
    }
    if (r.nextTimerMs != INFINITE) {
      timer_.start(int(std::min<DWORD>(r.nextTimerMs, 24u * 3600 * 1000)));
    } else {
      timer_.stop();
    }
  }

  bool quit_ = false;
  int quit_code_ = 0;

 private:
  int fd_;
  QSocketNotifier notifier_;
  QTimer timer_;
  std::atomic<bool> scheduled_{false};
};

QApplication* g_app = nullptr;  // made by SetInstance, deleted by Term
QueuePump* g_pump = nullptr;
DWORD g_ui_thread = 0;
void* g_instance = nullptr;
int g_resource_type = 1;
CDuiString g_resource_path;
std::set<CPaintManagerUI*> g_managers;

int g_argc = 1;
char g_arg0[] = "BREVAK";
char* g_argv[] = {g_arg0, nullptr};

}  // namespace

// ---- Notify pump ------------------------------------------------------------------------------

bool CNotifyPump::AddVirtualWnd(const CDuiString& name, CNotifyPump* pump) {
  if (!pump || name.IsEmpty() || virtual_wnds_.count(name.str())) return false;
  virtual_wnds_[name.str()] = pump;
  return true;
}

bool CNotifyPump::RemoveVirtualWnd(const CDuiString& name) {
  return virtual_wnds_.erase(name.str()) > 0;
}

void CNotifyPump::NotifyPump(TNotifyUI& msg) {
  if (!msg.sVirtualWnd.IsEmpty()) {
    auto it = virtual_wnds_.find(msg.sVirtualWnd.str());
    if (it != virtual_wnds_.end()) {
      it->second->LoopDispatch(msg);
      return;
    }
  }
  LoopDispatch(msg);
}

bool CNotifyPump::LoopDispatch(TNotifyUI& msg) {
  std::u16string name = msg.pSender ? msg.pSender->GetName().str() : std::u16string();
  for (const DUI_MSGMAP* map = GetMessageMap(); map; map = map->pBaseMap) {
    for (const DUI_MSGMAP_ENTRY& e : map->entries) {
      if (msg.sType.str() != Utf8ToUtf16(e.sMsgType)) continue;
      if (e.sCtrlName[0] && name != Utf8ToUtf16(e.sCtrlName)) continue;
      (this->*e.pfn)(msg);
      return true;
    }
  }
  return false;
}

const DUI_MSGMAP* CNotifyPump::GetBaseMessageMap() {
  static const DUI_MSGMAP base{nullptr, {}};
  return &base;
}

// ---- Application ------------------------------------------------------------------------------

void CPaintManagerUI::SetInstance(void* instance) {
  g_instance = instance;
  if (!QCoreApplication::instance()) g_app = new QApplication(g_argc, g_argv);
  if (!g_pump) {
    g_pump = new QueuePump;
    g_ui_thread = GetCurrentThreadId();
    SetQueueWakeHook(g_ui_thread, [] {
      if (g_pump) g_pump->Wake();
    });
    g_pump->Wake();
  }
}

void* CPaintManagerUI::GetInstance() { return g_instance; }
void CPaintManagerUI::SetResourceType(int type) { g_resource_type = type; }
int CPaintManagerUI::GetResourceType() { return g_resource_type; }

CDuiString CPaintManagerUI::GetInstancePath() {
  std::u16string folder = ProgramFolder();
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  return CDuiString(folder);
}

void CPaintManagerUI::SetResourcePath(const CDuiString& path) {
  std::u16string p = path.str();
  for (auto& c : p) {
    if (c == u'\\') c = u'/';  // "res\" as the Windows code writes it
  }
  if (!p.empty() && p.back() != u'/') p += u'/';
  g_resource_path = CDuiString(p);
}

CDuiString CPaintManagerUI::GetResourcePath() { return g_resource_path; }

CDuiString CPaintManagerUI::ResourceFile(const CDuiString& file) {
  if (!file.IsEmpty() && file.GetAt(0) == u'/') return file;
  return g_resource_path + file.str();
}

int CPaintManagerUI::MessageLoop() {
  if (!g_pump) SetInstance(g_instance);
  g_pump->Run();
  if (g_pump->quit_) return g_pump->quit_code_;
  return QCoreApplication::exec();
}

void CPaintManagerUI::Term() {
  if (g_pump) {
    SetQueueWakeHook(g_ui_thread, {});
    delete g_pump;
    g_pump = nullptr;
  }
  delete g_app;
  g_app = nullptr;
}

// ---- One window -------------------------------------------------------------------------------

CPaintManagerUI::CPaintManagerUI() { g_managers.insert(this); }

CPaintManagerUI::~CPaintManagerUI() {
  for (auto& [id, t] : timers_) ::KillTimer(hwnd_, id);
  timers_.clear();
  root_.reset();
  g_managers.erase(this);
}

void CPaintManagerUI::Init(HWND hwnd, QWidget* host) {
  hwnd_ = hwnd;
  host_ = host;
}

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
  if (!root) return false;
  root_.reset(root);
  names_valid_ = false;
  root->SetManager(this, nullptr);
  PlaceRoot(root);
  if (QWidget* w = host_ ? root->GetWidget() : nullptr) {
    // A root placed in a window not shown yet is shown with it, laid out with the texts and
    // values the window starts with; shown now, it would be laid out before they are set too.
    const bool shows_with_host = !host_->isVisible() && !w->testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (!(root->IsVisible() && shows_with_host)) w->setVisible(root->IsVisible());
  }
  return true;
}

void CPaintManagerUI::PlaceRoot(CControlUI* root) {
  QWidget* widget = root ? root->GetWidget() : nullptr;
  if (!host_ || !widget || widget->parentWidget() == host_) return;
  auto* layout = host_->layout() ? static_cast<QVBoxLayout*>(host_->layout()) : new QVBoxLayout(host_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(widget);
}

CControlUI* CPaintManagerUI::FindControl(const CDuiString& name) const {
  if (!root_ || name.IsEmpty()) return nullptr;
  // A page looks up a few hundred controls by name after it is built: one walk of the tree
  // answers them all until the tree changes.
  if (!names_valid_ || names_generation_ != ControlTreeGeneration()) {
    names_.clear();
    root_->IndexNames(names_);
    names_generation_ = ControlTreeGeneration();
    names_valid_ = true;
  }
  auto it = names_.find(name.str());
  return it == names_.end() ? nullptr : it->second;
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, const CDuiString& name) const {
  return parent && !name.IsEmpty() ? parent->FindControl(name.str()) : nullptr;
}

bool CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
  if (!notifier || std::find(notifiers_.begin(), notifiers_.end(), notifier) != notifiers_.end()) {
    return false;
  }
  notifiers_.push_back(notifier);
  return true;
}

bool CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
  auto it = std::find(notifiers_.begin(), notifiers_.end(), notifier);
  if (it == notifiers_.end()) return false;
  notifiers_.erase(it);
  return true;
}

void CPaintManagerUI::SendNotify(CControlUI* control, const char* type, WPARAM wParam, LPARAM lParam) {
  TNotifyUI msg;
  msg.sType = CDuiString(type);
  msg.pSender = control;
  msg.sVirtualWnd = control ? control->GetVirtualWnd() : CDuiString();
  msg.dwTimestamp = GetTickCount();
  msg.wParam = wParam;
  msg.lParam = lParam;
  // A notifier may remove itself or others while handling.
  std::vector<INotifyUI*> targets = notifiers_;
  for (INotifyUI* n : targets) {
    if (std::find(notifiers_.begin(), notifiers_.end(), n) != notifiers_.end()) n->Notify(msg);
  }
}

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapseMs) {
  if (!control || !hwnd_) return false;
  for (auto& [key, t] : timers_) {
    if (t.control == control && t.id == id) return ::SetTimer(hwnd_, key, elapseMs, nullptr) != 0;
  }
  UINT_PTR key = next_timer_++;
  if (!::SetTimer(hwnd_, key, elapseMs, nullptr)) return false;
  timers_[key] = ControlTimer{control, id};
  return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.control == control && it->second.id == id) {
      ::KillTimer(hwnd_, it->first);
      timers_.erase(it);
      return true;
    }
  }
  return false;
}

void CPaintManagerUI::KillTimer(CControlUI* control) {
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->second.control == control) {
      ::KillTimer(hwnd_, it->first);
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

void CPaintManagerUI::ControlRemoved(CControlUI* control) { KillTimer(control); }

bool CPaintManagerUI::HandleTimer(UINT_PTR id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return id >= kControlTimerBase;
  ControlTimer t = it->second;
  SendNotify(t.control, "timer", t.id, 0);
  return true;
}

void CPaintManagerUI::ReloadTexts() {
  if (root_) root_->ReloadText();
}

void ReloadAllTexts() {
  for (CPaintManagerUI* pm : g_managers) pm->ReloadTexts();
}

QButtonGroup* CPaintManagerUI::GetOptionGroup(const CDuiString& group) {
  auto& g = groups_[group.str()];
  if (!g) {
    g = std::make_unique<QButtonGroup>();
    g->setExclusive(true);
  }
  return g.get();
}

}  // namespace brevak
