// The macro editor offscreen, through its controls, against a library in a data folder of its
// own: the limits every edit keeps, the panel's clamps and filters, renames, the file buttons'
// wiring, and recording from WM_HOOK_INPUT messages on the virtual clock.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <fstream>
#include <functional>
#include <vector>

#include "macro/macro_editor.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "platform/keyboard/keyboard_layout.h"
#include "platform/text.h"
#include "store/record_files.h"
#include "store_test_util.h"
#include "tests/common/scripted_files.h"
#include "tests/common/ui_test_main.h"

namespace brevak::test {
namespace {

constexpr uint8_t kUsageA = 0x04;
constexpr uint8_t kUsageB = 0x05;
constexpr WPARAM kVkA = 'A';
constexpr WPARAM kVkB = 'B';

// The Hook library as a log of its calls.
std::vector<std::string> g_hook_calls;
BOOL LogInstallMouse() { g_hook_calls.push_back("installmousehook"); return TRUE; }
BOOL LogRemoveMouse() { g_hook_calls.push_back("removemousehook"); return TRUE; }
BOOL LogEnableMouse(int on) { g_hook_calls.push_back("enablemousehook " + std::to_string(on)); return TRUE; }
BOOL LogInstall(HWND) { g_hook_calls.push_back("installhook"); return TRUE; }
BOOL LogRemove() { g_hook_calls.push_back("removehook"); return TRUE; }
BOOL LogEnable(int on) { g_hook_calls.push_back("enablehook " + std::to_string(on)); return TRUE; }
BOOL LogWheel(int on) { g_hook_calls.push_back("mousewheelenable " + std::to_string(on)); return TRUE; }
const HookFunctionTable kLoggingHooks = {LogInstallMouse, LogRemoveMouse, LogEnableMouse, LogInstall,
                                         LogRemove,       LogEnable,      LogWheel};

MacroAction Key(uint8_t code, uint16_t delay = 10, uint8_t kind = kMacroPress) {
  MacroAction a{};
  a.code = code;
  a.kind = kind;
  a.delay = delay;
  return a;
}
MacroAction Move(uint16_t delay = 10, int32_t x = 5, int32_t y = -5) {
  MacroAction a{};
  a.code = kMacroCodeMove;
  a.kind = kMacroMove;
  a.delay = delay;
  a.x = x;
  a.y = y;
  return a;
}
std::vector<MacroAction> Keys(int n, uint16_t delay = 10) {
  std::vector<MacroAction> v;
  for (int i = 0; i < n; ++i) v.push_back(Key(kUsageA, delay, i % 2 ? kMacroRelease : kMacroPress));
  return v;
}
std::vector<MacroAction> operator+(std::vector<MacroAction> a, const std::vector<MacroAction>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
std::vector<MacroAction> Moves(int n, uint16_t delay = 10) { return std::vector<MacroAction>(size_t(n), Move(delay)); }

class MacroEditorTest : public DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    UseVirtualClock(0);
    PinActiveLayout(KeyboardLayout::FromNames(LayoutNames{}));
    g_hook_calls.clear();
    store_ = std::make_unique<MacroStore>();
  }
  void TearDown() override {
    CloseEditor();
    PinActiveLayout(std::nullopt);
    UseRealClock();
    DataFolderTest::TearDown();
  }

