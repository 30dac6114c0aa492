// Construction, element access, arithmetic shapes, reshaping and text dumps of cmatrix.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <ostream>
#include <cstdio>
#include <string>
#include <vector>

#include "cmatrix.h"

namespace {

using cd = std::complex<double>;

// Entries whose numbers say where they are: 10*(row+1) + (column+1), imaginary part the
// storage index, so a misplaced entry names its true address.
cmatrix numbered(int rows, int columns) {
  cmatrix m(rows, columns, nullptr);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) m.set(i, j, cd(10 * (i + 1) + (j + 1), j * rows + i));
  return m;
}

std::vector<cd> entries(const cmatrix& m) {  // row after row
  std::vector<cd> out;
  for (int i = 0; i < m.Rows(); ++i)
    for (int j = 0; j < m.Columns(); ++j) out.push_back(m.value(i, j));
  return out;
}

bool isEmpty(const cmatrix& m) { return m.Rows() == 0 && m.Columns() == 0; }

std::string readAll(FILE* f) {
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

TEST(CmatrixConstruct, DataIsTakenColumnByColumn) {
  const cd data[6] = {{1, 0.5}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, -1}};
  const cmatrix m(2, 3, data);
  ASSERT_EQ(m.Rows(), 2);
  ASSERT_EQ(m.Columns(), 3);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 2; ++i) EXPECT_EQ(m.value(i, j), data[2 * j + i]) << i << "," << j;
  EXPECT_EQ(m.value(1, 2), data[5]);
  EXPECT_EQ(m.data()[3], data[3]);  // the storage LAPACK receives is column-major too
}

TEST(CmatrixConstruct, NullDataIdentityAndEmpty) {
  const cmatrix zeros(3, 2, nullptr);
  for (const cd& z : entries(zeros)) EXPECT_EQ(z, cd(0, 0));
  const cmatrix I(3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(I.value(i, j), cd(i == j ? 1 : 0, 0));
  EXPECT_TRUE(isEmpty(cmatrix()));
  EXPECT_TRUE(isEmpty(cmatrix(0)));
  EXPECT_TRUE(isEmpty(cmatrix(-2)));
  EXPECT_TRUE(isEmpty(cmatrix(0, 3, nullptr)));
  EXPECT_TRUE(isEmpty(cmatrix(3, -1, nullptr)));
}

struct Index { int i, j; };

TEST(CmatrixAccess, OutOfRangeReadsInfinityAndSetsNothing) {
  const Index outside[] = {{2, 0}, {0, 3}, {-1, 0}, {0, -1}, {2, 3}, {100, 100}};
  cmatrix m = numbered(2, 3);
  const cmatrix before = m;
  for (const Index& p : outside) {
    const cd v = m.value(p.i, p.j);
    EXPECT_TRUE(std::isinf(v.real()) && v.real() > 0) << p.i << "," << p.j;
    EXPECT_EQ(v.imag(), 0.0);
    EXPECT_EQ(m.set(p.i, p.j, cd(-5, -5)), 1) << p.i << "," << p.j;
  }
  EXPECT_EQ(entries(m), entries(before));
  EXPECT_EQ(m.set(1, 2, cd(7, 8)), 0);
  EXPECT_EQ(m.value(1, 2), cd(7, 8));
  const cd e = cmatrix().value(0, 0);
  EXPECT_TRUE(std::isinf(e.real()));
}

// Shapes of the binary operators, including the refusals that give the empty matrix.
struct ShapeCase {
  const char* name;
  char op;
  int ar, ac, br, bc;
  int rr, rc;  // expected result shape; 0, 0 for the empty matrix
};
void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }

const ShapeCase kShapes[] = {
    {"sum_same_shape", '+', 2, 3, 2, 3, 2, 3},
    {"sum_transposed_shape", '+', 2, 3, 3, 2, 0, 0},
    {"difference_other_rows", '-', 2, 3, 3, 3, 0, 0},
    {"product_2x3_3x4", '*', 2, 3, 3, 4, 2, 4},
    {"product_inner_mismatch", '*', 2, 3, 2, 3, 0, 0},
    {"product_outer", '*', 3, 1, 1, 3, 3, 3},
    {"concat_2x3_2x1", '|', 2, 3, 2, 1, 2, 4},
    {"concat_other_rows", '|', 2, 3, 3, 1, 0, 0},
    {"sum_with_empty", '+', 2, 2, 0, 0, 0, 0},
};

class CmatrixShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(CmatrixShapes, ResultShape) {
  const ShapeCase& c = GetParam();
  const cmatrix a = numbered(c.ar, c.ac);
  const cmatrix b = numbered(c.br, c.bc);
  cmatrix r;
  switch (c.op) {
    case '+': r = a + b; break;
    case '-': r = a - b; break;
    case '*': r = a * b; break;
    case '|': r = a | b; break;
  }
  EXPECT_EQ(r.Rows(), c.rr);
  EXPECT_EQ(r.Columns(), c.rc);
}

INSTANTIATE_TEST_SUITE_P(Table, CmatrixShapes, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CmatrixArithmetic, ValuesWorkedByHand) {
  // [[1, 2j], [3, 4]] and [[1+1j, 0], [1, -1]]
  const cd a[4] = {{1, 0}, {3, 0}, {0, 2}, {4, 0}};
  const cd b[4] = {{1, 1}, {1, 0}, {0, 0}, {-1, 0}};
  const cmatrix A(2, 2, a), B(2, 2, b);
  EXPECT_EQ(entries(A * B), (std::vector<cd>{{1, 3}, {0, -2}, {7, 3}, {-4, 0}}));
  EXPECT_EQ(entries(A + B), (std::vector<cd>{{2, 1}, {0, 2}, {4, 0}, {3, 0}}));
  EXPECT_EQ(entries(A - B), (std::vector<cd>{{0, -1}, {0, 2}, {2, 0}, {5, 0}}));
  EXPECT_EQ(entries(A * 2.0), (std::vector<cd>{{2, 0}, {0, 4}, {6, 0}, {8, 0}}));
  EXPECT_EQ(entries(A * cd(0, 1)), (std::vector<cd>{{0, 1}, {-2, 0}, {0, 3}, {0, 4}}));
  // operands unchanged
  EXPECT_EQ(entries(A), (std::vector<cd>{{1, 0}, {0, 2}, {3, 0}, {4, 0}}));
  EXPECT_EQ(entries(B), (std::vector<cd>{{1, 1}, {0, 0}, {1, 0}, {-1, 0}}));
}

TEST(CmatrixArithmetic, ConcatenationKeepsBothBlocks) {
  const cmatrix a = numbered(2, 3);
  const cd tail[2] = {{-1, 0}, {-2, 0}};
  const cmatrix r = a | cmatrix(2, 1, tail);
  ASSERT_EQ(r.Columns(), 4);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_EQ(r.value(i, j), a.value(i, j));
    EXPECT_EQ(r.value(i, 3), tail[i]);
  }
}

TEST(CmatrixReshape, TransposeIsNotConjugated) {
  cmatrix m = numbered(2, 3);
  m.set(0, 2, cd(1, 2));
  for (const cmatrix& t : {m.t(), ++m}) {
    ASSERT_EQ(t.Rows(), 3);
    ASSERT_EQ(t.Columns(), 2);
    EXPECT_EQ(t.value(2, 0), cd(1, 2));
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_EQ(t.value(j, i), m.value(i, j));
  }
  EXPECT_EQ(m.Rows(), 2);  // ++ leaves its operand alone
}

TEST(CmatrixReshape, Stretch) {
  const cd d[4] = {1, 3, 2, 4};  // [[1, 2], [3, 4]]
  const cmatrix m(2, 2, d);
  const cmatrix s0 = m.stretch(0), s1 = m.stretch(1), s7 = m.stretch(7);
  ASSERT_EQ(s0.Rows(), 4);
  ASSERT_EQ(s0.Columns(), 1);
  EXPECT_EQ(entries(s0), (std::vector<cd>{1, 3, 2, 4}));
  EXPECT_EQ(entries(s1), (std::vector<cd>{1, 2, 3, 4}));
  EXPECT_EQ(entries(s7), entries(s1));
  EXPECT_TRUE(isEmpty(cmatrix().stretch(0)));
}

