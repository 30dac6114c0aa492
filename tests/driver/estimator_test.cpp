// The analysis stages on generated channels: pulse and dibit shapes from physics, the
// vectorised short sums against the plain loop order, noise scalings, report lines compared
// whole, the crosstalk walk, grid refusals and the side files.
#include <cmath>

#include "channelModel.h"
#include "support.h"

namespace {

using namespace driver_test;

// Sdd21 = 1, matched, no filters: the pulse is a one-UI rectangle at the delay (0 here) and
// the dibit +1 for that UI and -1 for the next. The grid runs to 200 GHz, so the edges ring
// (Gibbs) and only samples away from them are held tight.
TEST(EstimatorPulse, AllPassChannelGivesRectangleAndDibit) {
  StageRun run;
  run.rs.settings.tx_bandwidth = run.rs.settings.rx_bandwidth = 0;
  deriveByHand(run.rs);
  const std::string file = writeChannel(scratchDir() / "allpass.s2p", grid(10e6, 10e6, 20000), 2,
                                        [](int, int r, int c) { return cd(r != c); });
  ASSERT_TRUE(loadThru(run.rs, file));
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  const PulseResults& n = run.rs.pulse;
  EXPECT_NEAR(n.groupDelay, 0, 1e-15);
  const ShortWaveforms w = shortPulseSums(run.rs);
  ASSERT_EQ(static_cast<int>(w.pulse.size()), pulsePoints);
  for (int i = 0; i < pulsePoints; ++i) {
    const int from = i - 100;  // samples from the delay, 20 per UI
    const double pulse = std::abs(from) <= 6, dibit = pulse - (std::abs(from - 20) <= 6);
    if (std::abs(from) <= 6 || std::abs(from - 20) <= 6 || from <= -16 || from >= 36) {
      EXPECT_NEAR(w.pulse[i], pulse, 0.05) << "pulse sample " << i;
      EXPECT_NEAR(w.dibit[i], dibit, 0.07) << "dibit sample " << i;
    }
    EXPECT_FALSE(std::isnan(w.fitPulse[i])) << "fitted pulse sample " << i;
  }
  // The peaks are the rectangle's height plus at most the edge ringing.
  EXPECT_TRUE(n.pulsePeak > 0.98 && n.pulsePeak < 1.12 && n.dibitPeak > 0.98 && n.dibitPeak < 1.2)
      << n.pulsePeak << " " << n.dibitPeak;
  EXPECT_NEAR(n.dibitAtDelay, 1, 0.05);
}

void expectSameWaveform(const std::vector<double>& got, const std::vector<double>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  double scale = 0;
  for (double v : want) scale = std::max(scale, std::abs(v));
  ASSERT_GT(scale, 0) << what;
  for (std::size_t n = 0; n < want.size(); ++n)
    ASSERT_NEAR(got[n], want[n], 1e-12 * scale) << what << " sample " << n;
}

// The short sums in their plain loop order, one frequency at a time, phasors advanced by
// multiplication (the period sums have their own tests over many grid sizes).
TEST(EstimatorPulse, VectorisedSumsAgreeWithPlainLoops) {
  StageRun run(writeLine(scratchDir() / "line.s2p", grid(0, 10e6, 5001)));
  ASSERT_TRUE(run.ok);
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  EXPECT_NEAR(run.rs.pulse.groupDelay, 1e-9, 0.02e-9);  // the line's delay from the fit's phase slope
  const RunState& rs = run.rs;
  const double UI = rs.derived.UI, gd = rs.pulse.groupDelay;
  const std::vector<double> zeros(pulsePoints);
  ShortWaveforms want{zeros, zeros, zeros};
  for (int k = 1; k + 1 < rs.thru.Fcount(); ++k) {
    const double f = rs.thru.Freq(k), width = (rs.thru.Freq(k + 1) - rs.thru.Freq(k - 1)) * UI;
    const double hb = butterworth(4, f, rs.derived.rxTau) * butterworth(2, f, rs.derived.txTau) * width;
    const cd e1 = std::exp(cd(0, 2 * kPi * f * 0.05 * UI));
    cd e2 = std::exp(cd(0, 2 * kPi * f * (gd - 5 * UI))), e3 = std::exp(cd(0, 2 * kPi * f * (gd - 5.5 * UI)));
    for (int n = 0; n < pulsePoints; ++n, e2 *= e1, e3 *= e1) {
      want.fitPulse[n] += std::real(rs.points.fitSdd21[k] * pulseWeight(f, UI) * hb * e2);
      want.pulse[n] += std::real(rs.points.Sdd21[k] * pulseWeight(f, UI) * hb * e2);
      want.dibit[n] += std::imag(rs.points.Sdd21[k] * dibitWeight(f, UI) * hb * e3);
    }
  }
  const ShortWaveforms got = shortPulseSums(rs);
  expectSameWaveform(got.pulse, want.pulse, "pulse");
  expectSameWaveform(got.dibit, want.dibit, "dibit");
  expectSameWaveform(got.fitPulse, want.fitPulse, "fitPulse");
}

// Negating every entry of a causal line inverts it: FLIPPED says so, and the noise lines stay.
TEST(EstimatorPulse, InvertedChannelIsFlippedWithSameNoise) {
  const fs::path dir = scratchDir();
  std::string reports[2];
  for (int inverted = 0; inverted < 2; ++inverted) {
    StageRun run(writeLine(dir / (inverted ? "minus.s2p" : "plus.s2p"), grid(0, 10e6, 5001), inverted ? -1 : 1));
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(runFromFit(run.rs), 0);
    EXPECT_EQ(run.rs.pulse.flipped, inverted == 1);
    reports[inverted] = run.result.text();
  }
  EXPECT_EQ(lineStarting(reports[0], "FLIPPED:"), "FLIPPED:                                 no\n");
  EXPECT_EQ(lineStarting(reports[1], "FLIPPED:"), "FLIPPED:                                yes\n");
  for (const char* label :
       {"ILD ", "Tx re-Reflection", "Rx re-Reflection", "Tx-Rx re-Reflection", "Channel ", "Nyquist gain"}) {
    EXPECT_NE(lineStarting(reports[0], label), "") << label;
    EXPECT_EQ(lineStarting(reports[0], label), lineStarting(reports[1], label)) << label;
  }
}

// A setting changed and the stages re-run: every noise power scales by the factor physics
// gives (signal^2, the PAM level power 5/9), the eye by its amplitude factor (PAM4 step 1/3).
TEST(EstimatorNoise, PowersScaleWithSignalAndPam) {
  const std::string file = writeLine(scratchDir() / "line.s2p", grid(0, 10e6, 2001));
  const struct {
    const char* name;
    double signal;
    int pam;
    double noise, eye;
  } cases[] = {{"signal_doubled", 0.8, 2, 4.0, 2.0}, {"pam4", 0.4, 4, 5.0 / 9, 1.0 / 3},
               {"pam4_halved", 0.2, 4, 5.0 / 36, 1.0 / 6}};
  StageRun base(file);
  ASSERT_TRUE(base.ok);
  ASSERT_EQ(runFromFit(base.rs), 0);
  const NoiseBudget& a = base.rs.noise;
  for (const auto& c : cases) {
    StageRun changed(file);
    changed.rs.settings.signal = c.signal, changed.rs.settings.PAM = c.pam;
    deriveByHand(changed.rs);
    ASSERT_EQ(runFromFit(changed.rs), 0);
    const NoiseBudget& b = changed.rs.noise;
    const double slicer = base.rs.settings.slicer_allowance;
    const std::vector<std::pair<double, double>> ratios = {
        {b.ildNoisePower / a.ildNoisePower, c.noise}, {b.rrTxNoisePower / a.rrTxNoisePower, c.noise},
        {b.rrRxNoisePower / a.rrRxNoisePower, c.noise}, {b.rrTxRxNoisePower / a.rrTxRxNoisePower, c.noise},
        {b.channelNoisePower / a.channelNoisePower, c.noise},
        {b.implementationNoise / a.implementationNoise, std::sqrt(c.noise)},  // an amplitude
        {(b.availableSignal + slicer) / (a.availableSignal + slicer), c.eye}};
    for (std::size_t i = 0; i < ratios.size(); ++i)
      EXPECT_NEAR(ratios[i].first, ratios[i].second, 1e-12 * ratios[i].second) << c.name << " ratio " << i;
  }
  EXPECT_GT(a.ildNoisePower, 0);
}

// Without reflections only the Tx-Rx path through both devices re-reflects. With E_DFE = 1
// every sample of the deviation's period response counts, and by Parseval its energy is the
// frequency-domain ILD power; the default E_DFE = 0 removes part of it, N_DFE = 0 none.
TEST(EstimatorNoise, MatchedChannelAndEqualisedIld) {
  const std::vector<double> f = grid(0, 10e6, 5001);
  const fs::path dir = scratchDir();
  StageRun matched(writeChannel(dir / "matched.s2p", f, 2, [&](int k, int r, int c) {
    return r == c ? cd(0) : lineTransfer(f[k]);
  }));
  ASSERT_TRUE(matched.ok);
  fitThru(matched.rs);
  EXPECT_EQ(matched.rs.noise.twoLevel.rrTx + matched.rs.noise.twoLevel.rrRx, 0);
  EXPECT_GT(matched.rs.noise.twoLevel.rrTxRx, 0);
  const std::string file = writeLine(dir / "line.s2p", f);
  double powers[3], frequencyDomain = 0;
  for (int i = 0; i < 3; ++i) {
    StageRun run(file);
    run.rs.settings.E_DFE = i == 0, run.rs.settings.N_DFE = i == 2 ? 0 : 8;
    fitThru(run.rs);
    pulseAndDibit(run.rs);
    frequencyDomain = run.rs.noise.twoLevel.ild;
    ASSERT_EQ(equalisedIld(run.rs), 0);
    powers[i] = run.rs.noise.equalised ? run.rs.noise.equalisedIldPower : run.rs.noise.twoLevel.ild;
  }
  EXPECT_NEAR(powers[0] / frequencyDomain, 1, 0.01);
  EXPECT_TRUE(powers[1] > 0 && powers[1] < frequencyDomain) << powers[1];
  EXPECT_EQ(powers[2], frequencyDomain);
}

// Figures of merit from a given eye and noise, by hand: S/N = 160/20; BER = erfc(8/sqrt 2)/2;
// tolerance = sqrt((160/7.034)^2 - noise^2), exactly 0 (not -0) with no eye and no noise.
TEST(EstimatorReport, FiguresOfMeritLines) {
  const struct {
    double eye, noise;  // volts
    std::vector<std::string> lines;
  } cases[] = {
      {0.160, 0.020, {"S/N                                            8.000\n",
                      "BER                                            6.22e-16\n",
                      "interference tolerance                        10.832mV\n"}},
      {0.160, 0.030, {"S/N                                            5.333\n",
                      "BER                                            4.82e-08\n",
                      "interference tolerance                       -19.562mV\n"}},
      {0.160, 0.0, {"S/N                                              inf\n",
                    "BER                                            0.00e+00\n",
                    "interference tolerance                        22.745mV\n"}},
      {0, 0, {"interference tolerance                         0.000mV\n"}},
  };
  for (const auto& c : cases) {
    StageRun run;
    run.rs.noise.availableSignal = c.eye, run.rs.noise.totalNoisePower = c.noise * c.noise;
    run.rs.points.thruPower = {1.0}, run.rs.points.xtalkPower = {0.0};
    figuresOfMerit(run.rs);
    const std::vector<std::string> report = lines(run.result.text());
    ASSERT_EQ(report.size(), 7u);
    EXPECT_EQ(report[0], "total                                ICN       0.000mV\n");
    char noise[100];
    std::snprintf(noise, sizeof noise, "total                             noise %12.3fmV\n", 1000 * c.noise);
    EXPECT_EQ(report[1], noise);
    for (const std::string& l : c.lines) EXPECT_EQ(lineStarting(run.result.text(), l.substr(0, 12)), l);
    EXPECT_EQ(report[6], "FLIPPED:                                 no\n");
  }
}

TEST(EstimatorReport, BudgetLines) {
  StageRun run;
  NoiseBudget& n = run.rs.noise;
  run.rs.pulse.dibitPeak = 0.25, run.rs.pulse.pulsePeak = 0.75;   // implementation noise 2 mV
  n.twoLevel = {1e-6, 4e-6, 9e-6, 2.25e-6};
  run.rs.points.nyquistFitGain = 0.1;  // -20 dB
  budget(run.rs);
  EXPECT_EQ(lines(run.result.text()),
            (std::vector<std::string>{
                "Nyquist gain    -20.000dB\n", "peak pulse      750.000m\n", "peak dibit      250.000m\n",
                "base EYE        100.000mV\n", "available signal                              75.000mV\n",
                "implementation noise                           2.000mV\n",
                "ILD                 noise                                  1.000mV \n",
                "Tx re-Reflection    noise                                  2.000mV \n",
                "Rx re-Reflection    noise                                  3.000mV \n",
                "Tx-Rx re-Reflection noise                                  1.500mV \n",
                "Channel        noise                           4.031mV \n"}));
  EXPECT_NEAR(n.throughNoisePower, 4e-6 + 16.25e-6, 1e-18);
  EXPECT_NEAR(n.availableSignal, 0.075, 1e-15);
}

// One aggressor coupling 1/100 of the through power at every point: Salz S/N = 10 log10(101).
TEST(EstimatorCrosstalk, SalzOfAHundredthCoupling) {
  const fs::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 2001);
  StageRun run(writeLine(dir / "victim.s2p", f));
  ASSERT_TRUE(run.ok);
  const std::string aggressor = writeChannel(dir / "agg.s2p", f, 2, [&](int k, int r, int c) {
    return r == c ? cd(0) : 0.1 * lineTransfer(f[k]) * std::exp(cd(0, 0.3 * k));
  });
  run.rs.fextList.push_back(channelLine{aggressor});
  ASSERT_EQ(runFromFit(run.rs), 0);
  EXPECT_EQ(lineStarting(run.result.text(), "Salz S/N"), "Salz S/N                                      20.043 dB\n");
  char want[200];
  std::snprintf(want, sizeof want, "%-36s ICN             %11.3fmV\n", aggressor.c_str(),
                1000 * std::sqrt(run.rs.noise.fextIcnPower));
  EXPECT_EQ(lineStarting(run.result.text(), aggressor), want);
  EXPECT_TRUE(run.rs.noise.fextIcnPower > 0 && run.rs.noise.nextIcnPower == 0);
  EXPECT_NE(run.log.text().find(aggressor + "  0.400 F\n"), std::string::npos);
}

