// The writer (pair formats, setters, exact record layouts, write-then-read round trips) and
// the phase and impulse helpers, against values worked out by hand.
#include <random>

#include "support.h"

namespace {

// Angles in degrees, decibels of a magnitude, and the value of each pair format.
TEST(WriteFormats, AnglesDecibelsAndPairs) {
  EXPECT_EQ(std::vector({Phase({-1, -0.0}), Phase({0, -1}), Phase({1, 1}), dB(0.1), dB(cplx(0, -10))}),
            std::vector({180.0, -90.0, 45.0, -20.0, 20.0}));
  EXPECT_LT(std::abs(Param(DB, cplx(-20, 90)) - cplx(0, 0.1)) + std::abs(Param(MA, cplx(2, -90)) - cplx(0, -2)) +
                std::abs(Param(MR, 2, pi) - cplx(-2, 0)), 1e-15);
  EXPECT_EQ(Param(RI, 3, 4), cplx(3, 4));
  EXPECT_EQ(Param(static_cast<format>(9), 3, 4), cplx(0, 0));
}

TEST(WriteSetters, OutOfRangeReturnsOneAndStoresNothing) {
  Sparams s(2, 3, "s");
  EXPECT_EQ(s.set(3, 1, 1, RI, 1, 2) + s.set(0, 0, 1, RI, 1, 2) + s.set(0, 1, 3, cplx(1, 2)) + s.set(-1, 1, 1, cplx(1, 2)) +
                s.set(0, 3, 1, cplx(1, 2)) + s.set(0, 1, 0, cplx(1, 2)) + s.setFreq(3, 1e9) + s.setFreq(-1, 1e9), 8);
  EXPECT_EQ(s.set(2, 2, 1, MA, 2, 90) + s.set(1, 1, 2, cplx(5, 6)) + s.setFreq(2, 7e9), 0);
  EXPECT_LT(std::abs(s.Value(2, 2, 1) - cplx(0, 2)), 1e-15);
  EXPECT_EQ(s.Freq(2), 7e9);
  EXPECT_EQ(s.Value(1, 1, 2), cplx(5, 6));
  for (int k = 0; k < 3; ++k)
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j)
        EXPECT_EQ(s.Value(k, i, j) == 0.0, !((k == 2 && i == 2 && j == 1) || (k == 1 && i == 1 && j == 2)))
            << k << " " << i << "," << j;
  for (const char* c : {"plain", "!already\n", "", "!no line feed", "line feed only\n"}) s.setComment(c);
  std::vector<std::string> got;
  for (const auto& c : s.Comments()) got.push_back(*c);
  EXPECT_EQ(got, (std::vector<std::string>{"!plain\n", "!already\n", "!\n", "!no line feed\n",
                                           "!line feed only\n"}));
}

// Entry (r, c) = 10 r + c at every frequency, printed with "%g,%g ".
std::string printed(int ports, const std::vector<double>& hz, format f = RI) {
  Sparams s(ports, static_cast<int>(hz.size()), "layout");
  for (int k = 0; k < static_cast<int>(hz.size()); ++k) {
    s.setFreq(k, hz[static_cast<std::size_t>(k)]);
    for (int r = 1; r <= ports; ++r)
      for (int c = 1; c <= ports; ++c) s.set(k, r, c, cplx(10 * r + c, 0));
  }
  brevo_test::Workspace dir;
  EXPECT_EQ(s.print((dir / "out").c_str(), "hdr", f, "%g,%g ", stderr), 0);
  return dir.read("out");
}

struct LayoutCase {
  const char* name;
  int ports;
  std::vector<double> hz;
  format f;
  std::string records;  // after the option line and its two "!" lines; "_" is 9 blanks (W + 2)
};

const LayoutCase kLayouts[] = {
    {"one_port", 1, {1e9}, RI, "1000.00  11,0 \n_\n"},
    {"two_port_one_line", 2, {1e9}, RI, "1000.00  11,0 12,0 21,0 22,0 \n"},
    {"three_port", 3, {1e9}, RI, "1000.00  11,0 12,0 13,0 \n_21,0 22,0 23,0 \n_31,0 32,0 33,0 \n_\n"},
    {"four_port_ends_with_empty_line", 4, {1e9}, RI,
     "1000.00  11,0 12,0 13,0 14,0 \n_21,0 22,0 23,0 24,0 \n_31,0 32,0 33,0 34,0 \n"
     "_41,0 42,0 43,0 44,0 \n\n"},
    {"five_port_four_pairs_per_line", 5, {1e9}, RI,
     "1000.00  11,0 12,0 13,0 14,0 \n_15,0 \n_21,0 22,0 23,0 24,0 \n_25,0 \n_31,0 32,0 33,0 34,0 \n"
     "_35,0 \n_41,0 42,0 43,0 44,0 \n_45,0 \n_51,0 52,0 53,0 54,0 \n_55,0 \n_\n"},
    // Fmax 20 MHz gives D = 1, the step 0.5 MHz e = -1: width 6 with 3 decimals.
    {"field_from_fmax_and_step", 1, {10e6, 10.5e6, 20e6}, RI,
     "10.000  11,0 \n        \n10.500  11,0 \n        \n20.000  11,0 \n        \n"},
    {"mr_is_named_ma_and_writes_no_values", 1, {1e9}, MR, "1000.00  \n_\n"},
};

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, RecordsExactly) {
  const LayoutCase& t = GetParam();
  std::string records = t.records;
  for (std::size_t at; (at = records.find('_')) != std::string::npos;) records.replace(at, 1, 9, ' ');
  EXPECT_EQ(printed(t.ports, t.hz, t.f), std::string("!hdr\n# MHz S ") + (t.f == RI ? "RI" : "MA") +
                                             "  R  50\n!\n!\n" + records);
}

