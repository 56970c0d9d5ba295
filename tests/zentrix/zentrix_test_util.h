#pragma once
// A zentrix build loaded by file name from the program folder, as the program binds it, with
// a window on the test thread that records what the build posts.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "platform/text.h"
#include "sim/in_process_backend.h"
#include "tests/common/pump_until.h"
#include "zentrix/zentrix.h"

namespace brevak::test {

struct LoadedBuild {
  HMODULE module = nullptr;
  zentrix::SetVidPidFn Set_VIDPID = nullptr;
  zentrix::SetDeviceVersionFn Set_Device_Version = nullptr;
  zentrix::OpenDevMonitorFn Open_DevMonitor = nullptr;
  zentrix::NoArgFn Close_DevMonitor = nullptr, Open_FeatureDevice = nullptr, Close_FeatureDevice = nullptr,
                   Open_ReportDevice = nullptr, Close_ReportDevice = nullptr;
  zentrix::BufferFn SetFeature = nullptr, GetFeature = nullptr, WriteUSB = nullptr, ReadUSB = nullptr;

  explicit LoadedBuild(const char* file) {
    module = LoadLibraryW((ProgramFolder() + Utf8ToUtf16(file)).c_str());
    if (!module) {
      ADD_FAILURE() << file << ": " << LastLoadError();
      return;
    }
    Bind(Set_VIDPID, "Set_VIDPID");
    Bind(Set_Device_Version, "Set_Device_Version");
    Bind(Open_DevMonitor, "Open_DevMonitor");
    Bind(Close_DevMonitor, "Close_DevMonitor");
    Bind(Open_FeatureDevice, "Open_FeatureDevice");
    Bind(Close_FeatureDevice, "Close_FeatureDevice");
    Bind(SetFeature, "SetFeature");
    Bind(GetFeature, "GetFeature");
    Bind(Open_ReportDevice, "Open_ReportDevice");
    Bind(Close_ReportDevice, "Close_ReportDevice");
    Bind(WriteUSB, "WriteUSB");
    Bind(ReadUSB, "ReadUSB");
  }
  // Released as the program releases a build: interfaces and monitor first, then the module.
  ~LoadedBuild() {
    if (!ok()) return;
    Close_ReportDevice();
    Close_FeatureDevice();
    Close_DevMonitor();
    FreeLibrary(module);
  }
  bool ok() const { return module && ReadUSB; }

 private:
  template <typename Fn>
  void Bind(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(GetProcAddress(module, name));
    if (!fn) ADD_FAILURE() << "no export " << name;
  }
};

struct Posted {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::vector<uint8_t> report;  // the 8K build's report, copied when the message is handled
  bool operator==(const Posted& o) const { return msg == o.msg && wParam == o.wParam && lParam == o.lParam; }
  friend void PrintTo(const Posted& p, std::ostream* os) {
    *os << "{" << p.msg << ", 0x" << std::hex << p.wParam << ", 0x" << p.lParam << std::dec << "}";
  }
};

// The ids and names of this process's threads, to check that nothing is left running.
inline std::map<long, std::string> ThreadIds() {
  std::map<long, std::string> ids;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string name;
      if (FILE* f = std::fopen(("/proc/self/task/" + std::string(e->d_name) + "/comm").c_str(), "r")) {
        char buf[32] = {};
        if (std::fgets(buf, sizeof buf, f)) name = buf;
        std::fclose(f);
        if (!name.empty() && name.back() == '\n') name.pop_back();
      }
      ids.emplace(std::strtol(e->d_name, nullptr, 10), name);
    }
    closedir(d);
  }
  return ids;
}

inline int ThreadCount() { return int(ThreadIds().size()); }

// The threads to come back to. A first thread is started and joined before looking, since a
// sanitizer's runtime starts a helper thread of its own with the process's first thread.
inline std::map<long, std::string> BaselineThreadIds() {
  std::thread([] {}).join();
  return ThreadIds();
}

inline int BaselineThreadCount() { return int(BaselineThreadIds().size()); }

// Threads end a moment after their handle is signalled (the OS thread still unwinds): reads
// again every 10 ms, for up to two seconds, until the value read is `settled`.
template <typename Read, typename Settled>
auto ReadOnceSettled(Read read, Settled settled) {
  auto value = read();
  for (int i = 0; i < 200 && !settled(value); ++i) {
    usleep(10000);
    value = read();
  }
  return value;
}

// Waits for the count to come down to `expected`.
inline int ThreadCountSettlingAt(int expected) {
  return ReadOnceSettled(ThreadCount, [expected](int n) { return n == expected; });
}

// Threads alive now that were not in `before`, by id and name.
inline std::vector<std::string> ThreadsStartedSince(const std::map<long, std::string>& before) {
  std::vector<std::string> started;
  for (const auto& [id, name] : ThreadIds())
    if (!before.count(id)) started.push_back(std::to_string(id) + " " + name);
  return started;
}

// The same after waiting for them to end. A library's own thread that ends meanwhile (a pool's
// idle thread) is no fault of the caller, so only new threads count.
inline std::vector<std::string> ThreadsLeftSince(const std::map<long, std::string>& before) {
  return ReadOnceSettled([&before] { return ThreadsStartedSince(before); },
                         [](const std::vector<std::string>& left) { return left.empty(); });
}

}  // namespace brevak::test
