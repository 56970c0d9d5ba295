// zentrix against the simulated mouse in this process, in real time: how long an input report
// takes from the mouse to the program's queue (ButtonMsg handled on the window's thread), and a
// SetFeature round trip. Figures, not limits: the reader's fixed 10 ms pause between reads is
// part of the first one by design.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/loop.h"
#include "platform/system.h"
#include "platform/text.h"
#include "sim/in_process_backend.h"
#include "zentrix/hid_interfaces.h"
#include "zentrix/zentrix.h"

namespace brevak {
namespace {

using Clock = std::chrono::steady_clock;

// The builds live in the build's program folder, not beside the benchmark.
const bool program_folder_set = [] { return setenv("BREVAK_PROGRAM_DIR", BREVAK_BENCH_PROGRAM_DIR, 0) == 0; }();

template <typename Fn>
Fn Bind(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(GetProcAddress(m, name));
}

void ReportPercentiles(benchmark::State& state, std::vector<double>& us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["p50_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void BM_InputReportToButtonMsg(benchmark::State& state) {
  sim::SimMouse mouse;
  sim::InstallInProcessSim(mouse);
  mouse.Plug(sim::Connection::k8k);
  HMODULE m = LoadLibraryW((ProgramFolder() + u"zentrix_8k.so").c_str());
  if (!m) {
    state.SkipWithError("zentrix_8k.so not found");
    sim::UninstallInProcessSim();
    return;
  }
  Clock::time_point handled;
  bool got = false;
  HWND window = CreateMessageWindow([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg == 1559) handled = Clock::now(), got = true;
    return 0;
  });
  Bind<zentrix::SetVidPidFn>(m, "Set_VIDPID")(zentrix::kVendorId, zentrix::kReceiverHsProductId);
  Bind<zentrix::SetDeviceVersionFn>(m, "Set_Device_Version")(zentrix::kReceiver8kVersion);
  Bind<zentrix::OpenDevMonitorFn>(m, "Open_DevMonitor")(window, 1559, 1560);
  // Arg: the gap before each report. Back to back (0) a report waits out the reader's 10 ms
  // pause; spaced (20) it finds the reader already waiting.
  const auto gap = std::chrono::milliseconds(state.range(0));
  std::vector<double> us;
  for (auto _ : state) {
    std::this_thread::sleep_for(gap);
    got = false;
    const auto sent = Clock::now();
    mouse.SendPowerStatus(sim::Connection::k8k);
    MSG msg;
    while (!got && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    const double elapsed = std::chrono::duration<double, std::micro>(handled - sent).count();
    us.push_back(elapsed);
    state.SetIterationTime(elapsed / 1e6);
  }
  ReportPercentiles(state, us);
  Bind<zentrix::NoArgFn>(m, "Close_DevMonitor")();
  ProcessPendingMessages();
  DestroyWindow(window);
  FreeLibrary(m);
  sim::UninstallInProcessSim();
}
BENCHMARK(BM_InputReportToButtonMsg)->Arg(0)->Arg(20)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_SetFeatureRoundTrip(benchmark::State& state) {
  sim::SimMouse mouse;
  sim::InstallInProcessSim(mouse);
  mouse.Plug(sim::Connection::kCable);
  HMODULE m = LoadLibraryW((ProgramFolder() + u"zentrix_2.so").c_str());
  if (!m) {
    state.SkipWithError("zentrix_2.so not found");
    sim::UninstallInProcessSim();
    return;
  }
  Bind<zentrix::SetVidPidFn>(m, "Set_VIDPID")(zentrix::kVendorId, zentrix::kCableProductId);
  Bind<zentrix::NoArgFn>(m, "Open_FeatureDevice")();
  auto set_feature = Bind<zentrix::BufferFn>(m, "SetFeature");
  uint8_t lighting[15] = {0x05, 0x0F, 0x01, 0x50, 0x03, 0xA8, 0x00, 0x00, 0xFF, 0x02, 0x04, 0x02, 0x00, 0x00, 0x00};
  std::vector<double> us;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (set_feature(lighting, sizeof lighting) != 1) state.SkipWithError("SetFeature failed");
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  ReportPercentiles(state, us);
  Bind<zentrix::NoArgFn>(m, "Close_FeatureDevice")();
  FreeLibrary(m);
  sim::UninstallInProcessSim();
}
BENCHMARK(BM_SetFeatureRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brevak
