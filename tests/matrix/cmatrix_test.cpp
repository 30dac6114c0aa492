// cmatrix: placement, shapes, arithmetic and left division, against results worked out by
// hand.

#include "GlobalNames.h"
#include "workspace.h"

namespace {

using cd = std::complex<double>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using Entries = std::vector<cd>;

// Entry (i, j) is 10*(i+1) + (j+1) with its column-major storage index as imaginary part.
cmatrix numbered(int rows, int columns) {
  cmatrix m(rows, columns, nullptr);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) m.set(i, j, cd(10 * (i + 1) + (j + 1), j * rows + i));
  return m;
}

cmatrix column(Entries v) { return cmatrix(static_cast<int>(v.size()), 1, v.data()); }

Entries entries(const cmatrix& m) {  // row after row
  Entries out;
  for (int i = 0; i < m.Rows(); ++i)
    for (int j = 0; j < m.Columns(); ++j) out.push_back(m.value(i, j));
  return out;
}

std::string shape(const cmatrix& m) {
  return std::to_string(m.Rows()) + "x" + std::to_string(m.Columns());
}

TEST(Cmatrix, ResultsWorkedByHand) {
  const cd a[4] = {1, 3, {0, 2}, 4},
           b[4] = {{1, 1}, 1, 0, -1};  // [[1, 2j], [3, 4]], [[1+j, 0], [1, -1]]
  const cd data[6] = {{1, 0.5}, 2, 3, 4, 5, {6, -1}};
  const cmatrix A(2, 2, a), B(2, 2, b), N = numbered(2, 3);
  const struct {
    const char* what;
    cmatrix result;
    const char* shape;
    Entries expected;
  } cases[] = {
      {"data column by column", cmatrix(2, 3, data), "2x3", {{1, 0.5}, 3, 5, 2, 4, {6, -1}}},
      {"identity", cmatrix(2), "2x2", {1, 0, 0, 1}},
      {"A*B", A * B, "2x2", {{1, 3}, {0, -2}, {7, 3}, -4}},
      {"A+B", A + B, "2x2", {{2, 1}, {0, 2}, 4, 3}},
      {"A-B", A - B, "2x2", {{0, -1}, {0, 2}, 2, 5}},
      {"A*j", A * cd(0, 1), "2x2", {{0, 1}, -2, {0, 3}, {0, 4}}},
      {"N|tail",
       N | column({-1, -2}),
       "2x4",
       {11, {12, 2}, {13, 4}, -1, {21, 1}, {22, 3}, {23, 5}, -2}},
      {"N.t() not conjugated", N.t(), "3x2", {11, {21, 1}, {12, 2}, {22, 3}, {13, 4}, {23, 5}}},
      // refusals and degenerate sizes give the empty matrix
      {"N+N.t()", N + N.t(), "0x0", {}},
      {"N*N", N * N, "0x0", {}},
      {"N|3x1", N | numbered(3, 1), "0x0", {}},
      {"A+empty", A + cmatrix(), "0x0", {}},
      {"cmatrix(-2)", cmatrix(-2), "0x0", {}},
      {"3x-1", cmatrix(3, -1, nullptr), "0x0", {}}};
  for (const auto& c : cases) {
    EXPECT_EQ(shape(c.result), c.shape) << c.what;
    EXPECT_EQ(entries(c.result), c.expected) << c.what;
  }
  EXPECT_EQ(entries(A), (Entries{1, {0, 2}, 3, 4})) << "operands unchanged";
  EXPECT_EQ(shape(N), "2x3");
}

TEST(Cmatrix, OutOfRangeAndStorage) {
  cmatrix m = numbered(2, 3);
  const struct { int i, j; } outside[] = {{2, 0}, {0, 3}, {-1, 0}, {0, -1}, {100, 100}};
  for (const auto& p : outside) {
    EXPECT_EQ(m.value(p.i, p.j), cd(HUGE_VAL, 0)) << p.i << "," << p.j;
    EXPECT_EQ(m.set(p.i, p.j, cd(-5, -5)), 1) << p.i << "," << p.j;
  }
  EXPECT_EQ(entries(m), entries(numbered(2, 3)));
  EXPECT_EQ(m.set(1, 2, cd(7, 8)), 0);
  EXPECT_EQ(m.data()[5], cd(7, 8)) << "LAPACK receives column-major storage";
  EXPECT_EQ(cmatrix().value(0, 0), cd(HUGE_VAL, 0));
}

TEST(Solve, SquareAndLeastSquaresByHand) {
  const cd rhs[3] = {{1, 2}, {-3, 0.5}, {0, 7}}, singular[4] = {1, 2, 2, 4};  // rank 1
  cmatrix B(5, 2, nullptr), A(5, 1, nullptr);  // columns 1 and k, right-hand side 2 + 3k
  for (int k = 0; k < 5; ++k) B.set(k, 0, 1.0), B.set(k, 1, double(k)), A.set(k, 0, 2.0 + 3.0 * k);
  CaptureStderr();
  const cmatrix X = cmatrix(3, 1, rhs) / cmatrix(3), one = column({{6, 3}}) / column({{0, 3}});
  const cmatrix line = A / B, S = cmatrix(2, 1, rhs) / cmatrix(2, 2, singular);
  EXPECT_EQ(GetCapturedStderr(),
            "return from dgesv 0\nreturn from dgesv 0\nreturn from dgels 0\nreturn from dgesv 2\n");
  EXPECT_EQ(entries(X), (Entries{rhs[0], rhs[1], rhs[2]}));
  EXPECT_NEAR(std::abs(one.value(0, 0) - cd(1, -2)), 0.0, 1e-15);
  EXPECT_EQ(shape(line), "2x1");
  EXPECT_NEAR(std::abs(line.value(0, 0) - 2.0) + std::abs(line.value(1, 0) - 3.0), 0.0, 1e-13);
  EXPECT_EQ(B.value(4, 1), cd(4, 0)) << "the operands are not overwritten";
  EXPECT_EQ(A.value(4, 0), cd(14, 0));
  EXPECT_EQ(shape(S), "2x1") << "the flow goes on with what LAPACK left";
  CaptureStderr();  // refused shapes: the empty matrix and a line naming them
  const cmatrix r1 = numbered(2, 2) / numbered(3, 2), r2 = numbered(2, 1) / numbered(2, 3),
                r3 = cmatrix() / cmatrix();
  EXPECT_EQ(shape(r1) + shape(r2) + shape(r3), "0x00x00x0");
  EXPECT_EQ(GetCapturedStderr(),
            "cannot solve (2x2)/(3x2)\ncannot solve (2x1)/(2x3)\ncannot solve (0x0)/(0x0)\n");
}

}  // namespace
