#include "dialogs/small_dialogs.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cwctype>

namespace brevak {

namespace {

// Like the C library's reading of a number: spaces, a sign, then digits; anything else ends it
// (no digits reads as 0). Saturates instead of overflowing.
long ReadDecimal(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  long v = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) v = std::min(v * 10 + (s[i] - u'0'), 100000L);
  return negative ? -v : v;
}

}  // namespace

// ---- Colour dialog ----------------------------------------------------------------------------

void CDpiColorWnd::InitWindow() {
  MoveWindow(m_position.x, m_position.y, 250, 200);
  preview_ = m_pm.FindControl("color_show_control");
  palette_ = dynamic_cast<CColorPaletteUI*>(m_pm.FindControl("ColorPallet"));
  edits_ = {m_pm.FindControl("r_edit"), m_pm.FindControl("g_edit"), m_pm.FindControl("b_edit")};
  for (int i = 0; i < 16; ++i) {
    swatches_[size_t(i)] = m_pm.FindControl(Format(u"mouse_dpi_color_%d", i + 1));
  }
  ShowColor(true, true);
}

void CDpiColorWnd::ShowColor(bool palette, bool edits) {
  if (palette && palette_) palette_->SetSelectColor(m_color);
  if (preview_) preview_->SetBkColor(m_color);
  if (!edits) return;
  for (int i = 0; i < 3; ++i) {
    if (edits_[size_t(i)]) edits_[size_t(i)]->SetText(Format(u"%d", (m_color >> (16 - 8 * i)) & 0xFF));
  }
}

void CDpiColorWnd::OnComponentTyped(CControlUI* edit, int shift) {
  std::u16string text = edit->GetText().str();
  long v = ReadDecimal(text);
  if (v > 255 || v < 0) {
    v = v > 255 ? 255 : 0;
    edit->SetText(Format(u"%d", int(v)));
  }
  m_color = (m_color & ~(DWORD(0xFF) << shift)) | (DWORD(v) << shift) | kOpaque;
  ShowColor(true, false);
}

void CDpiColorWnd::Notify(TNotifyUI& msg) {
  const std::u16string& type = msg.sType.str();
  CControlUI* s = msg.pSender;
  if (type == u"click") {
    if (s && s->GetName().str() == u"confirm_btn") Close(1);
    else if (s && s->GetName().str() == u"cancel_btn") Close(0);
    for (size_t i = 0; i < swatches_.size(); ++i) {
      if (s && s == swatches_[i]) {
        m_color = kSwatchColors[i];
        ShowColor(true, true);
      }
    }
  } else if ((type == u"colorchanged" || type == u"colorchangedbuttonup") && s && s == palette_) {
    m_color = palette_->GetSelectColor() | kOpaque;
    ShowColor(false, true);
  } else if (type == u"textchanged") {
    for (int i = 0; i < 3; ++i) {
      if (s && s == edits_[size_t(i)]) OnComponentTyped(s, 16 - 8 * i);
    }
  }
}

// ---- DPI indicator ----------------------------------------------------------------------------

namespace {
constexpr int kDpiWidth = 200, kDpiHeight = 50, kDpiMargin = 10;
}  // namespace

void CDPIMsg::InitWindow() {
  label_ = m_pm.FindControl("dpi_label");
  if (!label_) return;
  label_->SetText(text_);
  QRect work(0, 0, 1024, 768);
  if (QScreen* screen = QGuiApplication::primaryScreen()) work = screen->availableGeometry();
  // Lower right corner of the work area, whose origin is not the screen's where a panel sits
  // on the left or the top.
  MoveWindow(work.right() + 1 - kDpiMargin - kDpiWidth, work.bottom() + 1 - kDpiMargin - kDpiHeight, kDpiWidth,
             kDpiHeight);
}

void CDPIMsg::SetText(std::u16string text) {
  text_ = std::move(text);
  if (label_) label_->SetText(text_);
  // A full-screen window may have come up since it was shown: it goes on top again.
  if (QWidget* w = GetWidget()) w->raise();
}

std::u16string DpiIndicatorText(WPARAM form, LPARAM dpi_div_50) {
  if (form <= 2) return Format(u"DPI :%d", int64_t(dpi_div_50) * 50);
  return u"DPI :";
}

// ---- Message box ------------------------------------------------------------------------------

void CMsgWnd::InitWindow() {
  if (CControlUI* title = m_pm.FindControl("warning_title")) title->SetResourceText(title_);
  if (CControlUI* text = m_pm.FindControl("warning")) {
    if (text_.empty()) text->SetResourceText(message_);
    else text->SetText(text_);
  }
  if (CControlUI* cancel = m_pm.FindControl("btn_cancel")) cancel->SetVisible(kind_ == MsgKind::kConfirm);
}

void CMsgWnd::OnClick(TNotifyUI& msg) {
  const std::u16string& name = msg.pSender->GetName().str();
  if (name == u"btn_ok") Close(1);
  else if (name == u"btn_cancel") Close(0);
}

UINT CMsgWnd::Show(HWND owner, const CDuiString& title_key, const CDuiString& message_key, MsgKind kind) {
  CMsgWnd box(title_key, message_key, kind);
  return box.RunModal(owner, "");
}

UINT CMsgWnd::ShowText(HWND owner, const CDuiString& title_key, std::u16string text, MsgKind kind) {
  CMsgWnd box(title_key, "", kind);
  box.SetMessageText(std::move(text));
  return box.RunModal(owner, "");
}

}  // namespace brevak
