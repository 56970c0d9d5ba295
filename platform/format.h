#pragma once
// printf-style formatting of UTF-16 texts ("%s%d %s", "%s_%d", "%d MS", "%.1f", "%d%%").
//
// The arguments carry their types, so a specifier that does not fit its argument, an unknown
// specifier or a missing argument is written out literally instead of reading garbage.
// Supported: %d %i %u %x %X %o %c %s %f %F %e %E %g %G %%, with flags (- + space 0 #), width
// and precision (digits only; widths over 1000 or precisions over 100 are taken literally),
// length modifiers (h l ll z ...) are accepted and ignored.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/text.h"

namespace brevak {

class FormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kDouble, kText, kChar };

  template <std::integral T>
    requires(!std::same_as<T, char16_t> && !std::same_as<T, char32_t>)
  FormatArg(T v) {
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::kSigned;
      s_ = v;
    } else {
      kind_ = Kind::kUnsigned;
      u_ = v;
    }
  }
  template <std::floating_point T>
  FormatArg(T v) : kind_(Kind::kDouble), d_(double(v)) {}
  FormatArg(char16_t c) : kind_(Kind::kChar), u_(c) {}
  // A record's fixed array is read only up to its size, even when it holds no terminator.
  template <size_t N>
  FormatArg(const char16_t (&arr)[N]) : kind_(Kind::kText), text_(FixedView(arr)) {}
  template <size_t N>
  FormatArg(char16_t (&arr)[N]) : kind_(Kind::kText), text_(FixedView(arr)) {}
  template <class P>
    requires std::same_as<P, const char16_t*> || std::same_as<P, char16_t*>
  FormatArg(P p) : kind_(Kind::kText), text_(p ? std::u16string_view(p) : u"(null)") {}
  FormatArg(std::u16string_view s) : kind_(Kind::kText), text_(s) {}
  FormatArg(const std::u16string& s) : kind_(Kind::kText), text_(s) {}

  Kind kind() const { return kind_; }
  int64_t as_signed() const { return s_; }
  uint64_t as_unsigned() const { return u_; }
  double as_double() const { return d_; }
  std::u16string_view text() const { return text_; }

 private:
  Kind kind_;
  int64_t s_ = 0;
  uint64_t u_ = 0;
  double d_ = 0;
  std::u16string_view text_;
};

std::u16string FormatArgs(std::u16string_view format, std::span<const FormatArg> args);

template <class... A>
std::u16string Format(std::u16string_view format, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    return FormatArgs(format, {});
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return FormatArgs(format, list);
  }
}

// Formats into a fixed array, cut and terminated like SetFixed. False when it was cut.
template <size_t N, class... A>
bool FormatFixed(char16_t (&dst)[N], std::u16string_view format, const A&... args) {
  return SetFixed(dst, Format(format, args...));
}

}  // namespace brevak
