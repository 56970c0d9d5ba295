#include "dialogs/bindings_wnd.h"

#include "platform/format.h"
#include "platform/text.h"

namespace brevak {

namespace {
constexpr int kRowHeight = 22;
// A binding as a row: the class, then the profile it switches to.
constexpr char16_t kRowFormat[] = u"%s  \u2192  %s";
}  // namespace

void CMS_1_Bindings::InitWindow() {
  list_ = dynamic_cast<CListUI*>(m_pm.FindControl("bindings_list"));
  open_combo_ = dynamic_cast<CComboUI*>(m_pm.FindControl("bindings_open_combo"));
  edit_ = m_pm.FindControl("bindings_class_edit");
  note_ = m_pm.FindControl("bindings_note");
  if (CControlUI* add = m_pm.FindControl("btn_add")) {
    add->SetText(Format(LanguageText(u"bindings_add_text"), model_.Profile()));
  }
  if (open_combo_) {
    auto* hint = new CListLabelElementUI;
    hint->SetText(LanguageText(u"bindings_open_text"));
    open_combo_->Add(hint);
    open_ = model_.OpenClasses();
    for (const std::u16string& c : open_) {
      auto* item = new CListLabelElementUI;
      item->SetText(c);
      open_combo_->Add(item);
    }
    open_combo_->SelectItem(0, false, false);
  }
  Say(model_.SightNote());
  FillRows();
  if (edit_) edit_->SetFocus();
}

void CMS_1_Bindings::FillRows() {
  rows_ = model_.Rows();
  if (!list_) return;
  list_->RemoveAll();
  for (const BindingRow& r : rows_) {
    auto* item = new CListLabelElementUI;
    item->SetText(Format(kRowFormat, r.window_class, r.profile));
    item->SetFixedHeight(kRowHeight);
    list_->Add(item);
  }
}

void CMS_1_Bindings::Say(const std::u16string& text) {
  if (!note_) return;
  note_->SetText(text);
  note_->SetVisible(!text.empty());
}

void CMS_1_Bindings::Notify(TNotifyUI& msg) {
  if (msg.sType.str() == u"itemselect" && msg.pSender == open_combo_ && open_combo_) {
    // The first item only says what the box holds.
    const int i = open_combo_->GetCurSel() - 1;
    if (i >= 0 && size_t(i) < open_.size() && edit_) edit_->SetText(open_[size_t(i)]);
    return;
  }
  if (msg.sType.str() == u"return" && msg.pSender == edit_) {
    Add();
    return;
  }
  WindowImplBase::Notify(msg);
}

void CMS_1_Bindings::OnClick(TNotifyUI& msg) {
  const std::u16string& name = msg.pSender->GetName().str();
  if (name == u"btn_add") {
    Add();
  } else if (name == u"btn_remove") {
    const int i = list_ ? list_->GetCurSel() : -1;
    if (i < 0 || size_t(i) >= rows_.size()) return;
    model_.Remove(rows_[size_t(i)]);
    FillRows();
  } else if (name == u"btn_close" || name == u"btn_exit") {
    Close(0);
  }
}

void CMS_1_Bindings::Add() {
  const std::u16string text = edit_ ? edit_->GetText().str() : std::u16string();
  if (text.empty()) return;
  const std::u16string said = model_.Add(text);
  Say(said.empty() ? model_.SightNote() : said);
  if (edit_ && said.empty()) edit_->SetText(u"");
  FillRows();
}

}  // namespace brevak
