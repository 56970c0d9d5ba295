#include "page/device_half.h"

#include "page/apply_text.h"
#include "page/page_messages.h"

namespace brevak {

namespace {
constexpr char kApplyText[] = "apply_ring";
constexpr char kApplyBar[] = "ms_1_apply_progress";
}  // namespace

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

void DeviceHalf::ShowWhatTheMouseLacks(bool wrote) {
  // Not only what this request left: an edit made while the mouse sleeps was never tried.
  ApplyReport shown;
  shown.ran = true;
  shown.pending = worker.PendingGroups();
  shown.full_write_pending = worker.full_write_interrupted();
  const bool waiting = shown.pending.Any() || shown.full_write_pending;
  if (!waiting && !wrote) return;  // nothing was asked of the mouse, and it lacks nothing
  view_->SetText(kApplyText, ApplyEndText(shown));
  view_->SetProgress(kApplyBar, waiting ? 0 : 100);
}

bool DeviceHalf::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kMsgSettingsChanged: worker.Request(); return true;
    case kMsgApplyIndicator:
      writing_ = wParam == kApplyStarted;
      // The strip keeps its place and size: only its text and bar change.
      if (!view_) return true;
      if (wParam == kApplyStarted) {
        view_->SetResourceText(kApplyText, "applying_text");
        view_->SetProgress(kApplyBar, 0);
      } else {
        ShowWhatTheMouseLacks(UnpackEnd(lParam).ran);
      }
      return true;
    case kMsgApplyProgress: {
      const ApplyProgress p = UnpackProgress(wParam, lParam);
      if (on_progress) on_progress(p);
      if (view_) {
        view_->SetText(kApplyText, ApplyProgressText(p));
        view_->SetProgress(kApplyBar, ApplyPercent(p));
      }
      return true;
    }
    default: return monitor.OnMessage(msg, wParam, lParam);
  }
}

}  // namespace brevak
