// The weighted fits of ln S21: model data recovered, the square and too-short cases. (The fit of a real lane with frequencies in hertz is held by the golden
// example runs, whose coefficients were worked out again outside the program.)

#include "fit0124Function.h"
#include "workspace.h"

namespace {

using cd = std::complex<double>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

cd model(const cd* a, double f) { return a[0] + a[1] * std::sqrt(f) + a[2] * f + a[3] * (f * f); }

struct Points { std::vector<double> f; std::vector<cd> data, weight; };

// Model data at 1..n Hz, small numbers keeping the check on the algebra.
Points fromModel(const cd* a, int n) {
  Points p;
  for (int i = 1; i <= n; ++i) {
    p.f.push_back(i);
    p.data.push_back(model(a, i));
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
      {0, 10, "return from dgels 0\n"}, {1, 10, "return from dgels 0\n"}, {0, 4, "return from dgesv 0\n"},
      {2, 10, "return from dgels 0\n"}};
  for (const auto& c : cases) {   // a4 of the three-term fit is exactly 0
    const cd* a = c.which == 1 ? a3 : kA;
    cd coef[4] = {9, 9, 9, 9};
    CaptureStderr();
    EXPECT_EQ(fit(c.which, fromModel(a, c.n), coef), 0);
    EXPECT_EQ(GetCapturedStderr(), c.status);
    for (int k = 0; k < 4; ++k) EXPECT_LT(relative(coef[k], a[k]), 1e-10) << c.which << " a" << k;
    EXPECT_TRUE(c.which != 1 || coef[3] == cd(0, 0)) << coef[3];
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

}  // namespace
