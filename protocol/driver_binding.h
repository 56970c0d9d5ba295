#pragma once
// The four zentrix builds, loaded by file name from the program folder and bound to their
// entry points, with the numbers each connection uses.

#include <array>
#include <cstdint>

#include "platform/winapi.h"
#include "protocol/transport.h"
#include "zentrix/zentrix.h"

namespace brevak {

struct DriverBuildInfo {
  Transport transport;
  const char16_t* file;  // in the program folder
  uint16_t vendor_id;
  uint16_t product_id;
  uint16_t device_version;  // 0: the build is not told a version (cable, 1K)
  UINT input_msg;           // ButtonMsg of the build
  UINT device_msg;          // DeviceMsg of the build
  UINT_PTR watchdog_timer;  // 0: none (cable)
  const char* indicator;    // control shown while present
};

// In binding order: cable, 1K, 4K, 8K.
inline constexpr std::array<DriverBuildInfo, 4> kDriverBuilds = {{
    {Transport::kCable, u"zentrix_2.so", 0x1D57, 0x2029, 0, 1555, 1556, 0, "ms_1_wired"},
    {Transport::kReceiver1k, u"zentrix_1.so", 0x1D57, 0xFA60, 0, 1553, 1554, 528, "ms_1_wireless"},
    {Transport::kReceiver4k, u"zentrix_4k.so", 0x1D57, 0xFA65, 0x0116, 1557, 1558, 533, "ms_1_wireless_4k"},
    {Transport::kReceiver8k, u"zentrix_8k.so", 0x1D57, 0xFA65, 0x0118, 1559, 1560, 534, "ms_1_wireless_8k"},
}};

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

// Loads `info.file` from the program folder and binds its entry points (the report functions
// only for builds with a device version). Unbound on any failure, with the reason logged.
BoundBuild BindDriverBuild(const DriverBuildInfo& info);

// Closes the build's interfaces and monitor, so none of its threads outlives it, then frees
// it. Leaves `build` unbound.
void ReleaseDriverBuild(BoundBuild& build);

// The Bluetooth LE mouse as the HID class lists it (hid_enumerate 0x045E / 0x0059).
bool BluetoothHidPresent();

}  // namespace brevak
