#include "store/profile_store.h"

#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/system.h"
#include "platform/text.h"
#include "store/file_io.h"
#include "store/names.h"

namespace brevak {

namespace fs = std::filesystem;

std::u16string GetProgramFolder() { return ProgramFolder(); }

fs::path GetDataFolder() {
  fs::path dir;
  if (const char* env = std::getenv("BREVAK_DATA_DIR"); env && *env) {
    dir = env;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    dir = fs::path(xdg) / "brevak" / "Data";
  } else {
    const char* home = std::getenv("HOME");
    dir = fs::path(home && *home ? home : ".") / ".local" / "share" / "brevak" / "Data";
  }
  EnsureFolder(dir);
  return dir;
}

fs::path ProfileStorePath() { return GetDataFolder() / "ms_1" / "pro.data"; }

ProfileRecord* AddDefaultProfile(ProfileList& list) {
  std::u16string base = LanguageText(u"add_profile_text") + Utf8ToUtf16(std::to_string(list.size() + 1));
  auto record = NewProfileRecord(u"");
  SetFixed(record->name, MakeUniqueName(list, base));
  list.push_back(std::move(record));
  return list.back().get();
}

ProfileStore::ProfileStore(fs::path file) : file_(std::move(file)), header_(std::make_unique<ProfileStoreHeader>()) {}

StoreLoad ProfileStore::Load() {
  auto lock = Lock();
  list_.clear();
  std::memset(header_.get(), 0, sizeof(ProfileStoreHeader));
  damaged_.Reset();
  unreadable_moved_to_.clear();
  list_changed_ = false;

  RemoveStaleTemporaries(file_);  // left by a save that was killed before its rename
  std::error_code ec;
  // Read straight into the header and the records: a store of many profiles is megabytes.
  FileReader in(file_);
  std::optional<size_t> header_bytes = in.Read(header_.get(), sizeof(ProfileStoreHeader));
  size_t size = header_bytes.value_or(0), records = 0;
  bool readable = header_bytes.has_value();
  if (readable && size == sizeof(ProfileStoreHeader)) {
    for (;;) {
      auto r = std::make_unique_for_overwrite<ProfileRecord>();
      std::optional<size_t> got = in.Read(r.get(), sizeof(ProfileRecord));
      if (!got) readable = false;
      if (!got || *got == 0) break;
      size += *got;
      if (*got < sizeof(ProfileRecord)) break;  // a cut-off last record is not kept
      list_.push_back(std::move(r));
      ++records;
    }
  }
  if (!readable) {
    list_.clear();
    std::memset(header_.get(), 0, sizeof(ProfileStoreHeader));
    // A file we may not read must not be replaced unseen: move it aside first.
    bool may_write = true;
    if (fs::exists(file_, ec)) {
      fs::path aside = file_;
      aside += ".unreadable";
      fs::rename(file_, aside, ec);
      if (!ec) unreadable_moved_to_ = aside;
      else may_write = false;
    }
    AddDefaultProfile(list_);
    if (may_write) Save();
    return StoreLoad::kFirstRun;
  }

  const bool whole = size == sizeof(ProfileStoreHeader) + records * sizeof(ProfileRecord) && records > 0;
  const bool selection_ok = header_->selected_profile >= 0 && size_t(header_->selected_profile) < list_.size();
  if (whole && selection_ok) return StoreLoad::kLoaded;

  // Damaged: keep every complete record, keep the original bytes aside, write a valid store.
  damaged_.Keep(file_);
  if (list_.empty()) AddDefaultProfile(list_);
  if (!selection_ok) header_->selected_profile = 0;
  Save();
  return StoreLoad::kRepaired;
}

bool ProfileStore::Save() {
  auto lock = Lock();
  if (!damaged_.Secured(file_)) return false;
  if (!EnsureFolder(file_.parent_path())) return false;
  std::vector<std::span<const uint8_t>> pieces;
  pieces.reserve(list_.size() + 1);
  pieces.emplace_back(reinterpret_cast<const uint8_t*>(header_.get()), sizeof(ProfileStoreHeader));
  for (const auto& r : list_) pieces.emplace_back(reinterpret_cast<const uint8_t*>(r.get()), sizeof(ProfileRecord));
  if (!WriteFileAtomic(file_, pieces)) return false;
  list_changed_ = false;
  return true;
}

bool ProfileStore::SavePendingListChanges() {
  auto lock = Lock();
  return list_changed_ ? Save() : true;
}

}  // namespace brevak
