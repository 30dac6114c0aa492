// The writer (setters, exact record layouts, decibels and degrees) and the impulse helper,
// against values worked out by hand. (Files written and read back whole are the joins of
// the cascade tool's tests; files that cannot be written are in the tools' table of writers.)

#include "support.h"

namespace {

// Setters out of range return 1 and store nothing; comments get their "!" and line end.
TEST(Write, SettersAndComments) {
  Sparams s(2, 3, "s");
  EXPECT_EQ(s.set(3, 1, 1, RI, 1, 2) + s.set(0, 0, 1, RI, 1, 2) + s.set(0, 1, 3, cplx(1, 2)) +
                s.set(-1, 1, 1, cplx(1, 2)) + s.set(0, 3, 1, cplx(1, 2)) +
                s.set(0, 1, 0, cplx(1, 2)) + s.setFreq(3, 1e9) + s.setFreq(-1, 1e9),
            8);
  EXPECT_EQ(s.set(2, 2, 1, MA, 2, 90) + s.set(1, 1, 2, cplx(5, 6)) + s.setFreq(2, 7e9), 0);
  EXPECT_LT(std::abs(s.Value(2, 2, 1) - cplx(0, 2)) + std::abs(s.Value(1, 1, 2) - cplx(5, 6)) +
                std::abs(s.Freq(2) - 7e9),
            1e-15);
  int stored = 0;
  for (int k = 0; k < 3; ++k)
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) stored += s.Value(k, i, j) != 0.0;
  EXPECT_EQ(stored, 2);
  for (const char* c : {"plain", "!already\n", "", "!no line feed", "line feed only\n"})
    s.setComment(c);
  std::vector<std::string> got;
  for (const auto& c : s.Comments()) got.push_back(*c);
  EXPECT_EQ(got, (std::vector<std::string>{"!plain\n", "!already\n", "!\n", "!no line feed\n",
                                           "!line feed only\n"}));
}

// records: after the option line and its two "!" lines; "_" is 9 blanks (W + 2).
struct LayoutCase {
  const char* name;
  int ports;
  std::vector<double> hz;
  format f;
  std::string records;
};

const LayoutCase kLayouts[] = {
    {"one_port", 1, {1e9}, RI, "1000.00  11,0 \n_\n"},
    {"two_port_one_line", 2, {1e9}, RI, "1000.00  11,0 12,0 21,0 22,0 \n"},
    {"three_port",
     3,
     {1e9},
     RI,
     "1000.00  11,0 12,0 13,0 \n_21,0 22,0 23,0 \n_31,0 32,0 33,0 \n_\n"},
    {"four_port_ends_with_empty_line",
     4,
     {1e9},
     RI,
     "1000.00  11,0 12,0 13,0 14,0 \n_21,0 22,0 23,0 24,0 \n_31,0 32,0 33,0 34,0 \n_41,0 42,0 43,0 "
     "44,0 \n\n"},
    {"five_port_four_pairs_per_line",
     5,
     {1e9},
     RI,
     "1000.00  11,0 12,0 13,0 14,0 \n_15,0 \n_21,0 22,0 23,0 24,0 \n_25,0 \n_31,0 32,0 33,0 34,0 \n"
     "_35,0 \n_41,0 42,0 43,0 44,0 \n_45,0 \n_51,0 52,0 53,0 54,0 \n_55,0 \n_\n"},
    // Fmax 20 MHz gives D = 1, the step 0.5 MHz e = -1: width 6 with 3 decimals.
    {"field_from_fmax_and_step",
     1,
     {10e6, 10.5e6, 20e6},
     RI,
     "10.000  11,0 \n        \n10.500  11,0 \n        \n20.000  11,0 \n        \n"},
    {"mr_is_named_ma_and_writes_no_values", 1, {1e9}, MR, "1000.00  \n_\n"},
};

class Layout : public ::testing::TestWithParam<LayoutCase> {};

// Entry (r, c) = 10 r + c at every frequency, printed with "%g,%g ".
TEST_P(Layout, RecordsExactly) {
  const LayoutCase& t = GetParam();
  Sparams s(t.ports, static_cast<int>(t.hz.size()), "layout");
  for (int k = 0; k < static_cast<int>(t.hz.size()); ++k) {
    s.setFreq(k, t.hz[static_cast<std::size_t>(k)]);
    for (int r = 1; r <= t.ports; ++r)
      for (int c = 1; c <= t.ports; ++c) s.set(k, r, c, cplx(10 * r + c, 0));
  }
  brevo_test::Workspace dir;
  EXPECT_EQ(s.print((dir / "out").c_str(), "hdr", t.f, "%g,%g ", stderr), 0);
  std::string records = t.records;
  for (std::size_t at; (at = records.find('_')) != std::string::npos;)
    records.replace(at, 1, 9, ' ');
  EXPECT_EQ(dir.read("out"), std::string("!hdr\n# MHz S ") + (t.f == RI ? "RI" : "MA") +
                                 "  R  50\n!\n!\n" + records);
}

INSTANTIATE_TEST_SUITE_P(Cases, Layout, ::testing::ValuesIn(kLayouts), rowName);

// Decibels of the magnitude and degrees of the phase, by hand: 0.1 is -20 dB, j is 0 dB at
// 90 degrees, -1 is 180 degrees, -0.01j is -40 dB at -90 degrees.
TEST(Write, TwoPortDecibels) {
  Sparams s(2, 3, "db");
  for (int k = 0; k < 3; ++k) {
    s.setFreq(k, (k + 1) * 1e9);
    s.set(k, 1, 1, 0.1), s.set(k, 1, 2, cplx(0, 1)), s.set(k, 2, 1, -1.0),
        s.set(k, 2, 2, cplx(0, -0.01));
  }
  s.setComment("made by the writer test");
  brevo_test::Workspace dir;
  ASSERT_EQ(s.print((dir / "db.s2p").c_str(), "!two-port", DB, "%.3f %.2f ", stderr), 0);
  const std::string pairs = "-20.000 0.00 0.000 90.00 0.000 180.00 -40.000 -90.00 \n";
  EXPECT_EQ(dir.read("db.s2p"),
            "!two-port\n!made by the writer test\n# MHz S DB  R  50\n!\n!\n1000.00  " + pairs +
                "2000.00  " + pairs + "3000.00  " + pairs);
}

// impulse samples Re(df (S0/2 + sum S_k e^(j 2 pi k df t))) at t = i / (2 F): 1.5, -0.5, ...
// for two unit entries; n / (dt F) samples for a step dt.
TEST(Helpers, ImpulseSamples) {
  const cplx two[2] = {1, 1};
  int count = -7;
  EXPECT_TRUE(impulse(two, 1, 1.0, &count, 0).empty() && count == -7);
  const std::vector<double> y = impulse(two, 2, 1.0, &count, 0);
  ASSERT_TRUE(count == 4 && y.size() == 4u) << count;
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(y[i], i % 2 ? -0.5 : 1.5, 1e-12) << i;
  const std::vector<cplx> h(11, 1.0);
  EXPECT_TRUE(impulse(h.data(), 11, 10.0, &count, 0.01).size() == 110u && count == 110);
}

}  // namespace
