#pragma once
// Bounded reads of regular files and crash-safe whole-file writes for the stores and
// exported files.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace brevak {

enum class FileState {
  kMissing,     // no entry of that name
  kRead,        // a regular file, read (up to the limit)
  kNotRegular,  // a folder, pipe, device, socket or a link to one: never opened for reading
  kUnreadable,  // there, but it could not be opened or read (or a link that leads nowhere)
};

struct FileRead {
  FileState state = FileState::kMissing;
  std::vector<uint8_t> bytes;  // at most `limit` bytes
  bool larger = false;         // the file holds more than `limit` bytes
  std::string reason;          // why it could not be read, for the user
};

// Reads at most `limit` bytes of `path`, following a symbolic link only to a regular file.
// Anything else is reported without a blocking open, so a pipe or a link to a device can
// neither hang the caller nor feed it without end.
FileRead ReadRegularFile(const std::filesystem::path& path, size_t limit);

// Writes the pieces, in order, to a temporary file in the same folder, flushes it to disk
// and renames it over `path`: a crash or a full disk leaves the old file or the new one,
// never a mix. Returns false (and leaves the old file untouched) on any failure, with its
// cause in `error` when given.
bool WriteFileAtomic(const std::filesystem::path& path, std::span<const std::span<const uint8_t>> pieces,
                     std::error_code* error = nullptr);

inline bool WriteFileAtomic(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                            std::error_code* error = nullptr) {
  std::span<const uint8_t> one[] = {bytes};
  return WriteFileAtomic(path, one, error);
}

// Removes the temporary files that our saves and copies of `path` left when they were killed:
// ".<name>.XXXXXX" beside it (and ".<name>.damaged.XXXXXX" of earlier builds), regular files
// only, the six characters being mkstemp's letters and digits. Call it while no save of `path`
// can run. Returns how many were removed.
int RemoveStaleTemporaries(const std::filesystem::path& path);

// Creates `dir` (and its parents) when missing; false when it is not a usable folder.
bool EnsureFolder(const std::filesystem::path& dir, std::error_code* error = nullptr);

// How an unusable store file is kept before anything is written over it.
enum class AsideHow {
  kLinkOrCopy,  // a second name (a hard link, else a copy): the store keeps its own name until
                // a save replaces it, so a kill in between loses nothing
  kLinkOrMove,  // too large to copy: a hard link, else the file itself is renamed
  kMove,        // renamed: unreadable, or not a regular file at all
};

// Gives `file` the first name of "<name>.<tag>", "<name>.<tag>.1", "<name>.<tag>.2", ... that
// no entry has, never replacing one (a name that already holds this very file is taken as it
// is). Returns that name, or an empty path with the cause in `error`.
std::filesystem::path PutAside(const std::filesystem::path& file, const std::string& tag, AsideHow how,
                               std::error_code& error);

}  // namespace brevak
