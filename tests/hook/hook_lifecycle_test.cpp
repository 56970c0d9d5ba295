// Starting, stopping and losing capture while input keeps arriving (run under ThreadSanitizer).

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

#include "tests/hook/hook_test_util.h"

// When a connection breaks, libX11 1.8.4 unlocks the display's mutex in its I/O error path
// and again in the call that ran into the error, once the error handlers return (as ours do,
// so that capture ends instead of the process). Only the capture thread uses that connection,
// so the second unlock is harmless; ThreadSanitizer still reports it.
extern "C" const char* __tsan_default_suppressions() { return "mutex:libX11.so\n"; }

namespace brevak::test {
namespace {

class HookLifecycleTest : public HookFixture {
 protected:
  // Keys and clicks from another thread until the test ends.
  void StartTyping() {
    // The first XTest call sets up libXext state shared by every connection, without a lock;
    // made here, it cannot race the hook's first connection (a lost list entry, seen as a leak).
    auto typing = std::make_shared<FakeInput>();
    typing->Tap(XK_a);
    typist_ = std::thread([this, typing] {
      while (!stop_typing_) {
        typing->Tap(XK_a);
        typing->Click(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  void TearDown() override {
    stop_typing_ = true;
    if (typist_.joinable()) typist_.join();
    HookFixture::TearDown();
  }

  std::atomic<bool> stop_typing_{false};
  std::thread typist_;
};

constexpr UINT kInstalling = WM_USER + 1, kRemoved = WM_USER + 2;

// The window's queue keeps the order of posts, so our own markers posted right before each
// installhook and right after each removehook bracket the time capture may post.
TEST_F(HookLifecycleTest, NothingIsPostedBetweenRemoveAndTheNextInstall) {
  std::vector<UINT> seen;
  const HWND window = CreateMessageWindow([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    seen.push_back(msg);
    return 0;
  });
  StartTyping();
  for (int round = 0; round < 30; ++round) {
    PostMessageW(window, kInstalling, 0, 0);
    ASSERT_TRUE(hook_.installhook(window));
    hook_.enablehook(round % 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 * 5));
    // However slow the machine, the last round sees input.
    if (round == 29) PumpUntil([&] { return std::count(seen.begin(), seen.end(), WM_HOOK_INPUT) > 0; });
    hook_.removehook();
    PostMessageW(window, kRemoved, 0, 0);
    ProcessPendingMessages();
  }
  ProcessPendingMessages();
  DestroyWindow(window);

  size_t reported = 0;
  bool installed = false;
  for (UINT msg : seen) {
    if (msg == kInstalling || msg == kRemoved) installed = msg == kInstalling;
    if (msg != WM_HOOK_INPUT) continue;
    ++reported;
    EXPECT_TRUE(installed) << "posted after removehook";
  }
  EXPECT_GT(reported, 0u) << "the rounds saw no input at all";
}

TEST_F(HookLifecycleTest, UnloadingWhileCapturingStopsTheThread) {
  Install(window_);
  StartTyping();
  PumpUntil([&] { return !window_.got.empty(); });
  ASSERT_FALSE(window_.got.empty());
  FreeLibrary(lib_.module);
  lib_ = {};
  // Gone from memory: a thread still in it would crash on the next input.
  std::stringstream maps;
  maps << std::ifstream("/proc/self/maps").rdbuf();
  EXPECT_EQ(maps.str().find("/Hook.so"), std::string::npos);
  ProcessPendingMessages();
  const size_t before = window_.got.size();
  PumpUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(window_.got.size(), before);
}

TEST_F(HookLifecycleTest, LosingTheServerEndsCaptureQuietly) {
  Install(window_);
  input_.Tap(XK_a);
  window_.ExpectNext({kKeyADown, kKeyAUp});
  input_.Close();
  server_.Kill();
  // Capture notices on its own: installing again finds it ended and no server to start anew.
  EXPECT_TRUE(PumpUntil([&] { return !hook_.installhook(window_.hwnd); }));
  hook_.removehook();
}

}  // namespace
}  // namespace brevak::test
