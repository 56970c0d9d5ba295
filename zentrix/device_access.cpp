// Finding, opening and talking to the mouse's HID interfaces: matching, the feature and
// report interfaces, WriteUSB and ReadUSB.
#include <cstring>

#include "zentrix/driver.h"
#include "zentrix/zentrix.h"

namespace zentrix {

std::atomic<uint32_t> g_nVID{0};
std::atomic<uint32_t> g_nPID{0};
std::atomic<uint32_t> g_nDeviceVersion{0};
ZENTRIX_STATE std::shared_ptr<HidDevice> g_hFeatureHandle;
ZENTRIX_STATE DeviceRecord g_ReportDevice;
std::mutex g_csIo;
std::atomic<bool> g_bSuspendTeardown{false};

namespace {

// Reads and writes longer than this are refused, as the transfer buffer holds no more.
constexpr int kTransferBytes = kTransferLimit;
// How long WriteUSB and ReadUSB wait for the device.
constexpr int kIoWaitMs = 2000;

bool IdentityMatches(const HidInterfaceInfo& info, InterfaceKind kind) {
  const Usage want = InterfaceUsage(ThisBuild().build, kind);
  // Ids are compared as 16-bit values against the stored values, so a stored id above 0xFFFF
  // never matches; only the low 8 bits of the version take part.
  return info.usage_page == want.page && info.usage == want.usage && info.vendor_id == g_nVID.load() &&
         info.product_id == g_nPID.load() && (info.version_number & 0xFF) == (g_nDeviceVersion.load() & 0xFF);
}

void LogMatch(InterfaceKind kind, const HidInterfaceInfo& info) {
  switch (kind) {
    case InterfaceKind::kOsd:
      if (ThisBuild().build == Build::kReceiver8k) {
        LogTrace("OpenHidDevice OSD_USAGEPAGE Success %04x, %04x, %04x, %04x, %02x\r\n", info.usage_page, info.usage,
             info.vendor_id, info.product_id, info.version_number);
      } else {
        LogTrace("OpenHidDevice OSD_USAGEPAGE Success\n");
      }
      break;
    case InterfaceKind::kFeature: LogTrace("OpenFeatureDevice FEATURE_USAGEPAGE Success\n"); break;
    case InterfaceKind::kReport: LogTrace("OpenHidDevice REPORT_USAGEPAGE Success\n"); break;
  }
}

}  // namespace

void DeviceRecord::Release() {
  if (handle) handle->Cancel();  // wakes a read still waiting on it
  handle.reset();
  info = {};
  InputReportBuffer.clear();
  InputReportBuffer.shrink_to_fit();
  output_report_buffer.clear();
  output_report_buffer.shrink_to_fit();
}

bool MatchDevicePath(const std::string& path, InterfaceKind kind, DeviceRecord& record) {
  std::unique_ptr<HidDevice> device = CurrentBackend().Open(path);
  if (!device) return false;
  const HidInterfaceInfo info = device->info();
  if (!IdentityMatches(info, kind)) return false;  // closes the device
  LogMatch(kind, info);
  if (kind == InterfaceKind::kFeature) {
    std::lock_guard lock(g_csIo);
    g_hFeatureHandle = std::move(device);
    return true;
  }
  record.handle = std::move(device);
  record.info = info;
  record.InputReportBuffer.assign(info.input_report_length, 0);
  record.output_report_buffer.assign(info.output_report_length, 0);
  return true;
}

int EnumerateInterfaces(InterfaceKind kind) {
  HidBackend& backend = CurrentBackend();
  int next_index = 0;
  for (const HidInterfaceInfo& listed : backend.Enumerate()) {
    // Interfaces of other devices are not opened at all: the listing already tells.
    if (!IdentityMatches(listed, kind)) continue;
    auto node = std::make_unique<MonitoredDevice>();
    if (!MatchDevicePath(listed.path, kind, node->record)) continue;
    if (kind == InterfaceKind::kFeature) return 1;
    if (kind == InterfaceKind::kReport) {
      std::lock_guard lock(g_csIo);
      g_ReportDevice.Release();  // an earlier record is closed, not leaked
      g_ReportDevice = std::move(node->record);
      return 1;
    }
    const AddResult added = AddMonitoredDevice(std::move(node));
    if (added == AddResult::kFailed) break;
    if (added == AddResult::kAdded) next_index = 1;
  }
  return next_index;
}

}  // namespace zentrix

