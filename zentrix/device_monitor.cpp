// The device monitor: a hidden window on a thread of its own receives arrivals, removals and
// power events; every matching OSD interface gets a reader thread that forwards its input
// reports to the program as posted messages.
#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>

#include "platform/loop.h"
#include "zentrix/driver.h"
#include "zentrix/power_events.h"
#include "zentrix/zentrix.h"

namespace zentrix {
namespace {

constexpr UINT WM_POWERBROADCAST = 0x0218;
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr WPARAM PBT_APMQUERYSUSPENDFAILED = 2;
constexpr WPARAM PBT_APMSUSPEND = 4;
constexpr WPARAM PBT_APMRESUMECRITICAL = 6;
constexpr WPARAM PBT_APMRESUMESUSPEND = 7;
constexpr WPARAM PBT_APMRESUMEAUTOMATIC = 18;
constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
// Sent to the monitor window before the devices are taken away: hotplug reports stop on the
// thread that handles them, after any arrival already in progress.
constexpr UINT WM_ZENTRIX_STOP_WATCHING = WM_USER + 1;
constexpr DWORD kWindowReadyWaitMs = 2000;
constexpr DWORD kReaderPauseMs = 10;

std::atomic<HWND> g_hMainWnd{nullptr};
std::atomic<UINT> g_uButtonMsg{0};
std::atomic<UINT> g_uDeviceMsg{0};
std::atomic<HWND> g_hMonitorWnd{nullptr};
std::atomic<DWORD> g_dwMonitorThreadId{0};
std::atomic<HANDLE> g_hMonitorThread{nullptr};  // non-null while the monitor runs
std::atomic<int> g_hHidNotify{0};  // the hotplug registration; non-zero while reported
std::atomic<bool> g_bSuspended{false};
std::atomic<bool> g_bResuming{false};
std::atomic<DWORD> g_dwPlatformId{0};

// The device list and the next index change on the caller's thread and the monitor thread.
std::mutex g_csDevices;
ZENTRIX_STATE std::list<std::unique_ptr<MonitoredDevice>> g_DeviceList;
uint32_t g_nNextIndex = 1;

// The thread that ran the last monitor window, joined before the next one starts or at close.
std::mutex g_csMonitorThread;
HANDLE g_hFinishedMonitorThread = nullptr;

// Hotplug events wait here for the monitor window; the posted WM_DEVICECHANGE only says that
// one is ready, so nothing is lost or leaked when the window goes away first.
std::mutex g_csEvents;
ZENTRIX_STATE std::deque<HotplugEvent> g_PendingEvents;
HidBackend* g_MonitorBackend = nullptr;  // the backend whose hotplug reports are on

ZENTRIX_STATE SleepWatch g_SleepWatch;

// The 8K build posts the address of a whole input report. Each report goes to its own slot
// of this ring, which lives as long as the library: the window thread may read a posted report
// after the next one arrived or after its device was removed.
constexpr int kRingSlots = 256;
uint8_t g_InputRing[kRingSlots][kTransferLimit];
std::atomic<unsigned> g_RingNext{0};

void PostDeviceMsg(WPARAM arrived, uint16_t index) {
  PostMessageW(g_hMainWnd, g_uDeviceMsg, arrived, LPARAM(index));
  LogTrace("DeviceMsg = %d\r\n", int(g_uDeviceMsg.load()));
}

void Forward(const std::vector<uint8_t>& report, size_t got) {
  const uint8_t* b = report.data();
  if (ThisBuild().forwards_address) {
    LogTrace("InputReportBuffer:%x, %x, %x, %x, %x \n", b[0], b[1], b[2], b[3], b[4]);
    uint8_t* slot = g_InputRing[g_RingNext.fetch_add(1) % kRingSlots];
    const size_t n = std::min(got, size_t(kTransferLimit));
    std::memcpy(slot, b, n);
    std::memset(slot + n, 0, kTransferLimit - n);
    PostMessageW(g_hMainWnd, g_uButtonMsg, reinterpret_cast<WPARAM>(slot), 0);
    return;
  }
  if (b[0] != kStatusReportIdAlt && b[0] != kStatusReportId) return;
  LogTrace("InputReportBuffer:%x, %x, %x, %x, %x \n", b[0], b[1], b[2], b[3], b[4]);
  PostMessageW(g_hMainWnd, g_uButtonMsg, WPARAM(b[1] + b[2] * 256), LPARAM(b[3] + b[4] * 256));
}

// Waits on the reader's wake event until `due` on the process clock, or until a stop.
void PauseUntil(MonitoredDevice* d, HANDLE wake, int64_t due) {
  // A wake left from a resume ends one wait early; the loop keeps the pause whole.
  for (int64_t now = int64_t(GetTickCount64()); now < due && !d->stop; now = int64_t(GetTickCount64())) {
    WaitForSingleObject(wake, DWORD(due - now));
  }
}

DWORD ReaderThread(MonitoredDevice* d, HANDLE wake) {
  // The record is released only after this thread has ended, so these stay valid.
  HidDevice* device = d->record.handle.get();
  const size_t length = d->record.InputReportBuffer.size();
  std::vector<uint8_t> report(std::max<size_t>(length, 5), 0);
  // Reports are forwarded at least kReaderPauseMs apart; the reader waits only when the next
  // one comes sooner, so a report after a quiet spell costs this thread one wake, not two.
  std::optional<int64_t> last_forward;
  for (;;) {
    if (d->stop) return 0;
    if (!device || length == 0) {  // nothing to read: wait for the stop
      WaitForSingleObject(wake, INFINITE);
      continue;
    }
    if (g_bSuspended) {  // the resume sets the wake event
      WaitForSingleObject(wake, INFINITE);
      continue;
    }
    const int got = device->Read(report.data(), length, -1);
    if (d->stop) return 0;
    if (got <= 0) {  // a device going away fails every read: do not spin until its removal
      PauseUntil(d, wake, int64_t(GetTickCount64()) + kReaderPauseMs);
      continue;
    }
    if (last_forward) PauseUntil(d, wake, *last_forward + kReaderPauseMs);
    if (d->stop) return 0;
    std::fill(report.begin() + got, report.end(), 0);  // a short report leaves no stale bytes
    std::memcpy(d->record.InputReportBuffer.data(), report.data(), length);
    Forward(report, size_t(got));
    last_forward = int64_t(GetTickCount64());
  }
}

// Ends a reader: no read completes into released memory and no lock is left held, since the
// reader holds none while it waits.
void StopReader(MonitoredDevice& d) {
  d.stop = true;
  if (d.wake_event) SetEvent(d.wake_event);
  if (d.record.handle) d.record.handle->Cancel();
  if (d.reader_thread) {
    WaitForSingleObject(d.reader_thread, INFINITE);
    CloseHandle(d.reader_thread);
    d.reader_thread = nullptr;
  }
  if (d.wake_event) CloseHandle(d.wake_event);
  d.wake_event = nullptr;
}

// Unlinked already; posts DeviceMsg 0 unless `quiet`. The reader stops first, so no input
// report of the device follows its removal message.
void RemoveMonitoredDevice(std::unique_ptr<MonitoredDevice> d, bool quiet) {
  StopReader(*d);
  if (!quiet) PostDeviceMsg(0, d->index);
  d->record.Release();
}

std::vector<std::unique_ptr<MonitoredDevice>> TakeAllDevices() {
  std::lock_guard lock(g_csDevices);
  std::vector<std::unique_ptr<MonitoredDevice>> all;
  for (auto& d : g_DeviceList) all.push_back(std::move(d));
  g_DeviceList.clear();
  g_nNextIndex = 1;
  return all;
}

void HandleArrival(const HotplugEvent& event) {
  LogTrace("DBT_DEVICEARRIVAL.\n");
  if (g_bSuspended) return;
  auto node = std::make_unique<MonitoredDevice>();
  if (!MatchDevicePath(event.path, InterfaceKind::kOsd, node->record)) return;
  if (AddMonitoredDevice(std::move(node)) == AddResult::kAdded) LogTrace("DBT_DEVICEARRIVAL finished.\n");
}

void HandleRemoval(const HotplugEvent& event) {
  LogTrace("DBT_DEVICEREMOVECOMPLETE\n");
  {
    std::lock_guard lock(g_csDevices);
    auto it = std::find_if(g_DeviceList.begin(), g_DeviceList.end(),
                           [&](const auto& d) { return d->record.info.path == event.path; });
    if (it == g_DeviceList.end()) return;
    std::unique_ptr<MonitoredDevice> gone = std::move(*it);
    g_DeviceList.erase(it);
    g_nNextIndex = 1;  // indices repeat after a removal, as the program expects
    // Removed while the list is held: an enumeration that finds the interface again posts its
    // arrival after this removal, never before it, so the program's last word is the true one.
    // The reader takes no lock, so stopping it here cannot deadlock.
    RemoveMonitoredDevice(std::move(gone), /*quiet=*/false);
  }
  LogTrace("DBT_DEVICEREMOVECOMPLETE finished\n");
}

void StopWatching() {
  if (const int id = g_hHidNotify.exchange(0); id && g_MonitorBackend) g_MonitorBackend->RemoveHotplugSink(id);
  g_SleepWatch.Stop();
  std::lock_guard lock(g_csEvents);
  g_PendingEvents.clear();
}

// Readers idle while the system sleeps; the resume sets them reading again.
void WakeReaders() {
  std::lock_guard lock(g_csDevices);
  for (const auto& d : g_DeviceList) {
    if (d->wake_event) SetEvent(d->wake_event);
  }
}

void HandlePower(WPARAM event) {
  switch (event) {
    case PBT_APMQUERYSUSPENDFAILED:
    case PBT_APMRESUMECRITICAL:
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMEAUTOMATIC:
      LogTrace("PBT_APMRESUME\n");
      g_bResuming = true;
      g_bSuspended = false;
      WakeReaders();
      Open_DevMonitor(g_hMainWnd, g_uButtonMsg, g_uDeviceMsg);
      g_bResuming = false;
      break;
    case PBT_APMSUSPEND:
      // The readers idle and arrivals are ignored until the resume; the devices stay monitored.
      LogTrace("PBT_APMSUSPEND\n");
      g_bSuspended = true;
      break;
    default: break;
  }
}

LRESULT MonitorWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_CREATE: return 0;
    case WM_CLOSE:
      StopWatching();
      DestroyWindow(hwnd);
      g_hMonitorWnd = nullptr;
      g_hMonitorThread = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_ZENTRIX_STOP_WATCHING: StopWatching(); return 0;
    case WM_POWERBROADCAST: HandlePower(wParam); return 0;
    case WM_DEVICECHANGE: {
      HotplugEvent event;
      {
        std::lock_guard lock(g_csEvents);
        if (g_PendingEvents.empty()) return 0;
        event = std::move(g_PendingEvents.front());
        g_PendingEvents.pop_front();
      }
      if (event.kind == HotplugEvent::kArrival) HandleArrival(event);
      else HandleRemoval(event);
      return 0;
    }
    default: return 0;
  }
}

