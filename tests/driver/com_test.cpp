// COM in a run: the shipped presets read into the parameters of their links (the Tx grid
// counted by hand in integer steps against the sheets' published grid sizes, the units
// converted), the channels taken from the sets the run read, and the COM block and the
// run record's com object of a computed result.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <nlohmann/json.hpp>

#include "entry.h"
#include "stages.h"
#include "workspace.h"

namespace {

using namespace brevo_test;

// A run state with the keywords, the defaults and the given assignments applied.
void applied(RunState& rs, FILE* log, const std::vector<std::string>& assignments) {
  rs.io.log = rs.io.result = log;
  registerKeywords(rs.given);
  applyDefaults(rs.given, rs.io);
  int position = 1;
  for (const std::string& a : assignments)
    applyUserAssignment(rs.given, rs.io, a, {"command line", position++});
}

// Integer thousandths of a sweep's values (every tap step of the presets is 0.02 or 0.005).
std::vector<int> thousandths(const brevo::com::Sweep& s) {
  std::vector<int> v;
  const int lo = static_cast<int>(std::lround(s.min * 1000)),
            hi = static_cast<int>(std::lround(s.max * 1000));
  const int step = s.step > 0 ? static_cast<int>(std::lround(s.step * 1000)) : 1;
  for (int x = lo; x <= hi; x += step) v.push_back(x);
  return v;
}

// Tx settings whose cursor 1 - sum|c| is at least c(0)min, counted in exact thousandths.
long validTx(const brevo::com::Params& p) {
  long count = 0;
  std::vector<std::vector<int>> taps;
  for (const auto& t : p.txTaps) taps.push_back(thousandths(t.values));
  const int c0min = static_cast<int>(std::lround(p.c0min * 1000));
  std::vector<std::size_t> at(taps.size(), 0);
  while (true) {
    int sum = 0;
    for (std::size_t k = 0; k < taps.size(); ++k) sum += std::abs(taps[k][at[k]]);
    count += 1000 - sum >= c0min;
    std::size_t k = 0;
    while (k < taps.size() && ++at[k] == taps[k].size()) at[k++] = 0;
    if (k == taps.size()) return count;
  }
}

long settings(const brevo::com::Sweep& s) {
  return s.step > 0 ? std::lround((s.max - s.min) / s.step) + 1 : 1;
}

TEST(ComPresets, ShippedPresetsGiveTheirLinksGridsAndUnits) {
  // Valid Tx settings and CTLE settings as published for each sheet's grid.
  const struct {
    const char* name;
    double baud;
    int levels;
    long tx, ctle;
    std::vector<double> case2tx, case1next;
    int Nb;
    double lastBmin;
  } presets[] = {{"kr4", 25.78125e9, 2, 155, 13, {30}, {12}, 14, -1},
                 {"ck-kr", 53.125e9, 4, 4345, 21 * 7, {31, 1.8}, {12, 1.8}, 12, -0.03},
                 {"ck-cr", 53.125e9, 4, 4345, 21 * 7, {31, 1.8}, {12, 1.8}, 12, -0.03},
                 {"ck-c2c", 53.125e9, 4, 1605, 21 * 5, {31, 1.8}, {11, 1.8}, 6, -0.04},
                 {"dj-kr", 106.25e9, 4, 794640, 16 * 11, {}, {33, 1.8}, 1, 0}};
  for (const auto& t : presets) {
    MemoryStream log;
    RunState rs;
    applied(rs, log.get(), {std::string("com=") + t.name});
    const brevo::Result<brevo::com::PresetReading> r = readComPreset(rs);
    ASSERT_TRUE(r.ok()) << t.name << ": " << r.message;
    const brevo::com::Params& p = r.value.params;
    EXPECT_EQ(rs.given.settings.data_rate, t.baud)
        << t.name;  // the S/N analysis's link is the preset's
    EXPECT_EQ(rs.given.settings.PAM, t.levels) << t.name;
    EXPECT_DOUBLE_EQ(p.fb, t.baud) << t.name;
    EXPECT_EQ(p.L, t.levels) << t.name;
    EXPECT_EQ(validTx(p), t.tx) << t.name;
    EXPECT_EQ(settings(p.gDC) * (p.twoStage ? settings(p.gDC2) : 1), t.ctle) << t.name;
    ASSERT_EQ(p.cases.size(), t.case2tx.empty() ? 1u : 2u) << t.name;
    if (!t.case2tx.empty()) {
      EXPECT_EQ(p.cases[1].tx, t.case2tx) << t.name;
    }
    EXPECT_EQ(p.cases[0].next, t.case1next) << t.name;
    ASSERT_EQ(p.Nb, t.Nb) << t.name;
    ASSERT_EQ(p.bmax.size(), static_cast<std::size_t>(t.Nb)) << t.name;
    EXPECT_DOUBLE_EQ(p.bmin.empty() ? -p.bmax.back() : p.bmin.back(), t.lastBmin) << t.name;
    EXPECT_EQ(p.search, brevo::com::Search::exhaustive) << t.name;
    EXPECT_EQ(p.passThreshold, 3) << t.name;
  }
  // The sheets' units turned into SI: nF, nH, ns and GHz.
  MemoryStream log;
  RunState kr4, cr;
  applied(kr4, log.get(), {"com=kr4"});
  applied(cr, log.get(), {"com=ck-cr"});
  const brevo::com::Params a = readComPreset(kr4).value.params,
                          b = readComPreset(cr).value.params;
  EXPECT_DOUBLE_EQ(a.pkgTx.Cd.at(0), 2.5e-13);
  EXPECT_DOUBLE_EQ(a.pkgRx.Cp, 1.8e-13);
  EXPECT_DOUBLE_EQ(a.Tr, 8e-12);
  EXPECT_DOUBLE_EQ(a.fz, 25.78125e9 / 4);
  EXPECT_DOUBLE_EQ(a.RdTx, 55);
  EXPECT_DOUBLE_EQ(b.pkgRx.Ls.at(0), 1.2e-10);
  EXPECT_DOUBLE_EQ(b.pkgTx.Cb, 3e-14);
  EXPECT_DOUBLE_EQ(b.fLF, 0.6640625e9);
  EXPECT_DOUBLE_EQ(b.f2, 40e9);
  EXPECT_TRUE(b.includePcb && b.C0 == 0.29e-4 * 1e-9 && b.zbp == 110.3);
  EXPECT_EQ(b.Zc, std::vector<double>({87.5, 92.5}));
  EXPECT_EQ(b.localSearch, 2);
  // The draft 802.3dj set: the receiver FFE, the swept sampling point, the die ladder.
  RunState dj;
  applied(dj, log.get(), {"com=dj-kr"});
  const brevo::com::Params d = readComPreset(dj).value.params;
  EXPECT_EQ(d.rxffePre, 5);
  EXPECT_EQ(d.rxffePost, 10);
  EXPECT_DOUBLE_EQ(d.rxffeWmax, 0.7);
  EXPECT_DOUBLE_EQ(d.rxffeWmin, -0.7);
  EXPECT_EQ(d.tsAnchor, 1);
  EXPECT_EQ(d.sampleAdjustMin, -16);
  EXPECT_EQ(d.sampleAdjustMax, 16);
  EXPECT_TRUE(d.raisedCosine && d.forceTr);
  ASSERT_EQ(d.pkgRx.Ls.size(), 3u);
  EXPECT_DOUBLE_EQ(d.pkgRx.Ls[1], 0.15e-9);
  EXPECT_DOUBLE_EQ(d.pkgTx.Cd.at(2), 1.1e-13);
  EXPECT_DOUBLE_EQ(d.eta0, 6e-9);
}

// The channels COM gets are the sets the run read for its own analysis: the thru and every
// aggressor in the run's order, each on its file's points with the ports of its line.
TEST(ComChannels, TakenFromTheSetsTheRunRead) {
  const Workspace w;
  for (const char* f : {"lane_thru.s4p", "lane_next1.s4p", "lane_fext1.s4p"})
    fs::create_symlink(fs::path(BREVO_SOURCE_DIR) / "examples" / f, w.dir() / f);
  MemoryStream out, err;
  RunState rs;
  rs.io.standardOutput = out.get();
  rs.io.standardError = err.get();
  rs.io.arguments = {"Brevo", "Thru=" + w / "lane_thru.s4p", "NEXT=" + w / "lane_next1.s4p",
                     "FEXT=" + w / "lane_fext1.s4p", "com=kr4"};
  // Kept: the stage lets go of the channels once computed, so they are looked at here.
  class Keep : public StageObserver {
   public:
    explicit Keep(RunState& rs) : rs_(rs) {}
    bool starting(Stage stage) override {
      if (stage == Stage::com) channels = rs_.comChannels.channels, sdd21 = rs_.points.Sdd21;
      return true;
    }
    std::vector<brevo::com::Channel> channels;
    std::vector<std::complex<double>> sdd21;

   private:
    RunState& rs_;
  } keep(rs);
  ASSERT_EQ(runAnalysis(rs, &keep), 0);
  EXPECT_NE(out.text().find(
                "FLIPPED:                                 no\nCOM case 1 (z_p TX 12 mm): COM "),
            std::string::npos);
  EXPECT_TRUE(out.text().ends_with(" dB pass\n"));
  ASSERT_EQ(keep.channels.size(), 3u);
  using K = brevo::com::ChannelKind;
  const K kinds[] = {K::thru, K::next, K::fext};
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(keep.channels[k].kind, kinds[k]);
    EXPECT_EQ(keep.channels[k].f.size(), 2000u);
    EXPECT_EQ(keep.channels[k].sdd11.size(), 2000u);
  }
  EXPECT_EQ(keep.channels[0].sdd21, keep.sdd21);
  // Reciprocal files: Sdd12 is Sdd21 taken the other way.
  EXPECT_NEAR(std::abs(keep.channels[0].sdd12[700] - keep.channels[0].sdd21[700]), 0, 1e-12);
  const std::string log = err.text();
  for (const char* f : {"lane_thru.s4p size", "lane_next1.s4p size", "lane_fext1.s4p size"})
    EXPECT_EQ(log.find(f), log.rfind(f)) << f << " read more than once";
}

