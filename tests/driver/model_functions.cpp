// The channel model functions against values worked out by hand or from their physics, at
// the edges the example runs do not reach (their pulse weights, filters, Q and BER were
// worked out again outside the program): unlimited filters, device return loss, the units
// of rise times and bandwidths, BERs written oddly, and where no Q exists.

#include "channelModel.h"
#include "workspace.h"

namespace {

using brevo_test::pi;
constexpr double kRate = 25.78125e9, kInf = std::numeric_limits<double>::infinity();
const double kRise = 2 * pi / std::log(4.0);  // a 10-90 % rise time in units of tau

double interpreted(double v, double rate) { return interpretTau(&v, rate), v; }

struct ScalarCase {
  const char* name;
  std::function<double()> compute;
  double want, tolerance;
};  // 0: exactly

const ScalarCase kCases[] = {
    // Butterworth: 1 with unlimited bandwidth, -3 dB at 1/t.
    {"butter_unlimited", [] { return butterworth(4, 30e9, 0); }, 1, 0},
    {"butter4_corner", [] { return butterworth(4, 1 / 2e-11, 2e-11); }, std::sqrt(0.5), 1e-15},
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
    {"q_written_as_1e12", [] { return Q(1e12, 2) - Q(1e-12, 2); }, 0, 0},
    {"q_half", [] { return Q(0.5, 2); }, 0, 0},
    {"q_zero_ber", [] { return Q(0, 2); }, kInf, 0},
    {"q_pam1", [] { return Q(1e-12, 1); }, kInf, 0},
    {"ber_zero_q_pam4", [] { return BER(0, 4); }, 0.75, 0},
    {"ber_inverse_pam4", [] { return BER(Q(1e-6, 4), 4) / 1e-6; }, 1, 1e-3},
    {"ber_inverse_above_half", [] { return BER(Q(1 - 1e-3, 2), 2) / 1e-3; }, 1, 1e-3},
};

class ModelValue : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(ModelValue, MatchesHandValue) {
  const ScalarCase& c = GetParam();
  if (c.tolerance == 0)
    EXPECT_EQ(c.compute(), c.want);
  else
    EXPECT_NEAR(c.compute(), c.want, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Models, ModelValue, ::testing::ValuesIn(kCases), rowName);

}  // namespace
