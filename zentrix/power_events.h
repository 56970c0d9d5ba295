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
  // thread of its own. False when the system bus or logind's signal cannot be reached.
  bool Start(std::function<void(bool suspending)> on_sleep);
  // After it returns `on_sleep` is not called again.
  void Stop();

 private:
  std::thread thread_;
  int stop_fd_ = -1;
};

}  // namespace zentrix
