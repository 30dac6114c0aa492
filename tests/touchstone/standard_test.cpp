// The standard reader against the verdicts of the real example files, against networks
// worked out by hand, and against files that each break one rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "GlobalNames.h"
#include "support.h"

namespace {

const std::string kExamples = std::string(BREVO_CHANNELS_DIR) + "/ts2";

std::string verdict(const TouchstoneFile& f) {
  return f.ok ? "ok" : "error: line " + std::to_string(f.error.line) + ": " + f.error.rule;
}

// Every file of the example set: the first broken rule, by the letter and leniently,
// and what an accepted file holds, as the set's manifest gives them.
TEST(StandardReader, VerdictsAndContentsOfTheExampleFiles) {
  std::ifstream manifest(kExamples + "/ts2.tsv");
  if (!manifest) GTEST_SKIP() << "no example files at " << kExamples;
  std::string line;
  std::getline(manifest, line);
  int rows = 0;
  while (std::getline(manifest, line)) {
    std::vector<std::string> c;
    std::stringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) c.push_back(x);
    ASSERT_GE(c.size(), 14u) << line;
    const std::string path = kExamples + "/" + c[0];
    for (const bool lenient : {false, true}) {
      const TouchstoneFile f = readTouchstone(path, {50.0, lenient});
      EXPECT_EQ(verdict(f), c[lenient ? 13 : 12]) << c[0] << (lenient ? " (lenient)" : "");
      EXPECT_EQ(f.ok, f.set.Size() > 0) << c[0];
      if (!f.ok || !lenient) continue;
      const TouchstoneInfo& i = f.info;
      EXPECT_EQ(std::to_string(i.ports) + " " + std::to_string(i.points) + " " + i.parameter + " " +
                    Format(i.dataFormat) + " " + i.unit + " " + i.matrixFormat,
                c[2] + " " + c[3] + " " + c[4] + " " + c[5] + " " + c[6] + " " + c[7])
          << c[0];
      EXPECT_EQ(i.version, c[1]) << c[0];
      EXPECT_EQ(f.set.Fcount(), i.points);
      EXPECT_EQ(!i.mixedModeOrder.empty(), c[10] == "yes") << c[0];
      EXPECT_EQ(!i.noise.empty(), c[11] == "yes") << c[0];
    }
    ++rows;
  }
  EXPECT_EQ(rows, 81);
}

double largestDifference(const Sparams& a, const Sparams& b) {
  if (a.Size() != b.Size() || a.Fcount() != b.Fcount() || a.Size() == 0) return INFINITY;
  double d = 0;
  for (int k = 0; k < a.Fcount(); ++k) {
    d = std::max(d, std::abs(a.Freq(k) - b.Freq(k)) / std::max(1.0, a.Freq(k)));
    for (int i = 1; i <= a.Size(); ++i)
      for (int j = 1; j <= a.Size(); ++j)
        d = std::max(d, std::abs(a.Value(k, i, j) - b.Value(k, i, j)));
  }
  return d;
}

