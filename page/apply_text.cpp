#include "page/apply_text.h"

#include "platform/format.h"
#include "platform/text.h"

namespace brevak {

namespace {

constexpr DWORD kMsPerSecond = 1000;

std::u16string StepText(ApplyStep step, int button) {
  switch (step) {
    case ApplyStep::kFullWrite: return LanguageText(u"apply_step_full_text");
    case ApplyStep::kAttribute: return LanguageText(u"apply_step_attribute_text");
    case ApplyStep::kLighting: return LanguageText(u"apply_step_lighting_text");
    case ApplyStep::kPolling: return LanguageText(u"apply_step_polling_text");
    case ApplyStep::kButtons: return LanguageText(u"apply_step_buttons_text");
    case ApplyStep::kMacro: return Format(LanguageText(u"apply_step_macro_text"), button + 1);
  }
  return {};
}

}  // namespace

std::u16string ApplyProgressText(const ApplyProgress& p) {
  // Rounded up: "0 s left" while a pause is still running would read as a hang.
  const int seconds = int((p.ms_left + kMsPerSecond - 1) / kMsPerSecond);
  return Format(LanguageText(u"apply_progress_text"), StepText(p.step, p.button), p.frame, p.frames, seconds);
}

std::u16string ApplyEndText(const ApplyReport& r) {
  if (!r.ran) return {};
  std::u16string left;
  auto add = [&](bool pending, ApplyStep step, int button = 0) {
    if (!pending) return;
    if (!left.empty()) left += u", ";
    left += StepText(step, button);
  };
  add(r.pending.attribute, ApplyStep::kAttribute);
  add(r.pending.lighting, ApplyStep::kLighting);
  add(r.pending.polling, ApplyStep::kPolling);
  add(r.pending.buttons, ApplyStep::kButtons);
  for (int i = 0; i < kPageButtons; ++i) add(r.pending.macro[size_t(i)], ApplyStep::kMacro, i);
  if (left.empty() && r.full_write_pending) left = StepText(ApplyStep::kFullWrite, 0);
  if (left.empty()) return LanguageText(u"apply_done_text");
  return Format(LanguageText(u"apply_pending_text"), left);
}

int ApplyPercent(const ApplyProgress& p) {
  if (p.frames <= 0) return 0;
  return std::clamp((p.frame - 1) * 100 / p.frames, 0, 100);
}

}  // namespace brevak
