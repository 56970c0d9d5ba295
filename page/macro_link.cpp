// The macro editor opened from the page, and the button copies of macros brought in step with
// the library once it closes.
#include "page/ms_1_page.h"

namespace brevak {

void CMS_1_Page::EditMacros() {
  dialogs().EditMacros(macros_);
  bool working_changed = false;
  {
    // The worker may be sending the working record right now.
    auto lock = profiles_.Lock();
    ProfileList& list = profiles_.list();
    const ProfileRecord* working = device_.working.Locked();
    int current = -1;
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].get() == working) current = int(i);
    }
    working_changed = SyncButtonMacros(list, macros_.list(), current);
    // The apply that follows a change of the working record saves the store; other profiles'
    // buttons must reach the file too, or they come back stale with the next start.
    if (!working_changed) profiles_.Save();
  }
  CollectStoreEvents();
  if (!working_changed) return;
  for (int i = 0; i < kPageButtons; ++i) RefreshButtonLabel(i);
  RequestApply();
}

}  // namespace brevak
