#pragma once
// The four zentrix builds, loaded by file name from the program folder and bound to their
// entry points. What the program does with each connection (its messages, timers and controls)
// is the caller's.

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/winapi.h"
#include "protocol/transport.h"
#include "zentrix/hid_interfaces.h"
#include "zentrix/zentrix.h"

namespace brevak {

// Which build serves a connection and the device it is told to look for.
struct DriverBuildInfo {
  Transport transport;
  const char16_t* file;  // in the program folder
  uint16_t vendor_id;
  uint16_t product_id;
  uint16_t device_version;  // 0: the build is not told a version (cable, 1K)
};

// In binding order: cable, 1K, 4K, 8K.
inline constexpr std::array<DriverBuildInfo, 4> kDriverBuilds = {{
    {Transport::kCable, u"zentrix_2.so", zentrix::kVendorId, zentrix::kCableProductId, 0},
    {Transport::kReceiver1k, u"zentrix_1.so", zentrix::kVendorId, zentrix::kReceiver1kProductId, 0},
    {Transport::kReceiver4k, u"zentrix_4k.so", zentrix::kVendorId, zentrix::kReceiverHsProductId,
     zentrix::kReceiver4kVersion},
    {Transport::kReceiver8k, u"zentrix_8k.so", zentrix::kVendorId, zentrix::kReceiverHsProductId,
     zentrix::kReceiver8kVersion},
}};

// The position of the build that serves `t` in kDriverBuilds (and in every array of bound
// builds kept in that order); kDriverBuilds.size() for Bluetooth, which has none.
constexpr size_t BuildIndexOf(Transport t) {
  for (size_t i = 0; i < kDriverBuilds.size(); ++i) {
    if (kDriverBuilds[i].transport == t) return i;
  }
  return kDriverBuilds.size();
}

// One loaded build. A build that could not be loaded, or lacks an export, stays unbound and
// its connection is skipped.
struct BoundBuild {
  HMODULE module = nullptr;
  zentrix::SetVidPidFn Set_VIDPID = nullptr;
  zentrix::SetDeviceVersionFn Set_Device_Version = nullptr;
  zentrix::OpenDevMonitorFn Open_DevMonitor = nullptr;
  zentrix::NoArgFn Close_DevMonitor = nullptr;
  zentrix::NoArgFn Open_FeatureDevice = nullptr;
  zentrix::NoArgFn Close_FeatureDevice = nullptr;
  zentrix::BufferFn SetFeature = nullptr;
  zentrix::BufferFn GetFeature = nullptr;
  zentrix::NoArgFn Open_ReportDevice = nullptr;  // 4K and 8K builds
  zentrix::NoArgFn Close_ReportDevice = nullptr;
  zentrix::BufferFn WriteUSB = nullptr;
  zentrix::BufferFn ReadUSB = nullptr;

  bool bound() const { return module != nullptr; }
};

// The loaded builds, in kDriverBuilds order.
using BoundBuilds = std::array<BoundBuild, kDriverBuilds.size()>;

// Loads `info.file` from the program folder and binds its entry points (the report functions
// only for builds with a device version). Unbound on any failure, with the reason logged.
BoundBuild BindDriverBuild(const DriverBuildInfo& info);

// Closes the build's interfaces and monitor, so none of its threads outlives it, then frees
// it. Leaves `build` unbound.
void ReleaseDriverBuild(BoundBuild& build);

// The Bluetooth LE mouse as the HID class lists it (hid_enumerate 0x045E / 0x0059).
bool BluetoothHidPresent();

}  // namespace brevak
