#pragma once
// Values of a profile the mouse does not take. A record from the profile store's own editing is
// always in range; one read from a repaired store or a file made elsewhere may not be. Such a
// group is not sent (the mouse would take the bytes as something else), and the user is shown
// which value is wrong, so nothing the file held is rewritten unseen.

#include <cstdint>
#include <vector>

#include "model/profile_record.h"

namespace brevak {

struct BadValue {
  const char* what;  // the setting, in English: "DPI", "polling rate", ...
  int stage;         // 1-based DPI stage for "DPI", else 0
  int32_t value;     // as stored
};

std::vector<BadValue> OutOfRangeValues(const ProfileRecord& r);
// The groups that hold one of those values (macros are checked by their own rule).
ChangeGroups GroupsWithBadValues(const ProfileRecord& r);

}  // namespace brevak
