#pragma once
// Turns a hang (a message never delivered, a waiter never woken) into a failure with a message
// instead of a test that runs until CTest gives up on it.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace brevak {

class HangGuard {
 public:
  HangGuard()
      : thread_([this] {
          std::unique_lock<std::mutex> lock(mu_);
          if (!cv_.wait_for(lock, std::chrono::seconds(60), [this] { return done_; })) {
            std::fprintf(stderr, "hung: a message or wake-up never arrived\n");
            std::abort();
          }
        }) {}
  ~HangGuard() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace brevak
