#pragma once
// The page's device half, wired together: the working record, the connection monitor and the
// apply worker. The page owns one and hands it the main window's messages and timers; a client
// without windows owns one on the platform's own loop. No Qt and no controls.

#include <functional>

#include "page/apply_worker.h"
#include "page/connection_monitor.h"
#include "page/page_view.h"
#include "page/working_profile.h"
#include "platform/winapi.h"
#include "store/profile_store.h"

namespace brevak {

class DeviceHalf {
 public:
  explicit DeviceHalf(ProfileStore& profiles);
  ~DeviceHalf();
  DeviceHalf(const DeviceHalf&) = delete;
  DeviceHalf& operator=(const DeviceHalf&) = delete;

  // Starts the apply worker, then binds the driver builds and opens every connection; `window`
  // receives the builds' messages and runs the timers, `view` (may be null) shows the state.
  void Bind(HWND window, PageView* view);
  // The profile store is loaded: its selected profile becomes the working record, written
  // whole by the next apply, and the Bluetooth state found at Bind is announced.
  void Start();
  // The worker ends (a running apply finishes), then the connections are released.
  void ShutDown();

  // The window's messages 1553..kMsgPageLast and timers that belong to the device half; false
  // for anything else.
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnTimer(UINT_PTR id) { return monitor.OnTimer(id); }
  // Between the worker's busy indicator on and off, as the window has been told (window thread).
  bool writing() const { return writing_; }
  // Each progress report of the worker, on the window thread, beside the view (a command-line
  // client prints them).
  std::function<void(const ApplyProgress&)> on_progress;

  WorkingProfile working;
  // Before the worker: the worker reads the monitor's flags and builds, and ends first.
  ConnectionMonitor monitor;
  ApplyWorker worker;

 private:
  // The end of a request in the progress strip: written, or what the mouse does not have yet.
  void ShowWhatTheMouseLacks(bool wrote);

  PageView* view_ = nullptr;
  bool writing_ = false;
};

}  // namespace brevak
