#include "page/device_half.h"

#include "page/page_messages.h"

namespace brevak {

DeviceHalf::DeviceHalf(ProfileStore& profiles)
    : working(profiles), monitor(working, worker), worker(working, monitor.flags(), monitor.builds(), monitor.ack()) {}

DeviceHalf::~DeviceHalf() { ShutDown(); }

void DeviceHalf::Bind(HWND window, PageView* view) {
  view_ = view;
  monitor.SetWindow(window);
  monitor.SetView(view);
  // The worker runs before the builds are bound: until a request comes it only waits.
  worker.Start(window, monitor.ble());
  monitor.Bind();
}

void DeviceHalf::Start() {
  worker.RequestFullWrite();
  int selected = 0;
  {
    auto lock = working.Lock();
    selected = working.store().header().selected_profile;
  }
  working.Select(selected);
  worker.Reset();
  monitor.AnnounceBluetooth();
}

void DeviceHalf::ShutDown() {
  worker.Stop();
  monitor.Release();
}

bool DeviceHalf::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kMsgSettingsChanged: worker.Request(); return true;
    case kMsgApplyIndicator:
      if (view_) view_->SetVisible("apply_ring", wParam != 0);
      return true;
    default: return monitor.OnMessage(msg, wParam, lParam);
  }
}

}  // namespace brevak
