#include "app/ctl/ctl_headless.h"

#include "page/ms_1_page.h"
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
  bindings_.Load();
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
  // What the stores had to do (a repair, a file moved aside, a failed save) is told, as the
  // window tells it in its message box.
  std::vector<StoreEvent> events = host.profiles().TakeEvents();
  for (StoreEvent& e : host.macros().TakeEvents()) events.push_back(std::move(e));
  for (StoreEvent& e : host.bindings().TakeEvents()) events.push_back(std::move(e));
  for (const StoreEvent& e : events) result.err += "brevak-ctl: " + Utf16ToUtf8(StoreEventText(e)) + "\n";
  return result;
}

}  // namespace brevak::ctl
