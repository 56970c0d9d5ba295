#include "protocol/status_report.h"

#include <gtest/gtest.h>

#include <vector>

namespace brevak {
namespace {

TEST(StatusReport, WholeReportsAndBluetoothValues) {
  std::vector<uint8_t> dpi = {0x05, 0x59, 0x10, 0x03, 0x00, 0xEE};
  EXPECT_EQ(DecodeStatusReport(dpi), (StatusReport{0x10, 3, 0}));
  std::vector<uint8_t> ble = {0x59, 0x40, 0x01, 0x64};
  EXPECT_EQ(DecodeBleStatus(ble), (StatusReport{0x40, 1, 100}));

  // Wrong marker, cut short, or a Bluetooth value read as a HID report: nothing.
  EXPECT_EQ(DecodeStatusReport(std::vector<uint8_t>{0x05, 0x58, 0x10, 0x03, 0x00}), std::nullopt);
  EXPECT_EQ(DecodeStatusReport(std::vector<uint8_t>{0x05, 0x59, 0x10, 0x03}), std::nullopt);
  EXPECT_EQ(DecodeStatusReport(ble), std::nullopt);
  EXPECT_EQ(DecodeBleStatus(std::vector<uint8_t>{0x59, 0x40, 0x01}), std::nullopt);
  EXPECT_EQ(DecodeBleStatus({}), std::nullopt);
}

TEST(StatusReport, PackedValuePairsFromTheDriver) {
  // wParam: marker low, type high; lParam: value low, value2 high.
  EXPECT_EQ(DecodePackedStatus(0x5059, 0x0000), (StatusReport{0x50, 0, 0}));
  EXPECT_EQ(DecodePackedStatus(0x4059, 0x6403), (StatusReport{0x40, 3, 100}));
  EXPECT_EQ(DecodePackedStatus(0x1059, 0x0008), (StatusReport{0x10, 8, 0}));
  // Outside 0x1000..0x9000 or without the marker.
  EXPECT_EQ(DecodePackedStatus(0x0F59, 0), std::nullopt);
  EXPECT_EQ(DecodePackedStatus(0x9059, 0), std::nullopt);
  EXPECT_EQ(DecodePackedStatus(0x4058, 0), std::nullopt);
  EXPECT_EQ(DecodePackedStatus(0x10059, 0), std::nullopt);

  std::vector<uint8_t> report = {0x02, 0x59, 0x70, 0x50, 0x07};
  uintptr_t w;
  intptr_t l;
  PackStatus(report, w, l);
  EXPECT_EQ(w, 0x7059u);
  EXPECT_EQ(DecodePackedStatus(w, l), DecodeStatusReport(report));
}

TEST(StatusReport, KnownTypes) {
  int known = 0;
  for (int t = 0; t < 256; ++t) known += IsKnownStatusType(uint8_t(t));
  EXPECT_EQ(known, 7);
  EXPECT_TRUE(IsKnownStatusType(0x60));
  EXPECT_FALSE(IsKnownStatusType(0x30));
}

}  // namespace
}  // namespace brevak
