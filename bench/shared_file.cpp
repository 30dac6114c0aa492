// Many channel lines on one large file: a generated 32-port 5,001-point RI file (0 to
// 50 GHz in 10 MHz steps) holding the through pair and sixteen aggressor pairs.
//
//   BM_OneRead             the file read once, as a run reads it;
//   BM_SixteenAggressors   the whole run: the thru and 16 NEXT lines, each a port
//                          selection of the same file; its counter run_over_read is the
//                          run's median CPU time over the median of one read, taken in
//                          turn with the runs (a run that read the file for every line
//                          would be about 17).
//
// Times are CPU times (the machine is shared).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "cpuTime.h"
#include "entry.h"
#include "stages.h"

namespace {

using cd = std::complex<double>;
constexpr int kPorts = 32;
constexpr int kPoints = 5001;
constexpr int kAggressors = 16;

// Port pairs (2p-1, 2p) on the near end, (2p-1+16, 2p+16) on the far end: a through path
// from each near pair to its far pair, weak coupling everywhere else.
struct BigFile {
  std::filesystem::path dir, file;
  BigFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brevo_big_XXXXXX").string();
    dir = mkdtemp(pattern.data()) ? std::filesystem::path(pattern)
                                  : std::filesystem::temp_directory_path();
    file = dir / "big.s32p";
    FILE* f = std::fopen(file.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "# Hz S RI R 50\n");
    for (int k = 0; k < kPoints; ++k) {
      const double x = k * 10e6;
      const cd t = std::exp(cd(-2e-6 * std::sqrt(x) - 3e-11 * x, -2 * std::numbers::pi * x * 1e-9));
      std::fprintf(f, "%.10g", x);
      for (int row = 0; row < kPorts; ++row) {
        for (int col = 0; col < kPorts; ++col) {
          const bool through = std::abs(row - col) == kPorts / 2;
          const cd v = row == col ? cd(0.05, 0.01)
                       : through  ? t
                                  : t * (0.002 * (1 + (row + col) % 7));
          std::fprintf(f, " %.10g %.10g", v.real(), v.imag());
          if (col % 4 == 3) std::fprintf(f, "\n");
        }
      }
    }
    std::fclose(f);
  }
  ~BigFile() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  // The thru on ports 1 3 => 17 19 and 16 NEXT lines from the other near-end pairs.
  std::vector<std::string> arguments() const {
    const std::string name = file.string();
    std::vector<std::string> a{"Brevo", "Thru=\"" + name + " 1 3 17 19\""};
    for (int k = 0; k < kAggressors; ++k) {
      const int p = 2 + (k % 7) * 2, q = 17 + ((k + 1) % 7) * 2;  // a near pair into a far pair
      a.push_back("NEXT=\"" + name + " " + std::to_string(p) + " " + std::to_string(p + 2) + " " +
                  std::to_string(q) + " " + std::to_string(q + 2) + "\"");
    }
    a.push_back("N_DFE=8");
    return a;
  }
};

const BigFile& theFile() {
  static const BigFile f;
  return f;
}

double oneRead(FILE* sink) {
  const double t = cpuSeconds();
  Sparams s(theFile().file.string(), sink);
  benchmark::DoNotOptimize(s);
  return cpuSeconds() - t;
}

void BM_OneRead(benchmark::State& state) {
  keepFreedMemory();
  theFile();  // written before the clock starts
  FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) oneRead(sink);
  std::fclose(sink);
}
BENCHMARK(BM_OneRead)->Unit(benchmark::kMillisecond);

void BM_SixteenAggressors(benchmark::State& state) {
  keepFreedMemory();
  const std::vector<std::string> arguments = theFile().arguments();
  FILE* sink = std::fopen("/dev/null", "w");
  std::vector<double> runs, reads;
  for (auto _ : state) {
    RunState rs;
    rs.io.standardOutput = rs.io.standardError = sink;
    rs.io.arguments = arguments;
    const double t = cpuSeconds();
    if (runAnalysis(rs) != 0) {
      state.SkipWithError("the run did not end with status 0");
      break;
    }
    runs.push_back(cpuSeconds() - t);
    state.PauseTiming();
    reads.push_back(oneRead(sink));
    state.ResumeTiming();
  }
  std::fclose(sink);
  state.counters["run_ms"] = 1e3 * median(runs);
  state.counters["read_ms"] = 1e3 * median(reads);
  state.counters["run_over_read"] = median(reads) > 0 ? median(runs) / median(reads) : 0;
}
BENCHMARK(BM_SixteenAggressors)->Unit(benchmark::kMillisecond);

}  // namespace
