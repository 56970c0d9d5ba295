#pragma once
// Suspend and resume as logind announces them (PrepareForSleep on the system bus).

#include <functional>
#include <thread>

namespace zentrix {

class SleepWatch {
 public:
  SleepWatch() = default;
  ~SleepWatch() { Stop(); }
  SleepWatch(const SleepWatch&) = delete;
  SleepWatch& operator=(const SleepWatch&) = delete;

  // Calls `on_sleep(true)` before the system sleeps and `on_sleep(false)` after it woke, from a
  // thread of its own, which connects to the system bus without holding up the caller. It
  // logs "PrepareForSleep watched" once subscribed, or "PrepareForSleep not watched". False
  // only when the thread cannot be started.
  bool Start(std::function<void(bool suspending)> on_sleep);
  // After it returns `on_sleep` is not called again.
  void Stop();

 private:
  std::thread thread_;
  int stop_fd_ = -1;
};

}  // namespace zentrix
