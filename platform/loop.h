#pragma once
// Windows, queues and threads beyond the Win32 calls in winapi.h: how a window is made, how a
// foreign event loop (Qt's) drives a queue, and threads started from C++ code.
//
// Every thread has at most one queue. It exists once the thread creates a window, installs a
// wake hook, asks for messages, or was started by StartThread/CreateThread (which make it
// before the thread runs). The plain GetMessageW loop and a hooked foreign loop are the same
// queue: the hook only tells the foreign loop to call ProcessPendingMessages.

#include <functional>
#include <memory>

#include "platform/winapi.h"

namespace brevak {

using WindowHandler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// A window owned by the calling thread: its messages and timers are handled on this thread.
// Returns null for an empty handler.
HWND CreateMessageWindow(WindowHandler handler);

// Called, from any thread, each time something becomes ready for `threadId`'s queue or its
// next timer deadline changes: a post, a send, a quit, SetTimer/KillTimer, the clock reaching
// a timer. It may be called often and must not block; the loop it wakes then calls
// ProcessPendingMessages on the queue's own thread. An empty hook removes it. FALSE when the
// thread is unknown. A thread installing its own hook gets a queue.
BOOL SetQueueWakeHook(DWORD threadId, std::function<void()> hook);

struct PumpResult {
  bool quit = false;       // WM_QUIT was taken from the queue
  int exitCode = 0;        // its wParam
  DWORD nextTimerMs = INFINITE;  // time until this thread's next timer is due
};
// Handles everything ready for the calling thread's queue (sent, posted, due timers) without
// blocking; stops right after a WM_QUIT.
PumpResult ProcessPendingMessages();

// A thread whose queue exists before this returns. The handle is signalled when `body`
// returned; close it with CloseHandle. `threadId` may be null. Null on failure.
HANDLE StartThread(std::function<DWORD()> body, DWORD* threadId);

// Marks the calling thread as waiting outside this layer (a blocking read, a join) so that
// RunUntilIdle does not wait for it. Nothing the thread does inside the scope may rely on
// virtual time.
class ExternalWaitScope {
 public:
  ExternalWaitScope();
  ~ExternalWaitScope();
  ExternalWaitScope(const ExternalWaitScope&) = delete;
  ExternalWaitScope& operator=(const ExternalWaitScope&) = delete;
};

}  // namespace brevak
