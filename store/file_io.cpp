#include "store/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>
#include <system_error>

namespace brevak {

namespace fs = std::filesystem;

namespace {

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

}  // namespace

std::optional<std::vector<uint8_t>> ReadWholeFile(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::vector<uint8_t> out;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) out.reserve(size_t(st.st_size));
  uint8_t buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return out;
}

FileReader::FileReader(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<size_t> FileReader::Read(void* dst, size_t n) {
  if (fd_ < 0) return std::nullopt;
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::read(fd_, static_cast<uint8_t*>(dst) + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    done += size_t(got);
  }
  return done;
}

bool WriteFileAtomic(const fs::path& path, std::span<const std::span<const uint8_t>> pieces) {
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return false;
  bool ok = true;
  for (auto piece : pieces) ok = ok && WriteAll(fd, piece);
  ok = ok && ::fchmod(fd, 0644) == 0;
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(tmpl.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(tmpl.c_str());
    return false;
  }
  SyncFolder(dir);
  return true;
}

int RemoveStaleTemporaries(const fs::path& path) {
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  // The exact shape mkstemp gives our template: "." + name + "." + six characters.
  const std::string prefix = "." + path.filename().string() + ".";
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    bool random_tail = true;
    for (char c : name.substr(prefix.size())) random_tail = random_tail && std::isalnum(static_cast<unsigned char>(c));
    std::error_code rm;
    if (random_tail && it->is_regular_file(rm) && fs::remove(it->path(), rm)) ++removed;
  }
  return removed;
}

bool EnsureFolder(const fs::path& dir) {
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return true;
  fs::create_directories(dir, ec);
  return fs::is_directory(dir, ec);
}

std::optional<fs::path> KeepDamagedCopy(const fs::path& path) {
  std::error_code ec;
  fs::path target = path;
  target += ".damaged";
  for (int n = 1; fs::exists(target, ec) && n < 1000; ++n) {
    target = path;
    target += ".damaged." + std::to_string(n);
  }
  if (fs::exists(target, ec)) return std::nullopt;
  auto bytes = ReadWholeFile(path);
  if (!bytes || !WriteFileAtomic(target, *bytes)) return std::nullopt;
  return target;
}

void DamagedOriginal::Keep(const fs::path& file) {
  pending_ = true;
  Secured(file);
}

bool DamagedOriginal::Secured(const fs::path& file) {
  if (!pending_) return true;
  auto copy = KeepDamagedCopy(file);
  if (!copy) return false;
  copy_ = *copy;
  pending_ = false;
  return true;
}

}  // namespace brevak
