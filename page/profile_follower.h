#pragma once
// A profile per program: which profile the mouse should have follows the active window. A
// window of a bound program that stays active for a moment gets its profile; any other window
// brings back the profile the user chose by hand. No X and no Qt here: the window comes from
// whoever watches the desktop, time from the platform's timers, the switch from the page.

#include <string>

#include "platform/winapi.h"

namespace brevak {

// The active window as the desktop names its program (WM_CLASS); both empty for none.
struct ActiveWindow {
  std::string instance, window_class;
  bool ours = false;  // a window of this program: it changes nothing
};

// What the follower asks of the program.
class FollowerHost {
 public:
  virtual ~FollowerHost() = default;
  // A dialog of ours is open or a write runs: a switch waits until neither is so.
  virtual bool Busy() = 0;
  // The selected profile's name.
  virtual std::u16string Selected() = 0;
  // The profile bound to `w`'s program; empty when it is bound to none.
  virtual std::u16string BoundProfile(const ActiveWindow& w) = 0;
  // Switches to the profile named `name` as the user's switch does (a full write); false when
  // no profile has that name.
  virtual bool SwitchTo(const std::u16string& name) = 0;
};

class ProfileFollower {
 public:
  // How long a window stays active before its profile is written: a storm of activations
  // (alt-tab held down, a launcher flashing by) writes once, for the window it ends on.
  static constexpr DWORD kSettleMs = 1000;
  // While busy, how often the follower looks again.
  static constexpr DWORD kBusyRetryMs = 250;

  // Runs its timers on the calling thread (the window thread).
  explicit ProfileFollower(FollowerHost& host);
  ~ProfileFollower();
  ProfileFollower(const ProfileFollower&) = delete;
  ProfileFollower& operator=(const ProfileFollower&) = delete;

  // The desktop's active window changed.
  void Activated(const ActiveWindow& w);
  // The bindings changed: the active window is weighed again, after the same moment.
  void Reconsider();
  // A profile was renamed: the hand choice follows it.
  void Renamed(const std::u16string& from, const std::u16string& to);
  // The profile the user chose by hand, as last seen (tests and the window's note).
  const std::u16string& hand_choice() const { return hand_; }

 private:
  void Decide();

  FollowerHost& host_;
  HWND window_ = nullptr;
  ActiveWindow active_;
  bool seen_ = false;       // a window was reported since the start
  std::u16string hand_;     // the profile the user chose by hand
  std::u16string switched_to_;  // the profile the follower switched to last; empty: none
};

}  // namespace brevak
