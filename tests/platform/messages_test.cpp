// Windows, queues and threads across threads. Runs under ThreadSanitizer (label "threads").

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/loop.h"
#include "platform/winapi.h"
#include "tests/platform/hang_guard.h"

namespace brevak {
namespace {

constexpr UINT kMsgA = WM_USER + 1;
constexpr UINT kMsgB = WM_USER + 2;

class Messages : public ::testing::Test {
  HangGuard guard_;
};

// A thread with one window and a GetMessageW loop, as the program's workers have.
class WindowThread {
 public:
  explicit WindowThread(WindowHandler handler) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = StartThread(
        [this, ready, handler = std::move(handler)]() mutable -> DWORD {
          hwnd_ = CreateMessageWindow(std::move(handler));
          SetEvent(ready);
          MSG msg;
          while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
          return DWORD(msg.wParam);
        },
        &id_);
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
  }
  ~WindowThread() { Stop(); }
  void Stop() {
    if (!thread_) return;
    PostThreadMessageW(id_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  HWND hwnd() const { return hwnd_; }
  DWORD id() const { return id_; }

 private:
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
  HWND hwnd_ = nullptr;
};

TEST_F(Messages, PostsFromSeveralThreadsArriveOnTheOwnerInPerSenderOrder) {
  constexpr int kSenders = 4;
  constexpr int kPerSender = 2000;
  const DWORD owner = GetCurrentThreadId();
  std::vector<std::vector<LPARAM>> seen(kSenders);
  bool wrongThread = false;
  HWND hwnd = CreateMessageWindow([&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (GetCurrentThreadId() != owner) wrongThread = true;
    if (m == kMsgA && w < kSenders) seen[w].push_back(l);
    return 0;
  });

  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    senders.emplace_back([hwnd, s] {
      for (int i = 0; i < kPerSender; ++i) EXPECT_TRUE(PostMessageW(hwnd, kMsgA, WPARAM(s), i));
      EXPECT_TRUE(PostMessageW(hwnd, kMsgB, WPARAM(s), 0));  // comes after all of its kMsgA
    });
  }
  int finished = 0;
  MSG msg;
  while (finished < kSenders && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    DispatchMessageW(&msg);
    if (msg.message == kMsgB) ++finished;
  }
  for (auto& t : senders) t.join();

  EXPECT_FALSE(wrongThread);
  for (int s = 0; s < kSenders; ++s) {
    ASSERT_EQ(seen[s].size(), size_t(kPerSender)) << "sender " << s;  // none lost or doubled
    for (int i = 0; i < kPerSender; ++i) ASSERT_EQ(seen[s][i], i) << "sender " << s;
  }
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(hwnd);
}

TEST_F(Messages, ThreadMessagesReachAWorkerRightAfterItStarts) {
  // The page posts its first apply request right after creating the worker.
  std::vector<UINT> got;
  DWORD id = 0;
  HANDLE worker = StartThread(
      [&]() -> DWORD {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) got.push_back(msg.message);
        return DWORD(msg.wParam);
      },
      &id);
  ASSERT_NE(worker, nullptr);
  EXPECT_TRUE(PostThreadMessageW(id, 1552, 0, 0));
  EXPECT_TRUE(PostThreadMessageW(id, 1553, 0, 0));
  EXPECT_TRUE(PostThreadMessageW(id, WM_QUIT, 7, 0));
  EXPECT_EQ(WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(got, (std::vector<UINT>{1552, 1553}));
  EXPECT_TRUE(CloseHandle(worker));
  // Gone with its thread.
  EXPECT_FALSE(PostThreadMessageW(id, 1552, 0, 0));
  EXPECT_FALSE(CloseHandle(worker));
}

TEST_F(Messages, ThreadMessageToAThreadWithoutQueueOrUnknownFails) {
  std::promise<DWORD> idPromise;
  std::promise<void> release;
  std::thread plain([&] {
    idPromise.set_value(GetCurrentThreadId());  // known, but has no queue
    release.get_future().wait();
  });
  DWORD id = idPromise.get_future().get();
  EXPECT_FALSE(PostThreadMessageW(id, kMsgA, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_FALSE(PostThreadMessageW(0xFFFFFFF0u, kMsgA, 0, 0));
  release.set_value();
  plain.join();
}

TEST_F(Messages, SendFromAnotherThreadReturnsTheHandlersResultFromTheOwnerThread) {
  std::atomic<DWORD> handledOn{0};
  WindowThread worker([&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    handledOn = GetCurrentThreadId();
    return m == kMsgA ? LRESULT(w) + l : -1;
  });
  EXPECT_EQ(SendMessageW(worker.hwnd(), kMsgA, 20, 22), 42);
  EXPECT_EQ(handledOn.load(), worker.id());
  EXPECT_EQ(SendMessageW(worker.hwnd(), kMsgB, 0, 0), -1);
}

TEST_F(Messages, SendOnTheOwnThreadCallsTheHandlerAtOnce) {
  int depth = 0;
  HWND hwnd = CreateMessageWindow([&](HWND h, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m != kMsgA) return 0;
    ++depth;
    // Re-entrant, as a window procedure may be.
    return w == 0 ? 1 : 1 + SendMessageW(h, kMsgA, w - 1, 0);
  });
  EXPECT_EQ(SendMessageW(hwnd, kMsgA, 4, 0), 5);
  EXPECT_EQ(depth, 5);
  DestroyWindow(hwnd);
}

TEST_F(Messages, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  // The main thread sends to the worker, whose handler sends back to the main thread's window
  // while the main thread is still blocked in its own SendMessageW.
  const DWORD mainId = GetCurrentThreadId();
  std::atomic<DWORD> backOn{0};
  HWND mainWnd = CreateMessageWindow([&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
    backOn = GetCurrentThreadId();
    return m == kMsgB ? LRESULT(w) * 10 : 0;
  });
  WindowThread worker([mainWnd](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
    return m == kMsgA ? SendMessageW(mainWnd, kMsgB, w, 0) + 1 : 0;
  });
  EXPECT_EQ(SendMessageW(worker.hwnd(), kMsgA, 4, 0), 41);
  EXPECT_EQ(backOn.load(), mainId);
  worker.Stop();
  DestroyWindow(mainWnd);
}

TEST_F(Messages, DestroyedWindowDropsMessagesAndItsHandleIsNeverReused) {
  int calls = 0;
  std::vector<UINT> order;
  HWND hwnd = CreateMessageWindow([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    ++calls;
    order.push_back(m);
    return 5;
  });
  ASSERT_TRUE(PostMessageW(hwnd, kMsgA, 0, 0));
  ASSERT_TRUE(PostMessageW(hwnd, kMsgA, 0, 0));
  ASSERT_NE(SetTimer(hwnd, 1, 10, nullptr), 0u);
  EXPECT_TRUE(DestroyWindow(hwnd));
  EXPECT_EQ(order, std::vector<UINT>{WM_DESTROY});  // queued messages were never handled

  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessageW(hwnd, kMsgA, 0, 0));
  EXPECT_EQ(SendMessageW(hwnd, kMsgA, 0, 0), 0);
  EXPECT_EQ(SetTimer(hwnd, 2, 10, nullptr), 0u);
  EXPECT_FALSE(KillTimer(hwnd, 1));
  EXPECT_FALSE(DestroyWindow(hwnd));
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));

