// The blocked, tiled phasor sums against the plain loop (one frequency at a time, the
// phasor advanced by one multiplication per sample), over grid sizes that end inside a
// block and inside a tile, up to the size of a 10 MHz thru to 50 GHz at 25.78125 GBd:
// every vector width the processor has gives the same bits. The period sums of the
// equalised ILD, taken as a chirp convolution, against the direct sums in long double
// with every phase m*n*turns reduced exactly, on the grids small enough for that.

#include "chirpSums.h"
#include "phasorSums.h"
#include "stages.h"
#include "workspace.h"

namespace {

using cd = std::complex<double>;
using brevo_test::pi;

struct Grid {
  int frequencies, samples;
};
void PrintTo(const Grid& g, std::ostream* os) {
  *os << g.frequencies << " frequencies, " << g.samples << " samples";
}

// Channel-like spectra: a fitted response falling with frequency and a delay, a small
// rippling deviation, and the grid phasor of a period that is not a whole number of
// samples (as 1/(df*timeStep) = 10312.5); with the sums of the plain loop and, below
// kExactTerms terms, the exact sums.
constexpr long kExactTerms = 3'000'000;
struct Spectra {
  PeriodInputs in;
  std::vector<double> stepRe, stepIm;
  std::vector<double> ild, fit, exactIld, exactFit;
  Spectra(int nF, int nT) : ild(nT), fit(nT) {
    in.turns = 1 / (nT - 0.5);
    const cd W = std::exp(cd(0, 2 * pi * in.turns));
    cd E = 1;
    for (int m = 0; m < nF; ++m, E *= W) {
      const double G = 2 / (1 + 1e-3 * m);
      const cd F = G * std::exp(cd(-2e-4 * m, -0.31 * m)),
               I = G * 0.01 * std::exp(cd(-1e-4 * m, 0.7 * m)) * std::sin(0.05 * m);
      in.ildRe.push_back(I.real()), in.ildIm.push_back(I.imag()), in.fitRe.push_back(F.real());
      in.fitIm.push_back(F.imag()), stepRe.push_back(E.real()), stepIm.push_back(E.imag());
      cd rho = 1;
      for (int n = 0; n < nT; ++n, rho *= E)
        ild[n] += std::real(I * rho), fit[n] += std::real(F * rho);
    }
    if (static_cast<long>(nF) * nT > kExactTerms) return;
    std::vector<long double> i(nT), f(nT);
    for (int m = 0; m < nF; ++m)
      for (int n = 0; n < nT; ++n) {
        long double t = static_cast<long double>(in.turns) * (static_cast<long long>(m) * n);
        t -= std::nearbyint(t);
        const long double c = std::cos(2 * std::numbers::pi_v<long double> * t);
        const long double sn = std::sin(2 * std::numbers::pi_v<long double> * t);
        i[n] += in.ildRe[m] * c - in.ildIm[m] * sn, f[n] += in.fitRe[m] * c - in.fitIm[m] * sn;
      }
    exactIld.assign(i.begin(), i.end()), exactFit.assign(f.begin(), f.end());
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

TEST_P(SpeedPeriodSums, AgreeWithThePlainLoopInEveryWidthAndWithTheExactSums) {
  const Grid g = GetParam();
  Spectra s(g.frequencies, g.samples);
  if (s.exactIld.size() == static_cast<std::size_t>(g.samples)) {
    std::vector<double> thru = s.exactFit;
    for (int n = 0; n < g.samples; ++n) thru[n] += s.exactIld[n];
    const PeriodWaveforms both = periodSums(s.in, g.samples, true);  // the pulse as fit plus ILD
    // The stepped phasor of the plain loop is 1e-13 to 3e-11 off on the grids from 256
    // frequencies up; the convolution stays within 1e-14.
    EXPECT_LT(difference(both.ildPulse, s.exactIld) + difference(both.fitPulse, s.exactFit) +
                  difference(both.pulse, thru),
              2e-14);
  }

  PhasorSpectra spectra{2,
                        g.frequencies,
                        {s.in.ildRe.data(), s.in.fitRe.data()},
                        {s.in.ildIm.data(), s.in.fitIm.data()},
                        s.stepRe.data(),
                        s.stepIm.data()};
  auto sums = [&](PhasorPath path) {
    std::vector<double> a(2 * g.samples);
    double* const out[PhasorSpectra::kMaxSums] = {a.data(), a.data() + g.samples};
    return sumPhasors(spectra, g.samples, out, path), a;
  };
  const std::vector<double> narrow = sums(PhasorPath::vector128);
  const std::vector<double> ild(narrow.begin(), narrow.begin() + g.samples),
      fit(narrow.begin() + g.samples, narrow.end());
  EXPECT_LT(difference(ild, s.ild) + difference(fit, s.fit), 1e-12);
  for (PhasorPath path : phasorPaths())
    EXPECT_TRUE(narrow.empty() ||
                std::memcmp(sums(path).data(), narrow.data(), narrow.size() * sizeof(double)) == 0)
        << static_cast<int>(path);
}

// No frequencies, no samples, fewer samples than blocks, samples ending inside the last
// block, frequencies ending inside a tile and on a tile's edge, and the benchmark lane.
INSTANTIATE_TEST_SUITE_P(Grids, SpeedPeriodSums,
                         ::testing::Values(Grid{0, 9}, Grid{3, 0}, Grid{1, 1}, Grid{2, 3},
                                           Grid{7, 5}, Grid{256, 8}, Grid{257, 13}, Grid{513, 611},
                                           Grid{1300, 2047}, Grid{5001, 10313}));

// The short pulse's sums start at a first frequency above 0: sums of Re(c_m *
// exp(2*pi*j*(start + turns*m)*n)) against long double, with whole turns in start.
TEST(ChirpSums, FromAFirstFrequencyAboveZero) {
  const int nF = 999, nT = 701;
  const double turns = 0.05 / 97.3, start = 3.25 + 0.05 * 41 / 97.3;
  std::vector<double> re(nF), im(nF);
  std::vector<long double> exact(nT);
  for (int m = 0; m < nF; ++m) {
    const cd c = std::exp(cd(-1e-3 * m, 0.9 * m)) / (1.0 + m);
    re[m] = c.real(), im[m] = c.imag();
    for (int n = 0; n < nT; ++n) {
      long double t = (static_cast<long double>(start) + static_cast<long double>(turns) * m) * n;
      t -= std::nearbyint(t);
      exact[n] += re[m] * std::cos(2 * std::numbers::pi_v<long double> * t) -
                  im[m] * std::sin(2 * std::numbers::pi_v<long double> * t);
    }
  }
  const ChirpSpectrum spectrum{re, im};
  const std::vector<std::vector<double>> got = chirpSums({&spectrum, 1}, turns, nT, start);
  EXPECT_LT(difference(got.at(0), std::vector<double>(exact.begin(), exact.end())), 1e-14);
}

}  // namespace
