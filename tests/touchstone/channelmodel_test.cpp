// The synthetic lane: passivity, reciprocity, the requested loss, crosstalk shapes from
// weak-coupling theory, closed forms of a matched line, refusals and the written files.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "SyntheticChannel.h"
#include "test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Largest eigenvalue of a real symmetric matrix by cyclic Jacobi rotations.
double largestEigenvalue(std::vector<std::vector<double>> a) {
  const std::size_t n = a.size();
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0;
    for (std::size_t p = 0; p < n; ++p)
      for (std::size_t q = p + 1; q < n; ++q) off += a[p][q] * a[p][q];
    if (off < 1e-30) break;
    for (std::size_t p = 0; p < n; ++p)
      for (std::size_t q = p + 1; q < n; ++q) {
        if (a[p][q] == 0.0) continue;
        const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (std::size_t k = 0; k < n; ++k) {   // columns p, q
          const double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (std::size_t k = 0; k < n; ++k) {   // rows p, q
          const double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
      }
  }
  double top = a[0][0];
  for (std::size_t i = 1; i < n; ++i) top = std::max(top, a[i][i]);
  return top;
}

// Largest singular value of S at point k: the root of the largest eigenvalue of the
// Hermitian S^H S, taken through its real symmetric embedding [[Re, -Im], [Im, Re]].
double largestSingularValue(const Sparams& set, int k) {
  const int n = set.Size();
  std::vector<std::vector<std::complex<double>>> h(n, std::vector<std::complex<double>>(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int r = 0; r < n; ++r)
        h[i][j] += std::conj(set.Value(k, r + 1, i + 1)) * set.Value(k, r + 1, j + 1);
  std::vector<std::vector<double>> e(2 * n, std::vector<double>(2 * n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      e[i][j] = e[i + n][j + n] = h[i][j].real();
      e[i][j + n] = -h[i][j].imag();
      e[i + n][j] = h[i][j].imag();
    }
  return std::sqrt(std::max(0.0, largestEigenvalue(e)));
}

// Differential transfer 1,3 => 2,4 at stored point k, the estimator's own pairing.
std::complex<double> sdd21(const Sparams& s, int k) {
  return 0.5 * (s.Value(k, 1, 2) - s.Value(k, 1, 4) - s.Value(k, 3, 2) + s.Value(k, 3, 4));
}

std::complex<double> sdd11(const Sparams& s, int k) {
  return 0.5 * (s.Value(k, 1, 1) - s.Value(k, 1, 3) - s.Value(k, 3, 1) + s.Value(k, 3, 3));
}

double dbOf(std::complex<double> z) { return 20 * std::log10(std::abs(z)); }

// Index of the stored point nearest to f on a uniform grid.
int nearest(const Sparams& s, double f) {
  const double step = s.Freq(1) - s.Freq(0);
  return static_cast<int>(std::lround((f - s.Freq(0)) / step));
}

// Differential loss at f in dB, linearly interpolated (in dB) between the two stored
// neighbours.
double storedLossDb(const Sparams& s, double f) {
  const double step = s.Freq(1) - s.Freq(0);
  const int k = static_cast<int>(std::floor((f - s.Freq(0)) / step));
  const double w = (f - s.Freq(k)) / step;
  return -((1 - w) * dbOf(sdd21(s, k)) + w * dbOf(sdd21(s, k + 1)));
}

struct ParamCase {
  const char* name;
  LaneParams params;
};

LaneParams with(void (*edit)(LaneParams&)) {
  LaneParams s;
  edit(s);
  return s;
}

const ParamCase kParamCases[] = {
    {"defaults", LaneParams{}},
    {"low_loss_short", with([](LaneParams& s) { s.lossDb = 6; s.length = 0.05; })},
    {"high_loss_long", with([](LaneParams& s) { s.lossDb = 40; s.length = 0.8; })},
    {"all_dielectric", with([](LaneParams& s) { s.conductorShare = 0; })},
    {"all_conductor", with([](LaneParams& s) { s.conductorShare = 1; })},
    {"big_vias_low_impedance",
     with([](LaneParams& s) { s.via = 250e-15; s.connector = 200e-15; s.zdiff = 80; s.zcomm = 20; })},
    {"high_impedance_strong_crosstalk",
     with([](LaneParams& s) { s.zdiff = 110; s.nextDb = {-26}; s.fextDb = {-14}; })},
    {"from_dc_pam4_rate",
     with([](LaneParams& s) { s.fstart = 0; s.fstop = 30e9; s.fstep = 50e6; s.rate = 53.125e9; s.lossDb = 30; })},
};

void PrintTo(const ParamCase& c, std::ostream* os) { *os << c.name; }

class SyntheticLane : public ::testing::TestWithParam<ParamCase> {};

TEST_P(SyntheticLane, PassiveReciprocalAndAtTheRequestedLoss) {
  const LaneParams& params = GetParam().params;
  const ChannelBuild b = buildChannels(params, "case");
  ASSERT_EQ(b.error, "");
  ASSERT_EQ(b.set.next.size(), params.nextDb.size());
  ASSERT_EQ(b.set.fext.size(), params.fextDb.size());

  std::vector<const Sparams*> all{&b.set.thru};
  for (const Sparams& s : b.set.next) all.push_back(&s);
  for (const Sparams& s : b.set.fext) all.push_back(&s);
  for (const Sparams* s : all) {
    ASSERT_EQ(s->Size(), 4);
    ASSERT_EQ(s->Fcount(), b.set.thru.Fcount());
    double worst = 0, asymmetry = 0;
    for (int k = 0; k < s->Fcount(); ++k) {
      ASSERT_EQ(s->Freq(k), b.set.thru.Freq(k));
      worst = std::max(worst, largestSingularValue(*s, k));
      for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c)
          asymmetry = std::max(asymmetry, std::abs(s->Value(k, r, c) - s->Value(k, c, r)));
    }
    EXPECT_LE(worst, 1 + 1e-9) << s->fileName();
    EXPECT_LE(asymmetry, 1e-12) << s->fileName();
  }

  const double fN = 0.5 * params.rate;
  EXPECT_NEAR(modelLossDb(params, b.set.nyquistNepers, fN), params.lossDb, 1e-6);
  EXPECT_NEAR(storedLossDb(b.set.thru, fN), params.lossDb, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Params, SyntheticLane, ::testing::ValuesIn(kParamCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A pair matched to the 2 x 50 ohm ports with no discontinuity is a bare line: no
// reflection, and a loss of L (c sqrt(f/fN) + (1 - c) f/fN) dB at any f.
TEST(SyntheticLaneClosedForm, MatchedLineIsBareAttenuation) {
  LaneParams params;
  params.zdiff = 100;
  params.zcomm = 25;   // even mode 50 ohm as well
  params.via = 0;
  params.connector = 0;
  params.conductorShare = 0.3;
  const ChannelBuild b = buildChannels(params, "matched");
  ASSERT_EQ(b.error, "");
  const double fN = 0.5 * params.rate;
  for (double x : {0.25, 0.5, 1.0, 2.0, 3.5}) {
    const double expected = params.lossDb * (0.3 * std::sqrt(x) + 0.7 * x);
    EXPECT_NEAR(modelLossDb(params, b.set.nyquistNepers, x * fN), expected, 1e-9) << "f/fN " << x;
  }
  for (int k = 0; k < b.set.thru.Fcount(); ++k) {
    EXPECT_LT(std::abs(b.set.thru.Value(k, 1, 1)), 1e-12);
    EXPECT_LT(std::abs(b.set.thru.Value(k, 1, 3)), 1e-12);   // no intra-pair coupling
  }
}

// With vias and a mismatch there are reflections, and they grow with frequency.
TEST(SyntheticLaneClosedForm, DiscontinuitiesReflect) {
  const ChannelBuild b = buildChannels(LaneParams{}, "r");
  ASSERT_EQ(b.error, "");
  const Sparams& t = b.set.thru;
  // 90 ohm against 100: |rho| = 10/190 at low frequency, one end seen through the line.
  EXPECT_NEAR(std::abs(sdd11(t, 0)), 10.0 / 190.0, 0.03);
  double high = 0;
  for (int k = nearest(t, 10e9); k < nearest(t, 20e9); ++k) high = std::max(high, std::abs(sdd11(t, k)));
  EXPECT_GT(high, 0.15);   // 80 fF to ground is j0.25 of 50 ohm per end at 10 GHz
}

// The line's impulse response starts at its delay length*sqrt(er)/c: nothing before it
// (a loss without its causal phase would put a precursor there).
TEST(SyntheticLaneClosedForm, ImpulseArrivesAtTheLineDelay) {
  LaneParams params;
  params.zdiff = 100;
  params.zcomm = 25;
  params.via = 0;
  params.connector = 0;
  params.fstart = 0;
  params.fstep = 20e6;
  const ChannelBuild b = buildChannels(params, "delay");
  ASSERT_EQ(b.error, "");
  const Sparams& t = b.set.thru;
  const double delay = params.length * std::sqrt(params.er) / 299792458.0;
  auto h = [&](double time) {
    double sum = 0.5 * sdd21(t, 0).real();   // the 0 Hz term counts once
    for (int k = 1; k < t.Fcount(); ++k)
      sum += (sdd21(t, k) * std::exp(std::complex<double>(0, 2 * kPi * t.Freq(k) * time))).real();
    return sum;
  };
  double peak = 0, peakTime = 0;
  for (double time = 0.5 * delay; time < 1.5 * delay; time += 1e-12)
    if (h(time) > peak) peak = h(time), peakTime = time;
  EXPECT_GT(peakTime, delay);
  EXPECT_LT(peakTime, delay + 100e-12);
  for (double time = 0.2 * delay; time < 0.9 * delay; time += 5e-12)
    EXPECT_LT(std::abs(h(time)), 1e-3 * peak) << "precursor at " << time;
}

// NEXT saturates at its level once the line is lossy; FEXT keeps its ratio to the thru
// at Nyquist and grows with f (6 dB per octave relative to the thru).
TEST(SyntheticLaneCrosstalk, LevelsAndShapes) {
  LaneParams params;
  params.nextDb = {-40, -47};
  params.fextDb = {-30, -38};
  const ChannelBuild b = buildChannels(params, "x");
  ASSERT_EQ(b.error, "");
  const Sparams& t = b.set.thru;
  const double fN = 0.5 * params.rate;
  for (std::size_t a = 0; a < 2; ++a) {
    const Sparams& n = b.set.next[a];
    EXPECT_NEAR(dbOf(sdd21(n, nearest(n, 40e9))), params.nextDb[a], 0.05) << "NEXT " << a;

    const Sparams& f = b.set.fext[a];
    const int kN = nearest(f, fN), kH = nearest(f, fN / 2);
    const double ratioN = dbOf(sdd21(f, kN)) - dbOf(sdd21(t, kN));
    const double ratioH = dbOf(sdd21(f, kH)) - dbOf(sdd21(t, kH));
    EXPECT_NEAR(ratioN, params.fextDb[a], 0.02) << "FEXT " << a;
    EXPECT_NEAR(ratioN - ratioH, 20 * std::log10(t.Freq(kN) / t.Freq(kH)), 1e-9) << "FEXT " << a;
  }
}

// On an electrically short, nearly lossless line NEXT starts from
// Kb |1 - e^{-j 4 pi f Td}| ~ Kb 4 pi f Td.
TEST(SyntheticLaneCrosstalk, NextRisesFromLowFrequency) {
  LaneParams params;
  params.length = 0.02;
  params.lossDb = 0.01;
  params.zdiff = 100;
  params.zcomm = 25;
  params.via = 0;
  params.connector = 0;
  params.nextDb = {-40};
  const ChannelBuild b = buildChannels(params, "short");
  ASSERT_EQ(b.error, "");
  const Sparams& n = b.set.next[0];
  const double delay = params.length * std::sqrt(params.er) / 299792458.0;
  for (double f : {25e6, 100e6, 400e6}) {
    const double expected = -40 + 20 * std::log10(4 * kPi * f * delay);
    EXPECT_NEAR(dbOf(sdd21(n, nearest(n, f))), expected, 0.5) << f;
  }
}

TEST(SyntheticLaneRefusals, OutOfRangeParametersGiveAReason) {
  const struct {
    const char* name;
    void (*edit)(LaneParams&);
  } cases[] = {
      {"loss_below_mismatch", [](LaneParams& s) { s.lossDb = 0.01; s.via = 300e-15; }},
      {"next_too_strong", [](LaneParams& s) { s.nextDb = {-3}; }},
      {"next_not_negative", [](LaneParams& s) { s.nextDb = {0}; }},
      {"zero_step", [](LaneParams& s) { s.fstep = 0; }},
      {"stop_below_start", [](LaneParams& s) { s.fstop = 1e6; }},
      {"two_points", [](LaneParams& s) { s.fstop = s.fstart + s.fstep; }},
      {"share_above_one", [](LaneParams& s) { s.conductorShare = 1.5; }},
      {"connector_at_end", [](LaneParams& s) { s.connectorAt = 1; }},
      {"nan_rate", [](LaneParams& s) { s.rate = std::nan(""); }},
  };
  for (const auto& c : cases) {
    LaneParams s;
    c.edit(s);
    const ChannelBuild b = buildChannels(s, "bad");
    EXPECT_NE(b.error, "") << c.name;
    EXPECT_EQ(b.set.thru.Fcount(), 0) << c.name;
  }
}

// Written in each format and unit and read back by the reader: same grid, same values
// within what the value format keeps; writing twice gives the same bytes.
TEST(SyntheticLaneFiles, ReadBackInEveryFormatAndUnit) {
  LaneParams params;
  params.fstop = 5e9;
  params.fstep = 50e6;
  params.nextDb = {-40};
  params.fextDb = {-30};
  const struct {
    format fmt;
    const char* unit;
    double tolerance;   // relative, from the printed digits
  } cases[] = {{DB, "MHz", 4e-4}, {MA, "GHz", 2e-4}, {RI, "Hz", 1e-6}, {DB, "kHz", 4e-4}};
  ScratchDir dir;
  for (const auto& c : cases) {
    const std::string base = dir.file("lane");
    const ChannelBuild b = buildChannels(params, base);
    ASSERT_EQ(b.error, "");
    CapturedLog log;
    ASSERT_EQ(writeChannels(b.set, c.fmt, defaultValueFormat(c.fmt), c.unit, log.get()), 0);
    const std::string first = slurp(base + "_thru.s4p");
    ASSERT_EQ(writeChannels(b.set, c.fmt, defaultValueFormat(c.fmt), c.unit, log.get()), 0);
    EXPECT_EQ(slurp(base + "_thru.s4p"), first) << c.unit;

    for (const char* leaf : {"_thru.s4p", "_next1.s4p", "_fext1.s4p"}) {
      const Sparams& built = leaf[1] == 't' ? b.set.thru : leaf[1] == 'n' ? b.set.next[0] : b.set.fext[0];
      Sparams read(base + leaf, log.get());
      ASSERT_EQ(read.Size(), 4) << leaf << " " << c.unit;
      ASSERT_EQ(read.Fcount(), built.Fcount()) << leaf << " " << c.unit;
      for (int k = 0; k < read.Fcount(); ++k) {
        EXPECT_NEAR(read.Freq(k), built.Freq(k), 1e-9 * built.Freq(k)) << leaf << " " << c.unit;
        for (int r = 1; r <= 4; ++r)
          for (int col = 1; col <= 4; ++col) {
            const auto want = built.Value(k, r, col);
            ASSERT_LE(std::abs(read.Value(k, r, col) - want), c.tolerance * std::abs(want) + 1e-12)
                << leaf << " " << c.unit << " k=" << k << " (" << r << "," << col << ")";
          }
      }
    }
  }
}

TEST(SyntheticLaneFiles, DecibelsRefuseAnExactZero) {
  LaneParams params;
  params.fstart = 0;   // at 0 Hz every reflection is exactly 0
  const ChannelBuild b = buildChannels(params, "zero");
  ASSERT_EQ(b.error, "");
  CapturedLog log;
  EXPECT_EQ(writeChannels(b.set, DB, defaultValueFormat(DB), "MHz", log.get()), 1);
  EXPECT_NE(log.text().find("magnitude 0"), std::string::npos);
}

}  // namespace
