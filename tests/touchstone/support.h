// Helpers of the touchstone tests beyond the shared ones: matrix differences, passivity,
// and the short names the tests use.
#pragma once

#include "GlobalNames.h"
#include "workspace.h"

using cplx = std::complex<double>;
using brevo_test::pi;
inline constexpr double kPi = pi;
using CapturedLog = brevo_test::MemoryStream;
using brevo_test::has;
using brevo_test::readFile;

// Largest entry difference of two matrices; infinity when their shapes differ.
inline double maxDifference(const cmatrix& a, const cmatrix& b) {
  if (a.Rows() != b.Rows() || a.Columns() != b.Columns()) return INFINITY;
  double worst = 0;
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Columns(); ++j)
      worst = std::max(worst, std::abs(a.value(i, j) - b.value(i, j)));
  return worst;
}

// True when no singular value of S exceeds sqrt(1 + tol): (1 + tol) I - S^H S must be
// positive semidefinite, which its Cholesky factorisation finds out.
inline bool passive(const cmatrix& S, double tol) {
  const int n = S.Columns();
  std::vector<cplx> H(static_cast<std::size_t>(n * n)), L(H.size());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      H[i * n + j] = i == j ? 1 + tol : 0;
      for (int k = 0; k < S.Rows(); ++k) H[i * n + j] -= std::conj(S.value(k, i)) * S.value(k, j);
    }
  for (int j = 0; j < n; ++j) {
    double d = H[j * n + j].real();
    for (int k = 0; k < j; ++k) d -= std::norm(L[j * n + k]);
    if (d <= 0) return false;
    L[j * n + j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      cplx s = H[i * n + j];
      for (int k = 0; k < j; ++k) s -= L[i * n + k] * std::conj(L[j * n + k]);
      L[i * n + j] = s / L[j * n + j];
    }
  }
  return true;
}
