// Whole S-parameter matrices as cmatrix, and the S/Y/Z conversions with a real
// reference impedance. Every conversion is a left division (B / A solves A X = B): no
// matrix is ever inverted explicitly.
#include <cmath>

#include "TouchstoneCore.h"

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