// The kr4 preset through a whole run on the calibration set of the shared channels gives
// the reference code's published figures of each package case and its equaliser.
TEST(ComRun, Kr4OnTheCalibrationSetGivesThePublishedFigures) {
  const fs::path set = fs::path(BREVO_CHANNELS_DIR) / "com";
  if (!fs::exists(set / "example2_THRU.s4p")) GTEST_SKIP() << "no calibration set at " << set;
  MemoryStream out, err;
  RunState rs;
  rs.io.standardOutput = out.get();
  rs.io.standardError = err.get();
  const std::string at = set.string() + "/example2_";
  rs.io.arguments = {"Brevo",
                     "com=kr4",
                     "Thru=" + at + "THRU.s4p",
                     "FEXT=" + at + "FEXT1.s4p",
                     "FEXT=" + at + "FEXT2.s4p",
                     "NEXT=" + at + "NEXT1.s4p",
                     "NEXT=" + at + "NEXT2.s4p",
                     "NEXT=" + at + "NEXT3.s4p"};
  rs.io.keepRecord = true;
  ASSERT_EQ(runAnalysis(rs), 0);
  const std::string text = out.text();
  const struct {
    int number, length;
    double com, fom, As, Ani;
  } published[] = {{1, 12, 4.30, 16.90, 30.3, 18.5}, {2, 30, 3.65, 16.25, 25.0, 16.46}};
  for (const auto& p : published) {
    const std::string head =
        "COM case " + std::to_string(p.number) + " (z_p TX " + std::to_string(p.length) + " mm): ";
    const std::size_t where = text.find(head);
    ASSERT_NE(where, std::string::npos) << head;
    double com = 0, fom = 0, As = 0, Ani = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + where + head.size(),
                          "COM %lf dB FOM %lf dB As %lf mV Ani %lf mV", &com, &fom, &As, &Ani),
              4);
    EXPECT_NEAR(com, p.com, 0.1) << head;
    EXPECT_NEAR(fom, p.fom, 0.05) << head;
    EXPECT_NEAR(As, p.As, 0.02 * p.As) << head;
    EXPECT_NEAR(Ani, p.Ani, 0.02 * p.Ani) << head;
    const std::string eq = "COM case " + std::to_string(p.number) +
                           " equaliser: Tx c(-1..1) -0.160 0.840 0.000   CTLE gDC -12.0 dB";
    EXPECT_NE(text.find(eq), std::string::npos) << eq;
  }
  // The worst case decides, against 3 dB.
  const std::size_t last = text.rfind("\nCOM ");
  double worst = 0;
  char verdict[8] = {};
  ASSERT_EQ(std::sscanf(text.c_str() + last, "\nCOM %lf dB %7s", &worst, verdict), 2);
  EXPECT_NEAR(worst, 3.65, 0.1);
  EXPECT_STREQ(verdict, "pass");
  // The record's arrays of each case, read as a charting program reads them: the bathtub
  // falls through DER0 at Ani, the equalised pulse at its cursor sample is As (NRZ: h(ts)),
  // the Tx FFE passes the sum of its taps at DC and the CTLE gDC, the contour at phase 0
  // is As - Ani, the DFE span is its 14 taps a UI apart after the cursor.
  const nlohmann::json rec = nlohmann::json::parse(rs.io.record);
  for (const nlohmann::json& c : rec["com"]["cases"]) {
    const double As = c["As"]["value"], Ani = c["Ani"]["value"];
    const nlohmann::json &tub = c["bathtub"], &pulse = c["pulse"], &eye = c["eye_contour"],
                         &resp = c["responses"];
    EXPECT_EQ(tub["DER0"], 1e-5);
    double crossing = -1;
    for (std::size_t i = 0; i < tub["probability"].size(); ++i)
      if (tub["probability"][i].get<double>() > 1e-5) crossing = tub["amplitude_mV"][i];
    EXPECT_NEAR(crossing, Ani, 1e-9 * Ani);
    const int cursor = pulse["cursor_sample"], M = pulse["samples_per_ui"];
    EXPECT_NEAR(pulse["equalised_mV"][static_cast<std::size_t>(cursor)].get<double>(), As,
                1e-9 * As);
    EXPECT_NEAR(pulse["first_ui"].get<double>() + static_cast<double>(cursor) / M, 0, 1e-12);
    EXPECT_EQ(pulse["dfe_span"], nlohmann::json({cursor + M, cursor + 14 * M}));
    double sum = 0;
    for (const auto& t : c["tx_taps"]) sum += t.get<double>();
    EXPECT_EQ(resp["f_GHz"][0], 0);
    EXPECT_NEAR(resp["tx_ffe_dB"][0].get<double>(), 20 * std::log10(sum), 1e-9);
    EXPECT_NEAR(resp["ctle_dB"][0].get<double>(), c["gDC"]["value"].get<double>(), 1e-9);
    EXPECT_TRUE(resp["rx_ffe_dB"].is_null());
    const std::size_t mid = eye["phase_ui"].size() / 2;
    EXPECT_EQ(eye["phase_ui"][mid], 0);
    EXPECT_NEAR(eye["upper_mV"][mid].get<double>(), As - Ani, 1e-9 * As);
  }
}

