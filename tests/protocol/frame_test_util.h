#pragma once
// Helpers for comparing built frames with byte lists written out by hand.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/frames.h"

namespace brevak::test {

inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  std::istringstream in(text);
  std::string tok;
  while (in >> tok) out.push_back(uint8_t(std::stoul(tok, nullptr, 16)));
  return out;
}

inline std::string ToHex(std::span<const uint8_t> bytes) {
  std::string s;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    s += buf;
  }
  return s;
}

inline std::vector<uint8_t> Bytes(const Frame& f) { return {f.view().begin(), f.view().end()}; }

// Sum of bytes [first, last], computed here rather than by the code under test.
inline uint16_t SumOf(const std::vector<uint8_t>& b, size_t first, size_t last) {
  unsigned sum = 0;
  for (size_t i = first; i <= last; ++i) sum += b[i];
  return uint16_t(sum & 0xFFFF);
}

#define EXPECT_FRAME(frame, expected_bytes) \
  EXPECT_EQ(::brevak::test::ToHex(::brevak::test::Bytes(frame)), ::brevak::test::ToHex(expected_bytes))

}  // namespace brevak::test
