#include "macro/macro_editor.h"

#include <QCoreApplication>
#include <QEvent>
#include <QListView>
#include <QWidget>
#include <algorithm>
#include <cstring>

#include "dialogs/small_dialogs.h"
#include "macro/key_tables.h"
#include "platform/format.h"
#include "platform/keyboard/keyboard_layout.h"
#include "platform/text.h"
#include "store/names.h"
#include "store/record_files.h"

namespace brevak {
namespace {

constexpr int kMacroRowHeight = 30;
constexpr int kStepRowHeight = 30;
constexpr char kStepRowTemplate[] = "keylistitem.xml";
constexpr char kTitleKey[] = "warning_title_text";

// Pages of the step edit panel.
enum EditPage { kPageNone = 0, kPageKey = 1, kPageButton = 2, kPageMove = 3 };

// Row icons, by what the step is.
constexpr char kIconMouse[] = "skin/step_mouse.svg";
constexpr char kIconKey[] = "skin/step_key.svg";
constexpr char kIconMove[] = "skin/step_move.svg";
constexpr char kIconRelease[] = "skin/step_key_up.svg";
constexpr char kIconPress[] = "skin/step_key_down.svg";

constexpr WPARAM kFirstMouseMessage = 0x0200;
constexpr WPARAM kLastMouseMessage = WM_MOUSEHWHEEL;

bool IsButtonCode(uint8_t code) { return code >= kMacroCodeLeft && code <= kMacroCodeForward; }

std::u16string FileName(const std::filesystem::path& path) { return Utf8ToUtf16(path.filename().string()); }

std::u16string MoveText(const MacroAction& a) { return Format(u"X: %d Y: %d", a.x, a.y); }

int ComboItemOf(uint8_t code) {
  auto it = std::find(kEditorButtonCodes.begin(), kEditorButtonCodes.end(), code);
  return it == kEditorButtonCodes.end() ? -1 : int(it - kEditorButtonCodes.begin());
}


// The pointer entering and leaving a widget, for widgets whose control reports neither.
class PointerWatch : public QObject {
 public:
  PointerWatch(QObject* parent, std::function<void(bool over)> on) : QObject(parent), on_(std::move(on)) {}

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Enter) on_(true);
    if (e->type() == QEvent::Leave) on_(false);
    return false;
  }

 private:
  std::function<void(bool)> on_;
};

// Every macro but `except` already has `name`, ignoring case.
bool OtherMacroNamed(const MacroList& list, const MacroRecord* except, std::u16string_view name) {
  return std::any_of(list.begin(), list.end(), [&](const auto& m) {
    return m.get() != except && EqualsNoCase(FixedView(m->name), name);
  });
}

}  // namespace

struct CMS_1_Macro::Controls {
  CListUI* macro_list = nullptr;
  CEditUI* name_edit = nullptr;
  CCheckBoxUI* insert_mouse = nullptr;
  CCheckBoxUI* record = nullptr;
  CListUI* action_list = nullptr;
  std::array<COptionUI*, 3> delay_modes{};  // recorded, default, none
  CEditUI* default_delay = nullptr;
  CCheckBoxUI* edit_check = nullptr;
  CEditUI* key_field = nullptr;
  CEditUI* key_delay = nullptr;
  CTabLayoutUI* edit_tab = nullptr;
  CComboUI* button_combo = nullptr;
  CEditUI* button_delay = nullptr;
  CControlUI* name_tab = nullptr;
  CControlUI* mouse_tab = nullptr;
  std::array<CControlUI*, 5> click_buttons{};
  CEditUI* insert_x = nullptr;
  CEditUI* insert_y = nullptr;
  CEditUI* move_x = nullptr;
  CEditUI* move_y = nullptr;
  CEditUI* move_delay = nullptr;
};

