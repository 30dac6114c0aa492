// Lookups at any frequency, the finest step, and mixed-mode parameters, on small sets
// built entry by entry so that every expected value can be worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <string>
#include <vector>

#include "TouchstoneCore.h"

namespace {

using cplx = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// A 1-port set with the given frequencies (GHz) and entries.
Sparams onePort(const std::vector<double>& ghz, const std::vector<cplx>& s) {
  Sparams set(1, static_cast<int>(ghz.size()), "built");
  for (std::size_t k = 0; k < ghz.size(); ++k) {
    set.setFreq(static_cast<int>(k), ghz[k] * 1e9);
    set.set(static_cast<int>(k), 1, 1, s[k]);
  }
  return set;
}

cplx polarRad(double m, double p) { return {m * std::cos(p), m * std::sin(p)}; }

struct LookupCase {
  const char* name;
  std::vector<double> ghz;
  std::vector<cplx> s;
  double fGHz;
  int extrap;
  cplx expected;
};

std::vector<LookupCase> lookupCases() {
  // Ten points 1..10 GHz of magnitude 1 whose phase falls 0.5 rad per point through -pi.
  std::vector<double> tenGHz;
  std::vector<cplx> falling, rising, ramp;
  for (int n = 0; n < 10; ++n) {
    tenGHz.push_back(n + 1);
    falling.push_back(polarRad(1, 0.2 - 0.5 * n));
    rising.push_back(polarRad(1, 1.5 * n));   // tracked as a fall of 2 pi - 1.5 per point
    ramp.push_back({0.1 * (n + 1), 0});       // magnitude 0.1 per GHz, phase 0
  }
  return {
      {"at_first_point", {1, 2, 3}, {{1, 2}, {3, 4}, {5, 6}}, 1, 2, {1, 2}},
      {"at_last_point", {1, 2, 3}, {{1, 2}, {3, 4}, {5, 6}}, 3, 2, {5, 6}},
      {"at_inner_point", {1, 2, 3}, {{1, 2}, {3, 4}, {5, 6}}, 2, 2, {3, 4}},
      {"halfway_between_1_and_j", {1, 2}, {{1, 0}, {0, 1}}, 1.5, 2, polarRad(1, kPi / 4)},
      {"phases_3_and_minus_3_meet_at_pi", {1, 2}, {polarRad(1, 3), polarRad(1, -3)}, 1.5, 2,
       polarRad(1, kPi)},
      {"magnitude_is_linear", {1, 3}, {{1, 0}, {3, 0}}, 2.5, 2, {2.5, 0}},
      {"negative_frequency_as_positive", {1, 2}, {{1, 0}, {0, 1}}, -1.5, 2, polarRad(1, kPi / 4)},
      {"hold_below", {1, 2, 3}, {{1, 2}, {3, 4}, {5, 6}}, 0.5, 0, {1, 2}},
      {"hold_above", {1, 2, 3}, {{1, 2}, {3, 4}, {5, 6}}, 9, 0, {5, 6}},
      {"flag_2_gives_zero_above", {1, 2, 3}, {{1, 2}, {3, 4}, {5, 6}}, 3.5, 2, {0, 0}},
      // Below the range: magnitude line 0.1/GHz through 0 stays ca = 0 >= 0; phase 0.
      {"low_fit_follows_the_magnitude_line", tenGHz, ramp, 0.5, 2, {0.05, 0}},
      // Magnitudes 1, 3, 5 cross zero before 0 Hz: the line through the origin and the
      // first point gives |S0| f / F0 = 0.5 at 0.5 GHz.
      {"low_fit_through_origin_when_intercept_negative", {1, 2, 3}, {{1, 0}, {3, 0}, {5, 0}}, 0.5,
       2, {0.5, 0}},
      // Constant phase: the intercept is the phase, snapped to a multiple of pi/2.
      {"snap_0_7_to_0", {1, 2, 3}, {polarRad(1, 0.7), polarRad(1, 0.7), polarRad(1, 0.7)}, 0.5,
       2, {1, 0}},
      {"snap_0_8_to_half_pi", {1, 2, 3}, {polarRad(1, 0.8), polarRad(1, 0.8), polarRad(1, 0.8)},
       0.5, 2, {0, 1}},
      {"snap_minus_0_8_to_minus_half_pi", {1, 2, 3},
       {polarRad(1, -0.8), polarRad(1, -0.8), polarRad(1, -0.8)}, 0.5, 2, {0, -1}},
      // Through the origin the grid is pi/4.
      {"origin_snap_0_3_to_0", {1, 2, 3}, {polarRad(1, 0.3), polarRad(3, 0.3), polarRad(5, 0.3)},
       0.5, 2, polarRad(0.5, 0)},
      {"origin_snap_0_4_to_quarter_pi", {1, 2, 3},
       {polarRad(1, 0.4), polarRad(3, 0.4), polarRad(5, 0.4)}, 0.5, 2, polarRad(0.5, kPi / 4)},
      // Window: first three points plus those up to 4 F0; the 9 GHz point is left out,
      // so its odd value does not disturb the fit.
      {"low_window_ends_at_four_times_f0", {1, 2, 3, 4, 9}, {1, 1, 1, 1, 100}, 0.5, 2, {1, 0}},
      // Above the range without flag 2: line fits over the last ten points.
      {"high_fit_tracks_a_falling_phase_through_minus_pi", tenGHz, falling, 11, 1,
       polarRad(1, 0.2 - 0.5 * 10)},
      {"high_fit_takes_a_rise_of_1_5_as_a_fall", tenGHz, rising, 10.5, 1,
       polarRad(1, -(2 * kPi - 1.5) * 9.5)},
      {"high_fit_magnitude_line_may_go_negative", {1, 2}, {{2, 0}, {1, 0}}, 4, 1, {-1, 0}},
      {"single_point_holds_everywhere", {5}, {{1, 2}}, 7, 1, {1, 2}},
      {"single_point_below", {5}, {{1, 2}}, 1, 2, {1, 2}},
      {"single_point_flag_2_above", {5}, {{1, 2}}, 7, 2, {0, 0}},
  };
}

class Lookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, ValueAtFrequency) {
  const LookupCase& t = GetParam();
  const Sparams s = onePort(t.ghz, t.s);
  const cplx got = s.Value(t.fGHz * 1e9, 1, 1, t.extrap);
  EXPECT_NEAR(got.real(), t.expected.real(), 1e-9) << got;
  EXPECT_NEAR(got.imag(), t.expected.imag(), 1e-9) << got;
}