// The parameter sheets of the reference code, read in place through com=SHEET with the
// sheet program the build puts beside Brevo.
const fs::path kSheets = BREVO_COM_SHEETS_DIR;
const std::string kSheetTool = (fs::path(BREVO_EXE).parent_path() / "brevo-com-sheet").string();

struct SheetTool {  // BREVO_COM_SHEET set for the test's lifetime
  explicit SheetTool(const std::string& tool) { setenv("BREVO_COM_SHEET", tool.c_str(), 1); }
  ~SheetTool() { unsetenv("BREVO_COM_SHEET"); }
};

brevo::com::Sweep sweep(double min, double step, double max) { return {min, step, max}; }

// Each sheet's values as its link's tables give them (the KR4, 802.3ck KR, CR, C2C and
// C2M columns; the others' rate and levels), read into the parameters in SI.
TEST(ComSheets, EachSheetGivesItsTablesValues) {
  if (!fs::exists(kSheets)) GTEST_SKIP() << "no parameter sheets at " << kSheets;
  const SheetTool tool(kSheetTool);
  using S = brevo::com::Sweep;
  const struct {
    const char* file;
    double fb;
    int L;
    double der0 = 0, Av = 0, eta0 = 0, c0 = 0;
    std::vector<S> taps = {};  // c(-3) or c(-1) first, up to c(1)
    S gDC = {};
    std::optional<S> gDC2 = {};
    int Nb = 0;
    std::vector<double> case1tx = {}, case2tx = {}, case1next = {};
    std::vector<double> Zc = {};
    bool pcb = false;
  } rows[] = {
      {"config_com_ieee8023_93a=100GBASE-KR4.xls",
       25.78125,
       2,
       1e-5,
       0.4,
       5.2e-8,
       0.62,
       {sweep(-0.18, 0.02, 0), sweep(-0.38, 0.02, 0)},
       sweep(-12, 1, 0),
       std::nullopt,
       14,
       {12},
       {30},
       {12},
       {78.2}},
      {"config_com_ieee8023_93a=3ck_SA_KR_08_17_2022.xlsx",
       53.125,
       4,
       1e-4,
       0.413,
       8.2e-9,
       0.54,
       {sweep(-0.06, 0.02, 0), sweep(0, 0.02, 0.12), sweep(-0.34, 0.02, 0), sweep(-0.2, 0.02, 0)},
       sweep(-20, 1, 0),
       sweep(-6, 1, 0),
       12,
       {12, 1.8},
       {31, 1.8},
       {12, 1.8},
       {87.5, 92.5}},
      {"config_com_ieee8023_93a=3ck_SA_CR_CA_08_17_2022.xlsx",
       53.125,
       4,
       1e-4,
       0.413,
       9e-9,
       0.54,
       {sweep(-0.06, 0.02, 0), sweep(0, 0.02, 0.12), sweep(-0.34, 0.02, 0), sweep(-0.2, 0.02, 0)},
       sweep(-20, 1, 0),
       sweep(-6, 1, 0),
       12,
       {12, 1.8},
       {31, 1.8},
       {12, 1.8},
       {87.5, 92.5},
       true},
      {"config_com_ieee8023_93a=3ck_SA_120F_C2C_08_17_2022.xlsx",
       53.125,
       4,
       1e-5,
       0.413,
       2e-8,
       0.54,
       {sweep(-0.04, 0.02, 0), sweep(0, 0.02, 0.1), sweep(-0.28, 0.02, 0), sweep(-0.1, 0.02, 0)},
       sweep(-20, 1, 0),
       sweep(-4, 1, 0),
       6,
       {13, 1.8},
       {31, 1.8},
       {11, 1.8},
       {87.5, 92.5}},
      {"config_com_ieee8023_93a=3ck_SA_120g_C2M_tp1a_08_17_2022.xlsx",
       53.125,
       4,
       1e-5,
       0.415,
       4.1e-8,
       0.54,
       {sweep(-0.06, 0.02, 0), sweep(0, 0.02, 0.12), sweep(-0.34, 0.02, 0), sweep(-0.2, 0.02, 0)},
       sweep(-13, 1, 0),
       sweep(-3, 0.5, 0),
       4,
       {15, 1.8},
       {30, 1.8},
       {0, 0},
       {87.5, 92.5}},
      {"config_com_ieee8023_93a=3ck_SA_120G_ERL_HOST_10_26_2022.xlsx", 53.125, 4},
      {"config_com_ieee8023_93a=3ck_SA_120G_ERL_MODULE_10_26_2022.xlsx", 56.1, 4},
      {"config_com_ieee8023_93a=3ck_SA_162_ERL_HOST_10_26_2022.xlsx", 53.125, 4},
      {"config_com_ieee8023_93a=3ck_SA_TP0V_08_17_2022.xlsx", 53.125, 4},
      {"config_com_ieee8023.xlsx", 106.25, 4},
      {"config_com_ieee8023_93a=df_200G_PAM4_RCos_C2C_11_2022.xlsx", 106.25, 4},
      {"config_com_ieee8023_93a=df_200G_PAM4_RCos_C2M_TP1a_11_2022.xlsx", 106.25, 4},
      {"config_com_ieee8023_93a=df_200G_PAM4_RCos_CAKR_11_2022.xlsx", 106.25, 4},
      {"config_com_ieee8023_93a=df_200G_PAM4_RCos_Txpre_C2M_TP1a_11_2022.xlsx", 106.25, 4},
      {"config_com_ieee8023_93a=df_200G_PAM4_fr55_C2M_TP1a_11_2022.xlsx", 106.25, 4}};
  for (const auto& t : rows) {
    SCOPED_TRACE(t.file);
    MemoryStream log;
    RunState rs;
    applied(rs, log.get(), {"com=" + (kSheets / t.file).string()});
    ASSERT_EQ(rs.given.com.error, "") << log.text();
    const brevo::Result<brevo::com::PresetReading> r = readComPreset(rs);
    ASSERT_TRUE(r.ok()) << r.message;
    const brevo::com::Params& p = r.value.params;
    EXPECT_DOUBLE_EQ(p.fb, t.fb * 1e9);
    EXPECT_EQ(rs.given.settings.data_rate, t.fb * 1e9);  // the report's link is the sheet's
    EXPECT_EQ(p.L, t.L);
    EXPECT_EQ(rs.given.settings.PAM, t.L);
    EXPECT_EQ(p.search, brevo::com::Search::exhaustive);
    if (t.der0 == 0) continue;  // no column of the tables
    EXPECT_DOUBLE_EQ(p.DER0, t.der0);
    EXPECT_DOUBLE_EQ(p.Av, t.Av);
    EXPECT_DOUBLE_EQ(p.eta0, t.eta0);
    EXPECT_DOUBLE_EQ(p.c0min, t.c0);
    ASSERT_EQ(p.txTaps.size(), t.taps.size());
    for (std::size_t k = 0; k < t.taps.size(); ++k) {
      EXPECT_DOUBLE_EQ(p.txTaps[k].values.min, t.taps[k].min) << "tap " << p.txTaps[k].index;
      EXPECT_DOUBLE_EQ(p.txTaps[k].values.step, t.taps[k].step) << "tap " << p.txTaps[k].index;
      EXPECT_DOUBLE_EQ(p.txTaps[k].values.max, t.taps[k].max) << "tap " << p.txTaps[k].index;
    }
    EXPECT_EQ(p.txTaps.back().index, 1);
    EXPECT_TRUE(p.gDC.min == t.gDC.min && p.gDC.step == t.gDC.step && p.gDC.max == t.gDC.max);
    ASSERT_EQ(p.twoStage, t.gDC2.has_value());
    if (t.gDC2) {
      EXPECT_TRUE(p.gDC2.min == t.gDC2->min && p.gDC2.step == t.gDC2->step &&
                  p.gDC2.max == t.gDC2->max);
    }
    EXPECT_EQ(p.Nb, t.Nb);
    ASSERT_EQ(p.cases.size(), 2u);
    EXPECT_EQ(p.cases[0].tx, t.case1tx);
    EXPECT_EQ(p.cases[1].tx, t.case2tx);
    EXPECT_EQ(p.cases[0].next, t.case1next);
    EXPECT_EQ(p.Zc, t.Zc);
    EXPECT_EQ(p.includePcb, t.pcb);
  }
}