CMS_1_Macro::CMS_1_Macro(MacroStore& macros, const HookFunctionTable* hooks, FileChooser& files)
    : macros_(macros), hooks_(hooks), files_(files), recorder_(hooks) {
  confirm = [this](std::string_view key) {
    return CMsgWnd::Show(GetHWND(), kTitleKey, CDuiString(key), MsgKind::kConfirm) == 1;
  };
  warn = [this](std::u16string text) { CMsgWnd::ShowText(GetHWND(), kTitleKey, std::move(text)); };
}

CMS_1_Macro::~CMS_1_Macro() = default;

UINT CMS_1_Macro::Show(HWND owner) { return RunModal(owner, "MS_1_Macro"); }

void CMS_1_Macro::InitWindow() {
  c_ = std::make_unique<Controls>();
  Controls& c = *c_;
  auto find = [this](const CDuiString& name) { return m_pm.FindControl(name); };
  c.macro_list = dynamic_cast<CListUI*>(find("ms_1_macro_list"));
  c.name_edit = dynamic_cast<CEditUI*>(find("ms_1_macro_name_edit"));
  c.insert_mouse = dynamic_cast<CCheckBoxUI*>(find("ms_1_macro_insert_mouse_btn"));
  c.record = dynamic_cast<CCheckBoxUI*>(find("ms_1_macro_record_btn"));
  c.action_list = dynamic_cast<CListUI*>(find("ms_1_macro_action_list"));
  const char* mode_names[] = {"ms_1_record_delay_btn", "ms_1_default_delay_btn", "ms_1_no_delay_btn"};
  for (size_t i = 0; i < c.delay_modes.size(); ++i) c.delay_modes[i] = dynamic_cast<COptionUI*>(find(mode_names[i]));
  c.default_delay = dynamic_cast<CEditUI*>(find("ms_1_default_delay_edit"));
  c.edit_check = dynamic_cast<CCheckBoxUI*>(find("ms_1_macro_action_edit_check"));
  c.key_field = dynamic_cast<CEditUI*>(find("ms_1_macro_action_edit"));
  c.key_delay = dynamic_cast<CEditUI*>(find("ms_1_macro_delay_edit"));
  c.edit_tab = dynamic_cast<CTabLayoutUI*>(find("ms_1_macro_action_edit_tab"));
  c.button_combo = dynamic_cast<CComboUI*>(find("ms_1_macro_mouse_action_combo"));
  c.button_delay = dynamic_cast<CEditUI*>(find("ms_1_macro_mouseaction_delay_edit"));
  c.name_tab = find("ms_1_macro_name_tab");
  c.mouse_tab = find("ms_1_macro_mouse_event_tab");
  for (size_t i = 0; i < c.click_buttons.size(); ++i) c.click_buttons[i] = find(Format(u"ms_1_macro_key%d_btn", i + 1));
  c.insert_x = dynamic_cast<CEditUI*>(find("ms_1_edit_x"));
  c.insert_y = dynamic_cast<CEditUI*>(find("ms_1_edit_y"));
  c.move_x = dynamic_cast<CEditUI*>(find("mouse_move_edit_x_edit"));
  c.move_y = dynamic_cast<CEditUI*>(find("mouse_move_edit_y_edit"));
  c.move_delay = dynamic_cast<CEditUI*>(find("mouse_move_delay_edit"));

  if (c.button_combo && c.button_combo->GetCount() == 0) {
    for (uint8_t code : kEditorButtonCodes) {
      auto* item = new CListLabelElementUI;
      item->SetText(UsageToKeyText(code));
      c.button_combo->Add(item);
    }
  }
  // The rows are made before the window has its size: they follow the list's width, or the
  // delay column would stay outside it until the rows are made again.
  if (auto* view = c.action_list ? qobject_cast<QListView*>(c.action_list->GetWidget()) : nullptr) {
    view->setResizeMode(QListView::Adjust);
  }
  // A click on the macro list switches the macro, ending a recording: like a click on the
  // editor's buttons, it is no step.
  if (QWidget* list = c.macro_list ? c.macro_list->GetWidget() : nullptr) {
    list->installEventFilter(new PointerWatch(list, [this](bool over) { recorder_.PointerOverOwnButton(over); }));
  }
  if (c.name_edit) c.name_edit->SetMaxChar(kMacroNameUnits - 1);
  if (c.default_delay) c.default_delay->SetText(Format(u"%d", kInsertedStepDelay));
  if (COptionUI* mode = c.delay_modes[size_t(delay_mode_)]) mode->Selected(true, false);
  if (c.record) c.record->SetResourceText("start_recording_text");
  if (c.edit_tab) c.edit_tab->SelectItem(kPageNone);
  if (c.macro_list) {
    for (const auto& macro : macros_.list()) {
      auto* row = new CListLabelElementUI;
      row->SetText(FixedToString(macro->name));
      row->SetFixedHeight(kMacroRowHeight);
      c.macro_list->Add(row);
    }
  }
  RefreshActiveLayout();
  if (!macros_.list().empty()) SelectMacroRow(0);
}

