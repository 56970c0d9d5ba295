#pragma once
// Scratch files for the store fuzz targets: one folder per process, in memory when /dev/shm
// exists (every input is written, loaded and often saved with fsync), emptied per input.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace brevak::fuzz {

inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string tmpl = base + "/brevak-fuzz-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    std::atexit([] { std::error_code ec; std::filesystem::remove_all(ScratchFolder(), ec); });
    return std::filesystem::path(tmpl);
  }();
  return folder;
}

// An empty scratch folder for the next input.
inline const std::filesystem::path& FreshFolder() {
  const auto& folder = ScratchFolder();
  for (const auto& e : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(e.path());
  return folder;
}

inline void WriteInput(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  if (!out) std::abort();
}

inline std::vector<uint8_t> ReadBack(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Fails the run with a message the fuzzer log shows.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace brevak::fuzz
