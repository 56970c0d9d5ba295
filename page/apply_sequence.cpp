// The apply worker: one thread with its own message loop that writes the changed groups of
// the working record to the mouse, saves the store and remembers what was written.
#include <cstring>

#include "page/ms_1_page.h"
#include "page/page_messages.h"
#include "protocol/frames.h"

namespace brevak {

namespace {
constexpr DWORD kMacroFramePauseMs = 500;
constexpr UINT_PTR kReceiverWatchdogs[] = {kTimerWatchdog1k, kTimerWatchdog4k, kTimerWatchdog8k};

ChangeGroups Union(const ChangeGroups& a, const ChangeGroups& b) {
  ChangeGroups u;
  u.attribute = a.attribute || b.attribute;
  u.polling = a.polling || b.polling;
  u.lighting = a.lighting || b.lighting;
  u.buttons = a.buttons || b.buttons;
  for (size_t i = 0; i < u.macro.size(); ++i) u.macro[i] = a.macro[i] || b.macro[i];
  return u;
}
}  // namespace

DWORD CMS_1_Page::ApplyThreadProc(CMS_1_Page* page) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kMsgApplyThread && ApplyAllowed(page->flags_)) page->ApplySequence();
  }
  return 0;
}

void CMS_1_Page::ApplySequence() {
  if (flags_.mouse_silent == 1) return;
  for (UINT_PTR id : kReceiverWatchdogs) KillTimer(main_window_, id);
  Post(kMsgApplyIndicator, 1);

  // A consistent snapshot: the window thread edits the record under the same lock.
  auto snapshot = std::make_unique<ProfileRecord>();
  ChangeGroups send;
  bool full = false;
  {
    auto lock = profiles_.Lock();
    ProfileRecord* working = WorkingRecordLocked();
    if (!working) {
      Post(kMsgApplyIndicator, 0);
      return;
    }
    // Taken, not just read: a profile switch during this apply asks for the next full write.
    full = full_write_pending_.exchange(0) != 0;
    CopyProfile(*snapshot, *working);
    // Groups that did not reach the mouse last time are sent again.
    send = full ? ChangeGroups::All() : Union(CompareChangeGroups(*snapshot, *last_applied_), undelivered_);
  }

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
    int slot = kMacroSlotBase[size_t(i)], resume = 0;
    for (;;) {
      MacroFrame mf = BuildMacroReport(snapshot->button[i], slot, resume);
      if (!send_frame(mf.frame)) failed.macro[size_t(i)] = true;
      Sleep(kMacroFramePauseMs);
      if (!mf.continues) break;
      ++slot;
      resume = mf.resume_position;
    }
  }

  // A full write that did not arrive whole is repeated whole by the next apply.
  if (full && (full_write_failed || failed.Any())) full_write_pending_ = 1;
  for (UINT_PTR id : kReceiverWatchdogs) SetTimer(main_window_, id, kWatchdogMs, nullptr);
  {
    auto lock = profiles_.Lock();
    profiles_.Save();
    CopyProfile(*last_applied_, *snapshot);
    undelivered_ = failed;
  }
  Post(kMsgApplyIndicator, 0);
}

}  // namespace brevak