// A sheet that cannot be had leaves COM unavailable with the reason, the run going on as
// with a bad preset file; a sheet's unused parameters are the run's warnings.
TEST(ComSheets, WhyNotOrWarningsInTheRun) {
  const Workspace w;
  w.file("notes.xlsx", "not a workbook\n");
  const std::string kr4 = (kSheets / "config_com_ieee8023_93a=100GBASE-KR4.xls").string();
  const struct {
    std::string tool, sheet, error, warning;
  } rows[] = {
      {"/nowhere/brevo-com-sheet", "any.xlsx",
       "com=any.xlsx: brevo-com-sheet, the program that reads parameter sheets, is not found", ""},
      {kSheetTool, w / "missing.xls",
       "com=" + (w / "missing.xls") + ": " + (w / "missing.xls") + ": cannot open the sheet", ""},
      {kSheetTool, w / "notes.xlsx",
       "com=" + (w / "notes.xlsx") + ": " + (w / "notes.xlsx") + ": not a spreadsheet", ""},
      {kSheetTool, kr4, "",
       kr4 + ": DIAGNOSTICS = 1 (F2) is not used: Brevo has no such parameter"}};
  for (const auto& row : rows) {
    if (row.sheet == kr4 && !fs::exists(kr4)) continue;
    SCOPED_TRACE(row.sheet);
    const SheetTool tool(row.tool);
    MemoryStream log;
    RunState rs;
    applied(rs, log.get(), {"com=" + row.sheet});
    EXPECT_EQ(rs.given.com.error.substr(0, row.error.size()), row.error);
    EXPECT_EQ(rs.given.com.requested, true);
    if (!row.error.empty()) {
      EXPECT_TRUE(rs.given.com.path.empty());
      EXPECT_NE(log.text().find(row.error), std::string::npos) << log.text();
    } else {
      EXPECT_EQ(rs.given.com.path, row.sheet);
      EXPECT_NE(std::find(rs.io.warnings.begin(), rs.io.warnings.end(), row.warning),
                rs.io.warnings.end());
      EXPECT_NE(log.text().find("opening brevo-com-sheet " + kr4 + "\n"), std::string::npos);
    }
  }
}

