#include "macro/select_macro_wnd.h"

#include <algorithm>

#include "platform/format.h"
#include "platform/text.h"

namespace brevak {
namespace {

constexpr int kRowHeight = 22;

// The digits of a text as a number, saturating above the largest loop count; no digits is 0.
int ReadCount(std::u16string_view text) {
  int n = 0;
  for (char16_t c : text) {
    if (c >= u'0' && c <= u'9') n = std::min(n * 10 + (c - u'0'), kMaxLoopCount + 1);
  }
  return n;
}

}  // namespace

UINT CMS_1_SelectMacro::Show(HWND owner) { return RunModal(owner, "MS_1_SelectMacro"); }

void CMS_1_SelectMacro::InitWindow() {
  list_ = dynamic_cast<CListUI*>(m_pm.FindControl("list_macro"));
  for (int i = 0; i < kRepeatModes; ++i) {
    repeats_[size_t(i)] = dynamic_cast<COptionUI*>(m_pm.FindControl(Format(u"repeat_%d", i + 1)));
  }
  loop_row_ = m_pm.FindControl("hor_loop_time");
  loop_edit_ = dynamic_cast<CEditUI*>(m_pm.FindControl("edit_loop_time"));

  // A button's stored values may come from a damaged or older file.
  const int macros = m_macros ? int(m_macros->size()) : 0;
  if (!m_macro_name.empty()) {
    // A stored list index goes stale when earlier macros are deleted; the name does not.
    m_macro_index = -1;
    for (int i = 0; i < macros; ++i) {
      if (EqualsNoCase(FixedView((*m_macros)[size_t(i)]->name), m_macro_name)) {
        m_macro_index = i;
        break;
      }
    }
  }
  if (m_macro_index < 0 || m_macro_index >= macros) m_macro_index = -1;
  if (m_repeat_mode < 0 || m_repeat_mode >= kRepeatModes) m_repeat_mode = 0;
  m_loop_count = std::clamp(m_loop_count, kMinLoopCount, kMaxLoopCount);

  if (list_ && m_macros) {
    for (const auto& macro : *m_macros) {
      auto* row = new CListLabelElementUI;
      row->SetText(FixedToString(macro->name));
      row->SetFixedHeight(kRowHeight);
      list_->Add(row);
    }
  }
  if (COptionUI* option = repeats_[size_t(m_repeat_mode)]) option->Selected(true, true);
  if (list_ && m_macro_index >= 0) list_->SelectItem(m_macro_index, false, false);
  if (loop_edit_) loop_edit_->SetText(Format(u"%d", m_loop_count));
  ShowLoopRow();
}

void CMS_1_SelectMacro::ShowLoopRow() {
  if (loop_row_) loop_row_->SetVisible(m_repeat_mode == 0);
}

void CMS_1_SelectMacro::KeepDigits() {
  std::u16string text = loop_edit_->GetText().str();
  const auto not_digit = [](char16_t c) { return c < u'0' || c > u'9'; };
  if (std::none_of(text.begin(), text.end(), not_digit)) return;
  std::erase_if(text, not_digit);
  loop_edit_->SetText(text);
}

void CMS_1_SelectMacro::TakeLoopCount() {
  const std::u16string text = loop_edit_->GetText().str();
  const int n = ReadCount(text);
  m_loop_count = std::clamp(n, kMinLoopCount, kMaxLoopCount);
  if (n != m_loop_count || text.empty()) loop_edit_->SetText(Format(u"%d", m_loop_count));
}

void CMS_1_SelectMacro::Notify(TNotifyUI& msg) {
  const std::u16string& type = msg.sType.str();
  CControlUI* sender = msg.pSender;
  if (type == u"selectchanged") {
    for (int i = 0; i < kRepeatModes; ++i) {
      if (sender && sender == repeats_[size_t(i)]) {
        m_repeat_mode = i;
        ShowLoopRow();
      }
    }
  } else if (type == u"itemselect" && sender && sender == list_) {
    m_macro_index = list_->GetCurSel();
  } else if (type == u"textchanged" && sender && sender == loop_edit_) {
    KeepDigits();
  } else if (type == u"killfocus" && sender && sender == loop_edit_) {
    TakeLoopCount();
  }
  WindowImplBase::Notify(msg);
}

void CMS_1_SelectMacro::OnClick(TNotifyUI& msg) {
  const std::u16string& name = msg.pSender->GetName().str();
  if (name == u"btn_ok") {
    // What the field shows counts, even when OK was reached without it losing focus first.
    if (loop_edit_) TakeLoopCount();
    Close(1);
  } else if (name == u"btn_cancel" || name == u"btn_exit") {
    Close(0);
  }
}

}  // namespace brevak
