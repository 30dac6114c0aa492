// The synthetic lane: passive, reciprocal, at the requested loss, crosstalk at its levels,
// the closed form of a matched line, refusals, and files that read back and repeat byte
// for byte.
#include "SyntheticChannel.h"
#include "../touchstone/support.h"

namespace {

// Differential transfer 1,3 => 2,4 at stored point k, in dB.
double sdd21Db(const Sparams& s, int k) {
  return 20 * std::log10(0.5 * std::abs(s.Value(k, 1, 2) - s.Value(k, 1, 4) - s.Value(k, 3, 2) +
                                        s.Value(k, 3, 4)));
}

int nearest(const Sparams& s, double f) {
  return static_cast<int>(std::lround((f - s.Freq(0)) / (s.Freq(1) - s.Freq(0))));
}

struct ParamCase {
  const char* name;
  void (*edit)(LaneParams&);
};

const ParamCase kParams[] = {
    {"defaults", [](LaneParams&) {}},
    {"high_loss_long", [](LaneParams& s) { s.lossDb = 40, s.length = 0.8; }},
    {"all_dielectric", [](LaneParams& s) { s.conductorShare = 0; }},
    {"big_vias_low_impedance",
     [](LaneParams& s) { s.via = 250e-15, s.connector = 200e-15, s.zdiff = 80, s.zcomm = 20; }},
    {"high_impedance_strong_crosstalk",
     [](LaneParams& s) { s.zdiff = 110, s.nextDb = {-26}, s.fextDb = {-14}; }},
    {"from_dc_pam4_rate",
     [](LaneParams& s) {
       s.fstart = 0, s.fstop = 30e9, s.fstep = 50e6, s.rate = 53.125e9, s.lossDb = 30;
     }},
};

class SyntheticLane : public ::testing::TestWithParam<ParamCase> {};

TEST_P(SyntheticLane, PassiveReciprocalAndAtTheRequestedLoss) {
  LaneParams params;
  GetParam().edit(params);
  const ChannelBuild b = buildChannels(params, "case");
  ASSERT_EQ(b.message, "");
  ASSERT_EQ(b.value.next.size() + b.value.fext.size(), params.nextDb.size() + params.fextDb.size());
  std::vector<const Sparams*> all{&b.value.thru};
  for (const auto* list : {&b.value.next, &b.value.fext})
    for (const Sparams& s : *list) all.push_back(&s);
  for (const Sparams* s : all) {
    ASSERT_EQ(s->Size(), 4);
    ASSERT_EQ(s->Fcount(), b.value.thru.Fcount());
    for (int k = 0; k < s->Fcount(); ++k) {
      ASSERT_EQ(s->Freq(k), b.value.thru.Freq(k));
      const cmatrix S = s->Value(k);
      ASSERT_TRUE(passive(S, 2e-9))
          << s->fileName() << " point " << k;  // singular values <= 1 + 1e-9
      ASSERT_LE(maxDifference(S, S.t()), 1e-12) << s->fileName() << " point " << k;
    }
  }
  // At rate/2: the model exactly, the stored grid (interpolated in dB) within 0.5 dB.
  const double fN = 0.5 * params.rate, step = b.value.thru.Freq(1) - b.value.thru.Freq(0);
  EXPECT_NEAR(modelLossDb(params, b.value.nyquistNepers, fN), params.lossDb, 1e-6);
  const int k = static_cast<int>((fN - b.value.thru.Freq(0)) / step);
  const double w = (fN - b.value.thru.Freq(k)) / step;
  EXPECT_NEAR(-(1 - w) * sdd21Db(b.value.thru, k) - w * sdd21Db(b.value.thru, k + 1), params.lossDb,
              0.5);
}

INSTANTIATE_TEST_SUITE_P(Params, SyntheticLane, ::testing::ValuesIn(kParams), rowName);

// Matched to the ports with no discontinuity, the pair is a bare line: no reflection and a
// loss of L (c sqrt(f/fN) + (1 - c) f/fN) dB. NEXT saturates at its level once the line is
// lossy; FEXT keeps its ratio to the thru at rate/2.
TEST(SyntheticLane, MatchedLineAndCrosstalkLevels) {
  LaneParams params;
  params.zdiff = 100, params.zcomm = 25, params.via = 0, params.connector = 0,
  params.conductorShare = 0.3;
  const ChannelBuild b = buildChannels(params, "matched");
  ASSERT_EQ(b.message, "");
  const double fN = 0.5 * params.rate;
  for (double x : {0.25, 1.0, 3.5})
    EXPECT_NEAR(modelLossDb(params, b.value.nyquistNepers, x * fN),
                params.lossDb * (0.3 * std::sqrt(x) + 0.7 * x), 1e-9);
  for (int k = 0; k < b.value.thru.Fcount(); ++k)
    EXPECT_LT(std::abs(b.value.thru.Value(k, 1, 1)) + std::abs(b.value.thru.Value(k, 1, 3)), 1e-12)
        << k;
  const Sparams& t = b.value.thru;
  for (std::size_t a = 0; a < 2; ++a) {
    EXPECT_NEAR(sdd21Db(b.value.next[a], nearest(t, 40e9)), params.nextDb[a], 0.05) << "NEXT " << a;
    EXPECT_NEAR(sdd21Db(b.value.fext[a], nearest(t, fN)) - sdd21Db(t, nearest(t, fN)),
                params.fextDb[a], 0.02);
  }
}

// Written in each format and unit and read back: the same grid and values within what the
// value format keeps, and the same bytes when written twice (the tools' tests cover refusals).
TEST(SyntheticLane, FilesReadBackAndRepeat) {
  LaneParams params;
  params.fstop = 5e9, params.fstep = 50e6, params.nextDb = {-40}, params.fextDb = {-30};
  brevo_test::Workspace dir;
  const ChannelBuild b = buildChannels(params, dir / "lane");
  ASSERT_EQ(b.message, "");
  const Sparams& built = b.value.thru;
  const struct {
    format fmt;
    const char* unit;
    double tolerance;  // relative, from the printed digits
  } cases[] = {{DB, "MHz", 4e-4}, {MA, "GHz", 2e-4}, {RI, "Hz", 1e-6}, {DB, "kHz", 4e-4}};
  for (const auto& c : cases) {
    CapturedLog log;
    ASSERT_EQ(writeChannels(b.value, c.fmt, defaultValueFormat(c.fmt), c.unit, log.get()), 0);
    const std::string first = readFile(built.fileName());
    ASSERT_EQ(writeChannels(b.value, c.fmt, defaultValueFormat(c.fmt), c.unit, log.get()), 0);
    EXPECT_EQ(readFile(built.fileName()), first) << c.unit;
    const Sparams read(built.fileName(), log.get());
    ASSERT_EQ(std::vector({read.Size(), read.Fcount()}), std::vector({4, built.Fcount()}))
        << c.unit;
    for (int k = 0; k < read.Fcount(); ++k) {
      EXPECT_NEAR(read.Freq(k), built.Freq(k), 1e-9 * built.Freq(k));
      for (int r = 1; r <= 4; ++r)
        for (int col = 1; col <= 4; ++col)
          ASSERT_LE(std::abs(read.Value(k, r, col) - built.Value(k, r, col)),
                    c.tolerance * std::abs(built.Value(k, r, col)) + 1e-12)
              << c.unit << " k=" << k << " (" << r << "," << col << ")";
    }
  }
}

}  // namespace
