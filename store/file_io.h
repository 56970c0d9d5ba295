#pragma once
// Whole-file reads and crash-safe whole-file writes for the stores and exported files.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace brevak {

// The file's bytes, or nothing when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& path);

// A file read in pieces, so that a large store goes straight into its records without a
// second copy of the whole file.
class FileReader {
 public:
  explicit FileReader(const std::filesystem::path& path);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool is_open() const { return fd_ >= 0; }
  // Fills `dst` with up to `n` bytes; fewer only at the end of the file. Nothing on a read error.
  std::optional<size_t> Read(void* dst, size_t n);

 private:
  int fd_ = -1;
};

// Writes the pieces, in order, to a temporary file in the same folder, flushes it to disk
// and renames it over `path`: a crash or a full disk leaves the old file or the new one,
// never a mix. Returns false (and leaves the old file untouched) on any failure.
bool WriteFileAtomic(const std::filesystem::path& path, std::span<const std::span<const uint8_t>> pieces);

inline bool WriteFileAtomic(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::span<const uint8_t> one[] = {bytes};
  return WriteFileAtomic(path, one);
}

// Removes the temporary files that saves of `path` killed before their rename left behind
// (".<name>.XXXXXX" in the same folder). Call it while no save of `path` can run. Returns
// how many were removed.
int RemoveStaleTemporaries(const std::filesystem::path& path);

// Creates `dir` (and its parents) when missing; false when it is not a usable folder.
bool EnsureFolder(const std::filesystem::path& dir);

// Copies a file that could not be read as a store to "<name>.damaged" (or ".damaged.N"
// when that exists already), so the user's original bytes survive any later save.
// Returns the copy's path, or nothing when the copy failed.
std::optional<std::filesystem::path> KeepDamagedCopy(const std::filesystem::path& path);

// A damaged store file that must be copied aside before anything overwrites it. When the
// copy fails at load time it is tried again before each save, and the save waits for it.
class DamagedOriginal {
 public:
  void Keep(const std::filesystem::path& file);
  // True when the file may be overwritten.
  bool Secured(const std::filesystem::path& file);
  const std::filesystem::path& copy() const { return copy_; }
  void Reset() { copy_.clear(), pending_ = false; }

 private:
  std::filesystem::path copy_;
  bool pending_ = false;
};

}  // namespace brevak
