#include "store/profile_store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
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

namespace {

// Puts `src` (zeros where it is null) over `dst`, writing only the pieces that differ, so that
// zeros over zeros leave untouched pages untouched.
void WriteChanged(uint8_t* dst, const uint8_t* src, size_t n) {
  static constexpr size_t kPiece = 4096;
  static const uint8_t kZeros[kPiece] = {};
  for (size_t at = 0; at < n; at += kPiece) {
    const size_t len = std::min(kPiece, n - at);
    const uint8_t* from = src ? src + at : kZeros;
    if (std::memcmp(dst + at, from, len) != 0) std::memcpy(dst + at, from, len);
  }
}

}  // namespace

StoreLoad ParseProfileStore(std::span<const uint8_t> image, ProfileStoreHeader& header, ProfileList& list,
                            std::string* damage) {
  constexpr size_t kHeader = sizeof(ProfileStoreHeader), kRecord = sizeof(ProfileRecord);
  list.clear();
  auto* into = reinterpret_cast<uint8_t*>(&header);
  const size_t from_file = std::min(image.size(), kHeader);
  if (from_file) WriteChanged(into, image.data(), from_file);
  WriteChanged(into + from_file, nullptr, kHeader - from_file);
  const size_t whole = image.size() > kHeader ? (image.size() - kHeader) / kRecord : 0;
  for (size_t i = 0; i < std::min(whole, kMaxStoredProfiles); ++i) {
    auto r = std::make_unique_for_overwrite<ProfileRecord>();
    std::memcpy(static_cast<void*>(r.get()), image.data() + kHeader + i * kRecord, kRecord);
    list.push_back(std::move(r));
  }
  const char* problem = nullptr;
  if (image.empty()) problem = "the file is empty";
  else if (image.size() < kHeader) problem = "the file ends inside its header";
  else if (whole > kMaxStoredProfiles) problem = "more profiles than can be loaded";
  else if ((image.size() - kHeader) % kRecord != 0) problem = "its last profile is cut off";
  else if (whole == 0) problem = "it holds no profile";
  if (list.empty()) AddDefaultProfile(list);
  if (header.selected_profile < 0 || size_t(header.selected_profile) >= list.size()) {
    if (!problem) problem = "the selected profile is not in the list";
    header.selected_profile = 0;
  }
  if (!problem) return StoreLoad::kLoaded;
  if (damage) *damage = problem;
  return StoreLoad::kRepaired;
}

std::vector<std::span<const uint8_t>> ProfileStoreImage(const ProfileStoreHeader& header, const ProfileList& list) {
  std::vector<std::span<const uint8_t>> pieces;
  pieces.reserve(list.size() + 1);
  pieces.emplace_back(reinterpret_cast<const uint8_t*>(&header), sizeof(ProfileStoreHeader));
  for (const auto& r : list) pieces.emplace_back(reinterpret_cast<const uint8_t*>(r.get()), sizeof(ProfileRecord));
  return pieces;
}

void ProfileStore::FreeHeader::operator()(ProfileStoreHeader* h) const { std::free(h); }

ProfileStore::ProfileStore(fs::path file)
    : file_(std::move(file)), header_(static_cast<ProfileStoreHeader*>(std::calloc(1, sizeof(ProfileStoreHeader)))) {
  if (!header_) throw std::bad_alloc();
}

StoreLoad ProfileStore::Load() {
  auto lock = Lock();
  list_.clear();
  unconfirmed_.clear();
  WriteChanged(reinterpret_cast<uint8_t*>(header_.get()), nullptr, sizeof(ProfileStoreHeader));
  list_changed_ = false;

  FileRead in = file_.Read(kMaxProfileStoreBytes);
  if (in.state != FileState::kRead) {
    // A file we may not read must not be replaced unseen: it is moved aside first.
    file_.KeepUnreadable(in);
    AddDefaultProfile(list_);
    if (file_.may_write()) Save();
    return StoreLoad::kFirstRun;
  }
  std::string damage;
  const StoreLoad how = ParseProfileStore(in.bytes, *header_, list_, &damage);
  in.bytes = {};
  if (!file_.KeepIfUnusable(in, how, damage, "more than " + std::to_string(kMaxStoredProfiles) + " profiles"))
    return StoreLoad::kLoaded;
  for (const auto& r : list_) unconfirmed_.insert(r.get());
  if (file_.may_write()) Save();
  return StoreLoad::kRepaired;
}

bool ProfileStore::Save() {
  auto lock = Lock();
  if (!file_.Write(ProfileStoreImage(*header_, list_))) return false;
  list_changed_ = false;
  return true;
}

bool ProfileStore::SavePendingListChanges() {
  auto lock = Lock();
  return list_changed_ || file_.failing() ? Save() : true;
}

}  // namespace brevak
