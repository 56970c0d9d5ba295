#pragma once
// What the user reads of a write to the mouse: how far it is, and how it ended. The window's
// progress strip and a command-line client show the same texts.

#include <string>

#include "page/apply_worker.h"

namespace brevak {

// "Writing lighting: 3 of 5, 4 s left".
std::u16string ApplyProgressText(const ApplyProgress& p);
// "Written to the mouse", or which settings the mouse still waits for; empty for a request that
// did not run.
std::u16string ApplyEndText(const ApplyReport& r);
// 0..100 for a progress bar: the frames already sent.
int ApplyPercent(const ApplyProgress& p);

}  // namespace brevak
