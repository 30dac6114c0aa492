// The standard reader beside the long-standing one on the same numbers: a 16-port file
// of 10,001 points in RI, written once in the Version 1.0 layout and once as a Version
// 2.0 file with a full matrix, each read from the file as a program reads it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "GlobalNames.h"

namespace {

constexpr int kPorts = 16;
constexpr int kPoints = 10001;

struct Files {
  std::string folder, version1, version2;
  std::uintmax_t bytes1 = 0, bytes2 = 0;
  Files() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "brevo_standard_XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    folder = pattern;
    Sparams s(kPorts, kPoints, "bench");
    for (int k = 0; k < kPoints; ++k) {
      const double f = k * 5e6;
      s.setFreq(k, f);
      for (int i = 1; i <= kPorts; ++i)
        for (int j = 1; j <= kPorts; ++j) {
          const double loss =
              (i == j ? 0.3 : 0.9 / (1 + std::abs(i - j))) * std::exp(-f * 1e-10 * (1 + 0.01 * i));
          s.set(k, i, j, std::polar(loss, -2 * 3.141592653589793 * f * (1e-9 + 1e-12 * (i + j))));
        }
    }
    version1 = folder + "/lane.s16p";
    version2 = folder + "/lane.ts";
    std::ofstream(version1, std::ios::binary) << formatTouchstone(s, {1, RI, "Hz", 50, "Full"});
    std::ofstream(version2, std::ios::binary) << formatTouchstone(s, {2, RI, "Hz", 50, "Full"});
    bytes1 = std::filesystem::file_size(version1);
    bytes2 = std::filesystem::file_size(version2);
  }
  ~Files() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
};

const Files& files() {
  static const Files f;
  return f;
}

void BM_LongStandingReader1x(benchmark::State& state) {
  FILE* log = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    Sparams s(files().version1, log);
    if (s.Size() != kPorts || s.Fcount() != kPoints) state.SkipWithError("wrong counts");
    benchmark::DoNotOptimize(s);
  }
  if (log) std::fclose(log);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files().bytes1));
}

void standard(benchmark::State& state, const std::string& path, std::uintmax_t bytes) {
  for (auto _ : state) {
    TouchstoneFile f = readTouchstone(path);
    if (!f.ok || f.set.Size() != kPorts || f.set.Fcount() != kPoints)
      state.SkipWithError("not read");
    benchmark::DoNotOptimize(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
void BM_StandardReader1x(benchmark::State& s) { standard(s, files().version1, files().bytes1); }
void BM_StandardReader2x(benchmark::State& s) { standard(s, files().version2, files().bytes2); }

BENCHMARK(BM_LongStandingReader1x)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StandardReader1x)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StandardReader2x)->Unit(benchmark::kMillisecond);

}  // namespace
