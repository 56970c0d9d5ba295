#pragma once
// Recorded report descriptors, kept as annotated hex: two-digit bytes, '#' starts a comment.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zentrix {

inline std::vector<uint8_t> Recorded(const std::string& name) {
  std::ifstream in(std::string(ZENTRIX_TEST_DATA) + "/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<uint8_t> bytes;
  std::string line, word;
  while (std::getline(in, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    while (words >> word) bytes.push_back(uint8_t(std::stoul(word, nullptr, 16)));
  }
  return bytes;
}

}  // namespace zentrix
