// Lookups at any frequency, the finest step and mixed-mode parameters, on small sets built
// entry by entry so that every expected value can be worked out by hand. (Sets whose
// frequencies fall, as the fuzzer found them, are aggressor rows of the whole-run table.)

#include "support.h"

namespace {

Sparams onePort(const std::vector<double>& ghz, const std::vector<cplx>& s) {
  Sparams set(1, static_cast<int>(ghz.size()), "built");
  for (std::size_t k = 0; k < ghz.size(); ++k)
    set.setFreq(static_cast<int>(k), ghz[k] * 1e9), set.set(static_cast<int>(k), 1, 1, s[k]);
  return set;
}

cplx unit(double phase) { return std::polar(1.0, phase); }

// A one-port of entries s at ghz, looked up at fGHz with extrapolation flags extrap.
struct LookupCase {
  const char* name;
  std::vector<double> ghz;
  std::vector<cplx> s;
  double fGHz;
  int extrap;
  cplx want;
};

const std::vector<double> kTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, k123 = {1, 2, 3};
std::vector<cplx> tenPoints(const std::function<cplx(int)>& f) {
  return {f(0), f(1), f(2), f(3), f(4), f(5), f(6), f(7), f(8), f(9)};
}
const std::vector<cplx> kAbc = {{1, 2}, {3, 4}, {5, 6}};

const LookupCase kLookups[] = {
    {"at_last_point", k123, kAbc, 3, 2, {5, 6}},
    {"halfway_between_1_and_j", {1, 2}, {1, {0, 1}}, 1.5, 2, unit(pi / 4)},
    {"phases_3_and_minus_3_meet_at_pi", {1, 2}, {unit(3), unit(-3)}, 1.5, 2, unit(pi)},
    {"magnitude_is_linear", {1, 3}, {1, 3}, 2.5, 2, 2.5},
    {"negative_frequency_as_positive", {1, 2}, {1, {0, 1}}, -1.5, 2, unit(pi / 4)},
    {"hold_below", k123, kAbc, 0.5, 0, {1, 2}},
    {"hold_above", k123, kAbc, 9, 0, {5, 6}},
    {"flag_2_gives_zero_above", k123, kAbc, 3.5, 2, 0},
    // Below the range: magnitude line 0.1 per GHz through 0 (intercept 0 is kept), phase 0.
    {"low_fit_magnitude_line", kTen, tenPoints([](int n) { return cplx(0.1 * (n + 1)); }), 0.5, 2,
     0.05},
    // Magnitudes 1, 3, 5 cross zero above 0 Hz: the line through the origin and the first
    // point gives |S0| f / F0 = 0.5.
    {"low_fit_through_origin", k123, {1, 3, 5}, 0.5, 2, 0.5},
    // A constant phase is the intercept, snapped to a multiple of pi/2.
    {"snap_0_7_to_0", k123, {unit(0.7), unit(0.7), unit(0.7)}, 0.5, 2, 1},
    {"snap_0_8_to_half_pi", k123, {unit(0.8), unit(0.8), unit(0.8)}, 0.5, 2, {0, 1}},
    {"snap_minus_0_8", k123, {unit(-0.8), unit(-0.8), unit(-0.8)}, 0.5, 2, {0, -1}},
    // Halfway between two multiples the lower one is taken: -pi/4 snaps to -pi/2.
    {"snap_minus_quarter_pi_down", {1, 2}, {{1, -1}, {1, -1}}, 0.5, 2, {0, -std::sqrt(2.0)}},
    // Through the origin the grid is pi/4.
    {"origin_snap_0_3_to_0", k123, {unit(0.3), 3.0 * unit(0.3), 5.0 * unit(0.3)}, 0.5, 2, 0.5},
    {"origin_snap_0_4_to_quarter_pi",
     k123,
     {unit(0.4), 3.0 * unit(0.4), 5.0 * unit(0.4)},
     0.5,
     2,
     0.5 * unit(pi / 4)},
    // The window is the first three points plus those up to 4 F0: 9 GHz is left out.
    {"low_window_ends_at_4_f0", {1, 2, 3, 4, 9}, {1, 1, 1, 1, 100}, 0.5, 2, 1},
    // Above the range without flag 2, line fits over the last ten points.
    {"high_fit_phase_falls_through_minus_pi", kTen,
     tenPoints([](int n) { return unit(0.2 - 0.5 * n); }), 11, 1, unit(0.2 - 0.5 * 10)},
    {"high_fit_rise_of_1_5_is_a_fall", kTen, tenPoints([](int n) { return unit(1.5 * n); }), 10.5,
     1, unit(-(2 * pi - 1.5) * 9.5)},
    {"high_fit_magnitude_may_go_negative", {1, 2}, {2, 1}, 4, 1, -1},
    {"single_point_holds", {5}, {{1, 2}}, 7, 1, {1, 2}},
    {"single_point_flag_2_above", {5}, {{1, 2}}, 7, 2, 0},
};

class Lookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, ValueAtFrequency) {
  const LookupCase& t = GetParam();
  const Sparams set = onePort(t.ghz, t.s);
  const cplx got = set.Value(t.fGHz * 1e9, 1, 1, t.extrap);
  EXPECT_LT(std::abs(got - t.want), 1e-9) << got;
  // Values over a list gives Value's bits at every frequency: on and between the points,
  // just off them on either side (within the distance that takes a point as f's own),
  // outside them, negative and not a number, in no order.
  std::vector<double> list = {t.fGHz * 1e9, -t.fGHz * 1e9, std::nan(""), 0, 50e9};
  const double near = 0.4 * t.ghz.back() * 1e9 * 0.001 / static_cast<double>(t.ghz.size());
  for (double g : t.ghz)
    list.insert(list.end(),
                {g * 1e9, g * 1e9 + 0.3e9, g * 1e9 - near, g * 1e9 + near, g * 1e9 + 2.5 * near});
  const std::vector<cplx> many = set.Values(list, 1, 1, t.extrap);
  ASSERT_EQ(many.size(), list.size());
  for (std::size_t n = 0; n < list.size(); ++n) {
    const cplx one = set.Value(list[n], 1, 1, t.extrap);
    EXPECT_EQ((std::bit_cast<std::array<std::uint64_t, 2>>(many[n])),
              (std::bit_cast<std::array<std::uint64_t, 2>>(one)))
        << list[n];
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Lookup, ::testing::ValuesIn(kLookups), rowName);

TEST(Lookup, PortsOutsideAreNaNAndStepIsTheFinestSpacing) {
  const Sparams s = onePort({1, 2}, {1, 1});
  for (double f : {0.0, 1e9, 1.5e9, 3e9})
    for (auto [i, j] : {std::pair{0, 1}, {1, 0}, {2, 1}, {1, 2}})
      EXPECT_TRUE(std::isnan(s.Value(f, i, j, 2).real()) && std::isnan(s.Value(f, i, j, 2).imag()))
          << f << " " << i << j;
  for (auto [k, i, j] : {std::tuple{-1, 1, 1}, {2, 1, 1}, {0, 0, 1}, {0, 1, 2}})
    EXPECT_TRUE(std::isnan(s.Value(k, i, j).real())) << k << " " << i << "," << j;
  EXPECT_TRUE(std::isnan(Sparams().Value(1e9, 1, 1, 0).real()));
  EXPECT_TRUE(std::isnan(s.Values(std::vector{1.5e9}, 2, 1, 2)[0].imag()));
  EXPECT_EQ(std::vector({onePort({1, 2, 4}, {1, 1, 1}).freqStep(), onePort({5}, {1}).freqStep(),
                         onePort({0, 0.5, 2, 2.25}, {1, 1, 1, 1}).freqStep()}),
            std::vector({1e9, 5e9, 0.25e9}));
}

// 4 ports over 1..10 GHz, entry (i, j) = 1e-4 (10 i + j) + 0.01 k, except (1,2), (3,4) = 0.5
// and (1,4), (3,2) = -0.5 and their transposes: the differential transfer is 1 everywhere.
Sparams fourPort() {
  Sparams s(4, 10, "four");
  for (int k = 0; k < 10; ++k) {
    s.setFreq(k, (k + 1) * 1e9);
    for (int i = 1; i <= 4; ++i)
      for (int j = 1; j <= 4; ++j) s.set(k, i, j, 1e-4 * (10 * i + j) + 1e-2 * k);
    for (auto [i, j, v] : {std::tuple{1, 2, 0.5}, {3, 4, 0.5}, {1, 4, -0.5}, {3, 2, -0.5}})
      s.set(k, i, j, v), s.set(k, j, i, v);
  }
  return s;
}

// fstop in GHz (0: fmax()); count -1: the empty result, the count left alone.
struct MixedCase {
  const char* name;
  int iP, jP, iM, jM, mode;
  double fstop;
  int count;
  std::function<cplx(int)> want;
};

const auto kOne = [](int) { return cplx(1); };

const MixedCase kMixed[] = {
    {"single_ended_is_the_stored_entry", 1, 3, 0, 0, 0, 0, 10,
     [](int k) { return cplx(13e-4 + 1e-2 * k); }},
    {"differential_pair_gives_1", 1, 2, 3, 4, 0, 0, 10, kOne},
    {"transposed_same_for_reciprocal", 2, 1, 4, 3, 0, 0, 10, kOne},
    {"mode_1_grid_of_ten_from_0_hz", 1, 2, 3, 4, 1, 10, 10, kOne},
    {"fstop_one_step_past_fmax_keeps_points", 1, 2, 3, 4, 0, 11, 10, kOne},
    // 1.6 steps past: a grid from 1 GHz of floor(10.6 + 0.5) = 11 points, the last above the range.
    {"fstop_further_is_a_grid_from_f0", 1, 2, 3, 4, 0, 11.6, 11,
     [](int k) { return cplx(k < 10); }},
    {"grid_differential_reflection", 1, 1, 2, 2, 0, 11.6, 11,
     [](int k) { return k >= 10 ? 0 : cplx(0.5 * (33e-4 + 2e-2 * k - 1)); }},
    {"mode_1_grid_of_one_point", 1, 2, 3, 4, 1, 1, 1, kOne},
    {"row_port_0_invalid", 0, 2, 0, 0, 0, 0, -1, kOne},
    {"column_minus_port_5_invalid", 1, 2, 3, 5, 0, 0, -1, kOne},
    {"fstop_below_f0_is_empty", 1, 2, 3, 4, 0, 0.2, -1, kOne},
};

class Mixed : public ::testing::TestWithParam<MixedCase> {};

TEST_P(Mixed, EntriesAndCount) {
  const MixedCase& t = GetParam();
  int count = -7;
  const std::vector<cplx> v =
      fourPort().aParam(t.iP, t.jP, t.iM, t.jM, t.mode, t.fstop * 1e9, &count);
  ASSERT_EQ(std::vector({static_cast<int>(v.size()), count}),
            std::vector({std::max(t.count, 0), t.count < 0 ? -7 : t.count}));
  for (int k = 0; k < t.count; ++k) EXPECT_LT(std::abs(v[k] - t.want(k)), 1e-9) << "entry " << k;
}

INSTANTIATE_TEST_SUITE_P(Cases, Mixed, ::testing::ValuesIn(kMixed), rowName);

TEST(Mixed, LoneMinusPortIsNaNAndEmptySetGivesNothing) {
  const std::vector<cplx> v =
      fourPort().aParam(1, 2, 0, 2, 0, 0, nullptr);  // a lone minus port: NaN
  ASSERT_EQ(v.size(), 10u);
  for (const cplx& z : v) EXPECT_TRUE(std::isnan(z.real()) && std::isnan(z.imag()));
  int count = -7;
  EXPECT_TRUE(Sparams().aParam(1, 1, 0, 0, 0, 0, &count).empty() && count == -7);
}

}  // namespace
