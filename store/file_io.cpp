#include "store/file_io.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string>

namespace brevak {

namespace fs = std::filesystem;

namespace {

// Store files are read in steps of this size when they grow beyond what fstat said.
constexpr size_t kReadStep = size_t(1) << 20;
// Names tried for one file put aside: "<name>.<tag>" and ".1" up to this count less one.
constexpr int kAsideNames = 1000;
// mkstemp's letters and digits that end each temporary name.
constexpr size_t kTemporaryTail = 6;

std::error_code LastError() { return {errno, std::generic_category()}; }

void SetError(std::error_code* out, std::error_code ec) {
  if (out) *out = ec;
}

fs::path FolderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// The rename itself is only durable once the folder's entry is on disk.
void SyncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

const char* NotAFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder, not a file";
  if (S_ISFIFO(mode)) return "a named pipe, not a file";
  if (S_ISSOCK(mode)) return "a socket, not a file";
  return "a device, not a file";
}

// The pieces in a new temporary ".<name>.XXXXXX" beside `path`, on disk; its name, or an
// empty string (and nothing left behind) on failure.
std::string WriteTemporary(const fs::path& path, std::span<const std::span<const uint8_t>> pieces,
                           std::error_code* error) {
  std::string tmpl = (FolderOf(path) / ("." + path.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) {
    SetError(error, LastError());
    return {};
  }
  bool ok = true;
  for (auto piece : pieces) ok = ok && WriteAll(fd, piece);
  ok = ok && ::fchmod(fd, 0644) == 0;
  ok = ok && ::fsync(fd) == 0;
  if (!ok) SetError(error, LastError());
  if (::close(fd) != 0 && ok) {
    SetError(error, LastError());
    ok = false;
  }
  if (ok) return tmpl;
  ::unlink(tmpl.c_str());
  return {};
}

// 0 or the errno of a rename that never replaces an existing entry.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: check first (nothing else writes in our folder).
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool SameEntry(const fs::path& a, const fs::path& b) {
  struct stat sa {}, sb {};
  return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool IsTemporaryOf(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + kTemporaryTail || name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

FileRead ReadRegularFile(const fs::path& path, size_t limit) {
  FileRead out;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return out;  // no such file (or no folder for it)
    out.state = FileState::kUnreadable;
    out.reason = LastError().message();
    return out;
  }
  if (::stat(path.c_str(), &st) != 0) {
    out.state = FileState::kUnreadable;
    out.reason = errno == ENOENT ? "a link that leads nowhere" : LastError().message();
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.state = FileState::kNotRegular;
    out.reason = NotAFile(st.st_mode);
    return out;
  }
  // Non-blocking in case the entry was swapped for a pipe since the check.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    out.state = FileState::kUnreadable;
    out.reason = LastError().message();
    return out;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    out.state = FileState::kNotRegular;
    out.reason = NotAFile(st.st_mode);
    return out;
  }
  out.state = FileState::kRead;
  auto& bytes = out.bytes;
  bytes.resize(std::min(size_t(std::max<off_t>(st.st_size, 0)), limit));
  size_t done = 0;
  int error = 0;
  for (;;) {
    if (done == bytes.size()) {
      if (done == limit) {
        // Full: one more byte tells whether the file goes on.
        uint8_t probe = 0;
        ssize_t n;
        do n = ::read(fd, &probe, 1);
        while (n < 0 && errno == EINTR);
        if (n < 0) error = errno;
        out.larger = n > 0;
        break;
      }
      bytes.resize(done + std::min(kReadStep, limit - done));
    }
    ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
  bytes.resize(done);
  if (error != 0) {
    out.state = FileState::kUnreadable;
    out.reason = std::error_code(error, std::generic_category()).message();
    bytes.clear();
  }
  return out;
}

bool WriteFileAtomic(const fs::path& path, std::span<const std::span<const uint8_t>> pieces, std::error_code* error) {
  const std::string tmp = WriteTemporary(path, pieces, error);
  if (tmp.empty()) return false;
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    SetError(error, LastError());
    ::unlink(tmp.c_str());
    return false;
  }
  SyncFolder(FolderOf(path));
  return true;
}

int RemoveStaleTemporaries(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::string prefixes[] = {"." + name + ".", "." + name + ".damaged."};
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(FolderOf(path), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (std::none_of(std::begin(prefixes), std::end(prefixes), [&](const std::string& p) { return IsTemporaryOf(entry, p); }))
      continue;
    std::error_code rm;
    if (it->symlink_status(rm).type() == fs::file_type::regular && fs::remove(it->path(), rm)) ++removed;
  }
  return removed;
}

bool EnsureFolder(const fs::path& dir, std::error_code* error) {
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return true;
  fs::create_directories(dir, ec);
  std::error_code check;
  if (fs::is_directory(dir, check)) return true;
  SetError(error, ec ? ec : std::make_error_code(std::errc::not_a_directory));
  return false;
}

fs::path PutAside(const fs::path& file, const std::string& tag, AsideHow how, std::error_code& error) {
  enum { kLink, kMoveFile, kPlaceCopy } step = how == AsideHow::kMove ? kMoveFile : kLink;
  std::string copy;  // a copy waiting for its name, where links are not possible
  fs::path found;
  for (int n = 0; n < kAsideNames && found.empty(); ++n) {
    fs::path candidate = file;
    candidate += "." + tag + (n ? "." + std::to_string(n) : "");
    int rc = 0;
    if (step == kLink) {
      rc = ::link(file.c_str(), candidate.c_str()) == 0 ? 0 : errno;
      if (rc == EEXIST && SameEntry(file, candidate)) return candidate;  // kept on an earlier run
      if (rc != 0 && rc != EEXIST) {
        if (how == AsideHow::kLinkOrMove) {
          step = kMoveFile;
        } else {
          FileRead original = ReadRegularFile(file, SIZE_MAX);
          if (original.state != FileState::kRead) {
            error = std::make_error_code(std::errc::io_error);
            return {};
          }
          std::span<const uint8_t> one[] = {original.bytes};
          copy = WriteTemporary(file, one, &error);
          if (copy.empty()) return {};
          step = kPlaceCopy;
        }
        --n;  // the same name again, the other way
        continue;
      }
    } else {
      rc = RenameNoReplace(step == kMoveFile ? fs::path(file) : fs::path(copy), candidate);
    }
    if (rc == 0) found = candidate;
    else if (rc != EEXIST) {
      error = {rc, std::generic_category()};
      break;
    }
  }
  if (found.empty()) {
    if (!error) error = std::make_error_code(std::errc::file_exists);  // every name is taken
    if (!copy.empty()) ::unlink(copy.c_str());
    return {};
  }
  SyncFolder(FolderOf(file));
  return found;
}

}  // namespace brevak
