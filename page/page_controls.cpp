// The page's controls: finding them, showing the working record in them, and turning the
// user's edits into changes of the working record and apply requests.
#include <QPoint>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QWidget>
#include <cstdlib>

#include "dialogs/small_dialogs.h"
#include "model/button_functions.h"
#include "model/device_values.h"
#include "platform/keyboard/keyboard_layout.h"
#include "page/ms_1_page.h"
#include "page/page_messages.h"
#include "page/mouse_settings.h"
#include "page/page_controls.h"
#include "page/paint_manager_view.h"

namespace brevak {

namespace {

constexpr UINT kEffectApplyDelayMs = 200;
constexpr UINT kSliderApplyDelayMs = 500;
constexpr UINT kScrollDelayMs = 10;

std::string Numbered(const char* format, int n) { return Utf16ToUtf8(Format(Utf8ToUtf16(format), n)); }

DWORD ToArgb(COLORREF c) {
  return kOpaque | (DWORD(ColorRed(c)) << 16) | (DWORD(ColorGreen(c)) << 8) | ColorBlue(c);
}
COLORREF FromArgb(DWORD argb) {
  return MakeColor(uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb));
}

template <class T>
int IndexOf(const T& array, const CControlUI* c) {
  if (!c) return -1;
  for (size_t i = 0; i < std::size(array); ++i) {
    if (array[i] == c) return int(i);
  }
  return -1;
}

}  // namespace

const DUI_MSGMAP* CMS_1_Page::GetMessageMap() const {
  static const DUI_MSGMAP_ENTRY entries[] = {
      {"click", "", DuiHandler(&CMS_1_Page::OnClick)},
      {"selectchanged", "", DuiHandler(&CMS_1_Page::OnSelectChanged)},
      {"itemselect", "", DuiHandler(&CMS_1_Page::OnItemSelect)},
      {"checkclick", "", DuiHandler(&CMS_1_Page::OnCheckClick)},
      {"killfocus", "", DuiHandler(&CMS_1_Page::OnKillFocus)},
      {"timer", "", DuiHandler(&CMS_1_Page::OnTimer)},
      {"valuechanged", "", DuiHandler(&CMS_1_Page::OnValueChanged)},
      {"mouseenter", "", DuiHandler(&CMS_1_Page::OnMouseEnter)},
      {"mouseleave", "", DuiHandler(&CMS_1_Page::OnMouseLeave)},
      {"return", "", DuiHandler(&CMS_1_Page::OnReturn)},
      {"textchanged", "", DuiHandler(&CMS_1_Page::OnTextChanged)},
  };
  static const DUI_MSGMAP map{CNotifyPump::GetBaseMessageMap(), entries};
  return &map;
}

void CMS_1_Page::SetPaintManager(CPaintManagerUI* pm) {
  pm_ = pm;
  pm_view_ = pm ? std::make_unique<PaintManagerView>(*pm) : nullptr;
  view_ = pm_view_.get();
}

