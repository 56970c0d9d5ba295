// The frame carriage in real time, through the zentrix builds, against the simulated mouse in
// this process (it answers at once): how much longer each group's frame and a whole full write
// take than the pauses the carriage must wait out (x_pauses = wall time / those pauses), and
// the CPU time per frame spent by the whole process on top of them. Figures, not limits.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/loop.h"
#include "protocol/carriage.h"
#include "page/connections.h"
#include "protocol/driver_binding.h"
#include "protocol/frames.h"
#include "sim/in_process_backend.h"

namespace brevak {
namespace {

using Clock = std::chrono::steady_clock;

// The builds live in the build's program folder, not beside the benchmark.
const bool program_folder_set = [] { return setenv("BREVAK_PROGRAM_DIR", BREVAK_BENCH_PROGRAM_DIR, 0) == 0; }();

struct Path {
  const char* name;
  sim::Connection connection;
  size_t build;  // index in kDriverBuilds
};
constexpr Path kPaths[] = {{"cable", sim::Connection::kCable, 0},
                           {"1k", sim::Connection::k1k, 1},
                           {"4k", sim::Connection::k4k, 2},
                           {"8k", sim::Connection::k8k, 3}};

enum Group { kFullWriteFrame, kAttribute, kLighting, kPolling, kButtons, kMacro, kGroupCount };
constexpr const char* kGroupNames[] = {"full-write", "attribute", "lighting", "polling", "buttons", "macro"};

// Reset values, a two-frame macro on button 0 and a one-frame macro on button 1.
std::unique_ptr<ProfileRecord> BenchRecord() {
  auto r = NewProfileRecord(u"bench");
  for (int button : {0, 1}) {
    ButtonEntry& b = r->button[button];
    b.function_code = kFunctionMacro;
    b.macro_loop_count = 1;
    b.macro_action_count = button == 0 ? 60 : 2;
    for (int i = 0; i < b.macro_action_count; ++i) {
      b.macro_actions[i].code = uint8_t(4 + i / 2);
      b.macro_actions[i].kind = i % 2 == 0 ? kMacroPress : kMacroRelease;
      b.macro_actions[i].delay = 20;
    }
  }
  return r;
}

Frame GroupFrame(const ProfileRecord& r, Group g) {
  switch (g) {
    case kFullWriteFrame: return BuildFullWriteReport();
    case kAttribute: return BuildAttributeReport(r);
    case kLighting: return BuildLightingReport(r);
    case kPolling: return BuildPollingReport(r);
    case kButtons: return BuildButtonReport(r);
    default: return BuildMacroReports(r.button[1], kMacroSlotBase[1]).front();
  }
}

std::vector<Frame> FullWrite(const ProfileRecord& r) {
  std::vector<Frame> frames;
  for (Group g : {kFullWriteFrame, kAttribute, kLighting, kPolling, kButtons}) frames.push_back(GroupFrame(r, g));
  for (int button : {0, 1})
    for (const Frame& f : BuildMacroReports(r.button[button], kMacroSlotBase[button])) frames.push_back(f);
  return frames;
}

// The pauses a frame must take on a path when the mouse acknowledges at once.
int64_t MandatedMs(const Path& p, const Frame& f) {
  const bool macro = f[0] == kCmdMacro;
  if (p.connection == sim::Connection::k1k)
    return (macro ? 3 * kWirelessMacroChunkPauseMs : kWirelessRepeatPauseMs) + kAfterFramePauseMs;
  return (macro ? 2 * kChunkPauseMs : 0) + kAfterFramePauseMs;
}

int64_t ProcessCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One connection to the simulated mouse as the program sets it up, with a window thread that
// takes the acknowledgements as the page's does.
class Rig {
 public:
  explicit Rig(const Path& path) : path_(path) {
    sim::InstallInProcessSim(mouse_);
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    window_thread_ = StartThread(
        [this, ready]() -> DWORD {
          window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
            if (msg == 1553 && (w & 0xFFFF) == 0x5059) ack_ = (l & 0xFF) == 0 ? 1 : 0;
            return 0;
          });
          SetEvent(ready);
          MSG m;
          while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
          DestroyWindow(window_);
          return 0;
        },
        &window_thread_id_);
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);

