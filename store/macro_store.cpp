#include "store/macro_store.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "store/file_io.h"
#include "store/names.h"

namespace brevak {

namespace fs = std::filesystem;

fs::path MacroStorePath() { return GetDataFolder() / "ms_1" / "macro.data"; }

StoreLoad ParseMacroStore(std::span<const uint8_t> image, MacroList& list, std::string* damage) {
  constexpr size_t kRecord = sizeof(MacroRecord);
  list.clear();
  const size_t whole = image.size() / kRecord;
  for (size_t i = 0; i < std::min(whole, kMaxStoredMacros); ++i) {
    auto m = std::make_unique_for_overwrite<MacroRecord>();
    std::memcpy(static_cast<void*>(m.get()), image.data() + i * kRecord, kRecord);
    list.push_back(std::move(m));
  }
  const char* problem = whole > kMaxStoredMacros        ? "more macros than can be loaded"
                        : image.size() % kRecord != 0 ? "its last macro is cut off"
                                                      : nullptr;
  if (!problem) return StoreLoad::kLoaded;
  if (damage) *damage = problem;
  return StoreLoad::kRepaired;
}

std::vector<std::span<const uint8_t>> MacroStoreImage(const MacroList& list) {
  std::vector<std::span<const uint8_t>> pieces;
  pieces.reserve(list.size());
  for (const auto& m : list) pieces.emplace_back(reinterpret_cast<const uint8_t*>(m.get()), sizeof(MacroRecord));
  return pieces;
}

StoreLoad MacroStore::Load() {
  list_.clear();
  FileRead in = file_.Read(kMaxMacroStoreBytes);
  if (in.state == FileState::kMissing) return StoreLoad::kLoaded;  // no library yet
  if (in.state != FileState::kRead) {
    // The first save would replace it unseen: it goes aside now, or saves wait until it can.
    file_.KeepUnreadable(in);
    return StoreLoad::kFirstRun;
  }
  std::string damage;
  const StoreLoad how = ParseMacroStore(in.bytes, list_, &damage);
  in.bytes = {};
  if (!file_.KeepIfUnusable(in, how, damage, "more than " + std::to_string(kMaxStoredMacros) + " macros"))
    return StoreLoad::kLoaded;
  if (file_.may_write()) Save();  // the whole records, in a valid file
  return StoreLoad::kRepaired;
}

bool MacroStore::Save() { return file_.Write(MacroStoreImage(list_)); }

MacroRecord* AddMacro(MacroStore& store) {
  auto& list = store.list();
  std::u16string base = LanguageText(u"add_macro_text") + Utf8ToUtf16(std::to_string(list.size() + 1));
  auto m = std::make_unique<MacroRecord>();
  SetFixed(m->name, MakeUniqueName(list, base));
  list.push_back(std::move(m));
  store.Save();
  return list.back().get();
}

bool DeleteMacro(MacroStore& store, int index) {
  auto& list = store.list();
  if (index < 0 || size_t(index) >= list.size()) return false;
  list.erase(list.begin() + index);
  store.Save();
  return true;
}

int MatchButtonMacro(const MacroList& list, const ButtonEntry& entry) {
  const std::u16string_view name = FixedView(entry.macro_name);
  for (size_t i = 0; i < list.size(); ++i)
    if (EqualsNoCase(FixedView(list[i]->name), name)) return int(i);
  return -1;
}

namespace {

void ResetButtonToDefault(ButtonEntry& e, int slot) {
  auto* bytes = reinterpret_cast<uint8_t*>(&e);
  bytes[0] = 0;
  std::memset(bytes + 3, 0, 1072 - 3);
  std::memset(bytes + 1076, 0, sizeof(ButtonEntry) - 1076);
  e.function_code = kDefaultFunctionCodes[size_t(slot)];
  e.function_param = 0;
  e.macro_list_index = -1;
}

bool HasNameNoCase(const std::vector<std::u16string>& names, std::u16string_view name) {
  return std::any_of(names.begin(), names.end(), [&](const std::u16string& n) { return EqualsNoCase(n, name); });
}

bool SameSteps(const MacroRecord& m, const ButtonEntry& e) {
  const int count = std::min<int>(e.macro_action_count, kMaxMacroActions);
  return m.action_count == count && std::memcmp(m.actions, e.macro_actions, sizeof(MacroAction) * size_t(count)) == 0;
}

}  // namespace

void RefreshButtonCopy(ButtonEntry& e, const MacroRecord& m) {
  e.macro_action_count = uint16_t(std::clamp(m.action_count, 0, kMaxMacroActions));
  std::memset(e.macro_name, 0, sizeof e.macro_name);
  std::memcpy(e.macro_name, m.name, sizeof e.macro_name);
  std::memcpy(e.macro_actions, m.actions, sizeof e.macro_actions);
}

std::vector<std::u16string> MacroNames(const MacroList& macros) {
  std::vector<std::u16string> names;
  names.reserve(macros.size());
  for (const auto& m : macros) names.push_back(FixedToString(m->name));
  return names;
}

std::vector<std::u16string> GoneMacroNames(const std::vector<std::u16string>& before, const MacroList& after) {
  std::vector<std::u16string> gone;
  for (const std::u16string& name : before)
    if (!FindNameNoCase(after, name)) gone.push_back(name);
  return gone;
}

std::vector<std::u16string> RestoreButtonMacros(ProfileList& profiles, MacroList& macros,
                                                const std::vector<std::u16string>& gone) {
  std::vector<std::u16string> restored;
  const size_t first_new = macros.size();
  for (auto& profile : profiles) {
    for (int slot = 0; slot < kAssignableButtons; ++slot) {
      ButtonEntry& e = profile->button[slot];
      const std::u16string_view name = FixedView(e.macro_name);
      if (e.function_code != kFunctionMacro || name.empty() || HasNameNoCase(gone, name)) continue;
      const int found = MatchButtonMacro(macros, e);
      // Held by the library before: the re-link brings this copy in step with it.
      if (found >= 0 && size_t(found) < first_new) continue;
      if (found >= 0 && SameSteps(*macros[size_t(found)], e)) continue;
      auto m = std::make_unique<MacroRecord>();
      SetFixed(m->name, MakeUniqueName(macros, name));
      m->loop_count = e.macro_loop_count;
      m->action_count = std::min<int>(e.macro_action_count, kMaxMacroActions);
      std::memcpy(m->actions, e.macro_actions, sizeof m->actions);
      // Only a suffixed (or shortened) name changes the button: it keeps its own steps.
      if (FixedView(m->name) != name) RefreshButtonCopy(e, *m);
      restored.push_back(FixedToString(m->name));
      macros.push_back(std::move(m));
    }
  }
  return restored;
}

MacroSync SyncButtonMacros(ProfileList& profiles, const MacroList& macros, int current,
                           const std::vector<std::u16string>& gone) {
  MacroSync sync;
  for (size_t p = 0; p < profiles.size(); ++p) {
    for (int slot = 0; slot < kAssignableButtons; ++slot) {
      ButtonEntry& e = profiles[p]->button[slot];
      if (e.function_code != kFunctionMacro && FixedView(e.macro_name).empty()) continue;
      const ButtonEntry before = e;
      const int index = MatchButtonMacro(macros, e);
      if (index >= 0) RefreshButtonCopy(e, *macros[size_t(index)]);
      else if (HasNameNoCase(gone, FixedView(e.macro_name))) ResetButtonToDefault(e, slot);
      if (std::memcmp(&before, &e, sizeof e) == 0) continue;
      sync.any_changed = true;
      if (int(p) == current) sync.current_changed = true;
    }
  }
  return sync;
}

}  // namespace brevak
