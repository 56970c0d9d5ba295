// "macro.data" as found on disk: any bytes. Loading keeps every whole record, keeps a
// cut-off original aside byte for byte, and leaves a file that loads again to the same list.
#include <cstring>
#include <vector>

#include "fuzz/store_fuzz_util.h"
#include "platform/text.h"
#include "store/macro_store.h"

using namespace brevak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto file = fuzz::FreshFolder() / "macro.data";
  fuzz::WriteInput(file, data, size);

  MacroStore store(file);
  const StoreLoad how = store.Load();
  constexpr size_t kRecord = sizeof(MacroRecord);
  if (store.list().size() != size / kRecord) fuzz::Fail("whole records lost or invented");
  for (size_t i = 0; i < store.list().size(); ++i)
    if (std::memcmp(store.list()[i].get(), data + i * kRecord, kRecord) != 0) fuzz::Fail("record changed");
  if ((how == StoreLoad::kRepaired) != (size % kRecord != 0)) fuzz::Fail("repair decision wrong");
  if (how == StoreLoad::kRepaired && fuzz::ReadBack(store.damaged_copy()) != std::vector<uint8_t>(data, data + size))
    fuzz::Fail("damaged original not kept byte for byte");

  // Matching a button against whatever names the library holds must stay in bounds.
  ButtonEntry probe{};
  SetFixed(probe.macro_name, u"macro");
  const int match = MatchButtonMacro(store.list(), probe);
  if (match < -1 || match >= int(store.list().size())) fuzz::Fail("match outside the list");

  MacroStore again(file);
  if (again.Load() != StoreLoad::kLoaded || again.list().size() != store.list().size()) fuzz::Fail("reload differs");
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  const auto file = fuzz::FreshFolder() / "macro.data";
  MacroStore store(file);
  store.Load();
  MacroRecord* m = AddMacro(store);
  m->action_count = 3;
  m->actions[0].kind = 1, m->actions[0].code = 4, m->actions[0].delay = 10;
  m->actions[1].kind = 2, m->actions[1].code = 4, m->actions[1].delay = 200;
  m->actions[2].kind = 0, m->actions[2].x = -5, m->actions[2].y = 7;
  store.Save();
  seeds.push_back(fuzz::ReadBack(file));
  AddMacro(store);
  seeds.push_back(fuzz::ReadBack(file));
  return seeds;
}
