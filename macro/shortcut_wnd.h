#pragma once
// The shortcut dialog: up to four modifier keys ticked and one key, which the key field catches
// through the Hook library while it has focus. It changes nothing itself; its opener reads the
// result back after a confirmed run.

#include <array>
#include <cstdint>

#include "macro/hook_binding.h"
#include "ui/duilib.h"

namespace brevak {

inline constexpr int kShortcutFlags = 4;  // left Ctrl, Shift, Alt, GUI: bits 0..3 of the modifier byte

class CShortcutWnd : public WindowImplBase {
 public:
  // Set by the opener before Show, read back after a result of 1.
  std::array<int, kShortcutFlags> m_flags{};  // 1 = ticked
  uint32_t m_key = 0;                         // HID keyboard usage; 0 = none
  const HookFunctionTable* m_hook = nullptr;  // the program's table; null or empty: no key arrives

  // The flags as the modifier byte (flag 1 + flag 2 * 2 + flag 3 * 4 + flag 4 * 8), and back.
  uint8_t Modifiers() const;
  void SetModifiers(uint8_t bits);

  // Creates the dialog over `owner`, centred, and runs it modally: 1 for OK, 0 for cancel and
  // close, and 0 without showing anything when its layout cannot be built.
  UINT Show(HWND owner);

 protected:
  const char16_t* GetWindowClassName() const override { return u"ShortcutWnd"; }
  CDuiString GetSkinFile() override { return "shortcut.xml"; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;
  LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;

 private:
  void StartCatching();
  void StopCatching();
  void ShowKey();

  std::array<CCheckBoxUI*, kShortcutFlags> checks_{};
  CEditUI* key_field_ = nullptr;
};

}  // namespace brevak