// Files that hold one network in other parameters, formats, matrix forms, units,
// references or versions: the same 50-ohm S to their print precision.
TEST(StandardReader, OneNetworkWrittenInManyWays) {
  if (!std::filesystem::exists(kExamples)) GTEST_SKIP() << "no example files at " << kExamples;
  const struct {
    const char *a, *b;
    double within;
  } cases[] = {
      {"cst/S_V2_RI.ts", "cst/S_V1_RI.s2p", 9e-7},  // references 48.2 / 523.5 ohm renormalised
      {"cst/S_V2_DB.ts", "cst/S_V1_RI.s2p", 9e-7},
      {"cst/Y_V2_MA.ts", "cst/Z_V2_RI.ts", 1e-5},
      {"skrf/ex_9.s1p", "skrf/ex_10.ts", 1e-15},  // 1.0 normalised Z against 2.0 ohms
      {"ts21spec/Example10.s1p", "ts21spec/Example11.ts", 1e-15},
      {"ts21spec/Example12.h2p", "ts21spec/Example13.ts", 1e-15},
      {"skrf/ex_12.ts", "skrf/ex_12_g.ts", 1e-4},  // H against G
      {"xyce/ylin-2port-sparam.cir.s2p", "xyce/ylin-2port-yparam-db.cir.y2p", 1e-12},
      {"xyce/ylin-2port-sparam.cir.s2p", "xyce/ylin-2port-yparam-matrixFormatLower.cir.y2p", 1e-12},
      {"xyce/ylin-2port-sparam.cir.s2p", "xyce/ylin-2port-yparam-freqMultGHz.cir.y2p", 1e-12},
      {"xyce/ylin-2port-sparam.cir.s2p", "xyce/ylin-2port-diffZ0-sparam.cir.s2p", 1e-12},
      {"xyce/yparams-ts2.cir.ma.s2p", "xyce/zparams-ts2.cir.s2p", 1e-8},
  };
  for (const auto& c : cases) {
    const TouchstoneFile a = readTouchstone(kExamples + "/" + c.a),
                         b = readTouchstone(kExamples + "/" + c.b);
    EXPECT_LE(largestDifference(a.set, b.set), c.within) << c.a << " against " << c.b;
  }
  // The mixed-mode Y example: single-ended ports 1 and 4 repeat their mixed-mode
  // entries (S1 and S4 stand alone), seen through Y at 50 ohm.
  const TouchstoneFile mm = readTouchstone(kExamples + "/ts21spec/Example17.ts");
  ASSERT_TRUE(mm.ok) << mm.message();
  const cmatrix Y = S2Y(mm.set.Value(0), 50);
  EXPECT_LT(std::abs(Y.value(0, 0) - cplx(5.5, -7)), 1e-12);
  EXPECT_LT(std::abs(Y.value(3, 3) - cplx(4.7, -6)), 1e-12);
  // Noise resistance: normalised in 1.x, ohms in 2.x; the two files agree.
  const TouchstoneFile n1 = readTouchstone(kExamples + "/ts21spec/Example19.s2p");
  const TouchstoneFile n2 = readTouchstone(kExamples + "/ts21spec/Example18.ts");
  ASSERT_EQ(n1.info.noise.size(), 2u);
  ASSERT_EQ(n2.info.noise.size(), 2u);
  EXPECT_DOUBLE_EQ(n1.info.noise[0].noiseResistance, 19);
  EXPECT_DOUBLE_EQ(n2.info.noise[1].noiseResistance, 20);
  EXPECT_DOUBLE_EQ(n1.info.noise[1].hertz, 18e9);
}

// Every Version 1.x channel file of the shared collection that the long-standing reader
// takes in as it is (S-parameters at 50 ohm, nothing after the numbers, no noise block):
// both readers give the same numbers at the same stored places.
TEST(StandardReader, AgreesWithTheLongStandingReaderOnVersion1Files) {
  const std::filesystem::path root = BREVO_CHANNELS_DIR;
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no channel files at " << root;
  int compared = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = e.path().string();
    if (!e.is_regular_file()) continue;
    const TouchstoneReading legacy = readTouchstoneFile(path).value;
    const Sparams& old = legacy.set;
    if (legacy.version != 1 || !legacy.warnings.empty() || old.firstPointOutOfOrder(true) ||
        old.Size() == 0)
      continue;
    const TouchstoneFile f = readTouchstone(path);
    ASSERT_TRUE(f.ok) << f.message();
    ASSERT_EQ(f.set.Size(), old.Size()) << path;
    ASSERT_EQ(f.set.Fcount(), old.Fcount()) << path;
    const int n = old.Size();
    double worst = 0;
    for (int k = 0; k < old.Fcount(); ++k) {
      EXPECT_NEAR(f.set.Freq(k), old.Freq(k), 1e-15 * old.Freq(k)) << path;
      for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j)
          worst = std::max(worst, std::abs(f.set.Value(k, i, j) - old.Value(k, i, j)));
    }
    EXPECT_EQ(worst, 0) << path;
    ++compared;
  }
  EXPECT_GE(compared, 40);
}

struct Entry {
  int k, i, j;
  cplx value;
};

