#include "store/store_file.h"

#include <utility>

namespace brevak {

namespace fs = std::filesystem;

namespace {

std::string Why(const std::error_code& error) {
  return error == std::errc::file_exists ? "every name for it is taken" : error.message();
}

}  // namespace

FileRead StoreFile::Read(size_t limit) {
  kept_as_.clear();
  pending_ = false;
  RemoveStaleTemporaries(path_);
  return ReadRegularFile(path_, limit);
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
    events_.Record({StoreEventKind::kLeftInPlace, path_, {}, reason_ + "; it could not be put aside: " + Why(error)});
}

bool StoreFile::TryPutAside(std::error_code& error) {
  std::error_code gone;
  if (fs::symlink_status(path_, gone).type() == fs::file_type::not_found) {
    pending_ = false;  // removed meanwhile (by the user): nothing left to keep
    return true;
  }
  fs::path kept = PutAside(path_, tag_, how_, error);
  if (kept.empty()) return false;
  kept_as_ = std::move(kept);
  pending_ = false;
  events_.Record({kind_, path_, kept_as_, reason_});
  return true;
}

bool StoreFile::Write(std::span<const std::span<const uint8_t>> pieces) {
  std::error_code error;
  if (pending_ && !TryPutAside(error)) {
    events_.SaveFailed(path_, path_.filename().string() + " could not be put aside: " + Why(error));
    return false;
  }
  if (!EnsureFolder(path_.parent_path(), &error) || !WriteFileAtomic(path_, pieces, &error)) {
    events_.SaveFailed(path_, error.message());
    return false;
  }
  events_.SaveSucceeded();
  return true;
}

const fs::path& StoreFile::KeptFor(StoreEventKind kind) const {
  static const fs::path none;
  return kind == kind_ ? kept_as_ : none;
}

}  // namespace brevak