void CMS_1_Page::LookUpControls() {
  controls_ = std::make_unique<Controls>();
  if (!pm_) return;
  Controls& c = *controls_;
  auto find = [this](std::string_view name) { return pm_->FindControl(CDuiString(name)); };
  auto as = [&find]<class T>(T*& out, std::string_view name) { out = dynamic_cast<T*>(find(name)); };
  for (int i = 0; i < kPageButtons; ++i) c.key[size_t(i)] = find(Numbered("ms_1_btn_key_%d", i + 1));
  c.macro = find("ms_1_btn_macro");
  as(c.profile_list, "ms_1_list_profile");
  c.profile_add = find("ms_1_profile_add_btn");
  c.profile_delete = find("ms_1_profile_delete_btn");
  c.profile_rename = find("ms_1_profile_rename_btn");
  c.profile_import = find("ms_1_profile_import_btn");
  c.profile_export = find("ms_1_profile_export_btn");
  c.profile_reset = find("ms_1_profile_reset_btn");
  c.reset = find("ms_1_btn_reset");
  for (size_t i = 0; i < kToggleCount; ++i) {
    as(c.toggle[i], kSectionToggles[i].toggle);
    if (kSectionToggles[i].section) c.section[i] = find(kSectionToggles[i].section);
  }
  as(c.settings, "ms_1_ver_setting");
  for (int i = 0; i < kDpiStages; ++i) {
    as(c.dpi_slider[size_t(i)], Numbered("ms_1_slider_dpi_%d", i + 1));
    c.dpi_label[size_t(i)] = find(Numbered("ms_1_label_dpi_%d", i + 1));
    as(c.dpi_option[size_t(i)], Numbered("ms_1_option_dpi_step_%d", i + 1));
    c.dpi_color[size_t(i)] = find(Numbered("ms_1_btn_dpi_color_%d", i + 1));
    as(c.dpi_edit[size_t(i)], Numbered("ms_1_edit_dpi_%d", i + 1));
  }
  as(c.light_combo, "ms_1_combo_light");
  as(c.brightness, "ms_1_slider_brightness");
  as(c.breathspeed, "ms_1_slider_breathspeed");
  c.light_color = find("ms_1_btn_light_color");
  for (int i = 0; i < kPollingOptions; ++i) as(c.prate[size_t(i)], Numbered("ms_1_btn_prate_%d", i + 1));
  for (int i = 0; i < kPollingHsOptions; ++i) as(c.prate_hs[size_t(i)], Numbered("ms_1_btn_prate_hs_%d", i + 1));
  c.mouse_attribute = find("ms_1_btn_mouse_attribute");
  as(c.light_off, "ms_1_slider_light_off");
  c.light_off_label = find("ms_1_label_light_off");
  as(c.sleep_timer, "ms_1_slider_sleep_timer");
  c.sleep_label = find("ms_1_label_sleep_timer");
  as(c.movemode, "ms_1_check_movemode");
  c.apply = find("ms_1_apply_btn");
  c.apply_dpi = find("ms_1_btn_apply_dpi");
  c.reset_dpi = find("ms_1_btn_reset_dpi");
  as(c.progress_power, "ms_1_progress_power");
  for (size_t p = 0; p < std::size(kSensorPairs); ++p) {
    for (int i = 0; i < 2; ++i) as(c.sensor[p][size_t(i)], Numbered(kSensorPairs[p].format, i + 1));
  }
  as(c.debounce, "ms_1_slider_key_debounce");
  c.debounce_label = find("ms_1_label_key_debounce");
  for (size_t i = 0; i < std::size(kValueSliders); ++i) as(c.value_slider[i], kValueSliders[i].name);
}

void CMS_1_Page::FillProfileList() {
  if (!controls_ || !controls_->profile_list) return;
  CListUI* list = controls_->profile_list;
  list->RemoveAll();
  auto lock = profiles_.Lock();
  for (const auto& record : profiles_.list()) AddListItem(ProfileListText(*record));
  list->SelectItem(profiles_.header().selected_profile, false, false);
}

void CMS_1_Page::RefreshValueLabels(const ProfileRecord& r) {
  const Controls& c = *controls_;
  if (c.sleep_label) {
    c.sleep_label->SetText(Format(u"%s%d %s", LanguageText(u"sleep_timer_3_text"), r.sleep_timer,
                                  LanguageText(u"sleep_timer_2_text")));
  }
  if (c.light_off_label) {
    c.light_off_label->SetText(Format(u"%s%.1f %s", LanguageText(u"sleep_timer_1_text"),
                                      r.light_off_timer * 0.5, LanguageText(u"sleep_timer_2_text")));
  }
  if (c.debounce_label) c.debounce_label->SetText(Format(u"%d MS", r.key_debounce * 2));
}

