// Left division over LAPACK: the square (LU) and least-squares (QR) branches, their
// status lines on standard error, and the shapes that are refused.
#include <gtest/gtest.h>

#include <complex>
#include <ostream>
#include <random>
#include <string>

#include "cmatrix.h"

namespace {

using cd = std::complex<double>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

cmatrix randomMatrix(int rows, int columns, std::mt19937& gen) {
  std::normal_distribution<double> g;
  cmatrix m(rows, columns, nullptr);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) m.set(i, j, cd(g(gen), g(gen)));
  return m;
}

cmatrix adjoint(const cmatrix& m) {
  cmatrix r = m.t();
  for (int i = 0; i < r.Rows(); ++i)
    for (int j = 0; j < r.Columns(); ++j) r.set(i, j, std::conj(r.value(i, j)));
  return r;
}

double maxAbs(const cmatrix& m) {
  double worst = 0;
  for (int i = 0; i < m.Rows(); ++i)
    for (int j = 0; j < m.Columns(); ++j) worst = std::max(worst, std::abs(m.value(i, j)));
  return worst;
}

TEST(Solve, IdentityReturnsRightHandSide) {
  const cd rhs[3] = {{1, 2}, {-3, 0.5}, {0, 7}};
  const cmatrix A(3, 1, rhs);
  CaptureStderr();
  const cmatrix X = A / cmatrix(3);
  EXPECT_EQ(GetCapturedStderr(), "return from dgesv 0\n");
  ASSERT_EQ(X.Rows(), 3);
  ASSERT_EQ(X.Columns(), 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(X.value(i, 0), rhs[i]);
}

TEST(Solve, OneByOneTakesSquareBranch) {
  const cd a = {6, 3}, b = {0, 3};
  CaptureStderr();
  const cmatrix X = cmatrix(1, 1, &a) / cmatrix(1, 1, &b);
  EXPECT_EQ(GetCapturedStderr(), "return from dgesv 0\n");
  ASSERT_EQ(X.Rows(), 1);
  EXPECT_NEAR(std::abs(X.value(0, 0) - cd(1, -2)), 0.0, 1e-15);
}

TEST(Solve, StraightLineByLeastSquares) {
  // columns 1 and k, right-hand side 2 + 3k for k = 0..4
  cmatrix B(5, 2, nullptr), A(5, 1, nullptr);
  for (int k = 0; k < 5; ++k) {
    B.set(k, 0, 1.0);
    B.set(k, 1, double(k));
    A.set(k, 0, 2.0 + 3.0 * k);
  }
  CaptureStderr();
  const cmatrix X = A / B;
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n");
  ASSERT_EQ(X.Rows(), 2);
  ASSERT_EQ(X.Columns(), 1);
  EXPECT_NEAR(std::abs(X.value(0, 0) - 2.0), 0.0, 1e-13);
  EXPECT_NEAR(std::abs(X.value(1, 0) - 3.0), 0.0, 1e-13);
  EXPECT_EQ(B.value(4, 1), cd(4, 0));  // the coefficient matrix is not overwritten
  EXPECT_EQ(A.value(4, 0), cd(14, 0));
}

struct RefusedCase {
  const char* name;
  int ar, ac, br, bc;
  const char* message;
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

const RefusedCase kRefused[] = {
    {"rows_differ_tall_B", 2, 2, 3, 2, "cannot solve (2x2)/(3x2)\n"},
    {"square_B_other_rows", 3, 1, 2, 2, "cannot solve (3x1)/(2x2)\n"},
    {"B_wider_than_tall", 2, 1, 2, 3, "cannot solve (2x1)/(2x3)\n"},
    {"rhs_not_taller_than_wide", 3, 3, 3, 2, "cannot solve (3x3)/(3x2)\n"},
    {"empty_over_empty", 0, 0, 0, 0, "cannot solve (0x0)/(0x0)\n"},
    {"rhs_over_empty", 2, 1, 0, 0, "cannot solve (2x1)/(0x0)\n"},
};

class SolveRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SolveRefused, MessageAndEmptyResult) {
  const RefusedCase& c = GetParam();
  std::mt19937 gen(7);
  const cmatrix A = c.ar ? randomMatrix(c.ar, c.ac, gen) : cmatrix();
  const cmatrix B = c.br ? randomMatrix(c.br, c.bc, gen) : cmatrix();
  CaptureStderr();
  const cmatrix X = A / B;
  EXPECT_EQ(GetCapturedStderr(), c.message);
  EXPECT_EQ(X.Rows(), 0);
  EXPECT_EQ(X.Columns(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, SolveRefused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Solve, SquareSystemsSatisfyTheirEquations) {
  std::mt19937 gen(11);
  for (int n : {1, 2, 4, 9}) {
    const cmatrix B = randomMatrix(n, n, gen);
    const cmatrix A = randomMatrix(n, 3, gen);
    CaptureStderr();
    const cmatrix X = A / B;
    GetCapturedStderr();
    ASSERT_EQ(X.Rows(), n);
    ASSERT_EQ(X.Columns(), 3);
    EXPECT_LT(maxAbs(B * X - A), 1e-11) << "n = " << n;
  }
}

TEST(Solve, LeastSquaresAgreesWithNormalEquations) {
  std::mt19937 gen(3);
  const cmatrix B = randomMatrix(40, 5, gen);
  const cmatrix A = randomMatrix(40, 2, gen);
  CaptureStderr();
  const cmatrix X = A / B;
  // The normal equations B^H B X = B^H A, solved by LU: another route to the same X.
  const cmatrix Xn = (adjoint(B) * A) / (adjoint(B) * B);
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\nreturn from dgesv 0\n");
  ASSERT_EQ(X.Rows(), 5);
  ASSERT_EQ(X.Columns(), 2);
  EXPECT_LT(maxAbs(X - Xn), 1e-12 * maxAbs(X));
  // and the residual is orthogonal to every column of B
  EXPECT_LT(maxAbs(adjoint(B) * (A - B * X)), 1e-12 * maxAbs(A) * maxAbs(B) * 40);
}

TEST(Solve, SingularSquareReportsLapackStatus) {
  const cd b[4] = {{1, 0}, {2, 0}, {2, 0}, {4, 0}};  // rank 1
  const cd a[2] = {1, 1};
  CaptureStderr();
  const cmatrix X = cmatrix(2, 1, a) / cmatrix(2, 2, b);
  EXPECT_EQ(GetCapturedStderr(), "return from dgesv 2\n");
  EXPECT_EQ(X.Rows(), 2);  // the flow goes on with what LAPACK left
}

}  // namespace