MacroRecord* CMS_1_Macro::Current() const {
  if (current_ < 0 || current_ >= int(macros_.list().size())) return nullptr;
  return macros_.list()[size_t(current_)].get();
}

void CMS_1_Macro::SelectMacroRow(int row) {
  if (c_->macro_list) {
    c_->macro_list->SelectItem(row, false, false);
    c_->macro_list->EnsureVisible(row);
  }
  LoadMacro(row);
}

void CMS_1_Macro::LoadMacro(int index) {
  current_ = index;
  MacroRecord* record = Current();
  if (!record) {
    current_ = -1;
    steps_.Clear();
    if (c_->name_edit) c_->name_edit->SetText(u"");
    RebuildStepList(-1);
    return;
  }
  steps_.Load(*record);
  if (c_->name_edit) c_->name_edit->SetText(FixedToString(record->name));
  RebuildStepList(steps_.RowAfterRebuild());
  DUI__Trace(Format(u"iActionIndex=%d, iNextActionIndex=%d\r\n", steps_.selected, steps_.insertion));
}

bool CMS_1_Macro::Commit() {
  MacroRecord* record = Current();
  if (!record) return false;
  const int units = ComputeMacroUnits(steps_.steps.data(), steps_.count);
  DUI__Trace(Format(u"iTotalNum = %d\r\n", units));
  // A macro stored before this rule may already need a fifth frame: edits that do not make it
  // longer stay possible, so it can be shortened.
  const bool fits = FitsOnMouse(steps_.steps.data(), steps_.count) ||
                    (units < kMacroUnitLimit && CountMacroFrames(steps_.steps.data(), steps_.count) <=
                                                    CountMacroFrames(record->actions, record->action_count));
  if (!fits) {
    LoadMacro(current_);
    warn(Format(LanguageText(u"macro_full_text"), kRecordingStepLimit));
    return false;
  }
  std::copy(steps_.steps.begin(), steps_.steps.end(), std::begin(record->actions));
  record->action_count = steps_.count;
  SaveMacroStore(macros_);
  return true;
}

bool CMS_1_Macro::AddStepRow(int at) {
  CDialogBuilder builder;
  auto* row = dynamic_cast<CContainerUI*>(builder.Create(kStepRowTemplate, &m_pm));
  if (!row) return false;  // no template: the list stays empty rather than showing half rows
  row->SetFixedHeight(kStepRowHeight);
  c_->action_list->AddAt(row, at);
  ShowRow(at);
  return true;
}

void CMS_1_Macro::SelectStepRow(int row) {
  CListUI* list = c_->action_list;
  steps_.selected = std::min(row, list->GetCount() - 1);
  if (steps_.selected >= 0) {
    list->SelectItem(steps_.selected, false, false);
    list->EnsureVisible(steps_.selected);
  }
  if (edit_mode_) ShowEditPanel();
}

