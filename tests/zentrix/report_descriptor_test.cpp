#include "zentrix/report_descriptor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "zentrix/hid_interfaces.h"
#include "recorded.h"

namespace zentrix {
namespace {

struct Caps {
  Usage usage;
  std::vector<uint8_t> input_ids, output_ids, feature_ids;
  uint16_t input, output, feature;
};

void ExpectCaps(const ReportDescriptor& parsed, const std::vector<Caps>& want) {
  ASSERT_EQ(parsed.collections.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("collection " + std::to_string(i));
    const HidCollection& c = parsed.collections[i];
    EXPECT_EQ(c.usage_page, want[i].usage.page);
    EXPECT_EQ(c.usage, want[i].usage.usage);
    EXPECT_EQ(c.input_report_ids, want[i].input_ids);
    EXPECT_EQ(c.output_report_ids, want[i].output_ids);
    EXPECT_EQ(c.feature_report_ids, want[i].feature_ids);
    EXPECT_EQ(c.input_report_length, want[i].input);
    EXPECT_EQ(c.output_report_length, want[i].output);
    EXPECT_EQ(c.feature_report_length, want[i].feature);
  }
}

TEST(ReportDescriptor, RecordedDevicesGiveTheirCollections) {
  struct Case {
    const char* file;
    bool numbered;
    std::vector<Caps> caps;
  };
  const Case cases[] = {
      {"boot_mouse.hex", false, {{{0x01, 0x02}, {0}, {}, {}, 5, 0, 0}}},
      {"keyboard_consumer.hex",
       true,
       {{{0x01, 0x06}, {1}, {1}, {}, 9, 2, 0},
        {{0x0C, 0x01}, {2}, {}, {}, 3, 0, 0},
        {{0x01, 0x80}, {3}, {}, {}, 2, 0, 0}}},
      {"vendor_defined.hex", false, {{{0xFFA0, 0x01}, {0}, {0}, {0}, 65, 65, 9}}},
      {"receiver_4k.hex",
       true,
       {{k4kOsd, {kStatusReportIdAlt, kStatusReportId}, {}, {}, kStatusInputLength, 0, 0},
        {k4kFeature, {}, {}, {5}, 0, 0, kFeatureReportLength},
        {k4kReport, {6}, {6}, {}, kEnvelopeReportLength, kEnvelopeReportLength, 0}}},
      {"receiver_8k.hex",
       true,
       {{k8kOsd, {1}, {}, {}, kEnvelopeReportLength, 0, 0},
        {k8kFeature, {}, {}, {2}, 0, 0, kFeatureReportLength},
        {k8kReport, {3}, {3}, {}, kEnvelopeReportLength, kEnvelopeReportLength, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string error;
    std::optional<ReportDescriptor> parsed = ParseReportDescriptor(Recorded(c.file), &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->numbered, c.numbered);
    ExpectCaps(*parsed, c.caps);
  }
}

TEST(ReportDescriptor, LengthsFollowTheLargestReportOfEachTopLevelCollection) {
  const std::vector<uint8_t> bytes = {
      0x75, 0x08, 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
      0x85, 0x07, 0x95, 0x03, 0x81, 0x02,  // id 7: 3 bytes
      0x09, 0x02, 0xA1, 0x00,              // nested physical collection
      0x85, 0x09, 0x95, 0x0A, 0x81, 0x02,  // id 9: 10 bytes, counted for the top level
      0x75, 0x01, 0x95, 0x03, 0x81, 0x02,  // and 3 more bits: 11 bytes
      0xC0, 0xC0,
      0x95, 0x08, 0x81, 0x02,  // outside every collection: no interface's
  };
  // hidapi 0.13 would list the nested collection as 0xFF00/2; it is not an interface.
  std::optional<ReportDescriptor> parsed = ParseReportDescriptor(bytes);
  ASSERT_TRUE(parsed);
  ExpectCaps(*parsed, {{{0xFF00, 0x01}, {7, 9}, {}, {}, 12, 0, 0}});
}

TEST(ReportDescriptor, CollectionUsageIsTheFirstNamedBeforeIt) {
  const std::vector<uint8_t> bytes = {
      0x05, 0x01, 0x09, 0x02, 0x09, 0x03, 0xA1, 0x01, 0xC0,  // first of two usages
      0x05, 0x0C, 0x19, 0x05, 0x29, 0x07, 0xA1, 0x01, 0xC0,  // Usage Minimum when no Usage
      0x0B, 0x34, 0x12, 0xCD, 0xAB, 0xA1, 0x01, 0xC0,        // 32-bit form over page 0x0C
      0xA1, 0x01, 0xC0,                                      // locals end at each main item
  };
  std::optional<ReportDescriptor> parsed = ParseReportDescriptor(bytes);
  ASSERT_TRUE(parsed);
  ExpectCaps(*parsed, {{{0x01, 0x02}, {}, {}, {}, 0, 0, 0},
                       {{0x0C, 0x05}, {}, {}, {}, 0, 0, 0},
                       {{0xABCD, 0x1234}, {}, {}, {}, 0, 0, 0},
                       {{0x0C, 0x00}, {}, {}, {}, 0, 0, 0}});
}

TEST(ReportDescriptor, MalformedDescriptorsFailWithAReason) {
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"short item cut off", {0xA1, 0x01, 0x06, 0x00}},
      {"four-byte item cut off", {0x0B, 0x01, 0x02}},
      {"long item header cut off", {0xFE, 0x04}},
      {"long item data cut off", {0xFE, 0x04, 0x10, 0x01, 0x02}},
      {"End Collection first", {0xC0}},
      {"collection left open", {0x09, 0x01, 0xA1, 0x01, 0xA1, 0x00, 0xC0}},
      {"Pop without Push", {0xB4}},
      {"report id 0", {0x85, 0x00}},
      {"report id above 255", {0x86, 0x00, 0x01}},
      {"usage page above 16 bits", {0x07, 0x00, 0x00, 0x01, 0x00}},
      {"size times count overflows",
       {0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0}},
      {"fields add up past 64 KiB",
       {0xA1, 0x01, 0x75, 0x08, 0x96, 0x00, 0x80, 0x81, 0x02, 0x81, 0x02, 0xC0}},
      {"reports with and without ids",
       {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02, 0xC0}},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseReportDescriptor(c.bytes, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  std::vector<uint8_t> deep(65, 0xA4);  // 65 Push items
  EXPECT_FALSE(ParseReportDescriptor(deep));
}

TEST(ReportDescriptor, ACutDescriptorNeverYieldsWrongCollections) {
  const std::vector<uint8_t> full = Recorded("receiver_8k.hex");
  const std::optional<ReportDescriptor> whole = ParseReportDescriptor(full);
  ASSERT_TRUE(whole);
  int complete = 0;
  for (size_t n = 0; n < full.size(); ++n) {
    std::optional<ReportDescriptor> cut = ParseReportDescriptor(std::span(full.data(), n));
    if (!cut) continue;
    ++complete;
    ASSERT_LT(cut->collections.size(), whole->collections.size()) << n;
    for (size_t i = 0; i < cut->collections.size(); ++i) {
      EXPECT_EQ(cut->collections[i].input_report_length, whole->collections[i].input_report_length);
      EXPECT_EQ(cut->collections[i].feature_report_length,
                whole->collections[i].feature_report_length);
    }
  }
  // Only cuts at the eleven item boundaries outside every collection parse.
  EXPECT_EQ(complete, 11);
}

}  // namespace
}  // namespace zentrix
