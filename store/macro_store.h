#pragma once
// The macro library, kept in "<data folder>/ms_1/macro.data" as record images back to back.

#include <filesystem>
#include <memory>
#include <vector>

#include "model/macro_record.h"
#include "model/profile_record.h"
#include "store/file_io.h"
#include "store/profile_store.h"

namespace brevak {

using MacroList = std::vector<std::unique_ptr<MacroRecord>>;

std::filesystem::path MacroStorePath();  // <data>/ms_1/macro.data

class MacroStore {
 public:
  explicit MacroStore(std::filesystem::path file = MacroStorePath()) : file_(std::move(file)) {}

  StoreLoad Load();  // kLoaded (also for no file: an empty library) or kRepaired
  bool Save();

  MacroList& list() { return list_; }
  const MacroList& list() const { return list_; }
  const std::filesystem::path& file() const { return file_; }
  const std::filesystem::path& damaged_copy() const { return damaged_.copy(); }

 private:
  std::filesystem::path file_;
  MacroList list_;
  DamagedOriginal damaged_;
};

inline StoreLoad LoadMacroStore(MacroStore& store) { return store.Load(); }
inline bool SaveMacroStore(MacroStore& store) { return store.Save(); }

// A zeroed macro named after "add_macro_text" and the new list size, appended and saved.
MacroRecord* AddMacro(MacroStore& store);
// Removes the macro at `index` and saves; false for an index outside the list.
bool DeleteMacro(MacroStore& store, int index);
// Index of the macro whose name equals the button's macro name ignoring case, or -1.
int MatchButtonMacro(const MacroList& list, const ButtonEntry& entry);

// Brings the button copies of every profile in step with the library after the macro
// editor closed: buttons whose macro is gone get their default function back, the others
// take the library's steps. True when the profile at `current` was touched.
bool SyncButtonMacros(ProfileList& profiles, const MacroList& macros, int current);

}  // namespace brevak