void CMS_1_Macro::RebuildStepList(int select_row) {
  CListUI* list = c_->action_list;
  if (!list) return;
  list->RemoveAll();
  for (int i = 0; i < steps_.count && AddStepRow(i); ++i) {
  }
  SelectStepRow(select_row);
}

// One recorded step: its row alone is added, and the row before shows its new pause, so a long
// recording does not rebuild the whole list with every key.
void CMS_1_Macro::ShowRecordedStep() {
  CListUI* list = c_->action_list;
  if (!list) return;
  const int at = steps_.insertion < 0 ? steps_.count - 1 : steps_.insertion - 1;
  if (list->GetCount() != steps_.count - 1 || at < 0 || !AddStepRow(at)) {
    RebuildStepList(steps_.RowAfterRebuild());
    return;
  }
  if (at > 0) ShowRow(at - 1);
  SelectStepRow(at);
}

void CMS_1_Macro::ShowRow(int i) {
  auto* row = c_->action_list ? dynamic_cast<CContainerUI*>(c_->action_list->GetItemAt(i)) : nullptr;
  if (!row || i >= steps_.count) return;
  const MacroAction& a = steps_.steps[size_t(i)];
  CControlUI* key = row->FindSubControl("key");
  CControlUI* key_icon = row->FindSubControl("key_icon");
  CControlUI* action = row->FindSubControl("action");
  CControlUI* action_icon = row->FindSubControl("action_icon");
  CControlUI* delay = row->FindSubControl("delay");
  if (a.kind == kMacroMove) {
    if (key) {
      key->SetResourceText("mouse_move_text");
      key->SetToolTip(key->GetText());
    }
    if (key_icon) key_icon->SetBkImage(kIconMove);
    if (action) action->SetText(MoveText(a));
    if (action_icon) action_icon->SetBkImage("");
  } else {
    if (key) {
      key->SetText(UsageToKeyText(a.code));
      key->SetToolTip(key->GetText());
    }
    if (key_icon) key_icon->SetBkImage(IsButtonCode(a.code) ? kIconMouse : kIconKey);
    const bool press = a.kind == kMacroPress;
    if (action) action->SetResourceText(press ? "key_down_action" : "key_up_action");
    if (action_icon) action_icon->SetBkImage(press ? kIconPress : kIconRelease);
  }
  if (delay) delay->SetText(Format(u"%d", a.delay));
}

// ---- The macro list ----------------------------------------------------------------------------

void CMS_1_Macro::AddNewMacro() {
  MacroRecord* added = AddMacro(macros_);
  if (!added) return;
  if (c_->macro_list) {
    auto* row = new CListLabelElementUI;
    row->SetText(FixedToString(added->name));
    row->SetFixedHeight(kMacroRowHeight);
    c_->macro_list->Add(row);
  }
  SelectMacroRow(int(macros_.list().size()) - 1);
}

void CMS_1_Macro::DeleteCurrentMacro() {
  const int row = c_->macro_list ? c_->macro_list->GetCurSel() : current_;
  if (row < 0 || row >= int(macros_.list().size())) return;
  if (!confirm("delete_macro_text")) return;
  if (!DeleteMacro(macros_, row)) return;
  if (c_->macro_list) c_->macro_list->RemoveAt(row);
  const int left = int(macros_.list().size());
  SelectMacroRow(left == 0 ? -1 : std::min(row, left - 1));
}

