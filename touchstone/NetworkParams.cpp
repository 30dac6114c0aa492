// Whole S-parameter matrices as cmatrix, and the network conversions: S/Y/Z with a real
// reference impedance, Y, Z, H and G data to S at per-port references, renormalisation,
// mixed-mode data to single-ended ports. Every conversion is a left division (B / A
// solves A X = B) or a product: no matrix is ever inverted explicitly.
#include <cmath>

#include "TouchstoneCore.h"
#include "TouchstoneStandard.h"

namespace brevo {

namespace {

// S(i, j) at row i-1, column j-1.
template <typename Lookup>
cmatrix matrixView(int ports, Lookup entry) {
  cmatrix m(ports);
  for (int i = 1; i <= ports; ++i)
    for (int j = 1; j <= ports; ++j) m.set(i - 1, j - 1, entry(i, j));
  return m;
}

// The first four conversions need a square, non-empty matrix and a positive reference
// impedance (NaN fails the comparison as well).
bool convertible(const cmatrix& m, double z0) {
  return m.Rows() >= 1 && m.Rows() == m.Columns() && z0 > 0.0;
}

// X with A X = B by LU, quietly; the empty matrix when A is singular or X is not finite.
cmatrix solvedFinite(const cmatrix& b, const cmatrix& a) {
  int status = 0;
  cmatrix x = b.solve(a, nullptr, &status);
  if (status != 0 || x.Rows() != a.Rows() || x.Columns() != b.Columns()) return {};
  for (int i = 0; i < x.Rows(); ++i)
    for (int j = 0; j < x.Columns(); ++j)
      if (const std::complex<double> z = x.value(i, j);
          !std::isfinite(z.real()) || !std::isfinite(z.imag()))
        return {};
  return x;
}

// An n x n matrix held row by row, entry (i, j) at m[i * n + j], and back.
cmatrix fromRows(const std::vector<std::complex<double>>& m, int n) {
  cmatrix r(n, n, nullptr);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      r.set(i, j,
            m[static_cast<std::size_t>(i) * static_cast<std::size_t>(n) +
              static_cast<std::size_t>(j)]);
  return r;
}
void toRows(const cmatrix& x, std::vector<std::complex<double>>& m) {
  const auto n = static_cast<std::size_t>(x.Rows());
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      m[i * n + j] = x.value(static_cast<int>(i), static_cast<int>(j));
}

}  // namespace

cmatrix Sparams::Value(int k) const {
  return matrixView(Size(), [&](int i, int j) { return matrixEntry(k, i, j); });
}

cmatrix Sparams::Value(double f, int extrap) const {
  return matrixView(Size(), [&](int i, int j) { return matrixEntry(f, i, j, extrap); });
}

// Y = (1/z0) (I + S)^-1 (I - S)
cmatrix S2Y(cmatrix S, double z0) {
  if (!convertible(S, z0)) return {};
  const cmatrix I(S.Rows());
  const cmatrix A = I + S;
  const cmatrix B = I - S;
  return (B / A) * (1.0 / z0);
}

// S = (I + z0 Y)^-1 (I - z0 Y)
cmatrix Y2S(cmatrix Y, double z0) {
  if (!convertible(Y, z0)) return {};
  const cmatrix I(Y.Rows());
  const cmatrix A = I + Y * z0;
  const cmatrix B = I - Y * z0;
  return B / A;
}

// Z = z0 (I - S)^-1 (I + S)
cmatrix S2Z(cmatrix S, double z0) {
  if (!convertible(S, z0)) return {};
  const cmatrix I(S.Rows());
  const cmatrix A = I - S;
  const cmatrix B = I + S;
  return (B / A) * z0;
}

// S = (I + Z/z0)^-1 (Z/z0 - I)
cmatrix Z2S(cmatrix Z, double z0) {
  if (!convertible(Z, z0)) return {};
  const cmatrix I(Z.Rows());
  const cmatrix A = I + Z * (1.0 / z0);
  const cmatrix B = Z * (1.0 / z0) - I;
  return B / A;
}

// The solver refuses shapes it cannot take ("cannot solve", empty result).
cmatrix Y2Z(cmatrix Y) { return cmatrix(Y.Rows()) / Y; }

cmatrix Z2Y(cmatrix Z) { return cmatrix(Z.Rows()) / Z; }

cmatrix toScattering(char parameter, const cmatrix& m, const std::vector<double>& ref) {
  const int n = m.Rows();
  if (parameter == 'S') return m;
  // The data as C_V V + C_I I = 0.
  cmatrix cv(n, n, nullptr), ci(n, n, nullptr);
  switch (parameter) {
    case 'Z':
      for (int i = 0; i < n; ++i) {
        cv.set(i, i, 1.0);
        for (int j = 0; j < n; ++j) ci.set(i, j, -m.value(i, j));
      }
      break;
    case 'Y':
      for (int i = 0; i < n; ++i) {
        ci.set(i, i, 1.0);
        for (int j = 0; j < n; ++j) cv.set(i, j, -m.value(i, j));
      }
      break;
    case 'H':
    case 'G': {
      if (n != 2) return {};
      // H: V1 = h11 I1 + h12 V2, I2 = h21 I1 + h22 V2; G the same with V and I swapped.
      cmatrix& v = parameter == 'H' ? cv : ci;
      cmatrix& c = parameter == 'H' ? ci : cv;
      v.set(0, 0, 1.0), v.set(0, 1, -m.value(0, 1)), v.set(1, 1, -m.value(1, 1));
      c.set(0, 0, -m.value(0, 0)), c.set(1, 0, -m.value(1, 0)), c.set(1, 1, 1.0);
      break;
    }
    default:
      return {};
  }
  // S = -(C_V D - C_I D^-1)^-1 (C_V D + C_I D^-1), D = diag(sqrt(ref)).
  cmatrix a(n, n, nullptr), b(n, n, nullptr);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double d = std::sqrt(ref[static_cast<std::size_t>(j)]);
      a.set(i, j, cv.value(i, j) * d - ci.value(i, j) / d);
      b.set(i, j, cv.value(i, j) * d + ci.value(i, j) / d);
    }
  const cmatrix x = solvedFinite(b, a);
  if (x.Rows() == 0) return {};
  cmatrix s(n, n, nullptr);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) s.set(i, j, -x.value(i, j));
  return s;
}

