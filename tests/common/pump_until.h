#pragma once
// Real time: pumps the calling thread's queue until a condition holds or a limit passes.

#include <chrono>
#include <thread>

#include "platform/loop.h"

namespace brevak::test {

template <typename Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  do {
    ProcessPendingMessages();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < until);
  return false;
}

}  // namespace brevak::test
