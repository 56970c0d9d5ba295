#pragma once
// The UI library's string: UTF-16 like the records, built from UTF-8 literals for convenience,
// with printf-style formatting and comparison without regard to case.

#include <string>
#include <string_view>

#include "platform/format.h"
#include "platform/text.h"

class QString;

namespace brevak {

class CDuiString {
 public:
  CDuiString() = default;
  CDuiString(const char* utf8) : s_(utf8 ? Utf8ToUtf16(utf8) : std::u16string()) {}
  CDuiString(std::string_view utf8) : s_(Utf8ToUtf16(utf8)) {}
  CDuiString(const std::string& utf8) : s_(Utf8ToUtf16(utf8)) {}
  CDuiString(const char16_t* text) : s_(text ? text : u"") {}
  CDuiString(std::u16string_view text) : s_(text) {}
  CDuiString(std::u16string text) : s_(std::move(text)) {}
  CDuiString(const QString& text);

  template <class... A>
  int Format(std::u16string_view format, const A&... args) {
    s_ = brevak::Format(format, args...);
    return int(s_.size());
  }

  const char16_t* GetData() const { return s_.c_str(); }
  int GetLength() const { return int(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  char16_t GetAt(int i) const { return i >= 0 && size_t(i) < s_.size() ? s_[size_t(i)] : 0; }
  CDuiString Left(int n) const { return CDuiString(s_.substr(0, n < 0 ? 0 : size_t(n))); }
  // 0 when equal (with regard to case), like the C library's comparisons.
  int Compare(std::u16string_view other) const { return s_.compare(other); }
  int CompareNoCase(std::u16string_view other) const { return brevak::CompareNoCase(s_, other); }

  const std::u16string& str() const { return s_; }
  std::string utf8() const { return Utf16ToUtf8(s_); }
  QString q() const;
  operator std::u16string_view() const { return s_; }

  CDuiString& operator+=(std::u16string_view more) {
    s_ += more;
    return *this;
  }
  friend CDuiString operator+(CDuiString a, std::u16string_view b) { return a += b; }
  friend bool operator==(const CDuiString& a, const CDuiString& b) { return a.s_ == b.s_; }

 private:
  std::u16string s_;
};

// Diagnostic output (the platform's debug output).
void DUI__Trace(std::u16string_view text);

}  // namespace brevak
