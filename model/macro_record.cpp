#include "model/macro_record.h"

#include <algorithm>

namespace brevak {

int ComputeMacroUnits(const MacroAction* actions, int action_count) {
  const int n = std::clamp(action_count, 0, kMaxMacroActions);
  int total = 0;
  for (int i = 0; i < n; ++i) {
    total += actions[i].kind == kMacroMove ? 3 : 1;
    if (actions[i].delay >= 128) total += 1;
  }
  return total;
}

MacroRecord MakeEmptyMacroRecord() { return MacroRecord{}; }

}  // namespace brevak
