#include "page/profile_follower.h"

#include "platform/loop.h"
#include "platform/text.h"

namespace brevak {

namespace {
constexpr UINT_PTR kTimerSettle = 1;
constexpr UINT_PTR kTimerBusy = 2;
}  // namespace

ProfileFollower::ProfileFollower(FollowerHost& host) : host_(host) {
  window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
    if (msg == WM_TIMER && (w == kTimerSettle || w == kTimerBusy)) {
      KillTimer(window_, w);
      Decide();
    }
    return 0;
  });
}

ProfileFollower::~ProfileFollower() {
  KillTimer(window_, kTimerSettle);
  KillTimer(window_, kTimerBusy);
  DestroyWindow(window_);
}

void ProfileFollower::Activated(const ActiveWindow& w) {
  if (w.ours) return;
  active_ = w;
  seen_ = true;
  Reconsider();
}

void ProfileFollower::Reconsider() {
  if (!seen_) return;
  // Each activation starts the moment again: only the window the desktop settles on counts.
  KillTimer(window_, kTimerBusy);
  SetTimer(window_, kTimerSettle, kSettleMs, nullptr);
}

void ProfileFollower::Renamed(const std::u16string& from, const std::u16string& to) {
  if (EqualsNoCase(hand_, from)) hand_ = to;
  if (EqualsNoCase(switched_to_, from)) switched_to_ = to;
}

void ProfileFollower::Decide() {
  if (host_.Busy()) {
    SetTimer(window_, kTimerBusy, kBusyRetryMs, nullptr);
    return;
  }
  const std::u16string selected = host_.Selected();
  // Anything but our own last switch put the selection there: the user (the list, brevak-ctl,
  // an add or import), so it is the hand choice now.
  if (switched_to_.empty() || !EqualsNoCase(selected, switched_to_)) hand_ = selected;
  std::u16string target = host_.BoundProfile(active_);
  if (target.empty()) target = hand_;
  if (target.empty() || EqualsNoCase(target, selected)) return;
  if (host_.SwitchTo(target)) {
    switched_to_ = target;
  } else if (EqualsNoCase(target, hand_)) {
    // The hand choice is gone (deleted): what is selected now stands in for it.
    hand_ = selected;
  }
}

}  // namespace brevak
