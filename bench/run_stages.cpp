// Times a whole run, stage by stage, on a generated 5,001-point 4-port through channel
// (0 to 50 GHz in 10 MHz steps) with eight aggressors, side files written and N_DFE = 8.
// Each stage's mean time per run is reported as a counter in milliseconds; reading the
// files is part of the through-channel read and of the crosstalk stage.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <string>

#include "stages.h"

namespace {

using cd = std::complex<double>;
constexpr double kPi = 3.141592653589793;
constexpr double kRate = 25.78125e9;
constexpr int kPoints = 5001;

// 4-port RI file: through pairs 1->2 and 3->4 (ports 1 3 => 2 4) scaled by gain, with a
// delay and a loss; small reflections on the diagonal.
std::string writeFourPort(const std::filesystem::path& path, double gain, double delay) {
  FILE* f = std::fopen(path.c_str(), "w");
  std::fprintf(f, "# Hz S RI R 50\n");
  for (int k = 0; k < kPoints; ++k) {
    const double x = k * 10e6;
    const cd t = gain * std::exp(cd(-2e-6 * std::sqrt(x) - 3e-11 * x, -2 * kPi * x * delay));
    const cd r = 0.05 * std::exp(cd(0, -2 * kPi * x * 0.2e-9));
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

void starterSettings(RunState& rs) {
  Settings& s = rs.settings;
  s.limit_range = 2;
  s.PAM = 2;
  s.data_rate = kRate;
  s.signal = 0.4;
  s.NEXT_amp = 0.6;
  s.target_BER = 1e-12;
  s.g0Tx = s.g0Rx = 0.161;
  s.pTx = s.pRx = 1.25 * kRate;
  s.implementation_noise_factor = 0.01;
  s.implementation_gain_factor = 0.85;
  s.N_DFE = 8;
  s.oversample = 4;
  s.slicer_allowance = 0.01;
  Derived& d = rs.derived;
  d.pamStep = 1;
  d.pamPower = 1;
  d.txTau = d.farTau = 1 / (0.55 * kRate);
  d.rxTau = 1 / (0.75 * kRate);
  d.nearTau = 1 / kRate;
  d.UI = 1 / kRate;
}

void BM_RunStages(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "brevo_bench_run_stages";
  std::filesystem::create_directories(dir);
  const std::string thru = writeFourPort(dir / "thru.s4p", 1.0, 1e-9);
  std::vector<std::string> aggressors;
  for (int k = 0; k < 8; ++k)
    aggressors.push_back(writeFourPort(dir / ("agg" + std::to_string(k) + (k < 4 ? "_next" : "_fext") + ".s4p"),
                                       0.03 / (k + 1), (k < 4 ? 0.1 : 1.0) * 1e-9));
  FILE* sink = std::fopen("/dev/null", "w");
  using clock = std::chrono::steady_clock;
  const char* names[] = {"readThru", "fitThru", "pulseAndDibit", "equalisedIld",
                         "budget", "crosstalk", "figuresOfMerit"};
  double totals[7] = {};
  for (auto _ : state) {
    RunState rs;
    rs.result = rs.log = sink;
    starterSettings(rs);
    rs.inP = 1, rs.inM = 3, rs.outP = 2, rs.outM = 4;
    rs.saveBase = (dir / "run").string();
    std::snprintf(rs.settings.save_file, kStringStorage, "%s.txt", rs.saveBase.c_str());
    rs.thruList.push_back(channelLine{thru, 1, 3, 2, 4});
    for (int k = 0; k < 8; ++k) (k < 4 ? rs.nextList : rs.fextList).push_back(channelLine{aggressors[k]});
    auto t = clock::now();
    auto lap = [&](int stage) {
      const auto now = clock::now();
      totals[stage] += std::chrono::duration<double, std::milli>(now - t).count();
      t = now;
    };
    rs.thru = Sparams(thru, rs.log);
    rs.points.Sdd21 = rs.thru.aParam(1, 2, 3, 4, 0, 0, nullptr);
    rs.points.Sdd11 = rs.thru.aParam(1, 1, 3, 3, 0, 0, nullptr);
    rs.points.Sdd22 = rs.thru.aParam(2, 2, 4, 4, 0, 0, nullptr);
    lap(0);
    fitThru(rs);
    lap(1);
    pulseAndDibit(rs);
    lap(2);
    if (equalisedIld(rs) != 0) state.SkipWithError("grid refused");
    lap(3);
    budget(rs);
    lap(4);
    crosstalk(rs);
    lap(5);
    figuresOfMerit(rs);
    lap(6);
    benchmark::DoNotOptimize(rs.noise.totalNoisePower);
  }
  for (int k = 0; k < 7; ++k)
    state.counters[std::string(names[k]) + "_ms"] = totals[k] / static_cast<double>(state.iterations());
  std::fclose(sink);
}
BENCHMARK(BM_RunStages)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
