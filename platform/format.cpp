#include "platform/format.h"

#include <cstdio>
#include <string>

namespace brevak {
namespace {

constexpr int kMaxWidth = 1000;
constexpr int kMaxPrecision = 100;

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

// Reads digits; -1 when there are none, kMax + 1 when the number is too large to honour.
int ReadNumber(std::u16string_view f, size_t& i, int max) {
  if (i >= f.size() || f[i] < u'0' || f[i] > u'9') return -1;
  int n = 0;
  while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') {
    if (n <= max) n = n * 10 + (f[i] - u'0');
    ++i;
  }
  return n > max ? max + 1 : n;
}

// snprintf with a format string we built ourselves from checked parts.
template <class T>
std::u16string Printf(const Spec& s, const char* length, char conversion, T value) {
  std::string flags = s.flags;
  if (conversion == 'd' || conversion == 'u') std::erase(flags, '#');  // undefined there in C
  std::string pattern = "%" + flags;
  if (s.width >= 0) pattern += std::to_string(s.width);
  if (s.precision >= 0) pattern += "." + std::to_string(s.precision);
  pattern += length;
  pattern += conversion;
  int n = std::snprintf(nullptr, 0, pattern.c_str(), value);
  if (n < 0) return {};
  std::string out(size_t(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), pattern.c_str(), value);
  out.resize(size_t(n));
  return std::u16string(out.begin(), out.end());  // digits, signs and letters only: ASCII
}

std::u16string Pad(std::u16string text, const Spec& s) {
  if (s.width > 0 && text.size() < size_t(s.width)) {
    std::u16string fill(size_t(s.width) - text.size(), u' ');
    text = s.flags.find('-') != std::string::npos ? text + fill : fill + text;
  }
  return text;
}

// The text for one argument, or false when the specifier does not fit it.
bool Convert(const Spec& s, const FormatArg& a, std::u16string& out) {
  using K = FormatArg::Kind;
  switch (s.conversion) {
    case 'd':
    case 'i':
      if (a.kind() == K::kSigned) {
        out = Printf(s, "ll", 'd', static_cast<long long>(a.as_signed()));
      } else if (a.kind() == K::kUnsigned) {
        out = Printf(s, "ll", 'u', static_cast<unsigned long long>(a.as_unsigned()));
      } else {
        return false;
      }
      return true;
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
      unsigned long long v;
      if (a.kind() == K::kUnsigned) {
        v = a.as_unsigned();
      } else if (a.kind() == K::kSigned) {
        int64_t sv = a.as_signed();
        // Negative values show their 32-bit pattern when they fit in 32 bits, as C would
        // for an int.
        v = (sv < 0 && sv >= INT32_MIN) ? uint32_t(int32_t(sv)) : uint64_t(sv);
      } else {
        return false;
      }
      out = Printf(s, "ll", s.conversion, v);
      return true;
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
      if (a.kind() != K::kDouble) return false;
      out = Printf(s, "", s.conversion, a.as_double());
      return true;
    case 'c':
      if (a.kind() == K::kChar || a.kind() == K::kUnsigned) {
        out = Pad(std::u16string(1, char16_t(a.as_unsigned())), s);
      } else if (a.kind() == K::kSigned) {
        out = Pad(std::u16string(1, char16_t(a.as_signed())), s);
      } else {
        return false;
      }
      return true;
    case 's': {
      if (a.kind() != K::kText) return false;
      std::u16string_view t = a.text();
      if (s.precision >= 0 && t.size() > size_t(s.precision)) t = t.substr(0, size_t(s.precision));
      out = Pad(std::u16string(t), s);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

std::u16string FormatArgs(std::u16string_view f, std::span<const FormatArg> args) {
  std::u16string out;
  size_t next_arg = 0;
  size_t i = 0;
  while (i < f.size()) {
    if (f[i] != u'%') {
      out += f[i++];
      continue;
    }
    size_t start = i++;
    if (i < f.size() && f[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    Spec s;
    while (i < f.size() && std::u16string_view(u"-+ 0#").find(f[i]) != std::u16string_view::npos) {
      if (s.flags.find(char(f[i])) == std::string::npos) s.flags += char(f[i]);
      ++i;
    }
    s.width = ReadNumber(f, i, kMaxWidth);
    bool ok = s.width <= kMaxWidth;
    if (i < f.size() && f[i] == u'.') {
      ++i;
      s.precision = ReadNumber(f, i, kMaxPrecision);
      if (s.precision < 0) s.precision = 0;  // "%.f" means precision 0, as in C
      ok = ok && s.precision <= kMaxPrecision;
    }
    while (i < f.size() && std::u16string_view(u"hlLqjzt").find(f[i]) != std::u16string_view::npos) {
      ++i;
    }
    if (i < f.size() && f[i] < 0x80) s.conversion = char(f[i]);
    if (i < f.size()) ++i;
    std::u16string text;
    if (ok && s.conversion && next_arg < args.size() && Convert(s, args[next_arg], text)) {
      out += text;
    } else {
      out += f.substr(start, i - start);
    }
    // A specifier takes its argument even when written literally, so the rest stay in place.
    if (s.conversion && next_arg < args.size()) ++next_arg;
  }
  return out;
}

}  // namespace brevak
