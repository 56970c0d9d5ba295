#pragma once
// The twelve functions every zentrix build exports, as the program binds them by name at run
// time. Results are 1 for success and 0 for failure; a buffer starts with its report id.

#include "platform/winapi.h"

#ifdef ZENTRIX_EXPORTS
#define ZENTRIX_API extern "C" __attribute__((visibility("default")))
#else
#define ZENTRIX_API extern "C"
#endif

ZENTRIX_API int Set_VIDPID(int vendor_id, int product_id);
ZENTRIX_API int Set_Device_Version(int device_version);
ZENTRIX_API int Open_DevMonitor(HWND window, UINT button_msg, UINT device_msg);
ZENTRIX_API int Close_DevMonitor();
ZENTRIX_API int Open_FeatureDevice();
ZENTRIX_API int Close_FeatureDevice();
ZENTRIX_API int SetFeature(unsigned char* buffer, int length);
ZENTRIX_API int GetFeature(unsigned char* buffer, int length);
ZENTRIX_API int Open_ReportDevice();
ZENTRIX_API int Close_ReportDevice();
ZENTRIX_API int WriteUSB(unsigned char* buffer, int length);
ZENTRIX_API int ReadUSB(unsigned char* buffer, int length);

// Entry point types for binding with GetProcAddress.
namespace zentrix {
using SetVidPidFn = int (*)(int, int);
using SetDeviceVersionFn = int (*)(int);
using OpenDevMonitorFn = int (*)(HWND, UINT, UINT);
using NoArgFn = int (*)();
using BufferFn = int (*)(unsigned char*, int);
}  // namespace zentrix
