#pragma once
// The user and kernel services the program is written against, with their Windows names and
// shapes, so that program code reads the same on every system and a Windows build can take
// <windows.h> instead of this header. Only what the program uses is here.
//
// Handles (HWND, HANDLE, HMODULE) are checked on every call: a stale, closed or made-up handle
// makes the call fail (FALSE, 0 or WAIT_FAILED) and never touches another object, because
// window and kernel-object ids are never reused within a process.

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using LONG = int32_t;
using UINT_PTR = uintptr_t;
using WPARAM = uintptr_t;   // wide enough for a buffer address (the 8K build sends one)
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using WCHAR = char16_t;     // UTF-16 on every system; Linux's wchar_t is 32 bits
using LPCWSTR = const char16_t*;
using LPCSTR = const char*;
using LPVOID = void*;

struct HWND__;
using HWND = HWND__*;       // opaque id, never a pointer to anything
using HANDLE = void*;       // thread or event; opaque id
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = void (*)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // tick count when the message was retrieved
  POINT pt;
};

constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
// Mouse transitions, as the Hook library reports them (wParam of its message).
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_XBUTTONDOWN = 0x020B;
constexpr UINT WM_XBUTTONUP = 0x020C;
constexpr UINT WM_MOUSEHWHEEL = 0x020E;
constexpr int WHEEL_DELTA = 120;  // one wheel notch
constexpr WORD XBUTTON1 = 0x0001;  // back
constexpr WORD XBUTTON2 = 0x0002;  // forward
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;
constexpr UINT USER_TIMER_MINIMUM = 10;

constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;

using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

// ---- Window messages -------------------------------------------------------------------------
// Windows are made with brevak::CreateMessageWindow (platform/loop.h).

// Same thread: calls the handler at once. Another thread: queues the message ahead of that
// thread's posted messages and blocks until it has been handled there; while blocked, the
// caller still handles messages sent to its own windows, so two threads sending to each other
// do not deadlock. Returns the handler's result, 0 when the window is gone.
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues the message for the window's thread. FALSE for an unknown or destroyed window or a
// full queue (10000 messages, as on Windows). A null window posts to the calling thread.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// FALSE when the thread does not exist or has no message queue yet.
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Blocks until a message is there. Returns 0 for WM_QUIT, -1 for a bad argument or a filter
// window that is not (or no longer) one of this thread's windows, otherwise non-zero. Sent
// messages are handled inside. Filters: hwnd (null = all), message range (0, 0 = all).
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax);
BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT msgFilterMin, UINT msgFilterMax, UINT removeMsg);
// Calls the window's handler (or the TIMERPROC of a WM_TIMER); 0 for thread messages.
LRESULT DispatchMessageW(const MSG* msg);
BOOL TranslateMessage(const MSG* msg);
// Only the owning thread may destroy a window (FALSE otherwise). The handler receives
// WM_DESTROY; queued messages and timers of the window are discarded, pending senders get 0.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);

// Window timers: the owner thread receives WM_TIMER (wParam = id) no earlier than the deadline
// on the process clock, after its posted messages. Callable from any thread; setting an id
// again replaces that timer. Intervals below 10 ms become 10 ms. A timer of a window is never
// delivered after KillTimer returned. Returns the id, or 0 for an unknown window.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// ---- Threads, events, waits, time ------------------------------------------------------------
DWORD GetCurrentThreadId();
// The new thread has a message queue before this returns, so PostThreadMessageW to it right
// away is delivered. Security attributes, stack size and flags are ignored.
HANDLE CreateThread(void* security, size_t stackSize, LPTHREAD_START_ROUTINE proc, LPVOID param,
                    DWORD flags, DWORD* threadId);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Threads are signalled once they have ended. Uses the process clock for the timeout.
DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs);
BOOL CloseHandle(HANDLE handle);
// Pauses on the process clock; Sleep(0) only yields.
void Sleep(DWORD ms);
DWORD GetTickCount();
uint64_t GetTickCount64();

// ---- Errors, debug output, dynamic loading ---------------------------------------------------
DWORD GetLastError();
void SetLastError(DWORD error);
// Writes to the debug output channel (platform/log.h).
void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);
// dlopen(path, RTLD_NOW | RTLD_LOCAL): libraries with the same export names stay apart.
HMODULE LoadLibraryW(LPCWSTR path);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
