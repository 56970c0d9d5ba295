// "bindings.txt" as found on disk: any bytes, parsed by the code that loads the bindings. Every
// binding read is one a user could make, no class is bound twice, and the saved text parses
// again, cleanly, to the same list.
#include <string>
#include <vector>

#include "fuzz/store_fuzz_util.h"
#include "store/bindings_store.h"

using namespace brevak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BindingList list;
  std::string damage;
  const StoreLoad how = ParseBindings({data, size}, list, &damage);
  if ((how == StoreLoad::kRepaired) == damage.empty()) fuzz::Fail("damage told wrong");
  if (list.size() > kMaxBindings) fuzz::Fail("more bindings than are read");
  for (size_t i = 0; i < list.size(); ++i) {
    if (!ValidWindowClass(list[i].window_class) || list[i].profile.empty()) fuzz::Fail("a binding no one could make");
  }
  const std::string text = BindingsText(list);
  BindingList again;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  if (ParseBindings({bytes, text.size()}, again) != StoreLoad::kLoaded) fuzz::Fail("saved text is damaged");
  if (again != list) fuzz::Fail("reparse differs");
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  // Files this program writes: none, a few, and odd classes and names that need escapes.
  std::vector<BindingList> lists = {
      {},
      {{"steam_app_730", u"Game"}, {"XLogo", u"Desk"}},
      {{"#leading hash", u"tab\there"}, {"back\\slash\nnew line\r", u"Ärger"}},
  };
  BindingList many;
  for (int i = 0; i < 200; ++i) many.push_back({"class_" + std::to_string(i), u"Profile"});
  lists.push_back(many);
  std::vector<std::vector<uint8_t>> seeds;
  for (const BindingList& l : lists) {
    const std::string t = BindingsText(l);
    seeds.emplace_back(t.begin(), t.end());
  }
  return seeds;
}
