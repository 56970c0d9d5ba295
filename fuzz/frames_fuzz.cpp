// Stored and imported records are used without range checks, so every frame builder must
// accept any bytes at all. The input is a (possibly partial) profile record image.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "protocol/frames.h"

using namespace brevak;

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckChecksum(const Frame& f, size_t at) {
  uint32_t sum = 0;
  for (size_t i = 3; i < at; ++i) sum += f.bytes[i];
  Check(f.bytes[at] == uint8_t(sum >> 8) && f.bytes[at + 1] == uint8_t(sum));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto r = std::make_unique<ProfileRecord>();
  if (size > 0) std::memcpy(static_cast<void*>(r.get()), data, std::min(size, sizeof(ProfileRecord)));
  // Short inputs steer the fields that matter most: the step counts of the macros.
  if (size < sizeof(ProfileRecord))
    for (size_t i = 0; i < size && i < kPageButtons; ++i) {
      r->button[i].function_code = kFunctionMacro;
      r->button[i].macro_action_count = uint16_t(data[i] * 3);
      for (int k = 0; k < kMaxMacroActions; ++k) {
        MacroAction& a = r->button[i].macro_actions[k];
        a.kind = data[(i + k) % size] % 3;
        a.delay = uint16_t(data[(i * 7 + k) % size] * 131);
        a.x = int32_t(data[k % size]) << (k % 24);
      }
    }

  CheckChecksum(BuildAttributeReport(*r), 50);
  CheckChecksum(BuildLightingReport(*r), 11);
  Frame polling = BuildPollingReport(*r);
  Check(uint8_t(polling.bytes[3] ^ polling.bytes[4]) == 0xFF);
  CheckChecksum(BuildButtonReport(*r), 57);

  for (int i = 0; i < kPageButtons; ++i) {
    std::vector<Frame> frames = BuildMacroReports(r->button[i], kMacroSlotBase[i]);
    Check(!frames.empty() && frames.size() <= size_t(kMaxMacroActions) + 1);
    for (const Frame& f : frames) {
      Check(f.length == kMacroFrameLength && f.bytes[8] <= 50);
      CheckChecksum(f, 109);
    }
  }
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  auto r = NewProfileRecord(u"seed");
  for (int i : {0, 6}) {
    r->button[i].function_code = kFunctionMacro;
    r->button[i].macro_action_count = 120;
    for (int k = 0; k < 120; ++k) r->button[i].macro_actions[k].delay = uint16_t(k * 250);
  }
  const auto* p = reinterpret_cast<const uint8_t*>(r.get());
  return {std::vector<uint8_t>(p, p + sizeof(ProfileRecord)), {0xFF, 0x40, 0x01, 0x80}};
}
