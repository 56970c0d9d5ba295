#include "zentrix/report_descriptor.h"

#include <array>
#include <cstdio>
#include <map>

namespace zentrix {
namespace {

enum ReportKind { kInput, kOutput, kFeature, kKinds };

// Item tags (HID 1.11, 6.2.2).
constexpr uint8_t kMainInput = 0x8, kMainOutput = 0x9, kMainCollection = 0xA,
                  kMainFeature = 0xB, kMainEndCollection = 0xC;
constexpr uint8_t kGlobalUsagePage = 0x0, kGlobalReportSize = 0x7, kGlobalReportId = 0x8,
                  kGlobalReportCount = 0x9, kGlobalPush = 0xA, kGlobalPop = 0xB;
constexpr uint8_t kLocalUsage = 0x0, kLocalUsageMinimum = 0x1;
constexpr uint8_t kLongItemPrefix = 0xFE;

// Report lengths are 16-bit in HIDP_CAPS and include the id byte.
constexpr uint64_t kMaxReportBits = uint64_t{0xFFFF - 1} * 8;
// Real descriptors push a handful of times; the bound keeps hostile input from growing memory.
constexpr size_t kMaxPushDepth = 64;

struct Globals {
  uint32_t usage_page = 0;
  uint32_t report_size = 0;
  uint32_t report_count = 0;
  uint32_t report_id = 0;
};

// The first usage named before a main item; that is the one a collection takes.
struct Locals {
  bool has_usage = false;
  uint32_t usage = 0;
  uint8_t usage_bytes = 0;  // 4: extended form, page in the high 16 bits
  bool has_usage_minimum = false;
  uint32_t usage_minimum = 0;
  uint8_t usage_minimum_bytes = 0;
};

struct OpenCollection {
  HidCollection caps;
  std::array<std::map<uint8_t, uint64_t>, kKinds> bits;  // report id -> bits, per kind
};

class Parser {
 public:
  explicit Parser(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::optional<ReportDescriptor> Run(std::string* error) {
    if (!ParseItems()) {
      if (error) *error = error_;
      return std::nullopt;
    }
    return std::move(result_);
  }

 private:
  bool Fail(const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "%s at offset %zu", what, item_offset_);
    error_ = text;
    return false;
  }

  bool ParseItems() {
    size_t pos = 0;
    const size_t n = bytes_.size();
    while (pos < n) {
      item_offset_ = pos;
      const uint8_t prefix = bytes_[pos];
      if (prefix == kLongItemPrefix) {
        // No long item tags are defined; skip over the data.
        if (n - pos < 3) return Fail("truncated long item");
        const size_t size = bytes_[pos + 1];
        if (n - pos - 3 < size) return Fail("truncated long item");
        pos += 3 + size;
        continue;
      }
      const size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
      if (n - pos - 1 < size) return Fail("truncated item");
      uint32_t value = 0;
      for (size_t i = 0; i < size; ++i) value |= uint32_t{bytes_[pos + 1 + i]} << (8 * i);
      pos += 1 + size;
      const uint8_t tag = prefix >> 4;
      bool ok = true;
      switch ((prefix >> 2) & 3) {
        case 0: ok = Main(tag, value); break;
        case 1: ok = Global(tag, value); break;
        case 2: Local(tag, value, uint8_t(size)); break;
        default: break;  // reserved item type: ignored, as the kernel does
      }
      if (!ok) return false;
    }
    item_offset_ = n;
    if (depth_ != 0) return Fail("collection not closed");
    if (saw_unnumbered_ && saw_numbered_) return Fail("reports with and without report ids");
    result_.numbered = saw_numbered_;
    return true;
  }

  bool Main(uint8_t tag, uint32_t value) {
    bool ok = true;
    switch (tag) {
      case kMainInput: ok = AddReport(kInput); break;
      case kMainOutput: ok = AddReport(kOutput); break;
      case kMainFeature: ok = AddReport(kFeature); break;
      case kMainCollection:
        if (depth_ == 0) OpenTopLevel(uint8_t(value));
        ++depth_;
        break;
      case kMainEndCollection:
        if (depth_ == 0) return Fail("End Collection without Collection");
        if (--depth_ == 0) CloseTopLevel();
        break;
      default: break;
    }
    locals_ = Locals{};  // local items last until the next main item
    return ok;
  }

