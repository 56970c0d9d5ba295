#pragma once
// The page's device half (working record, connection monitor, apply worker) against the
// simulated mouse on the virtual clock: a fresh data folder, a main window on the test thread
// that routes device messages and timers as the page does, and a view that records what the
// device half did to the page's controls.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "page/device_half.h"
#include "page/page_messages.h"
#include "platform/clock.h"
#include "platform/loop.h"
#include "platform/text.h"
#include "protocol/frames.h"
#include "sim/in_process_backend.h"
#include "store_test_util.h"

namespace brevak::test {

// Every call must come on the thread that made the view (the window thread); one from
// another thread is counted (and is a data race ThreadSanitizer reports).
class RecordingView : public PageView {
 public:
  void SetVisible(std::string_view c, bool v) override { Here(), visible[std::string(c)] = v; }
  void SetCheck(std::string_view c, bool v) override { Here(), checked[std::string(c)] = v; }
  void SetText(std::string_view c, std::u16string_view t) override { Here(), text[std::string(c)] = std::u16string(t); }
  void SetResourceText(std::string_view c, std::string_view key) override {
    Here(), text[std::string(c)] = u"@" + std::u16string(key.begin(), key.end());
  }
  void SetProgress(std::string_view c, int v) override { Here(), progress[std::string(c)] = v; }
  void SelectOption(std::string_view c) override { Here(), selected.insert(std::string(c)); }
  void SelectItem(std::string_view c, int i) override { Here(), item[std::string(c)] = i; }

  bool Visible(const std::string& c) const {
    auto it = visible.find(c);
    return it != visible.end() && it->second;
  }

  const DWORD owner = GetCurrentThreadId();
  int foreign_calls = 0;
  int updates = 0;  // every call, each an update of a control
  std::map<std::string, bool> visible, checked;
  std::map<std::string, std::u16string> text;
  std::map<std::string, int> progress, item;
  std::set<std::string> selected;

 private:
  void Here() {
    ++updates;
    if (GetCurrentThreadId() != owner) ++foreign_calls;
  }
};

// The mouse holds what the record says: every group, checked against the decoded state. The
// polling group only when it was sent (never over Bluetooth).
inline void ExpectMouseHolds(const sim::MouseState& m, const ProfileRecord& r, bool polling = true) {
  for (int i = 0; i < kDpiStages; ++i) {
    if (r.dpi_value[i]) {
      EXPECT_EQ(m.dpi_value[size_t(i)], uint32_t(r.dpi_value[i])) << "stage " << i;
    }
    EXPECT_EQ(m.dpi_colors[size_t(i)], (sim::Rgb{ColorRed(r.dpi_color[i]), ColorGreen(r.dpi_color[i]), ColorBlue(r.dpi_color[i])}));
  }
  EXPECT_EQ(m.stage_index, r.dpi_stage_index);
  EXPECT_EQ(m.light_effect, r.light_effect);
  EXPECT_EQ(m.light_color, (sim::Rgb{ColorRed(r.light_color), ColorGreen(r.light_color), ColorBlue(r.light_color)}));
  EXPECT_EQ(m.key_debounce, r.key_debounce);
  if (polling) {
    EXPECT_EQ(m.polling, uint8_t((r.polling_rate_hs_index + 1) << 4 | (r.polling_rate_index + 1)));
  }
  const Frame buttons = BuildButtonReport(r);
  for (size_t i = 0; i < kPageButtons; ++i)
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(m.buttons[i][k], buttons[3 + 3 * i + k]) << "button " << i;
}

// A macro of `steps` press/release pairs, long enough to need two frames at 40 steps.
inline void BindMacro(ProfileRecord& r, int button, int steps) {
  ButtonEntry& b = r.button[button];
  b.function_code = kFunctionMacro;
  SetFixed(b.macro_name, u"Fire");
  b.macro_loop_count = 1;
  b.macro_action_count = uint16_t(steps);
  for (int i = 0; i < steps; ++i) {
    b.macro_actions[i].kind = uint8_t(i % 2 ? 2 : 1);
    b.macro_actions[i].code = uint8_t(4 + i / 2 % 20);
    b.macro_actions[i].delay = uint16_t(i % 3 ? 20 : 300);
  }
}

class DeviceTest : public DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    UseVirtualClock(0);
    sim::InstallInProcessSim(mouse_);
    window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      if (msg >= kMsgInput1k && msg <= kMsgPageLast) {
        if (msg == kMsgApplyIndicator && w == 0) ++applies_done_;
        device_->OnMessage(msg, w, l);
      } else if (msg == WM_TIMER) {
        device_->OnTimer(w);
      } else if (msg == kMsgConnectionChanged || msg == kMsgShowDpi) {
        posted_.push_back({msg, l});
      }
      return 0;
    });
    profiles_ = std::make_unique<ProfileStore>();
    device_ = std::make_unique<DeviceHalf>(*profiles_);
    device_->monitor.SetBlePresenceCheck([] { return false; });
  }
  void TearDown() override {
    device_->ShutDown();
    RunUntilIdle();
    device_.reset();
    DestroyWindow(window_);
    sim::UninstallInProcessSim();
    UseRealClock();
    DataFolderTest::TearDown();
  }

  // Plugs `connections`, binds the device half and loads the store, as the page starts.
  void Start(std::initializer_list<sim::Connection> connections) {
    for (auto c : connections) mouse_.Plug(c);
    device_->Bind(window_, &view_);
    {
      auto lock = profiles_->Lock();
      profiles_->Load();
    }
    device_->Start();
    Settle();
  }
  WorkingProfile& working() { return device_->working; }
  ConnectionMonitor& monitor() { return device_->monitor; }
  ApplyWorker& worker() { return device_->worker; }
  void Settle() {
    RunUntilIdle();
    AdvanceClock(20);  // the readers' pause between reads
  }
  // A power report from the mouse through a receiver: the receiver then answers.
  void PowerFrom(sim::Connection c) {
    mouse_.SendPowerStatus(c);
    Settle();
  }
  // Requests an apply as the page does (1561 to the window) and runs virtual time until it has
  // finished; false when none ran within ten virtual minutes.
  bool Apply() {
    const int before = applies_done_;
    PostMessageW(window_, kMsgSettingsChanged, 0, 0);
    for (int ms = 0; ms < 600'000 && applies_done_ == before; ms += 500) AdvanceClock(500);
    return applies_done_ > before;
  }
  int FrameCount(const char* name) {
    auto counts = mouse_.State().frame_counts;
    return counts.count(name) ? counts[name] : 0;
  }
  int Accepted(sim::Connection c) { return mouse_.State().connections[size_t(c)].accepted; }

  struct Posted {
    UINT msg;
    LPARAM lParam;
  };

  sim::SimMouse mouse_;
  RecordingView view_;
  HWND window_ = nullptr;
  std::unique_ptr<ProfileStore> profiles_;
  std::unique_ptr<DeviceHalf> device_;
  std::vector<Posted> posted_;
  int applies_done_ = 0;
};

}  // namespace brevak::test