// Two-point aggressors by hand: S = |Y0|^2 2 f0 with Y0 = X0 sinc * receiver * transmitter
// (near end 1.00, far end 0.55 of the rate); power = S A^2 UI pamPower. Two of one kind on
// different points, and one of the other kind on the same points as one of them, so that
// weights shared between aggressors must follow both the points and the kind.
TEST(EstimatorCrosstalk, TwoPointAggressorsByHand) {
  const fs::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 401);
  auto pair = [&](const std::string& name, double f0) {
    return writeChannel(dir / name, {f0, f0 + 1e9}, 2, [](int, int r, int c) {
      return r == c ? cd(0) : cd(0.03, 0.04);  // |X| = 0.05
    });
  };
  const std::string low = pair("low_next.s2p", 1e9), high = pair("high_next.s2p", 5e9), far = pair("far.s2p", 5e9);
  auto power = [](double f0, double txBandwidth, double amplitude, double pamPower) {
    const double x = kPi * f0 / kRate;
    const double y = 0.05 * std::sin(x) / x / std::sqrt(1 + std::pow(f0 / (0.75 * kRate), 8)) /
                     std::sqrt(1 + std::pow(f0 / (txBandwidth * kRate), 4));
    return y * y * 2 * f0 * amplitude * amplitude / kRate * pamPower;
  };
  for (int pam : {2, 4}) {
    StageRun run;
    run.rs.settings.PAM = pam;
    deriveByHand(run.rs);
    ASSERT_TRUE(loadThru(run.rs, writeLine(dir / "victim.s2p", f)));
    run.rs.nextList = {channelLine{low}, channelLine{high}};
    run.rs.fextList = {channelLine{far}};
    run.rs.points.xtalkPower.assign(f.size(), 0.0), run.rs.points.thruPower.assign(f.size(), 1.0);
    crosstalk(run.rs);
    const double pp = run.rs.derived.pamPower;
    const double next = power(1e9, 1.0, 0.6, pp) + power(5e9, 1.0, 0.6, pp);
    const double fext = power(5e9, 0.55, 0.4, pp);
    EXPECT_NEAR(run.rs.noise.nextIcnPower, next, 1e-12 * next) << "PAM " << pam;
    EXPECT_NEAR(run.rs.noise.fextIcnPower, fext, 1e-12 * fext) << "PAM " << pam;
    EXPECT_EQ(run.rs.points.xtalkPower[2], 0);
    EXPECT_NEAR(run.rs.points.xtalkPower[0], 3 * 0.0025, 1e-17);
    EXPECT_NEAR(run.rs.points.xtalkPower[1], 3 * 0.0025, 1e-17);
  }
}