cmatrix renormalised(const cmatrix& s, const std::vector<double>& from,
                     const std::vector<double>& to) {
  const int n = s.Rows();
  const auto N = static_cast<std::size_t>(n);
  std::vector<double> gamma(N), p(N);
  for (std::size_t i = 0; i < N; ++i) {
    gamma[i] = (from[i] - to[i]) / (from[i] + to[i]);
    p[i] = (from[i] + to[i]) / (2 * std::sqrt(from[i] * to[i]));
  }
  // M = (G + S)(I + G S)^-1, solved as (I + G S)^T M^T = (G + S)^T.
  cmatrix a(n, n, nullptr), b(n, n, nullptr);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double g = gamma[static_cast<std::size_t>(i)];
      a.set(j, i, (i == j ? 1.0 : 0.0) + g * s.value(i, j));
      b.set(j, i, (i == j ? g : 0.0) + s.value(i, j));
    }
  const cmatrix x = solvedFinite(b, a);
  if (x.Rows() == 0) return {};
  cmatrix r(n, n, nullptr);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      r.set(i, j, p[static_cast<std::size_t>(i)] * x.value(j, i) / p[static_cast<std::size_t>(j)]);
  return r;
}

cmatrix singleEnded(const cmatrix& mixed, const cmatrix& modes) {
  return modes.t() * (mixed * modes);
}

bool toScattering(char parameter, std::vector<std::complex<double>>& m, int n,
                  const std::vector<double>& ref) {
  if (parameter == 'S') return true;
  const cmatrix s = toScattering(parameter, fromRows(m, n), ref);
  if (s.Rows() == 0) return false;
  toRows(s, m);
  return true;
}

bool renormalise(std::vector<std::complex<double>>& s, int n, const std::vector<double>& from,
                 const std::vector<double>& to) {
  const cmatrix r = renormalised(fromRows(s, n), from, to);
  if (r.Rows() == 0) return false;
  toRows(r, s);
  return true;
}

}  // namespace brevo
