#pragma once
// A private system bus for one test: its own dbus-daemon and python3-dbusmock's logind, reached
// through DBUS_SYSTEM_BUS_ADDRESS. Nothing touches the machine's real buses.

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

class LogindRig {
 public:
  LogindRig() {
    // dbus-daemon prints its address and pid, then forks into the background.
    FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    if (!out) return;
    char line[512];
    if (fgets(line, sizeof line, out)) address_ = Trim(line);
    if (fgets(line, sizeof line, out)) daemon_pid_ = pid_t(std::atoi(line));
    pclose(out);
    if (address_.empty() || daemon_pid_ <= 0) return;
    old_address_ = std::getenv("DBUS_SYSTEM_BUS_ADDRESS") ? std::getenv("DBUS_SYSTEM_BUS_ADDRESS") : "";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);

    const char* argv[] = {"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind", nullptr};
    if (posix_spawn(&mock_pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) mock_pid_ = 0;
    // Ready once logind's name is owned.
    for (int i = 0; i < 200 && mock_pid_ > 0 && !ready_; ++i) {
      ready_ = NameOwned("org.freedesktop.login1");
      if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~LogindRig() {
    if (mock_pid_ > 0) {
      kill(mock_pid_, SIGTERM);
      waitpid(mock_pid_, nullptr, 0);
    }
    if (daemon_pid_ > 0) kill(daemon_pid_, SIGTERM);
    if (!address_.empty()) {
      if (old_address_.empty()) unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
      else setenv("DBUS_SYSTEM_BUS_ADDRESS", old_address_.c_str(), 1);
    }
  }
  LogindRig(const LogindRig&) = delete;
  LogindRig& operator=(const LogindRig&) = delete;

  bool ready() const { return ready_; }

  // Has the mock emit Manager.PrepareForSleep(suspending).
  bool EmitPrepareForSleep(bool suspending) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    sd_bus_message* m = nullptr;
    bool ok = sd_bus_message_new_method_call(bus, &m, "org.freedesktop.login1", "/org/freedesktop/login1",
                                             "org.freedesktop.DBus.Mock", "EmitSignal") >= 0 &&
              sd_bus_message_append(m, "sss", "org.freedesktop.login1.Manager", "PrepareForSleep", "b") >= 0 &&
              sd_bus_message_open_container(m, 'a', "v") >= 0 && sd_bus_message_append(m, "v", "b", int(suspending)) >= 0 &&
              sd_bus_message_close_container(m) >= 0 && sd_bus_call(bus, m, 5'000'000, nullptr, nullptr) >= 0;
    sd_bus_message_unref(m);
    sd_bus_flush_close_unref(bus);
    return ok;
  }

 private:
  static std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
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

  std::string address_, old_address_;
  pid_t daemon_pid_ = 0;
  pid_t mock_pid_ = 0;
  bool ready_ = false;
};

}  // namespace brevak::test
