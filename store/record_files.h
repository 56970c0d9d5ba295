#pragma once
// Single-record files: ".pro" holds one profile record image, ".macro" one macro record.
// The caller (a dialog) chooses the path.

#include <filesystem>
#include <span>

#include "store/macro_store.h"
#include "store/profile_store.h"

namespace brevak {

enum class ImportResult {
  kImported,
  kUnreadable,     // the file could not be opened or read
  kNotAProfile,    // "not a profile file": wrong length or content
  kNotAMacro,      // "not a macro file"
};

bool ExportProfile(const ProfileRecord& record, const std::filesystem::path& path);
bool ExportMacro(const MacroRecord& record, const std::filesystem::path& path);

// Checks a file image before anything is added: exact length, names terminated within
// their fields, at most 190 steps and fewer than 192 macro units in every bound macro.
bool IsValidProfileImage(std::span<const uint8_t> bytes);
bool IsValidMacroImage(std::span<const uint8_t> bytes);

// Adds the profile under a unique name (selected by the caller afterwards) and recreates
// each macro bound to its buttons in the library under a unique name; saves the library
// when a macro was created. The profile list reaches the file with the next save.
// `new_index` receives the new profile's index.
ImportResult ImportProfile(ProfileStore& profiles, MacroStore& macros, const std::filesystem::path& path,
                           int* new_index = nullptr);

// Adds the macro under a unique name and saves the library.
ImportResult ImportMacro(MacroStore& macros, const std::filesystem::path& path);

}  // namespace brevak