// The walk lists every channel numbered from 0, the through channel first, and skips what it
// cannot use; kinds on the Thru list come from the name, the first matching word wins.
TEST(EstimatorCrosstalk, WalkSkipsAndKinds) {
  const fs::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 301);
  StageRun run;
  const std::string thru = writeChannel(dir / "thru.s4p", f, 4, [&](int k, int r, int c) {
    return (r + c == 3 || r + c == 7) && r != c ? lineTransfer(f[k]) : cd(0);
  });
  ASSERT_TRUE(loadThru(run.rs, thru, 1, 3, 2, 4));
  const std::string twoPort = writeLine(dir / "small_fext.s2p", f), missing = (dir / "missing_next.s4p").string();
  run.rs.thruList.push_back(channelLine{twoPort});          // kind F, only 2 ports
  run.rs.nextList.push_back(channelLine{missing});          // cannot be read
  run.rs.fextList.push_back(channelLine{thru + " 1 2 3"});  // four words: not interpretable
  run.rs.points.xtalkPower.assign(f.size(), 0.0);
  crosstalk(run.rs);
  for (const std::string& want : {"0  Thru  " + thru + "  1,3->2,4\n", "0  GEXT  " + twoPort + "  1,3->2,4\n",
                                  twoPort + " has only 2 ports, skipping\n", "1  NEXT  " + missing + "  1,3->2,4\n",
                                  "unable to read " + missing + ", skipping\n", "problem with " + thru})
    EXPECT_NE(run.log.text().find(want), std::string::npos) << want << " not in\n" << run.log.text();
  EXPECT_EQ(run.result.text(), "");
  EXPECT_EQ(run.rs.noise.totalNoisePower, 0);
  for (const auto& [name, kind] : std::vector<std::pair<const char*, char>>{
           {"lane3_fext.s4p", 'F'}, {"lane3_next.s4p", 'N'}, {"chan.s4p", 'N'}, {"a.s4p", 'F'},
           {"dir_NEXT/x_fext.s4p", 'N'}, {"FEXT_next.s4p", 'F'}, {"Fn.s4p", 'F'}, {"xF.s4p", 'F'}})
    EXPECT_EQ(aggressorKind(name), kind) << name;
}