void CMS_1_Macro::RenameCurrentMacro() {
  MacroRecord* record = Current();
  if (!record || !c_->name_edit) return;
  // The name as the record will hold it, so a cut name is checked as it will be stored.
  char16_t field[kMacroNameUnits] = {};
  SetFixed(field, c_->name_edit->GetText().str());
  const std::u16string typed = FixedToString(field);
  const std::u16string name = FixedToString(record->name);
  // The same name in other letters, an empty one, or another macro's: the old name stays.
  if (EqualsNoCase(typed, name) || typed.empty()) {
    c_->name_edit->SetText(name);
    return;
  }
  EndRecording();
  if (OtherMacroNamed(macros_.list(), record, typed)) {
    c_->name_edit->SetText(name);
    warn(Format(LanguageText(u"macro_name_taken_text"), typed));
    return;
  }
  SetFixed(record->name, typed);
  SaveMacroStore(macros_);
  c_->name_edit->SetText(typed);
  if (c_->macro_list) {
    if (CControlUI* row = c_->macro_list->GetItemAt(current_)) row->SetText(typed);
  }
}

void CMS_1_Macro::ImportFile() {
  auto path = files_.ChooseOpen(kMacroFiles);
  if (!path) return;
  const ImportResult result = ImportMacro(macros_, *path);
  if (result != ImportResult::kImported) {
    const char16_t* reason = result == ImportResult::kUnreadable ? u"reason_unreadable_text" : u"reason_not_macro_text";
    warn(Format(LanguageText(u"import_failed_text"), FileName(*path), LanguageText(reason)));
    return;
  }
  if (c_->macro_list) {
    auto* row = new CListLabelElementUI;
    row->SetText(FixedToString(macros_.list().back()->name));
    row->SetFixedHeight(kMacroRowHeight);
    c_->macro_list->Add(row);
  }
  SelectMacroRow(int(macros_.list().size()) - 1);
}

void CMS_1_Macro::ExportCurrent() {
  MacroRecord* record = Current();
  if (!record) return;
  auto path = files_.ChooseSave(kMacroFiles, FixedToString(record->name));
  if (!path) return;
  if (!ExportMacro(*record, *path)) warn(Format(LanguageText(u"export_failed_text"), FileName(*path)));
}

// ---- Steps by hand -----------------------------------------------------------------------------

uint16_t CMS_1_Macro::DefaultDelay() const {
  if (!c_->default_delay) return kInsertedStepDelay;
  return uint16_t(std::clamp<int64_t>(FieldNumber(c_->default_delay->GetText().str()), 1, kMaxMacroDelay));
}

void CMS_1_Macro::AfterStepEdit(bool changed, int select_row) {
  if (!changed) return;
  if (Commit()) RebuildStepList(select_row);
}

void CMS_1_Macro::InsertClick(uint8_t code) {
  if (!Current()) return;
  EndRecording();
  const uint16_t delay = delay_mode_ == DelayMode::kDefault ? DefaultDelay() : kInsertedStepDelay;
  if (!steps_.InsertClick(code, delay)) {
    warn(Format(LanguageText(u"macro_full_text"), kRecordingStepLimit));
    return;
  }
  if (Commit()) RebuildStepList(steps_.RowAfterRebuild());
  steps_.scroll_to_insertion = false;
}

void CMS_1_Macro::InsertMove() {
  if (!Current() || !c_->insert_x || !c_->insert_y) return;
  EndRecording();
  const auto x = int32_t(FieldNumber(FilterCoordinate(c_->insert_x->GetText().str())));
  const auto y = int32_t(FieldNumber(FilterCoordinate(c_->insert_y->GetText().str())));
  if (!steps_.InsertMove(x, y)) {
    warn(Format(LanguageText(u"macro_full_text"), kRecordingStepLimit));
    return;
  }
  if (Commit()) RebuildStepList(steps_.RowAfterRebuild());
  steps_.scroll_to_insertion = false;
}

void CMS_1_Macro::SetEditMode(bool on) {
  edit_mode_ = on && steps_.selected >= 0;
  if (c_->edit_check) c_->edit_check->SetCheck(edit_mode_);
  ShowEditPanel();
}

