#pragma once
// The profile name dialog: asks for the name of a profile being added or renamed, refuses an
// empty name and one the list already holds (ignoring case, the renamed profile included), and
// returns the name as typed.

#include <functional>
#include <string>
#include <vector>

#include "model/profile_record.h"
#include "ui/duilib.h"

namespace brevak {

// The name field of a profile holds this many characters (and its terminator).
inline constexpr int kProfileNameMaxChars = kProfileNameUnits - 1;

class CMS_1_ProfileName : public WindowImplBase {
 public:
  std::u16string m_name;            // the accepted name, set when the dialog ends with OK
  CDuiString m_title_key;           // "profile_name_1_text" (add) or "profile_name_2_text" (rename)
  // The names already in the profile list (a copy, so the list's lock is not held while the
  // dialog is open), checked for duplicates ignoring case.
  std::vector<std::u16string> m_names;
  // The text the field opens with, selected (a rename's current name). Confirmed unchanged, it
  // ends the dialog as Cancel does: nothing to rename, and no warning that the name is taken.
  std::u16string m_initial;

  // A refusal ("warn_name_1_text", "warn_name_2_text"): the message box over this dialog
  // unless replaced (tests answer it themselves).
  std::function<void(const char* message_key)> warn;

  // Creates the dialog over `owner`, centred, and runs it: 1 for OK, 0 otherwise.
  UINT Run(HWND owner);

 protected:
  const char16_t* GetWindowClassName() const override { return u"MS_1_ProfileName"; }
  CDuiString GetSkinFile() override { return "profilename.xml"; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;

 private:
  void Confirm();

  CControlUI* edit_ = nullptr;
};

}  // namespace brevak
