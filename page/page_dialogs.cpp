#include "page/page_dialogs.h"

#include "dialogs/profile_name.h"
#include "dialogs/small_dialogs.h"

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
                                                               const ProfileList& profiles) {
  CMS_1_ProfileName dialog;
  dialog.m_title_key = CDuiString(title_key);
  dialog.m_profiles = &profiles;
  if (dialog.Run(owner_) != 1) return std::nullopt;
  return dialog.m_name;
}

FileChooser& ModalPageDialogs::Files() {
  if (!files_) {
    files_ = std::make_unique<QtFileChooser>(GetDataFolder());
    if (CWindowWnd* owner = CWindowWnd::FromHandle(owner_)) files_->SetOwner(owner->GetWidget());
  }
  return *files_;
}

bool ModalPageDialogs::ChooseShortcut(uint8_t&, uint8_t&) { return false; }

bool ModalPageDialogs::SelectMacro(const MacroList&, int32_t&, int32_t&, int32_t&) { return false; }

}  // namespace brevak
