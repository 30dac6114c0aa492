// Dense complex matrix: construction, element access, arithmetic, reshaping, text
// dumps and the left division over LAPACK.
#include "cmatrix.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>
#include <utility>

#include "lapack_bridge.h"
#include "outputFile.h"

namespace brevo {

namespace {

using cd = std::complex<double>;

// Element (i, j) of a column-major array with the given row count. Callers have
// checked the indexes already.
std::size_t at(int i, int j, int rows) {
  return static_cast<std::size_t>(j) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(i);
}

}  // namespace

cmatrix::cmatrix() = default;

// A non-positive size gives the empty matrix: there is no 0xN matrix in this type.
cmatrix::cmatrix(int n) : cmatrix(n, n, nullptr) {
  for (int i = 0; i < rows; ++i) elements[at(i, i, rows)] = 1.0;
}

// Any non-positive count gives the empty matrix (0 x 0, no elements).
cmatrix::cmatrix(int rowCount, int columnCount, const std::complex<double>* source) {
  if (rowCount <= 0 || columnCount <= 0) return;
  rows = rowCount;
  columns = columnCount;
  const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
  if (source)
    elements.assign(source, source + count);
  else
    elements.assign(count, cd(0.0, 0.0));
}

std::complex<double> cmatrix::value(int i, int j) const {
  if (i < 0 || j < 0 || i >= rows || j >= columns)
    return {std::numeric_limits<double>::infinity(), 0.0};
  return elements[at(i, j, rows)];
}

int cmatrix::set(int i, int j, std::complex<double> z) {
  if (i < 0 || j < 0 || i >= rows || j >= columns) return 1;
  elements[at(i, j, rows)] = z;
  return 0;
}

cmatrix cmatrix::operator*(double x) const {
  cmatrix r = *this;
  for (cd& e : r.elements) e *= x;
  return r;
}

cmatrix cmatrix::operator*(std::complex<double> z) const {
  cmatrix r = *this;
  for (cd& e : r.elements) e *= z;
  return r;
}

cmatrix cmatrix::operator+(cmatrix b) const {
  if (rows != b.rows || columns != b.columns) return {};
  for (std::size_t e = 0; e < b.elements.size(); ++e) b.elements[e] = elements[e] + b.elements[e];
  return b;
}

cmatrix cmatrix::operator-(cmatrix b) const {
  if (rows != b.rows || columns != b.columns) return {};
  for (std::size_t e = 0; e < b.elements.size(); ++e) b.elements[e] = elements[e] - b.elements[e];
  return b;
}

cmatrix cmatrix::operator*(cmatrix b) const {
  if (columns != b.rows) return {};
  cmatrix r(rows, b.columns, nullptr);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < b.columns; ++j) {
      cd sum(0.0, 0.0);  // accumulated in ascending k, so results do not depend on blocking
      for (int k = 0; k < columns; ++k)
        sum += elements[at(i, k, rows)] * b.elements[at(k, j, b.rows)];
      r.elements[at(i, j, rows)] = sum;
    }
  }
  return r;
}

cmatrix cmatrix::operator|(cmatrix b) const {
  if (rows != b.rows) return {};
  cmatrix r(rows, columns + b.columns, nullptr);
  // Column-major: the left block and the right block are each one contiguous run.
  std::copy(elements.begin(), elements.end(), r.elements.begin());
  std::copy(b.elements.begin(), b.elements.end(),
            r.elements.begin() + static_cast<std::ptrdiff_t>(elements.size()));
  return r;
}

cmatrix cmatrix::operator++() const { return t(); }

cmatrix cmatrix::t() const {
  cmatrix r(columns, rows, nullptr);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) r.elements[at(j, i, columns)] = elements[at(i, j, rows)];
  return r;
}

cmatrix cmatrix::stretch(int k) const {
  const cmatrix from = k == 0 ? *this : t();  // storage order of the transpose = row order
  return cmatrix(static_cast<int>(from.elements.size()), 1, from.elements.data());
}

