#pragma once
// The working record: the selected profile of the profile store, edited in place by the window
// thread and sent by the apply worker. It lives in the store's list, so every access holds the
// store's lock; the calls below take it themselves, `Locked` expects the caller to hold it.

#include <functional>
#include <optional>
#include <string>

#include "model/profile_record.h"
#include "store/profile_store.h"

namespace brevak {

class WorkingProfile {
 public:
  explicit WorkingProfile(ProfileStore& store) : store_(store) {}
  WorkingProfile(const WorkingProfile&) = delete;
  WorkingProfile& operator=(const WorkingProfile&) = delete;

  ProfileStore& store() { return store_; }
  std::unique_lock<std::recursive_mutex> Lock() { return store_.Lock(); }

  // The record, or null while no profile is selected (before the store is loaded). The caller
  // holds the store's lock.
  ProfileRecord* Locked();
  // Makes `index` the selected profile, in the store's header too; false (nothing changed) for
  // an index outside the list.
  bool Select(int index);

  // `edit` runs under the lock; false (and `edit` not called) while no profile is selected.
  bool Edit(const std::function<void(ProfileRecord&)>& edit);
  bool Read(const std::function<void(const ProfileRecord&)>& read);
  std::optional<ProfileRecord> Copy();
  // The selected profile's name; empty while none is selected.
  std::u16string Name();

 private:
  ProfileStore& store_;
  int index_ = -1;  // guarded by the store's lock
};

}  // namespace brevak