void JoinFinishedMonitorThread() {
  HANDLE finished;
  {
    std::lock_guard lock(g_csMonitorThread);
    finished = g_hFinishedMonitorThread;
    g_hFinishedMonitorThread = nullptr;
  }
  if (!finished) return;
  WaitForSingleObject(finished, INFINITE);
  CloseHandle(finished);
}

void OnHotplug(const HotplugEvent& event) {
  {
    std::lock_guard lock(g_csEvents);
    g_PendingEvents.push_back(event);
  }
  PostMessageW(g_hMonitorWnd, WM_DEVICECHANGE,
               event.kind == HotplugEvent::kArrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, 0);
}

bool StartMonitor() {
  JoinFinishedMonitorThread();
  g_bSuspended = false;  // a resume that never came must not keep a new monitor idle
  WakeReaders();         // nor a reader that went to sleep for it
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!ready) return false;
  DWORD thread_id = 0;
  HANDLE thread = brevak::StartThread(
      [ready]() -> DWORD {
        HWND window = brevak::CreateMessageWindow(MonitorWndProc);
        g_hMonitorWnd = window;
        if (!window) return GetLastError();
        SetEvent(ready);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        return GetLastError();
      },
      &thread_id);
  if (!thread) {
    CloseHandle(ready);
    return false;
  }
  {
    std::lock_guard lock(g_csMonitorThread);
    g_hFinishedMonitorThread = thread;
  }
  g_hMonitorThread = thread;
  g_dwMonitorThreadId = thread_id;
  const DWORD waited = WaitForSingleObject(ready, kWindowReadyWaitMs);
  CloseHandle(ready);
  if (waited != WAIT_OBJECT_0) {
    // The window may still come after the wait gave up: the quit ends the thread either way.
    PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
    g_hMonitorThread = nullptr;
    JoinFinishedMonitorThread();
    g_hMonitorWnd = nullptr;
    return false;
  }

  g_MonitorBackend = &CurrentBackend();
  g_hHidNotify = g_MonitorBackend->AddHotplugSink(OnHotplug);
  if (!g_hHidNotify) {
    SendMessageW(g_hMonitorWnd, WM_CLOSE, 0, 0);
    g_hMonitorThread = nullptr;
    JoinFinishedMonitorThread();
    return false;
  }
  // Suspend and resume come from logind where there is one; without it the monitor still runs.
  // The watch connects on its own thread, so a slow system bus never holds up this call.
  g_SleepWatch.Start([](bool suspending) {
    PostMessageW(g_hMonitorWnd, WM_POWERBROADCAST, suspending ? PBT_APMSUSPEND : PBT_APMRESUMEAUTOMATIC, 0);
  });
  EnumerateInterfaces(InterfaceKind::kOsd);
  return true;
}

}  // namespace