// Small files whose entries were worked out by hand: a 100-ohm shunt resistor joining
// both ports (S11 = S22 = -0.2, S21 = S12 = 0.8 at 50 ohm), a 100-ohm series resistor
// (all four entries 0.5), mixed-mode pairs, triangles, orders and the lexical rules.
TEST(StandardReader, NetworksWorkedOutByHand) {
  const std::vector<Entry> shunt = {
      {0, 1, 1, -0.2}, {0, 2, 2, -0.2}, {0, 2, 1, 0.8}, {0, 1, 2, 0.8}};
  const std::vector<Entry> series = {
      {0, 1, 1, 0.5}, {0, 2, 2, 0.5}, {0, 2, 1, 0.5}, {0, 1, 2, 0.5}};
  const std::string v2 = "[Version] 2.0\n";
  const std::string twoPort =
      "[Number of Ports] 2\n[Two-Port Data Order] 12_21\n[Number of Frequencies] 1\n";
  const struct {
    const char* what;
    std::string name, text;
    std::vector<Entry> expect;
    const char* conversions;
  } cases[] = {
      {"2.x Z in ohms", "a.ts",
       v2 + "# GHz Z RI R 1\n" + twoPort + "[Network Data]\n1 100 0 100 0 100 0 100 0\n[End]\n",
       shunt, "Z data converted to S"},
      {"2.x S at 50/100 ohm", "a.ts",
       v2 + "# GHz S RI\n" + twoPort +
           "[Reference]\n 50 ! port 1\n 100\n[Network Data]\n"
           "1 0 0 0.7071067811865476 0 0.7071067811865476 0 -0.5 0\n[End]\n",
       shunt, "references 50 100 ohm renormalised to 50 ohm"},
      {"1.1 per-port R", "a.s2p",
       "# GHz S RI R 50 100\n1 0 0 0.7071067811865476 0 0.7071067811865476 0 -0.5 0\n", shunt,
       "references 50 100 ohm renormalised to 50 ohm"},
      {"1.0 normalised Z", "a.s2p", "# GHz Z RI R 100\n1 1 0 1 0 1 0 1 0\n", shunt,
       "normalised Z data converted to S; references 100 ohm renormalised to 50 ohm"},
      {"1.0 normalised Y", "a.y2p", "# Y RI R 50\n1 .5 0 -.5 0 -.5 0 .5 0\n", series,
       "normalised Y data converted to S"},
      {"2.x H, 21_12", "a.ts",
       v2 + "# H RI\n[Number of Ports] 2\n[Two-Port Data Order] 21_12\n[Number of Frequencies] 1\n"
            "[Network Data]\n1 100 0 -1 0 1 0 0 0\n[End]\n",
       series, "H data converted to S"},
      {"2.x G", "a.ts", v2 + "# G RI\n" + twoPort + "[Network Data]\n1 0 0 -1 0 1 0 100 0\n[End]\n",
       series, "G data converted to S"},
      {"through pair, D1,2 C1,2",
       "a.ts",
       v2 + "# S RI\n" + twoPort +
           "[Mixed-Mode Order] D1,2 C1,2\n[Network Data]\n"
           "1 -1 0 0 0 0 0 1 0\n[End]\n",
       {{0, 1, 1, 0}, {0, 2, 1, 1}, {0, 1, 2, 1}, {0, 2, 2, 0}},
       "mixed-mode data converted to single-ended ports"},
      {"reflection on port 1, D2,1 C2,1",
       "a.ts",
       v2 + "# S RI\n" + twoPort +
           "[Mixed-Mode Order]\nD2,1\nC2,1\n[Network Data]\n"
           "1 .25 0 -.25 0 -.25 0 .25 0\n[End]\n",
       {{0, 1, 1, 0.5}, {0, 2, 1, 0}, {0, 2, 2, 0}},
       "mixed-mode data converted to single-ended ports"},
      {"Lower 3-port",
       "a.ts",
       v2 + "# S RI\n[Number of Ports] 3\n[Number of Frequencies] 1\n[Matrix Format] lower\n"
            "[Network Data]\n1 11 0\n 21 0 22 0\n 31 0 32 0 33 0\n[End]\n",
       {{0, 1, 2, 21}, {0, 2, 1, 21}, {0, 2, 3, 32}, {0, 3, 3, 33}},
       ""},
      {"Upper 3-port",
       "a.ts",
       v2 + "# S RI\n[Number of Ports] 3\n[Number of Frequencies] 1\n[Matrix Format] Upper\n"
            "[Network Data]\n1 11 0 12 0 13 0\n 22 0 23 0\n 33 0\n[End]\n",
       {{0, 3, 1, 13}, {0, 1, 3, 13}, {0, 3, 2, 23}},
       ""},
      {"1.x 2-port order",
       "a.s2p",
       "# S RI\n1 11 0 21 0 12 0 22 0\n",
       {{0, 2, 1, 21}, {0, 1, 2, 12}},
       ""},
      {"1.x 3-port named .ts",
       "a.ts",
       "# S RI\n1 11 0 12 0 13 0\n 21 0 22 0 23 0\n 31 0 32 0 33 0\n",
       {{0, 1, 3, 13}, {0, 3, 1, 31}},
       ""},
      {"DB and MA pairs, GHz, no line feed at the end",
       "a.s1p",
       "# GHz S DB\n2 -6.020599913279624 90",
       {{0, 1, 1, cplx(0, 0.5)}},
       ""},
      {"lexical: BOM, CR LF, lone CR, tabs, case, comments, a later option line, 1E-1, .5",
       "a.ts",
       "\xEF\xBB\xBF! degree \xC2\xB0 sign\r\n[version] 2.1\r# mhz s ri r 50 ! the option line\r\n"
       "[number of ports]\t1 ! one\n[Number of Frequencies] 2\n[Begin Information]\nkept\n[End "
       "Information]\n"
       "# GHz S MA\n[Network Data] ! data\n\n 1\t.5 1E-1 ! first\n2\n -.5\n +0\n[End] ! done\n",
       {{0, 1, 1, cplx(0.5, 0.1)}, {1, 1, 1, -0.5}},
       ""},
  };
  for (const auto& c : cases) {
    const TouchstoneFile f = parseTouchstoneStandard(c.text, c.name, {50.0, false});
    ASSERT_TRUE(f.ok) << c.what << ": " << f.message();
    for (const Entry& e : c.expect)
      EXPECT_LT(std::abs(f.set.matrixEntry(e.k, e.i, e.j) - e.value), 1e-12)
          << c.what << ": (" << e.i << "," << e.j << ") at point " << e.k << " is "
          << f.set.matrixEntry(e.k, e.i, e.j);
    std::string conversions;
    for (const auto& s : f.info.conversions) conversions += (conversions.empty() ? "" : "; ") + s;
    EXPECT_EQ(conversions, c.conversions) << c.what;
  }
  const TouchstoneFile lexical = parseTouchstoneStandard(cases[14].text, "a.ts");
  EXPECT_DOUBLE_EQ(lexical.set.Freq(1), 2e6);
  EXPECT_EQ(lexical.info.information, std::vector<std::string>{"kept"});
  // A 1.x 2-port file's noise block, Rn normalised to R.
  const TouchstoneFile noise = parseTouchstoneStandard(
      "# GHz S MA R 25\n1 0 0 1 0 1 0 0 0\n2 0 0 1 0 1 0 0 0\n"
      "2 1.5 .5 30 .8\n3 1.6 .4 40 .9\n",
      "n.s2p");
  ASSERT_TRUE(noise.ok) << noise.message();
  ASSERT_EQ(noise.info.noise.size(), 2u);
  EXPECT_DOUBLE_EQ(noise.info.noise[1].noiseResistance, 0.9 * 25);
  EXPECT_EQ(noise.set.Fcount(), 2);
}

