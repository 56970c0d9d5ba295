// Report descriptors come from whatever device is plugged in, through sysfs: any bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "zentrix/report_descriptor.h"

using namespace zentrix;

namespace {

// What the interface table and the read filter rely on.
void CheckKind(const ReportDescriptor& d, const std::vector<uint8_t>& ids, uint16_t length) {
  if (ids.empty() != (length == 0)) std::abort();
  if (!std::is_sorted(ids.begin(), ids.end()) ||
      std::adjacent_find(ids.begin(), ids.end()) != ids.end())
    std::abort();
  for (uint8_t id : ids) {
    if ((id == 0) == d.numbered) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const std::optional<ReportDescriptor> parsed = ParseReportDescriptor({data, size}, &error);
  if (!parsed) {
    if (error.empty()) std::abort();
    return 0;
  }
  for (const HidCollection& c : parsed->collections) {
    CheckKind(*parsed, c.input_report_ids, c.input_report_length);
    CheckKind(*parsed, c.output_report_ids, c.output_report_length);
    CheckKind(*parsed, c.feature_report_ids, c.feature_report_length);
  }
  // Appending a complete empty collection adds exactly one interface and changes no other.
  std::vector<uint8_t> longer(data, data + size);
  longer.insert(longer.end(), {0xA1, 0x01, 0xC0});
  const std::optional<ReportDescriptor> again = ParseReportDescriptor(longer);
  if (!again || again->collections.size() != parsed->collections.size() + 1) std::abort();
  for (size_t i = 0; i < parsed->collections.size(); ++i) {
    if (again->collections[i].input_report_length != parsed->collections[i].input_report_length)
      std::abort();
  }
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  return {
      // 8K-style receiver node: Push/Pop, a long item, a usage in the 32-bit form.
      {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xFF,
       0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0xC0, 0xA4, 0x05, 0x0B,
       0x09, 0x00, 0xA1, 0x01, 0x85, 0x02, 0x95, 0x3F, 0x09, 0x00, 0xB1, 0x02, 0xC0,
       0xB4, 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x0B, 0x02, 0x00, 0x01, 0xFF, 0xA1, 0x01,
       0x85, 0x03, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0},
      // Vendor-defined, no report ids.
      {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00,
       0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0x09, 0x03,
       0x91, 0x02, 0x09, 0x04, 0x95, 0x08, 0xB1, 0x02, 0xC0},
  };
}
