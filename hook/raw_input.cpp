#include "hook/raw_input.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace hook {
namespace {

// Xlib has one I/O error handler for the whole process, and its default exits. While a capture
// runs, ours stands in front of it: for our own connection it returns, so that the connection's
// exit handler ends capture instead; every other connection goes to the handler it replaced.
std::mutex g_handler_lock;
XIOErrorHandler g_replaced_handler = nullptr;  // under g_handler_lock
std::atomic<Display*> g_capture_display{nullptr};

int OnIOError(Display* display) {
  if (display == g_capture_display.load()) return 0;
  XIOErrorHandler replaced;
  {
    std::lock_guard guard(g_handler_lock);
    replaced = g_replaced_handler;
  }
  return replaced ? replaced(display) : 0;
}

void InstallIOErrorHandler(Display* display) {
  std::lock_guard guard(g_handler_lock);
  g_capture_display = display;
  g_replaced_handler = XSetIOErrorHandler(&OnIOError);
}

// Puts the replaced handler back, unless someone installed another after ours: theirs stays.
void RestoreIOErrorHandler() {
  std::lock_guard guard(g_handler_lock);
  const XIOErrorHandler current = XSetIOErrorHandler(g_replaced_handler);
  if (current != &OnIOError) XSetIOErrorHandler(current);
  g_capture_display = nullptr;
}

}  // namespace

std::unique_ptr<RawInputCapture> RawInputCapture::Start(Sink sink) {
  std::unique_ptr<RawInputCapture> capture(new RawInputCapture(sink));
  if (!capture->Connect()) return nullptr;
  capture->thread_ = std::thread([c = capture.get()] { c->Run(); });
  return capture;
}

bool RawInputCapture::Connect() {
  display_ = XOpenDisplay(nullptr);  // DISPLAY; null when unset or nobody answers
  if (!display_) return false;
  // A vanished server must end capture, never the program.
  InstallIOErrorHandler(display_);
  handler_installed_ = true;
  XSetIOErrorExitHandler(display_, &RawInputCapture::OnConnectionLost, this);
  int event = 0, error = 0, major = 2, minor = 2;
  if (!XQueryExtension(display_, "XInputExtension", &xi_opcode_, &event, &error) ||
      XIQueryVersion(display_, &major, &minor) != Success || major * 100 + minor < 202) {
    return false;
  }
  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  if (stop_fd_ < 0) return false;
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XISetMask(bits, XI_RawButtonPress);
  XISetMask(bits, XI_RawButtonRelease);
  XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
  XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
  // A new keymap (the desktop's layout settings) comes as XKB's own events, not MappingNotify.
  int xkb_opcode = 0, xkb_error = 0, xkb_major = XkbMajorVersion, xkb_minor = XkbMinorVersion;
  if (XkbQueryExtension(display_, &xkb_opcode, &xkb_event_, &xkb_error, &xkb_major, &xkb_minor)) {
    constexpr unsigned long kKeymapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display_, XkbUseCoreKbd, kKeymapChanges, kKeymapChanges);
  } else {
    xkb_event_ = -1;
  }
  ReadLayout();
  XSync(display_, False);
  return !lost_;
}

void RawInputCapture::ReadLayout() {
  if (auto layout = brevak::KeyboardLayout::FromServer(XGetXCBConnection(display_))) {
    layout_ = *layout;
  } else if (auto named = brevak::KeyboardLayout::FromEnvironment()) {
    layout_ = *named;  // a server without XKB: the keymap is most likely the usual one
  }
}

// The key's virtual key in the group in effect now (the user may switch layouts at any time).
UINT RawInputCapture::VirtualKey(int keycode) {
  XkbStateRec state{};
  const uint32_t group = XkbGetState(display_, XkbUseCoreKbd, &state) == Success ? state.group : 0;
  return layout_.InGroup(group).VirtualKeyOfKeyCode(UINT(keycode));
}

RawInputCapture::~RawInputCapture() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    while (write(stop_fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (display_) XCloseDisplay(display_);
  if (handler_installed_) RestoreIOErrorHandler();
  if (stop_fd_ >= 0) close(stop_fd_);
}

void RawInputCapture::OnConnectionLost(Display*, void* self) { static_cast<RawInputCapture*>(self)->lost_ = true; }

void RawInputCapture::Run() {
  const int xfd = ConnectionNumber(display_);
  while (!lost_) {
    // Xlib may already hold events it read while answering a request: take those first.
    while (!lost_ && XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      Handle(event);
    }
    if (lost_) break;
    pollfd fds[2] = {{xfd, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    // After a hang-up, XPending reads the end of the stream and Xlib declares the connection
    // broken (OnConnectionLost); closing it then writes nothing more to it.
    if (fds[0].revents & POLLNVAL) break;
  }
  // Xlib leaves a broken connection locked for the thread that found it broken: only this
  // thread can still close it.
  if (lost_) {
    XCloseDisplay(display_);
    display_ = nullptr;
  }
  ended_ = true;
}

void RawInputCapture::Handle(XEvent& event) {
  if (event.type == MappingNotify) {
    XRefreshKeyboardMapping(&event.xmapping);
    if (event.xmapping.request == MappingKeyboard) ReadLayout();
    return;
  }
  if (event.type == xkb_event_) {
    const int kind = reinterpret_cast<const XkbAnyEvent&>(event).xkb_type;
    if (kind == XkbNewKeyboardNotify || kind == XkbMapNotify) ReadLayout();
    return;
  }
  XGenericEventCookie& cookie = event.xcookie;
  if (cookie.type != GenericEvent || cookie.extension != xi_opcode_ || !XGetEventData(display_, &cookie)) return;
  const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
  std::optional<HookInput> input;
  switch (cookie.evtype) {
    case XI_RawKeyPress:
    case XI_RawKeyRelease:
      input = KeyInput(VirtualKey(raw->detail), cookie.evtype == XI_RawKeyPress);
      break;
    case XI_RawButtonPress:
    case XI_RawButtonRelease:
      input = ButtonInput(raw->detail, cookie.evtype == XI_RawButtonPress);
      break;
  }
  XFreeEventData(display_, &cookie);
  if (input) sink_(*input);
}

}  // namespace hook