// Circulant convolution matrix: column j holds the first column of v spread with a
// stride of a rows and rotated down by j - c rows. The row index is reduced modulo R
// properly, ((j - c + k*a) mod R + R) mod R, so any c (also c > R or negative) acts as a
// rotation. Non-positive R or b leave this matrix empty.
void cmatrix::ripple(const cmatrix& v, int a, int b, int c) {
  const long long R = static_cast<long long>(v.rows) * a;
  if (R <= 0 || b <= 0 || R > std::numeric_limits<int>::max()) {
    *this = cmatrix();
    return;
  }
  cmatrix r(static_cast<int>(R), b, nullptr);
  for (int k = 0; k < v.rows; ++k) {
    const cd entry = v.elements[at(k, 0, v.rows)];
    for (int j = 0; j < b; ++j) {
      const long long row =
          ((static_cast<long long>(j) - c + static_cast<long long>(k) * a) % R + R) % R;
      r.elements[at(static_cast<int>(row), j, r.rows)] = entry;
    }
  }
  *this = std::move(r);
}

void cmatrix::dump(FILE* f, const char* format, int flags) const {
  for (int i = 0; i < rows; ++i) {
    if (flags & 1) std::fprintf(f, "%4d  0 ", i);
    for (int j = 0; j < columns; ++j) {
      const cd z = elements[at(i, j, rows)];
      std::fprintf(f, format, z.real(), z.imag());
    }
    std::fprintf(f, "\n");
  }
}

int cmatrix::dump(const char* directory, const char* name, const char* format, int flags) const {
  const std::string path = std::string(directory ? directory : "") + (name ? name : "");
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  std::fprintf(stderr, "%s\n", path.c_str());
  dump(f, format, flags);
  if (const FileStatus written = finishOutput(f, true); !written.ok()) {
    sayNotWritten(stderr, nullptr, path.c_str(), written);
    return 1;
  }
  return 0;
}

// Left division: X with b * X = *this. A square b is solved by LU (zgesv), a tall b in
// the least-squares sense by QR (zgels), which also wants more equations than right-hand
// sides. Both need this right-hand side to have as many rows as b; a square b with another
// row count and a b wider than tall are refused with the "cannot solve" line as well, so
// LAPACK never sees sizes it cannot take.
cmatrix cmatrix::operator/(cmatrix b) const { return solve(std::move(b), stderr); }

cmatrix cmatrix::solve(cmatrix b, FILE* messages, int* status) const {
  const int aRows = rows, aColumns = columns;
  const bool square = b.rows == b.columns && aRows >= 1 && b.rows == aRows;
  const bool leastSquares = !square && aRows > aColumns && aColumns >= 1 && b.rows == aRows &&
                            b.rows > b.columns && b.columns >= 1;
  if (!square && !leastSquares) {
    if (messages)
      std::fprintf(messages, "cannot solve (%dx%d)/(%dx%d)\n", aRows, aColumns, b.rows, b.columns);
    if (status) *status = -1;
    return {};
  }

  // b is our own copy (taken by value), so LAPACK may overwrite it as its scratch array.
  int info = 0;
  if (square) {
    int n = b.rows, nrhs = aColumns;
    int lda = std::max(1, n), ldb = std::max(1, n);
    std::vector<int> pivots(static_cast<std::size_t>(aRows));
    cmatrix result = *this;
    call_zgesv(&n, &nrhs, b.data(), &lda, pivots.data(), result.data(), &ldb, &info);
    if (messages) std::fprintf(messages, "return from dgesv %d\n", info);
    if (status) *status = info;
    return result;
  }

  int m = b.rows, n = b.columns, nrhs = aColumns;
  int lda = m, ldb = std::max(m, n);
  cmatrix working = *this;  // m x nrhs with m = ldb, since m > n here
  call_zgels("N", &m, &n, &nrhs, b.data(), &lda, working.data(), &ldb, &info);
  if (messages) std::fprintf(messages, "return from dgels %d\n", info);
  if (status) *status = info;
  cmatrix result(n, nrhs, nullptr);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < nrhs; ++j) result.elements[at(i, j, n)] = working.elements[at(i, j, ldb)];
  return result;
}

}  // namespace brevo
