#pragma once
// A private system bus for one test: its own dbus-daemon, reached through
// DBUS_SYSTEM_BUS_ADDRESS, and python3-dbusmock templates served on it. Nothing touches the
// machine's real buses.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace brevak::test {

class PrivateSystemBus {
 public:
  PrivateSystemBus() {
    // dbus-daemon prints its address and pid, then forks into the background.
    FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    if (!out) return;
    char line[512];
    if (fgets(line, sizeof line, out)) address_ = Trim(line);
    if (fgets(line, sizeof line, out)) daemon_pid_ = pid_t(std::atoi(line));
    pclose(out);
    if (address_.empty() || daemon_pid_ <= 0) return;
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    had_old_ = old != nullptr;
    if (old) old_address_ = old;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
  }
  ~PrivateSystemBus() {
    Kill();
    if (!address_.empty()) {
      if (had_old_) setenv("DBUS_SYSTEM_BUS_ADDRESS", old_address_.c_str(), 1);
      else unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
  }
  PrivateSystemBus(const PrivateSystemBus&) = delete;
  PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

  bool ok() const { return !address_.empty() && daemon_pid_ > 0; }

  // The daemon goes away, as when the system bus dies.
  void Kill() {
    if (daemon_pid_ > 0) kill(daemon_pid_, SIGTERM);
    daemon_pid_ = 0;
  }

  // Starts `/usr/bin/python3 -m dbusmock --system --template <name>` (its call log dropped)
  // and waits until `bus_name` is owned. Returns the mock's pid, 0 on failure.
  static pid_t SpawnMock(const char* template_name, const char* bus_name) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", template_name, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    if (pid > 0 && !WaitForName(bus_name)) {
      EndProcess(pid);
      pid = 0;
    }
    return pid;
  }

  static void EndProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }

  static bool WaitForName(const char* name) {
    for (int i = 0; i < 200; ++i) {
      if (NameOwned(name)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  static bool NameOwned(const char* name) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    sd_bus_message* reply = nullptr;
    int has = 0;
    bool ok = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "NameHasOwner", nullptr, &reply, "s", name) >= 0 &&
              sd_bus_message_read(reply, "b", &has) >= 0;
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return ok && has;
  }

 private:
  static std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
  }

  std::string address_, old_address_;
  bool had_old_ = false;
  pid_t daemon_pid_ = 0;
};

}  // namespace brevak::test