void CMS_1_Macro::ShowEditPanel() {
  Controls& c = *c_;
  const int s = steps_.selected;
  if (!edit_mode_ || s < 0 || s >= steps_.count) {
    if (c.edit_tab) c.edit_tab->SelectItem(kPageNone);
    return;
  }
  const MacroAction& a = steps_.steps[size_t(s)];
  const std::u16string delay = Format(u"%d", a.delay);
  if (IsButtonCode(a.code)) {
    if (c.edit_tab) c.edit_tab->SelectItem(kPageButton);
    if (c.button_combo) c.button_combo->SelectItem(ComboItemOf(a.code), false, false);
    if (c.button_delay) c.button_delay->SetText(delay);
  } else if (a.code == kMacroCodeMove) {
    if (c.edit_tab) c.edit_tab->SelectItem(kPageMove);
    if (c.move_x) c.move_x->SetText(Format(u"%d", a.x));
    if (c.move_y) c.move_y->SetText(Format(u"%d", a.y));
    if (c.move_delay) c.move_delay->SetText(delay);
  } else {
    if (c.edit_tab) c.edit_tab->SelectItem(kPageKey);
    if (c.key_field) c.key_field->SetText(UsageToKeyText(a.code));
    if (c.key_delay) c.key_delay->SetText(delay);
  }
}

// A panel field left: its value into the selected step.
void CMS_1_Macro::TakePanelField(CControlUI* field) {
  Controls& c = *c_;
  const int s = steps_.selected;
  if (s < 0 || s >= steps_.count || !field) return;
  MacroAction a = steps_.steps[size_t(s)];
  const int64_t value = FieldNumber(field->GetText().str());
  if (field == c.key_delay || field == c.button_delay) {
    const uint16_t delay = ClampStepDelay(value);
    field->SetText(Format(u"%d", delay));
    // The last step's pause is the one after the macro ends; these fields leave it alone.
    if (s == steps_.count - 1) return;
    a.delay = delay;
  } else if (field == c.move_delay) {
    a.delay = ClampMoveDelay(value);
    field->SetText(Format(u"%d", a.delay));
  } else if (field == c.move_x || field == c.move_y) {
    const auto v = int32_t(FieldNumber(FilterCoordinate(field->GetText().str())));
    (field == c.move_x ? a.x : a.y) = v;
  } else {
    return;
  }
  if (std::memcmp(&a, &steps_.steps[size_t(s)], sizeof a) == 0) return;
  const bool was_recording = recorder_.recording();
  EndRecording();
  if (s >= steps_.count) return;
  steps_.steps[size_t(s)] = a;
  ShowRow(s);
  // The end of the recording showed the step as it was; the panel shows what the field took.
  if (was_recording && edit_mode_ && steps_.selected == s) ShowEditPanel();
  Commit();
}

void CMS_1_Macro::FilterCoordinateField(CControlUI* field) {
  auto* edit = dynamic_cast<CEditUI*>(field);
  if (!edit) return;
  const std::u16string text = edit->GetText().str();
  const std::u16string kept = FilterCoordinate(text);
  if (kept == text) return;
  edit->SetText(kept);
  edit->SetSel(long(kept.size()), long(kept.size()));
}

// ---- Recording and the key field ---------------------------------------------------------------

void CMS_1_Macro::StartRecording() {
  if (!Current()) AddNewMacro();
  if (!Current()) {
    if (c_->record) c_->record->SetCheck(false);
    return;
  }
  ReleaseKeyField();
  recorder_.Start(GetHWND(), steps_, delay_mode_, DefaultDelay());
  // Keys typed during a recording belong to the recording, which the Hook library reads from the
  // X server: none may reach a control of ours (Space would toggle the record box, Tab move the
  // focus to a field that later letters fill) or a shortcut of the window (Escape closes it).
  key_keeper_ = std::make_unique<KeySwallower>();
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(key_keeper_.get());
  if (c_->record) c_->record->SetResourceText("stop_recording_text");
  RebuildStepList(steps_.RowAfterRebuild());
}

