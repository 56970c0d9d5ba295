#pragma once
// The macro library, kept in "<data folder>/ms_1/macro.data" as record images back to back.

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/macro_record.h"
#include "model/profile_record.h"
#include "store/profile_store.h"
#include "store/store_events.h"
#include "store/store_file.h"

namespace brevak {

using MacroList = std::vector<std::unique_ptr<MacroRecord>>;

std::filesystem::path MacroStorePath();  // <data>/ms_1/macro.data

// More macros than anyone keeps: a larger "macro.data" is put aside and only its start loaded.
inline constexpr size_t kMaxStoredMacros = 10000;
inline constexpr size_t kMaxMacroStoreBytes = kMaxStoredMacros * sizeof(MacroRecord);

// Reads a "macro.data" image into `list`, replacing what it held: every whole record up to
// kMaxStoredMacros. kLoaded for a valid image, else kRepaired with what was wrong in `damage`.
StoreLoad ParseMacroStore(std::span<const uint8_t> image, MacroList& list, std::string* damage = nullptr);
// The image a save writes: each record, as pieces pointing into `list`.
std::vector<std::span<const uint8_t>> MacroStoreImage(const MacroList& list);

class MacroStore {
 public:
  explicit MacroStore(std::filesystem::path file = MacroStorePath()) : file_(std::move(file)) {}

  // kLoaded (also for no file: an empty library), kRepaired (damaged or too large: its whole
  // records kept, the original put aside) or kFirstRun (unreadable or not a file: an empty
  // library, the file moved aside, or left in place with saves waiting until it can be moved).
  StoreLoad Load();
  // False when nothing could be written (recorded as an event).
  bool Save();

  MacroList& list() { return list_; }
  const MacroList& list() const { return list_; }
  const std::filesystem::path& file() const { return file_.path(); }
  const std::filesystem::path& damaged_copy() const { return file_.KeptFor(StoreEventKind::kRepaired); }
  const std::filesystem::path& unreadable_moved_to() const { return file_.KeptFor(StoreEventKind::kMovedAside); }
  const std::filesystem::path& too_large_kept_as() const { return file_.KeptFor(StoreEventKind::kTooLarge); }

  // What the user must be told since the last call; any thread.
  std::vector<StoreEvent> TakeEvents() { return file_.TakeEvents(); }

 private:
  StoreFile file_;
  MacroList list_;
};

inline StoreLoad LoadMacroStore(MacroStore& store) { return store.Load(); }
inline bool SaveMacroStore(MacroStore& store) { return store.Save(); }

// A zeroed macro named after "add_macro_text" and the new list size, appended and saved.
MacroRecord* AddMacro(MacroStore& store);
// Removes the macro at `index` and saves; false for an index outside the list.
bool DeleteMacro(MacroStore& store, int index);
// Index of the macro whose name equals the button's macro name ignoring case, or -1.
int MatchButtonMacro(const MacroList& list, const ButtonEntry& entry);

// The button's copy of a library macro: its name, step count and steps (the assignment's
// mode, loop count and index are the caller's).
void RefreshButtonCopy(ButtonEntry& entry, const MacroRecord& macro);

// The buttons that the re-link after the macro editor looks at (buttons 1..12).
inline constexpr int kAssignableButtons = 12;

std::vector<std::u16string> MacroNames(const MacroList& macros);
// The names of `before` that `after` no longer holds (ignoring case): what the user deleted or
// renamed in the macro editor.
std::vector<std::u16string> GoneMacroNames(const std::vector<std::u16string>& before, const MacroList& after);

// A button's macro copy is the user's data too: each macro that a button of buttons 1..12 holds
// (the macro function, a name) and the library lacks, unless its name is in `gone`, is put back
// into the library from the button's copy, under its name. A second button with the same name
// but other steps gets its own macro under a unique name, written back into that button.
// Returns the names added, in order; the caller saves both stores when there are any.
std::vector<std::u16string> RestoreButtonMacros(ProfileList& profiles, MacroList& macros,
                                                const std::vector<std::u16string>& gone = {});

struct MacroSync {
  bool current_changed = false;  // the profile at `current`
  bool any_changed = false;      // any profile
};
// Brings the button copies of every profile in step with the library after the macro editor
// closed: a button whose macro name is in `gone` gets its default function back, one whose
// macro the library holds takes its steps; any other is left as it is (RestoreButtonMacros
// first puts such macros back).
MacroSync SyncButtonMacros(ProfileList& profiles, const MacroList& macros, int current,
                           const std::vector<std::u16string>& gone);

}  // namespace brevak