// Files that each break one rule: the line and the rule, and never a set.
TEST(StandardReader, EachBrokenRuleNamedWithItsLine) {
  const std::string head =
      "[Version] 2.0\n# GHz S RI\n[Number of Ports] 1\n[Number of Frequencies] 1\n";
  const std::string two =
      "[Version] 2.0\n# GHz S RI\n[Number of Ports] 2\n[Two-Port Data Order] 12_21\n"
      "[Number of Frequencies] 1\n";
  const std::string rec2 = "1 0 0 0 0 0 0 0 0\n";
  const struct {
    std::string name, text, expect;
  } cases[] = {
      {"a.s1p", "# GHz MHz\n1 0 0\n", "1: the option line gives the frequency unit twice"},
      {"a.s1p", "# THz S\n1 0 0\n", "1: unknown item 'THz' on the option line"},
      {"a.s1p", "# R 0\n1 0 0\n", "1: R on the option line must be positive, not 0"},
      {"a.s1p", "# S R (10+10j)\n1 0 0\n", "1: R on the option line needs a positive resistance"},
      {"a.s2p", "# S RI R 50 50 50\n" + rec2,
       "1: the option line gives 3 R values for a 2-port file"},
      {"a.s2p", "# S RI R 50 50 GHz\n" + rec2, "1: per-port R values must end the option line"},
      {"a.s1p", "# S RI\n1 0 0\n[Number of Ports] 1\n",
       "3: keywords are not allowed in a Version 1.x file (it begins with an option line)"},
      {"a.s1p", "# S RI\n1 0 0\n0.5 0 0\n", "3: frequencies must increase: 0.5 follows 1"},
      {"a.s1p", "# S RI\n1 0\n", "2: the data end inside a record: 2 of 3 numbers"},
      {"a.s2p", "# S RI\n" + rec2 + "2 0 0 0 0 0 0\n3 0 0 0 0 0 0 0 0\n",
       "3: the line holds 7 numbers where 9 were expected, which puts the records after it out of "
       "step (line 4: a "
       "noise line must begin a line)"},
      {"a.s4p",
       "# S RI\n1 1 0 0 0 0 0 0 0\n0 0 1 0 0 0 0 0\n0 0 0 0 1 0 0 0\n0 0 0 0 0 0 1 0\n"
       "2 1 0 0 0 0 0 0 0\n0 0 1 0 0 0\n0 0 0 0 1 0 0 0\n0 0 0 0 0 0 1 0\n3 1 0 0 0 0 0 0 0\n",
       "7: the line holds 6 numbers where 8 were expected, which puts the records after it out of "
       "step (line 10: "
       "frequencies must increase: 0 follows 2)"},
      {"a.s1p", "# S RI\n1 0 0 2 0 0\n", "2: a frequency must begin a line"},
      {"a.s1p", "# S RI\n1 0 0\n2 0 0 3 0 0\n1 0 0\n",
       "3: the line holds 6 numbers where 3 were expected, which puts the records after it out of "
       "step (line 4: frequencies must increase: 1 follows 3)"},
      {"a.s1p", "# S RI\n! no data\n", "1: no network data after the option line"},
      {"a.s64p", "# S RI\n1 0 0\n", "2: the rest of the file cannot hold a record of 8193 numbers"},
      {"a.s1p", "# S RI\n1 0 0\n1e307 0 0\n",
       "3: the frequency 1e+307 GHz is beyond the range of a double in hertz"},
      {"a.s2p", "# S RI\n" + rec2 + "0.5 1 1 1\n", "3: a noise line holds 5 numbers, not 4"},
      {"a.s2p", "# S RI\n" + rec2 + "0.5 1 1 1 1\n0.4 1 1 1 1\n",
       "4: noise frequencies must increase: 0.4 follows 0.5"},
      {"a.ts", "# S RI\n1\n",
       "1: cannot tell the number of ports: the name has no .sNp and the first record holds 0 "
       "values, not 2 N^2"},
      {"a.ts", "[Version] 2.0~\n# S RI\n", "1: [Version] takes one argument, 2.0 or 2.1"},
      {"a.s1p", "# S RI\n1 0x10 0\n", "2: '0x10' is not a number"},
      {"a.s1p", "# S RI\n1 nan 0\n", "2: 'nan' is not a number"},
      {"a.s1p", "# S RI\n1 1d-3 0\n", "2: '1d-3' is not a number"},
      {"a.s1p", "# S RI\n1 1.2.3 0\n", "2: '1.2.3' is not a number"},
      {"a.s1p", "# S RI\n1 1e999 0\n", "2: '1e999' is not a number"},
      {"a.s1p", "# S RI\n1 0~1 0\n", "2: '0~1' is not a number"},
      {"a.s1p", "# S RI\n1 0\f 0\n", "2: control character 0x0C is not allowed"},
      {"a.s1p", "# S RI\n1 0 \xC2\xB0\n", "2: byte 0xC2 is allowed only in a comment"},
      {"a.s3p", "# H RI\n1 0 0 0 0 0 0\n 0 0 0 0 0 0\n 0 0 0 0 0 0\n",
       "1: H-parameters exist only for 2-port networks, not 3 ports"},
      {"a.ts", head + "[Number of Frequencies] 1\n",
       "5: [Number of Frequencies] may appear only once"},
      {"a.ts", "[Version] 2.0\n# S\n[Number  of Ports] 1\n",
       "3: unknown keyword [Number  of Ports]"},
      {"a.ts", "[Version] 2.0\n# S\n[ Number of Ports] 1\n",
       "3: unknown keyword [ Number of Ports]"},
      {"a.ts", "[Version] 2.0\n# S\n[Number of Ports]1\n",
       "3: [Number of Ports] needs a blank before its arguments"},
      {"a.ts", head + "[Network Data]\n1 0 0\n[End]\n1\n", "8: only comments may follow [End]"},
      {"a.ts", head + "[Network Data]\n1 0 0\n[Reference] 50\n[End]\n",
       "7: [Reference] is not allowed after [Network Data]"},
      {"a.ts", head + "[Matrix Format] Diagonal\n",
       "5: [Matrix Format] takes Full, Lower or Upper"},
      {"a.ts", head + "[Reference] 50 50\n", "5: [Reference] holds more than 1 values"},
      {"a.ts", head + "[Reference]\n[Network Data]\n", "6: [Reference] needs 1 values, found 0"},
      {"a.ts", head + "[Reference] -50\n", "5: [Reference] values must be positive, not -50"},
      {"a.ts", head + "[Begin Information]\n[Network Data]\n",
       "6: [Begin Information] without [End Information]"},
      {"a.ts", head + "[Number of Noise Frequencies] 1\n",
       "5: noise data are allowed only in 2-port files"},
      {"a.ts", head + "[Two-Port Data Order] 12_21\n",
       "5: [Two-Port Data Order] is allowed only in a 2-port file"},
      {"a.ts", two + "[Matrix Format] Lower\n[Network Data]\n" + rec2 + "[End]\n",
       "7: the network data holds 9 numbers; [Number of Frequencies] 1 with 7 numbers per point "
       "needs 7"},
      {"a.ts",
       "[Version] 2.0\n# S RI\n[Number of Ports] 1\n[Number of Frequencies] 2000000000\n[Network "
       "Data]\n1 0 0\n[End]\n",
       "5: the network data holds 3 numbers; [Number of Frequencies] 2000000000 with 3 numbers per "
       "point needs 6000000000"},
      {"a.ts",
       "[Version] 2.0\n# S RI\n[Number of Ports] 1\n[Number of Frequencies] 2\n[Network Data]\n2 0 "
       "0\n1 0 0\n[End]\n",
       "7: frequencies must increase: 1 follows 2"},
      {"a.ts",
       "[Version] 2.0\n# S RI\n[Number of Ports] 1\n[Number of Frequencies] 2\n[Network Data]\n2 0 "
       "0\n1 0 0\n0.5 0 0\n[End]\n",
       "5: the network data holds 9 numbers; [Number of Frequencies] 2 with 3 numbers per point "
       "needs 6"},
      {"a.ts",
       "[Version] 2.0\n# S RI\n[Number of Ports] 1\n[Number of Frequencies] 2\n[Network Data]\n1 0 "
       "0 2 0 0\n[End]\n",
       "6: a frequency must begin a line"},
      {"a.ts",
       "[Version] 2.0\n# H\n[Number of Ports] 2\n[Two-Port Data Order] 12_21\n[Mixed-Mode Order] "
       "D1,2 C1,2\n",
       "5: H-parameters cannot be mixed-mode data (only S, Y or Z)"},
      {"a.ts", two + "[Mixed-Mode Order] D1,1 C1,2\n",
       "6: [Mixed-Mode Order] descriptor 'D1,1' pairs a port with itself"},
      {"a.ts", two + "[Mixed-Mode Order] D1, 2\n",
       "6: [Mixed-Mode Order] descriptor 'D1,' is not S<p>, D<p>,<q> or C<p>,<q>"},
      {"a.ts", two + "[Mixed-Mode Order] D+1,2 C1,2\n",
       "6: [Mixed-Mode Order] descriptor 'D+1,2' is not S<p>, D<p>,<q> or C<p>,<q>"},
      {"a.ts", two + "[Mixed-Mode Order] D1,2 S1\n",
       "6: D1,2 needs exactly one common mode of the same ports in [Mixed-Mode Order]"},
      {"a.ts", two + "[Mixed-Mode Order] S1 S1\n", "6: port 1 appears twice in [Mixed-Mode Order]"},
      {"a.ts", two + "[Mixed-Mode Order] S1 S3\n",
       "6: [Mixed-Mode Order] descriptor 'S3' names a port outside 1..2"},
      {"a.ts", two + "[Mixed-Mode Order] D1,2 C2,1\n[Reference] 50 75\n[Network Data]\n" + rec2,
       "8: ports 1 and 2 of a mixed-mode pair need equal references"},
      {"a.ts",
       two + "[Number of Noise Frequencies] 1\n[Network Data]\n" + rec2 +
           "[Noise Data]\n1 1 1 1\n[End]\n",
       "10: a noise line holds 5 numbers, not 4"},
      {"a.ts",
       two + "[Number of Noise Frequencies] 1\n[Network Data]\n" + rec2 +
           "[Noise Data]\n2 1 1 1 1\n[End]\n",
       "10: the first noise frequency 2 is above the last network frequency"},
      {"a.ts", head + "[Network Data]\n1 0 0\n[Noise Data]\n",
       "7: [Noise Data] needs [Number of Noise Frequencies]"},
      {"a.s1p", "# Y RI R 50\n1 -1 0\n",
       "Y data at 1000000000 Hz have no S-parameters (the matrix is singular)"},
  };
  for (const auto& c : cases) {
    const TouchstoneFile f = parseTouchstoneStandard(c.text, c.name, {50.0, false});
    EXPECT_FALSE(f.ok) << c.text;
    EXPECT_EQ(f.set.Size(), 0) << c.text;
    EXPECT_TRUE(f.message().ends_with(c.expect)) << f.message() << "\n  for\n" << c.text;
  }
}

