// Frame building for a full write: the work the apply worker does before any pause.
#include <benchmark/benchmark.h>

#include "protocol/frames.h"

namespace brevak {
namespace {

// A profile with macros of 190 steps (long delays and moves, so several frames each) bound
// to the four buttons that have their own macro slots.
std::unique_ptr<ProfileRecord> ProfileWithMacros() {
  auto r = NewProfileRecord(u"bench");
  for (int slot : {0, 1, 6, 7}) {
    ButtonEntry& b = r->button[slot];
    b.function_code = kFunctionMacro;
    b.macro_loop_count = 1;
    b.macro_action_count = kMaxMacroActions;
    for (int i = 0; i < kMaxMacroActions; ++i) {
      MacroAction& a = b.macro_actions[i];
      a.kind = uint8_t(i % 3);
      a.code = a.kind == kMacroMove ? kMacroCodeMove : uint8_t(4 + i % 20);
      a.delay = uint16_t(i * 37 % 1000);
      a.x = i - 95;
      a.y = 95 - i;
    }
  }
  return r;
}

void BM_FullWriteFrames(benchmark::State& state) {
  auto r = ProfileWithMacros();
  size_t frames = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildFullWriteReport());
    benchmark::DoNotOptimize(BuildAttributeReport(*r));
    benchmark::DoNotOptimize(BuildLightingReport(*r));
    benchmark::DoNotOptimize(BuildPollingReport(*r));
    benchmark::DoNotOptimize(BuildButtonReport(*r));
    frames = 5;
    for (int i = 0; i < kPageButtons; ++i) {
      if (r->button[i].function_code != kFunctionMacro) continue;
      auto macro = BuildMacroReports(r->button[i], kMacroSlotBase[i]);
      frames += macro.size();
      benchmark::DoNotOptimize(macro.data());
    }
  }
  state.counters["frames"] = double(frames);
}
BENCHMARK(BM_FullWriteFrames);

void BM_CompareChangeGroups(benchmark::State& state) {
  auto a = ProfileWithMacros();
  auto b = std::make_unique<ProfileRecord>(*a);
  b->button[17].macro_actions[189].y = 1;  // the last byte compared
  for (auto _ : state) benchmark::DoNotOptimize(CompareChangeGroups(*a, *b));
}
BENCHMARK(BM_CompareChangeGroups);

}  // namespace
}  // namespace brevak
