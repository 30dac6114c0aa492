// A whole run against the reading of its inputs, on the same generated files: a 5,001-point
// 4-port through channel (0 to 50 GHz in 10 MHz steps) and eight aggressors, four NEXT and
// four FEXT, with side files written (save_file set) and N_DFE = 8.
//
//   BM_ReadInputs  every input of the case read once (the thru and the eight aggressors),
//                  under the run's memory policy;
//   BM_WholeRun    the run as the program makes it, settings from the built-in defaults
//                  and command-line assignments, every stage, side files, report and log;
//                  its counters give each stage's CPU time per run and, from readings
//                  of every input alternating with the runs, the median run and reading
//                  times and run/read, the ratio of the two.
//   BM_Stage*      the stages that do the most arithmetic, alone;
//   BM_PhasorSums  stepped-phasor sums (the short pulse's) in each vector width the
//                  processor has, on the period sums' grid;
//   BM_PeriodSums  the period sums as the run takes them, by one chirp convolution.
//
// Times are CPU times (the machine is shared); repeat with --benchmark_repetitions.
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

#include "chirpSums.h"
#include "cpuTime.h"
#include "entry.h"
#include "phasorSums.h"
#include "stages.h"

namespace {

using cd = std::complex<double>;
constexpr int kPoints = 5001;
constexpr int kAggressors = 8;

// 4-port RI file: through pairs 1->2 and 3->4 (ports 1 3 => 2 4) scaled by gain, with a
// delay and a loss; small reflections on the diagonal.
std::string writeFourPort(const std::filesystem::path& path, double gain, double delay) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return path.string();
  std::fprintf(f, "# Hz S RI R 50\n");
  for (int k = 0; k < kPoints; ++k) {
    const double x = k * 10e6;
    const cd t =
        gain * std::exp(cd(-2e-6 * std::sqrt(x) - 3e-11 * x, -2 * std::numbers::pi * x * delay));
    const cd r = 0.05 * std::exp(cd(0, -2 * std::numbers::pi * x * 0.2e-9));
    std::fprintf(f, "%.10g", x);
    for (int row = 1; row <= 4; ++row) {
      for (int col = 1; col <= 4; ++col) {
        const cd v = row == col ? r : (row + col == 3 || row + col == 7) ? t : cd(0.01 * gain);
        std::fprintf(f, " %.10g %.10g", v.real(), v.imag());
      }
      std::fprintf(f, "\n");
    }
  }
  std::fclose(f);
  return path.string();
}

// The case's files, written once into a folder that goes when the program ends.
struct Case {
  std::filesystem::path dir;
  std::string thru;
  std::vector<std::string> aggressors;  // four NEXT, then four FEXT
  Case() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brevo_run_XXXXXX").string();
    dir = mkdtemp(pattern.data()) ? std::filesystem::path(pattern)
                                  : std::filesystem::temp_directory_path();
    thru = writeFourPort(dir / "thru.s4p", 1.0, 1e-9);
    for (int k = 0; k < kAggressors; ++k)
      aggressors.push_back(
          writeFourPort(dir / ("agg" + std::to_string(k) + (k < 4 ? "_next" : "_fext") + ".s4p"),
                        0.03 / (k + 1), (k < 4 ? 0.1 : 1.0) * 1e-9));
  }
  ~Case() {
    std::error_code ignored;
    std::filesystem::remove_all(dir / "thru.s4p", ignored);
    for (const std::string& a : aggressors) std::filesystem::remove(a, ignored);
    for (const char* side : {"run.wv1", "run.fd", "run.wv2", "run.txt", "run.log"})
      std::filesystem::remove(dir / side, ignored);
    std::filesystem::remove(dir, ignored);
  }
  std::vector<std::string> arguments() const {
    std::vector<std::string> a{"Brevo", "Thru=" + thru};
    for (int k = 0; k < kAggressors; ++k) a.push_back((k < 4 ? "NEXT=" : "FEXT=") + aggressors[k]);
    a.push_back("save_file=" + (dir / "run.txt").string());
    a.push_back("results=" + (dir / "run.txt").string());
    a.push_back("log=" + (dir / "run.log").string());
    a.push_back("N_DFE=8");
    return a;
  }
};

