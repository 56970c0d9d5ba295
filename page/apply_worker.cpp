#include "page/apply_worker.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "page/connections.h"
#include "model/record_check.h"
#include "page/page_messages.h"
#include "platform/loop.h"
#include "protocol/frames.h"

namespace brevak {

namespace {
constexpr DWORD kMacroFramePauseMs = 500;

ChangeGroups Union(const ChangeGroups& a, const ChangeGroups& b) {
  ChangeGroups u;
  u.attribute = a.attribute || b.attribute;
  u.polling = a.polling || b.polling;
  u.lighting = a.lighting || b.lighting;
  u.buttons = a.buttons || b.buttons;
  for (size_t i = 0; i < u.macro.size(); ++i) u.macro[i] = a.macro[i] || b.macro[i];
  return u;
}

// The receivers' watchdogs: an apply keeps them quiet while it writes, and afterwards starts
// again those of the receivers that are plugged in. One for a receiver that is not there would
// expire and refresh the panels under the user's pointer.
void SetWatchdogs(HWND window, const TransportFlags& flags, bool running) {
  for (const ConnectionRow& row : kConnections) {
    if (!row.watchdog_timer) continue;
    if (!running) KillTimer(window, row.watchdog_timer);
    else if ((flags.*FlagFieldsOf(row.transport).state).load() == kPresent)
      SetTimer(window, row.watchdog_timer, kWatchdogMs, nullptr);
  }
}
}  // namespace

namespace {
// Layout of the progress message: wParam holds frame, frames, step and button in 8-, 8-, 4-
// and 8-bit fields; lParam the milliseconds left. An apply has a few dozen frames at most.
constexpr int kFieldBits = 8;
constexpr uintptr_t kFieldMask = (uintptr_t(1) << kFieldBits) - 1;
constexpr int kStepShift = 2 * kFieldBits, kButtonShift = kStepShift + 4;
static_assert(kButtonShift + 8 <= 32, "the progress fits a 32-bit wParam");
static_assert(kPageButtons < 256);

// The end message's lParam: bit 0 ran, bit 1 a full write still pending, then one bit per
// group that stayed pending, attribute, polling, lighting, buttons, then each button's macro.
constexpr int kEndGroupsShift = 2, kEndMacroShift = kEndGroupsShift + 4, kEndRefusedShift = kEndMacroShift + kPageButtons;
static_assert(kEndRefusedShift + 3 <= 32, "the end report fits a 32-bit lParam");
}  // namespace

void PackProgress(const ApplyProgress& p, WPARAM& wParam, LPARAM& lParam) {
  auto field = [](int v) { return uintptr_t(std::clamp(v, 0, int(kFieldMask))); };
  wParam = field(p.frame) | (field(p.frames) << kFieldBits) |
           (uintptr_t(p.step) << kStepShift) | (uintptr_t(p.button & 0xFF) << kButtonShift);
  lParam = LPARAM(p.ms_left);
}

ApplyProgress UnpackProgress(WPARAM wParam, LPARAM lParam) {
  ApplyProgress p;
  p.frame = int(wParam & kFieldMask);
  p.frames = int((wParam >> kFieldBits) & kFieldMask);
  const auto step = uint8_t((wParam >> kStepShift) & 0xF);
  p.step = step <= uint8_t(ApplyStep::kMacro) ? ApplyStep(step) : ApplyStep::kFullWrite;
  p.button = std::min(int((wParam >> kButtonShift) & 0xFF), kPageButtons - 1);
  p.ms_left = lParam > 0 ? DWORD(lParam) : 0;
  return p;
}

LPARAM PackEnd(const ApplyReport& r) {
  uintptr_t v = (r.ran ? 1u : 0u) | (r.full_write_pending ? 2u : 0u);
  const bool groups[] = {r.pending.attribute, r.pending.polling, r.pending.lighting, r.pending.buttons};
  for (size_t i = 0; i < std::size(groups); ++i) v |= uintptr_t(groups[i]) << (kEndGroupsShift + i);
  for (size_t i = 0; i < r.pending.macro.size(); ++i) v |= uintptr_t(r.pending.macro[i]) << (kEndMacroShift + i);
  const bool refused[] = {r.refused.attribute, r.refused.polling, r.refused.lighting};
  for (size_t i = 0; i < std::size(refused); ++i) v |= uintptr_t(refused[i]) << (kEndRefusedShift + i);
  return LPARAM(v);
}

ApplyReport UnpackEnd(LPARAM lParam) {
  const auto v = uintptr_t(lParam);
  ApplyReport r;
  r.ran = v & 1;
  r.full_write_pending = v & 2;
  bool* groups[] = {&r.pending.attribute, &r.pending.polling, &r.pending.lighting, &r.pending.buttons};
  for (size_t i = 0; i < std::size(groups); ++i) *groups[i] = (v >> (kEndGroupsShift + i)) & 1;
  for (size_t i = 0; i < r.pending.macro.size(); ++i) r.pending.macro[i] = (v >> (kEndMacroShift + i)) & 1;
  bool* refused[] = {&r.refused.attribute, &r.refused.polling, &r.refused.lighting};
  for (size_t i = 0; i < std::size(refused); ++i) *refused[i] = (v >> (kEndRefusedShift + i)) & 1;
  return r;
}

ApplyWorker::ApplyWorker(WorkingProfile& working, const TransportFlags& flags, const BoundBuilds& builds,
                         std::atomic<int32_t>& ack)
    : working_(working), flags_(flags), builds_(builds), ack_(ack), last_applied_(std::make_unique<ProfileRecord>()) {
  std::memset(static_cast<void*>(last_applied_.get()), 0, sizeof(ProfileRecord));
}

ApplyWorker::~ApplyWorker() { Stop(); }

void ApplyWorker::Start(HWND window, BleFrameWriter* ble) {
  if (thread_) return;
  window_ = window;
  carriage_ = std::make_unique<FrameCarriage>(flags_, builds_, ack_, ble);
  thread_ = StartThread([this] { return ThreadProc(this); }, &thread_id_);
}

void ApplyWorker::Stop() {
  if (!thread_) return;
  PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
  thread_id_ = 0;
  carriage_.reset();
}

uint64_t ApplyWorker::Request() {
  // Without a thread nothing will take it: the number already taken.
  if (!thread_id_) return requests_taken_;
  const uint64_t number = ++requests_made_;
  PostThreadMessageW(thread_id_, kMsgApplyThread, 0, 0);
  return number;
}

ApplyReport ApplyWorker::LastReport() {
  std::lock_guard<std::mutex> hold(report_lock_);
  return last_report_;
}

void ApplyWorker::Reset() {
  auto lock = working_.Lock();
  if (const ProfileRecord* r = working_.Locked()) CopyProfile(*last_applied_, *r);
  undelivered_ = {};
}

bool ApplyWorker::KeepMouseChange(const std::function<void(ProfileRecord&)>& change) {
  auto lock = working_.Lock();
  ProfileRecord* r = working_.Locked();
  if (!r) return false;
  // Only the reported field goes into the last-applied copy as well: the user's other edits
  // that have not been written yet stay pending instead of being taken as sent.
  change(*r);
  change(*last_applied_);
  working_.store().Save();
  return true;
}

ProfileRecord ApplyWorker::LastAppliedCopy() {
  auto lock = working_.Lock();
  return *last_applied_;
}

ChangeGroups ApplyWorker::PendingGroups() {
  auto lock = working_.Lock();
  const ProfileRecord* r = working_.Locked();
  return r ? Union(CompareChangeGroups(*r, *last_applied_), undelivered_) : undelivered_;
}

bool ApplyWorker::HasPendingForMouse() { return full_write_interrupted_ || PendingGroups().Any(); }

DWORD ApplyWorker::ThreadProc(ApplyWorker* worker) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message != kMsgApplyThread) continue;
    ApplyReport report;
    const bool busy_shown = ApplyAllowed(worker->flags_) && worker->ApplySequence(report);
    // The owner hears of the end before the window does, so whoever sees the indicator go
    // has the report already.
    if (worker->listener_) worker->listener_(report);
    {
      std::lock_guard<std::mutex> hold(worker->report_lock_);
      worker->last_report_ = report;
    }
    ++worker->requests_taken_;
    PostMessageW(worker->window_, kMsgApplyIndicator, busy_shown ? kApplyEnded : kApplyDropped, PackEnd(report));
  }
  return 0;
}