// The KR4 and 802.3ck KR sheets read directly give the COM block the kr4 and ck-kr presets
// give on the calibration set: the presets hold the sheets' values.
TEST(ComRun, SheetsGiveTheirPresetsBlock) {
  const fs::path set = fs::path(BREVO_CHANNELS_DIR) / "com";
  if (!fs::exists(set / "example2_THRU.s4p")) GTEST_SKIP() << "no calibration set at " << set;
  if (!fs::exists(kSheets)) GTEST_SKIP() << "no parameter sheets at " << kSheets;
  const SheetTool tool(kSheetTool);
  const auto block = [&](const std::string& com) {
    MemoryStream out, err;
    RunState rs;
    rs.io.standardOutput = out.get();
    rs.io.standardError = err.get();
    const std::string at = set.string() + "/example2_";
    // com= after another argument: a first argument holding "-c" (a path may) is the starter
    // option; the sheet or preset given then replaces every com_ keyword of the first.
    rs.io.arguments = {"Brevo",
                       "com=kr4",
                       "Thru=" + at + "THRU.s4p",
                       "com=" + com,
                       "FEXT=" + at + "FEXT1.s4p",
                       "FEXT=" + at + "FEXT2.s4p",
                       "NEXT=" + at + "NEXT1.s4p",
                       "NEXT=" + at + "NEXT2.s4p",
                       "NEXT=" + at + "NEXT3.s4p"};
    EXPECT_EQ(runAnalysis(rs), 0) << com;
    const std::string text = out.text();
    const std::size_t from = text.find("COM case 1");
    return from == std::string::npos ? "no COM block: " + text : text.substr(from);
  };
  const struct {
    const char* preset;
    const char* sheet;
  } rows[] = {{"kr4", "config_com_ieee8023_93a=100GBASE-KR4.xls"},
              {"ck-kr", "config_com_ieee8023_93a=3ck_SA_KR_08_17_2022.xlsx"}};
  for (const auto& row : rows) {
    const std::string preset = block(row.preset), sheet = block((kSheets / row.sheet).string());
    EXPECT_TRUE(preset.starts_with("COM case 1")) << preset;
    EXPECT_EQ(sheet, preset) << row.sheet;
  }
}

