// The COM engine on real channels (read once, before the timing):
//
//   BM_ComKr4          the KR4 calibration run: example2 thru, two FEXT and three NEXT,
//                      2 package cases of 2,015 candidates, the whole grid searched;
//   BM_ComCkKr         802.3ck KR settings on a 5,001-point thru with eight aggressors (the
//                      seven of the c2m_IL14_WC set and its FEXT1 file a second time, the
//                      set having seven), 2 cases of about 630,000 candidates, whole grid;
//   BM_ComCkKrLocal    the same with the reference's local search (2 steps), which also
//                      searches the whole grid to say whether its choice differs;
//   BM_ComDjKr         draft 802.3dj KR settings on the same nine channels: one case of
//                      794,174 Tx FFE settings x 176 CTLE settings (139,774,624 candidates),
//                      each with its 16-tap receiver FFE solved at 33 sampling points; the
//                      whole grid, with bounds over boxes of Tx settings that skip what
//                      cannot win (about 8 s on two shared cores);
//   BM_ComDjKrCoarse   the same with the Tx taps in steps of 0.02 (4,783 Tx settings,
//                      841,808 candidates).
//
// Counters: candidates per second of search, and seconds per part (checks and grids,
// package and pulses, search, noise distributions) per run. Times are wall times, the
// search runs on every core; the machine may be shared, so compare CPU and real time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "comCases.h"

namespace {

using namespace comcases;

void run(benchmark::State& state, const Params& p, const std::vector<Channel>& ch) {
  if (ch.empty()) {
    state.SkipWithError("channels absent from " BREVO_CHANNELS_DIR);
    return;
  }
  double setup = 0, pulses = 0, search = 0, margin = 0, candidates = 0, differs = 0;
  for (auto _ : state) {
    const auto o = computeCom(p, ch);
    if (!o.ok()) {
      state.SkipWithError(o.message.c_str());
      return;
    }
    if (setup == 0) {  // the first run's record, once
      for (const std::string& l : o.value.log) std::fprintf(stderr, "%s\n", l.c_str());
      for (const std::string& w : o.value.warnings)
        std::fprintf(stderr, "warning: %s\n", w.c_str());
    }
    setup += o.value.setupSeconds;
    for (const CaseResult& c : o.value.cases) {
      pulses += c.pulseSeconds, search += c.searchSeconds, margin += c.marginSeconds;
      candidates += static_cast<double>(c.gridSize);
      differs += c.localDiffers ? 1 : 0;
    }
    benchmark::DoNotOptimize(o.value.com);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["candidates_per_s"] = candidates / search;
  state.counters["setup_s"] = setup / n;
  state.counters["pulses_s"] = pulses / n;
  state.counters["search_s"] = search / n;
  state.counters["pmf_s"] = margin / n;
  if (p.search == Search::local) state.counters["local_differs_cases"] = differs / n;
}

void BM_ComKr4(benchmark::State& state) {
  static const std::vector<Channel> ch = example2(BREVO_CHANNELS_DIR);
  run(state, kr4(), ch);
}
BENCHMARK(BM_ComKr4)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_ComCkKr(benchmark::State& state) {
  static const std::vector<Channel> ch = c2mEight(BREVO_CHANNELS_DIR);
  run(state, ckKr(), ch);
}
BENCHMARK(BM_ComCkKr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(2);

void BM_ComCkKrLocal(benchmark::State& state) {
  static const std::vector<Channel> ch = c2mEight(BREVO_CHANNELS_DIR);
  Params p = ckKr();
  p.search = Search::local, p.localSearch = 2;
  run(state, p, ch);
}
BENCHMARK(BM_ComCkKrLocal)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

void BM_ComDjKr(benchmark::State& state) {
  static const std::vector<Channel> ch = c2mEight(BREVO_CHANNELS_DIR);
  run(state, djKr(), ch);
}
BENCHMARK(BM_ComDjKr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

void BM_ComDjKrCoarse(benchmark::State& state) {
  static const std::vector<Channel> ch = c2mEight(BREVO_CHANNELS_DIR);
  Params p = djKr();
  for (TxTap& t : p.txTaps) t.values.step = 0.02;
  run(state, p, ch);
}
BENCHMARK(BM_ComDjKrCoarse)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

}  // namespace