// The three tolerated deviations: read, and said, in the lenient reading only.
TEST(StandardReader, TheThreeDeviationsAreReadWithANote) {
  const std::string text =
      "[Version] 2.0\n# S RI R 50 100\n[Number of Ports] 2\n[Number of Frequencies] 1\n"
      "[Network Data]\n1 0 0 0.7071067811865476 0 0.7071067811865476 0 -0.5 0\n";
  const TouchstoneFile strict = parseTouchstoneStandard(text, "d.ts", {50.0, false});
  EXPECT_EQ(strict.message(),
            "d.ts:2: a Version 2.x option line takes a single R value (per-port references go in "
            "[Reference])");
  const TouchstoneFile f = parseTouchstoneStandard(text, "d.ts");
  ASSERT_TRUE(f.ok) << f.message();
  ASSERT_EQ(f.info.deviations.size(), 3u);
  EXPECT_EQ(f.message(f.info.deviations[1]),
            "d.ts:5: [Two-Port Data Order] is required in a 2-port Version 2.x file");
  EXPECT_EQ(f.info.deviations[1].taken, "read as 21_12");
  EXPECT_EQ(f.message(f.info.deviations[2]), "d.ts:6: [End] is missing");
  EXPECT_LT(std::abs(f.set.Value(0, 2, 2) - cplx(-0.2)),
            1e-12);  // the option line's references used
  EXPECT_EQ(
      f.summary(),
      "d.ts: Touchstone 2.0, 2 ports, 1 frequency; references 50 100 ohm renormalised to 50 ohm");
}

}  // namespace
