// A stand-in driver build that only records which of its exports are called and when it is
// unloaded, to check how the program binds and releases a build. Built twice: with all twelve
// exports, and without WriteUSB (RECORDING_DRIVER_WITHOUT_WRITE).
#include "platform/system.h"
#include "zentrix/zentrix.h"

namespace {

// The test registers a pointer to its recording function under this name.
using CallLogFn = void (*)(const char*);
constexpr char kCallLogName[] = "test.driver_calls";

void Record(const char* call) {
  auto* log = static_cast<CallLogFn*>(brevak::GetProcessObject(kCallLogName));
  if (log && *log) (*log)(call);
}

__attribute__((destructor)) void Unloaded() { Record("unload"); }

}  // namespace

int Set_VIDPID(int, int) { return Record("Set_VIDPID"), 1; }
int Set_Device_Version(int) { return Record("Set_Device_Version"), 1; }
int Open_DevMonitor(HWND, UINT, UINT) { return Record("Open_DevMonitor"), 1; }
int Close_DevMonitor() { return Record("Close_DevMonitor"), 1; }
int Open_FeatureDevice() { return Record("Open_FeatureDevice"), 1; }
int Close_FeatureDevice() { return Record("Close_FeatureDevice"), 1; }
int SetFeature(unsigned char*, int) { return Record("SetFeature"), 1; }
int GetFeature(unsigned char*, int) { return Record("GetFeature"), 1; }
int Open_ReportDevice() { return Record("Open_ReportDevice"), 1; }
int Close_ReportDevice() { return Record("Close_ReportDevice"), 1; }
#ifndef RECORDING_DRIVER_WITHOUT_WRITE
int WriteUSB(unsigned char*, int) { return Record("WriteUSB"), 1; }
#endif
int ReadUSB(unsigned char*, int) { return Record("ReadUSB"), 1; }
