#pragma once
// The one process clock. Every timer, Sleep, timed wait and tick count reads it. It runs in
// real time unless a test switches it to virtual time, which moves only when told to; the
// test then alternates "run until idle" and "advance".
//
// Idle means: every thread known to this layer (it has a queue, was started by StartThread or
// CreateThread, or has waited here) is blocked in GetMessageW, Sleep, WaitForSingleObject,
// a cross-thread SendMessageW or an ExternalWaitScope, with nothing ready for it.

#include <cstdint>
#include <optional>

namespace brevak {

// Milliseconds on the process clock (a monotonic origin, not wall time).
int64_t ClockNowMs();

// Switches to virtual time starting at `startMs`; waiting threads re-arm on it. Call it when
// no other test threads are running, like UseRealClock.
void UseVirtualClock(int64_t startMs = 0);
void UseRealClock();
bool IsVirtualClock();

// Handles the calling thread's own queue and waits until every other thread is idle. Only one
// thread at a time may drive the clock (call these three).
void RunUntilIdle();

// Virtual time: moves forward by `ms`, stopping at every deadline on the way (timers, sleeps,
// timed waits) and running until idle there, so each waiter wakes at its own deadline, in
// order. Returns false (and does nothing) in real time.
bool AdvanceClock(int64_t ms);

// Virtual time: runs until idle, then jumps to the earliest deadline that lies in the future
// and runs until idle again. Returns the new time, or nothing when no deadline is pending or in
// real time.
std::optional<int64_t> AdvanceToNextDeadline();

// Earliest future deadline of any timer or timed wait, if one is pending.
std::optional<int64_t> NextDeadline();

}  // namespace brevak
