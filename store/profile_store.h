#pragma once
// The profile store: the user's list of profiles and the selected index, kept in
// "<data folder>/ms_1/pro.data" as a 507,724-byte header followed by the record images.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/profile_record.h"
#include "store/file_io.h"

namespace brevak {

inline constexpr size_t kReservedBlockBytes = 507720;

struct ProfileStoreHeader {
  int32_t selected_profile;
  uint8_t reserved_block[kReservedBlockBytes];
};
static_assert(sizeof(ProfileStoreHeader) == 507724);
static_assert(offsetof(ProfileStoreHeader, reserved_block) == 4);

using ProfileList = std::vector<std::unique_ptr<ProfileRecord>>;

// The running program's folder (where the drivers, Hook and res/ live), ending in '/'.
std::u16string GetProgramFolder();

// Folder that holds "ms_1/": BREVAK_DATA_DIR when set, else $XDG_DATA_HOME/brevak/Data
// (default ~/.local/share/brevak/Data). Created when missing.
std::filesystem::path GetDataFolder();
std::filesystem::path ProfileStorePath();  // <data>/ms_1/pro.data

// Appends a reset record named after "add_profile_text" and the new list size, made unique.
ProfileRecord* AddDefaultProfile(ProfileList& list);

// How the last load went, for the page and for tests.
enum class StoreLoad {
  kLoaded,    // the file held a valid store
  kFirstRun,  // no readable file: one default profile was created and saved
  kRepaired,  // the file was damaged: its readable records were kept, the original copied aside
};

// The list, its header and the file, behind one lock: list changes and saves come from the
// window thread, the apply worker and the Bluetooth callback thread.
class ProfileStore {
 public:
  explicit ProfileStore(std::filesystem::path file = ProfileStorePath());

  // Holds the lock for a list change; saves taken while it is held wait for it.
  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  StoreLoad Load();
  // Writes header and list atomically; false when nothing could be written.
  bool Save();
  // The save that shutdown calls: writes only when the list changed since the last save.
  bool SavePendingListChanges();
  // Called after adding, deleting or importing a profile.
  void MarkListChanged() { list_changed_ = true; }
  bool list_changed() const { return list_changed_; }

  ProfileList& list() { return list_; }
  const ProfileList& list() const { return list_; }
  ProfileStoreHeader& header() { return *header_; }
  const ProfileStoreHeader& header() const { return *header_; }
  const std::filesystem::path& file() const { return file_; }
  // Where the damaged original went on the last load, if it was damaged.
  const std::filesystem::path& damaged_copy() const { return damaged_.copy(); }
  // Where an existing but unreadable store was moved on the last load.
  const std::filesystem::path& unreadable_moved_to() const { return unreadable_moved_to_; }

 private:
  std::filesystem::path file_;
  std::recursive_mutex mutex_;
  std::unique_ptr<ProfileStoreHeader> header_;
  ProfileList list_;
  DamagedOriginal damaged_;
  std::filesystem::path unreadable_moved_to_;
  std::atomic<bool> list_changed_ = false;
};

// The free functions that the rest of the program calls by these names.
inline StoreLoad LoadProfileStore(ProfileStore& store) { return store.Load(); }
inline bool SaveProfileStore(ProfileStore& store) { return store.Save(); }

}  // namespace brevak
