#include "protocol/status_report.h"

namespace brevak {

bool IsKnownStatusType(uint8_t type) {
  switch (type) {
    case kStatusDpiStage:
    case kStatusPollingRate:
    case kStatusPower:
    case kStatusWriteAck:
    case kStatus60:
    case kStatusLightEffect:
    case kStatus80:
      return true;
    default:
      return false;
  }
}

std::optional<StatusReport> DecodeBleStatus(std::span<const uint8_t> v) {
  if (v.size() < 4 || v[0] != kStatusMarker) return std::nullopt;
  return StatusReport{v[1], v[2], v[3]};
}

std::optional<StatusReport> DecodeStatusReport(std::span<const uint8_t> report) {
  if (report.size() < 5) return std::nullopt;
  return DecodeBleStatus(report.subspan(1));
}

std::optional<StatusReport> DecodePackedStatus(uintptr_t wparam, intptr_t lparam) {
  if (wparam < 0x1000 || wparam > 0x9000 || (wparam & 0xFF) != kStatusMarker) return std::nullopt;
  return StatusReport{uint8_t(wparam >> 8), uint8_t(lparam), uint8_t(lparam >> 8)};
}

}  // namespace brevak
