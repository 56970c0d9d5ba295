#pragma once
// The program's main window against the simulated mouse, offscreen, on the virtual clock.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/main_wnd.h"
#include "page/page_dialogs.h"
#include "platform/text.h"
#include "page/page_messages.h"
#include "platform/clock.h"
#include "platform/loop.h"
#include "sim/in_process_backend.h"
#include "store_test_util.h"
#include "tests/common/scripted_files.h"

namespace brevak::test {

using sim::Connection;

// Answers the page's questions from a script and records them, so no test runs a modal loop.
class ScriptedDialogs : public PageDialogs {
 public:
  std::optional<std::u16string> AskProfileName(std::string_view key, const std::vector<std::u16string>&,
                                               const std::u16string& initial) override {
    asked.push_back("name " + std::string(key));
    initial_name = initial;
    return name;
  }
  FileChooser& Files() override { return files; }
  bool ChooseShortcut(uint8_t& modifiers, uint8_t& key) override {
    asked.push_back("shortcut");
    if (!shortcut) return false;
    modifiers = shortcut->first;
    key = shortcut->second;
    return true;
  }
  bool SelectMacro(const MacroList&, std::u16string_view current, int32_t& index, int32_t& mode,
                   int32_t& count) override {
    asked.push_back("macro");
    shown_macro = current;
    if (!macro) return false;
    index = macro->index;
    mode = macro->mode;
    count = macro->count;
    return true;
  }
  // The test's stand-in for the user's session in the macro editor.
  void EditMacros(MacroStore& macros) override {
    asked.push_back("macro editor");
    if (edit_macros) edit_macros(macros);
  }
  void EditBindings(BindingsModel& model) override {
    asked.push_back("bindings");
    if (edit_bindings) edit_bindings(model);
  }
  void Warn(std::string_view key) override { asked.push_back("warn " + std::string(key)); }
  void WarnText(std::u16string text) override { asked.push_back("warn " + Utf16ToUtf8(text)); }
  bool Confirm(std::string_view key) override {
    asked.push_back("confirm " + std::string(key));
    return confirm;
  }
  std::optional<DWORD> PickColor(DWORD, POINT) override {
    asked.push_back("colour");
    return color;
  }

  std::vector<std::string> asked;
  bool confirm = true;
  std::optional<DWORD> color;
  std::optional<std::u16string> name;
  std::u16string initial_name;  // what the name dialog opened with
  ScriptedFiles files;
  std::optional<std::pair<uint8_t, uint8_t>> shortcut;  // modifiers, key
  struct MacroChoice {
    int32_t index, mode, count;
  };
  std::optional<MacroChoice> macro;
  std::u16string shown_macro;  // the button's macro the selection dialog was opened with
  std::function<void(MacroStore&)> edit_macros;
  std::function<void(BindingsModel&)> edit_bindings;
};

class AppTest : public DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    UseVirtualClock(0);
    sim::InstallInProcessSim(mouse_);
    profiles_ = std::make_unique<ProfileStore>();
    macros_ = std::make_unique<MacroStore>();
  }
  void TearDown() override {
    Close();
    sim::UninstallInProcessSim();
    UseRealClock();
    CTrayIcon::SetTrayAvailableForTesting(std::nullopt);
    DataFolderTest::TearDown();
  }

  void Start(std::initializer_list<Connection> connections, bool tray = false) {
    CTrayIcon::SetTrayAvailableForTesting(tray);
    for (auto c : connections) mouse_.Plug(c);
    wnd_ = std::make_unique<CMainWnd>(*profiles_, *macros_);
    wnd_->page().SetBlePresenceCheck([] { return false; });
    wnd_->page().SetDialogs(&dialogs_);
    ASSERT_TRUE(wnd_->Create(nullptr, "", 0x96CA0000u, 0, 0, 800, 572));
    wnd_->CenterWindow();
    Settle();
  }
  void Settle() {
    RunUntilIdle();
    AdvanceClock(20);
  }
  void Close() {
    if (!wnd_) return;
    if (wnd_->GetHWND()) ::DestroyWindow(wnd_->GetHWND());
    RunUntilIdle();
    wnd_.reset();
    // The quit the window posted would end the next test's first modal loop.
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    QApplication::processEvents();
  }
  template <class T = CControlUI>
  T* Find(const char* name) {
    return dynamic_cast<T*>(wnd_->GetPaintManager().FindControl(name));
  }
  void Click(const char* name) {
    CControlUI* c = Find(name);
    ASSERT_NE(c, nullptr) << name;
    QTest::mouseClick(c->GetWidget(), Qt::LeftButton);
  }
  // Runs virtual time until the mouse has taken `frames` more frames than `before`.
  bool WaitForApply() {
    for (int ms = 0; ms < 60'000; ms += 100) {
      AdvanceClock(100);
      if (wnd_->page().device().worker.full_write_pending() == 0 && !applying()) return true;
    }
    return false;
  }
  bool applying() { return wnd_->page().device().writing(); }
  int FrameCount(const char* name) {
    auto counts = mouse_.State().frame_counts;
    return counts.count(name) ? counts[name] : 0;
  }

  sim::SimMouse mouse_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<ProfileStore> profiles_;
  std::unique_ptr<MacroStore> macros_;
  std::unique_ptr<CMainWnd> wnd_;
};

}  // namespace brevak::test
