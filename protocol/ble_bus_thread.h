#pragma once
// The Bluetooth transport's bus thread: it alone touches the bus connection (sdbus-c++ is not
// thread-safe), so every other thread hands it its call as a job and waits for the result.
// The thread's own loop (given to Start) serves the jobs between its waits on the bus, and
// polls wake_fd() beside the connection so that a new job or a stop ends the wait.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace brevak {

class BleBusThread {
 public:
  BleBusThread() = default;
  ~BleBusThread() { Stop(); }
  BleBusThread(const BleBusThread&) = delete;
  BleBusThread& operator=(const BleBusThread&) = delete;

  // Runs `loop` on a new thread; true when it runs (already running counts).
  bool Start(std::function<void()> loop);
  // Asks the loop to end and joins it; jobs still queued fail with their fallback.
  void Stop();

  // Any other thread: runs `work` on the bus thread and returns its result; `fallback` when
  // the thread is not running, is stopping, or does not answer in time.
  int Call(std::function<int()> work, int fallback);

  // The bus thread's side.
  bool Stopping();
  // Runs the queued jobs; false when there were none.
  bool RunJobs();
  // Waits for a stop or the timeout, serving jobs meanwhile.
  void Idle(int timeout_ms);
  // Readable when a job or a stop came in; DrainWake empties it.
  int wake_fd() const { return wake_fd_; }
  void DrainWake();

 private:
  struct Job {
    std::function<int()> work;
    int result = 0;
    bool done = false;
  };
  void Wake();  // mu_ held
  void FailJobsLocked();

  std::mutex mu_;
  std::condition_variable done_cv_;
  std::deque<std::shared_ptr<Job>> jobs_;
  bool running_ = false;
  bool stop_ = false;
  int wake_fd_ = -1;
  std::thread thread_;
};

}  // namespace brevak
