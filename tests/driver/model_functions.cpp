// The channel model functions against values worked out by hand or from their physics:
// the sinc of a one-UI pulse, the Butterworth corner, the Gaussian tail.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "channelModel.h"
#include "workspace.h"

namespace {

using brevo_test::pi;
constexpr double kRate = 25.78125e9, kInf = std::numeric_limits<double>::infinity(), T = 1 / kRate;
const double kQ12 = 7.034483825301132;  // root of erfc(q/sqrt 2)/2 = 1e-12, by bisection outside the program
const double kRise = 2 * pi / std::log(4.0);  // a 10-90 % rise time in units of tau

double interpreted(double v, double rate) { return interpretTau(&v, rate), v; }

struct ScalarCase {
  const char* name;
  std::function<double()> compute;
  double want, tolerance;  // absolute; 0 means exactly
};

const ScalarCase kCases[] = {
    // A one-UI rectangle: a sinc with its first null at the rate; the dibit its difference.
    {"pulse_dc", [] { return pulseWeight(0, T); }, 1, 0},
    {"pulse_null_at_rate", [] { return pulseWeight(1 / T, T); }, 0, 1e-15},
    {"pulse_nyquist", [] { return pulseWeight(0.5 / T, T); }, 2 / pi, 1e-15},
    {"dibit_dc", [] { return dibitWeight(0, T); }, 0, 0},
    {"dibit_nyquist", [] { return dibitWeight(0.5 / T, T); }, -4 / pi, 1e-15},
    // Butterworth: 1 with unlimited bandwidth, -3 dB at 1/t for every order.
    {"butter_unlimited", [] { return butterworth(4, 30e9, 0); }, 1, 0},
    {"butter1_corner", [] { return butterworth(1, 1 / 2e-11, 2e-11); }, std::sqrt(0.5), 1e-15},
    {"butter4_corner", [] { return butterworth(4, 1 / 2e-11, 2e-11); }, std::sqrt(0.5), 1e-15},
    {"butter2_octave", [] { return butterworth(2, 2 / 2e-11, 2e-11); }, 1 / std::sqrt(17.0), 1e-15},
    // Device return loss: g0 at DC, total reflection stays total, 3 dB at the corner.
    {"rl_dc", [] { return deviceRL(0, -0.161, 3e10); }, 0.161, 1e-15},
    {"rl_total", [] { return deviceRL(7e9, 1, 3e10); }, 1, 1e-15},
    {"rl_corner", [] { return deviceRL(3e10, 0.2, 3e10); }, std::sqrt(0.52), 1e-15},
    // tau: rise times beat bandwidths; the size decides the unit.
    {"tau_unlimited", [] { return tau(0, 0, kRate); }, 0, 0},
    {"tau_relative_bw", [] { return tau(0, 0.75, kRate); }, 1 / (0.75 * kRate), 1e-25},
    {"tau_absolute_bw", [] { return tau(0, 20e9, kRate); }, 1 / 20e9, 1e-25},
    {"tau_100_is_relative", [] { return tau(0, 100, 1e9); }, 1e-11, 1e-25},
    {"tau_negative_bw", [] { return tau(0, -0.5, 1e9); }, 2e-9, 1e-22},
    {"tau_rise_seconds", [] { return tau(10e-12, 0.75, kRate); }, 10e-12 * kRise, 1e-24},
    {"tau_rise_ui", [] { return tau(0.3, 0, 25e9); }, 0.3 * kRise / 25e9, 1e-24},
    {"itau_small", [] { return interpreted(0.005, 2); }, 0.005 / std::log(4.0) * pi, 1e-15},
    {"itau_relative", [] { return interpreted(1, 25e9); }, 1 / 25e9, 1e-24},
    {"itau_large", [] { return interpreted(200, 25e9); }, 1 / 200.0, 1e-18},
    // Q and BER: the Gaussian tail of NRZ and PAM4.
    {"q_1e_minus_12", [] { return Q(1e-12, 2); }, kQ12, 2e-4},
    {"q_written_as_1e12", [] { return Q(1e12, 2) - Q(1e-12, 2); }, 0, 0},
    {"q_half", [] { return Q(0.5, 2); }, 0, 0},
    {"q_zero_ber", [] { return Q(0, 2); }, kInf, 0},
    {"q_pam1", [] { return Q(1e-12, 1); }, kInf, 0},
    {"ber_zero_q_pam4", [] { return BER(0, 4); }, 0.75, 0},
    {"ber_inverse_nrz", [] { return BER(Q(1e-12, 2), 2) / 1e-12; }, 1, 1e-3},
    {"ber_inverse_pam4", [] { return BER(Q(1e-6, 4), 4) / 1e-6; }, 1, 1e-3},
    {"ber_inverse_above_half", [] { return BER(Q(1 - 1e-3, 2), 2) / 1e-3; }, 1, 1e-3},
    {"ber_at_true_q", [] { return BER(kQ12, 2) / 1e-12; }, 1, 1e-9},
};

class ModelValue : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(ModelValue, MatchesHandValue) {
  const ScalarCase& c = GetParam();
  if (c.tolerance == 0) {
    EXPECT_EQ(c.compute(), c.want);
  } else {
    EXPECT_NEAR(c.compute(), c.want, c.tolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(Models, ModelValue, ::testing::ValuesIn(kCases), rowName);

}  // namespace
