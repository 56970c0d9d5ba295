#pragma once
// A HID report descriptor reduced to what the Windows HID class shows of each top-level
// collection: its usage and its report byte lengths as HIDP_CAPS counts them. On hidraw one
// node carries every collection of a device, so this is how we split a node into interfaces.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zentrix {

struct HidCollection {
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  uint8_t type = 0;  // data of the Collection item: 0 physical, 1 application, 2 logical, ...

  // Report ids of each kind used inside this collection (nested collections included),
  // ascending. {0} when the device numbers no reports; empty when there is no report of
  // that kind.
  std::vector<uint8_t> input_report_ids;
  std::vector<uint8_t> output_report_ids;
  std::vector<uint8_t> feature_report_ids;

  // Largest report of each kind in whole bytes, plus the report id byte (which Windows
  // prepends as 0 when the device numbers no reports); 0 when there is none of that kind.
  uint16_t input_report_length = 0;
  uint16_t output_report_length = 0;
  uint16_t feature_report_length = 0;
};

struct ReportDescriptor {
  // Reports on the wire start with their report id byte. A descriptor numbers all of its
  // reports or none.
  bool numbered = false;
  std::vector<HidCollection> collections;  // top-level ones, in descriptor order
};

// Nullopt for a malformed descriptor, with the reason in `error` when given. Never reads
// outside `bytes`.
std::optional<ReportDescriptor> ParseReportDescriptor(std::span<const uint8_t> bytes,
                                                      std::string* error = nullptr);

}  // namespace zentrix
