#include "protocol/ble_bus_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <exception>

#include "platform/log.h"

namespace brevak {
namespace {

// A caller gives up on the bus thread only well after every call it could be making timed out.
constexpr auto kCallerWait = std::chrono::seconds(30);

}  // namespace

bool BleBusThread::Start(std::function<void()> loop) {
  std::lock_guard lock(mu_);
  if (thread_.joinable()) return true;
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) return false;
  stop_ = false;
  running_ = true;
  thread_ = std::thread(std::move(loop));
  return true;
}

void BleBusThread::Stop() {
  {
    std::lock_guard lock(mu_);
    if (!thread_.joinable()) return;
    stop_ = true;
    Wake();
  }
  thread_.join();
  std::lock_guard lock(mu_);
  running_ = false;
  FailJobsLocked();
  close(wake_fd_);
  wake_fd_ = -1;
}

int BleBusThread::Call(std::function<int()> work, int fallback) {
  auto job = std::make_shared<Job>();
  job->work = std::move(work);
  job->result = fallback;
  {
    std::lock_guard lock(mu_);
    if (!running_ || stop_) return fallback;
    jobs_.push_back(job);
    Wake();
  }
  std::unique_lock lock(mu_);
  if (!done_cv_.wait_for(lock, kCallerWait, [&] { return job->done; })) return fallback;
  return job->result;
}

// Called with mu_ held (or by Stop before the join), so the descriptor is not closed under it.
void BleBusThread::Wake() {
  const uint64_t one = 1;
  if (wake_fd_ >= 0) {
    [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
  }
}

bool BleBusThread::Stopping() {
  std::lock_guard lock(mu_);
  return stop_;
}

void BleBusThread::FailJobsLocked() {
  for (auto& job : jobs_) job->done = true;  // result stays the fallback
  jobs_.clear();
  done_cv_.notify_all();
}

bool BleBusThread::RunJobs() {
  bool ran = false;
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard lock(mu_);
      if (jobs_.empty() || stop_) return ran;
      job = jobs_.front();
      jobs_.pop_front();
    }
    int result = job->result;
    try {
      result = job->work();
    } catch (const std::exception& e) {
      LogNote("ble", "call failed: %s", e.what());
    }
    ran = true;
    std::lock_guard lock(mu_);
    job->result = result;
    job->done = true;
    done_cv_.notify_all();
  }
}

void BleBusThread::Idle(int timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!Stopping()) {
    RunJobs();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd fd{wake_fd_, POLLIN, 0};
    if (poll(&fd, 1, int(left.count())) > 0) DrainWake();
  }
}

void BleBusThread::DrainWake() {
  uint64_t n;
  while (read(wake_fd_, &n, sizeof n) > 0) {
  }
}

}  // namespace brevak
