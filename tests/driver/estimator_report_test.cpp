// Report lines compared whole, the crosstalk walk, and runs on awkward settings.
#include <cmath>
#include <fstream>

#include "estimator_support.h"

namespace estimator_test {
namespace {

// Figures of merit from a given eye and noise, against values worked out by hand:
// S/N = 160/20; BER = erfc(8/sqrt 2)/2; tolerance = sqrt((160/7.034)^2 - noise^2).
struct MeritCase {
  const char* name;
  double eye, noise;   // volts
  const char* sn;
  const char* ber;
  const char* tolerance;
};
const MeritCase kMerit[] = {
    {"eye160_noise20", 0.160, 0.020, "S/N                                            8.000\n",
     "BER                                            6.22e-16\n",
     "interference tolerance                        10.832mV\n"},
    {"eye160_noise30", 0.160, 0.030, "S/N                                            5.333\n",
     "BER                                            4.82e-08\n",
     "interference tolerance                       -19.562mV\n"},
    {"no_noise", 0.160, 0.0, "S/N                                              inf\n",
     "BER                                            0.00e+00\n",
     "interference tolerance                        22.745mV\n"},
};

class EstimatorMerit : public ::testing::TestWithParam<MeritCase> {};

TEST_P(EstimatorMerit, Lines) {
  const MeritCase& c = GetParam();
  StageRun run;
  run.rs.noise.availableSignal = c.eye;
  run.rs.noise.totalNoisePower = c.noise * c.noise;
  run.rs.points.thruPower = {1.0};
  run.rs.points.xtalkPower = {0.0};
  figuresOfMerit(run.rs);
  const std::vector<std::string> report = lines(run.result.text());
  ASSERT_EQ(report.size(), 7u);
  EXPECT_EQ(report[0], "total                                ICN       0.000mV\n");
  char noise[100];
  std::snprintf(noise, sizeof noise, "total                             noise %12.3fmV\n", 1000 * c.noise);
  EXPECT_EQ(report[1], noise);
  EXPECT_EQ(report[2], c.sn);
  EXPECT_EQ(report[3], c.ber);
  EXPECT_EQ(report[4], c.tolerance);
  EXPECT_EQ(report[6], "FLIPPED:                                 no\n");
}

INSTANTIATE_TEST_SUITE_P(Examples, EstimatorMerit, ::testing::ValuesIn(kMerit),
                         [](const auto& info) { return std::string(info.param.name); });

// The tolerance exactly met prints 0.000mV, not -0.000mV.
TEST(EstimatorReport, ToleranceExactlyMetIsZero) {
  StageRun run;
  run.rs.noise.availableSignal = 0;   // no eye and no noise: a^2 - noise^2 is exactly 0
  run.rs.noise.totalNoisePower = 0;
  run.rs.points.thruPower = {1.0};
  run.rs.points.xtalkPower = {0.0};
  figuresOfMerit(run.rs);
  EXPECT_EQ(lineStarting(run.result.text(), "interference"),
            "interference tolerance                         0.000mV\n");
}

// The budget lines, whole, for a dibit peak of 0.5 with the starter settings.
TEST(EstimatorReport, BudgetLines) {
  StageRun run;
  run.rs.noise.dibitPeak = 0.5;
  run.rs.noise.pulsePeak = 0.75;
  run.rs.points.nyquistFitGain = 0.1;   // -20 dB
  run.rs.noise.implementationNoise = 0.002;
  run.rs.noise.ildNoisePower = 1e-6;           // 1 mV
  run.rs.noise.rrTxNoisePower = 4e-6;          // 2 mV
  run.rs.noise.rrRxNoisePower = 9e-6;          // 3 mV
  run.rs.noise.rrTxRxNoisePower = 2.25e-6;     // 1.5 mV
  budget(run.rs);
  const std::vector<std::string> want = {
      "Nyquist gain    -20.000dB\n",
      "peak pulse      750.000m\n",
      "peak dibit      500.000m\n",
      "base EYE        200.000mV\n",
      "available signal                             160.000mV\n",
      "implementation noise                           2.000mV\n",
      "ILD                 noise                                  1.000mV \n",
      "Tx re-Reflection    noise                                  2.000mV \n",
      "Rx re-Reflection    noise                                  3.000mV \n",
      "Tx-Rx re-Reflection noise                                  1.500mV \n",
      "Channel        noise                           4.031mV \n",
  };
  EXPECT_EQ(lines(run.result.text()), want);
  EXPECT_NEAR(run.rs.noise.totalNoisePower, 4e-6 + 16.25e-6, 1e-18);
  EXPECT_NEAR(run.rs.noise.availableSignal, 0.160, 1e-15);
}

// One aggressor whose coupled power is 1/100 of the through channel's at every point:
// Salz S/N = 10 log10(101), whatever the grid.
TEST(EstimatorReport, SalzOfAHundredthCoupling) {
  const std::filesystem::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 2001);
  StageRun run;
  ASSERT_TRUE(loadThru(run.rs, writeLine(dir / "victim.s2p", f), 1, 0, 2, 0));
  const std::string aggressor = writeChannel(dir / "agg.s2p", f, 2, [&](int k, int r, int c) {
    return r == c ? cd(0) : 0.1 * lineTransfer(f[k]) * std::exp(cd(0, 0.3 * k));
  });
  run.rs.fextList.push_back(channelLine{aggressor});
  ASSERT_EQ(runStages(run.rs), 0);
  EXPECT_EQ(lineStarting(run.result.text(), "Salz S/N"),
            "Salz S/N                                      20.043 dB\n");
  // The aggressor's ICN line: a far-end aggressor at the through channel's amplitude.
  char want[200];
  std::snprintf(want, sizeof want, "%-36s ICN             %11.3fmV\n", aggressor.c_str(),
                1000 * std::sqrt(run.rs.noise.fextIcnPower));
  EXPECT_EQ(lineStarting(run.result.text(), aggressor), want);
  EXPECT_GT(run.rs.noise.fextIcnPower, 0);
  EXPECT_EQ(run.rs.noise.nextIcnPower, 0);
  EXPECT_NE(run.log.text().find(aggressor + "  0.400 F\n"), std::string::npos);
}

// ICN of a two-point aggressor, worked by hand: S = |Y0|^2 * 2 f0 with
// Y0 = X0 * sinc * receiver * transmitter; power = S * A^2 * UI * pamPower.
TEST(EstimatorReport, TwoPointAggressorByHand) {
  const std::filesystem::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 401);
  for (int pam : {2, 4}) {
    StageRun run;
    run.rs.settings.PAM = pam;
    deriveByHand(run.rs);
    ASSERT_TRUE(loadThru(run.rs, writeLine(dir / "victim.s2p", f), 1, 0, 2, 0));
    const double f0 = 5e9;
    const std::string agg = writeChannel(dir / "pair_next.s2p", {f0, 6e9}, 2, [](int, int r, int c) {
      return r == c ? cd(0) : cd(0.03, 0.04);   // |X| = 0.05
    });
    run.rs.nextList.push_back(channelLine{agg});
    run.rs.points.xtalkPower.assign(f.size(), 0.0);
    run.rs.points.thruPower.assign(f.size(), 1.0);
    crosstalk(run.rs);
    const double UI = 1 / kRate, x = kPi * f0 * UI;
    const double sinc = std::sin(x) / x;
    const double rx = 1 / std::sqrt(1 + std::pow(f0 / (0.75 * kRate), 8));
    const double tx = 1 / std::sqrt(1 + std::pow(f0 / kRate, 4));   // NEXT: 1.00 of the rate
    const double y = 0.05 * sinc * rx * tx;
    const double power = y * y * 2 * f0 * 0.6 * 0.6 * UI * run.rs.derived.pamPower;
    EXPECT_NEAR(run.rs.noise.nextIcnPower, power, 1e-12 * power) << "PAM " << pam;
    EXPECT_NEAR(run.rs.points.xtalkPower[0], 0.0025, 1e-17);
    EXPECT_NEAR(run.rs.points.xtalkPower[1], 0.0025, 1e-17);
    EXPECT_EQ(run.rs.points.xtalkPower[2], 0);
  }
}