  HWND next = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  EXPECT_NE(next, hwnd);
  EXPECT_EQ(calls, 1);
  // A made-up handle is refused too.
  EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(uintptr_t(12345)), kMsgA, 0, 0));
  EXPECT_EQ(DispatchMessageW(nullptr), 0);
  DestroyWindow(next);
}

TEST_F(Messages, OnlyTheOwnerThreadMayDestroyAWindow) {
  WindowThread worker([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
  EXPECT_FALSE(DestroyWindow(worker.hwnd()));
  EXPECT_TRUE(IsWindow(worker.hwnd()));
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(worker.hwnd(), &pid), worker.id());
  EXPECT_NE(pid, 0u);
}

TEST_F(Messages, SenderIsReleasedWhenTheOwnerEndsWithoutHandlingIt) {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> hwnd{nullptr};
  HANDLE owner = StartThread(
      [&]() -> DWORD {
        hwnd = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 99; });
        SetEvent(created);
        WaitForSingleObject(go, INFINITE);  // never looks at its queue
        return 0;
      },
      nullptr);
  WaitForSingleObject(created, INFINITE);
  std::atomic<LRESULT> result{-1};
  HANDLE sender = StartThread(
      [&]() -> DWORD {
        result = SendMessageW(hwnd, kMsgA, 0, 0);
        return 0;
      },
      nullptr);
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(sender, INFINITE), WAIT_OBJECT_0);
  // Either it was queued and completed with 0 when the owner ended, or it came too late.
  EXPECT_EQ(result.load(), 0);
  WaitForSingleObject(owner, INFINITE);
  EXPECT_FALSE(IsWindow(hwnd));
  for (HANDLE h : {go, created, owner, sender}) CloseHandle(h);
}

