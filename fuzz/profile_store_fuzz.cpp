// "pro.data" as found on disk: any bytes. Whatever the file holds, loading keeps every
// complete record it carries, keeps a damaged original aside byte for byte, ends with a
// valid selection and leaves a file that loads again to the same list.
#include <cstring>
#include <vector>

#include "fuzz/store_fuzz_util.h"
#include "platform/text.h"
#include "store/profile_store.h"

using namespace brevak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto file = fuzz::FreshFolder() / "pro.data";
  fuzz::WriteInput(file, data, size);

  ProfileStore store(file);
  const StoreLoad how = store.Load();
  const auto& list = store.list();
  if (list.empty()) fuzz::Fail("empty list after load");
  const int32_t sel = store.header().selected_profile;
  if (sel < 0 || size_t(sel) >= list.size()) fuzz::Fail("selection outside the list");

  constexpr size_t kHeader = sizeof(ProfileStoreHeader), kRecord = sizeof(ProfileRecord);
  const size_t complete = size > kHeader ? (size - kHeader) / kRecord : 0;
  if (complete > 0 && list.size() != complete) fuzz::Fail("complete records lost or invented");
  for (size_t i = 0; i < complete; ++i)
    if (std::memcmp(list[i].get(), data + kHeader + i * kRecord, kRecord) != 0) fuzz::Fail("record changed");

  if (how == StoreLoad::kRepaired && fuzz::ReadBack(store.damaged_copy()) != std::vector<uint8_t>(data, data + size))
    fuzz::Fail("damaged original not kept byte for byte");
  if (how == StoreLoad::kLoaded && size != kHeader + complete * kRecord) fuzz::Fail("damaged file taken as valid");

  ProfileStore again(file);
  if (again.Load() != StoreLoad::kLoaded) fuzz::Fail("saved store does not load cleanly");
  if (again.list().size() != list.size() || again.header().selected_profile != sel) fuzz::Fail("reload differs");
  for (size_t i = 0; i < list.size(); ++i)
    if (!SameProfileBytes(*again.list()[i], *list[i])) fuzz::Fail("reloaded record differs");
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  // Stores this program writes: a first run, and three named profiles with the second selected.
  std::vector<std::vector<uint8_t>> seeds;
  for (int n : {1, 3}) {
    const auto file = fuzz::FreshFolder() / "pro.data";
    ProfileStore store(file);
    store.Load();
    while (store.list().size() < size_t(n)) AddDefaultProfile(store.list());
    store.header().selected_profile = n - 1;
    store.Save();
    seeds.push_back(fuzz::ReadBack(file));
  }
  return seeds;
}
