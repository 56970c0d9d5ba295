// Window timers, pauses and timed waits on the process clock, mostly in virtual time.
// Runs under ThreadSanitizer (label "threads").

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/loop.h"
#include "platform/winapi.h"
#include "tests/platform/hang_guard.h"

namespace brevak {
namespace {

using Fired = std::vector<std::pair<UINT_PTR, int64_t>>;  // timer id, clock time

class VirtualTime : public ::testing::Test {
 protected:
  void SetUp() override { UseVirtualClock(); }
  void TearDown() override { UseRealClock(); }
  HangGuard guard_;
};

// A window on the calling thread that records its WM_TIMERs; one-shot ids kill themselves.
HWND TimerWindow(Fired& fired, std::vector<UINT_PTR> oneShot = {}) {
  return CreateMessageWindow([&fired, oneShot](HWND h, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m != WM_TIMER) return 0;
    fired.emplace_back(w, ClockNowMs());
    for (UINT_PTR id : oneShot) {
      if (id == w) KillTimer(h, id);
    }
    return 0;
  });
}

TEST_F(VirtualTime, TimersFireInDeadlineOrderAndNeverEarly) {
  Fired fired;
  HWND hwnd = TimerWindow(fired, {528, 529, 533});
  SetTimer(hwnd, 528, 6000, nullptr);
  SetTimer(hwnd, 529, 500, nullptr);
  SetTimer(hwnd, 533, 2000, nullptr);
  SetTimer(hwnd, 531, 30, nullptr);  // periodic
  EXPECT_EQ(NextDeadline(), 30);

  AdvanceClock(29);
  EXPECT_TRUE(fired.empty());
  AdvanceClock(1);
  EXPECT_EQ(fired, (Fired{{531, 30}}));
  KillTimer(hwnd, 531);
  fired.clear();

  AdvanceClock(469);  // now 499: just before 529's deadline
  EXPECT_TRUE(fired.empty());
  AdvanceClock(10000);
  EXPECT_EQ(fired, (Fired{{529, 500}, {533, 2000}, {528, 6000}}));
  EXPECT_EQ(ClockNowMs(), 10499);
  EXPECT_EQ(NextDeadline(), std::nullopt);
  DestroyWindow(hwnd);
}

TEST_F(VirtualTime, PeriodicTimerFiresOncePerPeriod) {
  Fired fired;
  HWND hwnd = TimerWindow(fired);
  SetTimer(hwnd, 52, 100, nullptr);
  AdvanceClock(350);
  EXPECT_EQ(fired, (Fired{{52, 100}, {52, 200}, {52, 300}}));
  // Clamped like Windows' minimum interval.
  fired.clear();
  KillTimer(hwnd, 52);
  SetTimer(hwnd, 530, 1, nullptr);
  AdvanceClock(10);
  EXPECT_EQ(fired, (Fired{{530, 360}}));
  DestroyWindow(hwnd);
}

TEST_F(VirtualTime, SettingAnIdAgainRestartsIt) {
  Fired fired;
  HWND hwnd = TimerWindow(fired, {529});
  SetTimer(hwnd, 529, 500, nullptr);
  AdvanceClock(300);
  SetTimer(hwnd, 529, 500, nullptr);  // the slider moved again
  AdvanceClock(2000);
  EXPECT_EQ(fired, (Fired{{529, 800}}));
  DestroyWindow(hwnd);
}

TEST_F(VirtualTime, TimerSetByAWorkerFiresOnTheWindowsThread) {
  const DWORD mainId = GetCurrentThreadId();
  std::vector<DWORD> firedOn;
  HWND hwnd = CreateMessageWindow([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_TIMER) firedOn.push_back(GetCurrentThreadId());
    return 0;
  });
  // As the apply worker re-arms the main window's watchdogs.
  HANDLE worker = StartThread(
      [hwnd]() -> DWORD {
        KillTimer(hwnd, 528);
        return SetTimer(hwnd, 528, 6000, nullptr) == 528 ? 0 : 1;
      },
      nullptr);
  ASSERT_EQ(WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeThread(worker, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(worker);
  AdvanceClock(5999);
  EXPECT_TRUE(firedOn.empty());
  AdvanceClock(1);
  EXPECT_EQ(firedOn, std::vector<DWORD>{mainId});
  DestroyWindow(hwnd);
}

TEST_F(VirtualTime, TimerOfAWorkersWindowIsKilledFromAnotherThread) {
  std::mutex mu;
  std::vector<std::pair<DWORD, int64_t>> fired;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> hwnd{nullptr};
  DWORD workerId = 0;
  HANDLE worker = StartThread(
      [&]() -> DWORD {
        hwnd = CreateMessageWindow([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
          std::lock_guard<std::mutex> lock(mu);
          if (m == WM_TIMER) fired.emplace_back(GetCurrentThreadId(), ClockNowMs());
          return 0;
        });
        SetEvent(ready);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        return 0;
      },
      &workerId);
  WaitForSingleObject(ready, INFINITE);
  ASSERT_EQ(SetTimer(hwnd, 533, 100, nullptr), 533u);
  AdvanceClock(250);
  {
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(fired, (std::vector<std::pair<DWORD, int64_t>>{{workerId, 100}, {workerId, 200}}));
  }
  EXPECT_TRUE(KillTimer(hwnd, 533));
  EXPECT_FALSE(KillTimer(hwnd, 533));
  AdvanceClock(1000);
  {
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(fired.size(), 2u);
  }
  PostThreadMessageW(workerId, WM_QUIT, 0, 0);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  CloseHandle(ready);
}

TEST_F(VirtualTime, SleepingThreadWakesExactlyAtItsDeadline) {
  std::atomic<int64_t> wokeAt{-1};
  HANDLE worker = StartThread(
      [&]() -> DWORD {
        Sleep(1000);
        wokeAt = ClockNowMs();
        return 0;
      },
      nullptr);
  RunUntilIdle();  // the worker is now inside Sleep
  EXPECT_EQ(NextDeadline(), 1000);
  AdvanceClock(999);
  EXPECT_EQ(wokeAt.load(), -1);
  EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_TIMEOUT);
  AdvanceClock(1);
  EXPECT_EQ(WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(wokeAt.load(), 1000);
  CloseHandle(worker);
}

TEST_F(VirtualTime, QueuedRequestsRunOneAfterAnotherThroughTheirPauses) {
  // The shape of the apply worker: each request sends frames with fixed pauses.
  std::vector<int64_t> frames;
  DWORD id = 0;
  HANDLE worker = StartThread(
      [&]() -> DWORD {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
          if (msg.message != 1552) continue;
          for (int i = 0; i < 3; ++i) {
            Sleep(200);
            frames.push_back(ClockNowMs());
          }
          Sleep(1000);
        }
        return 0;
      },
      &id);
  PostThreadMessageW(id, 1552, 0, 0);
  PostThreadMessageW(id, 1552, 0, 0);
  AdvanceClock(60000);
  PostThreadMessageW(id, WM_QUIT, 0, 0);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  EXPECT_EQ(frames, (std::vector<int64_t>{200, 400, 600, 1800, 2000, 2200}));
}

TEST_F(VirtualTime, ManySleepersAndPostersStayInStepWithTheClock) {
  // Every worker posts after each of its pauses; a lost wake-up or an early or late return
  // from Sleep shows up as a wrong count or time.
  constexpr int kWorkers = 4;
  std::vector<std::vector<int64_t>> times(kWorkers);
  HWND hwnd = CreateMessageWindow([&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == WM_USER && w < kWorkers) times[w].push_back(l);
    return 0;
  });
  std::atomic<bool> stop{false};
  std::vector<HANDLE> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.push_back(StartThread(
        [&, i]() -> DWORD {
          while (!stop) {
            Sleep(DWORD(7 * (i + 1)));
            PostMessageW(hwnd, WM_USER, WPARAM(i), LPARAM(ClockNowMs()));
          }
          return 0;
        },
        nullptr));
  }
  AdvanceClock(1000);
  stop = true;
  AdvanceClock(100);  // lets every worker see the flag
  for (HANDLE h : workers) {
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
    CloseHandle(h);
  }
  for (int i = 0; i < kWorkers; ++i) {
    const int64_t period = 7 * (i + 1);
    ASSERT_GE(times[i].size(), size_t(1000 / period)) << "worker " << i;
    for (size_t k = 0; k < size_t(1000 / period); ++k) {
      ASSERT_EQ(times[i][k], int64_t(k + 1) * period) << "worker " << i << " pause " << k;
    }
  }
  DestroyWindow(hwnd);
}