void CMS_1_Page::RefreshControls() {
  std::optional<ProfileRecord> copy = WorkingRecordCopy();
  if (!copy || !controls_) return;
  const ProfileRecord& r = *copy;
  const Controls& c = *controls_;
  device_.monitor.RefreshTransportPanel();
  if (r.dpi_stage_index >= 0 && r.dpi_stage_index < kDpiStages && c.dpi_option[size_t(r.dpi_stage_index)]) {
    c.dpi_option[size_t(r.dpi_stage_index)]->Selected(true, false);
  }
  for (size_t i = 0; i < size_t(kDpiStages); ++i) {
    if (c.dpi_slider[i]) c.dpi_slider[i]->SetValue(r.dpi_value[i]);
    std::u16string dpi = Format(u"%d", r.dpi_value[i] * kDpiStep);
    if (c.dpi_label[i]) c.dpi_label[i]->SetText(dpi);
    if (c.dpi_edit[i]) c.dpi_edit[i]->SetText(dpi);
    if (c.dpi_color[i]) c.dpi_color[i]->SetBkColor(ToArgb(r.dpi_color[i]));
  }
  if (c.light_combo) c.light_combo->SelectItem(r.light_effect, false, false);
  for (size_t i = 0; i < std::size(kValueSliders); ++i) {
    if (c.value_slider[i]) c.value_slider[i]->SetValue(r.*kValueSliders[i].field);
  }
  if (c.light_color) c.light_color->SetBkColor(ToArgb(r.light_color));
  if (r.polling_rate_index >= 0 && r.polling_rate_index < kPollingOptions && c.prate[size_t(r.polling_rate_index)]) {
    c.prate[size_t(r.polling_rate_index)]->Selected(true, false);
  }
  if (r.polling_rate_hs_index >= 0 && r.polling_rate_hs_index < kPollingHsOptions &&
      c.prate_hs[size_t(r.polling_rate_hs_index)]) {
    c.prate_hs[size_t(r.polling_rate_hs_index)]->Selected(true, false);
  }
  for (size_t p = 0; p < std::size(kSensorPairs); ++p) {
    int v = r.*kSensorPairs[p].field;
    if ((v == 0 || v == 1) && c.sensor[p][size_t(v)]) c.sensor[p][size_t(v)]->Selected(true, false);
  }
  RefreshValueLabels(r);
  if (c.movemode) c.movemode->SetCheck(r.move_mode != 0);
  // Shortcut captions name their keys in the user's current layout.
  RefreshActiveLayout();
  for (int i = 0; i < kPageButtons; ++i) {
    if (c.key[size_t(i)]) ShowButtonCaption(c.key[size_t(i)], ButtonCaption(r.button[i], key_text_, i));
  }
}

void CMS_1_Page::RestartDelayedApply(UINT ms) {
  KillTimer(main_window_, kTimerDelayedApply);
  SetTimer(main_window_, kTimerDelayedApply, ms, nullptr);
}

void CMS_1_Page::SwitchProfile(int index) {
  SelectProfile(index);
  RefreshControls();
  SaveBeforeTheWrite();
  RequestApply();
}

// Opens the colour dialog below `button` and stores the colour the user confirms.
void CMS_1_Page::PickColor(CControlUI* button, const std::function<COLORREF&(ProfileRecord&)>& field) {
  std::optional<ProfileRecord> copy = WorkingRecordCopy();
  if (!copy) return;
  RECT pos = button->GetPos();
  QPoint origin;
  if (pm_ && pm_->GetHostWidget()) origin = pm_->GetHostWidget()->geometry().topLeft();
  const std::optional<DWORD> chosen =
      dialogs().PickColor(ToArgb(field(*copy)), POINT{origin.x() + pos.left - 200, origin.y() + pos.bottom});
  if (!chosen) return;
  EditWorkingRecord([&](ProfileRecord& r) { field(r) = FromArgb(*chosen); });
  button->SetBkColor(*chosen | kOpaque);
  RequestApply();
}

// The desktop's own mouse settings; when none is installed the user is told so.
void CMS_1_Page::OpenMouseSettings() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  auto tool = ChooseMouseSettings(desktop ? desktop : "", [](const char* program) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
  });
  bool started = false;
  if (tool) {
    QStringList args;
    for (const std::string& a : tool->args) args << QString::fromStdString(a);
    started = QProcess::startDetached(QString::fromLatin1(tool->program), args);
  }
  if (!started) dialogs().Warn("no_mouse_settings_text");
}