bool CMS_1_Macro::FinishRecording() {
  recorder_.Stop();
  key_keeper_.reset();  // keys reach the controls again (and any message box that follows)
  if (c_->record) {
    c_->record->SetResourceText("start_recording_text");
    c_->record->SetCheck(false);
  }
  const bool kept = Commit();
  if (kept) RebuildStepList(steps_.RowAfterRebuild());
  steps_.scroll_to_insertion = false;
  return kept;
}

void CMS_1_Macro::EndRecording() {
  if (recorder_.recording()) FinishRecording();
}

void CMS_1_Macro::TakeKeyForField(WPARAM wParam) {
  if (wParam >= kFirstMouseMessage && wParam <= kLastMouseMessage) return;  // the click leaving the field
  RefreshActiveLayout();
  const uint32_t usage = VirtualKeyToUsage(uint32_t(wParam)).usage;
  if (usage == 0) return;
  if (c_->key_field) c_->key_field->SetText(UsageToKeyText(usage));
  const int s = steps_.selected;
  if (s < 0 || s >= steps_.count) return;
  steps_.steps[size_t(s)].code = uint8_t(usage);
  ShowRow(s);
  Commit();
}

void CMS_1_Macro::ReleaseKeyField() {
  if (!key_field_hooked_) return;
  key_field_hooked_ = false;
  if (hooks_ && hooks_->removehook) hooks_->removehook();
  if (hooks_ && hooks_->enablehook) hooks_->enablehook(0);
}

LRESULT CMS_1_Macro::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  if (msg != WM_HOOK_INPUT) {
    bHandled = FALSE;
    return 0;
  }
  bHandled = TRUE;
  if (recorder_.recording()) {
    switch (recorder_.Take(wParam, lParam, steps_)) {
      case MacroRecorder::Took::kRecorded:
        ShowRecordedStep();
        break;
      case MacroRecorder::Took::kStopped:
        if (FinishRecording()) warn(Format(LanguageText(u"recording_full_text"), kRecordingStepLimit));
        break;
      case MacroRecorder::Took::kIgnored:
        break;
    }
  } else if (key_field_hooked_) {
    TakeKeyForField(wParam);
  }
  return 0;
}

LRESULT CMS_1_Macro::OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  // Closed mid-recording: the recording ends as the record button would end it, keeping what it
  // took, and nothing is posted to a window that is gone.
  if (recorder_.recording() && c_) FinishRecording();
  recorder_.Stop();
  key_keeper_.reset();
  ReleaseKeyField();
  return WindowImplBase::OnDestroy(msg, wParam, lParam, bHandled);
}

// ---- Notifications -----------------------------------------------------------------------------