const Case& theCase() {
  static const Case c;
  return c;
}

// Every input read once, as the run reads them (the file constructor, log to a sink).
void readInputs(const Case& c, FILE* log) {
  std::string name = c.thru;
  Sparams thru(name.data(), log);
  benchmark::DoNotOptimize(thru);
  for (const std::string& a : c.aggressors) {
    name = a;
    Sparams x(name.data(), log);
    benchmark::DoNotOptimize(x);
  }
}

void BM_ReadInputs(benchmark::State& state) {
  keepFreedMemory();  // as a run has it
  const Case& c = theCase();
  FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) readInputs(c, sink);
  std::fclose(sink);
}
BENCHMARK(BM_ReadInputs)->Unit(benchmark::kMillisecond);

// The program's run, with each stage's CPU time added to lap[]: the settings (the entry's
// start, the arguments, the choice of thru and the derivations) count as one.
constexpr int kStages = 8;
const char* const kStageNames[kStages] = {"settings",      "readThru",      "fitThru",
                                          "pulseAndDibit", "equalisedIld",  "budget",
                                          "crosstalk",     "figuresOfMerit"};

class LapTimer : public StageObserver {
 public:
  explicit LapTimer(double* lap) : lap_(lap), t_(cpuSeconds()) {}
  void finished(Stage stage, int) override {
    const int k = std::max(0, static_cast<int>(stage) - static_cast<int>(Stage::deriveSettings));
    const double now = cpuSeconds();
    lap_[k] += now - t_;
    t_ = now;
  }

 private:
  double* lap_;
  double t_;
};

int wholeRun(const std::vector<std::string>& arguments, double* lap) {
  RunState rs;
  rs.io.arguments = arguments;
  LapTimer timer(lap);
  return runAnalysis(rs, &timer);
}

// Each iteration makes one whole run and, outside the timed part, reads every input once,
// so that runs and readings alternate and meet the same state of the machine; run/read is
// the ratio of their medians.
void BM_WholeRun(benchmark::State& state) {
  keepFreedMemory();  // as the program has it, also when this benchmark runs alone
  const Case& c = theCase();
  const std::vector<std::string> arguments = c.arguments();
  double lap[kStages] = {};
  std::vector<double> runs, reads;
  FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    double before[kStages];
    std::copy(lap, lap + kStages, before);
    if (wholeRun(arguments, lap) != 0) {
      state.SkipWithError("the run did not end with status 0");
      break;
    }
    double run = 0;
    for (int k = 0; k < kStages; ++k) run += lap[k] - before[k];
    runs.push_back(run);
    state.PauseTiming();
    const double t = cpuSeconds();
    readInputs(c, sink);
    reads.push_back(cpuSeconds() - t);
    state.ResumeTiming();
  }
  std::fclose(sink);
  const double n = static_cast<double>(state.iterations());
  for (int k = 0; k < kStages; ++k)
    state.counters[std::string(kStageNames[k]) + "_ms"] = 1e3 * lap[k] / n;
  state.counters["run_ms"] = 1e3 * median(runs);
  state.counters["read_ms"] = 1e3 * median(reads);
  state.counters["run_over_read"] = median(reads) > 0 ? median(runs) / median(reads) : 0;
}
BENCHMARK(BM_WholeRun)->Unit(benchmark::kMillisecond);

// One run's state up to the named stage, for timing the stage alone.
class StopBefore : public StageObserver {
 public:
  explicit StopBefore(Stage stage) : stage_(stage) {}
  bool starting(Stage stage) override { return stage < stage_; }

 private:
  Stage stage_;
};

// The stages timed alone print to a sink once the run's own streams are closed.
struct Prepared {
  RunState rs;
  FILE* sink = std::fopen("/dev/null", "w");
  explicit Prepared(Stage upTo) {
    rs.io.standardOutput = rs.io.standardError = sink;
    rs.io.arguments = theCase().arguments();
    StopBefore stop(upTo);
    runAnalysis(rs, &stop);
  }
  ~Prepared() { std::fclose(sink); }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;
};

