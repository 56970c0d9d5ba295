#include "store/store_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>

namespace brevak {

namespace fs = std::filesystem;

namespace {

std::string Why(const std::error_code& error) {
  return error == std::errc::file_exists ? "every name for it is taken" : error.message();
}

// ".<kept name>.unseen-notice" beside the kept file (no temporary's name: those end in six letters
// or digits); ".<store name>.save-failed.unseen-notice" for a save that failed. The kind and the
// reason are its two lines; a disk too full for them still takes the empty file, whose name says
// enough.
constexpr char kMarkerSuffix[] = ".unseen-notice";
constexpr char kSaveFailedTag[] = ".save-failed";
constexpr size_t kMaxMarkerBytes = 4096;

fs::path MarkerOf(const fs::path& file) { return file.parent_path() / ("." + file.filename().string() + kMarkerSuffix); }

void WriteMarker(const fs::path& marker, StoreEventKind kind, const std::string& reason) {
  const std::string text = std::to_string(int(kind)) + "\n" + reason.substr(0, kMaxMarkerBytes / 2) + "\n";
  std::error_code ignored;  // best effort: a full disk may refuse this too
  if (WriteFileAtomic(marker, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &ignored)) return;
  const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
}

// Where a link leads, when it leads to a regular file; otherwise the path itself, so a link
// that leads nowhere, or to a device or a folder, is read as unusable and the link (never what
// it points at) is kept aside like any unreadable store.
fs::path LinkTarget(const fs::path& path) {
  std::error_code error;
  if (fs::symlink_status(path, error).type() != fs::file_type::symlink) return path;
  fs::path target = fs::canonical(path, error);
  if (error || fs::symlink_status(target, error).type() != fs::file_type::regular) return path;
  return target;
}

}  // namespace

FileRead StoreFile::Read(size_t limit) {
  kept_as_.clear();
  pending_ = false;
  target_ = LinkTarget(path_);
  RemoveStaleTemporaries(target_);
  RecallUntoldNotices();
  return ReadRegularFile(target_, limit);
}

void StoreFile::RecallUntoldNotices() {
  const fs::path dir = target_.parent_path();
  const std::string prefix = "." + target_.filename().string() + ".";
  std::error_code step, error;
  // Stepped with an error code: a folder that changes under the scan ends it instead of throwing.
  for (fs::directory_iterator it(dir.empty() ? "." : dir, step), end; !step && it != end; it.increment(step)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    if (name.size() <= prefix.size() + std::size(kMarkerSuffix) || name.rfind(prefix, 0) != 0 ||
        !name.ends_with(kMarkerSuffix) || !entry.is_regular_file(error) || recalled_.count(entry.path()))
      continue;
    FileRead marker = ReadRegularFile(entry.path(), kMaxMarkerBytes);
    const std::string text(marker.bytes.begin(), marker.bytes.end());
    const size_t line = text.find('\n');
    int kind = line == std::string::npos ? -1 : std::atoi(text.substr(0, line).c_str());
    if (text.empty() && name.ends_with(std::string(kSaveFailedTag) + kMarkerSuffix)) kind = int(StoreEventKind::kSaveFailed);
    if (kind < int(StoreEventKind::kRepaired) || kind > int(StoreEventKind::kSaveFailed)) continue;
    std::string reason = line == std::string::npos ? "the disk took nothing" : text.substr(line + 1);
    if (!reason.empty() && reason.back() == '\n') reason.pop_back();
    StoreEvent event{StoreEventKind(kind), path_, {}, reason, entry.path(), true};
    const std::string kept = name.substr(1, name.size() - 1 - (std::size(kMarkerSuffix) - 1));
    if (event.kind != StoreEventKind::kSaveFailed) {
      event.kept_as = dir / kept;
      // The user has dealt with the kept file already: nothing left to tell.
      if (!fs::exists(fs::symlink_status(event.kept_as, error))) {
        ForgetStoreNotice(event);
        continue;
      }
    }
    if (event.kind == StoreEventKind::kSaveFailed) save_failed_marked_ = true;
    recalled_.insert(entry.path());
    events_.Record(std::move(event));
  }
}

fs::path StoreFile::SaveFailedMarker() const {
  return target_.parent_path() / ("." + target_.filename().string() + kSaveFailedTag + kMarkerSuffix);
}

void StoreFile::RecordUntilSeen(StoreEvent event) {
  if (!event.kept_as.empty()) {
    event.marker = MarkerOf(event.kept_as);
    WriteMarker(event.marker, event.kind, event.reason);
    recalled_.insert(event.marker);
  }
  events_.Record(std::move(event));
}

void StoreFile::SaveFailed(std::string reason) {
  if (events_.failing()) return;  // once per streak
  // Told now when a window is there; the marker carries it to the next start when the failure
  // came at the end of a run.
  const fs::path marker = SaveFailedMarker();
  WriteMarker(marker, StoreEventKind::kSaveFailed, reason);
  save_failed_marked_ = true;
  recalled_.insert(marker);
  events_.SaveFailed(path_, std::move(reason), marker);
}

void StoreFile::KeepUnreadable(const FileRead& in) {
  if (in.state == FileState::kUnreadable || in.state == FileState::kNotRegular)
    Keep("unreadable", AsideHow::kMove, StoreEventKind::kMovedAside, in.reason);
}

bool StoreFile::KeepIfUnusable(const FileRead& in, StoreLoad parsed, const std::string& damage,
                               const std::string& too_large) {
  // No copy of a file too large to load: a second name, where the file system allows one.
  if (in.larger) Keep("too-large", AsideHow::kLinkOrMove, StoreEventKind::kTooLarge, too_large);
  else if (parsed == StoreLoad::kRepaired) Keep("damaged", AsideHow::kLinkOrCopy, StoreEventKind::kRepaired, damage);
  else return false;
  return true;
}

void StoreFile::Keep(const char* tag, AsideHow how, StoreEventKind kind, std::string reason) {
  tag_ = tag, how_ = how, kind_ = kind, reason_ = std::move(reason);
  pending_ = true;
  std::error_code error;
  if (!TryPutAside(error))
    events_.Record({StoreEventKind::kLeftInPlace, path_, {}, reason_ + "; it could not be put aside: " + Why(error), {}});
}

bool StoreFile::TryPutAside(std::error_code& error) {
  std::error_code gone;
  if (fs::symlink_status(target_, gone).type() == fs::file_type::not_found) {
    pending_ = false;  // removed meanwhile (by the user): nothing left to keep
    return true;
  }
  fs::path kept = PutAside(target_, tag_, how_, error);
  if (kept.empty()) return false;
  kept_as_ = std::move(kept);
  pending_ = false;
  RecordUntilSeen({kind_, path_, kept_as_, reason_, {}});
  return true;
}

bool StoreFile::Write(std::span<const std::span<const uint8_t>> pieces) {
  std::error_code error;
  if (pending_ && !TryPutAside(error)) {
    SaveFailed(path_.filename().string() + " could not be put aside: " + Why(error));
    return false;
  }
  if (!EnsureFolder(target_.parent_path(), &error) || !WriteFileAtomic(target_, pieces, &error)) {
    SaveFailed(error.message());
    return false;
  }
  // A failure recorded earlier, by this run or the last, no longer says anything about the file.
  if (save_failed_marked_) {
    std::error_code ignored;
    fs::remove(SaveFailedMarker(), ignored);
    save_failed_marked_ = false;
  }
  events_.SaveSucceeded();
  return true;
}

const fs::path& StoreFile::KeptFor(StoreEventKind kind) const {
  static const fs::path none;
  return kind == kind_ ? kept_as_ : none;
}

}  // namespace brevak
