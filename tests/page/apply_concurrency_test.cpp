// The window thread keeps editing the working record and feeding status reports while the
// worker applies: every frame the worker sends comes from a whole record (ThreadSanitizer
// checks the rest).
#include <gtest/gtest.h>

#include "device_test_util.h"

namespace brevak {
namespace {

using sim::Connection;
using test::DeviceTest;

TEST_F(DeviceTest, EditsAndReportsDuringAppliesStayConsistent) {
  Start({Connection::kCable});
  for (int round = 0; round < 12; ++round) {
    PostMessageW(window_, kMsgSettingsChanged, 0, 0);
    for (int step = 0; step < 10; ++step) {
      // Every stage gets the same value in one edit; a torn read would send mixed values.
      working().Edit([&](ProfileRecord& r) {
        for (int i = 0; i < kDpiStages; ++i) r.dpi_value[i] = 10 + round * 10 + step;
      });
      uint8_t report[5] = {0x04, 0x59, 0x10, uint8_t(1 + step % 8), 0};
      uintptr_t w;
      intptr_t l;
      PackStatus(report, w, l);
      device_->OnMessage(kMsgInputCable, w, LPARAM(l));
      AdvanceClock(300);
    }
    const sim::MouseState m = mouse_.State();
    for (int i = 1; i < kDpiStages; ++i) EXPECT_EQ(m.dpi_value[size_t(i)], m.dpi_value[0]) << "round " << round;
  }
  for (int i = 0; i < 2000 && worker().full_write_pending(); ++i) AdvanceClock(50);
  EXPECT_EQ(mouse_.State().connections[size_t(Connection::kCable)].rejected, 0);
}

}  // namespace
}  // namespace brevak
