#pragma once
// Status reports from the mouse: [report id][0x59][type][value][value2] on the HID paths,
// [0x59][type][value][value2] over Bluetooth LE.

#include <cstdint>
#include <optional>
#include <span>

namespace brevak {

inline constexpr uint8_t kStatusMarker = 0x59;

enum StatusType : uint8_t {
  kStatusDpiStage = 0x10,
  kStatusPollingRate = 0x20,
  kStatusPower = 0x40,  // value: power state, value2: battery level
  kStatusWriteAck = 0x50,
  kStatus60 = 0x60,
  kStatusLightEffect = 0x70,
  kStatus80 = 0x80,
};

// Power states carried in a kStatusPower report's value.
inline constexpr uint8_t kPowerChargeComplete = 2;
inline constexpr uint8_t kPowerCharging = 3;

struct StatusReport {
  uint8_t type = 0;
  uint8_t value = 0;
  uint8_t value2 = 0;
  bool operator==(const StatusReport&) const = default;
};

bool IsKnownStatusType(uint8_t type);

// A whole input report as the HID paths deliver it (report id first). Short reports and
// reports without the marker give nothing.
std::optional<StatusReport> DecodeStatusReport(std::span<const uint8_t> report);

// A Bluetooth LE notification value (no report id).
std::optional<StatusReport> DecodeBleStatus(std::span<const uint8_t> value);

// The value pair that the 1K, cable and 4K driver builds post: wParam holds report bytes
// 1 (low) and 2, lParam bytes 3 (low) and 4. Accepted only for wParam 0x1000..0x9000 with
// the marker in its low byte.
std::optional<StatusReport> DecodePackedStatus(uintptr_t wparam, intptr_t lparam);

// The inverse, for the driver side and tests.
inline void PackStatus(std::span<const uint8_t> report, uintptr_t& wparam, intptr_t& lparam) {
  wparam = report.size() > 2 ? uintptr_t(report[1]) | (uintptr_t(report[2]) << 8) : 0;
  lparam = report.size() > 4 ? intptr_t(report[3]) | (intptr_t(report[4]) << 8) : 0;
}

}  // namespace brevak
