// The macro editor opened from the page, and the button copies of macros brought in step with
// the library once it closes; the macros only buttons still hold put back into the library, and
// the buttons whose macro the mouse cannot take told.
#include "page/ms_1_page.h"
#include "platform/text.h"
#include "protocol/frames.h"

namespace brevak {

void CMS_1_Page::EditMacros() {
  const std::vector<std::u16string> before = MacroNames(macros_.list());
  dialogs().EditMacros(macros_);
  // Only what the user deleted or renamed there resets the buttons that used it.
  const std::vector<std::u16string> gone = GoneMacroNames(before, macros_.list());
  MacroSync sync;
  {
    // The worker may be sending the working record right now.
    auto lock = profiles_.Lock();
    ProfileList& list = profiles_.list();
    const ProfileRecord* working = device_.working.Locked();
    int current = -1;
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].get() == working) current = int(i);
    }
    PutBackButtonMacros(gone);
    sync = SyncButtonMacros(list, macros_.list(), current, gone);
    // Saved now, with or without a mouse: the apply that follows saves only when one answers.
    if (sync.any_changed) profiles_.Save();
    // A macro renamed to the name a button uses reaches the button here.
    for (const auto& r : list) NoteWithheldMacros(*r);
  }
  CollectStoreEvents();
  TellWithheldMacros();
  if (!sync.current_changed) return;
  for (int i = 0; i < kPageButtons; ++i) RefreshButtonLabel(i);
  RequestApply();
}

void CMS_1_Page::PutBackButtonMacros(const std::vector<std::u16string>& gone) {
  const std::vector<std::u16string> restored = RestoreButtonMacros(profiles_.list(), macros_.list(), gone);
  if (restored.empty()) return;
  macros_.Save();
  // A second copy under a name of its own renamed its button.
  profiles_.Save();
  std::u16string names;
  for (const std::u16string& name : restored) names += (names.empty() ? u"" : u", ") + name;
  Tell(Format(LanguageText(u"macros_restored_text"), names));
}

void CMS_1_Page::NoteWithheldMacros(const ProfileRecord& r) {
  for (int i = 0; i < kPageButtons; ++i) {
    const ButtonEntry& b = r.button[i];
    if (b.function_code != kFunctionMacro) continue;
    const ButtonMacroCheck check = CheckButtonMacro(i, b);
    if (check == ButtonMacroCheck::kSends) continue;
    const char16_t* reason = check == ButtonMacroCheck::kTooLong ? u"macro_too_long_text" : u"macro_no_slots_text";
    std::u16string line = Format(LanguageText(u"macro_withheld_line_text"), r.name, i + 1, b.macro_name,
                                 LanguageText(reason));
    // Once per profile, button, macro and reason.
    if (withheld_told_.insert(line).second) withheld_lines_.push_back(std::move(line));
  }
}

void CMS_1_Page::TellWithheldMacros() {
  if (withheld_lines_.empty()) return;
  std::u16string text = LanguageText(u"macro_withheld_text");
  for (const std::u16string& line : withheld_lines_) text += u"\n" + line;
  withheld_lines_.clear();
  Tell(std::move(text));
}

}  // namespace brevak