using namespace zentrix;

int Set_VIDPID(int vendor_id, int product_id) {
  g_nVID = uint32_t(vendor_id);
  g_nPID = uint32_t(product_id);
  return 1;
}

int Set_Device_Version(int device_version) {
  g_nDeviceVersion = uint32_t(device_version);
  return 1;
}

int Open_FeatureDevice() {
  // Only the cable and 1K builds carry frames as feature reports; the receivers' builds keep
  // the call and open nothing.
  if (!ThisBuild().opens_feature) return 1;
  {
    std::lock_guard lock(g_csIo);
    if (g_hFeatureHandle) g_hFeatureHandle->Cancel();
    g_hFeatureHandle.reset();
  }
  return EnumerateInterfaces(InterfaceKind::kFeature);
}

int Close_FeatureDevice() {
  if (!ThisBuild().opens_feature) return 1;
  std::lock_guard lock(g_csIo);
  if (g_hFeatureHandle) g_hFeatureHandle->Cancel();
  g_hFeatureHandle.reset();
  return 1;
}

int SetFeature(unsigned char* buffer, int length) {
  std::shared_ptr<HidDevice> device;
  {
    std::lock_guard lock(g_csIo);
    device = g_hFeatureHandle;
  }
  LogTrace("g_hFeatureHandle:%x, %x, \n", unsigned(reinterpret_cast<uintptr_t>(device.get())), unsigned(length));
  int result = 0;
  if (device && buffer && length > 0) result = device->SetFeature(buffer, size_t(length)) ? 1 : 0;
  LogTrace("Return:%x, \n", unsigned(result));
  return result;
}

int GetFeature(unsigned char* buffer, int length) {
  std::shared_ptr<HidDevice> device;
  {
    std::lock_guard lock(g_csIo);
    device = g_hFeatureHandle;
  }
  if (!device || !buffer || length <= 0) return 0;
  return device->GetFeature(buffer, size_t(length)) > 0 ? 1 : 0;
}

int Open_ReportDevice() { return EnumerateInterfaces(InterfaceKind::kReport); }

int Close_ReportDevice() {
  std::lock_guard lock(g_csIo);
  g_ReportDevice.Release();
  return 1;
}

int WriteUSB(unsigned char* buffer, int length) {
  if (g_bSuspendTeardown) return 0;
  if (!buffer || length < 0 || length > kTransferBytes) return 0;
  uint8_t transfer[kTransferBytes] = {};
  std::memcpy(transfer, buffer, size_t(length));
  std::shared_ptr<HidDevice> device;
  {
    std::lock_guard lock(g_csIo);
    device = g_ReportDevice.handle;
  }
  if (!device) return 0;
  return device->Write(transfer, size_t(length)) >= 0 ? 1 : 0;
}

int ReadUSB(unsigned char* buffer, int length) {
  if (g_bSuspendTeardown) return 0;
  if (!buffer || length < 0 || length > kTransferBytes) return 0;
  uint8_t transfer[kTransferBytes] = {};
  std::shared_ptr<HidDevice> device;
  {
    std::lock_guard lock(g_csIo);
    device = g_ReportDevice.handle;
  }
  if (!device) return 0;
  // The transfer buffer belongs to this call; the read ends (or times out) before it returns,
  // so nothing completes into it later.
  const int got = device->Read(transfer, size_t(length), kIoWaitMs);
  if (got != length) return 0;
  std::memcpy(buffer, transfer, size_t(length));
  return 1;
}
