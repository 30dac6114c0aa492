// Weighted least-squares fits of ln S21(f) ~ a0 + a1 sqrt(f) + a2 f + a4 f^2.
//
// Each row of the design matrix and its data value are multiplied by the point's complex
// weight, so the solve minimises sum |w_i|^2 |model(f_i) - data_i|^2. Frequencies stay in
// hertz: the columns then span some twenty orders of magnitude. The Householder QR behind
// the solve is backward stable column by column, so it copes without any scaling; the
// tests check it against a column-scaled solve in long double.
#include "fit0124Function.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "cmatrix.h"

namespace brevo {

namespace {

using cd = std::complex<double>;

// Fewer points than coefficients is under-determined. We say so on the messages stream and
// leave every coefficient NaN + jNaN, so a caller that ignores the log cannot mistake
// the result for a fit; the arrays are not read at all.
bool tooFewPoints(int n, int terms, cd* coef, FILE* messages) {
  if (n >= terms) return false;
  std::fprintf(messages, "fit needs at least %d points, got %d\n", terms, n);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int k = 0; k < 4; ++k) coef[k] = cd(nan, nan);
  return true;
}

// Builds the weighted n x terms design matrix (columns 1, sqrt f, f, f*f) and the
// weighted right-hand side, solves, and copies the terms coefficients out.
void weightedFit(const double* f, const cd* data, const cd* weight, int n, int terms, cd* coef,
                 FILE* messages) {
  const std::size_t rows = static_cast<std::size_t>(n);
  std::vector<cd> design(rows * static_cast<std::size_t>(terms));
  std::vector<cd> y(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    const cd w = weight[i];
    const double x = f[i];
    const double factors[4] = {1.0, std::sqrt(x), x, x * x};
    for (int j = 0; j < terms; ++j) design[static_cast<std::size_t>(j) * rows + i] = factors[j] * w;
    y[i] = w * data[i];
  }
  const cmatrix X = cmatrix(n, 1, y.data()).solve(cmatrix(n, terms, design.data()), messages);
  for (int k = 0; k < terms; ++k) coef[k] = X.value(k, 0);
}

}  // namespace

int fitW0124(const double* f, const std::complex<double>* data, const std::complex<double>* weight,
             int n, std::complex<double>* coef, FILE* messages) {
  if (tooFewPoints(n, 4, coef, messages)) return 0;
  weightedFit(f, data, weight, n, 4, coef, messages);
  return 0;
}

int fitW012(const double* f, const std::complex<double>* data, const std::complex<double>* weight,
            int n, std::complex<double>* coef, FILE* messages) {
  const bool tooFew = tooFewPoints(n, 3, coef, messages);
  coef[3] = cd(0.0, 0.0);
  if (tooFew) return 0;
  weightedFit(f, data, weight, n, 3, coef, messages);
  return 0;
}

// The weight of each point is exp(data[i]) = S21, so a point counts with its transmitted
// power |S21|^2 and heavily attenuated points hardly matter.
int fitC0124(const double* f, const std::complex<double>* data, int n, std::complex<double>* coef,
             FILE* messages) {
  if (tooFewPoints(n, 4, coef, messages)) return 0;
  std::vector<cd> weight(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < weight.size(); ++i) weight[i] = std::exp(data[i]);
  weightedFit(f, data, weight.data(), n, 4, coef, messages);
  return 0;
}

}  // namespace brevo