// Settings the grid stage refuses end the run with status 11 and one line on each stream.
TEST(EstimatorGrid, RefusalsAndDegenerateSettings) {
  const struct {
    std::vector<double> freqs;
    int oversample;
    const char* text;
  } cases[] = {
      {grid(0, 10e6, 301), 0, "oversample=0"},
      {grid(0, 10e6, 301), -2, "oversample=-2"},
      {{0, 1e9, 1e9, 2e9, 3e9, 4e9}, 4, "smallest frequency step is 0 Hz"},
      {{0, 1e9, 1e9 + 1e-3, 2e9, 3e9, 50e9}, 4, "too large"},
  };
  const fs::path dir = scratchDir();
  for (const auto& c : cases) {
    StageRun run(writeLine(dir / "odd.s2p", c.freqs));
    run.rs.settings.oversample = c.oversample;
    fitThru(run.rs);
    pulseAndDibit(run.rs);
    const std::size_t before = run.result.text().size();
    EXPECT_EQ(equalisedIld(run.rs), 11);
    const std::string said = run.result.text().substr(before);
    EXPECT_NE(said.find(c.text), std::string::npos) << said;
    EXPECT_EQ(lines(said).size(), 1u) << said;
    EXPECT_NE(run.log.text().find(said), std::string::npos);
  }
  // A data rate of 0 or PAM=1 is not refused: the run finishes with what the arithmetic gives.
  const std::string thru = writeLine(dir / "line.s2p", grid(0, 10e6, 501));
  const std::string agg = writeLine(dir / "agg_next.s2p", grid(0, 10e6, 501));
  for (int variant = 0; variant < 2; ++variant) {
    StageRun run(thru);
    if (variant) run.rs.settings.PAM = 1;
    if (!variant) run.rs.settings.data_rate = 0;
    deriveByHand(run.rs);
    run.rs.nextList.push_back(channelLine{agg});
    EXPECT_EQ(runFromFit(run.rs), 0) << "variant " << variant;
    EXPECT_NE(lineStarting(run.result.text(), "FLIPPED:"), "") << "variant " << variant;
  }
}

