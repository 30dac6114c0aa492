// The weighted fits of ln S21: model data recovered, the role of the weights, the square and
// too-short cases, and points that a data weight leaves out. (The fit of a real lane with
// frequencies in hertz is held by the golden example runs, whose coefficients were worked
// out again outside the program.)
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "fit0124Function.h"

namespace {

using cd = std::complex<double>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

cd model(const cd* a, double f) { return a[0] + a[1] * std::sqrt(f) + a[2] * f + a[3] * (f * f); }

struct Points { std::vector<double> f; std::vector<cd> data, weight; };

// Model data at 1..n Hz, small numbers keeping the check on the algebra; the wobble gives
// least squares something to weigh.
Points fromModel(const cd* a, int n, double wobble = 0) {
  Points p;
  for (int i = 1; i <= n; ++i) {
    p.f.push_back(i);
    p.data.push_back(model(a, i) + wobble * cd(std::sin(3.0 * i), 2 * std::cos(5.0 * i)));
    p.weight.push_back(1.0);
  }
  return p;
}

// which: 0 fitW0124, 1 fitW012, 2 fitC0124 (each point weighted with exp(data)).
int fit(int which, const Points& p, cd* coef, int n) {
  if (which == 0) return fitW0124(p.f.data(), p.data.data(), p.weight.data(), n, coef);
  if (which == 1) return fitW012(p.f.data(), p.data.data(), p.weight.data(), n, coef);
  return fitC0124(p.f.data(), p.data.data(), n, coef);
}
int fit(int which, const Points& p, cd* coef) {
  return fit(which, p, coef, static_cast<int>(p.f.size()));
}

double relative(cd got, cd want) { return std::abs(got - want) / std::max(std::abs(want), 1e-300); }

const cd kA[4] = {{-0.1, 0.2}, {-0.03, -0.5}, {0.02, -1.5}, {-0.004, 0.01}};

TEST(Fit, RecoversModelCoefficients) {
  const cd a3[4] = {kA[0], kA[1], kA[2], 0};
  const struct { int which, n; const char* status; } cases[] = {
      {0, 10, "return from dgels 0\n"}, {1, 10, "return from dgels 0\n"}, {0, 4, "return from dgesv 0\n"}};
  for (const auto& c : cases) {   // a4 of the three-term fit is exactly 0
    const cd* a = c.which ? a3 : kA;
    cd coef[4] = {9, 9, 9, 9};
    CaptureStderr();
    EXPECT_EQ(fit(c.which, fromModel(a, c.n), coef), 0);
    EXPECT_EQ(GetCapturedStderr(), c.status);
    for (int k = 0; k < 4; ++k) EXPECT_LT(relative(coef[k], a[k]), 1e-10) << c.which << " a" << k;
    EXPECT_TRUE(c.which == 0 || coef[3] == cd(0, 0)) << coef[3];
  }
}

TEST(Fit, ZeroWeightRemovesThePointAndACommonFactorChangesNothing) {
  const auto close = [](const cd* got, const cd* want) {
    for (int k = 0; k < 4; ++k)
      EXPECT_LT(std::abs(got[k] - want[k]), 1e-9 * std::abs(want[k]) + 1e-15) << "a" << k;
  };
  for (int which : {0, 1}) {
    Points all = fromModel(kA, 12, 0.01), fewer = all, unequal = all;
    all.weight[5] = 0.0;
    fewer.f.erase(fewer.f.begin() + 5);
    for (auto* v : {&fewer.data, &fewer.weight}) v->erase(v->begin() + 5);
    for (int i = 0; i < 12; ++i) unequal.weight[i] = cd(1.0 + 0.1 * i, 0.05 * i);
    cd withZero[4], without[4], reference[4];
    CaptureStderr();
    fit(which, all, withZero);
    fit(which, fewer, without);
    close(withZero, without);
    fit(which, unequal, reference);
    for (cd factor : {cd(0, 1), cd(5, 0), cd(3, -4), cd(1e-6, 2e-6)}) {
      Points q = unequal;
      for (cd& w : q.weight) w *= factor;
      cd coef[4];
      fit(which, q, coef);
      close(coef, reference);
    }
    GetCapturedStderr();
  }
}

// Vectors of exactly n values: no fit may read beyond them (AddressSanitizer builds see it).
TEST(Fit, FewerPointsThanCoefficientsGiveAMessageAndNaN) {
  const struct { int which, n; const char* message; } cases[] = {
      {0, 0, "fit needs at least 4 points, got 0\n"}, {0, 3, "fit needs at least 4 points, got 3\n"},
      {1, 2, "fit needs at least 3 points, got 2\n"}, {1, -1, "fit needs at least 3 points, got -1\n"},
      {2, 3, "fit needs at least 4 points, got 3\n"}, {2, 1, "fit needs at least 4 points, got 1\n"}};
  for (const auto& c : cases) {
    const std::size_t count = c.n > 0 ? static_cast<std::size_t>(c.n) : 0;
    const Points p{std::vector<double>(count, 1.0), std::vector<cd>(count, -1.0),
                   std::vector<cd>(count, 1.0)};
    cd coef[4] = {1, 2, 3, 4};
    CaptureStderr();
    EXPECT_EQ(fit(c.which, p, coef, c.n), 0);
    EXPECT_EQ(GetCapturedStderr(), c.message);
    for (int k = 0; k < 4; ++k) {
      const bool nan = std::isnan(coef[k].real()) && std::isnan(coef[k].imag());
      EXPECT_TRUE(c.which == 1 && k == 3 ? coef[k] == cd(0, 0) : nan) << c.message << " a" << k;
    }
  }
}

TEST(Fit, DataWeightedFitIgnoresHeavilyAttenuatedPoints) {
  // A lossy line up to 20 GHz; above it junk near -60 Np, whose weight exp(-60) gives it no say.
  const cd a[4] = {{-0.05, 0}, {-8e-6, -1e-3}, {-2e-11, -6.3e-9}, {1e-22, 0}};
  Points p;
  for (int i = 1; i <= 400; ++i) {
    p.f.push_back(i * 1e8);
    p.data.push_back(i <= 200 ? model(a, i * 1e8) : cd(-60.0 + std::sin(i), 40.0 * std::cos(i)));
  }
  cd coef[4];
  CaptureStderr();
  fit(2, p, coef);
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n");
  for (int i = 0; i < 200; ++i)
    EXPECT_LT(std::abs(model(coef, p.f[i]) - p.data[i]), 1e-8) << "f = " << p.f[i];
  for (int k = 0; k < 3; ++k) EXPECT_LT(relative(coef[k], a[k]), 1e-5) << "a" << k;
}

}  // namespace
