#include "store/record_files.h"

#include <cstring>
#include <optional>
#include <vector>

#include "platform/text.h"
#include "store/file_io.h"
#include "store/names.h"

namespace brevak {

namespace {

template <typename T>
std::span<const uint8_t> BytesOf(const T& value) {
  return {reinterpret_cast<const uint8_t*>(&value), sizeof(T)};
}

template <size_t N>
bool Terminated(const char16_t (&field)[N]) {
  return Utf16Length(field, N) < N;
}

bool ValidSteps(const MacroAction* actions, int count) {
  return count >= 0 && count <= kMaxMacroActions && IsMacroWithinLimits(actions, count);
}

}  // namespace

bool ExportProfile(const ProfileRecord& record, const std::filesystem::path& path) {
  return WriteFileAtomic(path, BytesOf(record));
}

bool ExportMacro(const MacroRecord& record, const std::filesystem::path& path) {
  return WriteFileAtomic(path, BytesOf(record));
}

bool IsValidProfileImage(std::span<const uint8_t> bytes) {
  if (bytes.size() != sizeof(ProfileRecord)) return false;
  auto r = std::make_unique<ProfileRecord>();
  std::memcpy(static_cast<void*>(r.get()), bytes.data(), sizeof(ProfileRecord));
  if (!Terminated(r->name)) return false;
  for (int i = 0; i < kPageButtons; ++i) {
    const ButtonEntry& b = r->button[i];
    if (b.function_code != kFunctionMacro) continue;
    if (!Terminated(b.macro_name) || !ValidSteps(b.macro_actions, b.macro_action_count)) return false;
  }
  return true;
}

bool IsValidMacroImage(std::span<const uint8_t> bytes) {
  if (bytes.size() != sizeof(MacroRecord)) return false;
  auto m = std::make_unique<MacroRecord>();
  std::memcpy(static_cast<void*>(m.get()), bytes.data(), sizeof(MacroRecord));
  return Terminated(m->name) && ValidSteps(m->actions, m->action_count);
}

namespace {

// A chosen file is read no further than one record and its first byte beyond: a pipe or a
// device picked in the dialog can neither hang the import nor fill the memory.
std::optional<std::vector<uint8_t>> ReadChosenFile(const std::filesystem::path& path, size_t record_size) {
  FileRead in = ReadRegularFile(path, record_size + 1);
  if (in.state != FileState::kRead) return std::nullopt;
  return std::move(in.bytes);
}

}  // namespace

ImportResult ImportProfile(ProfileStore& profiles, MacroStore& macros, const std::filesystem::path& path,
                           int* new_index) {
  auto bytes = ReadChosenFile(path, sizeof(ProfileRecord));
  if (!bytes) return ImportResult::kUnreadable;
  if (!IsValidProfileImage(*bytes)) return ImportResult::kNotAProfile;

  auto record = std::make_unique<ProfileRecord>();
  std::memcpy(static_cast<void*>(record.get()), bytes->data(), sizeof(ProfileRecord));
  auto lock = profiles.Lock();
  SetFixed(record->name, MakeUniqueName(profiles.list(), FixedView(record->name)));

  bool created = false;
  for (int i = 0; i < kPageButtons; ++i) {
    ButtonEntry& b = record->button[i];
    if (b.function_code != kFunctionMacro) continue;
    auto m = std::make_unique<MacroRecord>();
    SetFixed(m->name, MakeUniqueName(macros.list(), FixedView(b.macro_name)));
    std::memcpy(b.macro_name, m->name, sizeof b.macro_name);
    m->loop_count = b.macro_loop_count;
    m->action_count = b.macro_action_count;
    std::memcpy(m->actions, b.macro_actions, sizeof m->actions);
    macros.list().push_back(std::move(m));
    b.macro_list_index = int32_t(macros.list().size() - 1);
    created = true;
  }
  if (created) macros.Save();

  profiles.list().push_back(std::move(record));
  profiles.MarkListChanged();
  if (new_index) *new_index = int(profiles.list().size() - 1);
  return ImportResult::kImported;
}

ImportResult ImportMacro(MacroStore& macros, const std::filesystem::path& path) {
  auto bytes = ReadChosenFile(path, sizeof(MacroRecord));
  if (!bytes) return ImportResult::kUnreadable;
  if (!IsValidMacroImage(*bytes)) return ImportResult::kNotAMacro;
  auto m = std::make_unique<MacroRecord>();
  std::memcpy(static_cast<void*>(m.get()), bytes->data(), sizeof(MacroRecord));
  SetFixed(m->name, MakeUniqueName(macros.list(), FixedView(m->name)));
  macros.list().push_back(std::move(m));
  macros.Save();
  return ImportResult::kImported;
}

}  // namespace brevak