// A computed result: two package cases, a two-stage CTLE, the worst case against the limit.
ComRun computed(double worst) {
  ComRun c;
  c.reached = true;
  c.params.twoStage = true;
  c.params.passThreshold = 3;
  c.params.cases = {{{12, 1.8}, {12, 1.8}, {12, 1.8}, {12, 1.8}},
                    {{31, 1.8}, {29, 1.8}, {31, 1.8}, {29, 1.8}}};
  brevo::com::CaseResult one;
  one.com = 3.608, one.fom = 14.25, one.As = 0.0123456, one.Ani = 0.0081;
  one.gDC = 0, one.gDC2 = -2, one.txTaps = {-0.02, 0.06, -0.26, 0.64, -0.02}, one.txCursor = 3;
  one.dfeTaps = {0.5, 0.1, -0.03};
  one.topCandidates = {{one.txTaps, 0, -2, 14.25},
                       {{-0.02, 0.04, -0.26, 0.66, -0.02}, -1, -2, 14.1}};
  brevo::com::CaseViews& v = one.views;
  v.samplesPerUi = 2, v.firstUi = -1, v.unequalised = {0, 0.01, 0.02, 0.01, 0},
  v.equalised = {0, 0, 0.03, 0.005, 0};
  v.cursor = 2, v.dfeFirst = 4, v.dfeLast = 8;
  v.f = {0, 1e9}, v.txFfeDb = {0, -1}, v.ctleDb = {-2, -1.5};
  v.amplitude = {0, 0.001}, v.probability = {0.5, 1e-6};
  v.phaseUi = {-0.5, 0, 0.5}, v.upper = {0.001, 0.004, NAN}, v.lower = {-0.001, -0.004, -0.001};
  brevo::com::CaseResult two = one;
  two.views = {};  // a case without views still has every field
  two.com = worst, two.fom = 12, two.txTaps = {-0.1, 0.7, -0.2}, two.txCursor = 1, two.gDC = -3;
  c.outcome.value.cases = {one, two};
  c.outcome.value.com = worst;
  c.outcome.value.pass = worst >= 3;
  return c;
}

