// The blocked, tiled phasor sums against the plain loop (one frequency at a time, the
// phasor advanced by one multiplication per sample), over grid sizes that end inside a
// block and inside a tile, up to the size of a 10 MHz thru to 50 GHz at 25.78125 GBd:
// every vector width the processor has gives the same bits, and the period sums of the
// equalised ILD built on them agree with the plain loop.

#include "phasorSums.h"
#include "stages.h"
#include "workspace.h"

namespace {

using cd = std::complex<double>;
using brevo_test::pi;

struct Grid { int frequencies, samples; };
void PrintTo(const Grid& g, std::ostream* os) { *os << g.frequencies << " frequencies, " << g.samples << " samples"; }

// Channel-like spectra: a fitted response falling with frequency and a delay, a small
// rippling deviation, and the grid phasor of a period that is not a whole number of
// samples (as 1/(df*timeStep) = 10312.5); with the sums of the plain loop.
struct Spectra {
  PeriodInputs in;
  std::vector<double> ild, fit;
  Spectra(int nF, int nT) : ild(nT), fit(nT) {
    const cd W = std::exp(cd(0, 2 * pi / (nT - 0.5)));
    cd E = 1;
    for (int m = 0; m < nF; ++m, E *= W) {
      const double G = 2 / (1 + 1e-3 * m);
      const cd F = G * std::exp(cd(-2e-4 * m, -0.31 * m)), I = G * 0.01 * std::exp(cd(-1e-4 * m, 0.7 * m)) * std::sin(0.05 * m);
      in.ildRe.push_back(I.real()), in.ildIm.push_back(I.imag()), in.fitRe.push_back(F.real());
      in.fitIm.push_back(F.imag()), in.stepRe.push_back(E.real()), in.stepIm.push_back(E.imag());
      cd rho = 1;
      for (int n = 0; n < nT; ++n, rho *= E) ild[n] += std::real(I * rho), fit[n] += std::real(F * rho);
    }
  }
};

// Largest difference relative to the waveform's largest magnitude; 1 when the sizes differ.
double difference(const std::vector<double>& got, const std::vector<double>& want) {
  if (got.size() != want.size()) return 1;
  double scale = 0, worst = 0;
  for (std::size_t n = 0; n < want.size(); ++n)
    scale = std::max(scale, std::abs(want[n])), worst = std::max(worst, std::abs(got[n] - want[n]));
  return scale > 0 ? worst / scale : worst;
}

class SpeedPeriodSums : public ::testing::TestWithParam<Grid> {};

TEST_P(SpeedPeriodSums, AgreeWithThePlainLoopInEveryWidth) {
  const Grid g = GetParam();
  Spectra s(g.frequencies, g.samples);
  std::vector<double> thru = s.fit;
  for (int n = 0; n < g.samples; ++n) thru[n] += s.ild[n];
  const PeriodWaveforms both = periodSums(s.in, g.samples, true);   // the pulse as fit plus ILD
  EXPECT_LT(difference(both.ildPulse, s.ild) + difference(both.fitPulse, s.fit) + difference(both.pulse, thru), 1e-12);

  PhasorSpectra spectra{2, g.frequencies, {s.in.ildRe.data(), s.in.fitRe.data()}, {s.in.ildIm.data(), s.in.fitIm.data()},
                        s.in.stepRe.data(), s.in.stepIm.data()};
  auto sums = [&](PhasorPath path) {
    std::vector<double> a(2 * g.samples);
    double* const out[PhasorSpectra::kMaxSums] = {a.data(), a.data() + g.samples};
    return sumPhasors(spectra, g.samples, out, path), a;
  };
  const std::vector<double> narrow = sums(PhasorPath::vector128);
  for (PhasorPath path : phasorPaths())
    EXPECT_TRUE(narrow.empty() || std::memcmp(sums(path).data(), narrow.data(), narrow.size() * sizeof(double)) == 0)
        << static_cast<int>(path);
}

// No frequencies, no samples, fewer samples than blocks, samples ending inside the last
// block, frequencies ending inside a tile and on a tile's edge, and the benchmark lane.
INSTANTIATE_TEST_SUITE_P(Grids, SpeedPeriodSums,
                         ::testing::Values(Grid{0, 9}, Grid{3, 0}, Grid{1, 1}, Grid{2, 3}, Grid{7, 5}, Grid{256, 8},
                                           Grid{257, 13}, Grid{513, 611}, Grid{1300, 2047}, Grid{5001, 10313}));

}  // namespace
