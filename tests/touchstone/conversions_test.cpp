// S, Y and Z conversions with a real reference impedance: values worked out by hand and
// from circuit theory, round trips on random passive networks, and refused arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <ostream>
#include <random>
#include <string>

#include "TouchstoneCore.h"

namespace {

using cd = std::complex<double>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

cmatrix oneByOne(cd z) { return cmatrix(1, 1, &z); }

cmatrix diagonal(cd a, cd b) {
  cmatrix m(2, 2, nullptr);
  m.set(0, 0, a);
  m.set(1, 1, b);
  return m;
}

cmatrix twoByTwo(cd m00, cd m01, cd m10, cd m11) {
  const cd d[4] = {m00, m10, m01, m11};
  return cmatrix(2, 2, d);
}

double maxDifference(const cmatrix& a, const cmatrix& b) {
  if (a.Rows() != b.Rows() || a.Columns() != b.Columns()) return INFINITY;
  double worst = 0;
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Columns(); ++j) worst = std::max(worst, std::abs(a.value(i, j) - b.value(i, j)));
  return worst;
}

enum class Conversion { S2Y, Y2S, S2Z, Z2S, Y2Z, Z2Y };

cmatrix convert(Conversion c, const cmatrix& m, double z0) {
  switch (c) {
    case Conversion::S2Y: return S2Y(m, z0);
    case Conversion::Y2S: return Y2S(m, z0);
    case Conversion::S2Z: return S2Z(m, z0);
    case Conversion::Z2S: return Z2S(m, z0);
    case Conversion::Y2Z: return Y2Z(m);
    case Conversion::Z2Y: return Z2Y(m);
  }
  return {};
}

// One-port values: Z = z0 (1 + S) / (1 - S), Y = 1 / Z.
struct OnePortCase {
  const char* name;
  Conversion conversion;
  cd in;
  double z0;
  cd out;
};
void PrintTo(const OnePortCase& c, std::ostream* os) { *os << c.name; }

const OnePortCase kOnePort[] = {
    {"matched_S_to_Y", Conversion::S2Y, 0.0, 50, 0.02},
    {"matched_S_to_Z", Conversion::S2Z, 0.0, 50, 50.0},
    {"matched_Y_to_S", Conversion::Y2S, 0.02, 50, 0.0},
    {"matched_Z_to_S", Conversion::Z2S, 50.0, 50, 0.0},
    {"half_S_to_Z", Conversion::S2Z, 0.5, 50, 150.0},
    {"minus_half_S_to_Y", Conversion::S2Y, -0.5, 50, 0.06},
    {"150_ohm_to_S", Conversion::Z2S, 150.0, 50, 0.5},
    {"inductive_S_to_Z_75", Conversion::S2Z, cd(0, 1), 75, cd(0, 75)},  // (1+j)/(1-j) = j
    {"capacitive_Y_to_S_75", Conversion::Y2S, cd(0, 1.0 / 75), 75, cd(0, -1)},
    {"Y2Z_one_port", Conversion::Y2Z, cd(0, 0.5), 0, cd(0, -2)},
    {"Z2Y_one_port", Conversion::Z2Y, cd(3, 4), 0, cd(0.12, -0.16)},
};

class OnePort : public ::testing::TestWithParam<OnePortCase> {};

TEST_P(OnePort, ValueAndOneStatusLine) {
  const OnePortCase& c = GetParam();
  CaptureStderr();
  const cmatrix r = convert(c.conversion, oneByOne(c.in), c.z0);
  EXPECT_EQ(GetCapturedStderr(), "return from dgesv 0\n");
  ASSERT_EQ(r.Rows(), 1);
  ASSERT_EQ(r.Columns(), 1);
  EXPECT_LT(std::abs(r.value(0, 0) - c.out), 1e-13 * std::max(1.0, std::abs(c.out))) << r.value(0, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, OnePort, ::testing::ValuesIn(kOnePort),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Conversions, Y2ZOfDiagonal) {
  CaptureStderr();
  const cmatrix Z = Y2Z(diagonal(0.5, 0.25));
  EXPECT_EQ(GetCapturedStderr(), "return from dgesv 0\n");
  EXPECT_LT(maxDifference(Z, diagonal(2.0, 4.0)), 1e-15);
  CaptureStderr();
  const cmatrix Y = Z2Y(diagonal(2.0, 4.0));
  GetCapturedStderr();
  EXPECT_LT(maxDifference(Y, diagonal(0.5, 0.25)), 1e-15);
}

// Two-port circuits with textbook matrices: a series impedance Zs between the ports has
// Y = (1/Zs)[[1, -1], [-1, 1]] and S11 = Zs/(Zs + 2 z0), S21 = 2 z0/(Zs + 2 z0); a shunt
// impedance Zp across both has Z = Zp[[1, 1], [1, 1]] and S11 = -z0/(2 Zp + z0),
// S21 = 2 Zp/(2 Zp + z0).
TEST(Conversions, SeriesAndShuntTwoPorts) {
  const double z0 = 50;
  const cd Zs(30, 40), Zp(20, -60);
  const cd s11 = Zs / (Zs + 2 * z0), s21 = 2 * z0 / (Zs + 2 * z0);
  const cmatrix Sseries = twoByTwo(s11, s21, s21, s11);
  const cmatrix Yseries = twoByTwo(1.0 / Zs, -1.0 / Zs, -1.0 / Zs, 1.0 / Zs);
  const cd p11 = -z0 / (2.0 * Zp + z0), p21 = 2.0 * Zp / (2.0 * Zp + z0);
  const cmatrix Sshunt = twoByTwo(p11, p21, p21, p11);
  const cmatrix Zshunt = twoByTwo(Zp, Zp, Zp, Zp);
  CaptureStderr();
  EXPECT_LT(maxDifference(S2Y(Sseries, z0), Yseries), 1e-15);
  EXPECT_LT(maxDifference(Y2S(Yseries, z0), Sseries), 1e-14);
  EXPECT_LT(maxDifference(Z2S(Zshunt, z0), Sshunt), 1e-14);
  EXPECT_LT(maxDifference(S2Z(Sshunt, z0), Zshunt), 1e-11);
  EXPECT_EQ(GetCapturedStderr(),
            "return from dgesv 0\nreturn from dgesv 0\nreturn from dgesv 0\nreturn from dgesv 0\n");
}

// A random complex matrix scaled so that its Frobenius norm, an upper bound of its largest
// singular value, is 0.95: a passive network, so I - S and I + S are invertible.
cmatrix randomPassive(int n, std::mt19937& gen) {
  std::normal_distribution<double> g;
  cmatrix S(n, n, nullptr);
  double frobenius = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const cd z(g(gen), g(gen));
      S.set(i, j, z);
      frobenius += std::norm(z);
    }
  return S * (0.95 / std::sqrt(frobenius));
}