bool ApplyWorker::ApplySequence(ApplyReport& report) {
  if (flags_.mouse_silent == 1) return false;
  SetWatchdogs(window_, flags_, false);
  PostMessageW(window_, kMsgApplyIndicator, kApplyStarted, 0);

  // A consistent snapshot: the window thread edits the record under the same lock.
  auto snapshot = std::make_unique<ProfileRecord>();
  ChangeGroups send;
  bool full = false;
  {
    auto lock = working_.Lock();
    ProfileRecord* working = working_.Locked();
    if (!working) return true;
    // Taken, not just read: a profile switch during this apply asks for the next full write.
    full = full_write_pending_.exchange(0) != 0;
    CopyProfile(*snapshot, *working);
    // Groups that did not reach the mouse last time are sent again.
    send = full ? ChangeGroups::All() : Union(CompareChangeGroups(*snapshot, *last_applied_), undelivered_);
  }
  // A value the mouse does not take is never sent: it would read the bytes as something else.
  const ChangeGroups bad = GroupsWithBadValues(*snapshot);
  for (auto [group, refused] : {std::pair{&ChangeGroups::attribute, &report.refused.attribute},
                                std::pair{&ChangeGroups::polling, &report.refused.polling},
                                std::pair{&ChangeGroups::lighting, &report.refused.lighting}}) {
    *refused = send.*group && bad.*group;
    if (*refused) send.*group = false;
  }
  report.ran = true;
  report.full_write = full;
  report.sent = send;

  // Every frame is known before the first goes, so each can be reported as k of n with the
  // pauses still ahead.
  struct Planned {
    Frame frame;
    ApplyStep step;
    int button = 0;
  };
  std::vector<Planned> plan;
  if (full) plan.push_back({BuildFullWriteReport(), ApplyStep::kFullWrite});
  if (send.attribute) plan.push_back({BuildAttributeReport(*snapshot), ApplyStep::kAttribute});
  if (send.lighting) plan.push_back({BuildLightingReport(*snapshot), ApplyStep::kLighting});
  if (send.polling) plan.push_back({BuildPollingReport(*snapshot), ApplyStep::kPolling});
  if (send.buttons) plan.push_back({BuildButtonReport(*snapshot), ApplyStep::kButtons});
  for (int i = 0; i < kPageButtons; ++i) {
    if (snapshot->button[i].function_code != kFunctionMacro || !send.macro[size_t(i)]) continue;
    // Nothing for a button whose macro may not go to the mouse (no slots of its own, or more
    // frames than it has): its frames would land in another button's slots.
    for (const Frame& f : BuildButtonMacroReports(snapshot->button[i], i)) {
      plan.push_back({f, ApplyStep::kMacro, i});
    }
  }
  auto expected_ms = [&](const Planned& p) {
    return carriage_->ExpectedMs(p.frame.view()) + (p.step == ApplyStep::kMacro ? kMacroFramePauseMs : 0);
  };
  DWORD ms_left = 0;
  for (const Planned& p : plan) ms_left += expected_ms(p);

  ChangeGroups failed;
  bool full_write_failed = false;
  for (size_t k = 0; k < plan.size(); ++k) {
    const Planned& p = plan[k];
    ApplyProgress progress{int(k + 1), int(plan.size()), p.step, p.button, ms_left};
    if (progress_listener_) progress_listener_(progress);
    WPARAM wp = 0;
    LPARAM lp = 0;
    PackProgress(progress, wp, lp);
    PostMessageW(window_, kMsgApplyProgress, wp, lp);
    const DWORD expected = expected_ms(p);
    ms_left -= std::min(ms_left, expected);

    carriage_->SendFrame(p.frame.view());
    const bool lost = !carriage_->last_delivered();
    switch (p.step) {
      case ApplyStep::kFullWrite: full_write_failed = lost; break;
      case ApplyStep::kAttribute: failed.attribute = lost; break;
      case ApplyStep::kLighting: failed.lighting = lost; break;
      // The polling rate is not offered over Bluetooth: a polling report that only had
      // Bluetooth to go to is not kept pending.
      case ApplyStep::kPolling: failed.polling = lost && carriage_->last_transport() != Transport::kBle; break;
      case ApplyStep::kButtons: failed.buttons = lost; break;
      case ApplyStep::kMacro:
        if (lost) failed.macro[size_t(p.button)] = true;
        Sleep(kMacroFramePauseMs);
        break;
    }
  }

  // A full write that did not arrive whole is repeated whole by the next apply, which the
  // connection monitor asks for as soon as the mouse answers again.
  if (full) {
    const bool cut = full_write_failed || failed.Any();
    if (cut) full_write_pending_ = 1;
    full_write_interrupted_ = cut;
  }
  SetWatchdogs(window_, flags_, true);
  {
    auto lock = working_.Lock();
    report.saved = working_.store().Save();
    CopyProfile(*last_applied_, *snapshot);
    undelivered_ = failed;
  }
  report.pending = failed;
  report.full_write_pending = full_write_pending_ != 0;
  return true;
}

}  // namespace brevak
