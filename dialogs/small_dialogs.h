#pragma once
// The small windows the rest of the program opens: the colour dialog, the on-screen DPI
// indicator and the message box.

#include <array>
#include <string>

#include "ui/duilib.h"

namespace brevak {

// 0xFF000000 + red * 65536 + green * 256 + blue.
inline constexpr DWORD kOpaque = 0xFF000000u;
inline constexpr std::array<DWORD, 16> kSwatchColors = {
    0xFF00FFFF, 0xFF6CFF00, 0xFF7F00FF, 0xFF007FFF, 0xFF0000FF, 0xFF7FFF00, 0xFFFF5400, 0xFFFF7F00,
    0xFFFFB400, 0xFFFFFF00, 0xFFFF0000, 0xFFFF00FF, 0xFF1EB40A, 0xFF48B1FF, 0xFFFF48B0, 0xFFFFFFFF};

// A window that may delete itself once it is gone (the heap-allocated DPI indicator).
class CSelfDeletingWnd : public WindowImplBase {
 public:
  void SetSelfDelete(bool on) { self_delete_ = on; }

 protected:
  void OnFinalMessage(HWND) override {
    if (self_delete_) delete this;
  }

 private:
  bool self_delete_ = false;
};

class CDpiColorWnd : public CSelfDeletingWnd {
 public:
  DWORD m_color = kOpaque;   // set before showing, read after a result of 1
  POINT m_position{};        // top-left corner on the screen

 protected:
  const char16_t* GetWindowClassName() const override { return u"DpiColorWnd"; }
  CDuiString GetSkinFile() override { return "DpiColorDialog.xml"; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;

 private:
  void ShowColor(bool palette, bool edits);
  void OnComponentTyped(CControlUI* edit, int shift);

  CControlUI* preview_ = nullptr;
  CColorPaletteUI* palette_ = nullptr;
  std::array<CControlUI*, 3> edits_{};  // red, green, blue
  std::array<CControlUI*, 16> swatches_{};
};

class CDPIMsg : public CSelfDeletingWnd {
 public:
  explicit CDPIMsg(std::u16string text) : text_(std::move(text)) {}
  void SetText(std::u16string text);
  const std::u16string& text() const { return text_; }

 protected:
  const char16_t* GetWindowClassName() const override { return u"DPIWnd"; }
  CDuiString GetSkinFile() override { return "DPImsg.xml"; }
  void InitWindow() override;

 private:
  std::u16string text_;
  CControlUI* label_ = nullptr;
};

// A warning needs no choice: it has OK alone. A confirmation has OK and Cancel.
enum class MsgKind { kWarning, kConfirm };

class CMsgWnd : public CSelfDeletingWnd {
 public:
  CMsgWnd(CDuiString title_key, CDuiString message_key, MsgKind kind = MsgKind::kWarning)
      : title_(std::move(title_key)), message_(std::move(message_key)), kind_(kind) {}
  // A message composed by the caller (a file's name and a reason, say), shown as it is in place
  // of the message key.
  void SetMessageText(std::u16string text) { text_ = std::move(text); }

  // Shows the box modally over `owner` (centred on it; on the screen when null): 1 for OK, 0
  // otherwise.
  static UINT Show(HWND owner, const CDuiString& title_key, const CDuiString& message_key,
                   MsgKind kind = MsgKind::kWarning);
  static UINT ShowText(HWND owner, const CDuiString& title_key, std::u16string text,
                       MsgKind kind = MsgKind::kWarning);

 protected:
  const char16_t* GetWindowClassName() const override { return u"MsgWnd"; }
  CDuiString GetSkinFile() override { return "msg.xml"; }
  void InitWindow() override;
  void OnClick(TNotifyUI& msg) override;

 private:
  CDuiString title_, message_;
  std::u16string text_;  // shown instead of the message key when set
  MsgKind kind_;
};

// The text of the DPI indicator for a 1291 message.
std::u16string DpiIndicatorText(WPARAM form, LPARAM dpi_div_50);

}  // namespace brevak
