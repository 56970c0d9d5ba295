#pragma once
// python3-dbusmock's logind on a private system bus (see PrivateSystemBus).

#include <systemd/sd-bus.h>

#include "tests/common/private_system_bus.h"

namespace brevak::test {

class LogindRig {
 public:
  LogindRig() {
    if (bus_.ok()) mock_pid_ = PrivateSystemBus::SpawnMock("logind", "org.freedesktop.login1");
  }
  ~LogindRig() { PrivateSystemBus::EndProcess(mock_pid_); }
  LogindRig(const LogindRig&) = delete;
  LogindRig& operator=(const LogindRig&) = delete;

  bool ready() const { return mock_pid_ > 0; }

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
  PrivateSystemBus bus_;
  pid_t mock_pid_ = 0;
};

}  // namespace brevak::test