void CMS_1_Page::OnClick(TNotifyUI& msg) {
  if (!controls_) return;
  Controls& c = *controls_;
  CControlUI* s = msg.pSender;
  if (!s) return;
  if (OnProfileButton(s)) return;
  if (int button = IndexOf(c.key, s); button >= 0 && button < kMenuButtons) {
    OpenFunctionMenu(button);
    return;
  }
  if (s == c.macro) {
    EditMacros();
    return;
  }
  if (s == c.apply || s == c.apply_dpi) {
    ConfirmWorkingProfile();
    RequestApply();
  } else if (s == c.reset_dpi) {
    EditWorkingRecord([](ProfileRecord& r) { ResetDpiSettings(r); });
    RefreshControls();
    RequestApply();
  } else if (s == c.mouse_attribute) {
    OpenMouseSettings();
  } else if (s == c.light_color) {
    PickColor(s, [](ProfileRecord& r) -> COLORREF& { return r.light_color; });
  } else if (int stage = IndexOf(c.dpi_color, s); stage >= 0) {
    PickColor(s, [stage](ProfileRecord& r) -> COLORREF& { return r.dpi_color[stage]; });
  }
}

void CMS_1_Page::OnSelectChanged(TNotifyUI& msg) {
  if (!controls_) return;
  Controls& c = *controls_;
  CControlUI* s = msg.pSender;
  int32_t ProfileRecord::*field = nullptr;
  int value = -1;
  if (int i = IndexOf(c.dpi_option, s); i >= 0) {
    field = &ProfileRecord::dpi_stage_index, value = i;
  } else if (int p = IndexOf(c.prate, s); p >= 0) {
    field = &ProfileRecord::polling_rate_index, value = p;
  } else if (int h = IndexOf(c.prate_hs, s); h >= 0) {
    field = &ProfileRecord::polling_rate_hs_index, value = h;
  } else {
    for (size_t p2 = 0; p2 < std::size(kSensorPairs) && !field; ++p2) {
      if (int o = IndexOf(c.sensor[p2], s); o >= 0) field = kSensorPairs[p2].field, value = o;
    }
  }
  if (!field) return;
  EditWorkingRecord([&](ProfileRecord& r) { r.*field = value; });
  RequestApply();
}

void CMS_1_Page::OnItemSelect(TNotifyUI& msg) {
  if (!controls_) return;
  Controls& c = *controls_;
  if (msg.pSender && msg.pSender == c.light_combo) {
    const int effect = int(msg.wParam);
    EditWorkingRecord([effect](ProfileRecord& r) { r.light_effect = effect; });
    UpdateLightingPanels();
    RestartDelayedApply(kEffectApplyDelayMs);
  } else if (msg.pSender && msg.pSender == c.profile_list) {
    if (list_guard_) {
      list_guard_ = 0;
      return;
    }
    SwitchProfile(int(msg.wParam));
  }
}

void CMS_1_Page::OnSectionToggle(size_t i) {
  const Controls& c = *controls_;
  const bool open = c.toggle[i]->GetCheck();
  if (kSectionToggles[i].section) {
    if (c.section[i]) c.section[i]->SetVisible(open);
  } else {
    // The polling section of the connection in use.
    const char* section = nullptr;
    const TransportFlags& f = device_.monitor.flags();
    if (f.wired_state == kPresent || f.rx1k_active) section = "ms_1_ver_prate";
    else if (f.rx8k_active || f.rx4k_active) section = "ms_1_ver_prate_hs";
    if (section) Show(section, open);
    // With no connection answering there is nothing to offer: the section says why.
    else Show("ms_1_prate_none_label", open);
  }
  if (open && kSectionToggles[i].scroll) SetTimer(main_window_, kTimerScrollSettings, kScrollDelayMs, nullptr);
}