// Kinds on the Thru list come from the name, first matching substring wins.
TEST(EstimatorReport, AggressorKindFromName) {
  const struct {
    const char* name;
    char kind;
  } cases[] = {{"lane3_fext.s4p", 'F'}, {"lane3_next.s4p", 'N'}, {"chan.s4p", 'N'},
               {"a.s4p", 'F'},          {"dir_NEXT/x_fext.s4p", 'N'}, {"FEXT_next.s4p", 'F'},
               {"Fn.s4p", 'F'},         {"xF.s4p", 'F'}};
  for (const auto& c : cases) EXPECT_EQ(aggressorKind(c.name), c.kind) << c.name;
}

// The walk and its skips: listing lines numbered from 0, the through channel first.
TEST(EstimatorReport, CrosstalkWalkAndSkips) {
  const std::filesystem::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 301);
  StageRun run;
  const std::string thru = writeChannel(dir / "thru.s4p", f, 4, [&](int k, int r, int c) {
    return (r + c == 3 || r + c == 7) && r != c ? lineTransfer(f[k]) : cd(0);
  });
  ASSERT_TRUE(loadThru(run.rs, thru, 1, 3, 2, 4));
  const std::string twoPort = writeLine(dir / "small_fext.s2p", f);
  const std::string missing = (dir / "missing_next.s4p").string();
  run.rs.thruList.push_back(channelLine{twoPort});               // GEXT, kind F, only 2 ports
  run.rs.nextList.push_back(channelLine{missing});               // cannot be read
  run.rs.fextList.push_back(channelLine{thru + " 1 2 3"});       // four words: not interpretable
  run.rs.points.xtalkPower.assign(f.size(), 0.0);
  crosstalk(run.rs);
  const std::string log = run.log.text();
  EXPECT_NE(log.find("0  Thru  " + thru + "  1,3->2,4\n"), std::string::npos) << log;
  EXPECT_NE(log.find("0  GEXT  " + twoPort + "  1,3->2,4\n"), std::string::npos) << log;
  EXPECT_NE(log.find(twoPort + " has only 2 ports, skipping\n"), std::string::npos) << log;
  EXPECT_NE(log.find("1  NEXT  " + missing + "  1,3->2,4\n"), std::string::npos) << log;
  EXPECT_NE(log.find("unable to read " + missing + ", skipping\n"), std::string::npos) << log;
  EXPECT_NE(log.find("problem with " + thru), std::string::npos) << log;
  EXPECT_EQ(run.result.text(), "");
  EXPECT_EQ(run.rs.noise.totalNoisePower, 0);
}