void CMS_1_Macro::Notify(TNotifyUI& msg) {
  if (!c_) return WindowImplBase::Notify(msg);
  Controls& c = *c_;
  const std::u16string& type = msg.sType.str();
  CControlUI* s = msg.pSender;
  if (!s) return WindowImplBase::Notify(msg);
  if (type == u"itemselect") {
    if (s == c.macro_list) {
      EndRecording();
      LoadMacro(int(msg.wParam));
    } else if (s == c.action_list) {
      steps_.selected = int(msg.wParam);
      if (edit_mode_) ShowEditPanel();
    } else if (s == c.button_combo) {
      const int item = int(msg.wParam);
      const int step = steps_.selected;
      if (item >= 0 && item < int(kEditorButtonCodes.size()) && step >= 0 && step < steps_.count) {
        EndRecording();
        if (step >= steps_.count) return;
        steps_.steps[size_t(step)].code = kEditorButtonCodes[size_t(item)];
        ShowRow(step);
        Commit();
      }
    }
    return;
  }
  if (type == u"checkclick") {
    if (s == c.record) {
      if (c.record->GetCheck() && !recorder_.recording()) StartRecording();
      else if (recorder_.recording()) FinishRecording();
    } else if (s == c.edit_check) {
      SetEditMode(c.edit_check->GetCheck());
    } else if (s == c.insert_mouse) {
      const bool mouse = c.insert_mouse->GetCheck();
      if (c.mouse_tab) c.mouse_tab->SetVisible(mouse);
      if (c.name_tab) c.name_tab->SetVisible(!mouse);
    }
    return;
  }
  if (type == u"killfocus") {
    if (s == c.name_edit) RenameCurrentMacro();
    else if (s == c.key_field) ReleaseKeyField();
    else if (s == c.default_delay) c.default_delay->SetText(Format(u"%d", DefaultDelay()));
    else TakePanelField(s);
    return;
  }
  if (type == u"setfocus") {
    if (s == c.key_field && !recorder_.recording() && !key_field_hooked_) {
      RefreshActiveLayout();
      key_field_hooked_ = true;
      if (hooks_ && hooks_->installhook) hooks_->installhook(GetHWND());
      if (hooks_ && hooks_->enablehook) hooks_->enablehook(1);
    }
    return;
  }
  if (type == u"textchanged") {
    if (s == c.insert_x || s == c.insert_y || s == c.move_x || s == c.move_y) FilterCoordinateField(s);
    return;
  }
  if (type == u"mouseenter" || type == u"mouseleave") {
    // Every button of the editor reports these: a click on one of them is no step.
    recorder_.PointerOverOwnButton(type == u"mouseenter");
    return;
  }
  WindowImplBase::Notify(msg);
}

void CMS_1_Macro::OnClick(TNotifyUI& msg) {
  Controls& c = *c_;
  CControlUI* s = msg.pSender;
  const std::u16string& name = s->GetName().str();
  if (name == u"btn_exit") {
    Close(1);
  } else if (name == u"ms_1_macro_add_btn") {
    EndRecording();
    AddNewMacro();
  } else if (name == u"ms_1_macro_delete_btn") {
    EndRecording();
    DeleteCurrentMacro();
  } else if (name == u"ms_1_macro_import_btn") {
    EndRecording();
    ImportFile();
  } else if (name == u"ms_1_macro_export_btn") {
    EndRecording();  // the file dialog needs the keys
    ExportCurrent();
  } else if (name == u"ms_1_macro_up_btn" || name == u"ms_1_macro_down_btn") {
    EndRecording();
    // Moved first, then read: the selection follows the moved step.
    const bool moved = steps_.MoveSelected(name == u"ms_1_macro_up_btn" ? -1 : 1);
    AfterStepEdit(moved, steps_.selected);
  } else if (name == u"ms_1_macro_delete_action_btn") {
    EndRecording();
    const bool deleted = steps_.DeleteSelected();
    AfterStepEdit(deleted, steps_.selected);
  } else if (name == u"ms_1_macro_clear_action_btn") {
    if (!Current()) return;
    EndRecording();
    steps_.Clear();
    AfterStepEdit(true, -1);
  } else if (name == u"ms_1_macro_move_btn") {
    InsertMove();
  } else if (name == u"ms_1_macro_save_btn") {
    if (!Current()) {
      warn(LanguageText(u"no_macro_chosen_text"));
      return;
    }
    EndRecording();
    Commit();
    SetEditMode(false);
  } else if (name == u"ms_1_macro_cancel_btn") {
    EndRecording();
    SetEditMode(false);
    LoadMacro(current_);
    if (steps_.insertion_start >= 0) RebuildStepList(steps_.insertion_start);
  } else {
    for (size_t i = 0; i < c.delay_modes.size(); ++i) {
      if (s == c.delay_modes[i]) delay_mode_ = DelayMode(i);
    }
    for (size_t i = 0; i < c.click_buttons.size(); ++i) {
      if (s == c.click_buttons[i]) InsertClick(kEditorButtonCodes[i]);
    }
  }
}

}  // namespace brevak
