// Case-insensitive comparison and the process-wide language table.

#include <algorithm>
#include <iterator>
#include <mutex>

#include "platform/text.h"

namespace brevak {
namespace {

struct FoldRun {
  char16_t first;
  char16_t last;
  int delta;
  int stride;
};

constexpr FoldRun kFoldRuns[] = {
#include "platform/casefold_table.inc"
};

struct LanguageSlot {
  std::mutex mu;
  std::shared_ptr<const LanguageTable> table;
};

LanguageSlot& Language() {
  static LanguageSlot* slot = new LanguageSlot;
  return *slot;
}

}  // namespace

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  // The last run starting at or before c.
  auto it = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), c,
                             [](char16_t v, const FoldRun& r) { return v < r.first; });
  if (it == std::begin(kFoldRuns)) return c;
  const FoldRun& r = *std::prev(it);
  if (c > r.last || (c - r.first) % r.stride != 0) return c;
  return char16_t(c + r.delta);
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = FoldCase(a[i]);
    char16_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return EqualsNoCase(std::u16string_view(Utf8ToUtf16(a)), std::u16string_view(Utf8ToUtf16(b)));
}

void SetLanguageTable(std::shared_ptr<const LanguageTable> table) {
  std::lock_guard<std::mutex> lock(Language().mu);
  Language().table = std::move(table);
}

std::shared_ptr<const LanguageTable> GetLanguageTable() {
  std::lock_guard<std::mutex> lock(Language().mu);
  return Language().table;
}

std::u16string LanguageText(std::u16string_view key) {
  std::shared_ptr<const LanguageTable> table = GetLanguageTable();
  if (table) {
    if (std::optional<std::u16string> text = table->Find(key)) return *text;
  }
  return std::u16string(key);
}

}  // namespace brevak
