// In-process checks of the entry: channel lines, the save base name, the starter text, the
// keyword defaults and the settings derived from them.
#include <cmath>

#include "channelLists.h"
#include "entry.h"
#include "support.h"

namespace {

using namespace driver_test;

// The defaults 5 6 7 8 differ from every port a case writes, so a leaking default shows.
TEST(FixChannelLine, WordCountsSettlePortsAndName) {
  const struct {
    const char* line;
    int status;
    std::vector<int> ports;
  } cases[] = {
      {"thru.s4p", 0, {5, 6, 7, 8}},        {"thru.s4p 31", 0, {3, 1, 7, 8}},  // two hex digits
      {"thru.s4p 1f", 0, {1, 15, 7, 8}},    {"thru.s4p qq", 0, {5, 6, 7, 8}},
      {"thru.s4p 3 1", 0, {3, 1, 7, 8}},    {"thru.s4p 3 q", 0, {3, 6, 7, 8}},
      {"thru.s4p 2 1 4 3", 0, {2, 1, 4, 3}}, {"thru.s4p 0x1 0 2 0", 0, {1, 0, 2, 0}},
      {"thru.s4p 010 0 2 0", 0, {8, 0, 2, 0}}, {"thru.s4p q 0 2 0", 0, {5, 0, 2, 0}},
      {"thru.s4p \t 2  1\t4 3\r\n", 0, {2, 1, 4, 3}}, {"", 0, {5, 6, 7, 8}},
      {"thru.s4p 1 2 3", 1, {}}, {"thru.s4p 1 2 3 4 5", 1, {}}, {"thru.s4p 1 2 3 4 5 6", 1, {}},
  };
  for (const auto& c : cases) {
    channelLine entry{c.line};
    EXPECT_EQ(fixChannelLine(entry, 5, 6, 7, 8), c.status) << c.line;
    if (c.status) continue;
    EXPECT_EQ(entry.name, c.line[0] ? "thru.s4p" : "") << c.line;
    EXPECT_EQ(std::vector({entry.inP, entry.inM, entry.outP, entry.outM}), c.ports) << c.line;
  }
}

TEST(SaveBaseName, CutsLastExtensionOrFirstBlank) {
  const char* cases[][2] = {{"run1.txt", "run1"}, {"out.v2/run", "out"}, {"ab", ""},  {"", ""},
                            {"abc", "abc"},       {"a.b.c", "a.b"},      {"run 1", "run"},
                            {"x\tlong", "x"},     {".hidden", ".hidden"}, {"dir/run\n", "dir/run"}};
  for (const auto& c : cases) EXPECT_EQ(saveBaseName(c[0]), c[1]) << c[0];
}

// 107 lines, 5072 characters; keyword lines put their comment in column 31, continuation
// comments begin with 30 blanks or with three tabs and six blanks.
TEST(StarterText, CountsColumnsAndTabs) {
  const std::string text = kStarterControlFile, blanks30(30, ' '), tabs = "\t\t\t      ";
  EXPECT_EQ(text.size(), 5072u);
  const std::vector<std::string> all = lines(text);
  ASSERT_EQ(all.size(), 107u);
  EXPECT_EQ(all[1], "# Default control file for program \"Brevo\"\n");
  EXPECT_EQ(all[11], "result=                       # Filename for the results \n");
  EXPECT_EQ(all[42], "implementation_noise_factor=10m \n");
  EXPECT_EQ(all[106], "#\n");
  int keywordLines = 0, blankLines = 0, tabLines = 0;
  for (const std::string& line : all) {
    const std::size_t hash = line.find('#'), equals = line.find('=');
    if (line.starts_with(blanks30)) {
      ++blankLines;
      EXPECT_EQ(hash, 30u) << line;
    } else if (line.starts_with("\t")) {
      ++tabLines;
      EXPECT_TRUE(line.starts_with(tabs + "#")) << line;
    } else if (equals < hash && hash != std::string::npos) {
      ++keywordLines;
      EXPECT_EQ(hash, 30u) << line;
    }
  }
  EXPECT_EQ(std::vector({blankLines, tabLines, keywordLines}), std::vector({22, 9, 31}));
}

// A run state with the keywords and the starter file applied, streams on memory.
struct DefaultRun {
  Capture result, log;
  RunState rs;
  DefaultRun() {
    rs.result = result.get(), rs.log = log.get();
    registerKeywords(rs);
    applyDefaults(rs);
    rs.thruList.push_back(channelLine{"thru.s4p", 1, 3, 2, 4});
    rs.inP = 1, rs.inM = 3, rs.outP = 2, rs.outM = 4;
  }
  void set(const char* assignment) { equal(rs.table.get(), assignment, rs.log); }
};

TEST(Derived, StarterDefaultsGiveTheHeaderAndLog) {
  DefaultRun run;
  const Settings& s = run.rs.settings;
  EXPECT_EQ(std::vector({s.input_ports, s.output_ports, s.limit_range, s.PAM, s.oversample}),
            std::vector({0x13, 0x24, 2, 2, 4}));
  EXPECT_EQ(std::vector({s.NEXT_amp, s.g0Tx, s.g0Rx, s.implementation_noise_factor,
                         s.implementation_gain_factor, s.N_DFE, s.slicer_allowance, s.tx_near_bandwidth}),
            std::vector({0.6, 0.161, 0.161, 0.01, 0.85, 8.0, 0.01, 1.0}));
  EXPECT_TRUE(std::isinf(s.a4_limit));
  EXPECT_EQ(run.log.text(), "") << "the defaults are not echoed";
  deriveSettings(run.rs);
  EXPECT_EQ(run.result.text(),
            "channel:  thru.s4p\nports      1 3 => 2 4\ndata rate      =   25.781 Gb\n"
            "peak Signal    =  400     mV\ntargetBER      =    1.00e-12\ntarget Q       =   -7.034\n"
            "Tx t bandwidth =   1.418e+10\nRx t bandwidth =   1.934e+10\n");
  EXPECT_EQ(run.log.text(), "1/Tx_BW=  7.052342e-11\n1/Rx_BW=  5.171717e-11\nUI   =  3.878788e-11\n");
  const Derived& d = run.rs.derived;
  EXPECT_EQ(std::vector({d.txTau, d.rxTau, d.farTau, d.nearTau, d.UI, d.pamStep, d.pamPower}),
            std::vector({1 / (0.55 * kRate), 1 / (0.75 * kRate), 1 / (0.55 * kRate), 1 / kRate, 1 / kRate,
                         1.0, 1.0}));
  EXPECT_EQ(std::vector({s.pTx, s.pRx}), std::vector({1.25 * kRate, 1.25 * kRate}));
}

// Later assignments win, also through a second name of the same storage.
TEST(Derived, AssignmentsAndDerivedSettings) {
  const struct {
    std::vector<const char*> assignments;
    double Settings::*field;
    double want;
  } cases[] = {
      {{"data_rate=10G", "baud_rate=53.125G"}, &Settings::data_rate, 53.125e9},
      {{"baud_rate=53.125G", "data_rate=10G"}, &Settings::data_rate, 10e9},
      {{"DFE_length=3"}, &Settings::N_DFE, 3},
      {{"Tx_resistance_error=0.1"}, &Settings::g0Tx, 0.05},
      {{"Tx_resistance_error=5"}, &Settings::g0Tx, 0.05},  // ohms of 50, stored as a fraction
      {{"Tx_resistance_error=5"}, &Settings::Tx_resistance_error, 0.1},
      {{"Tx_resistance_error=-5"}, &Settings::g0Tx, -0.05},
      {{"Tx_resistance_error=1"}, &Settings::g0Tx, 0.5},
      {{"Tx_resistance_error=0", "g0Tx=0.2"}, &Settings::g0Tx, 0.2},
      {{"Rx_resistance_error=-5"}, &Settings::g0Rx, -0.05},
      {{"Tx_resistance_error=5"}, &Settings::g0Rx, 0.161},
      {{"pTx=1.25"}, &Settings::pTx, 1.25 * kRate},
      {{"pTx=10"}, &Settings::pTx, 10},
      {{"pTx=0.1"}, &Settings::pTx, 0.1},
      {{"pTx=20e9"}, &Settings::pTx, 20e9},
      {{"pRx=0.5", "data_rate=10G"}, &Settings::pRx, 5e9},
  };
  for (const auto& c : cases) {
    DefaultRun run;
    for (const char* a : c.assignments) run.set(a);
    deriveSettings(run.rs);
    EXPECT_NEAR(run.rs.settings.*c.field, c.want, std::fabs(c.want) * 1e-14) << c.assignments.back();
  }
  DefaultRun run;
  run.set("PAM=4");
  run.set("tx_bandwidth=0");
  run.set("Sparameters=a.s4p");
  deriveSettings(run.rs);
  EXPECT_STREQ(run.rs.settings.Thru, "a.s4p");
  EXPECT_EQ(std::vector({run.rs.derived.pamStep, run.rs.derived.pamPower}), std::vector({1.0 / 3, 5.0 / 9}));
  EXPECT_NE(run.result.text().find("Tx t bandwidth =         inf\n"), std::string::npos);
}

}  // namespace
