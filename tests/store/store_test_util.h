#pragma once
// A fresh data folder per test, named by BREVAK_DATA_DIR.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
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

// While it lives, no file of the process may grow past `bytes` (a full disk, as a save meets
// it): SIGXFSZ is ignored, so such a write fails instead of ending the test. The limit and the
// signal's handling before it come back at the end.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_;
    small.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool set() const { return set_; }

 private:
  rlimit old_{};
  void (*old_handler_)(int) = SIG_DFL;
  bool set_ = false;
};

}  // namespace brevak::test