AddResult AddMonitoredDevice(std::unique_ptr<MonitoredDevice> node) {
  MonitoredDevice* d = node.get();
  HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!wake) {
    d->record.Release();
    return AddResult::kFailed;
  }
  d->wake_event = wake;
  std::lock_guard lock(g_csDevices);
  // An interface that arrived while the start-up enumeration ran is found twice: keep one.
  for (const auto& present : g_DeviceList) {
    if (present->record.info.path == d->record.info.path) {
      StopReader(*d);
      d->record.Release();
      return AddResult::kAlreadyMonitored;
    }
  }
  d->reader_thread = brevak::StartThread([d, wake] { return ReaderThread(d, wake); }, &d->reader_thread_id);
  if (!d->reader_thread) {
    StopReader(*d);
    d->record.Release();
    return AddResult::kFailed;
  }
  d->index = uint16_t(g_nNextIndex);
  ++g_nNextIndex;
  PostDeviceMsg(1, d->index);
  g_DeviceList.push_back(std::move(node));
  return AddResult::kAdded;
}

void ShutDownMonitor() {
  if (HWND window = g_hMonitorWnd) SendMessageW(window, WM_ZENTRIX_STOP_WATCHING, 0, 0);
  for (auto& d : TakeAllDevices()) RemoveMonitoredDevice(std::move(d), /*quiet=*/true);
  if (HWND window = g_hMonitorWnd) SendMessageW(window, WM_CLOSE, 0, 0);
  JoinFinishedMonitorThread();
}

}  // namespace zentrix

using namespace zentrix;

int Open_DevMonitor(HWND window, UINT button_msg, UINT device_msg) {
  g_hMainWnd = window;
  g_uButtonMsg = button_msg;
  g_uDeviceMsg = device_msg;
  LogTrace("DeviceMsg = %d\r\n", int(device_msg));
  LogTrace("ButtonMsg = %d\r\n", int(button_msg));
  g_dwPlatformId = VER_PLATFORM_WIN32_NT;
  if (g_hMonitorThread) return 1;
  return StartMonitor() ? 1 : 0;
}

int Close_DevMonitor() {
  if (g_hMonitorThread) {
    if (HWND window = g_hMonitorWnd) SendMessageW(window, WM_ZENTRIX_STOP_WATCHING, 0, 0);
    for (auto& d : TakeAllDevices()) RemoveMonitoredDevice(std::move(d), /*quiet=*/false);
  }
  {
    std::lock_guard lock(g_csDevices);
    g_nNextIndex = 1;
  }
  if (g_hMonitorThread) {
    if (HWND window = g_hMonitorWnd) SendMessageW(window, WM_CLOSE, 0, 0);
  }
  JoinFinishedMonitorThread();
  g_hMonitorThread = nullptr;
  return 1;
}
