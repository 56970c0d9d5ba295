// Input reports come from the device or the Bluetooth stack: any length, any bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/status_report.h"

using namespace brevak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  auto hid = DecodeStatusReport(in);
  auto ble = DecodeBleStatus(in);
  if (hid && (size < 5 || data[1] != kStatusMarker)) std::abort();
  if (ble && (size < 4 || data[0] != kStatusMarker)) std::abort();
  if (size >= 16) {
    uintptr_t w;
    intptr_t l;
    std::memcpy(&w, data, sizeof w);
    std::memcpy(&l, data + 8, sizeof l);
    auto packed = DecodePackedStatus(w, l);
    if (packed && (w < 0x1000 || w > 0x9000)) std::abort();
    // A report that decodes must survive packing unchanged, as the driver posts it.
    if (hid) {
      PackStatus(in, w, l);
      if (DecodePackedStatus(w, l) != hid && w >= 0x1000 && w <= 0x9000) std::abort();
    }
  }
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  return {{0x05, 0x59, 0x10, 0x03, 0x00}, {0x59, 0x40, 0x02, 0x64}, {0x03, 0x59, 0x50, 0x00, 0x00, 0, 0, 0,
                                                                        0x59, 0x40, 0, 0, 0, 0, 0, 0}};
}
