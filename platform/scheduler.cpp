// Windows, queues, timers, threads, events and the process clock.
//
// All of it shares one mutex: the traffic is a few messages per second, and one lock makes
// the ordering guarantees (FIFO per queue, timers never after KillTimer, no lost wake-ups)
// easy to see. Handlers, timer procedures and wake hooks always run with the lock released.
//
// Idleness for the virtual clock is a count of "busy" threads: known threads that are not
// blocked in one of our waits. Whoever makes something ready for a blocked thread marks it
// busy in the same critical section (Wake), so a count of zero means nothing can move until
// the clock does.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <pthread.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/loop.h"
#include "platform/winapi.h"

namespace brevak {
namespace {

using Micros = int64_t;
constexpr Micros kNever = INT64_MAX;
constexpr size_t kMaxPosted = 10000;  // Windows' default per-queue limit
constexpr DWORD kExceptionExitCode = 0xE06D7363;

struct ThreadState;
using ThreadPtr = std::shared_ptr<ThreadState>;
using HookPtr = std::shared_ptr<const std::function<void()>>;

struct SentItem {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  ThreadPtr sender;
};

struct ThreadState {
  DWORD id = 0;
  bool has_queue = false;
  bool counted = false;     // takes part in idleness
  bool blocked = false;     // inside one of our waits and not woken since
  int external = 0;         // ExternalWaitScope depth
  bool driving = false;     // inside RunUntilIdle
  bool exited = false;
  bool contributing = false;  // currently adds one to State::busy
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentItem>> sent;
  bool quit_pending = false;
  int quit_code = 0;
  std::condition_variable cv;
  HookPtr hook;
  Micros deadline = kNever;  // of the current wait, for NextDeadline
  uintptr_t wait_object = 0;
};

struct Window {
  ThreadPtr owner;
  std::shared_ptr<WindowHandler> handler;
  bool destroying = false;
};

struct Timer {
  ThreadPtr owner;
  Micros due;
  Micros period;
  TIMERPROC proc;
  uint64_t seq;
};

struct KernelObject {
  enum Kind { kEvent, kThread } kind;
  bool manual_reset = false;
  bool signaled = false;   // event set, or thread ended
  DWORD exit_code = STILL_ACTIVE;
};

struct State {
  std::mutex mu;
  std::unordered_map<DWORD, ThreadPtr> threads;
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
  std::map<std::pair<uintptr_t, UINT_PTR>, Timer> timers;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next_window = 0x10000;
  uintptr_t next_object = 0x4000000;
  DWORD next_thread_id = 1000;
  uint64_t next_timer_seq = 0;
  int busy = 0;
  ThreadState* driver = nullptr;
  bool virtual_clock = false;
  Micros virtual_now = 0;
  const std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
};

// Never destroyed: detached threads may still use it while the process exits.
State& G() {
  static State* state = new State;
  return *state;
}

// Holds the lock and the wake hooks collected under it; the hooks run once it is released.
class Guard {
 public:
  Guard() : lk_(G().mu) {}
  ~Guard() { Unlock(); }
  void Unlock() {
    if (lk_.owns_lock()) lk_.unlock();
    std::vector<HookPtr> hooks;
    hooks.swap(hooks_);
    for (const HookPtr& h : hooks) (*h)();
  }
  void Lock() { lk_.lock(); }
  std::unique_lock<std::mutex>& lk() { return lk_; }
  void AddHook(const HookPtr& h) {
    if (h && std::find(hooks_.begin(), hooks_.end(), h) == hooks_.end()) hooks_.push_back(h);
  }
  bool HasHooks() const { return !hooks_.empty(); }

