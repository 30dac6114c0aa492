// Noise powers of the through channel: scalings from physics, the low-frequency window,
// the fit options and the equalised ILD.
#include <cmath>

#include "estimator_support.h"

namespace estimator_test {
namespace {

std::string lineFile(int points = 2001, double step = 10e6) {
  static int count = 0;
  return writeLine(scratchDir() / ("line" + std::to_string(count++) + ".s2p"), grid(0, step, points));
}

// Scaling checks: a setting changed, the stages re-run, each power compared with the
// factor that physics gives.
struct ScaleCase {
  const char* name;
  void (*change)(RunState&);
  double noiseFactor;   // on the ILD and re-reflection powers after the budget
  double eyeFactor;     // on availableSignal + slicer_allowance
};

const ScaleCase kScaleCases[] = {
    {"signal_doubled", [](RunState& rs) { rs.settings.signal *= 2; }, 4.0, 2.0},
    {"pam4", [](RunState& rs) { rs.settings.PAM = 4; deriveByHand(rs); }, 5.0 / 9.0, 1.0 / 3.0},
    {"pam4_signal_halved",
     [](RunState& rs) { rs.settings.PAM = 4; rs.settings.signal /= 2; deriveByHand(rs); },
     5.0 / 36.0, 1.0 / 6.0},
};

class EstimatorScaling : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(EstimatorScaling, NoisePowersAndEye) {
  const ScaleCase& c = GetParam();
  const std::string file = lineFile();
  StageRun base(file), changed(file);
  ASSERT_TRUE(base.ok && changed.ok);
  c.change(changed.rs);
  ASSERT_EQ(runStages(base.rs), 0);
  ASSERT_EQ(runStages(changed.rs), 0);
  const Noise &a = base.rs.noise, &b = changed.rs.noise;
  ASSERT_GT(a.ildNoisePower, 0);
  EXPECT_NEAR(b.ildNoisePower / a.ildNoisePower, c.noiseFactor, 1e-12 * c.noiseFactor);
  EXPECT_NEAR(b.rrTxNoisePower / a.rrTxNoisePower, c.noiseFactor, 1e-12 * c.noiseFactor);
  EXPECT_NEAR(b.rrRxNoisePower / a.rrRxNoisePower, c.noiseFactor, 1e-12 * c.noiseFactor);
  EXPECT_NEAR(b.rrTxRxNoisePower / a.rrTxRxNoisePower, c.noiseFactor, 1e-12 * c.noiseFactor);
  EXPECT_NEAR(b.channelNoisePower / a.channelNoisePower, c.noiseFactor, 1e-12 * c.noiseFactor);
  // Implementation noise is an amplitude: signal times the root of the level power.
  EXPECT_NEAR(b.implementationNoise / a.implementationNoise, std::sqrt(c.noiseFactor),
              1e-12 * std::sqrt(c.noiseFactor));
  const double slicer = base.rs.settings.slicer_allowance;
  EXPECT_NEAR((b.availableSignal + slicer) / (a.availableSignal + slicer), c.eyeFactor,
              1e-12 * c.eyeFactor);
}

INSTANTIATE_TEST_SUITE_P(Settings, EstimatorScaling, ::testing::ValuesIn(kScaleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The log of the fit stage, in its order, with the raw and scaled sums tied together.
TEST(EstimatorNoise, LogLinesInOrderAndScaledBySignalSquaredTimesUI) {
  StageRun run(lineFile());
  ASSERT_TRUE(run.ok);
  fitThru(run.rs);
  const std::vector<std::string> log = lines(run.log.text());
  const char* const order[] = {"low frequency ILD=", "sigma  RRTx   = ", "sigma  RRRx   = ",
                               "sigma  RRTxRx = ",   "sigma AC ild  = ", "sigma  RRTx   = ",
                               "sigma  RRRx   = ",   "sigma  RRTxRx = ", "channel Noise = "};
  ASSERT_GE(log.size(), std::size(order));
  const std::size_t first = log.size() - std::size(order);
  for (std::size_t i = 0; i < std::size(order); ++i)
    EXPECT_EQ(log[first + i].rfind(order[i], 0), 0u) << log[first + i];
  const double scale = 0.4 * 0.4 / kRate;
  double raw[3], scaled[3];
  for (int k = 0; k < 3; ++k) {
    raw[k] = std::atof(log[first + 1 + k].c_str() + 16);
    scaled[k] = std::atof(log[first + 5 + k].c_str() + 16);
    EXPECT_NEAR(scaled[k], raw[k] * scale, 1e-6 * raw[k] * scale) << order[1 + k];
  }
  const Noise& n = run.rs.noise;
  EXPECT_NEAR(n.ildNoisePower, run.rs.points.rawIldSum * scale, 1e-15 * n.ildNoisePower);
  EXPECT_EQ(n.channelNoisePower, n.ildNoisePower + n.rrTxNoisePower + n.rrRxNoisePower + n.rrTxRxNoisePower);
}

// A matched line (no reflection) has no Tx or Rx re-reflection, but the Tx-Rx path
// through both devices remains.
TEST(EstimatorNoise, MatchedChannelKeepsOnlyTheDoubleReflection) {
  const std::vector<double> f = grid(0, 10e6, 2001);
  StageRun run(writeChannel(scratchDir() / "matched.s2p", f, 2, [&](int k, int r, int c) {
    return r == c ? cd(0) : lineTransfer(f[k]);
  }));
  ASSERT_TRUE(run.ok);
  fitThru(run.rs);
  EXPECT_EQ(run.rs.noise.rrTxNoisePower, 0);
  EXPECT_EQ(run.rs.noise.rrRxNoisePower, 0);
  EXPECT_GT(run.rs.noise.rrTxRxNoisePower, 0);
}

// The low-frequency window ends at the last i with 200*i < N; with 200 points or fewer
// it is never set and no warning follows.
struct WindowCase {
  int points;
  int windowEnd;   // the index when the low frequencies hold the ILD power, else 0
};
class EstimatorWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(EstimatorWindow, IndexAndPower) {
  const WindowCase c = GetParam();
  // A smooth loss with a deviation only below 30 MHz: nearly all ILD power is in the window.
  const std::vector<double> f = grid(0, 10e6, c.points);
  StageRun run(writeChannel(scratchDir() / "lowripple.s2p", f, 2, [&](int k, int r, int c2) {
    if (r == c2) return cd(0);
    const double x = f[k];
    return std::exp(cd(-3e-11 * x, -2 * kPi * x * 1e-9)) * (x > 0 && x < 30e6 ? 1.3 : 1.0);
  }));
  ASSERT_TRUE(run.ok);
  fitThru(run.rs);
  EXPECT_EQ(run.rs.points.lowFreqIldIndex, c.windowEnd);
  if (c.windowEnd == 0) {
    EXPECT_EQ(run.rs.points.lowFreqIldPower, 0);
  }
  budget(run.rs);
  const std::string warning = lineStarting(run.result.text(), "more than 50% of ILD");
  if (c.windowEnd == 0) {
    EXPECT_EQ(warning, "");
  } else {
    char want[160];
    std::snprintf(want, sizeof want, "more than 50%% of ILD noise power comes in first %5.1f MHz: \n",
                  f[c.windowEnd] * 1e-6);
    EXPECT_EQ(warning, want);
    EXPECT_NE(run.result.text().find(want + std::string(
                  " recommend you check quality of low frequency Sparameter data\nTx re-Reflection")),
              std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Points, EstimatorWindow,
                         ::testing::Values(WindowCase{200, 0}, WindowCase{150, 0},
                                           WindowCase{1000, 4}, WindowCase{1001, 5}),
                         [](const auto& info) { return std::to_string(info.param.points); });

// Fit options: the hard limit with an unlimited receiver excludes nothing; a4_limit
// below the fitted a4 forces the three-term model and the report shows a4 as 0.
TEST(EstimatorNoise, FitOptions) {
  const std::string file = lineFile();
  StageRun none(file), hard(file), limited(file);
  ASSERT_TRUE(none.ok && hard.ok && limited.ok);
  none.rs.settings.limit_range = 0;
  none.rs.settings.rx_bandwidth = hard.rs.settings.rx_bandwidth = 0;
  deriveByHand(none.rs);
  deriveByHand(hard.rs);
  fitThru(none.rs);
  fitThru(hard.rs);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(none.rs.points.fitCoef[k], hard.rs.points.fitCoef[k]) << k;
  EXPECT_EQ(none.result.text(), hard.result.text());

  // A limit exactly at the fitted a4 keeps the four terms; any lower one refits.
  StageRun equal(file);
  ASSERT_TRUE(equal.ok);
  fitThru(equal.rs);
  const cd a4 = equal.rs.points.fitCoef[3];
  ASSERT_NE(a4, cd(0));
  StageRun atLimit(file);
  ASSERT_TRUE(atLimit.ok);
  atLimit.rs.settings.a4_limit = a4.real();
  fitThru(atLimit.rs);
  EXPECT_EQ(atLimit.rs.points.fitCoef[3], a4);
  limited.rs.settings.a4_limit = -1;
  fitThru(limited.rs);
  EXPECT_EQ(limited.rs.points.fitCoef[3], cd(0));
  EXPECT_EQ(lineStarting(limited.result.text(), "a4="), "a4=0.000000e+00+j(0.000000e+00)\n");
  const std::vector<std::string> report = lines(limited.result.text());
  ASSERT_EQ(report.size(), 6u);
  EXPECT_EQ(report[0], "best fit parameters in complex equation:\n");
  EXPECT_EQ(report[1], "ln(Sdd21)= a0 + a1 * sqrt(f) + a2 * f + a4 * f^2\n");
  // The line's loss model is a1 sqrt(f) + a2 f with a delay: the fit returns it nearly.
  EXPECT_NEAR(none.rs.points.fitCoef[2].imag(), -2 * kPi * 1e-9, 0.05 * 2 * kPi * 1e-9);
}

// With E_DFE = 1 every sample of the deviation's period response counts, and by
// Parseval its energy is the frequency-domain ILD power (the grid is uniform from 0 Hz
// and the deviation carries little energy at 0 Hz).
TEST(EstimatorNoise, EqualisedIldWithFullLeakageMatchesFrequencyDomain) {
  StageRun run(lineFile(5001));
  ASSERT_TRUE(run.ok);
  run.rs.settings.E_DFE = 1;
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  const double frequencyDomain = run.rs.noise.ildNoisePower;
  ASSERT_EQ(equalisedIld(run.rs), 0);
  EXPECT_NEAR(run.rs.noise.ildNoisePower / frequencyDomain, 1, 0.01);
  // With the default E_DFE = 0 the equaliser removes part of it.
  StageRun dfe(run.rs.thru.fileName());
  ASSERT_TRUE(dfe.ok);
  fitThru(dfe.rs);
  pulseAndDibit(dfe.rs);
  ASSERT_EQ(equalisedIld(dfe.rs), 0);
  EXPECT_LT(dfe.rs.noise.ildNoisePower, frequencyDomain);
  EXPECT_GT(dfe.rs.noise.ildNoisePower, 0);
  // N_DFE = 0 leaves the frequency-domain value.
  StageRun off(run.rs.thru.fileName());
  ASSERT_TRUE(off.ok);
  off.rs.settings.N_DFE = 0;
  fitThru(off.rs);
  pulseAndDibit(off.rs);
  ASSERT_EQ(equalisedIld(off.rs), 0);
  EXPECT_EQ(off.rs.noise.ildNoisePower, frequencyDomain);
}

}  // namespace
}  // namespace estimator_test
