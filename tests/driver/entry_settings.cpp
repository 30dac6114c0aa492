// In-process checks of the entry: channel lines, the save base name, the starter
// text, the keyword defaults and the settings derived from them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "channels.h"
#include "entry.h"
#include "stages.h"

namespace {

constexpr double kRate = 25.78125e9;

// ---------------------------------------------------------------- channel lines

struct ChannelCase {
  const char* name;
  const char* line;
  int status;
  const char* file;
  int inP, inM, outP, outM;
};

void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }

class FixChannelLine : public ::testing::TestWithParam<ChannelCase> {};

// Defaults 5 6 7 8 differ from every port a case writes, so a default that leaks
// into a written port (or the reverse) shows.
TEST_P(FixChannelLine, SettlesPortsAndName) {
  const ChannelCase& c = GetParam();
  channelLine entry{c.line};
  EXPECT_EQ(fixChannelLine(entry, 5, 6, 7, 8), c.status);
  if (c.status != 0) return;
  EXPECT_EQ(entry.name, c.file);
  EXPECT_EQ(entry.inP, c.inP);
  EXPECT_EQ(entry.inM, c.inM);
  EXPECT_EQ(entry.outP, c.outP);
  EXPECT_EQ(entry.outM, c.outM);
}

const ChannelCase kChannels[] = {
    {"one_word", "thru.s4p", 0, "thru.s4p", 5, 6, 7, 8},
    {"hex_pair", "thru.s4p 31", 0, "thru.s4p", 3, 1, 7, 8},
    {"hex_pair_letter", "thru.s4p 1f", 0, "thru.s4p", 1, 15, 7, 8},
    {"hex_not_a_number", "thru.s4p qq", 0, "thru.s4p", 5, 6, 7, 8},
    {"two_decimal", "thru.s4p 3 1", 0, "thru.s4p", 3, 1, 7, 8},
    {"two_decimal_second_bad", "thru.s4p 3 q", 0, "thru.s4p", 3, 6, 7, 8},
    {"four_ports", "thru.s4p 2 1 4 3", 0, "thru.s4p", 2, 1, 4, 3},
    {"four_ports_hex_single_ended", "thru.s4p 0x1 0 2 0", 0, "thru.s4p", 1, 0, 2, 0},
    {"four_ports_octal", "thru.s4p 010 0 2 0", 0, "thru.s4p", 8, 0, 2, 0},
    {"four_ports_one_bad", "thru.s4p q 0 2 0", 0, "thru.s4p", 5, 0, 2, 0},
    {"blank_runs_and_newline", "thru.s4p \t 2  1\t4 3\r\n", 0, "thru.s4p", 2, 1, 4, 3},
    {"three_ports_is_four_words", "thru.s4p 1 2 3", 1, "", 0, 0, 0, 0},
    {"five_ports_is_six_words", "thru.s4p 1 2 3 4 5", 1, "", 0, 0, 0, 0},
    {"seven_words", "thru.s4p 1 2 3 4 5 6", 1, "", 0, 0, 0, 0},
    {"empty_line", "", 0, "", 5, 6, 7, 8},
};

INSTANTIATE_TEST_SUITE_P(Entry, FixChannelLine, ::testing::ValuesIn(kChannels),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- save base name

TEST(SaveBaseName, CutsLastExtensionOrFirstBlank) {
  const struct {
    const char* saveFile;
    const char* base;
  } cases[] = {
      {"run1.txt", "run1"},   {"out.v2/run", "out"}, {"ab", ""},      {"a", ""},
      {"", ""},               {"abc", "abc"},        {"a.b.c", "a.b"}, {"run 1", "run"},
      {"x\tlong", "x"},       {".hidden", ".hidden"}, {"dir/run\n", "dir/run"},
  };
  for (const auto& c : cases) EXPECT_EQ(saveBaseName(c.saveFile), c.base) << c.saveFile;
}

// ---------------------------------------------------------------- starter text

std::vector<std::string> starterLines() {
  std::vector<std::string> lines;
  std::string text = kStarterControlFile;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  EXPECT_EQ(start, text.size()) << "the last line ends with a newline";
  return lines;
}

TEST(StarterText, CountsColumnsAndTabs) {
  EXPECT_EQ(std::string(kStarterControlFile).size(), 5072u);
  const std::vector<std::string> lines = starterLines();
  ASSERT_EQ(lines.size(), 107u);
  const std::string blanks30(30, ' ');
  const std::string tabs = "\t\t\t      ";
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "# Default control file for program \"Brevo\"");
  EXPECT_EQ(lines[11], "result=                       # Filename for the results ");
  EXPECT_EQ(lines[12], blanks30 + "# default for linux is stdout");
  EXPECT_EQ(lines[19], tabs + "# like waveforms etc");
  EXPECT_EQ(lines[42], "implementation_noise_factor=10m ");
  EXPECT_EQ(lines[47], tabs + "# 1=soft limit");
  EXPECT_EQ(lines[103], blanks30 + "# Volts peak");
  EXPECT_EQ(lines[106], "#");
  // Keyword lines put their comment in column 31; continuation comments begin with
  // 30 blanks or three tabs and six blanks.
  int keywordLines = 0, blankLines = 0, tabLines = 0;
  for (const std::string& line : lines) {
    const std::size_t hash = line.find('#');
    if (line.starts_with(blanks30)) {
      ++blankLines;
      EXPECT_EQ(hash, 30u) << line;
    } else if (line.starts_with("\t")) {
      ++tabLines;
      EXPECT_TRUE(line.starts_with(tabs + "#")) << line;
    } else if (line.find('=') != std::string::npos && line.find('=') < hash &&
               hash != std::string::npos) {
      ++keywordLines;
      EXPECT_EQ(hash, 30u) << line;
    }
  }
  EXPECT_EQ(blankLines, 22);
  EXPECT_EQ(tabLines, 9);
  EXPECT_EQ(keywordLines, 31);
}

