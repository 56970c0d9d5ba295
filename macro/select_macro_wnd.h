#pragma once
// The macro selection dialog: one macro of the library, its repeat mode and, for mode 0, a loop
// count. It changes nothing itself; its opener reads the result back after a confirmed run.

#include <array>
#include <string>

#include "store/macro_store.h"
#include "ui/duilib.h"

namespace brevak {

inline constexpr int kRepeatModes = 3;
inline constexpr int kMinLoopCount = 1;
inline constexpr int kMaxLoopCount = 255;

class CMS_1_SelectMacro : public WindowImplBase {
 public:
  // Set by the opener before Show, read back after a result of 1. Values outside their ranges
  // are brought into them when the dialog opens: an index that names no macro becomes -1, an
  // unknown repeat mode 0, a loop count the nearest of 1..255.
  const MacroList* m_macros = nullptr;  // the macro store's list, read only
  int m_macro_index = -1;               // -1: none chosen
  // The button's macro by name (ignoring case): when set, its row is shown selected and
  // m_macro_index is set from it (-1 when the library has no such name), whatever it held.
  std::u16string m_macro_name;
  int m_repeat_mode = 0;                // 0, 1, 2
  int m_loop_count = kMinLoopCount;     // 1..255; kept, and returned, in every mode

  // Creates the dialog over `owner`, centred, and runs it modally: 1 for OK, 0 for cancel and
  // close, and 0 without showing anything when its layout cannot be built.
  UINT Show(HWND owner);

 protected:
  const char16_t* GetWindowClassName() const override { return u"MS_1_SelectMacro"; }
  CDuiString GetSkinFile() override { return "selectmacro.xml"; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;

 private:
  void ShowLoopRow();
  void KeepDigits();
  void TakeLoopCount();

  CListUI* list_ = nullptr;
  std::array<COptionUI*, kRepeatModes> repeats_{};
  CControlUI* loop_row_ = nullptr;
  CEditUI* loop_edit_ = nullptr;
};

}  // namespace brevak
