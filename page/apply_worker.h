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
#include <mutex>

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
  // Groups not sent because the record holds a value the mouse does not take there
  // (OutOfRangeValues says which); they go once the user has set it right.
  ChangeGroups refused;
};

// kMsgApplyIndicator's wParam: the write starts (1), ends (0), or a request found no
// connection that answers and sent nothing.
inline constexpr WPARAM kApplyEnded = 0, kApplyStarted = 1, kApplyDropped = 2;

// What a frame of an apply carries.
enum class ApplyStep : uint8_t { kFullWrite, kAttribute, kLighting, kPolling, kButtons, kMacro };

// Progress of a running apply, reported before each frame goes out.
struct ApplyProgress {
  int frame = 0;   // 1-based: the frame now being sent
  int frames = 0;  // every frame of this apply
  ApplyStep step = ApplyStep::kFullWrite;
  int button = 0;     // 0-based page button, for a macro frame
  DWORD ms_left = 0;  // the pauses still ahead, this frame's included
};

// Progress travels to the window as one message (kMsgApplyProgress): these pack it into the
// message's parameters and back.
void PackProgress(const ApplyProgress& p, WPARAM& wParam, LPARAM& lParam);
ApplyProgress UnpackProgress(WPARAM wParam, LPARAM lParam);
// The end of an apply as the window's indicator message (kMsgApplyIndicator, wParam 0) carries
// it: whether it ran and which groups stayed pending.
LPARAM PackEnd(const ApplyReport& report);
ApplyReport UnpackEnd(LPARAM lParam);

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
  // Called on the worker thread before each frame of an apply. Set it before Start.
  void SetProgressListener(std::function<void(const ApplyProgress&)> listener) {
    progress_listener_ = std::move(listener);
  }

  // Starts the thread. `window` is shown the busy indicator (kMsgApplyIndicator, wParam 1, then
  // kMsgApplyProgress before each frame, then kMsgApplyIndicator wParam 0 with PackEnd; a request
  // dropped for want of a connection that answers: kApplyDropped with PackEnd) and owns the receivers' watchdog timers, which an apply stops and restarts. `ble` carries
  // frames over Bluetooth; without one, Bluetooth frames find no mouse.
  void Start(HWND window, BleFrameWriter* ble);
  // Ends the thread (WM_QUIT) and waits for it; a running apply finishes first.
  void Stop();

  // Asks for an apply (thread message 1552); requests queue and run one after the other. The
  // request's number: once RequestsTaken() reaches it, an apply that began after this call has
  // ended (or was dropped), so an edit made before it was sent.
  uint64_t Request();
  uint64_t RequestsTaken() const { return requests_taken_; }
  // The report of the request taken last.
  ApplyReport LastReport();
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
  // What the mouse does not have yet: the groups that did not arrive, and those the working
  // record changed since the last write (an edit while the mouse was away or asleep, another
  // profile). Takes the store's lock.
  ChangeGroups PendingGroups();
  // Something to send once the mouse answers again: pending groups, or a full write that was
  // cut off. A full write merely marked at start-up waits for the user's first edit.
  bool HasPendingForMouse();
  bool full_write_interrupted() const { return full_write_interrupted_; }

 private:
  static DWORD ThreadProc(ApplyWorker* worker);
  // Fills `report`; true when the busy indicator was shown (and is to be hidden).
  bool ApplySequence(ApplyReport& report);

  WorkingProfile& working_;
  const TransportFlags& flags_;
  const BoundBuilds& builds_;
  std::atomic<int32_t>& ack_;
  std::function<void(const ApplyReport&)> listener_;
  std::function<void(const ApplyProgress&)> progress_listener_;
  HWND window_ = nullptr;
  std::unique_ptr<FrameCarriage> carriage_;
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
  std::atomic<int32_t> full_write_pending_{0};
  std::atomic<bool> full_write_interrupted_{false};
  std::atomic<uint64_t> requests_made_{0}, requests_taken_{0};
  std::mutex report_lock_;
  ApplyReport last_report_;
  // Guarded by the store's lock.
  std::unique_ptr<ProfileRecord> last_applied_;
  ChangeGroups undelivered_;
};

}  // namespace brevak