TEST_F(Messages, FiltersAndQuitOrdering) {
  HWND a = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  HWND b = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  PostMessageW(a, kMsgA, 1, 0);
  PostMessageW(b, kMsgB, 2, 0);
  PostQuitMessage(3);
  PostMessageW(a, kMsgB, 4, 0);
  MSG msg;
  // Window filter, then range filter, then the rest; the quit comes after posted messages.
  ASSERT_GT(GetMessageW(&msg, b, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_GT(GetMessageW(&msg, nullptr, kMsgB, kMsgB), 0);
  EXPECT_EQ(msg.wParam, 4u);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
  DestroyWindow(b);
  EXPECT_EQ(GetMessageW(&msg, b, 0, 0), -1);  // the loop of a destroyed window ends
  DestroyWindow(a);
}

TEST_F(Messages, WakeHookLetsAForeignLoopRunTheQueue) {
  // A stand-in for Qt's event loop: it sleeps on its own condition variable and runs the
  // queue when the hook says so.
  std::mutex mu;
  std::condition_variable cv;
  bool woken = false;
  std::atomic<int> hookCalls{0};
  std::promise<HWND> hwndPromise;
  std::vector<LPARAM> got;
  int exitCode = -1;
  std::thread ui([&] {
    SetQueueWakeHook(GetCurrentThreadId(), [&] {
      ++hookCalls;
      std::lock_guard<std::mutex> lock(mu);
      woken = true;
      cv.notify_one();
    });
    hwndPromise.set_value(CreateMessageWindow([&](HWND, UINT m, WPARAM, LPARAM l) -> LRESULT {
      if (m == kMsgA) got.push_back(l);
      return 0;
    }));
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return woken; });
        woken = false;
      }
      PumpResult r = ProcessPendingMessages();
      if (r.quit) {
        exitCode = r.exitCode;
        break;
      }
    }
    SetQueueWakeHook(GetCurrentThreadId(), nullptr);
  });
  HWND hwnd = hwndPromise.get_future().get();
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(PostMessageW(hwnd, kMsgA, 0, i));
  ASSERT_TRUE(PostMessageW(hwnd, WM_QUIT, 9, 0));
  ui.join();
  EXPECT_GE(hookCalls.load(), 1);
  ASSERT_EQ(got.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(got[i], i);
  EXPECT_EQ(exitCode, 9);
}

TEST_F(Messages, WakeHookInstalledLateStillSeesWaitingMessages) {
  HWND hwnd = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  PostMessageW(hwnd, kMsgA, 0, 0);
  int calls = 0;
  EXPECT_TRUE(SetQueueWakeHook(GetCurrentThreadId(), [&] { ++calls; }));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(ProcessPendingMessages().quit);
  EXPECT_TRUE(SetQueueWakeHook(GetCurrentThreadId(), nullptr));
  EXPECT_FALSE(SetQueueWakeHook(0xFFFFFFF0u, [] {}));
  DestroyWindow(hwnd);
}

}  // namespace
}  // namespace brevak
