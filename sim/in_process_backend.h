#pragma once
// zentrix's HID seam served by a SimMouse in the same process, for tests on the virtual clock.
//
// Writes and feature reports reach the mouse synchronously; its answers are queued on every
// open handle of the connection's OSD interface at once (or at clock time + the scripted
// delay). Read waits with the platform's WaitForSingleObject, so a blocked reader counts as
// idle and its time-out runs on the process clock. Plugging and unplugging call the hotplug
// sink on the plugging thread, one event per interface; unplugging first wakes that
// connection's readers with -1.
//
// The mouse must outlive the backend and every device opened through it.

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_mouse.h"
#include "zentrix/hid_backend.h"

namespace brevak::sim {

class InProcessBackend final : public zentrix::HidBackend {
 public:
  explicit InProcessBackend(SimMouse& mouse);
  ~InProcessBackend() override;
  InProcessBackend(const InProcessBackend&) = delete;
  InProcessBackend& operator=(const InProcessBackend&) = delete;

  std::vector<zentrix::HidInterfaceInfo> Enumerate() override;
  // Paths as ConnectionInterfaces gives them ("sim:4k/osd"); null when not plugged.
  std::unique_ptr<zentrix::HidDevice> Open(const std::string& path) override;
  bool StartHotplug(std::function<void(const zentrix::HotplugEvent&)> sink) override;
  // Waits for a sink call in progress on another thread; safe to call from inside the sink.
  void StopHotplug() override;
  // Every zentrix build loaded in the process has its own sink; each gets every event.
  int AddHotplugSink(std::function<void(const zentrix::HotplugEvent&)> sink) override;
  void RemoveHotplugSink(int id) override;

  class Core;

 private:
  std::shared_ptr<Core> core_;
};

// Creates a backend over `mouse` and registers it as the process's HID backend
// (zentrix::kHidBackendObjectName), replacing one installed before. Every zentrix build loaded
// afterwards uses it.
InProcessBackend& InstallInProcessSim(SimMouse& mouse);
// Unregisters and destroys it; call it once nothing uses the backend any more.
void UninstallInProcessSim();

}  // namespace brevak::sim