TEST(ComBlock, CasesEqualisersAndVerdictOrWhyNot) {
  const struct {
    const char* name;
    ComRun run;
    std::string block;
  } rows[] = {{"pass", computed(3.2),
               "COM case 1 (z_p TX 12+1.8 mm): COM    3.608 dB   FOM   14.250 dB   As    12.346 mV "
               "  Ani     8.100 mV\n"
               "COM case 1 equaliser: Tx c(-3..1) -0.020 0.060 -0.260 0.640 -0.020   CTLE gDC 0.0 "
               "dB gDC2 -2.0 dB   DFE b(1..3) 0.500 0.100 -0.030\n"
               "COM case 2 (z_p TX 31+1.8 mm): COM    3.200 dB   FOM   12.000 dB   As    12.346 mV "
               "  Ani     8.100 mV\n"
               "COM case 2 equaliser: Tx c(-1..1) -0.100 0.700 -0.200   CTLE gDC -3.0 dB gDC2 -2.0 "
               "dB   DFE b(1..3) 0.500 0.100 -0.030\n"
               "COM 3.200 dB pass\n"},
              {"fail", computed(2.999), ""},
              {"unavailable",
               [] {
                 ComRun c = computed(4);
                 c.reason = "the engine is not built";
                 return c;
               }(),
               "COM unavailable: the engine is not built\n"}};
  for (const auto& row : rows) {
    MemoryStream out;
    printComBlock(out.get(), row.run);
    if (!row.block.empty())
      EXPECT_EQ(out.text(), row.block) << row.name;
    else
      EXPECT_TRUE(out.text().ends_with("\nCOM 2.999 dB fail\n")) << row.name << out.text();
  }
  // The record's com object of the passing run, valid against the schema.
  RunState rs;
  rs.given.com.requested = true;
  rs.given.com.preset = "ck-kr";
  rs.com = computed(3.2);
  const nlohmann::json rec = nlohmann::json::parse(runRecordText(rs, {}, 0));
  const nlohmann::json& com = rec["com"];
  EXPECT_EQ(com["verdict"], "pass");
  EXPECT_EQ(com["COM"]["value"], 3.2);
  ASSERT_EQ(com["cases"].size(), 2u);
  EXPECT_EQ(com["cases"][0]["As"]["value"], 1000 * 0.0123456);
  EXPECT_EQ(com["cases"][1]["package_mm"]["next"], nlohmann::json({29, 1.8}));
  EXPECT_EQ(com["cases"][0]["gDC2"]["value"], -2);
  EXPECT_EQ(
      com["cases"][0]["top_candidates"],
      nlohmann::json::parse(
          R"([{"tx_taps": [-0.02, 0.06, -0.26, 0.64, -0.02], "gDC": 0, "gDC2": -2, "FOM": 14.25},
                                      {"tx_taps": [-0.02, 0.04, -0.26, 0.66, -0.02], "gDC": -1, "gDC2": -2, "FOM": 14.1}])"));
  EXPECT_EQ(com["cases"][0]["pulse"]["dfe_span"], nlohmann::json({4, 8}));
  EXPECT_EQ(com["cases"][0]["pulse"]["equalised_mV"][2], 30);
  EXPECT_EQ(com["cases"][0]["bathtub"]["amplitude_mV"][1], 1);
  EXPECT_EQ(com["cases"][0]["eye_contour"]["upper_mV"][2], "nan");
  EXPECT_TRUE(com["cases"][1]["pulse"]["dfe_span"].is_null());
  const Workspace w;
  w.file("run.json", rec.dump());
  w.file("check.py",
         "import json, sys\nfrom jsonschema import validators\n"
         "schema, record = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))\n"
         "for e in validators.validator_for(schema)(schema).iter_errors(record):\n"
         "  if list(e.path)[:1] == ['com']: print('/'.join(map(str, e.path)), e.message)\n");
  const Outcome valid =
      w.run({w / "check.py", BREVO_RECORD_SCHEMA, w / "run.json"}, "/usr/bin/python3");
  if (valid.status != 0 && has(valid.err, "No module named"))
    GTEST_SKIP() << "python3-jsonschema is not installed: " << valid.err;
  EXPECT_TRUE(valid.status == 0 && valid.out.empty()) << valid.out << valid.err;
}

}  // namespace
