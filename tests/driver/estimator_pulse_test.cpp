// The time-domain sums: pulse and dibit shapes from physics, FLIPPED, and the
// vectorised sums against the plain loop order.
#include <cmath>
#include <fstream>

#include "channelModel.h"
#include "estimator_support.h"

namespace estimator_test {
namespace {

// Sdd21 = 1, matched, no filters: the pulse is a one-UI rectangle centred on the delay
// (0 here) and the dibit +1 for that UI and -1 for the next. The grid runs to 200 GHz,
// so the edges ring (Gibbs) and only samples away from them are held tight.
TEST(EstimatorPulse, AllPassChannelGivesRectangleAndDibit) {
  StageRun run;
  run.rs.settings.tx_bandwidth = run.rs.settings.rx_bandwidth = 0;
  deriveByHand(run.rs);
  const std::vector<double> f = grid(10e6, 10e6, 20000);
  const std::string file = writeChannel(scratchDir() / "allpass.s2p", f, 2,
                                        [](int, int r, int c) { return r == c ? cd(0) : cd(1); });
  ASSERT_TRUE(loadThru(run.rs, file, 1, 0, 2, 0));
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  EXPECT_NEAR(run.rs.noise.groupDelay, 0, 1e-15);
  const ShortWaveforms w = shortPulseSums(run.rs);
  ASSERT_EQ(static_cast<int>(w.pulse.size()), pulsePoints);
  for (int n = 0; n < pulsePoints; ++n) {
    const int from = n - 100;   // samples from the delay, 20 per UI
    if (std::abs(from) <= 6) {
      EXPECT_NEAR(w.pulse[n], 1, 0.05) << "pulse sample " << n;
      EXPECT_NEAR(w.dibit[n], 1, 0.07) << "dibit sample " << n;
    } else if (std::abs(from - 20) <= 6) {
      EXPECT_NEAR(w.pulse[n], 0, 0.05) << "pulse sample " << n;
      EXPECT_NEAR(w.dibit[n], -1, 0.07) << "dibit sample " << n;
    } else if (from <= -16 || from >= 36) {
      EXPECT_NEAR(w.pulse[n], 0, 0.05) << "pulse sample " << n;
      EXPECT_NEAR(w.dibit[n], 0, 0.05) << "dibit sample " << n;
    }
    EXPECT_EQ(w.fitPulse[n], w.fitPulse[n]) << "fitted pulse sample " << n << " is NaN";
  }
  // The peaks are the rectangle's height plus at most the edge ringing.
  EXPECT_GT(run.rs.noise.pulsePeak, 0.98);
  EXPECT_LT(run.rs.noise.pulsePeak, 1.12);
  EXPECT_GT(run.rs.noise.dibitPeak, 0.98);
  EXPECT_LT(run.rs.noise.dibitPeak, 1.2);
  EXPECT_NEAR(run.rs.noise.dibitAtDelay, 1, 0.05);
  EXPECT_NEAR(run.rs.noise.implementationNoise, std::sqrt(run.rs.noise.dibitPeak) * 0.01 * 0.4, 1e-15);
}

// The straightforward loop order, one frequency at a time with its phasors advanced by
// multiplication, as the sums are defined.
ShortWaveforms plainShortSums(const RunState& rs) {
  ShortWaveforms w{std::vector<double>(pulsePoints), std::vector<double>(pulsePoints),
                   std::vector<double>(pulsePoints)};
  const double UI = rs.derived.UI, gd = rs.noise.groupDelay;
  for (int k = 1; k + 1 < rs.thru.Fcount(); ++k) {
    const double f = rs.thru.Freq(k);
    const double hb = butterworth(4, f, rs.derived.rxTau) * butterworth(2, f, rs.derived.txTau);
    const double p = pulseWeight(f, UI), dw = dibitWeight(f, UI);
    const double width = (rs.thru.Freq(k + 1) - rs.thru.Freq(k - 1)) * UI;
    const cd e1 = std::exp(cd(0, 2 * kPi * f * 0.05 * UI));
    cd e2 = std::exp(cd(0, 2 * kPi * f * (gd - 5 * UI)));
    cd e3 = std::exp(cd(0, 2 * kPi * f * (gd - 5.5 * UI)));
    for (int n = 0; n < pulsePoints; ++n) {
      w.fitPulse[n] += std::real(rs.points.fitSdd21[k] * p * hb * e2 * width);
      w.pulse[n] += std::real(rs.points.Sdd21[k] * p * hb * e2 * width);
      w.dibit[n] += std::imag(rs.points.Sdd21[k] * dw * hb * e3 * width);
      e2 *= e1;
      e3 *= e1;
    }
  }
  return w;
}

void expectSameWaveform(const std::vector<double>& got, const std::vector<double>& want,
                        const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  double scale = 0;
  for (double v : want) scale = std::max(scale, std::abs(v));
  ASSERT_GT(scale, 0) << what;
  for (std::size_t n = 0; n < want.size(); ++n)
    ASSERT_NEAR(got[n], want[n], 1e-12 * scale) << what << " sample " << n;
}

TEST(EstimatorPulse, ShortSumsAgreeWithPlainLoop) {
  StageRun run;
  const std::vector<double> f = grid(0, 10e6, 5001);
  ASSERT_TRUE(loadThru(run.rs, writeLine(scratchDir() / "line.s2p", f), 1, 0, 2, 0));
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  const ShortWaveforms got = shortPulseSums(run.rs);
  const ShortWaveforms want = plainShortSums(run.rs);
  expectSameWaveform(got.pulse, want.pulse, "pulse");
  expectSameWaveform(got.dibit, want.dibit, "dibit");
  expectSameWaveform(got.fitPulse, want.fitPulse, "fitPulse");
  // The line's delay is 1 ns; the fit's phase slope gives it back.
  EXPECT_NEAR(run.rs.noise.groupDelay, 1e-9, 0.02e-9);
}

TEST(EstimatorPulse, PeriodSumsAgreeWithPlainLoop) {
  // Arbitrary one-sided spectra G*ILD, G*F, G*T on 257 grid frequencies.
  const int nF = 257, nT = 611;
  const cd W = std::exp(cd(0, 2 * kPi * 0.37 / nF));
  std::vector<double> G(nF);
  std::vector<cd> ild(nF), F(nF), T(nF);
  for (int m = 0; m < nF; ++m) {
    G[m] = 2 / (1.0 + 0.01 * m);
    ild[m] = cd(std::sin(0.3 * m), std::cos(0.7 * m)) * 0.01;
    F[m] = std::exp(cd(-0.02 * m, -0.4 * m));
    T[m] = F[m] + ild[m];
  }
  PeriodInputs in;
  std::vector<double> wantIld(nT), wantFit(nT), wantThru(nT);
  cd E = 1;
  for (int m = 0; m < nF; ++m) {
    const cd cI = G[m] * ild[m], cF = G[m] * F[m], cT = G[m] * T[m];
    in.ildRe.push_back(cI.real()), in.ildIm.push_back(cI.imag());
    in.fitRe.push_back(cF.real()), in.fitIm.push_back(cF.imag());
    in.thruRe.push_back(cT.real()), in.thruIm.push_back(cT.imag());
    in.stepRe.push_back(E.real()), in.stepIm.push_back(E.imag());
    cd rho = 1;
    for (int n = 0; n < nT; ++n) {
      wantIld[n] += std::real(G[m] * rho * ild[m]);
      wantFit[n] += std::real(G[m] * rho * F[m]);
      wantThru[n] += std::real(G[m] * rho * T[m]);
      rho *= E;
    }
    E *= W;
  }
  const PeriodWaveforms with = periodSums(in, nT, true);
  expectSameWaveform(with.ildPulse, wantIld, "ildPulse");
  expectSameWaveform(with.fitPulse, wantFit, "fitPulse");
  expectSameWaveform(with.pulse, wantThru, "pulse");
  const PeriodWaveforms without = periodSums(in, nT, false);
  expectSameWaveform(without.ildPulse, wantIld, "ildPulse alone");
  EXPECT_TRUE(without.pulse.empty());
  EXPECT_TRUE(without.fitPulse.empty());
}

// Negating every entry of a causal line inverts it: FLIPPED says so, and the noise the
// channel makes is unchanged.
TEST(EstimatorPulse, InvertedChannelIsFlippedWithSameNoise) {
  const std::vector<double> f = grid(0, 10e6, 5001);
  const std::filesystem::path dir = scratchDir();
  std::string reports[2];
  for (int inverted = 0; inverted < 2; ++inverted) {
    StageRun run;
    const std::string file = writeLine(dir / (inverted ? "minus.s2p" : "plus.s2p"), f, inverted ? -1 : 1);
    ASSERT_TRUE(loadThru(run.rs, file, 1, 0, 2, 0));
    ASSERT_EQ(runStages(run.rs), 0);
    EXPECT_EQ(run.rs.noise.flipped, inverted == 1);
    EXPECT_EQ(run.rs.noise.polarity, inverted ? -1 : 1);
    reports[inverted] = run.result.text();
  }
  EXPECT_EQ(lineStarting(reports[0], "FLIPPED:"), "FLIPPED:                                 no\n");
  EXPECT_EQ(lineStarting(reports[1], "FLIPPED:"), "FLIPPED:                                yes\n");
  for (const char* label : {"ILD ", "Tx re-Reflection", "Rx re-Reflection", "Tx-Rx re-Reflection",
                            "Channel ", "Nyquist gain"}) {
    EXPECT_NE(lineStarting(reports[0], label), "") << label;
    EXPECT_EQ(lineStarting(reports[0], label), lineStarting(reports[1], label)) << label;
  }
}

// A channel that passes nothing: all-zero waveforms have a flat top, and the peaks are
// the samples themselves, 0, not the NaN of an undefined vertex.
TEST(EstimatorPulse, DeadChannelHasZeroPeaks) {
  StageRun run;
  const std::vector<double> f = grid(0, 10e6, 301);
  const std::string file = writeChannel(scratchDir() / "dead.s2p", f, 2, [](int, int, int) { return cd(0); });
  ASSERT_TRUE(loadThru(run.rs, file, 1, 0, 2, 0));
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  EXPECT_EQ(run.rs.noise.pulsePeak, 0);
  EXPECT_EQ(run.rs.noise.dibitPeak, 0);
  EXPECT_TRUE(std::isfinite(run.rs.noise.dibitPeakTime));
  EXPECT_FALSE(run.rs.noise.flipped);
}

// The .wv1 file: a header and one row per sample; the columns carry the polarity.
TEST(EstimatorPulse, WaveformFileHasHeaderAndAllSamples) {
  StageRun run;
  const std::filesystem::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 3001);
  ASSERT_TRUE(loadThru(run.rs, writeLine(dir / "line.s2p", f, -1), 1, 0, 2, 0));
  run.rs.saveBase = (dir / "run1").string();
  std::snprintf(run.rs.settings.save_file, kStringStorage, "%s.txt", run.rs.saveBase.c_str());
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  std::ifstream in(dir / "run1.wv1");
  ASSERT_TRUE(in) << "no .wv1 file";
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "names:  time pulse dibit fitPulse");
  const ShortWaveforms w = shortPulseSums(run.rs);
  int rows = 0;
  double t, pulse, dibit, fitted;
  while (in >> t >> pulse >> dibit >> fitted) {
    ASSERT_LT(rows, pulsePoints);
    EXPECT_NEAR(pulse, -w.pulse[rows], 1e-6) << "row " << rows;   // inverted channel
    EXPECT_NEAR(dibit, -w.dibit[rows], 1e-6) << "row " << rows;
    ++rows;
  }
  EXPECT_EQ(rows, pulsePoints);
  // An unwritable save base: the run goes on and the log names the save_file setting.
  StageRun bad;
  ASSERT_TRUE(loadThru(bad.rs, (dir / "line.s2p").string(), 1, 0, 2, 0));
  bad.rs.saveBase = (dir / "missing" / "run2").string();
  std::snprintf(bad.rs.settings.save_file, kStringStorage, "nowhere/run2.txt");
  fitThru(bad.rs);
  pulseAndDibit(bad.rs);
  const std::vector<std::string> log = lines(bad.log.text());
  auto at = [&](const std::string& prefix) {
    for (std::size_t i = 0; i < log.size(); ++i)
      if (log[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
  };
  EXPECT_GE(at("could not open nowhere/run2.txt for writing\n"), 0);
  EXPECT_LT(at("could not open nowhere/run2.txt for writing\n"), at("points in pulse:  701\n"));
  EXPECT_LT(at("points in pulse:  701\n"), at("max dibit:  "));
}

}  // namespace
}  // namespace estimator_test
