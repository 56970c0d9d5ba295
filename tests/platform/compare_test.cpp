// Case-insensitive comparison and the language table.

#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <map>
#include <thread>

#include "platform/text.h"

namespace brevak {
namespace {

TEST(CompareNoCase, NamesThatDifferOnlyInCaseAreEqual) {
  EXPECT_TRUE(EqualsNoCase(u"Game", u"GAME"));
  EXPECT_TRUE(EqualsNoCase(u"game", u"GAME"));
  EXPECT_FALSE(EqualsNoCase(u"Game", u"game_1"));
  EXPECT_FALSE(EqualsNoCase(u"Game", u"Gam"));
  EXPECT_TRUE(EqualsNoCase(u"", u""));
  EXPECT_TRUE(EqualsNoCase(u"configuration", u"Configuration"));
  EXPECT_TRUE(EqualsNoCase(u"EXIT", u"exit"));
  EXPECT_TRUE(EqualsNoCase("0000FEE3-0000-1000-8000-00805F9B34FB", "0000fee3-0000-1000-8000-00805f9b34fb"));
  EXPECT_FALSE(EqualsNoCase("0000fee3", "0000fee4"));
  EXPECT_TRUE(EqualsNoCase("\xC3\x84rger", "\xC3\xA4rger")) << "UTF-8 beyond ASCII";
  // '_' (0x5F) lies between the upper- and lower-case ASCII letters: folding both sides, not
  // just one, keeps the order independent of case.
  EXPECT_EQ(CompareNoCase(u"GAME_1", u"game1") > 0, CompareNoCase(u"game_1", u"GAME1") > 0);
}

TEST(CompareNoCase, OrderIsConsistent) {
  const char16_t* names[] = {u"game", u"GAME_1", u"Game_2", u"ärger", u"Zebra", u"", u"a"};
  for (const char16_t* a : names) {
    for (const char16_t* b : names) {
      EXPECT_EQ(CompareNoCase(a, b), -CompareNoCase(b, a)) << Utf16ToUtf8(a) << Utf16ToUtf8(b);
    }
  }
  EXPECT_LT(CompareNoCase(u"GAME", u"game_1"), 0);  // a prefix sorts first
  EXPECT_LT(CompareNoCase(u"apple", u"BANANA"), 0);
}

TEST(CompareNoCase, FoldsNonAsciiLetters) {
  EXPECT_TRUE(EqualsNoCase(u"Ärger", u"ärger"));
  EXPECT_TRUE(EqualsNoCase(u"ÄRGER", u"ärger"));
  EXPECT_TRUE(EqualsNoCase(u"Łódź", u"ŁÓDŹ"));                  // Latin Extended-A
  EXPECT_TRUE(EqualsNoCase(u"Профиль", u"ПРОФИЛЬ"));            // Cyrillic
  EXPECT_TRUE(EqualsNoCase(u"Їжак", u"їЖАК"));                  // Cyrillic beyond Russian
  EXPECT_TRUE(EqualsNoCase(u"Σίσυφος", u"ΣΊΣΥΦΟΣ"));            // Greek, final sigma too
  EXPECT_TRUE(EqualsNoCase(u"Հայաստան", u"ՀԱՅԱՍՏԱՆ"));         // Armenian
  EXPECT_TRUE(EqualsNoCase(u"Straße", u"STRAẞE"));              // capital sharp s
  EXPECT_TRUE(EqualsNoCase(u"ǅemal", u"ǆEMAL"));                // title-case digraph
  EXPECT_TRUE(EqualsNoCase(u"Ｍａｃｒｏ", u"ｍＡＣＲＯ"));      // full-width forms
  EXPECT_FALSE(EqualsNoCase(u"Ärger", u"Arger"));               // different letters stay apart
  EXPECT_FALSE(EqualsNoCase(u"Профиль", u"Профилъ"));
  EXPECT_FALSE(EqualsNoCase(u"1", u"!"));
  // Outside the Basic Multilingual Plane texts compare unit by unit.
  EXPECT_TRUE(EqualsNoCase(u"x\U0001F600", u"X\U0001F600"));
  EXPECT_FALSE(EqualsNoCase(u"\U00010400", u"\U00010428"));
}

TEST(CompareNoCase, AgreesWithTheSystemCaseMappingsOverTheWholeBmp) {
  // An independent table: glibc's C.UTF-8 upper/lower mappings. Every character must compare
  // equal to its upper and lower case, except the Turkish dotted and dotless i, which simple
  // case folding leaves alone.
  locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  if (!loc) GTEST_SKIP() << "no C.UTF-8 locale";
  int checked = 0;
  for (char32_t c = 0; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    for (wint_t other : {towlower_l(wint_t(c), loc), towupper_l(wint_t(c), loc)}) {
      if (other == wint_t(c) || other > 0xFFFF || c == 0x130 || c == 0x131) continue;
      ++checked;
      EXPECT_EQ(FoldCase(char16_t(c)), FoldCase(char16_t(other)))
          << std::hex << "U+" << unsigned(c) << " / U+" << unsigned(other);
    }
  }
  freelocale(loc);
  EXPECT_GT(checked, 2000);
  // Folding is stable: a folded character folds to itself.
  for (char32_t c = 0; c < 0x10000; ++c) {
    ASSERT_EQ(FoldCase(FoldCase(char16_t(c))), FoldCase(char16_t(c))) << std::hex << unsigned(c);
  }
}

class MapTable : public LanguageTable {
 public:
  explicit MapTable(std::map<std::u16string, std::u16string> m) : m_(std::move(m)) {}
  std::optional<std::u16string> Find(std::u16string_view key) const override {
    auto it = m_.find(std::u16string(key));
    if (it == m_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::u16string, std::u16string> m_;
};

TEST(Language, MissingKeyOrTableGivesTheKey) {
  SetLanguageTable(nullptr);
  EXPECT_EQ(LanguageText(u"mouse_name_text"), u"mouse_name_text");
  SetLanguageTable(std::make_shared<MapTable>(std::map<std::u16string, std::u16string>{
      {u"mouse_name_text", u"BREVAK APEX"}, {u"empty_text", u""}}));
  EXPECT_EQ(LanguageText(u"mouse_name_text"), u"BREVAK APEX");
  EXPECT_EQ(LanguageText(u"empty_text"), u"");  // present but empty is not missing
  EXPECT_EQ(LanguageText(u"no_such_text"), u"no_such_text");
  SetLanguageTable(nullptr);
  EXPECT_EQ(GetLanguageTable(), nullptr);
}

TEST(Language, TableCanBeReplacedWhileOtherThreadsRead) {
  auto a = std::make_shared<MapTable>(std::map<std::u16string, std::u16string>{{u"k", u"A"}});
  auto b = std::make_shared<MapTable>(std::map<std::u16string, std::u16string>{{u"k", u"B"}});
  SetLanguageTable(a);
  std::thread reader([] {
    for (int i = 0; i < 2000; ++i) {
      std::u16string t = LanguageText(u"k");
      ASSERT_TRUE(t == u"A" || t == u"B" || t == u"k");
    }
  });
  for (int i = 0; i < 2000; ++i) SetLanguageTable(i % 3 == 0 ? nullptr : i % 2 ? a : b);
  reader.join();
  SetLanguageTable(nullptr);
}

}  // namespace
}  // namespace brevak
