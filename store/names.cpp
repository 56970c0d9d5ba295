#include "store/names.h"

#include <string>

namespace brevak {

namespace {
// Cut to at most `n` units without splitting a surrogate pair.
std::u16string_view CutTo(std::u16string_view s, size_t n) {
  if (s.size() <= n) return s;
  if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
  return s.substr(0, n);
}

bool Taken(const std::vector<std::u16string>& names, std::u16string_view candidate) {
  for (const auto& n : names)
    if (EqualsNoCase(n, candidate)) return true;
  return false;
}
}  // namespace

std::u16string MakeUniqueName(const std::vector<std::u16string>& names, std::u16string_view base,
                              size_t max_chars) {
  base = base.substr(0, std::min(base.size(), Utf16Length(base.data(), base.size())));
  std::u16string plain(CutTo(base, max_chars));
  if (!Taken(names, plain)) return plain;
  // More candidates than names can never all be taken, so this ends.
  for (size_t k = 1;; ++k) {
    std::u16string suffix = u"_" + Utf8ToUtf16(std::to_string(k));
    if (suffix.size() >= max_chars) return plain;  // no room for any suffix at all
    std::u16string candidate(CutTo(base, max_chars - suffix.size()));
    candidate += suffix;
    if (!Taken(names, candidate)) return candidate;
  }
}

}  // namespace brevak
