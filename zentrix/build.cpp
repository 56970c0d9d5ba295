// What makes this library one of the four builds, where its HID interfaces come from, and
// what happens when it is unloaded.
#include <cstdlib>
#include <mutex>

#include "platform/system.h"
#include "zentrix/driver.h"
#include "zentrix/hidraw_backend.h"
#include "zentrix/sim_socket_backend.h"

#ifndef ZENTRIX_BUILD
#error "ZENTRIX_BUILD selects the build: 1 (1K receiver), 2 (cable), 4 (4K receiver) or 8 (8K receiver)"
#endif

namespace zentrix {

const BuildConfig& ThisBuild() {
#if ZENTRIX_BUILD == 1
  static constexpr BuildConfig config{Build::kReceiver1k, false, true};
#elif ZENTRIX_BUILD == 2
  static constexpr BuildConfig config{Build::kCable, false, true};
#elif ZENTRIX_BUILD == 4
  static constexpr BuildConfig config{Build::kReceiver4k, false, false};
#elif ZENTRIX_BUILD == 8
  static constexpr BuildConfig config{Build::kReceiver8k, true, false};
#else
#error "unknown ZENTRIX_BUILD"
#endif
  return config;
}

namespace {

// Destroyed after the unload guard, which still stops the monitor's hotplug reports on it.
std::once_flag g_backend_once;
ZENTRIX_STATE std::unique_ptr<HidBackend> g_backend;

// Unloading the library must not leave its threads running code that is about to be unmapped:
// the monitor and every reader stop first (without messages: the program is letting go).
struct UnloadGuard {
  ~UnloadGuard() {
    ShutDownMonitor();
    std::lock_guard lock(g_csIo);
    g_ReportDevice.Release();
    g_hFeatureHandle.reset();
  }
} unload_guard;

}  // namespace

HidBackend& CurrentBackend() {
  if (void* registered = brevak::GetProcessObject(kHidBackendObjectName)) return *static_cast<HidBackend*>(registered);
  std::call_once(g_backend_once, [] {
    const char* sim = std::getenv("ZENTRIX_SIM");
    g_backend = sim && *sim ? MakeSimSocketBackend(sim) : MakeHidrawBackend();
  });
  return *g_backend;
}
}  // namespace zentrix
