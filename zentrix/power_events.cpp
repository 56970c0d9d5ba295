#include "zentrix/power_events.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>

#include "platform/log.h"
#include "platform/loop.h"

namespace zentrix {
namespace {

struct Watch {
  std::function<void(bool)> on_sleep;
};

int OnPrepareForSleep(sd_bus_message* m, void* userdata, sd_bus_error*) {
  int suspending = 0;
  if (sd_bus_message_read(m, "b", &suspending) < 0) return 0;  // a malformed signal is ignored
  static_cast<Watch*>(userdata)->on_sleep(suspending != 0);
  return 0;
}

// Connects, subscribes and waits for signals until `stop_fd` is written. The bus connection
// lives and dies on this thread: sd-bus objects are not thread-safe.
void Run(int stop_fd, Watch watch) {
  sd_bus* bus = nullptr;
  sd_bus_slot* slot = nullptr;
  if (sd_bus_open_system(&bus) < 0 ||
      sd_bus_match_signal(bus, &slot, "org.freedesktop.login1", "/org/freedesktop/login1",
                          "org.freedesktop.login1.Manager", "PrepareForSleep", OnPrepareForSleep, &watch) < 0) {
    brevak::LogNote("zentrix", "PrepareForSleep not watched");
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
    return;
  }
  brevak::LogNote("zentrix", "PrepareForSleep watched");
  brevak::ExternalWaitScope outside;  // waits on the bus, not on the process clock
  for (;;) {
    int r;
    while ((r = sd_bus_process(bus, nullptr)) > 0) {
    }
    if (r < 0) {
      brevak::LogNote("zentrix", "PrepareForSleep watch ended: the system bus went away");
      break;
    }
    pollfd fds[2] = {{sd_bus_get_fd(bus), short(sd_bus_get_events(bus)), 0}, {stop_fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents) break;
  }
  sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(bus);
}

}  // namespace

bool SleepWatch::Start(std::function<void(bool)> on_sleep) {
  Stop();
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) return false;
  thread_ = std::thread(Run, stop_fd_, Watch{std::move(on_sleep)});
  return true;
}

void SleepWatch::Stop() {
  if (stop_fd_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stop_fd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (stop_fd_ >= 0) close(stop_fd_);
  stop_fd_ = -1;
}

}  // namespace zentrix
