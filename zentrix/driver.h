#pragma once
// zentrix's own state and steps, shared by the files of one build. Every build compiles these
// sources itself (ZENTRIX_BUILD picks the connection), so each loaded library has its own copy.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"
#include "platform/winapi.h"
#include "zentrix/hid_backend.h"
#include "zentrix/hid_interfaces.h"

namespace zentrix {

// What differs between the four builds.
struct BuildConfig {
  Build build;
  bool forwards_address;  // 8K: ButtonMsg carries the address of the whole input report
  bool opens_feature;     // cable and 1K: Open_FeatureDevice finds the feature interface
};
const BuildConfig& ThisBuild();

// The backend for the next open: a test's in-process simulated mouse when registered, else the
// simulated mouse's socket when ZENTRIX_SIM names one, else hidraw.
HidBackend& CurrentBackend();

// One opened HID interface: the handle (the backend's device, shared so that a write in flight
// keeps it alive while another thread closes the record), its capabilities and attributes
// (kept in `info`) and its report buffers.
struct DeviceRecord {
  std::shared_ptr<HidDevice> handle;
  HidInterfaceInfo info;
  std::vector<uint8_t> InputReportBuffer;
  std::vector<uint8_t> output_report_buffer;

  void Release();
  bool empty() const { return !handle; }
};

struct MonitoredDevice {
  uint16_t index = 0;
  DeviceRecord record;
  HANDLE reader_thread = nullptr;
  DWORD reader_thread_id = 0;
  HANDLE wake_event = nullptr;  // wakes the reader from a pause or a suspend: a stop or a resume
  std::atomic<bool> stop{false};
};

// State that the unload guard still uses is made before every other static object of the
// library, so that it is destroyed after the guard has stopped the monitor.
#define ZENTRIX_STATE __attribute__((init_priority(1000)))

// Library-wide state of device access.
extern std::atomic<uint32_t> g_nVID;
extern std::atomic<uint32_t> g_nPID;
extern std::atomic<uint32_t> g_nDeviceVersion;
extern std::shared_ptr<HidDevice> g_hFeatureHandle;  // guarded by g_csIo
extern DeviceRecord g_ReportDevice;                  // guarded by g_csIo
extern std::mutex g_csIo;
extern std::atomic<bool> g_bSuspendTeardown;

// Opens `path` and keeps it in `record` when it is an interface of `kind` of the wanted
// device; otherwise leaves `record` empty. Logs the match.
bool MatchDevicePath(const std::string& path, InterfaceKind kind, DeviceRecord& record);

// Walks every present interface with `kind`: REPORT and FEATURE end at the first match
// (result 1, else 0); OSD adds every match as a monitored device (result: next index, or 0).
int EnumerateInterfaces(InterfaceKind kind);

// Device monitor (device_monitor.cpp).
enum class AddResult { kAdded, kAlreadyMonitored, kFailed };
AddResult AddMonitoredDevice(std::unique_ptr<MonitoredDevice> device);
// Stops every reader without posting anything: the library is being unloaded.
void ShutDownMonitor();

using brevak::LogNote;
using brevak::LogTrace;

}  // namespace zentrix
