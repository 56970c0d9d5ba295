#include "page/working_profile.h"

#include "platform/text.h"

namespace brevak {

ProfileRecord* WorkingProfile::Locked() {
  auto& list = store_.list();
  if (index_ < 0 || size_t(index_) >= list.size()) return nullptr;
  return list[size_t(index_)].get();
}

bool WorkingProfile::Select(int index) {
  auto lock = store_.Lock();
  if (index < 0 || size_t(index) >= store_.list().size()) return false;
  index_ = index;
  store_.header().selected_profile = index;
  return true;
}

bool WorkingProfile::Edit(const std::function<void(ProfileRecord&)>& edit) {
  auto lock = store_.Lock();
  ProfileRecord* r = Locked();
  if (!r) return false;
  edit(*r);
  return true;
}

bool WorkingProfile::Read(const std::function<void(const ProfileRecord&)>& read) {
  auto lock = store_.Lock();
  const ProfileRecord* r = Locked();
  if (!r) return false;
  read(*r);
  return true;
}

std::u16string WorkingProfile::Name() {
  std::u16string name;
  Read([&](const ProfileRecord& r) { name = FixedToString(r.name); });
  return name;
}

std::optional<ProfileRecord> WorkingProfile::Copy() {
  auto lock = store_.Lock();
  const ProfileRecord* r = Locked();
  if (!r) return std::nullopt;
  return *r;
}

}  // namespace brevak