    const DriverBuildInfo& info = kDriverBuilds[path.build];
    builds_[path.build] = BindDriverBuild(info);
    BoundBuild& b = builds_[path.build];
    if (!b.bound()) return;
    mouse_.Plug(path.connection);
    b.Set_VIDPID(info.vendor_id, info.product_id);
    if (info.device_version) b.Set_Device_Version(info.device_version);
    b.Open_DevMonitor(window_, kConnections[path.build].input_msg, kConnections[path.build].device_msg);
    switch (path.connection) {
      case sim::Connection::kCable: flags_.wired_state = b.Open_FeatureDevice() ? kPresent : kNeverOpened; break;
      case sim::Connection::k1k: flags_.rx1k_state = b.Open_FeatureDevice() ? kPresent : kNeverOpened; break;
      case sim::Connection::k4k: flags_.rx4k_state = b.Open_ReportDevice() ? kPresent : kNeverOpened; break;
      default: flags_.rx8k_state = b.Open_ReportDevice() ? kPresent : kNeverOpened; break;
    }
    flags_.rx1k_active = flags_.rx4k_active = flags_.rx8k_active = 1;
    ok_ = ChooseTransport(flags_) != Transport::kNone;
  }
  ~Rig() {
    for (BoundBuild& b : builds_) ReleaseDriverBuild(b);
    PostThreadMessageW(window_thread_id_, WM_QUIT, 0, 0);
    WaitForSingleObject(window_thread_, INFINITE);
    CloseHandle(window_thread_);
    sim::UninstallInProcessSim();
  }
  bool ok() const { return ok_; }
  FrameCarriage& carriage() { return carriage_; }
  int accepted() const { return mouse_.State().connections[size_t(path_.connection)].accepted; }

 private:
  const Path& path_;
  sim::SimMouse mouse_;
  HANDLE window_thread_ = nullptr;
  DWORD window_thread_id_ = 0;
  HWND window_ = nullptr;
  TransportFlags flags_;
  std::array<BoundBuild, 4> builds_;
  std::atomic<int32_t> ack_{0};
  FrameCarriage carriage_{flags_, builds_, ack_, nullptr};
  bool ok_ = false;
};

void Run(benchmark::State& state, const Path& path, const std::vector<Frame>& frames) {
  Rig rig(path);
  if (!rig.ok()) {
    state.SkipWithError("the connection did not open");
    return;
  }
  int64_t pauses_ms = 0;
  for (const Frame& f : frames) pauses_ms += MandatedMs(path, f);
  double wall_ms = 0, cpu_ns = 0;
  int64_t sent = 0;
  for (auto _ : state) {
    const int64_t cpu0 = ProcessCpuNs();
    const auto t0 = Clock::now();
    for (const Frame& f : frames) rig.carriage().SendFrame(f.view());
    wall_ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    cpu_ns += double(ProcessCpuNs() - cpu0);
    sent += int64_t(frames.size());
  }
  if (rig.accepted() != sent) state.SkipWithError("the mouse did not take every frame");
  const double runs = double(state.iterations());
  state.counters["x_pauses"] = wall_ms / (runs * double(pauses_ms));
  state.counters["extra_ms_per_frame"] = (wall_ms - runs * double(pauses_ms)) / double(sent);
  state.counters["cpu_us_per_frame"] = cpu_ns / 1000.0 / double(sent);
  state.counters["pauses_ms"] = double(pauses_ms);
}

void BM_CarriageFrame(benchmark::State& state) {
  const Path& path = kPaths[state.range(0)];
  const Group group = Group(state.range(1));
  auto record = BenchRecord();
  state.SetLabel(std::string(path.name) + " " + kGroupNames[group]);
  Run(state, path, {GroupFrame(*record, group)});
}

void BM_CarriageFullWrite(benchmark::State& state) {
  const Path& path = kPaths[state.range(0)];
  auto record = BenchRecord();
  const std::vector<Frame> frames = FullWrite(*record);
  state.SetLabel(std::string(path.name) + " full write, " + std::to_string(frames.size()) + " frames");
  Run(state, path, frames);
}

// Each run waits out whole seconds of pauses, so one iteration each is enough for the ratio.
BENCHMARK(BM_CarriageFrame)
    ->ArgsProduct({{0, 1, 2, 3}, {kFullWriteFrame, kAttribute, kLighting, kPolling, kButtons, kMacro}})
    ->ArgNames({"path", "group"})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CarriageFullWrite)
    ->DenseRange(0, 3)
    ->ArgName("path")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brevak
