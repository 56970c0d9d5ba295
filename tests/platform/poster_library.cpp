// A library loaded at run time, as the zentrix builds and Hook are: it posts into the
// program's queues from a thread of its own.

#include <thread>

#include "platform/winapi.h"

extern "C" __attribute__((visibility("default"))) int PostFromLibraryThread(HWND hwnd, UINT msg,
                                                                           int count) {
  int posted = 0;
  std::thread reader([&] {
    for (int i = 0; i < count; ++i) posted += PostMessageW(hwnd, msg, WPARAM(i), 0) ? 1 : 0;
  });
  reader.join();
  return posted;
}

extern "C" __attribute__((visibility("default"))) DWORD ThreadIdSeenByLibrary() {
  return GetCurrentThreadId();
}
