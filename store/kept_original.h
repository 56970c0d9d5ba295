#pragma once
// A store file that cannot be used as it is (damaged, unreadable, not a file, too large) and
// must be put aside before anything is written over it.

#include <filesystem>
#include <string>

#include "store/file_io.h"
#include "store/store_events.h"

namespace brevak {

// Put aside at load; when that fails the file is left in place and tried again before each
// save, which waits for it. Each outcome is recorded once in the store's events. Used under
// the lock of the store that owns it.
class KeptOriginal {
 public:
  explicit KeptOriginal(StoreEventLog& events) : events_(events) {}

  // `kind` is recorded with the new name once the file is put aside; `reason` says what is
  // wrong with it. False when it had to be left in place.
  bool Keep(const std::filesystem::path& file, const char* tag, AsideHow how, StoreEventKind kind,
            std::string reason);
  // True when the file may be written over; else `why` tells what stops it.
  bool Secured(std::string& why);
  bool pending() const { return pending_; }
  // Where the original went, for the kind of event it was kept for; empty otherwise.
  const std::filesystem::path& KeptFor(StoreEventKind kind) const;
  void Reset();

 private:
  bool TryPutAside(std::error_code& error);

  StoreEventLog& events_;
  std::filesystem::path file_, kept_as_;
  std::string tag_, reason_;
  AsideHow how_ = AsideHow::kMove;
  StoreEventKind kind_ = StoreEventKind::kRepaired;
  bool pending_ = false;
};

}  // namespace brevak
