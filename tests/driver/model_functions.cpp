// The channel model functions against values worked out by hand or from their
// physics (closed forms of the sinc, the Butterworth corner, the Gaussian tail).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <string>

#include "channelModel.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kRate = 25.78125e9;

struct ScalarCase {
  const char* name;
  std::function<double()> compute;
  double expected;
  double tolerance;   // absolute; 0 means exactly equal
};

void PrintTo(const ScalarCase& c, std::ostream* os) { *os << c.name; }

class ModelValue : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(ModelValue, MatchesHandValue) {
  const ScalarCase& c = GetParam();
  const double got = c.compute();
  if (c.tolerance == 0)
    EXPECT_EQ(got, c.expected) << c.name;
  else
    EXPECT_NEAR(got, c.expected, c.tolerance) << c.name;
}

const double T = 1 / kRate;
// The true root of erfc(q/sqrt 2)/2 = 1e-12, found by bisection outside the program.
const double kQ12 = 7.034483825301132;

const ScalarCase kCases[] = {
    // A one-UI rectangle: sinc with its first null at the rate.
    {"pulse_dc", [] { return pulseWeight(0, T); }, 1, 0},
    {"pulse_null_at_rate", [] { return pulseWeight(1 / T, T); }, 0, 1e-15},
    {"pulse_nyquist", [] { return pulseWeight(0.5 / T, T); }, 2 / kPi, 1e-15},
    {"dibit_dc", [] { return dibitWeight(0, T); }, 0, 0},
    {"dibit_dc_zero_T", [] { return dibitWeight(0, 0); }, 0, 0},
    {"dibit_nyquist", [] { return dibitWeight(0.5 / T, T); }, -4 / kPi, 1e-15},
    {"dibit_at_rate", [] { return dibitWeight(1 / T, T); }, 0, 1e-15},
    // Butterworth: 1 with an unlimited bandwidth, -3 dB at 1/t for every order.
    {"butter_unlimited", [] { return butterworth(4, 30e9, 0); }, 1, 0},
    {"butter1_corner", [] { return butterworth(1, 1 / 2e-11, 2e-11); }, std::sqrt(0.5), 1e-15},
    {"butter2_corner", [] { return butterworth(2, 1 / 2e-11, 2e-11); }, std::sqrt(0.5), 1e-15},
    {"butter4_corner", [] { return butterworth(4, 1 / 2e-11, 2e-11); }, std::sqrt(0.5), 1e-15},
    {"butter2_octave", [] { return butterworth(2, 2 / 2e-11, 2e-11); }, 1 / std::sqrt(17.0), 1e-15},
    // Device return loss: g0 at DC, total reflection stays total, 3 dB at the corner.
    {"rl_dc", [] { return deviceRL(0, -0.161, 3e10); }, 0.161, 1e-15},
    {"rl_total", [] { return deviceRL(7e9, 1, 3e10); }, 1, 1e-15},
    {"rl_corner_matched", [] { return deviceRL(3e10, 0, 3e10); }, std::sqrt(0.5), 1e-15},
    {"rl_corner", [] { return deviceRL(3e10, 0.2, 3e10); }, std::sqrt(0.52), 1e-15},
    // tau: rise times beat bandwidths; the size decides the unit.
    {"tau_unlimited", [] { return tau(0, 0, kRate); }, 0, 0},
    {"tau_relative_bw", [] { return tau(0, 0.75, kRate); }, 1 / (0.75 * kRate), 1e-25},
    {"tau_absolute_bw", [] { return tau(0, 20e9, kRate); }, 1 / 20e9, 1e-25},
    {"tau_100_is_relative", [] { return tau(0, 100, 1e9); }, 1e-11, 1e-25},
    {"tau_negative_bw", [] { return tau(0, -0.5, 1e9); }, 2e-9, 1e-22},
    {"tau_rise_seconds", [] { return tau(10e-12, 0.75, kRate); }, 10e-12 * 2 * kPi / std::log(4.0), 1e-24},
    {"tau_rise_seconds_no_bw", [] { return tau(10e-12, 0, kRate); }, 10e-12 * 2 * kPi / std::log(4.0), 1e-24},
    {"tau_rise_ui", [] { return tau(0.3, 0, 25e9); }, 0.3 * 2 * kPi / std::log(4.0) / 25e9, 1e-24},
    // interpretTau, by hand through its three steps.
    {"itau_small", [] { double v = 0.005; interpretTau(&v, 2); return v; }, 0.005 / std::log(4.0) * kPi, 1e-15},
    {"itau_relative", [] { double v = 1; interpretTau(&v, 25e9); return v; }, 1 / 25e9, 1e-24},
    {"itau_large", [] { double v = 200; interpretTau(&v, 25e9); return v; }, 1 / 200.0, 1e-18},
    // Q and BER: the Gaussian tail of NRZ and PAM4.
    {"q_1e_minus_12", [] { return Q(1e-12, 2); }, kQ12, 2e-4},
    {"q_written_as_1e12", [] { return Q(1e12, 2) - Q(1e-12, 2); }, 0, 0},
    {"q_negative_ber", [] { return Q(-1e-12, 2) - Q(1e-12, 2); }, 0, 0},
    {"q_half", [] { return Q(0.5, 2); }, 0, 0},
    {"q_zero_ber", [] { return Q(0, 2); }, kInf, 0},
    {"q_pam1", [] { return Q(1e-12, 1); }, kInf, 0},
    {"q_pam0", [] { return Q(1e-12, 0); }, kInf, 0},
    {"ber_zero_q_nrz", [] { return BER(0, 2); }, 0.5, 0},
    {"ber_zero_q_pam4", [] { return BER(0, 4); }, 0.75, 0},
    {"ber_roundtrip_nrz", [] { return BER(Q(1e-12, 2), 2) / 1e-12; }, 1, 1e-3},
    {"ber_roundtrip_pam4", [] { return BER(Q(1e-6, 4), 4) / 1e-6; }, 1, 1e-3},
    {"ber_roundtrip_above_half", [] { return BER(Q(1 - 1e-3, 2), 2) / 1e-3; }, 1, 1e-3},
    {"ber_at_true_q", [] { return BER(kQ12, 2) / 1e-12; }, 1, 1e-9},
};

