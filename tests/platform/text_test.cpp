#include "platform/text.h"

#include <gtest/gtest.h>

namespace brevak {
namespace {

TEST(FixedText, ShortTextIsCopiedAndTheRestZeroed) {
  char16_t arr[8];
  std::fill(std::begin(arr), std::end(arr), u'x');
  EXPECT_TRUE(SetFixed(arr, u"abc"));
  EXPECT_EQ(FixedToString(arr), u"abc");
  for (int i = 3; i < 8; ++i) EXPECT_EQ(arr[i], 0) << i;
}

TEST(FixedText, OverlongTextIsCutAndTerminated) {
  char16_t arr[4 + 1] = {};
  EXPECT_FALSE(SetFixed(arr, u"abcdefgh"));
  EXPECT_EQ(FixedToString(arr), u"abcd");
  EXPECT_EQ(arr[4], 0);

  char16_t exact[4];
  EXPECT_TRUE(SetFixed(exact, u"abc"));
  EXPECT_FALSE(SetFixed(exact, u"abcd"));
  EXPECT_EQ(FixedToString(exact), u"abc");
}

TEST(FixedText, CutNeverSplitsASurrogatePair) {
  char16_t arr[4];
  // "ab" then U+1F600 (two units): only "ab" fits with a terminator.
  EXPECT_FALSE(SetFixed(arr, u"ab\U0001F600"));
  EXPECT_EQ(FixedToString(arr), u"ab");
  EXPECT_EQ(arr[2], 0);
  // The pair fits when there is room for both units and the terminator.
  char16_t wide[5];
  EXPECT_TRUE(SetFixed(wide, u"ab\U0001F600"));
  EXPECT_EQ(FixedToString(wide), u"ab\U0001F600");
}

TEST(FixedText, UnterminatedArrayIsReadOnlyToItsEnd) {
  // A damaged record may hold no terminator at all.
  struct {
    char16_t arr[3] = {u'a', u'b', u'c'};
    char16_t after[2] = {u'z', 0};
  } rec;
  EXPECT_EQ(FixedToString(rec.arr), u"abc");
}

TEST(FixedText, Utf8RoundTripAndReplacement) {
  const std::u16string s = u"Pr\u00F6fil \u0416 \U0001F600";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
  EXPECT_EQ(Utf16ToUtf8(u"a\xD800" u"b"), "a\xEF\xBF\xBD" "b");        // lone surrogate
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");                          // cut sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                  // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");        // encoded surrogate
}

}  // namespace
}  // namespace brevak
