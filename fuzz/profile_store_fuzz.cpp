// "pro.data" as found on disk: any bytes, parsed by the code that loads the store. Whatever the
// image holds, the parse keeps every complete record it carries (up to the store's limit) and
// its reserved block, takes it as valid only when it is, ends with a valid selection, and its
// saved image parses again to the same list.
//
// An input whose first byte is odd is the image itself (so images cut anywhere in the header
// are reached). One whose first byte is even leaves out the half-megabyte reserved block, which
// the parse only carries: four bytes of selection, then the records, with a fixed pattern put
// in between. Inputs stay small enough for thousands of runs a second.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/store_fuzz_util.h"
#include "store/profile_store.h"

using namespace brevak;

namespace {

constexpr size_t kHeader = sizeof(ProfileStoreHeader), kRecord = sizeof(ProfileRecord);
constexpr size_t kSelection = sizeof(ProfileStoreHeader::selected_profile);
constexpr uint8_t kWholeImage = 1;

std::span<const uint8_t> ImageOf(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  // Fewer bytes than a selection are the same cut header either way.
  if ((data[0] & kWholeImage) || size - 1 < kSelection) return {data + 1, size - 1};
  static std::vector<uint8_t> image = [] {
    std::vector<uint8_t> header(kHeader);
    for (size_t i = 0; i < kReservedBlockBytes; ++i) header[kSelection + i] = uint8_t(i * 131 + 7);
    return header;
  }();
  image.resize(kHeader);  // the pattern stays from the first input on
  std::memcpy(image.data(), data + 1, kSelection);
  image.insert(image.end(), data + 1 + kSelection, data + size);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t input_size) {
  // Kept across inputs: half a megabyte each.
  static const auto header = std::make_unique<ProfileStoreHeader>();
  static const auto again_header = std::make_unique<ProfileStoreHeader>();
  const std::span<const uint8_t> image = ImageOf(input, input_size);
  const uint8_t* data = image.data();
  const size_t size = image.size();

  ProfileList list;
  const StoreLoad how = ParseProfileStore({data, size}, *header, list);
  if (list.empty() || list.size() > kMaxStoredProfiles) fuzz::Fail("list empty or beyond the limit");
  const int32_t sel = header->selected_profile;
  if (sel < 0 || size_t(sel) >= list.size()) fuzz::Fail("selection outside the list");

  const size_t complete = size > kHeader ? (size - kHeader) / kRecord : 0;
  const size_t kept = std::min(complete, kMaxStoredProfiles);
  if (kept > 0 && list.size() != kept) fuzz::Fail("complete records lost or invented");
  for (size_t i = 0; i < kept; ++i)
    if (std::memcmp(list[i].get(), data + kHeader + i * kRecord, kRecord) != 0) fuzz::Fail("record changed");
  if (size >= kHeader && std::memcmp(header->reserved_block, data + 4, kReservedBlockBytes) != 0)
    fuzz::Fail("reserved block changed");

  int32_t stored_sel = 0;
  if (size >= sizeof stored_sel) std::memcpy(&stored_sel, data, sizeof stored_sel);
  const bool valid = size == kHeader + complete * kRecord && complete > 0 && complete <= kMaxStoredProfiles &&
                     stored_sel >= 0 && size_t(stored_sel) < complete;
  if ((how == StoreLoad::kLoaded) != valid) fuzz::Fail("repair decision wrong");

  const std::vector<uint8_t>& saved = fuzz::Concatenate(ProfileStoreImage(*header, list));
  ProfileList again;
  if (ParseProfileStore(saved, *again_header, again) != StoreLoad::kLoaded) fuzz::Fail("saved image is not valid");
  if (again.size() != list.size() || again_header->selected_profile != sel) fuzz::Fail("reparse differs");
  for (size_t i = 0; i < list.size(); ++i)
    if (!SameProfileBytes(*again[i], *list[i])) fuzz::Fail("reparsed record differs");
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  // Images this program writes, without their reserved block: a first run, and three profiles
  // with the last selected; and the start of a header.
  std::vector<std::vector<uint8_t>> seeds;
  auto header = std::make_unique<ProfileStoreHeader>();
  for (int n : {1, 3}) {
    std::memset(header.get(), 0, sizeof(ProfileStoreHeader));
    ProfileList list;
    while (list.size() < size_t(n)) AddDefaultProfile(list);
    header->selected_profile = n - 1;
    const std::vector<uint8_t>& image = fuzz::Concatenate(ProfileStoreImage(*header, list));
    std::vector<uint8_t> seed = {0};
    seed.insert(seed.end(), image.begin(), image.begin() + kSelection);
    seed.insert(seed.end(), image.begin() + kHeader, image.end());
    seeds.push_back(std::move(seed));
  }
  seeds.push_back({kWholeImage, 2, 0, 0, 0, 0xAB, 0xCD});
  return seeds;
}