// Settings the grid stage refuses end the run with status 11 and one line on each stream.
struct RefusalCase {
  const char* name;
  std::vector<double> freqs;
  int oversample;
  const char* text;   // a part of the message
};
const RefusalCase kRefusals[] = {
    {"oversample_zero", grid(0, 10e6, 301), 0, "oversample=0"},
    {"oversample_negative", grid(0, 10e6, 301), -2, "oversample=-2"},
    {"repeated_frequency", {0, 1e9, 1e9, 2e9, 3e9, 4e9}, 4, "smallest frequency step is 0 Hz"},
    {"nearly_coincident", {0, 1e9, 1e9 + 1e-3, 2e9, 3e9, 50e9}, 4, "too large"},
};

class EstimatorRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(EstimatorRefusal, StatusAndMessage) {
  const RefusalCase& c = GetParam();
  StageRun run;
  run.rs.settings.oversample = c.oversample;
  ASSERT_TRUE(loadThru(run.rs, writeLine(scratchDir() / "odd.s2p", c.freqs), 1, 0, 2, 0));
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  const std::string before = run.result.text();
  EXPECT_EQ(equalisedIld(run.rs), kGridRefused);
  EXPECT_EQ(kGridRefused, 11);
  const std::string said = run.result.text().substr(before.size());
  EXPECT_NE(said.find(c.text), std::string::npos) << said;
  EXPECT_EQ(lines(said).size(), 1u) << said;
  EXPECT_NE(run.log.text().find(said), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Grids, EstimatorRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A data rate of 0 or PAM=1 is not refused: the run finishes with what the arithmetic gives.
TEST(EstimatorReport, DegenerateSettingsFinish) {
  const std::filesystem::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 501);
  const std::string thru = writeLine(dir / "line.s2p", f);
  const std::string agg = writeLine(dir / "agg_next.s2p", f);
  for (int variant = 0; variant < 2; ++variant) {
    StageRun run;
    if (variant == 0) run.rs.settings.data_rate = 0;
    if (variant == 1) run.rs.settings.PAM = 1;
    deriveByHand(run.rs);
    ASSERT_TRUE(loadThru(run.rs, thru, 1, 0, 2, 0));
    run.rs.nextList.push_back(channelLine{agg});
    EXPECT_EQ(runStages(run.rs), 0) << "variant " << variant;
    EXPECT_NE(lineStarting(run.result.text(), "FLIPPED:"), "") << "variant " << variant;
  }
}

// The .fd file: header, one row per grid frequency, the thru column as read.
TEST(EstimatorReport, FrequencyDomainFile) {
  const std::filesystem::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 401);
  StageRun run;
  ASSERT_TRUE(loadThru(run.rs, writeLine(dir / "line.s2p", f), 1, 0, 2, 0));
  run.rs.saveBase = (dir / "fd").string();
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  ASSERT_EQ(equalisedIld(run.rs), 0);
  std::ifstream in(dir / "fd.fd");
  ASSERT_TRUE(in);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "types:  2 3 3 3 #time, signal, signal, signal");
  std::getline(in, line);
  EXPECT_EQ(line, "names:  f thru fit ild # all are complex");
  int rows = 0;
  double freq, zero, tr, ti, fr, fi, ir, ii;
  while (in >> freq >> zero >> tr >> ti >> fr >> fi >> ir >> ii) {
    const cd t = lineTransfer(f[rows]);
    EXPECT_NEAR(freq, f[rows], 1e-6 * f[rows] + 1e-9);
    EXPECT_NEAR(tr, t.real(), 2e-6) << rows;
    EXPECT_NEAR(ti, t.imag(), 2e-6) << rows;
    EXPECT_NEAR(ir, tr - fr, 3e-6) << rows;
    EXPECT_NEAR(ii, ti - fi, 3e-6) << rows;
    ++rows;
  }
  EXPECT_EQ(rows, 401);
  // The period waveforms: one row per sample of one period 1/df, oversample per UI.
  std::ifstream wv2(dir / "fd.wv2");
  ASSERT_TRUE(wv2);
  std::getline(wv2, line);
  EXPECT_EQ(line, "names: time pulse fitPulse ildPulse");
  int samples = 0;
  while (std::getline(wv2, line)) ++samples;
  EXPECT_EQ(samples, static_cast<int>(std::floor(4 * kRate / 10e6 + 0.5)));
}

}  // namespace
}  // namespace estimator_test
