// COM on real channels: the published calibration set at the 100GBASE-KR4 settings, and
// the search's figures against the same figures recomputed from the explicit pulses.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "comCases.h"

using namespace comcases;

namespace {

// The published figures of the calibration set, per package case.
struct Published {
  double com, fom, As, Ani, gDC, cm1, c1;
};
const Published kPublished[] = {{4.30, 16.90, 30.3e-3, 18.5e-3, -12, -0.16, 0},
                                {3.65, 16.25, 25.0e-3, 16.46e-3, -12, -0.16, 0}};

}  // namespace

TEST(ComCalibration, Kr4PublishedFigures) {
  const std::vector<Channel> ch = example2(BREVO_CHANNELS_DIR);
  if (ch.empty())
    GTEST_SKIP() << "calibration channels absent from " << BREVO_CHANNELS_DIR << "/com";
  const auto o = computeCom(kr4(), ch);
  ASSERT_TRUE(o.ok()) << o.message;
  ASSERT_EQ(o.value.cases.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE("package case " + std::to_string(k + 1));
    const CaseResult& c = o.value.cases[k];
    const Published& w = kPublished[k];
    EXPECT_NEAR(c.com, w.com, 0.1);
    EXPECT_NEAR(c.fom, w.fom, 0.05);
    EXPECT_NEAR(c.searchFom, c.fom, 1e-9);
    EXPECT_NEAR(c.As, w.As, 0.02 * w.As);
    EXPECT_NEAR(c.Ani, w.Ani, 0.02 * w.Ani);
    EXPECT_EQ(c.gDC, w.gDC);
    ASSERT_EQ(c.txTaps.size(), 3u);
    EXPECT_NEAR(c.txTaps[0], w.cm1, 1e-12);
    EXPECT_NEAR(c.txTaps[1], 1 + w.cm1 - w.c1, 1e-12);
    EXPECT_NEAR(c.txTaps[2], w.c1, 1e-12);
    EXPECT_EQ(c.gridSize, 2015);
    // The consistency figures: thermal noise at gDC -12 and the Tx noise.
    EXPECT_NEAR(c.sigmaN, 0.710e-3, 0.005e-3);
    EXPECT_NEAR(c.sigmaTx, c.As * std::pow(10.0, -27.0 / 20), 1e-9);
  }
  EXPECT_NEAR(o.value.com, 3.65, 0.1);
  EXPECT_TRUE(o.value.pass);
}

// The other conventions and searches on the same channels: whatever the route, the
// search's FOM is the explicit pulse's, and the exhaustive optimum is never below the
// local search's.
TEST(ComCalibration, ConventionsAndSearches) {
  const std::vector<Channel> ch = example2(BREVO_CHANNELS_DIR);
  if (ch.empty()) GTEST_SKIP() << "calibration channels absent";
  struct Row {
    Convention conv;
    Search search;
    int steps;
  };
  const Row rows[] = {{Convention::ieee, Search::exhaustive, 0},
                      {Convention::reference, Search::local, 2},
                      {Convention::ieee, Search::local, 1}};
  const auto full = computeCom(kr4(), ch);
  ASSERT_TRUE(full.ok());
  for (const Row& r : rows) {
    Params p = kr4();
    p.convention = r.conv, p.search = r.search, p.localSearch = r.steps;
    p.Tr = 0;
    p.reportCandidates = 3;
    const auto o = computeCom(p, ch);
    ASSERT_TRUE(o.ok()) << o.message;
    for (std::size_t k = 0; k < o.value.cases.size(); ++k) {
      const CaseResult& c = o.value.cases[k];
      EXPECT_NEAR(c.searchFom, c.fom, 1e-9);
      // The three best the search evaluated, the chosen setting first.
      ASSERT_EQ(c.topCandidates.size(), 3u);
      EXPECT_EQ(c.topCandidates[0].txTaps, c.txTaps);
      EXPECT_EQ(c.topCandidates[0].gDC, c.gDC);
      EXPECT_EQ(c.topCandidates[0].fom, c.searchFom);
      EXPECT_GE(c.topCandidates[1].fom, c.topCandidates[2].fom);
      if (r.conv == Convention::reference) {
        EXPECT_LE(c.fom, full.value.cases[k].fom + 1e-12);
      }
      EXPECT_GT(c.com, 2.5);
      EXPECT_LT(c.com, 5.5);
    }
  }
}