void BM_StagePulseAndDibit(benchmark::State& state) {
  Prepared p(Stage::pulseAndDibit);
  for (auto _ : state) runStage(p.rs, Stage::pulseAndDibit);
}
BENCHMARK(BM_StagePulseAndDibit)->Unit(benchmark::kMillisecond);

void BM_StageEqualisedIld(benchmark::State& state) {
  Prepared p(Stage::equalisedIld);
  for (auto _ : state) runStage(p.rs, Stage::equalisedIld);
}
BENCHMARK(BM_StageEqualisedIld)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// Sums on the case's grid size (5,001 frequencies by 10,313 samples) of the deviation's
// spectrum alone (first argument 0) or with the fitted one (1).
struct SumInputs {
  static constexpr int nF = 5001, nT = 10313;
  static constexpr double turns = 1 / 10312.5;
  std::vector<double> re[2], im[2], stepRe, stepIm;
  SumInputs() {
    const cd W = std::exp(cd(0, 2 * std::numbers::pi * turns));
    cd E = 1;
    for (int m = 0; m < nF; ++m) {
      const cd F = std::exp(cd(-1e-4 * m, -0.3 * m)) / (1.0 + 1e-3 * m);
      const cd ild = 0.01 * std::exp(cd(0, 0.7 * m)) / (1.0 + 1e-3 * m);
      re[0].push_back(ild.real()), im[0].push_back(ild.imag());
      re[1].push_back(F.real()), im[1].push_back(F.imag());
      stepRe.push_back(E.real()), stepIm.push_back(E.imag());
      E *= W;
    }
  }
};

// By a stepped phasor in vectors of 2, 4 or 8 lanes (second argument; a width the
// processor lacks is skipped).
void BM_PhasorSums(benchmark::State& state) {
  const auto path = static_cast<PhasorPath>(state.range(1));
  const std::vector<PhasorPath> paths = phasorPaths();
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
    state.SkipWithError("this processor lacks the vector width");
    return;
  }
  const SumInputs in;
  const int nF = in.nF, nT = in.nT;
  const auto& re = in.re;
  const auto& im = in.im;
  PhasorSpectra spectra;
  spectra.sums = state.range(0) != 0 ? 2 : 1;
  spectra.frequencies = nF;
  for (int s = 0; s < 2; ++s) spectra.re[s] = re[s].data(), spectra.im[s] = im[s].data();
  spectra.stepRe = in.stepRe.data(), spectra.stepIm = in.stepIm.data();
  std::vector<double> out[2] = {std::vector<double>(nT), std::vector<double>(nT)};
  double* const sums[PhasorSpectra::kMaxSums] = {out[0].data(), out[1].data()};
  for (auto _ : state) {
    sumPhasors(spectra, nT, sums, path);
    benchmark::DoNotOptimize(out[0].data());
  }
}
BENCHMARK(BM_PhasorSums)->ArgsProduct({{0, 1}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

void BM_PeriodSums(benchmark::State& state) {
  keepFreedMemory();  // as a run has it: the transforms' scratch stays in the heap
  const SumInputs in;
  std::vector<ChirpSpectrum> spectra{{in.re[0], in.im[0]}};
  if (state.range(0) != 0) spectra.push_back({in.re[1], in.im[1]});
  for (auto _ : state) benchmark::DoNotOptimize(chirpSums(spectra, in.turns, in.nT));
}
BENCHMARK(BM_PeriodSums)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// The through channel's read with its three mixed-mode arrays, against the plain read.
void BM_StageReadThru(benchmark::State& state) {
  Prepared p(Stage::readThru);
  for (auto _ : state) runStage(p.rs, Stage::readThru);
}
BENCHMARK(BM_StageReadThru)->Unit(benchmark::kMillisecond);

void BM_ReadThruFile(benchmark::State& state) {
  FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    std::string name = theCase().thru;
    Sparams s(name.data(), sink);
    benchmark::DoNotOptimize(s);
  }
  std::fclose(sink);
}
BENCHMARK(BM_ReadThruFile)->Unit(benchmark::kMillisecond);

}  // namespace
