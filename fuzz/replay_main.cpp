// Runs a fuzz target without libFuzzer: first the target's own seeds, then a fixed
// number of inputs made by a deterministic generator that mutates the seeds. Used by
// CTest so that every build (and every sanitizer build) exercises each target.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Each target supplies seeds that reach its interesting paths.
std::vector<std::vector<uint8_t>> FuzzSeeds();

// "--seeds DIR" writes the seeds as files instead: the starting corpus of a libFuzzer run.
static int WriteSeeds(const char* dir) {
  int n = 0;
  for (const auto& s : FuzzSeeds()) {
    std::string path = std::string(dir) + "/seed-" + std::to_string(n++);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(s.data(), 1, s.size(), f) != s.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::printf("%d seeds written to %s\n", n, dir);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--seeds") return WriteSeeds(argv[2]);
  const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
  std::vector<std::vector<uint8_t>> seeds = FuzzSeeds();
  seeds.push_back({});
  for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());

  std::mt19937_64 rng(0xB4E7A5ull);
  for (long i = 0; i < runs; ++i) {
    std::vector<uint8_t> in = seeds[rng() % seeds.size()];
    switch (rng() % 4) {
      case 0:  // a few random bytes flipped
        for (int k = 0, n = 1 + int(rng() % 8); k < n && !in.empty(); ++k)
          in[rng() % in.size()] = uint8_t(rng());
        break;
      case 1:  // cut short
        if (!in.empty()) in.resize(rng() % in.size());
        break;
      case 2:  // fully random
        in.resize(rng() % 512);
        for (auto& b : in) b = uint8_t(rng());
        break;
      default:  // a run of extreme bytes somewhere
        if (!in.empty()) {
          size_t at = rng() % in.size(), len = 1 + rng() % 16;
          uint8_t v = (rng() & 1) ? 0xFF : 0x80;
          for (size_t k = at; k < in.size() && k < at + len; ++k) in[k] = v;
        }
        break;
    }
    LLVMFuzzerTestOneInput(in.data(), in.size());
  }
  std::printf("%ld generated inputs and %zu seeds ran clean\n", runs, seeds.size());
  return 0;
}
