// The debug output channel: where every trace and diagnostic of the process goes.

#include "platform/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "platform/text.h"
#include "platform/winapi.h"

namespace brevak {
namespace {

using Sink = std::function<void(std::string_view)>;

struct DebugState {
  std::mutex mu;
  std::shared_ptr<const Sink> sink;
  std::atomic<bool> has_sink = false;
  // Held shared by every call in progress, so replacing the sink waits until no thread still
  // writes to the one it replaces (whose owner may go right after).
  std::shared_mutex calls;
  const bool enabled = [] {
    const char* v = std::getenv("BREVAK_DEBUG");
    return v && *v;
  }();
};

DebugState& Debug() {
  static DebugState* d = new DebugState;  // outlives static destructors that still log
  return *d;
}

void Write(std::string_view text) {
  DebugState& d = Debug();
  std::shared_lock in_call(d.calls);
  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    sink = d.sink;
  }
  if (sink) {
    (*sink)(text);
  } else if (d.enabled) {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
}

// Whether a line would go anywhere: nothing is formatted for no reader (status reports trace a
// line each).
bool Heard() {
  DebugState& d = Debug();
  return d.enabled || d.has_sink.load(std::memory_order_acquire);
}

// Appends the formatted text to `out`, however long it is.
void AppendV(std::string& out, const char* format, va_list args) {
  char small[256];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (size_t(n) < sizeof small) {
    out.append(small, size_t(n));
  } else {
    const size_t at = out.size();
    out.resize(at + size_t(n) + 1);
    std::vsnprintf(out.data() + at, size_t(n) + 1, format, again);
    out.resize(at + size_t(n));
  }
  va_end(again);
}

}  // namespace

void SetDebugSink(std::function<void(std::string_view)> sink) {
  DebugState& d = Debug();
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.sink = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    d.has_sink.store(d.sink != nullptr, std::memory_order_release);
  }
  std::unique_lock wait_for_calls(d.calls);
}

void LogTrace(const char* format, ...) {
  if (!Heard()) return;
  std::string line;
  va_list args;
  va_start(args, format);
  AppendV(line, format, args);
  va_end(args);
  Write(line);
}

void LogNote(const char* component, const char* format, ...) {
  if (!Heard()) return;
  std::string line = component;
  line += ": ";
  va_list args;
  va_start(args, format);
  AppendV(line, format, args);
  va_end(args);
  line += '\n';
  Write(line);
}

}  // namespace brevak

void OutputDebugStringA(LPCSTR text) {
  if (text) brevak::Write(text);
}

void OutputDebugStringW(LPCWSTR text) {
  if (text && brevak::Heard()) brevak::Write(brevak::Utf16ToUtf8(std::u16string_view(text)));
}
