#pragma once
// The apply worker: one thread with its own message loop that writes the changed groups of the
// working record to the mouse (everything after a profile switch), saves the profile store and
// remembers what was written.
//
// The worker owns the last-applied copy and the groups that did not reach the mouse, both
// guarded by the profile store's lock. The worker replaces them at the end of each apply; the
// window thread changes them only through Reset (a profile loaded at start-up) and
// KeepMouseChange (a setting the mouse changed itself, from a status report), so the mouse's
// own change is stored and not written back.
//
// No Qt and no controls: the worker reports to a window by message (kMsgApplyIndicator) and to
// its owner by a listener, so it serves the program and a client without windows alike.

#include <atomic>
#include <functional>
#include <memory>

#include "model/profile_record.h"
#include "page/working_profile.h"
#include "platform/winapi.h"
#include "protocol/carriage.h"
#include "protocol/driver_binding.h"
#include "protocol/transport.h"

namespace brevak {

// How one apply request ended.
struct ApplyReport {
  bool ran = false;         // false: dropped, since no connection answered (or the mouse is silent)
  bool full_write = false;  // everything was sent, after a profile switch
  ChangeGroups sent;        // the groups sent
  ChangeGroups pending;     // the groups that did not reach the mouse; the next apply sends them again
  bool full_write_pending = false;  // the full write did not arrive whole and is repeated whole
  bool saved = false;               // the profile store was written
};

class ApplyWorker {
 public:
  ApplyWorker(WorkingProfile& working, const TransportFlags& flags, const BoundBuilds& builds,
              std::atomic<int32_t>& ack);
  ~ApplyWorker();
  ApplyWorker(const ApplyWorker&) = delete;
  ApplyWorker& operator=(const ApplyWorker&) = delete;

  // Called on the worker thread at the end of every request it takes, run or dropped. Set it
  // before Start.
  void SetListener(std::function<void(const ApplyReport&)> listener) { listener_ = std::move(listener); }

  // Starts the thread. `window` is shown the busy indicator (kMsgApplyIndicator, wParam 1 then
  // 0) and owns the receivers' watchdog timers, which an apply stops and restarts. `ble` carries
  // frames over Bluetooth; without one, Bluetooth frames find no mouse.
  void Start(HWND window, BleFrameWriter* ble);
  // Ends the thread (WM_QUIT) and waits for it; a running apply finishes first.
  void Stop();

  // Asks for an apply (thread message 1552); requests queue and run one after the other.
  void Request();
  // The next apply sends everything: a profile was loaded, selected, reset or imported.
  void RequestFullWrite() { full_write_pending_ = 1; }
  int32_t full_write_pending() const { return full_write_pending_; }

  // The working record was loaded from the store: it is the reference for the next comparison
  // and nothing is pending. Takes the store's lock.
  void Reset();
  // The mouse changed a setting itself: `change` goes into the working record and the
  // last-applied copy, and the store is saved. Window thread. False while no profile is selected.
  bool KeepMouseChange(const std::function<void(ProfileRecord&)>& change);
  ProfileRecord LastAppliedCopy();

 private:
  static DWORD ThreadProc(ApplyWorker* worker);
  // Fills `report`; true when the busy indicator was shown (and is to be hidden).
  bool ApplySequence(ApplyReport& report);

  WorkingProfile& working_;
  const TransportFlags& flags_;
  const BoundBuilds& builds_;
  std::atomic<int32_t>& ack_;
  std::function<void(const ApplyReport&)> listener_;
  HWND window_ = nullptr;
  std::unique_ptr<FrameCarriage> carriage_;
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
  std::atomic<int32_t> full_write_pending_{0};
  // Guarded by the store's lock.
  std::unique_ptr<ProfileRecord> last_applied_;
  ChangeGroups undelivered_;
};

}  // namespace brevak