// ripple: expected matrices written out row by row.
struct RippleCase {
  const char* name;
  std::vector<cd> v;
  int a, b, c;
  int rows;
  std::vector<cd> expected;
};
void PrintTo(const RippleCase& c, std::ostream* os) { *os << c.name; }

const RippleCase kRipples[] = {
    {"circulant_c0", {1, 2, 3}, 1, 3, 0, 3, {1, 3, 2, /**/ 2, 1, 3, /**/ 3, 2, 1}},
    {"shift_up_c1", {1, 2, 3}, 1, 3, 1, 3, {2, 1, 3, /**/ 3, 2, 1, /**/ 1, 3, 2}},
    // c beyond R rotates like c mod R: c = 4 and c = 7 equal c = 1, c = -2 too
    {"c_above_R", {1, 2, 3}, 1, 3, 4, 3, {2, 1, 3, /**/ 3, 2, 1, /**/ 1, 3, 2}},
    {"c_far_above_R", {1, 2, 3}, 1, 3, 7, 3, {2, 1, 3, /**/ 3, 2, 1, /**/ 1, 3, 2}},
    {"c_negative", {1, 2, 3}, 1, 3, -2, 3, {2, 1, 3, /**/ 3, 2, 1, /**/ 1, 3, 2}},
    // stride 2: R = 4, v spread over rows 0 and 2, zeros between
    {"stride_2", {1, 2}, 2, 3, 0, 4, {1, 0, 2, /**/ 0, 1, 0, /**/ 2, 0, 1, /**/ 0, 2, 0}},
    {"more_columns_than_rows", {5, 6}, 1, 3, 0, 2, {5, 6, 5, /**/ 6, 5, 6}},
};

class CmatrixRipple : public ::testing::TestWithParam<RippleCase> {};

TEST_P(CmatrixRipple, Placement) {
  const RippleCase& c = GetParam();
  const cmatrix v(static_cast<int>(c.v.size()), 1, c.v.data());
  cmatrix m = numbered(5, 5);  // rebuilt in place: nothing of it may survive
  m.ripple(v, c.a, c.b, c.c);
  ASSERT_EQ(m.Rows(), c.rows);
  ASSERT_EQ(m.Columns(), c.b);
  EXPECT_EQ(entries(m), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CmatrixRipple, ::testing::ValuesIn(kRipples),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CmatrixRipple, NothingToSpreadGivesEmpty) {
  cmatrix m = numbered(2, 2);
  m.ripple(cmatrix(), 1, 3, 0);
  EXPECT_TRUE(isEmpty(m));
  m = numbered(2, 2);
  m.ripple(numbered(3, 1), 0, 3, 0);
  EXPECT_TRUE(isEmpty(m));
}

TEST(CmatrixDump, StreamFormWithAndWithoutRowNumbers) {
  const cd d[4] = {{1, -1}, {3, 0.5}, {2, 0}, {4, 0}};
  const cmatrix m(2, 2, d);
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  m.dump(f, " %g %g", 0);
  m.dump(f, "[%.1f,%.1f]", 1);
  EXPECT_EQ(readAll(f),
            " 1 -1 2 0\n"
            " 3 0.5 4 0\n"
            "   0  0 [1.0,-1.0][2.0,0.0]\n"
            "   1  0 [3.0,0.5][4.0,0.0]\n");
  std::fclose(f);
}

TEST(CmatrixDump, FileFormJoinsPathAndReports) {
  const std::string dir = ::testing::TempDir();
  const cmatrix m = numbered(1, 2);
  ::testing::internal::CaptureStderr();
  m.dump(dir.c_str(), "cmatrix_dump.txt", "%g %g;", 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), dir + "cmatrix_dump.txt\n");
  FILE* f = std::fopen((dir + "cmatrix_dump.txt").c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(readAll(f), "11 0;12 1;\n");
  std::fclose(f);
  std::remove((dir + "cmatrix_dump.txt").c_str());

  ::testing::internal::CaptureStderr();
  m.dump("/nonexistent-folder/", "x.txt", "%g %g", 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "cannot open /nonexistent-folder/x.txt\n");
}

}  // namespace
