#include "protocol/frames.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "frame_test_util.h"

namespace brevak {
namespace {

using test::Hex;

TEST(Frames, ResetRecordGivesTheKnownReports) {
  auto r = NewProfileRecord(u"Default");
  EXPECT_FRAME(BuildAttributeReport(*r),
               Hex("04 38 01 00 01 3F 00 01 0F 1F 3F 81 03 07 00 00 00 00 00 00 01 02 00 00 02 FF FF 00 00 FF FF "
                   "00 FF 00 FF 00 FF 00 00 FF FF 00 00 FF 40 00 FF FF FF 01 0E 72 00 00 00 00"));
  EXPECT_FRAME(BuildLightingReport(*r), Hex("05 0F 01 50 03 A8 00 00 FF 02 04 02 00 00 00"));
  EXPECT_FRAME(BuildPollingReport(*r), Hex("06 09 01 74 8B 00 00 00 00"));
  EXPECT_FRAME(BuildFullWriteReport(), Hex("0C 0A 01 FE 01 FE 00 00 00 00"));
  // The name and the fields no report carries do not reach the wire.
  auto other = NewProfileRecord(u"Another name");
  other->wakeup = 0;
  other->move_mode = 1;
  other->palette_reserved[0] = 0;
  EXPECT_EQ(test::Bytes(BuildAttributeReport(*other)), test::Bytes(BuildAttributeReport(*r)));
  EXPECT_EQ(test::Bytes(BuildLightingReport(*other)), test::Bytes(BuildLightingReport(*r)));
}

TEST(Frames, AttributeStagesFlagsAndTruncation) {
  auto r = NewProfileRecord(u"p");
  r->dpi_value[2] = 0;       // an unused stage in the middle sends zeros, not FF FF
  r->dpi_value[6] = 70000;   // 69999 = 0x1116F: only the low 16 bits travel
  r->dpi_value[7] = -1;      // -2 as 16 bits
  r->dpi_stage_enabled[0] = 2;  // only the value 1 sets a bit
  r->dpi_stage_enabled[7] = 1;
  r->dpi_stage_index = 255;     // +1 wraps in 8 bits
  r->lift_off_distance = 0x101;
  r->dpi_color[7] = 0x7F123456;  // the top byte of a colour is not sent
  auto f = test::Bytes(BuildAttributeReport(*r));
  ASSERT_EQ(f.size(), 56u);
  EXPECT_EQ(f[3], 0x01);
  EXPECT_EQ(f[5], 0xBE);  // stages 2..6 and 8
  EXPECT_EQ(f[10], 0x00);
  EXPECT_EQ(f[18], 0x00);
  EXPECT_EQ(f[14], 0x6F);
  EXPECT_EQ(f[22], 0x11);
  EXPECT_EQ(f[15], 0xFE);
  EXPECT_EQ(f[23], 0xFF);
  EXPECT_EQ(f[24], 0x00);
  EXPECT_EQ(f[46], 0x56);
  EXPECT_EQ(f[47], 0x34);
  EXPECT_EQ(f[48], 0x12);
  EXPECT_EQ(f[49], 0x01);
  uint16_t sum = test::SumOf(f, 3, 49);
  EXPECT_EQ(f[50], sum >> 8);
  EXPECT_EQ(f[51], sum & 0xFF);
  EXPECT_EQ(f[52] | f[53] | f[54] | f[55], 0);
}

TEST(Frames, LightingNibblesAndTruncation) {
  auto r = NewProfileRecord(u"p");
  r->light_effect = 2;  // brightness only travels for effects 1 and 5
  r->brightness = 3;
  r->sleep_timer = 0x1AB;
  r->effect_speed = 0;
  r->light_color = 0x00336699;
  r->light_off_timer = 0x1FF;
  r->key_debounce = 7;
  // A: 2 << 4; B: (0x1AB & 0xF0) | 9 -> 0xA9 (8 bits); C: (0x1AB << 4) | 8 -> 0xB8.
  EXPECT_FRAME(BuildLightingReport(*r), Hex("05 0F 01 20 A9 B8 99 66 33 FF 07 03 B9 00 00"));

  r->light_effect = 1;
  r->effect_speed = 12;  // 9 - 12 = -3: all bits set after truncation
  r->brightness = 0x1F;
  auto f = test::Bytes(BuildLightingReport(*r));
  EXPECT_EQ(f[3], 0x10);
  EXPECT_EQ(f[4], 0xFD);
  EXPECT_EQ(f[5], 0xBF);
  uint16_t sum = test::SumOf(f, 3, 10);
  EXPECT_EQ(f[11], sum >> 8);
  EXPECT_EQ(f[12], sum & 0xFF);
}

TEST(Frames, PollingValueAndComplement) {
  auto r = NewProfileRecord(u"p");
  r->polling_rate_index = 1;
  r->polling_rate_hs_index = 2;
  EXPECT_FRAME(BuildPollingReport(*r), Hex("06 09 01 32 CD 00 00 00 00"));
  r->polling_rate_index = 0;
  r->polling_rate_hs_index = 20;  // (21 << 4) keeps only its low 8 bits
  EXPECT_FRAME(BuildPollingReport(*r), Hex("06 09 01 51 AE 00 00 00 00"));
}

TEST(Frames, ButtonReportOfTheDefaultAssignment) {
  auto r = NewProfileRecord(u"p");
  // Codes 1, 2, 3, 52, 0, 0, 5, 4, 52, 0 x7, 11, 12.
  EXPECT_FRAME(BuildButtonReport(*r),
               Hex("08 3B 01  02 00 00  03 00 00  04 00 00  3C 00 00  01 00 00  01 00 00  05 00 00  06 00 00 "
                   "3C 00 00  01 00 00  01 00 00  01 00 00  01 00 00  01 00 00  01 00 00  01 00 00  09 00 00 "
                   "0A 00 00  00 A8"));
}

TEST(Frames, ButtonReportShortcutMacroAndUnknownCodes) {
  auto r = NewProfileRecord(u"p");
  r->button[0].function_code = kFunctionShortcut;
  r->button[0].shortcut_modifiers = 0x03;  // Ctrl+Shift
  r->button[0].shortcut_key = 0x1D;        // Z
  r->button[1].function_code = 42;         // close window: Alt+F4 from the table
  r->button[2].function_code = 99;         // not in the table
  r->button[4].function_code = kFunctionMacro;  // no slots of its own: sent as "button off"
  r->button[4].shortcut_key = 0x55;             // ignored for a macro
  r->button[6].function_code = kFunctionMacro;  // base slot 17
  r->button[7].function_code = 22;              // easy aim
  r->button[20].function_code = 1;              // reserved slots are never sent
  // Sum of bytes 3..56: (0x11+3+0x1D) + (0x11+4+0x3D) + 0x3C + 1 + 1 + (0x12+0x11) + (0x10+3)
  //   + 0x3C + 7 * 1 + 9 + 0x0A = 333 = 0x014D.
  EXPECT_FRAME(BuildButtonReport(*r),
               Hex("08 3B 01  11 03 1D  11 04 3D  00 00 00  3C 00 00  01 00 00  01 00 00  12 00 11  10 00 03 "
                   "3C 00 00  01 00 00  01 00 00  01 00 00  01 00 00  01 00 00  01 00 00  01 00 00  09 00 00 "
                   "0A 00 00  01 4D"));
}

TEST(Frames, ChecksumSumsInclusiveRangeModulo65536) {
  std::vector<uint8_t> b(400, 0xFF);
  EXPECT_EQ(FrameChecksum(b, 3, 3), 0xFF);
  EXPECT_EQ(FrameChecksum(b, 0, 399), uint16_t(400 * 0xFF));
  EXPECT_EQ(FrameChecksum(b, 390, 500), 10 * 0xFF);  // clipped to the buffer
}

TEST(Frames, ExtremeFieldValuesStayInsideTheFrame) {
  auto r = std::make_unique<ProfileRecord>();
  std::memset(static_cast<void*>(r.get()), 0x80, sizeof(ProfileRecord));  // INT_MIN-like everywhere
  r->dpi_stage_index = INT_MAX;
  r->polling_rate_index = INT_MAX;
  r->effect_speed = INT_MIN;
  EXPECT_EQ(BuildAttributeReport(*r).length, 56);
  EXPECT_EQ(BuildLightingReport(*r).length, 15);
  EXPECT_EQ(BuildPollingReport(*r).length, 9);
  Frame buttons = BuildButtonReport(*r);
  EXPECT_EQ(buttons.length, 59);
  for (size_t i = 59; i < kMaxFrameLength; ++i) EXPECT_EQ(buttons.bytes[i], 0) << i;
}

}  // namespace
}  // namespace brevak
