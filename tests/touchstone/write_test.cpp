// The writer: pair formats, setters, the exact record layouts, and write-then-read
// round trips for every port count up to 21.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>

#include "TouchstoneCore.h"
#include "test_support.h"

namespace {

using cplx = std::complex<double>;

TEST(WriteFormats, NamesAnglesAndDecibels) {
  EXPECT_STREQ(Format(RI), "RI");
  EXPECT_STREQ(Format(MA), "MA");
  EXPECT_STREQ(Format(DB), "DB");
  EXPECT_STREQ(Format(MR), "MR");
  EXPECT_STREQ(Format(static_cast<format>(7)), "MR");
  EXPECT_DOUBLE_EQ(Phase({-1, 0}), 180.0);
  EXPECT_DOUBLE_EQ(Phase({-1, -0.0}), 180.0);
  EXPECT_DOUBLE_EQ(Phase({0, -1}), -90.0);
  EXPECT_DOUBLE_EQ(Phase({1, 1}), 45.0);
  EXPECT_DOUBLE_EQ(dB(0.1), -20.0);
  EXPECT_DOUBLE_EQ(dB(cplx(0, -10)), 20.0);
  const cplx db = Param(DB, cplx(-20, 90));
  EXPECT_NEAR(db.real(), 0.0, 1e-15);
  EXPECT_NEAR(db.imag(), 0.1, 1e-15);
  const cplx ma = Param(MA, cplx(2, -90));
  EXPECT_NEAR(ma.real(), 0.0, 1e-15);
  EXPECT_NEAR(ma.imag(), -2.0, 1e-15);
  const cplx mr = Param(MR, 2, std::acos(-1.0));
  EXPECT_NEAR(mr.real(), -2.0, 1e-15);
  EXPECT_EQ(Param(RI, 3, 4), cplx(3, 4));
  EXPECT_EQ(Param(static_cast<format>(9), 3, 4), cplx(0, 0));
}

TEST(WriteSetters, OutOfRangeIndexesReturnOneAndStoreNothing) {
  Sparams s(2, 3, "s");
  EXPECT_EQ(s.set(3, 1, 1, RI, 1, 2), 1);  // k = nFreq
  EXPECT_EQ(s.set(0, 0, 1, RI, 1, 2), 1);
  EXPECT_EQ(s.set(0, 1, 3, cplx(1, 2)), 1);
  EXPECT_EQ(s.set(-1, 1, 1, cplx(1, 2)), 1);
  EXPECT_EQ(s.setFreq(3, 1e9), 1);
  EXPECT_EQ(s.setFreq(-1, 1e9), 1);
  EXPECT_EQ(s.set(2, 2, 1, MA, 2, 90), 0);
  EXPECT_NEAR(s.Value(2, 2, 1).imag(), 2.0, 1e-15);
  EXPECT_EQ(s.set(1, 1, 2, cplx(5, 6)), 0);
  EXPECT_EQ(s.Value(1, 1, 2), cplx(5, 6));
  EXPECT_EQ(s.setFreq(2, 7e9), 0);
  EXPECT_EQ(s.Freq(2), 7e9);
  for (int k = 0; k < 3; ++k)
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) {
        if ((k == 2 && i == 2 && j == 1) || (k == 1 && i == 1 && j == 2)) continue;
        EXPECT_EQ(s.Value(k, i, j), cplx(0, 0)) << k << " " << i << "," << j;
      }
}

TEST(WriteSetters, CommentsGetBangAndLineFeed) {
  Sparams s(1, 1, "c");
  s.setComment("plain");
  s.setComment("!already\n");
  s.setComment("");
  s.setComment("!no line feed");
  s.setComment("line feed only\n");
  std::vector<std::string> got;
  for (const auto& c : s.Comments()) got.push_back(*c);
  const std::vector<std::string> want = {"!plain\n", "!already\n", "!\n", "!no line feed\n",
                                         "!line feed only\n"};
  EXPECT_EQ(got, want);
}

// A set with entry (r, c) = 10 r + c at every frequency, printed in RI with "%g,%g ".
std::string printed(int ports, const std::vector<double>& hz, format f = RI) {
  Sparams s(ports, static_cast<int>(hz.size()), "layout");
  for (int k = 0; k < static_cast<int>(hz.size()); ++k) {
    s.setFreq(k, hz[static_cast<std::size_t>(k)]);
    for (int r = 1; r <= ports; ++r)
      for (int c = 1; c <= ports; ++c) s.set(k, r, c, cplx(10 * r + c, 0));
  }
  ScratchDir dir;
  const std::string path = dir.file("out.snp");
  EXPECT_EQ(s.print(path.c_str(), "hdr", f, "%g,%g ", stderr), 0);
  return slurp(path);
}

struct LayoutCase {
  const char* name;
  int ports;
  std::vector<double> hz;
  std::string records;  // what follows the option line and its two "!" lines
};

const std::string kBlank9 = "         ";  // W + 2 blanks for W = 7

