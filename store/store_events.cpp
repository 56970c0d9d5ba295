#include "store/store_events.h"

#include <utility>

namespace brevak {

void ForgetStoreNotice(const StoreEvent& event) {
  std::error_code ignored;
  if (!event.marker.empty()) std::filesystem::remove(event.marker, ignored);
}

void StoreEventLog::Record(StoreEvent event) {
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(event));
}

void StoreEventLog::SaveFailed(const std::filesystem::path& file, std::string reason, std::filesystem::path marker) {
  std::lock_guard lock(mutex_);
  if (failing_) return;
  failing_ = true;
  events_.push_back({StoreEventKind::kSaveFailed, file, {}, std::move(reason), std::move(marker)});
}

void StoreEventLog::SaveSucceeded() {
  std::lock_guard lock(mutex_);
  failing_ = false;
}

bool StoreEventLog::failing() const {
  std::lock_guard lock(mutex_);
  return failing_;
}

std::vector<StoreEvent> StoreEventLog::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(events_, {});
}

}  // namespace brevak