  bool Global(uint8_t tag, uint32_t value) {
    switch (tag) {
      case kGlobalUsagePage:
        if (value > 0xFFFF) return Fail("usage page above 0xFFFF");
        globals_.usage_page = value;
        break;
      case kGlobalReportSize: globals_.report_size = value; break;
      case kGlobalReportCount: globals_.report_count = value; break;
      case kGlobalReportId:
        if (value == 0 || value > 0xFF) return Fail("report id outside 1..255");
        globals_.report_id = value;
        break;
      case kGlobalPush:
        if (stack_.size() >= kMaxPushDepth) return Fail("too many Push items");
        stack_.push_back(globals_);
        break;
      case kGlobalPop:
        if (stack_.empty()) return Fail("Pop without Push");
        globals_ = stack_.back();
        stack_.pop_back();
        break;
      default: break;
    }
    return true;
  }

  void Local(uint8_t tag, uint32_t value, uint8_t size) {
    if (tag == kLocalUsage && !locals_.has_usage) {
      locals_.has_usage = true;
      locals_.usage = value;
      locals_.usage_bytes = size;
    } else if (tag == kLocalUsageMinimum && !locals_.has_usage_minimum) {
      locals_.has_usage_minimum = true;
      locals_.usage_minimum = value;
      locals_.usage_minimum_bytes = size;
    }
  }

  // A usage of up to 16 bits takes the current usage page; a 32-bit one carries its own.
  void ResolveUsage(uint32_t value, uint8_t size, HidCollection& caps) const {
    if (size == 4) {
      caps.usage_page = uint16_t(value >> 16);
      caps.usage = uint16_t(value);
    } else {
      caps.usage_page = uint16_t(globals_.usage_page);
      caps.usage = uint16_t(value);
    }
  }

  void OpenTopLevel(uint8_t type) {
    current_ = OpenCollection{};
    current_.caps.type = type;
    current_.caps.usage_page = uint16_t(globals_.usage_page);
    if (locals_.has_usage) {
      ResolveUsage(locals_.usage, locals_.usage_bytes, current_.caps);
    } else if (locals_.has_usage_minimum) {
      ResolveUsage(locals_.usage_minimum, locals_.usage_minimum_bytes, current_.caps);
    }
  }

  bool AddReport(ReportKind kind) {
    if (globals_.report_id == 0) {
      saw_unnumbered_ = true;
    } else {
      saw_numbered_ = true;
    }
    // Fields outside every collection belong to no interface.
    if (depth_ == 0) return true;
    const uint64_t field = uint64_t{globals_.report_size} * globals_.report_count;
    uint64_t& bits = current_.bits[kind][uint8_t(globals_.report_id)];
    if (field > kMaxReportBits || bits > kMaxReportBits - field) return Fail("report too long");
    bits += field;
    return true;
  }

  void CloseTopLevel() {
    HidCollection& caps = current_.caps;
    std::vector<uint8_t>* ids[kKinds] = {&caps.input_report_ids, &caps.output_report_ids,
                                         &caps.feature_report_ids};
    uint16_t* lengths[kKinds] = {&caps.input_report_length, &caps.output_report_length,
                                 &caps.feature_report_length};
    for (int kind = 0; kind < kKinds; ++kind) {
      uint64_t largest = 0;
      for (const auto& [id, bits] : current_.bits[kind]) {
        ids[kind]->push_back(id);
        if (bits > largest) largest = bits;
      }
      if (!current_.bits[kind].empty()) *lengths[kind] = uint16_t((largest + 7) / 8 + 1);
    }
    result_.collections.push_back(std::move(caps));
  }

  std::span<const uint8_t> bytes_;
  size_t item_offset_ = 0;
  std::string error_;
  Globals globals_;
  std::vector<Globals> stack_;
  Locals locals_;
  size_t depth_ = 0;
  OpenCollection current_;
  bool saw_numbered_ = false;
  bool saw_unnumbered_ = false;
  ReportDescriptor result_;
};

}  // namespace

std::optional<ReportDescriptor> ParseReportDescriptor(std::span<const uint8_t> bytes,
                                                      std::string* error) {
  return Parser(bytes).Run(error);
}

}  // namespace zentrix