TEST_F(VirtualTime, TimedWaitEndsAtItsTimeoutOrWhenSignalled) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  std::vector<std::pair<DWORD, int64_t>> results;
  HANDLE worker = StartThread(
      [&]() -> DWORD {
        for (int i = 0; i < 3; ++i) {
          DWORD r = WaitForSingleObject(event, 2000);
          results.emplace_back(r, ClockNowMs());
        }
        return 0;
      },
      nullptr);
  AdvanceClock(1999);
  EXPECT_TRUE(results.empty());
  AdvanceClock(1);  // first wait times out at 2000
  AdvanceClock(500);
  SetEvent(event);  // second wait is signalled at 2500
  RunUntilIdle();
  AdvanceClock(10000);  // the signal was used up: the third wait times out at 4500
  WaitForSingleObject(worker, INFINITE);
  EXPECT_EQ(results, (std::vector<std::pair<DWORD, int64_t>>{
                         {WAIT_TIMEOUT, 2000}, {WAIT_OBJECT_0, 2500}, {WAIT_TIMEOUT, 4500}}));
  CloseHandle(worker);
  CloseHandle(event);
}

TEST_F(VirtualTime, TickCountFollowsTheClock) {
  UseVirtualClock(0xFFFFFF00);
  EXPECT_EQ(GetTickCount(), 0xFFFFFF00u);
  AdvanceClock(0x200);
  EXPECT_EQ(GetTickCount(), 0x100u);  // wraps like the 32-bit tick count
  EXPECT_EQ(GetTickCount64(), 0x100000100u);
}