std::vector<LayoutCase> layoutCases() {
  return {
      {"one_port", 1, {1e9}, "1000.00  11,0 \n" + kBlank9 + "\n"},
      {"two_port_one_line", 2, {1e9}, "1000.00  11,0 12,0 21,0 22,0 \n"},
      {"three_port", 3, {1e9},
       "1000.00  11,0 12,0 13,0 \n" + kBlank9 + "21,0 22,0 23,0 \n" + kBlank9 +
           "31,0 32,0 33,0 \n" + kBlank9 + "\n"},
      {"four_port_ends_with_empty_line", 4, {1e9},
       "1000.00  11,0 12,0 13,0 14,0 \n" + kBlank9 + "21,0 22,0 23,0 24,0 \n" + kBlank9 +
           "31,0 32,0 33,0 34,0 \n" + kBlank9 + "41,0 42,0 43,0 44,0 \n\n"},
      {"five_port_four_pairs_per_line", 5, {1e9},
       "1000.00  11,0 12,0 13,0 14,0 \n" + kBlank9 + "15,0 \n" + kBlank9 +
           "21,0 22,0 23,0 24,0 \n" + kBlank9 + "25,0 \n" + kBlank9 + "31,0 32,0 33,0 34,0 \n" +
           kBlank9 + "35,0 \n" + kBlank9 + "41,0 42,0 43,0 44,0 \n" + kBlank9 + "45,0 \n" +
           kBlank9 + "51,0 52,0 53,0 54,0 \n" + kBlank9 + "55,0 \n" + kBlank9 + "\n"},
      // Fmax 20 MHz gives D = 1; the step 0.5 MHz gives e = -1: width 6, 3 decimals.
      {"field_from_fmax_and_step", 1, {10e6, 10.5e6, 20e6},
       "10.000  11,0 \n        \n10.500  11,0 \n        \n20.000  11,0 \n        \n"},
  };
}

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, RecordsExactly) {
  const LayoutCase& t = GetParam();
  EXPECT_EQ(printed(t.ports, t.hz), "!hdr\n# MHz S RI  R  50\n!\n!\n" + t.records);
}

INSTANTIATE_TEST_SUITE_P(Cases, Layout, ::testing::ValuesIn(layoutCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WriteFile, TwoPortDecibelsAtOneToThreeGHz) {
  Sparams s(2, 3, "db");
  for (int k = 0; k < 3; ++k) {
    s.setFreq(k, (k + 1) * 1e9);
    s.set(k, 1, 1, 0.1);
    s.set(k, 1, 2, cplx(0, 1));
    s.set(k, 2, 1, -1.0);
    s.set(k, 2, 2, cplx(0, -0.01));
  }
  s.setComment("made by the writer test");
  ScratchDir dir;
  const std::string path = dir.file("db.s2p");
  ASSERT_EQ(s.print(path.c_str(), "!two-port", DB, "%.3f %.2f ", stderr), 0);
  const std::string pairs = "-20.000 0.00 0.000 90.00 0.000 180.00 -40.000 -90.00 \n";
  EXPECT_EQ(slurp(path), "!two-port\n!made by the writer test\n# MHz S DB  R  50\n!\n!\n"
                         "1000.00  " + pairs + "2000.00  " + pairs + "3000.00  " + pairs);
}

TEST(WriteFile, UnopenableFileIsReportedOnTheLog) {
  Sparams s(1, 1, "x");
  CapturedLog log;
  EXPECT_EQ(s.print("/nonexistent-folder/x.s1p", "h", RI, "%g %g ", log.get()), 1);
  EXPECT_EQ(log.text(), "cannot open /nonexistent-folder/x.s1p\n");
}

TEST(WriteFile, OtherFormatsNameMAAndWriteNoValues) {
  EXPECT_EQ(printed(1, {1e9}, MR), "!hdr\n# MHz S MA  R  50\n!\n!\n1000.00  \n" + kBlank9 + "\n");
}

// Write with print, read back with the reader: every entry returns within the
// precision of the value format, at its own place, for 1 to 21 ports.
TEST(WriteRoundTrip, EveryPortCountAndFormat) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> magnitude(0.001, 1.5), angle(-3.14, 3.14);
  ScratchDir dir;
  for (format f : {RI, MA, DB}) {
    for (int ports = 1; ports <= 21; ++ports) {
      Sparams s(ports, 3, "rt");
      const double ghz[] = {1, 2.5, 7};
      for (int k = 0; k < 3; ++k) {
        s.setFreq(k, ghz[k] * 1e9);
        for (int i = 1; i <= ports; ++i)
          for (int j = 1; j <= ports; ++j) s.set(k, i, j, std::polar(magnitude(rng), angle(rng)));
      }
      const std::string path = dir.file("rt_" + std::to_string(ports) + Format(f) + ".snp");
      ASSERT_EQ(s.print(path.c_str(), "round trip", f, "%.15e %.15e ", stderr), 0);
      const ReadResult back = parseTouchstone(slurp(path), path);
      ASSERT_EQ(back.set.Size(), ports) << Format(f);
      ASSERT_EQ(back.set.Fcount(), 3) << Format(f);
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(back.set.Freq(k), s.Freq(k));
        for (int i = 1; i <= ports; ++i)
          for (int j = 1; j <= ports; ++j)
            EXPECT_LT(std::abs(back.set.Value(k, i, j) - s.Value(k, i, j)), 1e-12)
                << Format(f) << " ports " << ports << " k " << k << " (" << i << "," << j << ")";
      }
    }
  }
}

TEST(WriteRoundTrip, CoarseValueFormatKeepsItsPrecision) {
  Sparams s(2, 2, "coarse");
  s.setFreq(0, 1e9);
  s.setFreq(1, 2e9);
  s.set(0, 1, 2, cplx(0.123456789, -0.987654321));
  s.set(1, 2, 1, cplx(-0.5, 0.25));
  ScratchDir dir;
  const std::string path = dir.file("coarse.s2p");
  ASSERT_EQ(s.print(path.c_str(), "coarse", RI, "%9.4f %9.4f ", stderr), 0);
  const ReadResult back = parseTouchstone(slurp(path), path);
  EXPECT_EQ(back.set.Value(0, 1, 2), cplx(0.1235, -0.9877));
  EXPECT_EQ(back.set.Value(1, 2, 1), cplx(-0.5, 0.25));
}

}  // namespace
