// printf-style formatting over UTF-16.

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/format.h"

namespace brevak {
namespace {

TEST(Format, TheProgramsFormatStrings) {
  // Sleep timer label: language text, value, language text.
  EXPECT_EQ(Format(u"%s%d %s", u"Sleep after ", 10, std::u16string(u"min")), u"Sleep after 10 min");
  EXPECT_EQ(Format(u"%s_%d", u"Game", 2), u"Game_2");
  EXPECT_EQ(Format(u"%d MS", 4), u"4 MS");
  EXPECT_EQ(Format(u"%.1f", 0.75), u"0.8");
  EXPECT_EQ(Format(u"%.1f", 2.0), u"2.0");
  EXPECT_EQ(Format(u"%.1f", -1.25f), u"-1.2");
  EXPECT_EQ(Format(u"%d%%", 80), u"80%");
  EXPECT_EQ(Format(u"DPI :%d", 16 * 50), u"DPI :800");
  EXPECT_EQ(Format(u"GetError:%d\n", uint32_t(126)), u"GetError:126\n");
  EXPECT_EQ(Format(u"wCheckSum = %x, buffer[%d] = %d", 0x1A2B, 3, uint8_t(255)),
            u"wCheckSum = 1a2b, buffer[3] = 255");
  EXPECT_EQ(Format(u"%s", u"Профиль \U0001F600"), u"Профиль \U0001F600");
}

TEST(Format, NumbersKeepTheirValue) {
  EXPECT_EQ(Format(u"%d", INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(Format(u"%d", UINT64_MAX), u"18446744073709551615");
  EXPECT_EQ(Format(u"%u", 4000000000u), u"4000000000");
  EXPECT_EQ(Format(u"%x", -1), u"ffffffff");  // an int's bit pattern, as C prints it
  EXPECT_EQ(Format(u"%X", uint16_t(0xFA65)), u"FA65");
  EXPECT_EQ(Format(u"%02d:%-3d|%5s|%-5s|", 7, 4, u"ab", u"cd"), u"07:4  |   ab|cd   |");
  EXPECT_EQ(Format(u"%.2s", u"abcdef"), u"ab");
  EXPECT_EQ(Format(u"%c%c", u'Ж', 65), u"ЖA");
  EXPECT_EQ(Format(u"%ld %lu %hd %zu", 1L, 2UL, short(3), size_t(4)), u"1 2 3 4");
  EXPECT_EQ(Format(u"%d", true), u"1");
}

TEST(Format, MismatchedOrUnknownSpecifiersAreWrittenLiterally) {
  EXPECT_EQ(Format(u"%d", u"text"), u"%d");
  EXPECT_EQ(Format(u"%s", 5), u"%s");
  EXPECT_EQ(Format(u"%d", 1.5), u"%d");
  EXPECT_EQ(Format(u"%.1f", 3), u"%.1f");
  EXPECT_EQ(Format(u"%d and %d", 1), u"1 and %d");     // missing argument
  EXPECT_EQ(Format(u"%y %d", 1, 2), u"%y 2");           // unknown one still takes its argument
  EXPECT_EQ(Format(u"100%"), u"100%");                  // lone percent at the end
  EXPECT_EQ(Format(u"%n %p", 1, 2), u"%n %p");          // never writes through an argument
  EXPECT_EQ(Format(u"%99999999999d", 1), u"%99999999999d");  // absurd width
  EXPECT_EQ(Format(u"%.500f", 1.0), u"%.500f");
  EXPECT_EQ(Format(u"plain"), u"plain");
  EXPECT_EQ(Format(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
  EXPECT_EQ(Format(u"%\u00e9", 1), u"%\u00e9");
}

TEST(Format, FixedArraysAreReadAndWrittenWithinTheirSize) {
  struct {
    char16_t name[4] = {u'a', u'b', u'c', u'd'};  // no terminator
    char16_t after[2] = {u'X', 0};
  } rec;
  EXPECT_EQ(Format(u"%s_%d", rec.name, 1), u"abcd_1");

  char16_t out[8];
  EXPECT_TRUE(FormatFixed(out, u"%s_%d", u"Game", 12));
  EXPECT_EQ(FixedToString(out), u"Game_12");
  EXPECT_FALSE(FormatFixed(out, u"%s_%d", u"Profile", 12));  // cut and terminated
  EXPECT_EQ(FixedToString(out), u"Profile");
  EXPECT_EQ(out[7], 0);
}

}  // namespace
}  // namespace brevak
