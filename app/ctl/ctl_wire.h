#pragma once
// What brevak-ctl and the program say over the single-instance socket. A request is a header
// line "BREVAK-CTL <version> <length>\n" and then <length> bytes: the arguments, each ended by
// a NUL. The answer is a run of records "<tag> <length>\n" + bytes, the last one the exit code.
// A connection that sends nothing keeps its old meaning: the window comes forward.
// No Qt: the fuzz target and both ends parse with this alone.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brevak::ctl {

inline constexpr std::string_view kMagic = "BREVAK-CTL";
inline constexpr int kWireVersion = 1;
// Far more than any command line with two paths; a larger request is refused unread.
inline constexpr size_t kMaxRequestBytes = 64 * 1024;
inline constexpr size_t kMaxArguments = 16;
// The header line: magic, two numbers of at most 8 digits, spaces and the newline.
inline constexpr size_t kMaxHeaderBytes = kMagic.size() + 2 * (1 + 8) + 1;
// A record of the answer carries at most this much (a long profile list, say).
inline constexpr size_t kMaxRecordBytes = 1024 * 1024;

enum class Parse {
  kIncomplete,  // more bytes are needed
  kComplete,
  kMalformed,   // not a request of ours
  kTooLarge,
  kOtherVersion,  // ours, but a version this side does not speak
};

struct ParsedRequest {
  Parse state = Parse::kIncomplete;
  std::vector<std::string> args;
  size_t consumed = 0;  // bytes of the complete request
};

std::string EncodeRequest(const std::vector<std::string>& args);
ParsedRequest ParseRequest(std::string_view bytes);

enum class Tag : char {
  kProgress = 'p',  // a line of progress, for a terminal
  kOut = 'o',       // standard output
  kErr = 'e',       // standard error
  kExit = 'x',      // the exit code, in decimal; the last record
};

struct ParsedRecord {
  Parse state = Parse::kIncomplete;
  Tag tag = Tag::kOut;
  std::string payload;
  size_t consumed = 0;
};

std::string EncodeRecord(Tag tag, std::string_view payload);
ParsedRecord ParseRecord(std::string_view bytes);

}  // namespace brevak::ctl
