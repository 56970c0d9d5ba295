#include "page/page_dialogs.h"

#include "dialogs/profile_name.h"
#include "dialogs/small_dialogs.h"
#include "macro/macro_editor.h"
#include "macro/select_macro_wnd.h"
#include "macro/shortcut_wnd.h"

namespace brevak {

namespace {
constexpr char kTitleKey[] = "warning_title_text";
}

void ModalPageDialogs::Warn(std::string_view message_key) {
  CMsgWnd::Show(owner_, kTitleKey, CDuiString(message_key), MsgKind::kWarning);
}

void ModalPageDialogs::WarnText(std::u16string text) {
  CMsgWnd::ShowText(owner_, kTitleKey, std::move(text), MsgKind::kWarning);
}

bool ModalPageDialogs::Confirm(std::string_view message_key) {
  return CMsgWnd::Show(owner_, kTitleKey, CDuiString(message_key), MsgKind::kConfirm) == 1;
}

std::optional<DWORD> ModalPageDialogs::PickColor(DWORD color, POINT at) {
  CDpiColorWnd dialog;
  dialog.m_color = color;
  dialog.m_position = at;
  dialog.Create(owner_, "", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW, 0, 0, 800, 800);
  if (!dialog.GetPaintManager().GetRoot()) return std::nullopt;  // no layout: nothing to confirm
  if (dialog.ShowModal() != 1) return std::nullopt;
  return dialog.m_color;
}

std::optional<std::u16string> ModalPageDialogs::AskProfileName(std::string_view title_key,
                                                               const std::vector<std::u16string>& taken,
                                                               const std::u16string& initial) {
  CMS_1_ProfileName dialog;
  dialog.m_title_key = CDuiString(title_key);
  dialog.m_names = taken;
  dialog.m_initial = initial;
  if (dialog.Run(owner_) != 1) return std::nullopt;
  return dialog.m_name;
}

FileChooser& ModalPageDialogs::Files() {
  if (!files_) {
    files_ = std::make_unique<QtFileChooser>();
    if (CWindowWnd* owner = CWindowWnd::FromHandle(owner_)) files_->SetOwner(owner->GetWidget());
  }
  return *files_;
}

bool ModalPageDialogs::ChooseShortcut(uint8_t& modifiers, uint8_t& key) {
  CShortcutWnd dialog;
  dialog.SetModifiers(modifiers);
  dialog.m_key = key;
  dialog.m_hook = hooks_;
  if (dialog.Show(owner_) != 1) return false;
  modifiers = dialog.Modifiers();
  key = uint8_t(dialog.m_key);
  return true;
}

bool ModalPageDialogs::SelectMacro(const MacroList& macros, std::u16string_view current, int32_t& index,
                                   int32_t& mode, int32_t& count) {
  CMS_1_SelectMacro dialog;
  dialog.m_macros = &macros;
  dialog.m_macro_name = current;
  dialog.m_repeat_mode = mode;
  dialog.m_loop_count = count;
  if (dialog.Show(owner_) != 1) return false;
  index = dialog.m_macro_index;
  mode = dialog.m_repeat_mode;
  count = dialog.m_loop_count;
  return true;
}

void ModalPageDialogs::EditMacros(MacroStore& macros) {
  // The editor's file dialogs belong to the editor, so they open over it.
  QtFileChooser files;
  CMS_1_Macro editor(macros, hooks_, files);
  editor.Create(owner_, "MS_1_Macro", WS_POPUP, WS_EX_TOOLWINDOW);
  if (!editor.GetPaintManager().GetRoot()) return;  // no layout: nothing to show
  files.SetOwner(editor.GetWidget());
  editor.CenterWindow();
  editor.ShowModal();
}

void ModalPageDialogs::EditBindings(BindingsModel& model) {
  CMS_1_Bindings dialog(model);
  dialog.Run(owner_);
}

}  // namespace brevak
