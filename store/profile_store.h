#pragma once
// The profile store: the user's list of profiles and the selected index, kept in
// "<data folder>/ms_1/pro.data" as a 507,724-byte header followed by the record images.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "model/profile_record.h"
#include "store/store_events.h"
#include "store/store_file.h"

namespace brevak {

inline constexpr size_t kReservedBlockBytes = 507720;

struct ProfileStoreHeader {
  int32_t selected_profile;
  uint8_t reserved_block[kReservedBlockBytes];
};
static_assert(sizeof(ProfileStoreHeader) == 507724);
static_assert(offsetof(ProfileStoreHeader, reserved_block) == 4);

// More profiles than anyone keeps: a larger "pro.data" is put aside and only its start loaded.
inline constexpr size_t kMaxStoredProfiles = 1000;
inline constexpr size_t kMaxProfileStoreBytes = sizeof(ProfileStoreHeader) + kMaxStoredProfiles * sizeof(ProfileRecord);

using ProfileList = std::vector<std::unique_ptr<ProfileRecord>>;

// The running program's folder (where the drivers, Hook and res/ live), ending in '/'.
std::u16string GetProgramFolder();

// Folder that holds "ms_1/": BREVAK_DATA_DIR when set, else $XDG_DATA_HOME/brevak/Data
// (default ~/.local/share/brevak/Data). Created when missing.
std::filesystem::path GetDataFolder();
std::filesystem::path ProfileStorePath();  // <data>/ms_1/pro.data

// Appends a reset record named after "add_profile_text" and the new list size, made unique.
ProfileRecord* AddDefaultProfile(ProfileList& list);

// Reads a "pro.data" image into `header` and `list`, replacing what they held. A damaged image
// is repaired in memory: every whole record up to kMaxStoredProfiles is kept, a cut-off last one
// dropped, an empty list gets a default profile and a selection outside the list becomes 0.
// kLoaded for a valid image, else kRepaired with what was wrong in `damage`.
StoreLoad ParseProfileStore(std::span<const uint8_t> image, ProfileStoreHeader& header, ProfileList& list,
                            std::string* damage = nullptr);
// The image a save writes, as pieces pointing into `header` and `list`: the header, then each record.
std::vector<std::span<const uint8_t>> ProfileStoreImage(const ProfileStoreHeader& header, const ProfileList& list);

// The list, its header and the file, behind one lock: list changes and saves come from the
// window thread, the apply worker and the Bluetooth callback thread.
class ProfileStore {
 public:
  explicit ProfileStore(std::filesystem::path file = ProfileStorePath());

  // Holds the lock for a list change; saves taken while it is held wait for it.
  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  // Never blocks on or reads without end from what is not a regular file; an unusable file is
  // put aside under a fresh name before anything is written (see StoreEventKind).
  StoreLoad Load();
  // Writes header and list atomically; false when nothing could be written (recorded as an event).
  bool Save();
  // The save that shutdown calls: writes only when the list changed or a save failed since the
  // last successful one.
  bool SavePendingListChanges();
  // Called after adding, deleting or importing a profile.
  void MarkListChanged() { list_changed_ = true; }
  bool list_changed() const { return list_changed_; }

  ProfileList& list() { return list_; }
  const ProfileList& list() const { return list_; }
  ProfileStoreHeader& header() { return *header_; }
  const ProfileStoreHeader& header() const { return *header_; }
  const std::filesystem::path& file() const { return file_.path(); }
  // Where the original of a store repaired on the last load is kept.
  const std::filesystem::path& damaged_copy() const { return file_.KeptFor(StoreEventKind::kRepaired); }
  // Where an unreadable store, or something that is not a file, was moved on the last load.
  const std::filesystem::path& unreadable_moved_to() const { return file_.KeptFor(StoreEventKind::kMovedAside); }
  // Where a store too large to load was put, its start being loaded.
  const std::filesystem::path& too_large_kept_as() const { return file_.KeptFor(StoreEventKind::kTooLarge); }

  // Profiles read from a repaired or cut store are unconfirmed until the user edits or applies
  // them: the list marks them, since a repair may have kept noise. Under the lock.
  bool Unconfirmed(const ProfileRecord* r) const { return unconfirmed_.count(r) != 0; }
  // True when `r` was unconfirmed. Also before a record is deleted, so its address is forgotten.
  bool Confirm(const ProfileRecord* r) { return unconfirmed_.erase(r) != 0; }

  // What the user must be told since the last call; any thread.
  std::vector<StoreEvent> TakeEvents() { return file_.TakeEvents(); }

 private:
  StoreFile file_;
  std::recursive_mutex mutex_;
  // Allocated zeroed and written only where the file differs: the reserved block is half a
  // megabyte of zeros in every store we make, and pages never written cost no memory.
  struct FreeHeader {
    void operator()(ProfileStoreHeader* h) const;
  };
  std::unique_ptr<ProfileStoreHeader, FreeHeader> header_;
  ProfileList list_;
  std::atomic<bool> list_changed_ = false;
  std::set<const ProfileRecord*> unconfirmed_;
};

// The free functions that the rest of the program calls by these names.
inline StoreLoad LoadProfileStore(ProfileStore& store) { return store.Load(); }
inline bool SaveProfileStore(ProfileStore& store) { return store.Save(); }

}  // namespace brevak
