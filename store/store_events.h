#pragma once
// What happened to a store file that the user must hear about: a repair, a file moved
// aside, a save that failed. The stores record; the window thread takes and shows.

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace brevak {

enum class StoreEventKind {
  kRepaired,     // damaged: its readable records were kept, the original is kept as `kept_as`
  kMovedAside,   // unreadable or not a regular file: moved to `kept_as`, the store starts anew
  kLeftInPlace,  // unusable and could not be put aside: left untouched, nothing is written over it
  kTooLarge,     // larger than any plausible store: the original is kept as `kept_as`, its start loaded
  kSaveFailed,   // a save wrote nothing; the list stays in memory and the next save tries again
};

struct StoreEvent {
  StoreEventKind kind;
  std::filesystem::path file;     // the store file concerned ("pro.data" or "macro.data")
  std::filesystem::path kept_as;  // where the original now is (empty when not moved/copied)
  std::string reason;             // short English reason for the user, may be empty
  // A small file that keeps the notice due until the user has seen it (empty: none). A start
  // that finds one tells the notice again; ForgetStoreNotice removes it once it was shown.
  std::filesystem::path marker;
  bool earlier_run = false;  // recorded by a run that ended before the user saw it
};

// The user has seen `event`: its marker goes, so no later start tells it again.
void ForgetStoreNotice(const StoreEvent& event);

// Events since the last Take, safe from any thread: saves run on the apply worker and the
// Bluetooth thread while the window thread takes.
class StoreEventLog {
 public:
  void Record(StoreEvent event);
  // Recorded once per streak of failed saves: until a save succeeds, further failures add nothing.
  void SaveFailed(const std::filesystem::path& file, std::string reason, std::filesystem::path marker = {});
  void SaveSucceeded();
  // True from a failed save until the next successful one.
  bool failing() const;
  std::vector<StoreEvent> Take();

 private:
  mutable std::mutex mutex_;
  std::vector<StoreEvent> events_;
  bool failing_ = false;
};

}  // namespace brevak