// ---------------------------------------------------------------- defaults, derivation

// A run state with the keywords and defaults in place, streams on temp files.
struct DefaultRun {
  RunState rs;
  DefaultRun() {
    rs.result = std::tmpfile();
    rs.log = std::tmpfile();
    registerKeywords(rs);
    applyDefaults(rs);
    rs.thruList.push_back(channelLine{"thru.s4p", 1, 3, 2, 4});
    rs.inP = 1, rs.inM = 3, rs.outP = 2, rs.outM = 4;
  }
  ~DefaultRun() {
    std::fclose(rs.result);
    std::fclose(rs.log);
  }
  static std::string text(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
  }
  void set(const char* assignment) { equal(rs.table.get(), assignment, rs.log); }
};

TEST(Defaults, KeywordValuesAfterTheStarterFile) {
  DefaultRun run;
  const Settings& s = run.rs.settings;
  EXPECT_EQ(s.input_ports, 0x13);
  EXPECT_EQ(s.output_ports, 0x24);
  EXPECT_EQ(s.limit_range, 2);
  EXPECT_EQ(s.PAM, 2);
  EXPECT_DOUBLE_EQ(s.data_rate, kRate);
  EXPECT_STREQ(s.Thru, "");
  EXPECT_DOUBLE_EQ(s.signal, 0.4);
  EXPECT_DOUBLE_EQ(s.tx_bandwidth, 0.55);
  EXPECT_DOUBLE_EQ(s.tx_near_bandwidth, 1.0);
  EXPECT_DOUBLE_EQ(s.tx_far_bandwidth, 0.55);
  EXPECT_DOUBLE_EQ(s.rx_bandwidth, 0.75);
  EXPECT_DOUBLE_EQ(s.NEXT_amp, 0.6);
  EXPECT_DOUBLE_EQ(s.target_BER, 1e-12);
  EXPECT_DOUBLE_EQ(s.g0Tx, 0.161);
  EXPECT_DOUBLE_EQ(s.g0Rx, 0.161);
  EXPECT_DOUBLE_EQ(s.pTx, 1.25);
  EXPECT_DOUBLE_EQ(s.implementation_noise_factor, 0.01);
  EXPECT_DOUBLE_EQ(s.implementation_gain_factor, 0.85);
  EXPECT_DOUBLE_EQ(s.N_DFE, 8.0);
  EXPECT_EQ(s.oversample, 4);
  EXPECT_DOUBLE_EQ(s.slicer_allowance, 0.01);
  EXPECT_TRUE(std::isinf(s.a4_limit));
  EXPECT_EQ(DefaultRun::text(run.rs.log), "") << "the defaults are not echoed";
}

TEST(Defaults, SharedStorageAndLaterAssignmentWins) {
  DefaultRun run;
  const Settings& s = run.rs.settings;
  run.set("data_rate=10G");
  run.set("baud_rate=53.125G");
  EXPECT_DOUBLE_EQ(s.data_rate, 53.125e9);
  run.set("baud_rate=53.125G");
  run.set("data_rate=10G");
  EXPECT_DOUBLE_EQ(s.data_rate, 10e9);
  run.set("DFE_length=3");
  EXPECT_DOUBLE_EQ(s.N_DFE, 3);
  run.set("Sparameters=a.s4p");
  EXPECT_STREQ(s.Thru, "a.s4p");
  run.set("oversample=16");
  EXPECT_EQ(s.oversample, 16);
}