INSTANTIATE_TEST_SUITE_P(Models, ModelValue, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct FitCase {
  const char* name;
  std::complex<double> a[4];   // a0, a1, a2, a4
  double f;
  std::complex<double> expected;
};

class ModelFit : public ::testing::TestWithParam<FitCase> {};

// Each coefficient multiplies its own power of sqrt(f): only one term is non-zero,
// so a coefficient read from the wrong slot shows at once.
TEST_P(ModelFit, EvaluatesTheLossModel) {
  const FitCase& c = GetParam();
  const std::complex<double> got = fit(c.a, c.f);
  EXPECT_NEAR(got.real(), c.expected.real(), 1e-12) << c.name;
  EXPECT_NEAR(got.imag(), c.expected.imag(), 1e-12) << c.name;
}

const FitCase kFits[] = {
    {"a0_half", {std::log(0.5), 0, 0, 0}, 1e10, 0.5},
    {"a0_phase", {{0, kPi / 2}, 0, 0, 0}, 1e10, {0, 1}},
    {"a1_sqrt_f", {0, -1e-5, 0, 0}, 1e10, std::exp(-1.0)},
    {"a2_linear", {0, 0, -1e-10, 0}, 1e10, std::exp(-1.0)},
    {"a4_square", {0, 0, 0, -1e-20}, 1e10, std::exp(-1.0)},
    {"delay_phase", {0, 0, {0, -2 * kPi * 25e-12}, 0}, 1e10, std::polar(1.0, -2 * kPi * 0.25)},
    {"dc", {0, -1e-5, -1e-10, -1e-20}, 0, 1},
};

INSTANTIATE_TEST_SUITE_P(Models, ModelFit, ::testing::ValuesIn(kFits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ModelConstants, BothAreTheImaginaryUnit) {
  EXPECT_EQ(I, std::complex<double>(0, 1));
  EXPECT_EQ(_I, std::complex<double>(0, 1));
}

}  // namespace
