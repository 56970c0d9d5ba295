#pragma once
// "Hook.so" loaded from the program folder as the program loads it, under a private Xvfb, with
// a window on the test thread that records what the library posts, and input injected through
// XTest on a connection of the test's own.

#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool, Status) would break its headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "macro/hook_binding.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "tests/common/private_x_server.h"
#include "tests/common/pump_until.h"

namespace brevak::test {

struct Input {
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Input&) const = default;
  friend void PrintTo(const Input& i, std::ostream* os) { *os << "{0x" << std::hex << i.wParam << ", " << std::dec << i.lParam << "}"; }
};
using Inputs = std::vector<Input>;

constexpr Input kLeftDown{WM_LBUTTONDOWN, 0}, kLeftUp{WM_LBUTTONUP, 0};
constexpr Input kKeyADown{'A', 0}, kKeyAUp{'A', 1};

// A window of the test thread that keeps the WM_HOOK_INPUT it receives.
struct RecordingWindow {
  Inputs got;
  size_t checked = 0;
  HWND hwnd = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
    if (msg == WM_HOOK_INPUT) got.push_back({w, l});
    return 0;
  });
  ~RecordingWindow() { DestroyWindow(hwnd); }

  // What arrived since the last check must be `expected`. Input is handled in order, so when
  // the last expected one is there, whatever was injected before it has been decided on.
  void ExpectNext(const Inputs& expected) {
    PumpUntil([&] { return got.size() >= checked + expected.size(); });
    ProcessPendingMessages();
    EXPECT_EQ(Inputs(got.begin() + std::min(checked, got.size()), got.end()), expected);
    checked = got.size();
  }
};

// Keys and buttons through XTest, each followed by a round trip so the server has it.
class FakeInput {
 public:
  FakeInput() : display_(XOpenDisplay(nullptr)) {}
  ~FakeInput() { Close(); }
  // Before the server goes away: Xlib exits the process when a connection of ours breaks.
  void Close() {
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
  }
  bool ok() const { return display_ != nullptr; }
  // False when the server's keymap has no key for `keysym`.
  bool Tap(KeySym keysym) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code == 0) return false;
    TapKeyCode(code);
    return true;
  }
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
  void Click(unsigned button) {
    for (bool press : {true, false}) XTestFakeButtonEvent(display_, button, press, CurrentTime);
    XSync(display_, False);
  }

 private:
  Display* display_;
};

// Gives the test's server a new keymap of these layouts, as the desktop's layout settings do.
inline bool SetServerLayout(const std::string& layouts) {
  return std::system(("setxkbmap -layout " + layouts).c_str()) == 0;
}

class HookFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << "no X server for the test: " << server_.error();
    ASSERT_NE(lib_.functions.mousewheelenable, nullptr) << LastLoadError();
    ASSERT_TRUE(input_.ok());
  }
  void TearDown() override {
    if (hook_.removehook) hook_.removehook();
    if (lib_.module) FreeLibrary(lib_.module);
  }

  // Starts capture for `window` with keys on, as the program does when recording starts.
  void Install(const RecordingWindow& window) {
    ASSERT_TRUE(hook_.installhook(window.hwnd));
    hook_.enablehook(1);
  }

  PrivateXServer server_;  // first: sets DISPLAY for everything below
  HookLibrary lib_ = LoadHookLibrary(ProgramFolder());
  const HookFunctionTable& hook_ = lib_.functions;
  FakeInput input_;
  RecordingWindow window_;
};

}  // namespace brevak::test