// Thru-only files of other shapes: no 0 Hz point, ending below the symbol rate, an odd
// step. Each gives a finite margin with the warnings that say what was extrapolated.
TEST(ComCalibration, OtherRealThrus) {
  struct Row {
    const char* file;
    bool lowEnd;
  };
  const Row rows[] = {{"thru_only/peters_01_0605_B1_thru.s4p", true},
                      {"thru_only/CABLE1_TX_pair.s4p", false},
                      {"thru_only/Case4_FM_13SI_20_T_D13_L6.s4p", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    Channel thru;
    if (!load(std::string(BREVO_CHANNELS_DIR) + "/" + r.file, ChannelKind::thru, thru))
      GTEST_SKIP() << r.file << " absent";
    const auto o = computeCom(kr4(), {thru});
    ASSERT_TRUE(o.ok()) << o.message;
    EXPECT_TRUE(std::isfinite(o.value.com));
    bool below = false;
    for (const std::string& w : o.value.warnings)
      below = below || w.find("below the symbol rate") != std::string::npos;
    EXPECT_EQ(below, r.lowEnd);
  }
}

// The draft 802.3dj KR settings with the receiver FFE on real sets: the calibration set
// (25 GBd channels to 40 GHz, far too lossy at 106.25 GBd) and a 60 GHz cable set. A
// sparse grid (at most 90 Tx x 18 CTLE settings) keeps it short. The figures are finite and
// hang together: the search's figure of merit is the explicit pulses', the receiver
// FFE has its cursor tap 1 and every other tap within 0.7 of it, the DFE tap within its
// limits, and the margin lies below the figure of merit.
TEST(ComCalibration, DjKrReceiverFfeOnRealSets) {
  struct Row {
    const char* set;
    std::vector<std::pair<const char*, ChannelKind>> files;
  };
  const Row rows[] = {{"com",
                       {{"example2_THRU", ChannelKind::thru},
                        {"example2_FEXT1", ChannelKind::fext},
                        {"example2_FEXT2", ChannelKind::fext},
                        {"example2_NEXT1", ChannelKind::next},
                        {"example2_NEXT2", ChannelKind::next},
                        {"example2_NEXT3", ChannelKind::next}}},
                      {"cable_CA_19p75dB",
                       {{"CA_19p75dB_thru", ChannelKind::thru},
                        {"CA_19p75dB_fext1", ChannelKind::fext},
                        {"CA_19p75dB_fext3", ChannelKind::fext},
                        {"CA_19p75dB_next2", ChannelKind::next},
                        {"CA_19p75dB_next7", ChannelKind::next}}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.set);
    std::vector<Channel> ch(r.files.size());
    for (std::size_t k = 0; k < ch.size(); ++k)
      if (!load(std::string(BREVO_CHANNELS_DIR) + "/" + r.set + "/" + r.files[k].first + ".s4p",
                r.files[k].second, ch[k]))
        GTEST_SKIP() << r.set << " absent from " << BREVO_CHANNELS_DIR;
    Params p = djKr();
    p.txTaps = {
        {-3, {-0.06, 0.06, 0}}, {-2, {0, 0.06, 0.12}}, {-1, {-0.32, 0.08, 0}}, {1, {-0.2, 0.1, 0}}};
    p.gDC = {-15, 3, 0}, p.gDC2 = {-5, 2.5, 0};
    const auto o = computeCom(p, ch);
    ASSERT_TRUE(o.ok()) << o.message;
    ASSERT_EQ(o.value.cases.size(), 1u);
    const CaseResult& c = o.value.cases[0];
    EXPECT_TRUE(std::isfinite(c.com));
    EXPECT_NEAR(c.searchFom, c.fom, 1e-9);
    EXPECT_LT(c.com, c.fom);
    EXPECT_GT(c.As, 0);
    EXPECT_GT(c.sigmaN, 0);
    ASSERT_EQ(c.rxffeTaps.size(), 16u);
    EXPECT_EQ(c.rxffeCursor, 5);
    EXPECT_EQ(c.rxffeTaps[5], 1);
    for (double w : c.rxffeTaps) EXPECT_LE(std::fabs(w), 1);
    for (std::size_t j = 0; j < 16; ++j)
      if (j != 5) {
        EXPECT_LE(std::fabs(c.rxffeTaps[j]), 0.7 + 1e-12) << "tap " << j;
      }
    ASSERT_EQ(c.dfeTaps.size(), 1u);
    EXPECT_GE(c.dfeTaps[0], 0);
    EXPECT_LE(c.dfeTaps[0], 0.85);
  }
}
