#include "page/apply_worker.h"

#include <cstring>

#include "page/connections.h"
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

// The receivers' watchdogs: an apply keeps them quiet while it writes.
void SetWatchdogs(HWND window, bool running) {
  for (const ConnectionRow& row : kConnections) {
    if (!row.watchdog_timer) continue;
    if (running) SetTimer(window, row.watchdog_timer, kWatchdogMs, nullptr);
    else KillTimer(window, row.watchdog_timer);
  }
}
}  // namespace

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

void ApplyWorker::Request() {
  if (thread_id_) PostThreadMessageW(thread_id_, kMsgApplyThread, 0, 0);
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

DWORD ApplyWorker::ThreadProc(ApplyWorker* worker) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message != kMsgApplyThread) continue;
    ApplyReport report;
    const bool busy_shown = ApplyAllowed(worker->flags_) && worker->ApplySequence(report);
    // The owner hears of the end before the window does, so whoever sees the indicator go
    // has the report already.
    if (worker->listener_) worker->listener_(report);
    if (busy_shown) PostMessageW(worker->window_, kMsgApplyIndicator, 0, 0);
  }
  return 0;
}

bool ApplyWorker::ApplySequence(ApplyReport& report) {
  if (flags_.mouse_silent == 1) return false;
  SetWatchdogs(window_, false);
  PostMessageW(window_, kMsgApplyIndicator, 1, 0);

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
  report.ran = true;
  report.full_write = full;
  report.sent = send;

  ChangeGroups failed;
  auto send_frame = [&](const Frame& frame) {
    carriage_->SendFrame(frame.view());
    return carriage_->last_delivered();
  };
  bool full_write_failed = false;
  if (full) full_write_failed = !send_frame(BuildFullWriteReport());
  if (send.attribute) failed.attribute = !send_frame(BuildAttributeReport(*snapshot));
  if (send.lighting) failed.lighting = !send_frame(BuildLightingReport(*snapshot));
  // The polling rate is not offered over Bluetooth: a polling report that only had Bluetooth
  // to go to is not kept pending.
  if (send.polling)
    failed.polling = !send_frame(BuildPollingReport(*snapshot)) && carriage_->last_transport() != Transport::kBle;
  if (send.buttons) failed.buttons = !send_frame(BuildButtonReport(*snapshot));
  for (int i = 0; i < kPageButtons; ++i) {
    if (snapshot->button[i].function_code != kFunctionMacro || !send.macro[size_t(i)]) continue;
    // None for a macro the button may not send: never into another button's slots.
    for (const Frame& frame : BuildButtonMacroReports(snapshot->button[i], i)) {
      if (!send_frame(frame)) failed.macro[size_t(i)] = true;
      Sleep(kMacroFramePauseMs);
    }
  }

  // A full write that did not arrive whole is repeated whole by the next apply.
  if (full && (full_write_failed || failed.Any())) full_write_pending_ = 1;
  SetWatchdogs(window_, true);
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
