#pragma once
// Case-insensitive name lookup and unique naming over the profile list and the macro list:
// both hold records whose `name` is a fixed UTF-16 array at their start.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace brevak {

// The position of the first record named `name` (case ignored), or -1.
template <typename Record>
int IndexOfNameNoCase(const std::vector<std::unique_ptr<Record>>& list, std::u16string_view name) {
  for (size_t i = 0; i < list.size(); ++i)
    if (EqualsNoCase(FixedView(list[i]->name), name)) return int(i);
  return -1;
}

template <typename Record>
bool FindNameNoCase(const std::vector<std::unique_ptr<Record>>& list, std::u16string_view name) {
  return IndexOfNameNoCase(list, name) >= 0;
}

// `base` when no record has that name; otherwise the first free base + "_1", "_2", ...
// Every result fits `max_chars`: the base is shortened before the suffix when needed, so
// the name stays unique after it is stored in the record's field.
std::u16string MakeUniqueName(const std::vector<std::u16string>& names, std::u16string_view base,
                              size_t max_chars);

template <typename Record>
std::u16string MakeUniqueName(const std::vector<std::unique_ptr<Record>>& list, std::u16string_view base) {
  std::vector<std::u16string> names;
  names.reserve(list.size());
  for (const auto& r : list) names.emplace_back(FixedView(r->name));
  constexpr size_t kMaxChars = sizeof(Record::name) / sizeof(char16_t) - 1;
  return MakeUniqueName(names, base, kMaxChars);
}

}  // namespace brevak
