#pragma once
// A fresh data folder per test, named by BREVAK_DATA_DIR.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace brevak::test {

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brevak-store-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    data_ = root_ / "Data";
    setenv("BREVAK_DATA_DIR", data_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("BREVAK_DATA_DIR");
    std::filesystem::remove_all(root_);
  }
  static uintmax_t SizeOf(const std::filesystem::path& p) { return std::filesystem::file_size(p); }

  std::filesystem::path root_, data_;
};

}  // namespace brevak::test
