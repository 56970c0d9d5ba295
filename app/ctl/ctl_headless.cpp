#include "app/ctl/ctl_headless.h"

#include "page/page_messages.h"
#include "platform/loop.h"

namespace brevak::ctl {

Headless::Headless() : device_(profiles_) {
  window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
    if (msg >= kMsgInput1k && msg <= kMsgPageLast) device_.OnMessage(msg, w, l);
    else if (msg == WM_TIMER) device_.OnTimer(w);
    return 0;
  });
}

Headless::~Headless() {
  device_.ShutDown();
  DestroyWindow(window_);
}

void Headless::Start() {
  device_.Bind(window_, nullptr);
  {
    auto lock = profiles_.Lock();
    LoadProfileStore(profiles_);
  }
  LoadMacroStore(macros_);
  device_.Start();
}

Output RunHeadless(const Command& c, const Runner::Progress& progress) {
  Headless host;
  host.Start();
  Output result;
  bool done = false;
  {
    Runner runner(host);
    runner.Submit(c, progress, [&](const Output& out) {
      result = out;
      done = true;
    });
    MSG msg;
    while (!done && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  }
  host.ShutDown();
  return result;
}

}  // namespace brevak::ctl
