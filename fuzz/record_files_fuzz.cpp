// ".pro" and ".macro" files chosen by the user: any bytes. An import either refuses the file
// and changes nothing, or adds exactly one record under a unique, terminated name (and, for a
// profile, one library macro per macro button, each uniquely named).
#include <cstring>
#include <vector>

#include "fuzz/store_fuzz_util.h"
#include "platform/text.h"
#include "store/names.h"
#include "store/record_files.h"

using namespace brevak;

namespace {

template <size_t N>
bool Terminated(const char16_t (&field)[N]) {
  for (char16_t c : field)
    if (c == 0) return true;
  return false;
}

template <typename List>
void ExpectUniqueNames(const List& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (!Terminated(list[i]->name)) fuzz::Fail("name not terminated");
    for (size_t j = 0; j < i; ++j)
      if (EqualsNoCase(FixedView(list[i]->name), FixedView(list[j]->name))) fuzz::Fail("names not unique");
  }
}

#ifndef FUZZ_MACRO_FILE
// A library and a profile list that already hold the names imports most often collide with.
void Prepare(ProfileStore& profiles, MacroStore& macros) {
  profiles.Load();
  SetFixed(profiles.list()[0]->name, u"Game");
  macros.Load();
  SetFixed(AddMacro(macros)->name, u"Fire");
  macros.Save();
}

int FuzzProfile(const uint8_t* data, size_t size) {
  const auto& folder = fuzz::FreshFolder();
  ProfileStore profiles(folder / "pro.data");
  MacroStore macros(folder / "macro.data");
  Prepare(profiles, macros);
  const auto library_before = fuzz::ReadBack(macros.file());
  const auto path = folder / "in.pro";
  fuzz::WriteInput(path, data, size);

  int index = -1;
  const ImportResult result = ImportProfile(profiles, macros, path, &index);
  const bool valid = IsValidProfileImage({data, size});
  if ((result == ImportResult::kImported) != valid) fuzz::Fail("import decision differs from validation");
  if (!valid) {
    if (result != ImportResult::kNotAProfile || profiles.list().size() != 1 || macros.list().size() != 1 ||
        fuzz::ReadBack(macros.file()) != library_before)
      fuzz::Fail("refused profile changed something");
    return 0;
  }
  if (profiles.list().size() != 2 || index != 1) fuzz::Fail("profile not appended");
  ExpectUniqueNames(profiles.list());
  ExpectUniqueNames(macros.list());
  const ProfileRecord& added = *profiles.list()[1];
  size_t macro_buttons = 0;
  for (int i = 0; i < kPageButtons; ++i) {
    const ButtonEntry& b = added.button[i];
    if (b.function_code != kFunctionMacro) continue;
    ++macro_buttons;
    const int at = b.macro_list_index;
    if (at < 1 || size_t(at) >= macros.list().size() || !EqualsNoCase(FixedView(b.macro_name), FixedView(macros.list()[at]->name)))
      fuzz::Fail("button not bound to its recreated macro");
    if (std::memcmp(b.macro_actions, macros.list()[at]->actions, sizeof b.macro_actions) != 0) fuzz::Fail("steps differ");
  }
  if (macros.list().size() != 1 + macro_buttons) fuzz::Fail("library did not grow by one per macro button");
  if (macro_buttons == 0 && fuzz::ReadBack(macros.file()) != library_before) fuzz::Fail("library touched");
  return 0;
}

#else
int FuzzMacro(const uint8_t* data, size_t size) {
  const auto& folder = fuzz::FreshFolder();
  MacroStore macros(folder / "macro.data");
  macros.Load();
  SetFixed(AddMacro(macros)->name, u"Fire");
  macros.Save();
  const auto path = folder / "in.macro";
  fuzz::WriteInput(path, data, size);
  const ImportResult result = ImportMacro(macros, path);
  const bool valid = IsValidMacroImage({data, size});
  if ((result == ImportResult::kImported) != valid) fuzz::Fail("import decision differs from validation");
  if (macros.list().size() != (valid ? 2u : 1u)) fuzz::Fail("library size wrong");
  ExpectUniqueNames(macros.list());
  MacroStore again(macros.file());
  if (again.Load() != StoreLoad::kLoaded || again.list().size() != macros.list().size()) fuzz::Fail("library not saved");
  return 0;
}
#endif

}  // namespace

// Built twice: as the ".pro" target and, with FUZZ_MACRO_FILE, as the ".macro" target.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#ifdef FUZZ_MACRO_FILE
  return FuzzMacro(data, size);
#else
  return FuzzProfile(data, size);
#endif
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  // Files this program exports: a plain profile, one with two macro buttons, a macro.
  std::vector<std::vector<uint8_t>> seeds;
  const auto& folder = fuzz::FreshFolder();
  auto profile = NewProfileRecord(u"Game");
  ExportProfile(*profile, folder / "a.pro");
  seeds.push_back(fuzz::ReadBack(folder / "a.pro"));
  for (int i : {2, 5}) {
    ButtonEntry& b = profile->button[i];
    b.function_code = kFunctionMacro;
    SetFixed(b.macro_name, u"Fire");
    b.macro_action_count = 2;
    b.macro_actions[0].kind = 1, b.macro_actions[0].code = 4, b.macro_actions[0].delay = 10;
    b.macro_actions[1].kind = 2, b.macro_actions[1].code = 4, b.macro_actions[1].delay = 200;
  }
  ExportProfile(*profile, folder / "b.pro");
  seeds.push_back(fuzz::ReadBack(folder / "b.pro"));
  auto macro = std::make_unique<MacroRecord>();
  std::memset(static_cast<void*>(macro.get()), 0, sizeof(MacroRecord));
  SetFixed(macro->name, u"fire");
  macro->action_count = 1;
  macro->actions[0].kind = 1, macro->actions[0].code = 5, macro->actions[0].delay = 50;
  ExportMacro(*macro, folder / "c.macro");
  seeds.push_back(fuzz::ReadBack(folder / "c.macro"));
  return seeds;
}