 private:
  std::unique_lock<std::mutex> lk_;
  std::vector<HookPtr> hooks_;
};

void ThreadExit(const ThreadPtr& t);

// The calling thread's state. Its exit clean-up (for threads that met this layer without
// StartThread) hangs on a pthread key rather than on a C++ thread_local with a destructor:
// registering one of those takes the dynamic loader's lock, which a thread that a library
// joins while it is being unloaded could never get.
struct ThreadHolder {
  ThreadPtr state;
};

pthread_key_t ThreadKey() {
  static const pthread_key_t key = [] {
    pthread_key_t k;
    pthread_key_create(&k, [](void* p) {
      auto* holder = static_cast<ThreadHolder*>(p);
      if (holder->state) ThreadExit(holder->state);
      delete holder;
    });
    return k;
  }();
  return key;
}

thread_local ThreadHolder* tls_holder = nullptr;

ThreadHolder& Tls() {
  if (!tls_holder) {
    tls_holder = new ThreadHolder;
    pthread_setspecific(ThreadKey(), tls_holder);
  }
  return *tls_holder;
}

ThreadState& Self() {  // lock held
  if (!Tls().state) {
    auto t = std::make_shared<ThreadState>();
    t->id = G().next_thread_id++;
    G().threads[t->id] = t;
    Tls().state = t;
  }
  return *Tls().state;
}

Micros NowLocked() {
  State& g = G();
  if (g.virtual_clock) return g.virtual_now;
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               g.origin)
      .count();
}

Micros AddMs(Micros now, int64_t ms) {
  if (ms >= (kNever - now) / 1000) return kNever;
  return now + ms * 1000;
}

void Recount(ThreadState& t) {
  State& g = G();
  bool c = t.counted && !t.blocked && t.external == 0 && !t.driving && !t.exited && !t.hook;
  if (c == t.contributing) return;
  t.contributing = c;
  if (c) {
    ++g.busy;
  } else {
    --g.busy;
    if (g.driver) g.driver->cv.notify_all();
  }
}

void MarkCounted(ThreadState& t) {
  t.counted = true;
  Recount(t);
}

// Something may be ready for `t`: make it re-check, and tell its foreign loop.
void Wake(Guard& guard, ThreadState& t) {
  if (t.blocked) {
    t.blocked = false;
    Recount(t);
  }
  t.cv.notify_all();
  guard.AddHook(t.hook);
}

// One blocking wait of the calling thread; callers loop and re-check what they wait for.
void WaitOnce(Guard& guard, ThreadState& t, Micros deadline) {
  State& g = G();
  if (guard.HasHooks()) {
    // A foreign loop woken under this lock (a send to a Qt thread) must hear of it before this
    // thread blocks; the caller re-checks what it waits for and comes back.
    guard.Unlock();
    guard.Lock();
    return;
  }
  t.deadline = deadline;
  t.blocked = true;
  Recount(t);
  if (!g.virtual_clock && deadline != kNever) {
    t.cv.wait_until(guard.lk(), g.origin + std::chrono::microseconds(deadline));
  } else {
    t.cv.wait(guard.lk());
  }
  t.blocked = false;
  t.deadline = kNever;
  Recount(t);
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
  auto it = G().windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == G().windows.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> FindObject(HANDLE h) {
  auto it = G().objects.find(reinterpret_cast<uintptr_t>(h));
  return it == G().objects.end() ? nullptr : it->second;
}

bool Matches(HWND msgHwnd, UINT message, HWND filter, UINT lo, UINT hi) {
  if (message == WM_QUIT) return true;
  if (filter && msgHwnd != filter) return false;
  if (lo == 0 && hi == 0) return true;
  return message >= lo && message <= hi;
}

// The earliest timer of `t` that the filter lets through.
std::map<std::pair<uintptr_t, UINT_PTR>, Timer>::iterator EarliestTimer(ThreadState& t,
                                                                        HWND filter, UINT lo,
                                                                        UINT hi) {
  auto best = G().timers.end();
  for (auto it = G().timers.begin(); it != G().timers.end(); ++it) {
    const Timer& tm = it->second;
    if (tm.owner.get() != &t) continue;
    if (!Matches(reinterpret_cast<HWND>(it->first.first), WM_TIMER, filter, lo, hi)) continue;
    if (best == G().timers.end() || tm.due < best->second.due ||
        (tm.due == best->second.due && tm.seq < best->second.seq)) {
      best = it;
    }
  }
  return best;
}

Micros EarliestTimerDue(ThreadState& t, HWND filter, UINT lo, UINT hi) {
  auto it = EarliestTimer(t, filter, lo, hi);
  return it == G().timers.end() ? kNever : it->second.due;
}

// Posted messages first, in order, then a pending quit, then due timers by deadline.
bool TakeReady(ThreadState& t, HWND filter, UINT lo, UINT hi, bool remove, bool takeQuit,
               MSG* out) {
  Micros now = NowLocked();
  for (auto it = t.posted.begin(); it != t.posted.end(); ++it) {
    if (!Matches(it->hwnd, it->message, filter, lo, hi)) continue;
    if (it->message == WM_QUIT && !takeQuit) break;
    *out = *it;
    if (remove) t.posted.erase(it);
    return true;
  }
  if (t.quit_pending && takeQuit) {
    *out = MSG{nullptr, WM_QUIT, WPARAM(t.quit_code), 0, DWORD(now / 1000), {0, 0}};
    if (remove) t.quit_pending = false;
    return true;
  }
  auto it = EarliestTimer(t, filter, lo, hi);
  if (it == G().timers.end() || it->second.due > now) return false;
  Timer& tm = it->second;
  *out = MSG{reinterpret_cast<HWND>(it->first.first), WM_TIMER, it->first.second,
             reinterpret_cast<LPARAM>(tm.proc), DWORD(now / 1000), {0, 0}};
  if (remove) {
    // One WM_TIMER per period at most; a late queue does not get a burst of them.
    tm.due += tm.period;
    if (tm.due <= now) tm.due = now + tm.period;
  }
  return true;
}

bool HasReady(ThreadState& t, bool takeQuit) {
  MSG m;
  return !t.sent.empty() || TakeReady(t, nullptr, 0, 0, false, takeQuit, &m);
}

void Complete(Guard& guard, SentItem& item, LRESULT result) {
  item.result = result;
  item.done = true;
  if (item.sender) Wake(guard, *item.sender);
}

// Handles the oldest message sent to this thread from another one, if any.
bool HandleOneSent(Guard& guard, ThreadState& t) {
  if (t.sent.empty()) return false;
  std::shared_ptr<SentItem> item = t.sent.front();
  t.sent.pop_front();
  std::shared_ptr<Window> w = FindWindow(item->hwnd);
  LRESULT result = 0;
  if (w && w->owner.get() == &t) {
    std::shared_ptr<WindowHandler> handler = w->handler;
    guard.Unlock();
    try {
      result = (*handler)(item->hwnd, item->message, item->wParam, item->lParam);
    } catch (...) {
      // The sender must not wait forever for a handler that will never return.
      guard.Lock();
      Complete(guard, *item, 0);
      throw;
    }
    guard.Lock();
  }
  Complete(guard, *item, result);
  return true;
}

void PushPosted(Guard& guard, ThreadState& t, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  t.posted.push_back(MSG{hwnd, msg, wp, lp, DWORD(NowLocked() / 1000), {0, 0}});
  Wake(guard, t);
}

void WakeWaitersOn(Guard& guard, uintptr_t object) {
  for (auto& [id, t] : G().threads) {
    if (t->wait_object == object) Wake(guard, *t);
  }
}

void RemoveWindowLocked(Guard& guard, uintptr_t key) {
  State& g = G();
  auto it = g.windows.find(key);
  if (it == g.windows.end()) return;
  ThreadPtr owner = it->second->owner;
  g.windows.erase(it);
  HWND hwnd = reinterpret_cast<HWND>(key);
  for (auto t = g.timers.lower_bound({key, 0}); t != g.timers.end() && t->first.first == key;) {
    t = g.timers.erase(t);
  }
  auto& posted = owner->posted;
  posted.erase(std::remove_if(posted.begin(), posted.end(),
                              [hwnd](const MSG& m) { return m.hwnd == hwnd; }),
               posted.end());
  auto& sent = owner->sent;
  for (auto s = sent.begin(); s != sent.end();) {
    if ((*s)->hwnd == hwnd) {
      Complete(guard, **s, 0);
      s = sent.erase(s);
    } else {
      ++s;
    }
  }
}

void ThreadExitLocked(Guard& guard, const ThreadPtr& t);

void ThreadExit(const ThreadPtr& t) {
  Guard guard;
  ThreadExitLocked(guard, t);
}

void ThreadExitLocked(Guard& guard, const ThreadPtr& t) {
  State& g = G();
  if (t->exited) return;
  t->exited = true;
  std::vector<uintptr_t> owned;
  for (auto& [key, w] : g.windows) {
    if (w->owner == t) owned.push_back(key);
  }
  for (uintptr_t key : owned) RemoveWindowLocked(guard, key);
  for (auto& item : t->sent) Complete(guard, *item, 0);
  t->sent.clear();
  t->posted.clear();
  t->hook.reset();
  auto it = g.threads.find(t->id);
  if (it != g.threads.end() && it->second == t) g.threads.erase(it);
  Recount(*t);
}

// Sets the virtual time and wakes everything whose deadline it reached.
void SetVirtualNowLocked(Guard& guard, Micros now) {
  State& g = G();
  g.virtual_now = now;
  for (auto& [id, t] : g.threads) {
    if (t->blocked && t->deadline <= now) Wake(guard, *t);
  }
  for (auto& [key, tm] : g.timers) {
    if (tm.due <= now) Wake(guard, *tm.owner);
  }
}

std::optional<Micros> NextDeadlineLocked() {
  State& g = G();
  Micros now = NowLocked();
  Micros best = kNever;
  for (auto& [key, tm] : g.timers) {
    if (tm.due > now) best = std::min(best, tm.due);
  }
  for (auto& [id, t] : g.threads) {
    if (t->blocked && t->deadline > now) best = std::min(best, t->deadline);
  }
  if (best == kNever) return std::nullopt;
  return best;
}

void SwitchClock(bool virtualClock, Micros virtualStart) {
  Guard guard;
  State& g = G();
  Micros before = NowLocked();
  g.virtual_clock = virtualClock;
  if (virtualClock) g.virtual_now = virtualStart;
  Micros after = NowLocked();
  // Timers keep the time they had left.
  for (auto& [key, tm] : g.timers) tm.due = tm.due - before + after;
  for (auto& [id, t] : g.threads) Wake(guard, *t);
}

DWORD Ticks(Micros now) { return DWORD(uint64_t(now / 1000)); }

}  // namespace

// ---- brevak extras ---------------------------------------------------------------------------

HWND CreateMessageWindow(WindowHandler handler) {
  if (!handler) return nullptr;
  Guard guard;
  State& g = G();
  ThreadState& t = Self();
  t.has_queue = true;
  uintptr_t key = g.next_window++;
  auto w = std::make_shared<Window>();
  w->owner = Tls().state;
  w->handler = std::make_shared<WindowHandler>(std::move(handler));
  g.windows[key] = w;
  return reinterpret_cast<HWND>(key);
}

BOOL SetQueueWakeHook(DWORD threadId, std::function<void()> hook) {
  Guard guard;
  State& g = G();
  ThreadState& self = Self();
  auto it = g.threads.find(threadId);
  if (it == g.threads.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  ThreadState& t = *it->second;
  if (&t == &self) t.has_queue = true;
  if (!t.has_queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  t.hook = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
  Recount(t);
  // Whatever arrived before the hook must not wait for the next post.
  if (t.hook && HasReady(t, true)) guard.AddHook(t.hook);
  return TRUE;
}

PumpResult ProcessPendingMessages() {
  PumpResult r;
  Guard guard;
  ThreadState& t = Self();
  t.has_queue = true;
  for (;;) {
    if (HandleOneSent(guard, t)) continue;
    MSG m;
    if (!TakeReady(t, nullptr, 0, 0, true, true, &m)) break;
    if (m.message == WM_QUIT) {
      r.quit = true;
      r.exitCode = int(m.wParam);
      break;
    }
    guard.Unlock();
    DispatchMessageW(&m);
    guard.Lock();
  }
  Micros due = EarliestTimerDue(t, nullptr, 0, 0);
  if (due != kNever) {
    Micros left = std::max<Micros>(0, due - NowLocked());
    r.nextTimerMs = DWORD(std::min<Micros>((left + 999) / 1000, INFINITE - 1));
  }
  return r;
}

HANDLE StartThread(std::function<DWORD()> body, DWORD* threadId) {
  if (!body) return nullptr;
  Guard guard;
  State& g = G();
  auto t = std::make_shared<ThreadState>();
  t->id = g.next_thread_id++;
  t->has_queue = true;
  t->counted = true;
  Recount(*t);  // busy from now, so RunUntilIdle waits for its first steps
  g.threads[t->id] = t;
  uintptr_t key = g.next_object++;
  auto obj = std::make_shared<KernelObject>();
  obj->kind = KernelObject::kThread;
  g.objects[key] = obj;
  try {
    std::thread([t, obj, key, body = std::move(body)]() mutable {
      Tls().state = t;
      DWORD code = kExceptionExitCode;
      try {
        code = body();
      } catch (...) {
        LogNote("platform", "thread ended by an exception");
      }
      // The body may belong to a library that is unloaded as soon as the handle is signalled:
      // nothing of it may run (not even its destructor) after that.
      body = nullptr;
      // One step: a joiner must never see this thread gone but its handle not yet signalled, or
      // RunUntilIdle could find everyone idle in between.
      Guard done;
      ThreadExitLocked(done, t);
      obj->signaled = true;
      obj->exit_code = code;
      WakeWaitersOn(done, key);
    }).detach();
  } catch (...) {
    g.objects.erase(key);
    g.threads.erase(t->id);
    t->exited = true;
    Recount(*t);
    return nullptr;
  }
  if (threadId) *threadId = t->id;
  return reinterpret_cast<HANDLE>(key);
}

ExternalWaitScope::ExternalWaitScope() {
  Guard guard;
  ThreadState& t = Self();
  ++t.external;
  Recount(t);
}

ExternalWaitScope::~ExternalWaitScope() {
  Guard guard;
  ThreadState& t = Self();
  --t.external;
  Recount(t);
}

// ---- clock -----------------------------------------------------------------------------------

int64_t ClockNowMs() {
  Guard guard;
  return NowLocked() / 1000;
}

void UseVirtualClock(int64_t startMs) { SwitchClock(true, startMs * 1000); }
void UseRealClock() { SwitchClock(false, 0); }

bool IsVirtualClock() {
  Guard guard;
  return G().virtual_clock;
}

void RunUntilIdle() {
  Guard guard;
  State& g = G();
  ThreadState& d = Self();
  ThreadState* previous = g.driver;
  g.driver = &d;
  d.driving = true;
  Recount(d);
  for (;;) {
    if (d.has_queue && HasReady(d, false)) {
      // Hand our own queue on to its handlers; a quit stays queued for the thread's loop.
      guard.Unlock();
      for (;;) {
        guard.Lock();
        if (HandleOneSent(guard, d)) {
          guard.Unlock();
          continue;
        }
        MSG m;
        bool got = TakeReady(d, nullptr, 0, 0, true, false, &m);
        guard.Unlock();
        if (!got) break;
        DispatchMessageW(&m);
      }
      guard.Lock();
      continue;
    }
    if (g.busy == 0) break;
    WaitOnce(guard, d, d.has_queue ? EarliestTimerDue(d, nullptr, 0, 0) : kNever);
  }
  d.driving = false;
  g.driver = previous;
  Recount(d);
}

bool AdvanceClock(int64_t ms) {
  Micros target;
  {
    Guard guard;
    if (!G().virtual_clock) return false;
    target = AddMs(NowLocked(), std::max<int64_t>(ms, 0));
  }
  for (;;) {
    RunUntilIdle();
    Guard guard;
    std::optional<Micros> next = NextDeadlineLocked();
    if (!next || *next >= target) {
      SetVirtualNowLocked(guard, target);
      break;
    }
    SetVirtualNowLocked(guard, *next);
  }
  RunUntilIdle();
  return true;
}

std::optional<int64_t> AdvanceToNextDeadline() {
  {
    Guard guard;
    if (!G().virtual_clock) return std::nullopt;
  }
  RunUntilIdle();
  std::optional<int64_t> now;
  {
    Guard guard;
    std::optional<Micros> next = NextDeadlineLocked();
    if (!next) return std::nullopt;
    SetVirtualNowLocked(guard, *next);
    now = *next / 1000;
  }
  RunUntilIdle();
  return now;
}

std::optional<int64_t> NextDeadline() {
  Guard guard;
  std::optional<Micros> next = NextDeadlineLocked();
  if (!next) return std::nullopt;
  return (*next + 999) / 1000;
}

}  // namespace brevak

using namespace brevak;

// ---- messages --------------------------------------------------------------------------------

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Guard guard;
  std::shared_ptr<Window> w = FindWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  ThreadState& t = Self();
  if (w->owner.get() == &t) {
    std::shared_ptr<WindowHandler> handler = w->handler;
    guard.Unlock();
    return (*handler)(hwnd, msg, wParam, lParam);
  }
  auto item = std::make_shared<SentItem>(SentItem{hwnd, msg, wParam, lParam, 0, false,
                                                  Tls().state});
  w->owner->sent.push_back(item);
  Wake(guard, *w->owner);
  MarkCounted(t);
  for (;;) {
    if (item->done) return item->result;
    if (HandleOneSent(guard, t)) continue;
    WaitOnce(guard, t, kNever);
  }
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) {
    DWORD self;
    {
      Guard guard;
      Self().has_queue = true;
      self = Self().id;
    }
    return PostThreadMessageW(self, msg, wParam, lParam);
  }
  Guard guard;
  std::shared_ptr<Window> w = FindWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (w->owner->posted.size() >= kMaxPosted) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  PushPosted(guard, *w->owner, hwnd, msg, wParam, lParam);
  return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  Guard guard;
  auto it = G().threads.find(threadId);
  if (it == G().threads.end() || !it->second->has_queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  ThreadState& t = *it->second;
  if (t.posted.size() >= kMaxPosted) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  PushPosted(guard, t, nullptr, msg, wParam, lParam);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  Guard guard;
  ThreadState& t = Self();
  t.has_queue = true;
  t.quit_pending = true;
  t.quit_code = exitCode;
  Wake(guard, t);
}

BOOL GetMessageW(MSG* msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  Guard guard;
  ThreadState& t = Self();
  t.has_queue = true;
  MarkCounted(t);
  for (;;) {
    if (hwnd) {
      std::shared_ptr<Window> w = FindWindow(hwnd);
      if (!w || w->owner.get() != &t) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
      }
    }
    if (HandleOneSent(guard, t)) continue;
    if (TakeReady(t, hwnd, msgFilterMin, msgFilterMax, true, true, msg)) {
      return msg->message == WM_QUIT ? 0 : 1;
    }
    WaitOnce(guard, t, EarliestTimerDue(t, hwnd, msgFilterMin, msgFilterMax));
  }
}

BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax, UINT removeMsg) {
  if (!msg) return FALSE;
  Guard guard;
  ThreadState& t = Self();
  t.has_queue = true;
  while (HandleOneSent(guard, t)) {
  }
  return TakeReady(t, hwnd, msgFilterMin, msgFilterMax, (removeMsg & PM_REMOVE) != 0, true, msg)
             ? TRUE
             : FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  Guard guard;
  std::shared_ptr<Window> w = FindWindow(msg->hwnd);
  if (!w || w->owner.get() != &Self()) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    // Only a procedure this timer was set with: a posted WM_TIMER can carry any lParam.
    auto it = G().timers.find({reinterpret_cast<uintptr_t>(msg->hwnd), msg->wParam});
    if (it == G().timers.end() || reinterpret_cast<LPARAM>(it->second.proc) != msg->lParam) {
      return 0;
    }
    TIMERPROC proc = it->second.proc;
    DWORD now = Ticks(NowLocked());
    guard.Unlock();
    proc(msg->hwnd, WM_TIMER, msg->wParam, now);
    return 0;
  }
  std::shared_ptr<WindowHandler> handler = w->handler;
  guard.Unlock();
  return (*handler)(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

BOOL DestroyWindow(HWND hwnd) {
  Guard guard;
  std::shared_ptr<Window> w = FindWindow(hwnd);
  if (!w || w->owner.get() != &Self() || w->destroying) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->destroying = true;
  std::shared_ptr<WindowHandler> handler = w->handler;
  guard.Unlock();
  (*handler)(hwnd, WM_DESTROY, 0, 0);
  guard.Lock();
  RemoveWindowLocked(guard, reinterpret_cast<uintptr_t>(hwnd));
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  Guard guard;
  return FindWindow(hwnd) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  Guard guard;
  std::shared_ptr<Window> w = FindWindow(hwnd);
  if (!w) return 0;
  if (processId) *processId = DWORD(getpid());
  return w->owner->id;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  Guard guard;
  State& g = G();
  std::shared_ptr<Window> w = FindWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  Micros period = Micros(std::max(elapseMs, USER_TIMER_MINIMUM)) * 1000;
  g.timers[{reinterpret_cast<uintptr_t>(hwnd), id}] =
      Timer{w->owner, NowLocked() + period, period, proc, g.next_timer_seq++};
  Wake(guard, *w->owner);  // its wait deadline may be earlier now
  return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  Guard guard;
  auto it = G().timers.find({reinterpret_cast<uintptr_t>(hwnd), id});
  if (it == G().timers.end()) return FALSE;
  ThreadPtr owner = it->second.owner;
  G().timers.erase(it);
  Wake(guard, *owner);
  return TRUE;
}

// ---- threads, events, waits ------------------------------------------------------------------

DWORD GetCurrentThreadId() {
  Guard guard;
  return Self().id;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE proc, LPVOID param, DWORD,
                    DWORD* threadId) {
  if (!proc) return nullptr;
  return StartThread([proc, param] { return proc(param); }, threadId);
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  Guard guard;
  std::shared_ptr<KernelObject> obj = FindObject(thread);
  if (!obj || obj->kind != KernelObject::kThread || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = obj->signaled ? obj->exit_code : STILL_ACTIVE;
  return TRUE;
}

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, LPCWSTR) {
  Guard guard;
  State& g = G();
  uintptr_t key = g.next_object++;
  auto obj = std::make_shared<KernelObject>();
  obj->kind = KernelObject::kEvent;
  obj->manual_reset = manualReset != FALSE;
  obj->signaled = initialState != FALSE;
  g.objects[key] = obj;
  return reinterpret_cast<HANDLE>(key);
}

static BOOL SetEventState(HANDLE event, bool signaled) {
  Guard guard;
  std::shared_ptr<KernelObject> obj = FindObject(event);
  if (!obj || obj->kind != KernelObject::kEvent) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  obj->signaled = signaled;
  if (signaled) WakeWaitersOn(guard, reinterpret_cast<uintptr_t>(event));
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return SetEventState(event, true); }
BOOL ResetEvent(HANDLE event) { return SetEventState(event, false); }

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) {
  Guard guard;
  std::shared_ptr<KernelObject> obj = FindObject(handle);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  ThreadState& t = Self();
  MarkCounted(t);
  Micros deadline = timeoutMs == INFINITE ? kNever : AddMs(NowLocked(), timeoutMs);
  for (;;) {
    if (obj->signaled) {
      if (obj->kind == KernelObject::kEvent && !obj->manual_reset) obj->signaled = false;
      return WAIT_OBJECT_0;
    }
    if (NowLocked() >= deadline) return WAIT_TIMEOUT;
    t.wait_object = reinterpret_cast<uintptr_t>(handle);
    WaitOnce(guard, t, deadline);
    t.wait_object = 0;
  }
}

BOOL CloseHandle(HANDLE handle) {
  Guard guard;
  if (G().objects.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void Sleep(DWORD ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  Guard guard;
  ThreadState& t = Self();
  MarkCounted(t);
  Micros deadline = ms == INFINITE ? kNever : AddMs(NowLocked(), ms);
  while (NowLocked() < deadline) WaitOnce(guard, t, deadline);
}

DWORD GetTickCount() {
  Guard guard;
  return Ticks(NowLocked());
}

uint64_t GetTickCount64() {
  Guard guard;
  return uint64_t(NowLocked() / 1000);
}
