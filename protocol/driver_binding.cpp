#include "protocol/driver_binding.h"

#include <hidapi.h>

#include <mutex>
#include <string>

#include "platform/log.h"
#include "platform/system.h"
#include "platform/text.h"
#include "zentrix/hid_interfaces.h"

namespace brevak {
namespace {

// Binds one export; false (and the reason logged) when the build lacks it.
template <typename Fn>
bool BindExport(HMODULE module, const char* name, const std::string& file, Fn& fn) {
  fn = reinterpret_cast<Fn>(GetProcAddress(module, name));
  if (fn) return true;
  LogNote("BindDriverBuild", "%s has no export %s: %s", file.c_str(), name, LastLoadError().c_str());
  return false;
}

// hidapi keeps one error string per process and rewrites it without a lock in hid_init and
// hid_enumerate; the zentrix builds of this process share a lock around those calls under
// this name, so the presence check takes the same one.
constexpr char kHidapiLockName[] = "zentrix.hidapi_lock";

std::mutex& HidapiLock() {
  static std::mutex* const lock = [] {
    auto* shared = static_cast<std::mutex*>(GetProcessObject(kHidapiLockName));
    if (!shared) {
      shared = new std::mutex;  // never freed: a build may still hold it after we are gone
      SetProcessObject(kHidapiLockName, shared);
    }
    return shared;
  }();
  return *lock;
}

}  // namespace

BoundBuild BindDriverBuild(const DriverBuildInfo& info) {
  const std::string file = Utf16ToUtf8(info.file);
  BoundBuild b;
  b.module = LoadLibraryW((ProgramFolder() + info.file).c_str());
  if (!b.module) {
    LogNote("BindDriverBuild", "cannot load %s: %s", file.c_str(), LastLoadError().c_str());
    return {};
  }
  bool ok = BindExport(b.module, "Set_VIDPID", file, b.Set_VIDPID);
  ok = BindExport(b.module, "Open_DevMonitor", file, b.Open_DevMonitor) && ok;
  ok = BindExport(b.module, "Close_DevMonitor", file, b.Close_DevMonitor) && ok;
  ok = BindExport(b.module, "Open_FeatureDevice", file, b.Open_FeatureDevice) && ok;
  ok = BindExport(b.module, "Close_FeatureDevice", file, b.Close_FeatureDevice) && ok;
  ok = BindExport(b.module, "SetFeature", file, b.SetFeature) && ok;
  ok = BindExport(b.module, "GetFeature", file, b.GetFeature) && ok;
  // Only the high-rate receivers are told a version and write output reports.
  if (info.device_version != 0) {
    ok = BindExport(b.module, "Set_Device_Version", file, b.Set_Device_Version) && ok;
    ok = BindExport(b.module, "Open_ReportDevice", file, b.Open_ReportDevice) && ok;
    ok = BindExport(b.module, "Close_ReportDevice", file, b.Close_ReportDevice) && ok;
    ok = BindExport(b.module, "WriteUSB", file, b.WriteUSB) && ok;
    ok = BindExport(b.module, "ReadUSB", file, b.ReadUSB) && ok;
  }
  if (!ok) {
    // Nothing of it has run yet beyond its loading, so it can go at once.
    FreeLibrary(b.module);
    return {};
  }
  return b;
}

void ReleaseDriverBuild(BoundBuild& build) {
  if (build.bound()) {
    // The monitor's threads run the build's code: they must have ended before it is unmapped.
    if (build.Close_ReportDevice) build.Close_ReportDevice();
    build.Close_FeatureDevice();
    build.Close_DevMonitor();
    FreeLibrary(build.module);
  }
  build = BoundBuild{};
}

bool BluetoothHidPresent() {
  std::lock_guard<std::mutex> lock(HidapiLock());
  if (hid_init() != 0) return false;
  hid_device_info* list = hid_enumerate(zentrix::kBleVendorId, zentrix::kBleProductId);
  const bool present = list != nullptr;
  hid_free_enumeration(list);
  return present;
}

}  // namespace brevak
