#pragma once
// UTF-16 text over the fixed, zero-terminated arrays that records carry.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brevak {

// Number of units before the first zero, never looking past `capacity` units.
size_t Utf16Length(const char16_t* text, size_t capacity);

// Copies `text` into `dst` (capacity units), cutting it so that a terminator always fits
// and a surrogate pair is never split; the rest of the array is zero-filled so that two
// records holding the same text are byte-identical. Returns false when the text was cut.
bool Utf16CopyIn(char16_t* dst, size_t capacity, std::u16string_view text);

template <size_t N>
std::u16string_view FixedView(const char16_t (&arr)[N]) {
  return std::u16string_view(arr, Utf16Length(arr, N));
}

template <size_t N>
std::u16string FixedToString(const char16_t (&arr)[N]) {
  return std::u16string(FixedView(arr));
}

template <size_t N>
bool SetFixed(char16_t (&arr)[N], std::u16string_view text) {
  return Utf16CopyIn(arr, N, text);
}

// Conversions for logs, paths and tests. Invalid sequences become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Case folding of one UTF-16 unit by Unicode's simple case folding (the whole Basic
// Multilingual Plane: Latin, Greek, Cyrillic, Armenian, ...). Characters outside it (surrogate
// pairs) are left as they are.
char16_t FoldCase(char16_t c);
std::u16string FoldCase(std::u16string_view text);

// Compares folded units: < 0, 0 or > 0. Names of profiles and macros, and menu item names, are
// compared with it, so "Game", "GAME" and "game" are one name, and so are "Ärger" and "ÄRGER".
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// The same for UTF-8 text (names and identifiers that come from D-Bus, file systems, ...).
bool EqualsNoCase(std::string_view a, std::string_view b);

// Language texts: the UI library loads them and installs its table here; everything else asks
// through LanguageText, so parts that run before or without the UI still get a text.
class LanguageTable {
 public:
  virtual ~LanguageTable() = default;
  // The text of `key`, or nothing when the table has no such key.
  virtual std::optional<std::u16string> Find(std::u16string_view key) const = 0;
};

// Installs the process-wide table (null removes it). Safe from any thread.
void SetLanguageTable(std::shared_ptr<const LanguageTable> table);
std::shared_ptr<const LanguageTable> GetLanguageTable();
// The text of `key`; the key itself when no table is installed or the key is missing.
std::u16string LanguageText(std::u16string_view key);

}  // namespace brevak
