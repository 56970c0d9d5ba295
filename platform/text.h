#pragma once
// UTF-16 text over the fixed, zero-terminated arrays that records carry.

#include <cstddef>
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

}  // namespace brevak
