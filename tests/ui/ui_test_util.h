#pragma once
// A window of the test layout that records every notification it and its virtual window
// "Page" receive, and every numbered message.

#include <QApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

#include "ui/duilib.h"

namespace brevak::testing {

struct Seen {
  std::string where;  // "window" or "page"
  std::string type;
  std::string sender;
  WPARAM wParam;
  LPARAM lParam;
};

class RecordingPage : public CNotifyPump {
 public:
  std::vector<Seen>* log = nullptr;
  void OnAny(TNotifyUI& msg) {
    log->push_back({"page", msg.sType.utf8(), msg.pSender ? msg.pSender->GetName().utf8() : "",
                    msg.wParam, msg.lParam});
  }

 protected:
  const DUI_MSGMAP* GetMessageMap() const override;
};

class TestWnd : public WindowImplBase {
 public:
  explicit TestWnd(CDuiString skin = "main.xml") : skin_(std::move(skin)) {}
  std::vector<Seen> seen;
  std::vector<std::pair<UINT, WPARAM>> messages;
  std::vector<DWORD> message_threads;
  RecordingPage page;
  std::function<void(TNotifyUI&)> on_click;

  CControlUI* Find(const char* name) { return m_pm.FindControl(name); }
  template <class T>
  T* FindAs(const char* name) {
    return dynamic_cast<T*>(Find(name));
  }
  std::vector<Seen> TakeSeen() {
    auto out = std::move(seen);
    seen.clear();
    return out;
  }

 protected:
  const char16_t* GetWindowClassName() const override { return u"TestWnd"; }
  CDuiString GetSkinFile() override { return skin_; }
  void InitWindow() override {
    page.log = &seen;
    AddVirtualWnd("Page", &page);
  }
  void Notify(TNotifyUI& msg) override {
    if (msg.sVirtualWnd.IsEmpty()) {
      seen.push_back({"window", msg.sType.utf8(),
                      msg.pSender ? msg.pSender->GetName().utf8() : "", msg.wParam, msg.lParam});
    }
    WindowImplBase::Notify(msg);
  }
  void OnClick(TNotifyUI& msg) override {
    if (on_click) on_click(msg);
  }
  LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM, BOOL& handled) override {
    if (msg >= WM_USER) {
      messages.emplace_back(msg, wParam);
      message_threads.push_back(GetCurrentThreadId());
      handled = TRUE;
    }
    return 0;
  }

 private:
  CDuiString skin_;
};

// Runs Qt's loop (and with it the platform queue) until `done` or about five seconds.
inline bool SpinUntil(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > 5000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace brevak::testing
