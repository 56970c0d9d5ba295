#include "macro/shortcut_wnd.h"

#include "macro/key_tables.h"
#include "platform/format.h"
#include "platform/keyboard/keyboard_layout.h"

namespace brevak {
namespace {

// The Hook library reports mouse buttons and the wheel too once installed: the click that
// confirms the dialog must not become the key.
constexpr WPARAM kFirstMouseMessage = 0x0200;  // WM_MOUSEMOVE
constexpr WPARAM kLastMouseMessage = WM_MOUSEHWHEEL;

}  // namespace

uint8_t CShortcutWnd::Modifiers() const {
  uint8_t bits = 0;
  for (int i = 0; i < kShortcutFlags; ++i) {
    if (m_flags[size_t(i)]) bits |= uint8_t(1u << i);
  }
  return bits;
}

void CShortcutWnd::SetModifiers(uint8_t bits) {
  for (int i = 0; i < kShortcutFlags; ++i) m_flags[size_t(i)] = (bits >> i) & 1;
}

UINT CShortcutWnd::Show(HWND owner) { return RunModal(owner, "ShortcutWnd"); }

void CShortcutWnd::InitWindow() {
  for (int i = 0; i < kShortcutFlags; ++i) {
    checks_[size_t(i)] = dynamic_cast<CCheckBoxUI*>(m_pm.FindControl(Format(u"check_flag_%d", i + 1)));
    if (checks_[size_t(i)]) checks_[size_t(i)]->SetCheck(m_flags[size_t(i)] == 1);
  }
  key_field_ = dynamic_cast<CEditUI*>(m_pm.FindControl("edit_key"));
  RefreshActiveLayout();  // the user may have switched layouts since the last key field
  ShowKey();
  // The field waits for the key from the start; its focus installs the hook once shown.
  if (key_field_) key_field_->SetFocus();
}

void CShortcutWnd::ShowKey() {
  if (key_field_) key_field_->SetText(UsageToKeyText(m_key));
}

void CShortcutWnd::StartCatching() {
  RefreshActiveLayout();
  if (!m_hook) return;
  if (m_hook->installhook) m_hook->installhook(GetHWND());
  if (m_hook->enablehook) m_hook->enablehook(1);
}

void CShortcutWnd::StopCatching() {
  if (!m_hook) return;
  if (m_hook->removehook) m_hook->removehook();
  if (m_hook->enablehook) m_hook->enablehook(0);
}

void CShortcutWnd::Notify(TNotifyUI& msg) {
  const std::u16string& type = msg.sType.str();
  CControlUI* sender = msg.pSender;
  if (sender && sender == key_field_) {
    if (type == u"setfocus") StartCatching();
    else if (type == u"killfocus") StopCatching();
    return;
  }
  if (type == u"checkclick") {
    for (int i = 0; i < kShortcutFlags; ++i) {
      if (sender && sender == checks_[size_t(i)]) m_flags[size_t(i)] = checks_[size_t(i)]->GetCheck() ? 1 : 0;
    }
    return;
  }
  WindowImplBase::Notify(msg);
}

void CShortcutWnd::OnClick(TNotifyUI& msg) {
  const std::u16string& name = msg.pSender->GetName().str();
  if (name == u"btn_ok") Close(1);
  else if (name == u"btn_cancel" || name == u"btn_exit") Close(0);
}

LRESULT CShortcutWnd::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  if (msg != WM_HOOK_INPUT) {
    bHandled = FALSE;
    return 0;
  }
  bHandled = TRUE;
  if (wParam >= kFirstMouseMessage && wParam <= kLastMouseMessage) return 0;
  DUI__Trace(Format(u"%x,%x", wParam, lParam));
  RefreshActiveLayout();  // a layout switch while the field waits counts from this key on
  m_key = VirtualKeyToUsage(uint32_t(wParam)).usage;
  DUI__Trace(Format(u"iUsageID=%d", m_key));
  ShowKey();
  return 0;
}

LRESULT CShortcutWnd::OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  // Closing while the field has focus: nothing may be posted to a window that is gone.
  if (m_hook && m_hook->removehook) m_hook->removehook();
  return WindowImplBase::OnDestroy(msg, wParam, lParam, bHandled);
}

}  // namespace brevak