TEST_F(VirtualTime, RunUntilIdleIgnoresThreadsWaitingElsewhere) {
  std::promise<void> release;
  HANDLE worker = StartThread(
      [&]() -> DWORD {
        ExternalWaitScope outside;  // e.g. a blocking device read
        release.get_future().wait();
        return 0;
      },
      nullptr);
  RunUntilIdle();  // returns although the worker is blocked outside this layer
  release.set_value();
  EXPECT_EQ(WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
  CloseHandle(worker);
}

TEST_F(VirtualTime, WakeHookIsToldWhenATimerComesDue) {
  int calls = 0;
  Fired fired;
  HWND hwnd = TimerWindow(fired);
  SetQueueWakeHook(GetCurrentThreadId(), [&] { ++calls; });
  SetTimer(hwnd, 535, 2000, nullptr);
  PumpResult r = ProcessPendingMessages();
  EXPECT_EQ(r.nextTimerMs, 2000u);
  int before = calls;
  AdvanceToNextDeadline();
  EXPECT_GT(calls, before);
  EXPECT_EQ(fired, (Fired{{535, 2000}}));
  SetQueueWakeHook(GetCurrentThreadId(), nullptr);
  DestroyWindow(hwnd);
}

TEST(RealTime, TimerAndSleepAndWaitUseTheRealClock) {
  ASSERT_FALSE(IsVirtualClock());
  EXPECT_FALSE(AdvanceClock(10));
  Fired fired;
  HWND hwnd = TimerWindow(fired, {530});
  int64_t start = ClockNowMs();
  SetTimer(hwnd, 530, 20, nullptr);
  MSG msg;
  ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
  DispatchMessageW(&msg);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_GE(fired[0].second - start, 20);  // never early
  Sleep(5);
  EXPECT_GE(ClockNowMs() - start, 25);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 5), WAIT_TIMEOUT);
  EXPECT_GE(ClockNowMs() - start, 30);
  CloseHandle(event);
  DestroyWindow(hwnd);
}

TEST(Handles, BadHandlesFailWithoutHarm) {
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(uintptr_t(77)), INFINITE), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(uintptr_t(77))));
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  DWORD code;
  EXPECT_FALSE(GetExitCodeThread(event, &code));  // an event is not a thread
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // manual reset stays set
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_FALSE(SetEvent(event));
  EXPECT_EQ(StartThread(nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateThread(nullptr, 4097, nullptr, nullptr, 0, nullptr), nullptr);
}

}  // namespace
}  // namespace brevak
