#pragma once
// brevak-ctl without the program: a device half of its own on a message window of the
// platform's loop (no Qt widgets), over the stores as the program loads them.

#include "app/ctl/ctl_commands.h"

namespace brevak::ctl {

class Headless : public Host {
 public:
  Headless();
  ~Headless() override;
  // Binds the driver builds, opens every connection and loads the stores, as the page starts.
  void Start();
  // The worker ends (a running write finishes first) and the connections are released.
  void ShutDown() { device_.ShutDown(); }

  ProfileStore& profiles() override { return profiles_; }
  MacroStore& macros() override { return macros_; }
  DeviceHalf& device() override { return device_; }
  BindingStore& bindings() override { return bindings_; }

 private:
  ProfileStore profiles_;
  MacroStore macros_;
  BindingStore bindings_{BindingsPathBeside(profiles_.file())};
  HWND window_ = nullptr;
  DeviceHalf device_;
};

// Runs `c` to its end on this thread's platform loop, the lock held by the caller; the output.
Output RunHeadless(const Command& c, const Runner::Progress& progress);

}  // namespace brevak::ctl