INSTANTIATE_TEST_SUITE_P(Cases, Layout, ::testing::ValuesIn(kLayouts), rowName);

TEST(WriteFile, TwoPortDecibelsAndUnopenableFile) {
  Sparams s(2, 3, "db");
  for (int k = 0; k < 3; ++k) {
    s.setFreq(k, (k + 1) * 1e9);
    s.set(k, 1, 1, 0.1), s.set(k, 1, 2, cplx(0, 1)), s.set(k, 2, 1, -1.0), s.set(k, 2, 2, cplx(0, -0.01));
  }
  s.setComment("made by the writer test");
  brevo_test::Workspace dir;
  ASSERT_EQ(s.print((dir / "db.s2p").c_str(), "!two-port", DB, "%.3f %.2f ", stderr), 0);
  const std::string pairs = "-20.000 0.00 0.000 90.00 0.000 180.00 -40.000 -90.00 \n";
  EXPECT_EQ(dir.read("db.s2p"), "!two-port\n!made by the writer test\n# MHz S DB  R  50\n!\n!\n"
                                       "1000.00  " + pairs + "2000.00  " + pairs + "3000.00  " + pairs);
  CapturedLog log;
  EXPECT_EQ(s.print("/nonexistent-folder/x.s1p", "h", RI, "%g %g ", log.get()), 1);
  EXPECT_EQ(log.text(), "cannot open /nonexistent-folder/x.s1p\n");
}

// Printed and read back, every entry returns at its own place within the value format's
// precision.
TEST(WriteRoundTrip, PortCountsAndFormats) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> magnitude(0.001, 1.5), angle(-3.14, 3.14);
  brevo_test::Workspace dir;
  for (format f : {RI, MA, DB}) {
    for (int ports : {1, 2, 3, 4, 5, 8, 13, 21}) {
      Sparams s(ports, 3, "rt");
      for (int k = 0; k < 3; ++k) {
        s.setFreq(k, std::vector{1e9, 2.5e9, 7e9}[k]);
        for (int i = 1; i <= ports; ++i)
          for (int j = 1; j <= ports; ++j) s.set(k, i, j, std::polar(magnitude(rng), angle(rng)));
      }
      const std::string path = dir / "rt";
      ASSERT_EQ(s.print(path.c_str(), "round trip", f, "%.15e %.15e ", stderr), 0);
      const Sparams back = parseTouchstone(readFile(path), path).set;
      ASSERT_EQ(back.Size(), ports) << f;
      ASSERT_EQ(back.Fcount(), 3) << f;
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(back.Freq(k), s.Freq(k));
        for (int i = 1; i <= ports; ++i)
          for (int j = 1; j <= ports; ++j)
            EXPECT_LT(std::abs(back.Value(k, i, j) - s.Value(k, i, j)), 1e-12)
                << f << " ports " << ports << " k " << k << " (" << i << "," << j << ")";
      }
    }
  }
}

TEST(Helpers, PhcTracksThePhase) {
  std::vector<cplx> v;
  for (int k = 0; k < 10; ++k) v.push_back(std::polar(1.0, 0.5 * k));
  const std::vector<double> p = phc(10, v.data());
  ASSERT_EQ(p.size(), 10u);
  for (int k = 0; k < 10; ++k) EXPECT_NEAR(p[k], 0.5 * k, 1e-12) << k;
  v.clear();
  for (int k = 0; k < 40; ++k) v.push_back(std::polar(2.0, 3.0 - 1.1 * k));
  const std::vector<double> q = phc(40, v.data());
  ASSERT_EQ(q.size(), 40u);
  for (int k = 0; k < 40; ++k) EXPECT_NEAR(q[k], 3.0 - 1.1 * k, 1e-9) << k;
  const cplx negative(-1, -0.0);
  EXPECT_DOUBLE_EQ(phc(1, &negative)[0], pi);  // entry 0 lies in (-pi, pi]
  EXPECT_TRUE(phc(0, v.data()).empty());
}

TEST(Helpers, ImpulseSamples) {
  const cplx two[2] = {1, 1};
  int count = -7;
  EXPECT_TRUE(impulse(two, 1, 1.0, &count, 0).empty());
  EXPECT_EQ(count, -7);
  // Re(df (1/2 + sum e^(j 2 pi k df t))) at t = i / (2 F): 1.5, -0.5, ...
  const std::vector<double> y = impulse(two, 2, 1.0, &count, 0);
  ASSERT_TRUE(count == 4 && y.size() == 4u) << count;
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(y[i], i % 2 ? -0.5 : 1.5, 1e-12) << i;
  const std::vector<cplx> h(11, 1.0);
  EXPECT_EQ(impulse(h.data(), 11, 10.0, &count, 0.01).size(), 110u);  // n / (dt F)
  EXPECT_EQ(count, 110);
}

}  // namespace
