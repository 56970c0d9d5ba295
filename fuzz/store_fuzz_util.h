#pragma once
// Helpers of the store fuzz targets. Scratch files for the targets that import files: one
// folder per process, in memory when /dev/shm exists, emptied per input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

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

// The one image a store writes from its pieces, in a buffer kept across inputs (a fresh one
// of a megabyte per input costs more than the parse).
inline const std::vector<uint8_t>& Concatenate(const std::vector<std::span<const uint8_t>>& pieces) {
  static std::vector<uint8_t> out;
  out.clear();
  for (auto p : pieces) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Fails the run with a message the fuzzer log shows.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace brevak::fuzz
