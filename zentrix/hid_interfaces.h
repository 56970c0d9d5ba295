#pragma once
// The mouse's HID identities and the interfaces each zentrix build looks for. The simulated
// mouse presents exactly these, so both sides read their numbers from here.

#include <cstdint>

namespace zentrix {

inline constexpr uint16_t kVendorId = 0x1D57;
inline constexpr uint16_t kCableProductId = 0x2029;
inline constexpr uint16_t kReceiver1kProductId = 0xFA60;
inline constexpr uint16_t kReceiverHsProductId = 0xFA65;  // 4K and 8K, told apart by version
inline constexpr uint16_t kReceiver4kVersion = 0x0116;
inline constexpr uint16_t kReceiver8kVersion = 0x0118;

// The Bluetooth LE mouse as the HID class lists it (presence check only).
inline constexpr uint16_t kBleVendorId = 0x045E;
inline constexpr uint16_t kBleProductId = 0x0059;

enum class Build { kReceiver1k, kCable, kReceiver4k, kReceiver8k };

// Which interface an enumeration looks for.
enum class InterfaceKind : int { kOsd = 0, kFeature = 1, kReport = 2 };

struct Usage {
  uint16_t page;
  uint16_t usage;
};

// The 4K receiver's interfaces. The cable and the 1K receiver use the same three: status
// reports arrive on the OSD interface (report id 3 or 4) and frames travel as 64-byte
// feature reports on the FEATURE interface.
inline constexpr Usage k4kOsd{0x000A, 0x0000};
inline constexpr Usage k4kFeature{0x000B, 0x0000};
inline constexpr Usage k4kReport{0xFF00, 0x0001};
// The 8K receiver: status reports on the vendor interface 0xFF00/1, envelopes to 0xFF01/2.
inline constexpr Usage k8kOsd{0xFF00, 0x0001};
inline constexpr Usage k8kFeature{0x000B, 0x0000};
inline constexpr Usage k8kReport{0xFF01, 0x0002};

constexpr Usage InterfaceUsage(Build build, InterfaceKind kind) {
  const bool eight_k = build == Build::kReceiver8k;
  switch (kind) {
    case InterfaceKind::kOsd: return eight_k ? k8kOsd : k4kOsd;
    case InterfaceKind::kFeature: return eight_k ? k8kFeature : k4kFeature;
    case InterfaceKind::kReport: return eight_k ? k8kReport : k4kReport;
  }
  return {0, 0};
}

// Report byte lengths, report id included.
inline constexpr uint16_t kStatusInputLength = 64;     // OSD interface of cable, 1K and 4K
inline constexpr uint16_t kFeatureReportLength = 64;   // FEATURE interface
inline constexpr uint16_t kEnvelopeReportLength = 65;  // REPORT interface (in and out), 8K OSD input
inline constexpr uint16_t kTransferLimit = 200;        // WriteUSB / ReadUSB refuse longer lengths

// Report ids that carry status on the OSD interface of cable, 1K and 4K.
inline constexpr uint8_t kStatusReportId = 0x04;
inline constexpr uint8_t kStatusReportIdAlt = 0x03;

}  // namespace zentrix