TEST(Derived, DefaultHeaderAndLog) {
  DefaultRun run;
  deriveSettings(run.rs);
  EXPECT_EQ(DefaultRun::text(run.rs.result),
            "channel:  thru.s4p\n"
            "ports      1 3 => 2 4\n"
            "data rate      =   25.781 Gb\n"
            "peak Signal    =  400     mV\n"
            "targetBER      =    1.00e-12\n"
            "target Q       =   -7.034\n"
            "Tx t bandwidth =   1.418e+10\n"
            "Rx t bandwidth =   1.934e+10\n");
  EXPECT_EQ(DefaultRun::text(run.rs.log),
            "1/Tx_BW=  7.052342e-11\n"
            "1/Rx_BW=  5.171717e-11\n"
            "UI   =  3.878788e-11\n");
  const Derived& d = run.rs.derived;
  EXPECT_DOUBLE_EQ(d.txTau, 1 / (0.55 * kRate));
  EXPECT_DOUBLE_EQ(d.rxTau, 1 / (0.75 * kRate));
  EXPECT_DOUBLE_EQ(d.farTau, 1 / (0.55 * kRate));
  EXPECT_DOUBLE_EQ(d.nearTau, 1 / kRate);
  EXPECT_DOUBLE_EQ(d.UI, 1 / kRate);
  EXPECT_DOUBLE_EQ(d.pamStep, 1);
  EXPECT_DOUBLE_EQ(d.pamPower, 1);
  EXPECT_DOUBLE_EQ(run.rs.settings.pTx, 1.25 * kRate);
  EXPECT_DOUBLE_EQ(run.rs.settings.pRx, 1.25 * kRate);
}

TEST(Derived, UnlimitedBandwidthPrintsInfinity) {
  DefaultRun run;
  run.set("tx_bandwidth=0");
  deriveSettings(run.rs);
  EXPECT_NE(DefaultRun::text(run.rs.result).find("Tx t bandwidth =         inf\n"), std::string::npos);
}

struct DeriveCase {
  const char* name;
  std::vector<const char*> assignments;
  double Settings::*field;   // a setting after the derivation, or null
  double expected;
};

void PrintTo(const DeriveCase& c, std::ostream* os) { *os << c.name; }

class Derivation : public ::testing::TestWithParam<DeriveCase> {};

TEST_P(Derivation, ConvertsSettings) {
  const DeriveCase& c = GetParam();
  DefaultRun run;
  for (const char* a : c.assignments) run.set(a);
  deriveSettings(run.rs);
  EXPECT_NEAR(run.rs.settings.*c.field, c.expected, std::fabs(c.expected) * 1e-14) << c.name;
}

const DeriveCase kDerivations[] = {
    {"tx_fraction", {"Tx_resistance_error=0.1"}, &Settings::g0Tx, 0.05},
    {"tx_ohms", {"Tx_resistance_error=5"}, &Settings::g0Tx, 0.05},
    {"tx_ohms_stored_as_fraction", {"Tx_resistance_error=5"}, &Settings::Tx_resistance_error, 0.1},
    {"tx_negative_ohms", {"Tx_resistance_error=-5"}, &Settings::g0Tx, -0.05},
    {"tx_one_is_fraction", {"Tx_resistance_error=1"}, &Settings::g0Tx, 0.5},
    {"tx_zero_keeps_g0", {"Tx_resistance_error=0", "g0Tx=0.2"}, &Settings::g0Tx, 0.2},
    {"rx_negative_ohms", {"Rx_resistance_error=-5"}, &Settings::g0Rx, -0.05},
    {"rx_untouched_by_tx", {"Tx_resistance_error=5"}, &Settings::g0Rx, 0.161},
    {"ptx_fraction", {"pTx=1.25"}, &Settings::pTx, 32226562500.0},
    {"ptx_ten_is_hertz", {"pTx=10"}, &Settings::pTx, 10},
    {"ptx_tenth_is_hertz", {"pTx=0.1"}, &Settings::pTx, 0.1},
    {"ptx_absolute", {"pTx=20e9"}, &Settings::pTx, 20e9},
    {"prx_fraction_other_rate", {"pRx=0.5", "data_rate=10G"}, &Settings::pRx, 5e9},
};

INSTANTIATE_TEST_SUITE_P(Entry, Derivation, ::testing::ValuesIn(kDerivations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Derived, Pam4LevelFactors) {
  DefaultRun run;
  run.set("PAM=4");
  deriveSettings(run.rs);
  EXPECT_DOUBLE_EQ(run.rs.derived.pamStep, 1.0 / 3);
  EXPECT_DOUBLE_EQ(run.rs.derived.pamPower, 5.0 / 9);
}

}  // namespace
