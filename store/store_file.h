#pragma once
// The file behind a store: bounded reads of regular files only, an unusable original put aside
// before anything is written over it, atomic writes, and the events the user is told.

#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "store/file_io.h"
#include "store/store_events.h"

namespace brevak {

enum class StoreLoad {
  kLoaded,    // the file held a valid store (or, for the macro library, there was none)
  kFirstRun,  // no usable file: the store starts anew (saved unless the file that was there
              // could not be put aside)
  kRepaired,  // damaged or too large: its readable records were kept, the original put aside
};

// An original is put aside at load; when that fails it is left in place, tried again before each
// write, and the write waits for it. Each outcome is recorded once. The owning store serialises
// the calls; TakeEvents may come from any thread.
class StoreFile {
 public:
  explicit StoreFile(std::filesystem::path path) : path_(std::move(path)), target_(path_) {}
  const std::filesystem::path& path() const { return path_; }

  // Forgets what an earlier load put aside, removes the temporaries of killed saves and copies,
  // records again the notices an earlier run could not show (their markers), and reads no
  // further than `limit` bytes. A store that is a symbolic link to a file is read, kept and
  // written at the link's target, so the link stays; a link that leads nowhere is unreadable.
  FileRead Read(size_t limit);
  // A file that is there but could not be read, or is not a file: moved aside.
  void KeepUnreadable(const FileRead& in);
  // After the parse of what was read: a file larger than the limit (`too_large` says the limit
  // in words) or one whose image was `parsed` as damaged gets a second name. True when so, and
  // the parsed list is then to be written anew.
  bool KeepIfUnusable(const FileRead& in, StoreLoad parsed, const std::string& damage, const std::string& too_large);
  // False while an original waits to be put aside: nothing may be written.
  bool may_write() const { return !pending_; }
  // Writes the image atomically once the original is safe; a failure is recorded.
  bool Write(std::span<const std::span<const uint8_t>> pieces);

  // Where the original went when it was put aside for `kind`; empty otherwise.
  const std::filesystem::path& KeptFor(StoreEventKind kind) const;
  std::vector<StoreEvent> TakeEvents() { return events_.Take(); }
  bool failing() const { return events_.failing(); }

 private:
  void Keep(const char* tag, AsideHow how, StoreEventKind kind, std::string reason);
  bool TryPutAside(std::error_code& error);
  // Records `event` with a marker beside the kept file, so a run killed before the user saw it
  // does not lose the notice.
  void RecordUntilSeen(StoreEvent event);
  void RecallUntoldNotices();
  void SaveFailed(std::string reason);
  std::filesystem::path SaveFailedMarker() const;

  // `target_` is the file itself: `path_`, or where the link `path_` leads.
  std::filesystem::path path_, target_, kept_as_;
  StoreEventLog events_;
  // What waits to be put aside, or was.
  const char* tag_ = "";
  AsideHow how_ = AsideHow::kMove;
  StoreEventKind kind_ = StoreEventKind::kRepaired;
  std::string reason_;
  bool pending_ = false;
  // Markers whose notices this run has recorded already.
  std::set<std::filesystem::path> recalled_;
  // A save-failed marker may be on disk (written by this run, or found at load): the next
  // successful save removes it.
  bool save_failed_marked_ = false;
};

}  // namespace brevak