void CMS_1_Page::OnCheckClick(TNotifyUI& msg) {
  if (!controls_) return;
  Controls& c = *controls_;
  if (int i = IndexOf(c.toggle, msg.pSender); i >= 0) {
    OnSectionToggle(size_t(i));
  } else if (msg.pSender && msg.pSender == c.movemode) {
    const int32_t on = c.movemode->GetCheck() ? 1 : 0;
    EditWorkingRecord([on](ProfileRecord& r) { r.move_mode = on; });
    RequestApply();
  }
}

void CMS_1_Page::CommitDpiEdit(int stage) {
  CEditUI* edit = controls_->dpi_edit[size_t(stage)];
  std::u16string text = edit->GetText().str();
  long dpi = 0;  // leading digits; none reads as 0
  for (size_t i = 0; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    dpi = std::min(dpi * 10 + (text[i] - u'0'), 1000000L);
  }
  const int32_t value = DpiStepsOfTyped(dpi);
  EditWorkingRecord([&](ProfileRecord& r) { r.dpi_value[stage] = value; });
  if (CSliderUI* slider = controls_->dpi_slider[size_t(stage)]) slider->SetValue(value);
  edit->SetText(Format(u"%d", value * kDpiStep));
}

void CMS_1_Page::OnKillFocus(TNotifyUI& msg) {
  if (!controls_) return;
  if (int stage = IndexOf(controls_->dpi_edit, msg.pSender); stage >= 0) CommitDpiEdit(stage);
}

void CMS_1_Page::OnReturn(TNotifyUI& msg) { OnKillFocus(msg); }

// Typed and pasted text alike keep their digits, and a number past the mouse's maximum becomes
// the maximum (rather than being cut to its first digits).
void CMS_1_Page::OnTextChanged(TNotifyUI& msg) {
  if (!controls_) return;
  int stage = IndexOf(controls_->dpi_edit, msg.pSender);
  if (stage < 0) return;
  CEditUI* edit = controls_->dpi_edit[size_t(stage)];
  std::u16string text = edit->GetText().str();
  std::u16string digits;
  long value = 0;
  for (char16_t ch : text) {
    if (ch < u'0' || ch > u'9') continue;
    digits += ch;
    value = std::min(value * 10 + (ch - u'0'), long(kDpiMax) + 1);
  }
  if (value > kDpiMax) digits = Format(u"%d", kDpiMax);
  if (digits == text) return;
  edit->SetText(digits);
  edit->SetSel(long(digits.size()), long(digits.size()));
}

void CMS_1_Page::OnValueChanged(TNotifyUI& msg) {
  if (!controls_) return;
  Controls& c = *controls_;
  if (int stage = IndexOf(c.dpi_slider, msg.pSender); stage >= 0) {
    const int value = c.dpi_slider[size_t(stage)]->GetValue();
    EditWorkingRecord([&](ProfileRecord& r) { r.dpi_value[stage] = value; });
    std::u16string dpi = Format(u"%d", value * kDpiStep);
    if (c.dpi_label[size_t(stage)]) c.dpi_label[size_t(stage)]->SetText(dpi);
    if (c.dpi_edit[size_t(stage)]) c.dpi_edit[size_t(stage)]->SetText(dpi);
    return;
  }
  int i = IndexOf(c.value_slider, msg.pSender);
  if (i < 0) return;
  const int value = c.value_slider[size_t(i)]->GetValue();
  std::optional<ProfileRecord> after;
  EditWorkingRecord([&](ProfileRecord& r) {
    r.*kValueSliders[size_t(i)].field = value;
    after = r;
  });
  if (after) RefreshValueLabels(*after);
  RestartDelayedApply(kSliderApplyDelayMs);
}

void CMS_1_Page::OnTimer(TNotifyUI&) {}
void CMS_1_Page::OnMouseEnter(TNotifyUI&) {}
void CMS_1_Page::OnMouseLeave(TNotifyUI&) {}

}  // namespace brevak