  // A macro in the library, saved.
  void AddStored(const char16_t* name, const std::vector<MacroAction>& steps) {
    auto m = std::make_unique<MacroRecord>(MakeEmptyMacroRecord());
    SetFixed(m->name, name);
    m->action_count = int32_t(steps.size());
    std::copy(steps.begin(), steps.end(), m->actions);
    store_->list().push_back(std::move(m));
    ASSERT_TRUE(store_->Save());
  }
  void Open() {
    editor_ = std::make_unique<CMS_1_Macro>(*store_, &kLoggingHooks, files_);
    editor_->confirm = [this](std::string_view key) {
      said_.push_back("confirm " + std::string(key));
      return true;
    };
    editor_->warn = [this](std::u16string text) { said_.push_back("warn " + Utf16ToUtf8(text)); };
    ASSERT_TRUE(editor_->Create(nullptr, "MS_1_Macro", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW, 0, 0, 800, 572));
    RunUntilIdle();
  }
  void CloseEditor() {
    if (editor_ && editor_->GetHWND()) ::DestroyWindow(editor_->GetHWND());
    RunUntilIdle();
    editor_.reset();
  }
  template <class T = CControlUI>
  T* Find(const char* name) {
    auto* c = dynamic_cast<T*>(editor_->GetPaintManager().FindControl(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  void Click(const char* name) {
    if (CControlUI* c = Find(name)) QTest::mouseClick(c->GetWidget(), Qt::LeftButton);
    RunUntilIdle();
  }
  void SelectStep(int row) { Find<CListUI>("ms_1_macro_action_list")->SelectItem(row); }
  // Text typed into a field, then the field left.
  void Enter(const char* field, const char* text) {
    auto* edit = Find<CEditUI>(field);
    if (!edit) return;
    auto* line = qobject_cast<QLineEdit*>(edit->GetWidget());
    line->clear();
    QTest::keyClicks(line, QString::fromUtf8(text));
    editor_->GetPaintManager().SendNotify(edit, "killfocus");
  }
  std::string Text(const char* name) {
    CControlUI* c = Find(name);
    return c ? Utf16ToUtf8(c->GetText().str()) : "";
  }
  int Rows(const char* list) { return Find<CListUI>(list)->GetCount(); }
  const MacroRecord& Stored(int i = 0) { return *store_->list()[size_t(i)]; }
  MacroRecord OnDisk(int i = 0) {
    MacroStore again;
    again.Load();
    return again.list().size() > size_t(i) ? *again.list()[size_t(i)] : MacroRecord{};
  }
  void Hook(WPARAM w, LPARAM l, int64_t after_ms = 0) {
    AdvanceClock(after_ms);
    ::PostMessageW(editor_->GetHWND(), WM_HOOK_INPUT, w, l);
    RunUntilIdle();
  }

  // What the editor says with a language text.
  template <class... Args>
  static std::string Said(const char16_t* key, Args... args) {
    return Utf16ToUtf8(Format(LanguageText(key), args...));
  }

  std::unique_ptr<MacroStore> store_;
  std::unique_ptr<CMS_1_Macro> editor_;
  ScriptedFiles files_;
  std::vector<std::string> said_;
};

// ---- Limits of every edit --------------------------------------------------------------------

TEST_F(MacroEditorTest, InsertsKeepTheStepUnitAndFrameLimits) {
  // Four frames hold 188 units of these steps, the fifth frame starts after them.
  const auto five_frames = Keys(46) + Moves(1, 200) + Keys(42) + Moves(1, 200) + Keys(42) + Moves(1, 200) +
                           Keys(42) + Moves(1, 200);
  ASSERT_EQ(CountMacroFrames(five_frames.data(), int(five_frames.size())), 5);
  const auto four_full = Keys(46) + Moves(1, 200) + Keys(42) + Moves(1, 200) + Keys(42) + Moves(1, 200) + Keys(42);
  ASSERT_EQ(CountMacroFrames(four_full.data(), int(four_full.size())), 4);
  const auto at_189 = Keys(60, 200) + Moves(23);
  ASSERT_EQ(ComputeMacroUnits(at_189.data(), int(at_189.size())), 189);

  struct Case {
    const char* what;
    std::vector<MacroAction> steps;
    const char* default_delay;  // typed before the insert
    const char* button;
    int count;  // steps afterwards, in the editor and in the file
    bool told;  // the user hears why the edit was refused
  } cases[] = {
      {"190 steps refuse a click", Keys(190), "10", "ms_1_macro_key1_btn", 190, true},
      {"190 steps refuse a move", Keys(190), "10", "ms_1_macro_move_btn", 190, true},
      {"189 steps refuse a click, which needs two places", Keys(189), "10", "ms_1_macro_key2_btn", 189, true},
      {"189 steps take a move", Keys(186), "10", "ms_1_macro_move_btn", 187, false},
      {"a move reaching 192 units is undone", at_189, "10", "ms_1_macro_move_btn", 83, true},
      {"a click reaching 191 units is kept", at_189, "10", "ms_1_macro_key3_btn", 85, false},
      {"a click needing a fifth frame is undone", four_full, "200", "ms_1_macro_key1_btn", int(four_full.size()), true},
      {"a stored five-frame macro still takes edits that keep it at five", five_frames, "10",
       "ms_1_macro_delete_action_btn", int(five_frames.size()) - 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    store_->list().clear();
    said_.clear();
    AddStored(u"M", c.steps);
    Open();
    Click("ms_1_default_delay_btn");
    Enter("ms_1_default_delay_edit", c.default_delay);
    Click(c.button);
    EXPECT_EQ(editor_->steps().count, c.count);
    EXPECT_EQ(Rows("ms_1_macro_action_list"), c.count);
    EXPECT_EQ(OnDisk().action_count, c.count);
    EXPECT_LT(ComputeMacroUnits(Stored().actions, Stored().action_count), kMacroUnitLimit);
    EXPECT_EQ(said_, c.told ? std::vector<std::string>{"warn " + Said(u"macro_full_text", kRecordingStepLimit)}
                            : std::vector<std::string>{});
    CloseEditor();
  }
}

TEST_F(MacroEditorTest, StepRowsShowTheirDelayFromTheFirstShowAndUpDownKeepTheMovedStepSelected) {
  AddStored(u"M", {Key(kUsageA, 50), Key(kUsageB, 60), Move(70)});
  Open();
  // Every row's delay is shown inside the list the first time the editor opens.
  auto* view = qobject_cast<QListWidget*>(Find("ms_1_macro_action_list")->GetWidget());
  ASSERT_NE(view, nullptr);
  for (int row = 0; row < 3; ++row) {
    auto* delay = qobject_cast<QLabel*>(
        dynamic_cast<CContainerUI*>(Find<CListUI>("ms_1_macro_action_list")->GetItemAt(row))->FindSubControl("delay")->GetWidget());
    ASSERT_NE(delay, nullptr);
    EXPECT_EQ(delay->text().toStdString(), std::to_string(Stored().actions[row].delay)) << row;
    EXPECT_LE(delay->mapTo(view->viewport(), QPoint(delay->width(), 0)).x(), view->viewport()->width()) << row;
  }
  const struct {
    const char* button;
    int from, to;  // the selected row before and after
    uint16_t delays[3];  // the steps' order afterwards, by their delays
  } cases[] = {
      {"ms_1_macro_up_btn", 1, 0, {60, 50, 70}},
      {"ms_1_macro_down_btn", 1, 2, {50, 70, 60}},
      {"ms_1_macro_up_btn", 0, 0, {50, 60, 70}},    // nothing above
      {"ms_1_macro_down_btn", 2, 2, {50, 60, 70}},  // nothing below
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.button) + " from " + std::to_string(c.from));
    store_->list().clear();
    AddStored(u"M", {Key(kUsageA, 50), Key(kUsageB, 60), Move(70)});
    Open();
    SelectStep(c.from);
    Click(c.button);
    EXPECT_EQ(editor_->steps().selected, c.to);
    EXPECT_EQ(Find<CListUI>("ms_1_macro_action_list")->GetCurSel(), c.to);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(OnDisk().actions[i].delay, c.delays[i]) << i;
    CloseEditor();
  }
}

TEST_F(MacroEditorTest, DeletingTheOnlyStepLeavesNoSelectionAndTheButtonThenDoesNothing) {
  AddStored(u"M", {Key(kUsageA)});
  Open();
  SelectStep(0);
  Click("ms_1_macro_delete_action_btn");
  EXPECT_EQ(editor_->steps().count, 0);
  EXPECT_EQ(editor_->steps().selected, -1);
  EXPECT_EQ(OnDisk().action_count, 0);
  Click("ms_1_macro_delete_action_btn");
  EXPECT_EQ(editor_->steps().count, 0);
  // Up, down and edit mode need a selected step too.
  Click("ms_1_macro_action_edit_check");
  EXPECT_FALSE(Find<CCheckBoxUI>("ms_1_macro_action_edit_check")->GetCheck());
}

// ---- The step panel's fields -----------------------------------------------------------------

TEST_F(MacroEditorTest, PanelDelaysAreClampedAndTheLastStepKeepsItsPauseExceptThroughTheMoveField) {
  struct Case {
    const char* what;
    int row;  // of: key a, left button press, key b, move (last)
    const char* field;
    const char* typed;
    uint16_t delay;     // of that step afterwards
    const char* shown;  // in the field afterwards
  } cases[] = {
      {"key 0 gives 10", 0, "ms_1_macro_delay_edit", "0", 10, "10"},
      {"key 30000 gives 25000", 0, "ms_1_macro_delay_edit", "30000", 25000, "25000"},
      {"button 0 gives 10", 1, "ms_1_macro_mouseaction_delay_edit", "0", 10, "10"},
      {"button 777 is kept", 1, "ms_1_macro_mouseaction_delay_edit", "777", 777, "777"},
      {"move 0 gives 1, on the last step too", 3, "mouse_move_delay_edit", "0", 1, "1"},
      {"move 30000 gives 25000", 3, "mouse_move_delay_edit", "30000", 25000, "25000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    store_->list().clear();
    AddStored(u"M", {Key(kUsageA, 50), Key(kMacroCodeLeft, 50), Key(kUsageB, 50), Move(50)});
    Open();
    SelectStep(c.row);
    Click("ms_1_macro_action_edit_check");
    Enter(c.field, c.typed);
    EXPECT_EQ(Stored().actions[c.row].delay, c.delay);
    EXPECT_EQ(OnDisk().actions[c.row].delay, c.delay);
    EXPECT_EQ(Text(c.field), c.shown);
    CloseEditor();
  }
  // The keyboard field leaves the last step alone.
  store_->list().clear();
  AddStored(u"M", {Key(kUsageA, 50), Key(kUsageB, 50)});
  Open();
  SelectStep(1);
  Click("ms_1_macro_action_edit_check");
  Enter("ms_1_macro_delay_edit", "300");
  EXPECT_EQ(Stored().actions[1].delay, 50);
  EXPECT_EQ(Find<CTabLayoutUI>("ms_1_macro_action_edit_tab")->GetCurSel(), 1);
  // Cancel closes the panel.
  Click("ms_1_macro_cancel_btn");
  EXPECT_EQ(Find<CTabLayoutUI>("ms_1_macro_action_edit_tab")->GetCurSel(), 0);
  EXPECT_FALSE(Find<CCheckBoxUI>("ms_1_macro_action_edit_check")->GetCheck());
}

TEST_F(MacroEditorTest, CoordinateFieldsKeepDigitsAndMinusWithinPlusMinus999) {
  AddStored(u"M", {Key(kUsageA), Move(10, 1, 2)});
  Open();
  Click("ms_1_macro_insert_mouse_btn");
  EXPECT_TRUE(Find("ms_1_macro_mouse_event_tab")->IsVisible());
  EXPECT_FALSE(Find("ms_1_macro_name_tab")->IsVisible());
  const struct {
    const char* field;
    const char* typed;
    const char* shown;
  } cases[] = {{"ms_1_edit_x", "12a3", "123"},         {"ms_1_edit_y", "1500", "999"},
               {"ms_1_edit_x", "-2000", "-999"},       {"mouse_move_edit_x_edit", "x-4y5", "-45"},
               {"mouse_move_edit_y_edit", "99999", "999"}};
  SelectStep(1);
  Click("ms_1_macro_action_edit_check");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    Enter(c.field, c.typed);
    EXPECT_EQ(Text(c.field), c.shown);
  }
  EXPECT_EQ(Stored().actions[1].x, -45);
  EXPECT_EQ(Stored().actions[1].y, 999);
  // The insert takes the fields' values, after the selected step.
  SelectStep(0);
  Click("ms_1_macro_move_btn");
  ASSERT_EQ(Stored().action_count, 3);
  EXPECT_EQ(Stored().actions[1].x, -999);
  EXPECT_EQ(Stored().actions[1].y, 999);
  EXPECT_EQ(Stored().actions[1].delay, kInsertedStepDelay);
  // Its row, from the template: what it is, where it goes, its pause.
  auto* row = dynamic_cast<CContainerUI*>(Find<CListUI>("ms_1_macro_action_list")->GetItemAt(1));
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->FindSubControl("key")->GetText().utf8(), Utf16ToUtf8(LanguageText(u"mouse_move_text")));
  EXPECT_EQ(row->FindSubControl("key_icon")->GetBkImage().utf8(), "skin/step_move.svg");
  EXPECT_EQ(row->FindSubControl("action")->GetText().utf8(), "X: -999 Y: 999");
  EXPECT_EQ(row->FindSubControl("delay")->GetText().utf8(), "10");
  EXPECT_EQ(Find<CListUI>("ms_1_macro_action_list")->GetCurSel(), 1);  // the inserted step
}

TEST_F(MacroEditorTest, TheKeyFieldTakesTheNextKeyForTheSelectedStepAndIgnoresMouseButtons) {
  AddStored(u"M", {Key(kUsageA), Key(kUsageA, 10, kMacroRelease)});
  Open();
  SelectStep(1);
  Click("ms_1_macro_action_edit_check");
  auto* field = Find<CEditUI>("ms_1_macro_action_edit");
  editor_->GetPaintManager().SendNotify(field, "setfocus");
  EXPECT_EQ(g_hook_calls, (std::vector<std::string>{"installhook", "enablehook 1"}));
  Hook(WM_LBUTTONDOWN, 0);  // the click that focused the field
  EXPECT_EQ(Stored().actions[1].code, kUsageA);
  Hook(kVkB, 1);  // a release counts as well
  EXPECT_EQ(Text("ms_1_macro_action_edit"), "B");
  EXPECT_EQ(OnDisk().actions[1].code, kUsageB);
  EXPECT_EQ(OnDisk().actions[1].kind, kMacroRelease);
  EXPECT_EQ(OnDisk().actions[0].code, kUsageA);
  g_hook_calls.clear();
  editor_->GetPaintManager().SendNotify(field, "killfocus");
  EXPECT_EQ(g_hook_calls, (std::vector<std::string>{"removehook", "enablehook 0"}));
}

// ---- Names and files -------------------------------------------------------------------------

TEST_F(MacroEditorTest, RenamesRefuseAnotherMacrosNameAndIgnoreACaseChangeOfTheirOwn) {
  const struct {
    const char* typed;
    const char* name;  // of the first macro afterwards
  } cases[] = {
      {"fire", "Fire"},                           // its own name in other letters: nothing changes
      {"JUMP", "Fire"},                           // another macro's
      {"", "Fire"},                               // no name
      {"Burst", "Burst"},
      {"A name far longer than the field", "A name far longer than "},  // 23 characters
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    store_->list().clear();
    AddStored(u"Fire", {});
    AddStored(u"Jump", {});
    Open();
    Enter("ms_1_macro_name_edit", c.typed);
    EXPECT_EQ(Utf16ToUtf8(FixedToString(OnDisk().name)), c.name);
    EXPECT_EQ(Text("ms_1_macro_name_edit"), c.name);
    EXPECT_EQ(Utf16ToUtf8(Find<CListUI>("ms_1_macro_list")->GetItemAt(0)->GetText().str()), c.name);
    CloseEditor();
  }
}

TEST_F(MacroEditorTest, FileButtonsAskTheChooserAndARefusedFileIsNamedWithItsReasonAndChangesNothing) {
  AddStored(u"Fire", {Key(kUsageA)});
  const auto refused = root_ / "short.macro";
  std::ofstream(refused, std::ios::binary) << "abc";
  const auto good = root_ / "good.macro";
  ASSERT_TRUE(ExportMacro(Stored(), good));
  Open();

  files_.path = refused;
  Click("ms_1_macro_import_btn");
  EXPECT_EQ(files_.asked.back(), "open *.macro *.MACRO");
  ASSERT_EQ(said_.size(), 1u);
  EXPECT_NE(said_[0].find("short.macro"), std::string::npos) << said_[0];
  EXPECT_NE(said_[0].find("not a macro file"), std::string::npos) << said_[0];
  EXPECT_EQ(Rows("ms_1_macro_list"), 1);
  EXPECT_EQ(SizeOf(store_->file()), sizeof(MacroRecord));

  files_.path = good;
  Click("ms_1_macro_import_btn");
  EXPECT_EQ(Rows("ms_1_macro_list"), 2);
  EXPECT_EQ(Text("ms_1_macro_name_edit"), "Fire_1");  // the new macro is selected

  files_.path = root_ / "no such folder" / "x.macro";
  Click("ms_1_macro_export_btn");
  EXPECT_EQ(files_.asked.back(), "save *.macro *.MACRO");
  ASSERT_EQ(said_.size(), 2u);
  EXPECT_NE(said_[1].find("x.macro could not be written"), std::string::npos) << said_[1];

  files_.path.reset();  // cancelled
  Click("ms_1_macro_import_btn");
  EXPECT_EQ(Rows("ms_1_macro_list"), 2);
  EXPECT_EQ(said_.size(), 2u);
}

TEST_F(MacroEditorTest, AddAndDeleteKeepListAndLibraryTogether) {
  Open();
  Click("ms_1_macro_add_btn");
  Click("ms_1_macro_add_btn");
  ASSERT_EQ(store_->list().size(), 2u);
  EXPECT_EQ(Rows("ms_1_macro_list"), 2);
  EXPECT_EQ(Find<CListUI>("ms_1_macro_list")->GetCurSel(), 1);
  Click("ms_1_macro_delete_btn");
  EXPECT_EQ(said_.back(), "confirm delete_macro_text");
  EXPECT_EQ(store_->list().size(), 1u);
  EXPECT_EQ(Find<CListUI>("ms_1_macro_list")->GetCurSel(), 0);
  Click("ms_1_macro_delete_btn");
  EXPECT_TRUE(store_->list().empty());
  EXPECT_EQ(SizeOf(store_->file()), 0u);
  EXPECT_EQ(Text("ms_1_macro_name_edit"), "");
}

// ---- Recording -------------------------------------------------------------------------------

struct Event {
  int64_t after_ms;
  WPARAM w;
  LPARAM l;
};
struct Step {
  uint8_t code, kind;
  uint16_t delay;
};
std::ostream& operator<<(std::ostream& o, const Step& s) {
  return o << "{" << int(s.code) << "," << int(s.kind) << "," << s.delay << "}";
}

TEST_F(MacroEditorTest, RecordingTakesEachTransitionOnceWithThePauseOfItsDelayMode) {
  constexpr uint8_t P = kMacroPress, R = kMacroRelease;
  struct Case {
    const char* what;
    const char* mode_button;
    std::vector<Event> events;
    std::vector<Step> steps;
  } cases[] = {
      {"a repeated press is one press", "ms_1_record_delay_btn",
       {{0, kVkA, 0}, {30, kVkA, 0}, {40, kVkA, 1}},
       {{kUsageA, P, 70}, {kUsageA, R, 1}}},
      {"a, release, a are three steps", "ms_1_no_delay_btn",
       {{5, kVkA, 0}, {5, kVkA, 1}, {5, kVkA, 0}},
       {{kUsageA, P, 1}, {kUsageA, R, 1}, {kUsageA, P, 1}}},
      {"300 ms recorded, 70 s capped", "ms_1_record_delay_btn",
       {{1000, kVkA, 0}, {300, kVkA, 1}, {70'000, WM_XBUTTONDOWN, XBUTTON1}, {10, WM_XBUTTONUP, XBUTTON2}},
       {{kUsageA, P, 300}, {kUsageA, R, 25000}, {kMacroCodeBackward, P, 10}, {kMacroCodeForward, R, 1}}},
      {"the default delay, and no step for the wheel", "ms_1_default_delay_btn",
       {{3, WM_LBUTTONDOWN, 0}, {3, WM_MOUSEWHEEL, 120}, {3, WM_LBUTTONUP, 0}},
       {{kMacroCodeLeft, P, 10}, {kMacroCodeLeft, R, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    store_->list().clear();
    AddStored(u"M", {Key(kUsageB), Key(kUsageB, 10, R)});
    Open();
    Click(c.mode_button);
    Click("ms_1_macro_clear_action_btn");  // no step selected: the recording fills the macro
    Click("ms_1_macro_record_btn");
    ASSERT_TRUE(editor_->recording());
    for (const Event& e : c.events) Hook(e.w, e.l, e.after_ms);
    EXPECT_EQ(OnDisk().action_count, 0);  // nothing is saved while recording
    Click("ms_1_macro_record_btn");
    EXPECT_FALSE(editor_->recording());
    std::vector<Step> got;
    for (int i = 0; i < Stored().action_count; ++i) {
      const MacroAction& a = Stored().actions[i];
      got.push_back({a.code, a.kind, a.delay});
    }
    EXPECT_EQ(testing::PrintToString(got), testing::PrintToString(c.steps));
    EXPECT_EQ(OnDisk().action_count, int(c.steps.size()));
    EXPECT_EQ(Rows("ms_1_macro_action_list"), int(c.steps.size()));
    CloseEditor();
  }
}

TEST_F(MacroEditorTest, ARecordingAfterASelectedStepGivesThatStepTheFirstPause) {
  AddStored(u"M", {Key(kUsageB, 70), Key(kUsageB, 80, kMacroRelease)});
  Open();
  Click("ms_1_record_delay_btn");
  SelectStep(0);
  Click("ms_1_macro_record_btn");
  Hook(kVkA, 0, 400);
  // While recording, the list shows each step where it went, and the pause it gave the one before.
  auto* list = Find<CListUI>("ms_1_macro_action_list");
  ASSERT_EQ(list->GetCount(), 3);
  auto sub = [&](int row, const char* name) {
    return dynamic_cast<CContainerUI*>(list->GetItemAt(row))->FindSubControl(name)->GetText().utf8();
  };
  EXPECT_EQ(sub(0, "delay"), "400");
  EXPECT_EQ(sub(1, "key"), "A");
  EXPECT_EQ(sub(2, "key"), "B");
  EXPECT_EQ(list->GetCurSel(), 1);
  Hook(kVkA, 1, 20);
  Click("ms_1_macro_record_btn");
  ASSERT_EQ(Stored().action_count, 4);
  EXPECT_EQ(Stored().actions[0].delay, 400);  // the pause before the first new step
  EXPECT_EQ(Stored().actions[1].code, kUsageA);
  EXPECT_EQ(Stored().actions[1].delay, 20);
  EXPECT_EQ(Stored().actions[2].delay, 1);   // the last new step
  EXPECT_EQ(Stored().actions[3].delay, 80);  // the step after them keeps its own
  EXPECT_EQ(Stored().actions[3].kind, kMacroRelease);
}

TEST_F(MacroEditorTest, ClosingMidRecordingKeepsTheStepsAndReleasesTheHooks) {
  Open();  // an empty library: recording adds a macro first
  Click("ms_1_macro_record_btn");
  ASSERT_EQ(store_->list().size(), 1u);
  EXPECT_EQ(g_hook_calls, (std::vector<std::string>{"installhook", "enablehook 1", "mousewheelenable 0", "enablemousehook 1"}));
  Hook(kVkA, 0, 10);
  Hook(kVkA, 1, 10);
  g_hook_calls.clear();
  CloseEditor();
  EXPECT_EQ(g_hook_calls, (std::vector<std::string>{"removehook", "removemousehook", "enablemousehook 0",
                                                    "enablehook 0", "mousewheelenable 0"}));
  EXPECT_EQ(OnDisk().action_count, 2);
}

TEST_F(MacroEditorTest, ChoosingAnotherMacroMidRecordingEndsTheRecordingInTheFirst) {
  AddStored(u"First", {});
  AddStored(u"Second", {Key(kUsageB)});
  Open();
  Click("ms_1_macro_record_btn");
  Hook(kVkA, 0, 10);
  Find<CListUI>("ms_1_macro_list")->SelectItem(1);
  EXPECT_FALSE(editor_->recording());
  EXPECT_FALSE(Find<CCheckBoxUI>("ms_1_macro_record_btn")->GetCheck());
  EXPECT_EQ(OnDisk(0).action_count, 1);
  EXPECT_EQ(OnDisk(0).actions[0].code, kUsageA);
  Hook(kVkA, 1, 10);  // too late for any macro
  EXPECT_EQ(OnDisk(1).action_count, 1);
  EXPECT_EQ(editor_->steps().count, 1);
  EXPECT_EQ(editor_->steps().steps[0].code, kUsageB);
}

// A control that changes the steps or the macro ends the recording first: what it took is kept
// and saved, and the control then acts on the steps as they are after it.
TEST_F(MacroEditorTest, ControlsThatChangeTheStepsEndARecordingFirst) {
  const struct {
    const char* button;  // clicked, or
    const char* field;   // pasted into (keys do not reach it while recording) and left
    const char* typed;
    int count;  // steps on disk afterwards; the recording left b, a, a (selected), b
    const char* name;
  } cases[] = {
      {"ms_1_macro_up_btn", nullptr, nullptr, 4, "M"},
      {"ms_1_macro_delete_action_btn", nullptr, nullptr, 3, "M"},
      {"ms_1_macro_clear_action_btn", nullptr, nullptr, 0, "M"},
      {"ms_1_macro_cancel_btn", nullptr, nullptr, 4, "M"},
      {"ms_1_macro_save_btn", nullptr, nullptr, 4, "M"},
      {"ms_1_macro_key2_btn", nullptr, nullptr, 6, "M"},
      {"ms_1_macro_move_btn", nullptr, nullptr, 5, "M"},
      {nullptr, "ms_1_macro_name_edit", "Renamed", 4, "Renamed"},
      {nullptr, "ms_1_macro_delay_edit", "500", 4, "M"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button ? c.button : c.field);
    store_->list().clear();
    AddStored(u"M", {Key(kUsageB), Key(kUsageB, 10, kMacroRelease)});
    Open();
    SelectStep(0);
    Click("ms_1_macro_action_edit_check");
    Click("ms_1_macro_record_btn");
    Hook(kVkA, 0, 10);
    Hook(kVkA, 1, 10);
    ASSERT_TRUE(editor_->recording());
    if (c.button) {
      Click(c.button);
    } else {
      qobject_cast<QLineEdit*>(Find(c.field)->GetWidget())->setText(QString::fromUtf8(c.typed));
      editor_->GetPaintManager().SendNotify(Find(c.field), "killfocus");
    }
    EXPECT_FALSE(editor_->recording());
    EXPECT_FALSE(Find<CCheckBoxUI>("ms_1_macro_record_btn")->GetCheck());
    const MacroRecord disk = OnDisk();
    EXPECT_EQ(disk.action_count, c.count);
    EXPECT_EQ(Utf16ToUtf8(FixedToString(disk.name)), c.name);
    const int recorded = int(std::count_if(disk.actions, disk.actions + std::max(disk.action_count, 0),
                                           [](const MacroAction& a) { return a.code == kUsageA; }));
    EXPECT_EQ(recorded, c.count >= 4 ? 2 : c.count == 3 ? 1 : 0);
    if (c.field) {
      EXPECT_EQ(Text(c.field), c.typed);  // what was pasted, not what the end showed
    }
    Hook(kVkB, 0, 10);  // no longer recorded
    EXPECT_EQ(OnDisk().action_count, c.count);
    CloseEditor();
  }
}

// Each refusal says why.
TEST_F(MacroEditorTest, ARefusedRenameAnEmptyChoiceAndAFullRecordingSayWhy) {
  AddStored(u"Fire", Keys(186));
  AddStored(u"Jump", {});
  Open();
  Enter("ms_1_macro_name_edit", "jump");
  EXPECT_EQ(said_.back(), "warn " + Said(u"macro_name_taken_text", u"jump"));
  EXPECT_EQ(Text("ms_1_macro_name_edit"), "Fire");
  // Recording on to the step limit: the last event that fits ends it, and the user hears why.
  SelectStep(185);
  Click("ms_1_macro_record_btn");
  for (int i = 0; i < 6 && editor_->recording(); ++i) Hook(kVkA, LPARAM(i % 2), 10);
  EXPECT_FALSE(editor_->recording());
  EXPECT_EQ(OnDisk().action_count, kRecordingStepLimit);
  EXPECT_EQ(said_.back(), "warn " + Said(u"recording_full_text", kRecordingStepLimit));
  // No macro left: Done says there is none.
  Click("ms_1_macro_delete_btn");
  Click("ms_1_macro_delete_btn");
  ASSERT_TRUE(store_->list().empty());
  Click("ms_1_macro_save_btn");
  EXPECT_EQ(said_.back(), "warn " + Said(u"no_macro_chosen_text"));
}

// The recorder alone: where its limits stop it.
TEST(MacroRecorderLimits, StopsAt190StepsOr190UnitsAndKeepsWhatFits) {
  UseVirtualClock(0);
  PinActiveLayout(KeyboardLayout::FromNames(LayoutNames{}));
  const struct {
    const char* what;
    DelayMode mode;
    uint16_t default_delay;
    int taken;  // events recorded before the recorder stopped itself
    int units;
  } cases[] = {
      {"190 steps", DelayMode::kNone, 1, 190, 190},
      {"190 units of long pauses", DelayMode::kDefault, 200, 96, 191},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MacroSteps steps;
    MacroRecorder recorder;
    recorder.Start(nullptr, steps, c.mode, c.default_delay);
    int taken = 0;
    for (int i = 0; i < 400 && recorder.recording(); ++i) {
      if (recorder.Take(kVkA + WPARAM(i % 2), LPARAM(i / 2 % 2), steps) != MacroRecorder::Took::kIgnored) ++taken;
    }
    EXPECT_FALSE(recorder.recording());
    EXPECT_EQ(steps.count, c.taken);
    EXPECT_EQ(ComputeMacroUnits(steps.steps.data(), steps.count), c.units);
    EXPECT_TRUE(FitsOnMouse(steps.steps.data(), steps.count));
  }
  PinActiveLayout(std::nullopt);
  UseRealClock();
}

}  // namespace
}  // namespace brevak::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTests(BREVAK_RES_DIR, "offscreen");
}
