// Continuous phase and impulse responses against values worked out by hand and the
// closed form of the trapezoidal sum.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "TouchstoneCore.h"

namespace {

using cplx = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

TEST(Phc, ContinuesPastPiWithoutAJump) {
  std::vector<cplx> v;
  for (int k = 0; k < 10; ++k) v.push_back(std::polar(1.0, 0.5 * k));
  const std::vector<double> p = phc(10, v.data());
  ASSERT_EQ(p.size(), 10u);
  for (int k = 0; k < 10; ++k) EXPECT_NEAR(p[k], 0.5 * k, 1e-12) << k;
}

TEST(Phc, FallingPhaseAndEdgeValues) {
  std::vector<cplx> v;
  for (int k = 0; k < 40; ++k) v.push_back(std::polar(2.0, 3.0 - 1.1 * k));
  const std::vector<double> p = phc(40, v.data());
  for (int k = 0; k < 40; ++k) EXPECT_NEAR(p[k], 3.0 - 1.1 * k, 1e-9) << k;
  const cplx negative(-1, -0.0);
  EXPECT_DOUBLE_EQ(phc(1, &negative)[0], kPi);  // entry 0 lies in (-pi, pi]
  EXPECT_TRUE(phc(0, v.data()).empty());
  EXPECT_TRUE(phc(-3, v.data()).empty());
}

TEST(Impulse, TooFewValuesLeaveCountAlone) {
  const cplx h[1] = {1};
  int count = -7;
  EXPECT_TRUE(impulse(h, 1, 1.0, &count, 0).empty());
  EXPECT_EQ(count, -7);
}

TEST(Impulse, TwoOnesSampledAtTwiceTheTopFrequency) {
  const cplx h[2] = {1, 1};
  int count = 0;
  const std::vector<double> y = impulse(h, 2, 1.0, &count, 0);
  ASSERT_EQ(count, 4);
  const std::vector<double> want = {1.5, -0.5, 1.5, -0.5};
  ASSERT_EQ(y.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(y[i], want[i], 1e-12) << i;
}

TEST(Impulse, SampleCountFollowsTheTimeStep) {
  std::vector<cplx> h(11, 1.0);
  int count = 0;
  EXPECT_EQ(impulse(h.data(), 11, 10.0, &count, 0.01).size(), 110u);
  EXPECT_EQ(count, 110);
  EXPECT_EQ(impulse(h.data(), 11, 10.0, &count, 0).size(), 22u);  // default: 2 n
}

TEST(Impulse, MatchesTheTrapezoidalSumOfADelay) {
  // A pure delay tau: H(f) = e^(-j 2 pi f tau). Sample i is
  // Re(df (1/2 + sum_k e^(j 2 pi k df (t - tau)))) at t = i dt.
  const int n = 33;
  const double F = 16e9, tau = 0.3e-9, dt = 10e-12;
  const double df = F / (n - 1);
  std::vector<cplx> h;
  for (int k = 0; k < n; ++k) h.push_back(std::exp(cplx(0, -2 * kPi * k * df * tau)));
  int count = 0;
  const std::vector<double> y = impulse(h.data(), n, F, &count, dt);
  ASSERT_EQ(count, static_cast<int>(std::floor(n / (dt * F) + 0.5)));
  for (int i = 0; i < count; ++i) {
    const double t = i * dt;
    double sum = 0.5;
    for (int k = 1; k < n; ++k) sum += std::cos(2 * kPi * k * df * (t - tau));
    EXPECT_NEAR(y[static_cast<std::size_t>(i)], df * sum, 1e-9 * df * n) << i;
  }
}

}  // namespace
