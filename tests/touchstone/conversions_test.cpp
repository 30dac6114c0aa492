// S, Y and Z conversions with a real reference impedance (one-ports by hand, round trips on
// random passive networks, refused arguments) and whole matrices of a set.
#include <random>

#include "support.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using Conversion = cmatrix (*)(cmatrix, double);
cmatrix y2z(cmatrix m, double) { return Y2Z(m); }
cmatrix z2y(cmatrix m, double) { return Z2Y(m); }

std::string solves(int n) {
  std::string s;
  while (n-- > 0) s += "return from dgesv 0\n";
  return s;
}

// One-ports by hand, Z = z0 (1 + S) / (1 - S) and Y = 1 / Z: the value and one solver line.
TEST(Conversions, OnePortsByHand) {
  const struct {
    Conversion convert;
    cplx in;
    double z0;
    cplx out;
  } cases[] = {
      {S2Y, 0.0, 50, 0.02}, {Z2S, 50.0, 50, 0.0}, {S2Z, 0.5, 50, 150.0}, {S2Y, -0.5, 50, 0.06},
      {Z2S, 150.0, 50, 0.5}, {S2Z, cplx(0, 1), 75, cplx(0, 75)},  // (1 + j)/(1 - j) = j
      {Y2S, cplx(0, 1.0 / 75), 75, cplx(0, -1)}, {y2z, cplx(0, 0.5), 0, cplx(0, -2)},
      {z2y, cplx(3, 4), 0, cplx(0.12, -0.16)},
  };
  for (const auto& c : cases) {
    CaptureStderr();
    const cmatrix r = c.convert(cmatrix(1, 1, &c.in), c.z0);
    EXPECT_EQ(GetCapturedStderr(), solves(1));
    EXPECT_LT(maxDifference(r, cmatrix(1, 1, &c.out)), 1e-13 * std::max(1.0, std::abs(c.out)))
        << c.in << " to " << c.out;
  }
  cmatrix Y(2, 2, nullptr), Z(2, 2, nullptr);  // a diagonal: the reciprocals
  Y.set(0, 0, 0.5), Y.set(1, 1, 0.25), Z.set(0, 0, 2.0), Z.set(1, 1, 4.0);
  CaptureStderr();
  EXPECT_LT(maxDifference(Y2Z(Y), Z) + maxDifference(Z2Y(Z), Y), 1e-15);
  EXPECT_EQ(GetCapturedStderr(), solves(2));
}

// A random complex matrix of Frobenius norm 0.95 (which bounds its largest singular value):
// a passive network, so I - S and I + S are invertible.
TEST(Conversions, RoundTripsOnRandomPassiveNetworks) {
  std::mt19937 gen(2024);
  std::normal_distribution<double> g;
  for (int n : {1, 2, 3, 6}) {
    for (double z0 : {50.0, 75.0, 1.0}) {
      cmatrix S(n, n, nullptr);
      double frobenius = 0;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) S.set(i, j, cplx(g(gen), g(gen))), frobenius += std::norm(S.value(i, j));
      S = S * (0.95 / std::sqrt(frobenius));
      CaptureStderr();
      const cmatrix Z = S2Z(S, z0), Y = S2Y(S, z0);
      EXPECT_LT(maxDifference(Z2S(Z, z0), S), 1e-12) << n << " ports, z0 " << z0;
      EXPECT_LT(maxDifference(Y2S(Y, z0), S), 1e-12) << n << " ports, z0 " << z0;
      EXPECT_LT(maxDifference(Y2Z(Y), Z), 1e-9 * z0) << n << " ports, z0 " << z0;
      EXPECT_EQ(GetCapturedStderr(), solves(5));
      EXPECT_LT(maxDifference(Z * Y, cmatrix(n)), 1e-10) << n << " ports, z0 " << z0;
    }
  }
}

// Refused arguments give an empty matrix; the conversions with z0 say nothing, the inverses
// go through the solver, which names the shapes.
TEST(Conversions, RefusedArgumentsGiveEmptyMatrices) {
  const struct {
    Conversion convert;
    int rows, columns;
    double z0;
    const char* message;
  } cases[] = {
      {S2Y, 2, 2, 0.0, ""}, {Y2S, 2, 2, -50.0, ""}, {Z2S, 2, 2, NAN, ""}, {S2Z, 2, 3, 50.0, ""},
      {Z2S, 0, 0, 50.0, ""}, {y2z, 2, 3, 0, "cannot solve (2x2)/(2x3)\n"},
      {z2y, 3, 2, 0, "cannot solve (3x3)/(3x2)\n"}, {y2z, 0, 0, 0, "cannot solve (0x0)/(0x0)\n"},
  };
  for (const auto& c : cases) {
    cmatrix m(c.rows, c.columns, nullptr);
    for (int i = 0; i < c.rows && i < c.columns; ++i) m.set(i, i, 0.25);
    CaptureStderr();
    const cmatrix r = c.convert(m, c.z0);
    EXPECT_EQ(GetCapturedStderr(), c.message);
    EXPECT_EQ(r.Rows() + r.Columns(), 0) << c.rows << "x" << c.columns << ", z0 " << c.z0;
  }
}

// Whole matrices: a 2-port record holds S11 S21 S12 S22, so S21 lands at row 1, column 0;
// otherwise entry (i, j) is at row j - 1, column i - 1.
TEST(SetMatrix, TransposedPlacementAndInvalidIndexes) {
  const Sparams two = parseTouchstone("# GHz S RI\n1 11 0 21 0 12 0 22 0\n2 111 0 121 0 112 0 122 0\n", "u").set;
  for (int k = 0; k < 2; ++k) {
    const cplx want[4] = {100.0 * k + 11, 100.0 * k + 21, 100.0 * k + 12, 100.0 * k + 22};  // column-major
    EXPECT_EQ(maxDifference(two.Value(k), cmatrix(2, 2, want)), 0) << k;
  }
  const std::string row = " 11 .5 12 .5 13 .5 21 .5 22 .5 23 .5 31 .5 32 .5 33 .5\n";
  const Sparams three = parseTouchstone("# Hz S RI\n1" + row + "2" + row, "numbered.s3p").set;
  ASSERT_EQ(three.Size(), 3);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(three.Value(0).value(j - 1, i - 1), cplx(10 * i + j, 0.5));
  Sparams set(2, 2, "built");  // between stored points the lookup interpolates, transposed the same way
  for (int k = 0; k < 2; ++k) {
    set.setFreq(k, (k + 1) * 1e9);
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) set.set(k, i, j, std::polar(0.1 * (10 * i + j), -0.3 * k));
  }
  EXPECT_LT(std::abs(set.Value(1.5e9, 2).value(1, 0) - std::polar(1.2, -0.15)), 1e-14);
  EXPECT_LT(std::abs(set.Value(1.5e9, 2).value(0, 1) - std::polar(2.1, -0.15)), 1e-14);
  for (int k : {-1, 2}) EXPECT_TRUE(std::isnan(two.Value(k).value(1, 0).real())) << k;
  EXPECT_EQ(Sparams().Value(0).Rows() + Sparams().Value(1e9, 2).Rows(), 0);
}

}  // namespace
