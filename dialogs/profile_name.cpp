#include "dialogs/profile_name.h"

#include <QEvent>
#include <algorithm>
#include <QKeyEvent>
#include <QWidget>

#include "dialogs/small_dialogs.h"
#include "platform/text.h"

namespace brevak {

namespace {
// Esc anywhere in the dialog cancels it, as in any dialog the user knows.
class EscapeCancels : public QObject {
 public:
  EscapeCancels(QWidget* window, CWindowWnd* dialog) : QObject(window), dialog_(dialog) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
      dialog_->Close(0);
      return true;
    }
    return false;
  }

 private:
  CWindowWnd* dialog_;
};
}  // namespace

UINT CMS_1_ProfileName::Run(HWND owner) { return RunModal(owner, "MS_1_ProfileName"); }

void CMS_1_ProfileName::InitWindow() {
  if (CControlUI* title = m_pm.FindControl("title_string")) title->SetResourceText(m_title_key);
  edit_ = m_pm.FindControl("edit_name");
  if (auto* edit = dynamic_cast<CEditUI*>(edit_)) edit->SetMaxChar(kProfileNameMaxChars);
  if (edit_) edit_->SetFocus();
  if (auto* edit = dynamic_cast<CEditUI*>(edit_); edit && !m_initial.empty()) {
    edit->SetText(m_initial.substr(0, kProfileNameMaxChars));
    edit->SetSel(0, -1);
  }
  if (QWidget* w = GetWidget()) {
    auto* filter = new EscapeCancels(w, this);
    w->installEventFilter(filter);
    for (QWidget* child : w->findChildren<QWidget*>()) child->installEventFilter(filter);
  }
}

void CMS_1_ProfileName::Notify(TNotifyUI& msg) {
  if (msg.sType.str() == u"return" && msg.pSender == edit_) Confirm();
  else WindowImplBase::Notify(msg);
}

void CMS_1_ProfileName::OnClick(TNotifyUI& msg) {
  const std::u16string& name = msg.pSender->GetName().str();
  if (name == u"btn_ok") Confirm();
  else if (name == u"btn_cancel" || name == u"btn_exit") Close(0);
}

void CMS_1_ProfileName::Confirm() {
  const std::u16string text = edit_ ? edit_->GetText().str() : std::u16string();
  if (!m_initial.empty() && text == m_initial.substr(0, kProfileNameMaxChars)) {
    Close(0);
    return;
  }
  const char* refusal = nullptr;
  if (text.empty()) refusal = "warn_name_1_text";
  else if (std::any_of(m_names.begin(), m_names.end(), [&](const auto& n) { return EqualsNoCase(n, text); }))
    refusal = "warn_name_2_text";
  if (refusal) {
    if (warn) warn(refusal);
    else CMsgWnd::Show(GetHWND(), "warning_title_text", refusal);
    return;
  }
  m_name = text;
  Close(1);
}

}  // namespace brevak