TEST(Conversions, RoundTripsOnRandomPassiveNetworks) {
  std::mt19937 gen(2024);
  for (int n = 1; n <= 6; ++n) {
    for (double z0 : {50.0, 75.0, 100.0, 1.0}) {
      const cmatrix S = randomPassive(n, gen);
      CaptureStderr();
      const cmatrix Z = S2Z(S, z0), Y = S2Y(S, z0);
      const cmatrix viaZ = Z2S(Z, z0), viaY = Y2S(Y, z0);
      const cmatrix ZfromY = Y2Z(Y);
      const std::string log = GetCapturedStderr();
      EXPECT_EQ(log, "return from dgesv 0\nreturn from dgesv 0\nreturn from dgesv 0\n"
                     "return from dgesv 0\nreturn from dgesv 0\n");
      EXPECT_LT(maxDifference(viaZ, S), 1e-12) << n << " ports, z0 " << z0;
      EXPECT_LT(maxDifference(viaY, S), 1e-12) << n << " ports, z0 " << z0;
      // Z and Y of the same network are each other's inverse
      EXPECT_LT(maxDifference(ZfromY, Z), 1e-9 * z0) << n << " ports, z0 " << z0;
      EXPECT_LT(maxDifference(Z * Y, cmatrix(n)), 1e-10) << n << " ports, z0 " << z0;
    }
  }
}

