#include "store/kept_original.h"

#include <utility>

namespace brevak {

namespace fs = std::filesystem;

namespace {

std::string Why(const std::error_code& error) {
  return error == std::errc::file_exists ? "every name for it is taken" : error.message();
}

}  // namespace

bool KeptOriginal::Keep(const fs::path& file, const char* tag, AsideHow how, StoreEventKind kind, std::string reason) {
  file_ = file, tag_ = tag, how_ = how, kind_ = kind, reason_ = std::move(reason);
  kept_as_.clear();
  pending_ = true;
  std::error_code error;
  if (TryPutAside(error)) return true;
  events_.Record({StoreEventKind::kLeftInPlace, file_, {}, reason_ + "; it could not be put aside: " + Why(error)});
  return false;
}

bool KeptOriginal::Secured(std::string& why) {
  if (!pending_) return true;
  std::error_code error;
  if (TryPutAside(error)) return true;
  why = file_.filename().string() + " could not be put aside: " + Why(error);
  return false;
}

bool KeptOriginal::TryPutAside(std::error_code& error) {
  std::error_code gone;
  if (fs::symlink_status(file_, gone).type() == fs::file_type::not_found) {
    pending_ = false;  // removed meanwhile (by the user): nothing left to keep
    return true;
  }
  fs::path kept = PutAside(file_, tag_, how_, error);
  if (kept.empty()) return false;
  kept_as_ = std::move(kept);
  pending_ = false;
  events_.Record({kind_, file_, kept_as_, reason_});
  return true;
}

const fs::path& KeptOriginal::KeptFor(StoreEventKind kind) const {
  static const fs::path none;
  return kind == kind_ ? kept_as_ : none;
}

void KeptOriginal::Reset() {
  file_.clear(), kept_as_.clear(), tag_.clear(), reason_.clear();
  pending_ = false;
}

}  // namespace brevak
