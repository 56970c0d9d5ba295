// The macro editor opened from the page, and the button copies of macros brought in step with
// the library once it closes.
#include <cstring>
#include <vector>

#include "page/ms_1_page.h"

namespace brevak {

void CMS_1_Page::EditMacros() {
  dialogs().EditMacros(macros_);
  bool working_changed = false;
  {
    // The worker may be sending the working record right now.
    auto lock = profiles_.Lock();
    ProfileList& list = profiles_.list();
    std::vector<ProfileRecord> before;
    before.reserve(list.size());
    for (const auto& record : list) before.push_back(*record);
    const ProfileRecord* working = device_.working.Locked();
    int current = -1;
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].get() == working) current = int(i);
    }
    SyncButtonMacros(list, macros_.list(), current);
    bool other_changed = false;
    for (size_t i = 0; i < list.size(); ++i) {
      if (std::memcmp(&before[i], list[i].get(), sizeof(ProfileRecord)) == 0) continue;
      if (int(i) == current) working_changed = true;
      else other_changed = true;
    }
    // The apply saves the store after sending the working record; other profiles' buttons
    // must reach the file too, or they come back stale with the next start.
    if (other_changed && !working_changed) profiles_.Save();
  }
  if (!working_changed) return;
  for (int i = 0; i < kPageButtons; ++i) RefreshButtonLabel(i);
  RequestApply();
}

}  // namespace brevak
