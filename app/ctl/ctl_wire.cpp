#include "app/ctl/ctl_wire.h"

#include <charconv>

namespace brevak::ctl {

namespace {

constexpr size_t kMaxDigits = 8;

// A decimal number of 1..8 digits at the start of `s`, ended by `end`; the bytes it took
// (ending included), or 0 (and `incomplete` when `s` ended first).
size_t ReadNumber(std::string_view s, char end, size_t& value, bool& incomplete) {
  size_t i = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (++i > kMaxDigits) return 0;
  }
  if (i == s.size()) {
    incomplete = true;
    return 0;
  }
  // One way to write each number: no leading zeros.
  if (i == 0 || s[i] != end || (i > 1 && s[0] == '0')) return 0;
  value = 0;
  std::from_chars(s.data(), s.data() + i, value);
  return i + 1;
}

bool IsTag(char c) {
  return c == char(Tag::kProgress) || c == char(Tag::kOut) || c == char(Tag::kErr) || c == char(Tag::kExit);
}

}  // namespace

std::string EncodeRequest(const std::vector<std::string>& args) {
  std::string body;
  for (const std::string& a : args) {
    body += a;
    body += '\0';
  }
  return std::string(kMagic) + ' ' + std::to_string(kWireVersion) + ' ' + std::to_string(body.size()) + '\n' + body;
}

ParsedRequest ParseRequest(std::string_view bytes) {
  ParsedRequest r;
  // The magic is checked as far as it came, so garbage is refused at its first byte.
  const size_t head = std::min(bytes.size(), kMagic.size() + 1);
  if ((std::string(kMagic) + ' ').compare(0, head, bytes.substr(0, head)) != 0) {
    r.state = Parse::kMalformed;
    return r;
  }
  if (bytes.size() <= kMagic.size() + 1) return r;
  size_t pos = kMagic.size() + 1;
  size_t version = 0, length = 0;
  bool incomplete = false;
  const size_t v = ReadNumber(bytes.substr(pos), ' ', version, incomplete);
  if (!v) {
    r.state = incomplete ? Parse::kIncomplete : Parse::kMalformed;
    return r;
  }
  pos += v;
  const size_t n = ReadNumber(bytes.substr(pos), '\n', length, incomplete);
  if (!n) {
    r.state = incomplete ? Parse::kIncomplete : Parse::kMalformed;
    return r;
  }
  pos += n;
  if (version != size_t(kWireVersion)) {
    r.state = Parse::kOtherVersion;
    return r;
  }
  if (length > kMaxRequestBytes) {
    r.state = Parse::kTooLarge;
    return r;
  }
  if (bytes.size() - pos < length) return r;
  std::string_view body = bytes.substr(pos, length);
  if (!body.empty() && body.back() != '\0') {
    r.state = Parse::kMalformed;
    return r;
  }
  while (!body.empty()) {
    const size_t end = body.find('\0');
    if (r.args.size() == kMaxArguments) {
      r.state = Parse::kTooLarge;
      r.args.clear();
      return r;
    }
    r.args.emplace_back(body.substr(0, end));
    body.remove_prefix(end + 1);
  }
  if (r.args.empty()) {
    r.state = Parse::kMalformed;
    return r;
  }
  r.state = Parse::kComplete;
  r.consumed = pos + length;
  return r;
}

std::string EncodeRecord(Tag tag, std::string_view payload) {
  return std::string(1, char(tag)) + ' ' + std::to_string(payload.size()) + '\n' + std::string(payload);
}

ParsedRecord ParseRecord(std::string_view bytes) {
  ParsedRecord r;
  if (bytes.empty()) return r;
  if (!IsTag(bytes[0])) {
    r.state = Parse::kMalformed;
    return r;
  }
  if (bytes.size() < 2) return r;
  if (bytes[1] != ' ') {
    r.state = Parse::kMalformed;
    return r;
  }
  size_t length = 0;
  bool incomplete = false;
  const size_t n = ReadNumber(bytes.substr(2), '\n', length, incomplete);
  if (!n) {
    r.state = incomplete ? Parse::kIncomplete : Parse::kMalformed;
    return r;
  }
  if (length > kMaxRecordBytes) {
    r.state = Parse::kTooLarge;
    return r;
  }
  const size_t pos = 2 + n;
  if (bytes.size() - pos < length) return r;
  r.tag = Tag(bytes[0]);
  r.payload = std::string(bytes.substr(pos, length));
  r.consumed = pos + length;
  r.state = Parse::kComplete;
  return r;
}

}  // namespace brevak::ctl
