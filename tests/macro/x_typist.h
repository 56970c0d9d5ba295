#pragma once
// Keys, pointer moves and clicks through XTest on a connection of the test's own, each flushed
// to the server, for window tests on a private X server. Include after gtest and Qt: Xlib's
// macros (None, Bool, Status) would break their headers.

#include <QPoint>
#include <QWidget>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace brevak::test {

class Typist {
 public:
  Typist() : display_(XOpenDisplay(nullptr)) {}
  ~Typist() {
    if (display_) XCloseDisplay(display_);
  }
  Typist(const Typist&) = delete;
  Typist& operator=(const Typist&) = delete;
  bool ok() const { return display_ != nullptr; }
  void Tap(KeySym keysym) { TapKeyCode(XKeysymToKeycode(display_, keysym)); }
  // The key at an X key code (evdev code + 8), whatever the layout puts on it.
  void TapKeyCode(unsigned code) {
    for (bool press : {true, false}) XTestFakeKeyEvent(display_, code, press, CurrentTime);
    XSync(display_, False);
  }
  // Makes `group` of the server's keymap the one in effect, as a layout switch does.
  void LockGroup(unsigned group) {
    XkbLockGroup(display_, XkbUseCoreKbd, group);
    XSync(display_, False);
  }
  // The pointer to `at` within `widget`.
  void MoveTo(QWidget* widget, QPoint at) {
    const QPoint p = widget->mapToGlobal(at);
    XTestFakeMotionEvent(display_, -1, p.x(), p.y(), CurrentTime);
    XSync(display_, False);
  }
  // A press and release of X button `button` (1 left, 2 middle, 3 right) where the pointer is.
  void Press(unsigned button) {
    for (bool press : {true, false}) XTestFakeButtonEvent(display_, button, press, CurrentTime);
    XSync(display_, False);
  }
  // A left click at `at` within `widget`.
  void Click(QWidget* widget, QPoint at) {
    MoveTo(widget, at);
    Press(1);
  }
  void Click(QWidget* widget) { Click(widget, widget->rect().center()); }

 private:
  Display* display_;
};

}  // namespace brevak::test
