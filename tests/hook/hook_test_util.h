#pragma once
// "Hook.so" loaded from the program folder as the program loads it, under a private Xvfb, with
// a window on the test thread that records what the library posts, and input injected through
// XTest on a connection of the test's own.

#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool, Status) would break its headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <ostream>
#include <thread>
#include <vector>

#include "macro/hook_binding.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "tests/common/private_x_server.h"

namespace brevak::test {

struct Input {
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Input&) const = default;
  friend void PrintTo(const Input& i, std::ostream* os) { *os << "{0x" << std::hex << i.wParam << ", " << std::dec << i.lParam << "}"; }
};
using Inputs = std::vector<Input>;

// A window of the test thread that keeps the WM_HOOK_INPUT it receives.
struct RecordingWindow {
  Inputs got;
  HWND hwnd = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
    if (msg == WM_HOOK_INPUT) got.push_back({w, l});
    return 0;
  });
  ~RecordingWindow() { DestroyWindow(hwnd); }
};

// Real time: pumps this thread's queue until `done` holds or ten seconds pass.
template <typename Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  do {
    ProcessPendingMessages();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < until);
  return false;
}

// Keys and buttons pressed through XTest, each followed by a round trip so the server has it.
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
  bool Key(KeySym keysym, bool press) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code == 0) return false;
    XTestFakeKeyEvent(display_, code, press, CurrentTime);
    XSync(display_, False);
    return true;
  }
  bool Tap(KeySym keysym) { return Key(keysym, true) && Key(keysym, false); }
  void Button(unsigned button, bool press) {
    XTestFakeButtonEvent(display_, button, press, CurrentTime);
    XSync(display_, False);
  }
  void Click(unsigned button) {
    Button(button, true);
    Button(button, false);
  }

 private:
  Display* display_;
};

constexpr Input kLeftDown{WM_LBUTTONDOWN, 0}, kLeftUp{WM_LBUTTONUP, 0};
constexpr Input kKeyADown{'A', 0}, kKeyAUp{'A', 1};

class HookFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << "no X server for the test: " << server_.error();
    lib_ = LoadHookLibrary(ProgramFolder());
    ASSERT_NE(lib_.module, nullptr) << LastLoadError();
    ASSERT_NE(hook_.mousewheelenable, nullptr);
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

  // Waits until `window` holds as many inputs as `expected`, then compares.
  static void Expect(const RecordingWindow& window, const Inputs& expected) {
    PumpUntil([&] { return window.got.size() >= expected.size(); });
    ProcessPendingMessages();
    EXPECT_EQ(window.got, expected);
  }

  PrivateXServer server_;
  HookLibrary lib_;
  const HookFunctionTable& hook_ = lib_.functions;
  FakeInput input_;
  RecordingWindow window_;
};

}  // namespace brevak::test
