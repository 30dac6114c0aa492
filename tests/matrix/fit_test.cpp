// The weighted fits of ln S21: model data recovered, the square and too-short cases. (The
// fit of a real lane with frequencies in hertz is held by the golden example runs, whose
// coefficients were worked out again outside the program.)

#include "GlobalNames.h"
#include "workspace.h"

namespace {

using cd = std::complex<double>;

// Model data at 1..n Hz (small numbers keep the check on the algebra), weights 1: the fit
// returns the model's coefficients (a4 exactly 0 for the three-term fit), by least squares
// above the coefficient count and a square solve at it; with fewer points a message and NaN.
// The vectors hold exactly n values: no fit may read beyond them (AddressSanitizer sees it).
// which: 0 fitW0124, 1 fitW012, 2 fitC0124 (each point weighted with exp(data)).
TEST(Fit, ModelCoefficientsOrAMessageAndNaN) {
  const cd a[4] = {{-0.1, 0.2}, {-0.03, -0.5}, {0.02, -1.5}, {-0.004, 0.01}};
  const struct {
    int which, n;
    const char* said;
  } cases[] = {{0, 10, "return from dgels 0\n"},
               {1, 10, "return from dgels 0\n"},
               {2, 10, "return from dgels 0\n"},
               {0, 4, "return from dgesv 0\n"},
               {0, 0, "fit needs at least 4 points, got 0\n"},
               {0, 3, "fit needs at least 4 points, got 3\n"},
               {1, 2, "fit needs at least 3 points, got 2\n"},
               {1, -1, "fit needs at least 3 points, got -1\n"},
               {2, 3, "fit needs at least 4 points, got 3\n"}};
  for (const auto& c : cases) {
    const int n = std::max(c.n, 0), terms = c.which == 1 ? 3 : 4;
    std::vector<double> f(n);
    std::vector<cd> data(n), weight(n, 1.0);
    for (int i = 0; i < n; ++i)
      f[i] = i + 1, data[i] = a[0] + a[1] * std::sqrt(f[i]) + a[2] * f[i] +
                              (terms == 4 ? a[3] * f[i] * f[i] : 0.0);
    cd coef[4] = {9, 9, 9, 9};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(c.which == 0   ? fitW0124(f.data(), data.data(), weight.data(), c.n, coef)
              : c.which == 1 ? fitW012(f.data(), data.data(), weight.data(), c.n, coef)
                             : fitC0124(f.data(), data.data(), c.n, coef),
              0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.said);
    for (int k = 0; k < 4; ++k)
      EXPECT_TRUE(k >= terms    ? coef[k] == cd(0, 0)
                  : c.n < terms ? std::isnan(coef[k].real()) && std::isnan(coef[k].imag())
                                : std::abs(coef[k] - a[k]) < 1e-10 * std::abs(a[k]))
          << c.which << " " << c.n << " a" << k;
  }
}

}  // namespace
