// What each mouse button does: its caption, the function menu of buttons 1..12 and the choice
// made there (a function of the table, a keyboard shortcut or a macro of the library).
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <cstring>

#include "model/button_functions.h"
#include "page/button_rules.h"
#include "page/ms_1_page.h"
#include "page/page_controls.h"
#include "platform/text.h"
#include "protocol/frames.h"

namespace brevak {

namespace {

constexpr char kFunctionMenu[] = "ms_1_menu.xml";
constexpr char kMacroMenuItem[] = "ms_1_select_macro";
constexpr uint8_t kFunctionLeftClick = 1;
// The style sheet draws a button caption with this property set as a dim hint.
constexpr char kHintProperty[] = "hint";
// Modifier bits of a shortcut, in the order captions name them.
constexpr std::pair<uint8_t, const char16_t*> kModifierWords[] = {
    {1, u"keyboard_ctrl_text"}, {2, u"keyboard_shift_text"}, {4, u"keyboard_alt_text"}, {8, u"keyboard_win_text"}};

}  // namespace

std::u16string ButtonCaption(const ButtonEntry& b, const std::function<std::u16string(uint8_t)>& key_text,
                             int button) {
  if (b.function_code == kFunctionShortcut) {
    std::u16string caption;
    for (const auto& [bit, word] : kModifierWords) {
      if (b.shortcut_modifiers & bit) caption += LanguageText(word) + u"+";
    }
    return caption + key_text(b.shortcut_key);
  }
  if (b.function_code == kFunctionMacro) {
    std::u16string caption = LanguageText(u"assign_macro_text") + FixedToString(b.macro_name);
    if (button >= 0 && MacroWithheld(button, b)) caption += LanguageText(u"macro_withheld_mark_text");
    return caption;
  }
  const ButtonFunction* f = FindButtonFunction(b.function_code);
  return f && !f->caption_key.empty() ? LanguageText(Utf8ToUtf16(f->caption_key)) : std::u16string();
}

void CMS_1_Page::RefreshButtonLabel(int index) {
  if (!controls_ || index < 0 || index >= kPageButtons || !controls_->key[size_t(index)]) return;
  std::u16string caption;
  device_.working.Read([&](const ProfileRecord& r) { caption = ButtonCaption(r.button[index], key_text_, index); });
  ShowButtonCaption(controls_->key[size_t(index)], caption);
}

void ShowButtonCaption(CControlUI* key, const std::u16string& caption) {
  // A function the table leaves unnamed gets a dim hint, so the button does not look broken;
  // the record and what is sent stay as they are.
  const bool hint = caption.empty();
  key->SetText(hint ? LanguageText(u"button_unnamed_text") : caption);
  if (QWidget* w = key->GetWidget(); w && w->property(kHintProperty).toBool() != hint) {
    w->setProperty(kHintProperty, hint);
    w->style()->unpolish(w);
    w->style()->polish(w);
  }
}

void CMS_1_Page::OpenFunctionMenu(int button) {
  CControlUI* key = controls_->key[size_t(button)];
  if (!key || !pm_ || !pm_->GetHostWidget()) return;
  menu_button_ = button;
  function_menu_ = std::make_unique<CMenuWnd>();
  const QRect window = pm_->GetHostWidget()->geometry();
  const RECT pos = key->GetPos();
  POINT at{window.left() + pos.right, window.top() + pos.top};
  if (!function_menu_->Init(nullptr, kFunctionMenu, at, pm_, nullptr, 6)) return;
  QMenu* menu = function_menu_->GetMenuUI();
  if (!HasOwnMacroSlots(button)) {
    if (auto* macro = menu->findChild<QAction*>(QString::fromLatin1(kMacroMenuItem))) macro->setVisible(false);
  }
  // Qt has placed it beside the button, kept on the screen. Near the screen's bottom it opens
  // upwards from the button's bottom instead of being pushed over the button, and still stays
  // on the screen, right edge included.
  const QScreen* screen = pm_->GetHostWidget()->screen();
  const QRect area = screen ? screen->availableGeometry() : QRect();
  QRect r(QPoint(at.x, at.y), menu->sizeHint());
  if (area.isEmpty() || r.bottom() <= area.bottom()) return;
  r.moveBottom(window.top() + int(pos.bottom));
  if (r.right() > area.right()) r.moveRight(area.right());
  if (r.left() < area.left()) r.moveLeft(area.left());
  if (r.top() < area.top()) r.moveTop(area.top());
  menu->move(r.topLeft());
}

void CMS_1_Page::ApplyMenuChoice(std::u16string_view item) {
  const int n = menu_button_;
  if (n < 0 || n >= kMenuButtons) return;
  function_menu_.reset();
  const ButtonFunction* f = FindButtonFunctionByMenuItem(Utf16ToUtf8(item));
  const uint8_t code = f ? f->code : kFunctionLeftClick;
  std::optional<ProfileRecord> copy = WorkingRecordCopy();
  if (!copy) return;

  if (!KeepsLeftClick(*copy, n, code)) {
    dialogs().Warn("one_click_text");
    return;
  }

  const ButtonEntry& e = copy->button[n];
  if (code == kFunctionShortcut) {
    const bool had_shortcut = e.function_code == kFunctionShortcut;
    // The key bytes of another function mean nothing to a shortcut.
    uint8_t modifiers = e.shortcut_modifiers, key = had_shortcut ? e.shortcut_key : 0;
    // Confirmed with neither key nor modifier counts as a cancel: the button, its caption and
    // the mouse keep what they had.
    if (!dialogs().ChooseShortcut(modifiers, key) || (!modifiers && !key)) return;
    EditWorkingRecord([&](ProfileRecord& r) {
      AssignButton(r, n, ButtonChoice{kFunctionShortcut, modifiers, key}, macros_.list());
    });
  } else if (code == kFunctionMacro) {
    const bool had_macro = e.function_code == kFunctionMacro;
    // The button's macro is found by its name: the stored list index goes stale with every
    // deletion in the editor.
    const std::u16string current = had_macro ? FixedToString(e.macro_name) : std::u16string();
    int32_t index = -1;
    int32_t mode = had_macro ? e.macro_repeat_mode : 0;
    int32_t count = had_macro ? e.macro_loop_count : 1;
    if (!dialogs().SelectMacro(macros_.list(), current, index, mode, count)) return;
    // The menu's rules, shared with the command-line client.
    ButtonRefusal refusal = ButtonRefusal::kNone;
    EditWorkingRecord([&](ProfileRecord& r) {
      refusal = AssignButton(r, n, ButtonChoice{kFunctionMacro, 0, 0, index, mode, count}, macros_.list());
    });
    if (refusal == ButtonRefusal::kMacroTooLong) dialogs().Warn("macro_too_long_text");
    if (refusal == ButtonRefusal::kNoMacroSlots) dialogs().Warn("macro_no_slots_text");
    if (refusal != ButtonRefusal::kNone) return;
  } else {
    EditWorkingRecord([&](ProfileRecord& r) { AssignButton(r, n, ButtonChoice{code}, macros_.list()); });
  }
  RequestApply();
  RefreshButtonLabel(n);
}

}  // namespace brevak
