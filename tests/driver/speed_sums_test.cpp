// The blocked, tiled period sums against the plain loop (one frequency at a time, the
// phasor advanced by one multiplication per sample) over grid sizes that end inside a
// block and inside a tile, up to the size of a 10 MHz thru to 50 GHz at 25.78125 GBd.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "phasorSums.h"
#include "stages.h"

namespace {

using cd = std::complex<double>;
constexpr double kPi = 3.141592653589793;

struct Grid {
  int frequencies;
  int samples;
};

class SpeedPeriodSums : public ::testing::TestWithParam<Grid> {};

// Channel-like spectra: a fitted response falling with frequency and a delay, a small
// rippling deviation, and the measured response as their sum; the grid phasor of a
// period that is not a whole number of samples (as 1/(df*timeStep) = 10312.5).
struct Spectra {
  PeriodInputs in;
  std::vector<cd> ild, fit, thru, step;
  Spectra(int nF, int nT) {
    const cd W = std::exp(cd(0, 2 * kPi / (nT - 0.5)));
    cd E = 1;
    for (int m = 0; m < nF; ++m) {
      const double G = 2 / (1 + 1e-3 * m);
      const cd F = G * std::exp(cd(-2e-4 * m, -0.31 * m));
      const cd I = G * 0.01 * std::exp(cd(-1e-4 * m, 0.7 * m)) * std::sin(0.05 * m);
      ild.push_back(I), fit.push_back(F), thru.push_back(F + I), step.push_back(E);
      in.ildRe.push_back(I.real()), in.ildIm.push_back(I.imag());
      in.fitRe.push_back(F.real()), in.fitIm.push_back(F.imag());
      in.stepRe.push_back(E.real()), in.stepIm.push_back(E.imag());
      E *= W;
    }
  }
};

// Sample n of each sum, as the sums are defined.
std::vector<double> plainSum(const std::vector<cd>& c, const std::vector<cd>& step, int nT) {
  std::vector<double> out(nT, 0.0);
  for (std::size_t m = 0; m < c.size(); ++m) {
    cd rho = 1;
    for (int n = 0; n < nT; ++n) {
      out[n] += std::real(c[m] * rho);
      rho *= step[m];
    }
  }
  return out;
}

// Largest difference relative to the waveform's largest magnitude.
double relativeDifference(const std::vector<double>& got, const std::vector<double>& want) {
  double scale = 0, worst = 0;
  for (double v : want) scale = std::max(scale, std::abs(v));
  for (std::size_t n = 0; n < want.size(); ++n) worst = std::max(worst, std::abs(got[n] - want[n]));
  return scale > 0 ? worst / scale : worst;
}

TEST_P(SpeedPeriodSums, AgreeWithThePlainLoop) {
  const Grid g = GetParam();
  Spectra s(g.frequencies, g.samples);
  const std::vector<double> ild = plainSum(s.ild, s.step, g.samples);
  const std::vector<double> fit = plainSum(s.fit, s.step, g.samples);
  const std::vector<double> thru = plainSum(s.thru, s.step, g.samples);

  const PeriodWaveforms alone = periodSums(s.in, g.samples, false);
  ASSERT_EQ(static_cast<int>(alone.ildPulse.size()), g.samples);
  EXPECT_LT(relativeDifference(alone.ildPulse, ild), 1e-12);
  EXPECT_TRUE(alone.pulse.empty() && alone.fitPulse.empty());

  // The measured pulse formed as fitted plus deviation.
  const PeriodWaveforms both = periodSums(s.in, g.samples, true);
  ASSERT_EQ(static_cast<int>(both.pulse.size()), g.samples);
  EXPECT_LT(relativeDifference(both.ildPulse, ild), 1e-12);
  EXPECT_LT(relativeDifference(both.fitPulse, fit), 1e-12);
  EXPECT_LT(relativeDifference(both.pulse, thru), 1e-12);

  // The measured spectrum given: summed as a third spectrum.
  PeriodInputs withThru = s.in;
  for (const cd& c : s.thru) withThru.thruRe.push_back(c.real()), withThru.thruIm.push_back(c.imag());
  const PeriodWaveforms three = periodSums(withThru, g.samples, true);
  EXPECT_LT(relativeDifference(three.pulse, thru), 1e-12);
  EXPECT_LT(relativeDifference(three.ildPulse, ild), 1e-12);
}

// The vector widths this processor has (2 lanes always) compute the same partial sums,
// so their waveforms agree to the last bit.
TEST_P(SpeedPeriodSums, EveryVectorWidthGivesTheSameBits) {
  const Grid g = GetParam();
  Spectra s(g.frequencies, g.samples);
  PhasorSpectra spectra;
  spectra.sums = 2;
  spectra.frequencies = g.frequencies;
  spectra.re[0] = s.in.ildRe.data(), spectra.im[0] = s.in.ildIm.data();
  spectra.re[1] = s.in.fitRe.data(), spectra.im[1] = s.in.fitIm.data();
  spectra.stepRe = s.in.stepRe.data(), spectra.stepIm = s.in.stepIm.data();
  auto sums = [&](PhasorPath path) {
    std::vector<double> ild(g.samples), fit(g.samples);
    double* const out[PhasorSpectra::kMaxSums] = {ild.data(), fit.data()};
    sumPhasors(spectra, g.samples, out, path);
    ild.insert(ild.end(), fit.begin(), fit.end());
    return ild;
  };
  const std::vector<double> narrow = sums(PhasorPath::vector128);
  for (PhasorPath path : phasorPaths()) {
    const std::vector<double> got = sums(path);
    for (std::size_t n = 0; n < got.size(); ++n)
      ASSERT_EQ(std::bit_cast<std::uint64_t>(got[n]), std::bit_cast<std::uint64_t>(narrow[n]))
          << "width " << static_cast<int>(path) << ", value " << n;
  }
}

// Fewer samples than blocks, samples ending inside the last block, frequencies ending
// inside a tile and on a tile's edge, and the full grid of the benchmark lane.
INSTANTIATE_TEST_SUITE_P(Grids, SpeedPeriodSums,
                         ::testing::Values(Grid{1, 1}, Grid{2, 3}, Grid{7, 5}, Grid{256, 8},
                                           Grid{257, 13}, Grid{513, 611}, Grid{1300, 2047},
                                           Grid{5001, 10313}),
                         [](const ::testing::TestParamInfo<Grid>& info) {
                           return std::to_string(info.param.frequencies) + "_frequencies_" +
                                  std::to_string(info.param.samples) + "_samples";
                         });

TEST(SpeedPeriodSums, NoFrequenciesGiveZeroWaveforms) {
  const PeriodWaveforms w = periodSums(PeriodInputs{}, 9, true);
  ASSERT_EQ(w.ildPulse.size(), 9u);
  for (int n = 0; n < 9; ++n) {
    EXPECT_EQ(w.ildPulse[n], 0.0);
    EXPECT_EQ(w.pulse[n], 0.0);
  }
  EXPECT_TRUE(periodSums(PeriodInputs{}, 0, true).ildPulse.empty());
}

}  // namespace