struct RefusedCase {
  const char* name;
  Conversion conversion;
  int rows, columns;
  double z0;
  const char* message;  // the four with z0 say nothing; the inverses go through the solver
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const RefusedCase kRefused[] = {
    {"S2Y_z0_zero", Conversion::S2Y, 2, 2, 0.0, ""},
    {"S2Z_z0_zero", Conversion::S2Z, 2, 2, 0.0, ""},
    {"Y2S_z0_negative", Conversion::Y2S, 2, 2, -50.0, ""},
    {"Z2S_z0_nan", Conversion::Z2S, 2, 2, kNaN, ""},
    {"S2Y_z0_nan", Conversion::S2Y, 1, 1, kNaN, ""},
    {"S2Z_2x3", Conversion::S2Z, 2, 3, 50.0, ""},
    {"Y2S_3x2", Conversion::Y2S, 3, 2, 50.0, ""},
    {"Z2S_empty", Conversion::Z2S, 0, 0, 50.0, ""},
    {"S2Y_empty", Conversion::S2Y, 0, 0, 50.0, ""},
    {"Y2Z_2x3", Conversion::Y2Z, 2, 3, 0, "cannot solve (2x2)/(2x3)\n"},
    {"Z2Y_3x2", Conversion::Z2Y, 3, 2, 0, "cannot solve (3x3)/(3x2)\n"},
    {"Y2Z_empty", Conversion::Y2Z, 0, 0, 0, "cannot solve (0x0)/(0x0)\n"},
};

class ConversionRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ConversionRefused, EmptyResult) {
  const RefusedCase& c = GetParam();
  cmatrix m(c.rows, c.columns, nullptr);
  for (int i = 0; i < c.rows && i < c.columns; ++i) m.set(i, i, 0.25);
  CaptureStderr();
  const cmatrix r = convert(c.conversion, m, c.z0);
  EXPECT_EQ(GetCapturedStderr(), c.message);
  EXPECT_EQ(r.Rows(), 0);
  EXPECT_EQ(r.Columns(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ConversionRefused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Whole matrices of a set. Every value is 100*k + 10*r + c (k the frequency index, r and
// c the row and column of the pair in the file's order), so a misplaced entry names its
// true address.

bool isNaN(cd z) { return std::isnan(z.real()) && std::isnan(z.imag()); }

TEST(SetMatrix, TwoPortUsualOrderPutsS21InRowOneColumnZero) {
  // pairs in the usual order S11 S21 S12 S22
  const ReadResult r = parseTouchstone(
      "# GHz S RI R 50\n1 11 0 21 0 12 0 22 0\n2 111 0 121 0 112 0 122 0\n", "usual_order.s2p");
  ASSERT_EQ(r.set.Size(), 2);
  for (int k = 0; k < 2; ++k) {
    const cmatrix m = r.set.Value(k);
    ASSERT_EQ(m.Rows(), 2);
    ASSERT_EQ(m.Columns(), 2);
    EXPECT_EQ(m.value(0, 0), cd(100 * k + 11, 0));
    EXPECT_EQ(m.value(1, 0), cd(100 * k + 21, 0));  // S21
    EXPECT_EQ(m.value(0, 1), cd(100 * k + 12, 0));
    EXPECT_EQ(m.value(1, 1), cd(100 * k + 22, 0));
  }
}

TEST(SetMatrix, ThreePortIsTheStoredMatrixTransposed) {
  std::string text = "# Hz S RI\n";
  for (int k = 0; k < 2; ++k) {
    text += std::to_string(k + 1);
    for (int r = 1; r <= 3; ++r) {
      for (int c = 1; c <= 3; ++c) text += " " + std::to_string(100 * k + 10 * r + c) + " 0.5";
      text += "\n";
    }
  }
  const ReadResult r = parseTouchstone(text, "numbered.s3p");
  ASSERT_EQ(r.set.Size(), 3);
  ASSERT_EQ(r.set.Fcount(), 2);
  for (int k = 0; k < 2; ++k) {
    const cmatrix m = r.set.Value(k);
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 3; ++j) {
        EXPECT_EQ(m.value(j - 1, i - 1), r.set.Value(k, i, j));
        EXPECT_EQ(m.value(j - 1, i - 1), cd(100 * k + 10 * i + j, 0.5)) << k << ": " << i << "," << j;
      }
  }
}

TEST(SetMatrix, AnyFrequencyIsTransposedLikeStoredPoints) {
  Sparams set(2, 2, "built.s2p");
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(set.setFreq(k, (k + 1) * 1e9), 0);
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) ASSERT_EQ(set.set(k, i, j, std::polar(0.1 * (10 * i + j), -0.3 * k)), 0);
  }
  EXPECT_LT(maxDifference(set.Value(2e9, 0), set.Value(1)), 1e-14);
  const cmatrix m = set.Value(1.5e9, 2);  // halfway: magnitude unchanged, phase -0.15
  EXPECT_LT(std::abs(m.value(1, 0) - std::polar(1.2, -0.15)), 1e-14);  // (i, j) = (1, 2)
  EXPECT_LT(std::abs(m.value(0, 1) - std::polar(2.1, -0.15)), 1e-14);
}

TEST(SetMatrix, InvalidIndexGivesNaNAndEmptySetGivesEmpty) {
  const ReadResult r = parseTouchstone("# GHz S RI\n1 11 0 21 0 12 0 22 0\n2 1 0 2 0 3 0 4 0\n", "two.s2p");
  for (int k : {-1, 2}) {
    const cmatrix m = r.set.Value(k);
    ASSERT_EQ(m.Rows(), 2) << "k " << k;
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) EXPECT_TRUE(isNaN(m.value(i, j))) << "k " << k;
  }
  const cmatrix none = Sparams().Value(0);
  EXPECT_EQ(none.Rows(), 0);
  EXPECT_EQ(Sparams().Value(1e9, 2).Rows(), 0);
}

// A real channel is passive at every point, so its matrices must survive both round trips.
TEST(SetMatrix, RoundTripsOnARealChannel) {
  const std::string path =
      std::string(BREVO_CHANNELS_DIR) + "/c2m_IL14_WC/C2M__Z100_IL14_WC_BOR_H_L_H_THRU.s4p";
  FILE* probe = std::fopen(path.c_str(), "r");
  if (!probe) GTEST_SKIP() << "real channel files not found at " << BREVO_CHANNELS_DIR;
  std::fclose(probe);
  FILE* log = std::tmpfile();
  const Sparams set(path, log);
  std::fclose(log);
  ASSERT_EQ(set.Size(), 4);
  ASSERT_GT(set.Fcount(), 100);
  CaptureStderr();
  for (int k : {1, set.Fcount() / 3, set.Fcount() - 1}) {
    const cmatrix S = set.Value(k);
    EXPECT_LT(maxDifference(Z2S(S2Z(S, 50), 50), S), 1e-10) << "point " << k;
    EXPECT_LT(maxDifference(Y2S(S2Y(S, 50), 50), S), 1e-10) << "point " << k;
  }
  GetCapturedStderr();
}

}  // namespace
