#include "app/active_window.h"

#include <xcb/xcb.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/log.h"

namespace brevak {

namespace {

// Longest property we read: a WM_CLASS, a client list of many windows (in 32-bit units).
constexpr uint32_t kMaxPropertyUnits = 4096;

bool OnWayland() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* session = std::getenv("XDG_SESSION_TYPE");
  return (wayland && *wayland) || (session && std::strcmp(session, "wayland") == 0);
}

}  // namespace

struct ActiveWindowWatcher::X {
  xcb_connection_t* c = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t active = 0, client_list = 0, wm_pid = 0, wm_check = 0;
  bool wm = false;

  ~X() {
    if (c) xcb_disconnect(c);
  }
  bool ok() const { return c && !xcb_connection_has_error(c); }

  xcb_atom_t Atom(const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
  }
  // The property's bytes; empty when it is missing or of another format.
  std::string Property(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type, uint8_t format) {
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, kMaxPropertyUnits), nullptr);
    std::string bytes;
    if (r && r->format == format) {
      // The value's length in bytes (xcb counts the format's units in already).
      bytes.assign(static_cast<const char*>(xcb_get_property_value(r)), size_t(xcb_get_property_value_length(r)));
    }
    std::free(r);
    return bytes;
  }
  std::vector<uint32_t> Cardinals(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type) {
    const std::string bytes = Property(w, prop, type, 32);
    std::vector<uint32_t> out(bytes.size() / 4);
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
  }
  ActiveWindow Describe(xcb_window_t w) {
    ActiveWindow a;
    if (!w) return a;
    // WM_CLASS: the instance name and the class name, each ended by a NUL.
    const std::string cls = Property(w, XCB_ATOM_WM_CLASS, XCB_GET_PROPERTY_TYPE_ANY, 8);
    const size_t nul = cls.find('\0');
    a.instance = cls.substr(0, nul);
    if (nul != std::string::npos) a.window_class = std::string(cls.c_str() + nul + 1);
    const std::vector<uint32_t> pid = Cardinals(w, wm_pid, XCB_ATOM_CARDINAL);
    a.ours = !pid.empty() && pid[0] == uint32_t(getpid());
    return a;
  }
  void CheckWindowManager() { wm = !Cardinals(root, wm_check, XCB_ATOM_WINDOW).empty(); }
};

ActiveWindowWatcher::ActiveWindowWatcher(std::function<void(const ActiveWindow&)> changed)
    : x_(std::make_unique<X>()), changed_(std::move(changed)) {
  x_->c = xcb_connect(nullptr, nullptr);
  if (!x_->ok()) {
    LogNote("active window", "no X server; a profile per program is off");
    return;
  }
  const xcb_setup_t* setup = xcb_get_setup(x_->c);
  x_->root = xcb_setup_roots_iterator(setup).data->root;
  x_->active = x_->Atom("_NET_ACTIVE_WINDOW");
  x_->client_list = x_->Atom("_NET_CLIENT_LIST");
  x_->wm_pid = x_->Atom("_NET_WM_PID");
  x_->wm_check = x_->Atom("_NET_SUPPORTING_WM_CHECK");
  // Only the root's property changes: the window manager sets _NET_ACTIVE_WINDOW there.
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(x_->c, x_->root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(x_->c);
  x_->CheckWindowManager();
  notifier_ = new QSocketNotifier(xcb_get_file_descriptor(x_->c), QSocketNotifier::Read, this);
  QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
  ReadActive();
  OnReadable();  // what came while the first reply was awaited
}

ActiveWindowWatcher::~ActiveWindowWatcher() = default;

ActiveWindowWatcher::Sight ActiveWindowWatcher::sight() const {
  if (!x_->ok()) return Sight::kNone;
  if (!x_->wm) return Sight::kNoWindowManager;
  return OnWayland() ? Sight::kX11Only : Sight::kAll;
}

void ActiveWindowWatcher::OnReadable() {
  for (;;) {
    bool active_changed = false;
    while (xcb_generic_event_t* e = xcb_poll_for_event(x_->c)) {
      if ((e->response_type & ~0x80) == XCB_PROPERTY_NOTIFY) {
        const auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
        if (p->window == x_->root && p->atom == x_->active) active_changed = true;
        if (p->window == x_->root && p->atom == x_->wm_check) x_->CheckWindowManager();
      }
      std::free(e);
    }
    if (!x_->ok()) {
      // The X server went away: nothing more to follow, and the program goes on.
      LogNote("active window", "the X connection ended");
      notifier_->setEnabled(false);
      return;
    }
    if (!active_changed) return;
    // Its replies may queue events that the socket no longer announces: looked at again.
    ReadActive();
  }
}

void ActiveWindowWatcher::ReadActive() {
  const std::vector<uint32_t> w = x_->Cardinals(x_->root, x_->active, XCB_ATOM_WINDOW);
  const ActiveWindow a = x_->Describe(w.empty() ? 0 : w[0]);
  if (changed_) changed_(a);
}

std::vector<std::string> ActiveWindowWatcher::OpenClasses() {
  std::vector<std::string> classes;
  if (!x_->ok()) return classes;
  for (uint32_t w : x_->Cardinals(x_->root, x_->client_list, XCB_ATOM_WINDOW)) {
    const ActiveWindow a = x_->Describe(w);
    const std::string& name = a.window_class.empty() ? a.instance : a.window_class;
    if (a.ours || name.empty() || std::find(classes.begin(), classes.end(), name) != classes.end()) continue;
    classes.push_back(name);
  }
  std::sort(classes.begin(), classes.end());
  // Events that came with these replies wait in the connection's queue: handled from the loop.
  QMetaObject::invokeMethod(this, [this] { OnReadable(); }, Qt::QueuedConnection);
  return classes;
}

}  // namespace brevak