// The side files: a header and one row per sample (.wv1, 701 samples; .wv2, one period 1/df
// at oversample per UI) or per grid frequency (.fd, the thru column as read).
TEST(EstimatorFiles, SideFilesHoldEveryRow) {
  const fs::path dir = scratchDir();
  const std::vector<double> f = grid(0, 10e6, 401);
  StageRun run(writeLine(dir / "line.s2p", f, -1));
  ASSERT_TRUE(run.ok);
  run.rs.saveBase = (dir / "run").string();
  fitThru(run.rs);
  pulseAndDibit(run.rs);
  ASSERT_EQ(equalisedIld(run.rs), 0);
  std::ifstream wv1(dir / "run.wv1"), fd(dir / "run.fd"), wv2(dir / "run.wv2");
  std::string line;
  EXPECT_TRUE(std::getline(wv1, line) && line == "names:  time pulse dibit fitPulse") << line;
  const ShortWaveforms w = shortPulseSums(run.rs);
  int rows = 0;
  for (double t, pulse, dibit, fitted; wv1 >> t >> pulse >> dibit >> fitted && rows < pulsePoints; ++rows)
    EXPECT_NEAR(pulse, -w.pulse[rows], 1e-6) << "row " << rows;  // the columns carry the polarity
  EXPECT_EQ(rows, pulsePoints);
  EXPECT_TRUE(std::getline(fd, line) && line == "types:  2 3 3 3 #time, signal, signal, signal") << line;
  EXPECT_TRUE(std::getline(fd, line) && line == "names:  f thru fit ild # all are complex") << line;
  rows = 0;
  for (double freq, zero, tr, ti, fr, fi, ir, ii;
       fd >> freq >> zero >> tr >> ti >> fr >> fi >> ir >> ii && rows < 401; ++rows) {
    EXPECT_LT(std::abs(cd(tr, ti) + lineTransfer(f[rows])), 3e-6) << rows;
    EXPECT_LT(std::abs(cd(ir, ii) - cd(tr - fr, ti - fi)), 4e-6) << rows;
  }
  EXPECT_EQ(rows, 401);
  EXPECT_TRUE(std::getline(wv2, line) && line == "names: time pulse fitPulse ildPulse") << line;
  for (rows = 0; std::getline(wv2, line);) ++rows;
  EXPECT_EQ(rows, static_cast<int>(std::floor(4 * kRate / 10e6 + 0.5)));
  EXPECT_EQ(run.log.text().find("could not write"), std::string::npos) << run.log.text();

  // A side file that does not take its bytes (a full device) is named on the log.
  SideFile full(std::fopen("/dev/full", "w"));
  ASSERT_TRUE(full);
  std::fputs("names: time pulse fitPulse ildPulse\n", full.get());
  closeSideFile(run.rs, full, ".wv2");
  EXPECT_FALSE(full);
  EXPECT_NE(run.log.text().find("could not write all of " + (dir / "run.wv2").string() + ": No space left on device\n"),
            std::string::npos) << run.log.text();
}

}  // namespace
