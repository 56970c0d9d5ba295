// "macro.data" as found on disk: any bytes, parsed by the code that loads the library. The
// parse keeps every whole record (up to the library's limit), takes the image as valid only
// when it is, and the saved image parses again to the same list.
#include <cstring>
#include <vector>

#include "fuzz/store_fuzz_util.h"
#include "platform/text.h"
#include "store/macro_store.h"

using namespace brevak;

constexpr size_t kRecord = sizeof(MacroRecord);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MacroList list;
  const StoreLoad how = ParseMacroStore({data, size}, list);
  const size_t whole = size / kRecord;
  if (list.size() != std::min(whole, kMaxStoredMacros)) fuzz::Fail("whole records lost or invented");
  for (size_t i = 0; i < list.size(); ++i)
    if (std::memcmp(list[i].get(), data + i * kRecord, kRecord) != 0) fuzz::Fail("record changed");
  if ((how == StoreLoad::kRepaired) != (size % kRecord != 0 || whole > kMaxStoredMacros))
    fuzz::Fail("repair decision wrong");

  // Matching a button against whatever names the library holds must stay in bounds.
  ButtonEntry probe{};
  SetFixed(probe.macro_name, u"macro");
  const int match = MatchButtonMacro(list, probe);
  if (match < -1 || match >= int(list.size())) fuzz::Fail("match outside the list");

  const std::vector<uint8_t>& saved = fuzz::Concatenate(MacroStoreImage(list));
  MacroList again;
  if (ParseMacroStore(saved, again) != StoreLoad::kLoaded || again.size() != list.size()) fuzz::Fail("reparse differs");
  if (!saved.empty() && std::memcmp(saved.data(), data, saved.size()) != 0) fuzz::Fail("saved image differs");
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  // Libraries this program writes: one macro with steps, two, and a hundred (so the fuzzer's
  // length cap, taken from the largest seed, leaves room for many).
  std::vector<std::vector<uint8_t>> seeds;
  MacroList list;
  auto m = std::make_unique<MacroRecord>();
  SetFixed(m->name, u"add_macro_text1");
  m->action_count = 3;
  m->actions[0].kind = 1, m->actions[0].code = 4, m->actions[0].delay = 10;
  m->actions[1].kind = 2, m->actions[1].code = 4, m->actions[1].delay = 200;
  m->actions[2].kind = 0, m->actions[2].x = -5, m->actions[2].y = 7;
  list.push_back(std::move(m));
  seeds.push_back(fuzz::Concatenate(MacroStoreImage(list)));
  while (list.size() < 100) {
    auto next = std::make_unique<MacroRecord>(*list.back());
    SetFixed(next->name, u"add_macro_text" + Utf8ToUtf16(std::to_string(list.size() + 1)));
    list.push_back(std::move(next));
    if (list.size() == 2) seeds.push_back(fuzz::Concatenate(MacroStoreImage(list)));
  }
  seeds.push_back(fuzz::Concatenate(MacroStoreImage(list)));
  return seeds;
}
