// Saving and loading a 100-profile store (about 10 MB) on the real disk, with the fsyncs a
// crash-safe save needs. Each benchmark reports "x_plain_write": its time over writing the
// same bytes once with a plain write + fsync, measured in the same run, so the figure says
// what the temporary file, the rename and the folder sync cost.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/text.h"
#include "store/profile_store.h"

namespace brevak {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// On the disk that holds the user's data, not /dev/shm: the fsync is the point.
const fs::path& BenchFolder() {
  static const fs::path folder = [] {
    std::string tmpl = (fs::temp_directory_path() / "brevak-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    std::atexit([] { std::error_code ec; fs::remove_all(BenchFolder(), ec); });
    return fs::path(tmpl);
  }();
  return folder;
}

void FillStore(ProfileStore& store) {
  store.list().clear();
  for (int i = 0; i < 100; ++i) store.list().push_back(NewProfileRecord(Utf8ToUtf16("Profile " + std::to_string(i))));
  store.header().selected_profile = 42;
}

// Median of a few plain write + fsync runs of `size` bytes.
double PlainWriteSeconds(size_t size) {
  std::vector<uint8_t> bytes(size, 0x5A);
  std::vector<double> runs;
  const fs::path file = BenchFolder() / "plain.bin";
  for (int i = 0; i < 5; ++i) {
    auto start = Clock::now();
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), size) != ssize_t(size) || ::fsync(fd) != 0) std::abort();
    ::close(fd);
    runs.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

size_t StoreBytes() { return sizeof(ProfileStoreHeader) + 100 * sizeof(ProfileRecord); }

void ReportRatio(benchmark::State& state, double seconds) {
  state.counters["x_plain_write"] = seconds / double(state.iterations()) / PlainWriteSeconds(StoreBytes());
  state.SetBytesProcessed(int64_t(state.iterations() * StoreBytes()));
}

void BM_SaveProfileStore(benchmark::State& state) {
  ProfileStore store(BenchFolder() / "ms_1" / "pro.data");
  FillStore(store);
  double seconds = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (!store.Save()) state.SkipWithError("save failed");
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  ReportRatio(state, seconds);
}
BENCHMARK(BM_SaveProfileStore)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadProfileStore(benchmark::State& state) {
  const fs::path file = BenchFolder() / "ms_1" / "pro.data";
  {
    ProfileStore store(file);
    FillStore(store);
    store.Save();
  }
  double seconds = 0;
  for (auto _ : state) {
    ProfileStore store(file);
    auto start = Clock::now();
    if (store.Load() != StoreLoad::kLoaded || store.list().size() != 100) state.SkipWithError("load failed");
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  ReportRatio(state, seconds);
}
BENCHMARK(BM_LoadProfileStore)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace brevak