INSTANTIATE_TEST_SUITE_P(Cases, Lookup, ::testing::ValuesIn(lookupCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LookupPorts, OutsideThePortsIsNaNAtEveryFrequency) {
  Sparams s(2, 2, "p");
  s.setFreq(0, 1e9);
  s.setFreq(1, 2e9);
  for (double f : {0.0, 1e9, 1.5e9, 3e9}) {
    for (auto [i, j] : {std::pair{0, 1}, {1, 0}, {3, 1}, {1, 3}}) {
      const cplx v = s.Value(f, i, j, 2);
      EXPECT_TRUE(std::isnan(v.real()) && std::isnan(v.imag())) << f << " " << i << "," << j;
    }
  }
  for (auto [k, i, j] : {std::tuple{-1, 1, 1}, {2, 1, 1}, {0, 0, 1}, {0, 1, 3}})
    EXPECT_TRUE(std::isnan(s.Value(k, i, j).real())) << k << " " << i << "," << j;
  EXPECT_TRUE(std::isnan(Sparams().Value(1e9, 1, 1, 0).real()));
}

TEST(LookupStep, FinestSpacingAtMostTheLastFrequency) {
  EXPECT_DOUBLE_EQ(onePort({1, 2, 4}, {1, 1, 1}).freqStep(), 1e9);
  EXPECT_DOUBLE_EQ(onePort({5}, {1}).freqStep(), 5e9);
  EXPECT_DOUBLE_EQ(onePort({0, 0.5, 2, 2.25}, {1, 1, 1, 1}).freqStep(), 0.25e9);
}

// A 4-port set over 1..10 GHz where (1,2) and (3,4) are 0.5 and (1,4) and (3,2) are -0.5:
// the differential transfer (1,2,3,4) is 1 at every point.
Sparams fourPort() {
  Sparams s(4, 10, "four");
  for (int k = 0; k < 10; ++k) {
    s.setFreq(k, (k + 1) * 1e9);
    for (int i = 1; i <= 4; ++i)
      for (int j = 1; j <= 4; ++j) s.set(k, i, j, 1e-4 * (10 * i + j) + 1e-2 * k);
    s.set(k, 1, 2, 0.5);
    s.set(k, 3, 4, 0.5);
    s.set(k, 1, 4, -0.5);
    s.set(k, 3, 2, -0.5);
    s.set(k, 2, 1, 0.5);  // the transpose as well, so the network is reciprocal
    s.set(k, 4, 3, 0.5);
    s.set(k, 4, 1, -0.5);
    s.set(k, 2, 3, -0.5);
  }
  return s;
}

struct MixedCase {
  const char* name;
  int iP, jP, iM, jM, mode;
  double fstop;  // in units of the 1 GHz step; 0 = fmax()
  int count;     // expected entries, -1 for the empty result
  std::function<cplx(int)> expected;  // entry k
};

std::vector<MixedCase> mixedCases() {
  auto one = [](int) { return cplx(1, 0); };
  return {
      {"single_ended_is_the_stored_entry", 1, 3, 0, 0, 0, 0, 10,
       [](int k) { return cplx(13e-4 + 1e-2 * k, 0); }},
      {"differential_pair_gives_1", 1, 2, 3, 4, 0, 0, 10, one},
      {"swapped_rows_and_columns_same_for_reciprocal", 2, 1, 4, 3, 0, 0, 10, one},
      {"mode_1_grid_from_0_hz", 1, 2, 3, 4, 1, 10, 10, one},
      {"fstop_one_step_past_fmax_keeps_file_points", 1, 2, 3, 4, 0, 11, 10, one},
      // 1.6 steps past: a grid from 1 GHz of floor(10.6 + 0.5) = 11 points; the last,
      // at 11 GHz, is above the range and 0.
      {"fstop_further_out_is_a_grid_from_f0", 1, 2, 3, 4, 0, 11.6, 11,
       [](int k) { return k < 10 ? cplx(1, 0) : cplx(0, 0); }},
      // Grid from 1 GHz past the end: S11 + S22 - S12 - S21 at the stored points, where
      // the diagonal grows by 0.01 per point, then 0 above the range.
      {"grid_differential_reflection", 1, 1, 2, 2, 0, 11.6, 11,
       [](int k) {
         if (k >= 10) return cplx(0, 0);
         const double s11 = 11e-4 + 1e-2 * k, s22 = 22e-4 + 1e-2 * k;
         return cplx(0.5 * (s11 + s22 - 0.5 - 0.5), 0);
       }},
      {"row_port_0_invalid", 0, 2, 0, 0, 0, 0, -1, one},
      {"column_minus_port_5_invalid", 1, 2, 3, 5, 0, 0, -1, one},
      {"row_plus_port_5_invalid", 5, 2, 0, 0, 0, 0, -1, one},
      {"fstop_below_f0_is_empty", 1, 2, 3, 4, 0, 0.2, -1, one},
  };
}

class Mixed : public ::testing::TestWithParam<MixedCase> {};

TEST_P(Mixed, EntriesAndCount) {
  const MixedCase& t = GetParam();
  const Sparams s = fourPort();
  int count = -7;
  const std::vector<cplx> v = s.aParam(t.iP, t.jP, t.iM, t.jM, t.mode, t.fstop * 1e9, &count);
  if (t.count < 0) {
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(count, -7) << "count must stay untouched";
    return;
  }
  ASSERT_EQ(static_cast<int>(v.size()), t.count);
  EXPECT_EQ(count, t.count);
  for (int k = 0; k < t.count; ++k) {
    EXPECT_NEAR(v[k].real(), t.expected(k).real(), 1e-9) << "entry " << k;
    EXPECT_NEAR(v[k].imag(), t.expected(k).imag(), 1e-9) << "entry " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Mixed, ::testing::ValuesIn(mixedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MixedNaN, LoneColumnMinusPortMakesEveryEntryNaN) {
  const std::vector<cplx> v = fourPort().aParam(1, 2, 0, 2, 0, 0, nullptr);
  ASSERT_EQ(v.size(), 10u);
  for (const cplx& z : v) EXPECT_TRUE(std::isnan(z.real()) && std::isnan(z.imag()));
}

TEST(MixedEmpty, SetWithoutPointsGivesNothing) {
  int count = -7;
  EXPECT_TRUE(Sparams().aParam(1, 1, 0, 0, 0, 0, &count).empty());
  EXPECT_EQ(count, -7);
}

}  // namespace
