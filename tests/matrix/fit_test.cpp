// The weighted fits of ln S21: reproduction of model data, the role of the weights, the
// square and under-determined cases, and accuracy on realistic unscaled frequencies.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <complex>
#include <ostream>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "fit0124Function.h"

namespace {

using cd = std::complex<double>;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

cd model(const cd* a, double f) { return a[0] + a[1] * std::sqrt(f) + a[2] * f + a[3] * (f * f); }

struct Points {
  std::vector<double> f;
  std::vector<cd> data, weight;
};

Points fromModel(const cd* a, std::vector<double> f) {
  Points p{std::move(f), {}, {}};
  for (double x : p.f) p.data.push_back(model(a, x));
  p.weight.assign(p.f.size(), 1.0);
  return p;
}

// Frequencies 1..n hertz, as small numbers keep the check on the algebra, not on rounding.
std::vector<double> oneTo(int n) {
  std::vector<double> f;
  for (int i = 1; i <= n; ++i) f.push_back(i);
  return f;
}

double relativeDifference(cd got, cd want) {
  return std::abs(got - want) / std::max(std::abs(want), 1e-300);
}

TEST(Fit, ReproducesModelData) {
  const cd a[4] = {{-0.1, 0.2}, {-0.03, -0.5}, {0.02, -1.5}, {-0.004, 0.01}};
  Points p = fromModel(a, oneTo(10));
  cd coef[4];
  CaptureStderr();
  EXPECT_EQ(fitW0124(p.f.data(), p.data.data(), p.weight.data(), 10, coef), 0);
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n");
  for (int k = 0; k < 4; ++k) EXPECT_LT(relativeDifference(coef[k], a[k]), 1e-10) << "a" << k;

  const cd a3[4] = {{-0.1, 0.2}, {-0.03, -0.5}, {0.02, -1.5}, {0, 0}};
  p = fromModel(a3, oneTo(10));
  cd coef3[4] = {9, 9, 9, 9};
  CaptureStderr();
  EXPECT_EQ(fitW012(p.f.data(), p.data.data(), p.weight.data(), 10, coef3), 0);
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n");
  for (int k = 0; k < 3; ++k) EXPECT_LT(relativeDifference(coef3[k], a3[k]), 1e-10) << "a" << k;
  EXPECT_EQ(coef3[3], cd(0, 0));

  // data with a real f^2 term: the three-term fit still leaves a4 exactly zero
  p = fromModel(a, oneTo(10));
  CaptureStderr();
  fitW012(p.f.data(), p.data.data(), p.weight.data(), 10, coef3);
  GetCapturedStderr();
  EXPECT_EQ(coef3[3], cd(0, 0));
}

// Model data with a deterministic wobble, so that least squares has something to weigh.
Points wobbly(int n) {
  const cd a[4] = {{-0.2, 0.1}, {-0.05, -0.3}, {0.01, -0.8}, {-0.002, 0.003}};
  Points p = fromModel(a, oneTo(n));
  for (int i = 0; i < n; ++i) p.data[i] += cd(0.01 * std::sin(3.0 * i), 0.02 * std::cos(5.0 * i));
  return p;
}

using FitFunction =
    std::function<int(const double*, const cd*, const cd*, int, cd*)>;

struct FitVariant {
  const char* name;
  FitFunction fit;
  int terms;
};

const FitVariant kVariants[] = {{"four_terms", fitW0124, 4}, {"three_terms", fitW012, 3}};

class FitWeights : public ::testing::TestWithParam<FitVariant> {};

TEST_P(FitWeights, ZeroWeightEqualsLeavingThePointOut) {
  const FitVariant& v = GetParam();
  Points all = wobbly(12);
  all.weight[5] = 0.0;
  Points fewer = all;
  fewer.f.erase(fewer.f.begin() + 5);
  fewer.data.erase(fewer.data.begin() + 5);
  fewer.weight.erase(fewer.weight.begin() + 5);
  cd withZero[4], without[4];
  CaptureStderr();
  v.fit(all.f.data(), all.data.data(), all.weight.data(), 12, withZero);
  v.fit(fewer.f.data(), fewer.data.data(), fewer.weight.data(), 11, without);
  GetCapturedStderr();
  for (int k = 0; k < 4; ++k) EXPECT_LT(std::abs(withZero[k] - without[k]), 1e-9 * std::abs(without[k]) + 1e-15) << k;
}

TEST_P(FitWeights, CommonComplexFactorChangesNothing) {
  const FitVariant& v = GetParam();
  Points p = wobbly(12);
  for (int i = 0; i < 12; ++i) p.weight[i] = cd(1.0 + 0.1 * i, 0.05 * i);  // unequal weights
  cd reference[4];
  CaptureStderr();
  v.fit(p.f.data(), p.data.data(), p.weight.data(), 12, reference);
  for (cd factor : {cd(0, 1), cd(5, 0), cd(3, -4), cd(1e-6, 2e-6)}) {
    Points q = p;
    for (cd& w : q.weight) w *= factor;
    cd coef[4];
    v.fit(q.f.data(), q.data.data(), q.weight.data(), 12, coef);
    for (int k = 0; k < 4; ++k)
      EXPECT_LT(std::abs(coef[k] - reference[k]), 1e-9 * std::abs(reference[k]) + 1e-15)
          << "factor " << factor << ", a" << k;
  }
  GetCapturedStderr();
}

INSTANTIATE_TEST_SUITE_P(Table, FitWeights, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Fit, FourPointsInterpolateThroughTheSquareSolve) {
  Points p = wobbly(4);
  cd coef[4];
  CaptureStderr();
  fitW0124(p.f.data(), p.data.data(), p.weight.data(), 4, coef);
  EXPECT_EQ(GetCapturedStderr(), "return from dgesv 0\n");
  for (int i = 0; i < 4; ++i)
    EXPECT_LT(std::abs(model(coef, p.f[i]) - p.data[i]), 1e-12) << "point " << i;
}

// Fewer points than coefficients: a message and NaN coefficients, and no array is read
// beyond its n entries (the vectors hold exactly n values; AddressSanitizer builds see it).
struct ShortCase {
  const char* name;
  int which;  // 0 fitW0124, 1 fitW012, 2 fitC0124
  int n;
  const char* message;
};
void PrintTo(const ShortCase& c, std::ostream* os) { *os << c.name; }

const ShortCase kShort[] = {
    {"four_terms_none", 0, 0, "fit needs at least 4 points, got 0\n"},
    {"four_terms_three", 0, 3, "fit needs at least 4 points, got 3\n"},
    {"three_terms_two", 1, 2, "fit needs at least 3 points, got 2\n"},
    {"three_terms_negative", 1, -1, "fit needs at least 3 points, got -1\n"},
    {"data_weighted_three", 2, 3, "fit needs at least 4 points, got 3\n"},
    {"data_weighted_one", 2, 1, "fit needs at least 4 points, got 1\n"},
};

class FitTooShort : public ::testing::TestWithParam<ShortCase> {};

TEST_P(FitTooShort, MessageAndNaN) {
  const ShortCase& c = GetParam();
  const std::size_t count = c.n > 0 ? static_cast<std::size_t>(c.n) : 0;
  std::vector<double> f(count, 1.0);
  std::vector<cd> data(count, cd(-1, 0)), weight(count, 1.0);
  cd coef[4] = {1, 2, 3, 4};
  CaptureStderr();
  int status = 0;
  switch (c.which) {
    case 0: status = fitW0124(f.data(), data.data(), weight.data(), c.n, coef); break;
    case 1: status = fitW012(f.data(), data.data(), weight.data(), c.n, coef); break;
    case 2: status = fitC0124(f.data(), data.data(), c.n, coef); break;
  }
  EXPECT_EQ(GetCapturedStderr(), c.message);
  EXPECT_EQ(status, 0);
  const int nanCount = c.which == 1 ? 3 : 4;
  for (int k = 0; k < nanCount; ++k)
    EXPECT_TRUE(std::isnan(coef[k].real()) && std::isnan(coef[k].imag())) << "a" << k;
  if (c.which == 1) {
    EXPECT_EQ(coef[3], cd(0, 0));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FitTooShort, ::testing::ValuesIn(kShort),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Fit, DataWeightedFitIgnoresHeavilyAttenuatedPoints) {
  // A lossy line below 20 GHz; above it the "measurement" is junk at about -60 Np, whose
  // weight exp(-60) ~ 1e-26 leaves it no say.
  const cd a[4] = {{-0.05, 0}, {-8e-6, -1e-3}, {-2e-11, -6.3e-9}, {1e-22, 0}};
  Points p = fromModel(a, {});
  for (int i = 1; i <= 400; ++i) {
    const double f = i * 1e8;
    p.f.push_back(f);
    p.data.push_back(f <= 20e9 ? model(a, f) : cd(-60.0 + std::sin(i), 40.0 * std::cos(i)));
  }
  cd coef[4];
  CaptureStderr();
  fitC0124(p.f.data(), p.data.data(), static_cast<int>(p.f.size()), coef);
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n");
  for (int i = 0; i < 200; ++i)
    EXPECT_LT(std::abs(model(coef, p.f[i]) - p.data[i]), 1e-8) << "f = " << p.f[i];
  for (int k = 0; k < 3; ++k) EXPECT_LT(relativeDifference(coef[k], a[k]), 1e-5) << "a" << k;
}

// ---------------------------------------------------------------------------------------
// Accuracy on a realistic channel. The frequencies stay in hertz, so the design columns
// 1, sqrt f, f, f^2 span about twenty orders of magnitude. The reference solves the same
// weighted problem with its columns scaled to unit length and a modified Gram-Schmidt QR
// in long double.

using ld = long double;
using cld = std::complex<ld>;

std::vector<cd> referenceFit(const std::vector<double>& f, const std::vector<cd>& data,
                             const std::vector<cd>& weight, int terms) {
  const std::size_t n = f.size();
  std::vector<std::vector<cld>> q(terms, std::vector<cld>(n));
  std::vector<cld> y(n);
  for (std::size_t i = 0; i < n; ++i) {
    const ld x = f[i];
    const ld factors[4] = {1.0L, std::sqrt(x), x, x * x};
    const cld w(weight[i].real(), weight[i].imag());
    for (int j = 0; j < terms; ++j) q[j][i] = factors[j] * w;
    y[i] = w * cld(data[i].real(), data[i].imag());
  }
  std::vector<ld> scale(terms);
  for (int j = 0; j < terms; ++j) {
    ld norm = 0;
    for (const cld& z : q[j]) norm += std::norm(z);
    scale[j] = std::sqrt(norm);
    for (cld& z : q[j]) z /= scale[j];
  }
  std::vector<std::vector<cld>> r(terms, std::vector<cld>(terms));
  for (int j = 0; j < terms; ++j) {
    for (int k = 0; k < j; ++k) {  // modified Gram-Schmidt: project out q_k from the current column
      cld dot = 0;
      for (std::size_t i = 0; i < n; ++i) dot += std::conj(q[k][i]) * q[j][i];
      r[k][j] = dot;
      for (std::size_t i = 0; i < n; ++i) q[j][i] -= dot * q[k][i];
    }
    ld norm = 0;
    for (const cld& z : q[j]) norm += std::norm(z);
    r[j][j] = std::sqrt(norm);
    for (cld& z : q[j]) z /= r[j][j];
  }
  std::vector<cld> qy(terms);
  for (int k = 0; k < terms; ++k) {
    cld dot = 0;
    for (std::size_t i = 0; i < n; ++i) dot += std::conj(q[k][i]) * y[i];
    qy[k] = dot;
  }
  std::vector<cld> z(terms);  // coefficients of the scaled columns: R z = Q^H y
  for (int j = terms - 1; j >= 0; --j) {
    cld s = qy[j];
    for (int k = j + 1; k < terms; ++k) s -= r[j][k] * z[k];
    z[j] = s / r[j][j];
  }
  std::vector<cd> coef(4, 0.0);
  for (int j = 0; j < terms; ++j) {
    const cld unscaled = z[j] / scale[j];
    coef[j] = cd(static_cast<double>(unscaled.real()), static_cast<double>(unscaled.imag()));
  }
  return coef;
}

// ln S21 of a 1 ns lossy line between two mismatches (|Gamma| = 0.15): skin and
// dielectric loss, linear phase, and the ripple of the re-reflections. The ripple term
// ln(1 - G^2 e^-2g) stays small, so its principal logarithm needs no unwrapping.
Points lossyLineWithRipple(int n, double fmax) {
  Points p;
  const double gamma2 = 0.15 * 0.15;
  for (int i = 1; i <= n; ++i) {
    const double f = fmax * i / n;
    const double alpha = 1.5e-5 * std::sqrt(f) + 2.0e-11 * f;  // nepers
    const cd g(alpha, 2.0 * std::numbers::pi * f * 1e-9);
    p.f.push_back(f);
    p.data.push_back(-g + std::log(1.0 - gamma2) - std::log(1.0 - gamma2 * std::exp(-2.0 * g)));
  }
  return p;
}

// Compares a fit with the reference: each coefficient by its relative difference, and the
// fitted response exp(model) relative to its magnitude at every point. Prints both.
void expectCloseToReference(const char* name, const Points& p, const cd* coef, int terms,
                            double coefficientLimit, double responseLimit) {
  const std::vector<cd> ref = referenceFit(p.f, p.data, p.weight, terms);
  double difference[4] = {0, 0, 0, 0};
  for (int k = 0; k < terms; ++k) {
    difference[k] = relativeDifference(coef[k], ref[k]);
    EXPECT_LT(difference[k], coefficientLimit)
        << "a" << (k == 3 ? 4 : k) << " = " << coef[k] << ", reference " << ref[k];
  }
  double worstResponse = 0;
  for (std::size_t i = 0; i < p.f.size(); ++i) {
    const cd got = std::exp(model(coef, p.f[i])), want = std::exp(model(ref.data(), p.f[i]));
    worstResponse = std::max(worstResponse, std::abs(got - want) / std::abs(want));
  }
  EXPECT_LT(worstResponse, responseLimit);
  std::printf("[ accuracy ] %-24s relative difference a0 %.1e a1 %.1e a2 %.1e a4 %.1e, response %.1e\n",
              name, difference[0], difference[1], difference[2], difference[3], worstResponse);
}

struct AccuracyCase {
  const char* name;
  int which;             // 0 fitW0124 with the estimator's weights, 1 fitW012, 2 fitC0124
  double bandLimit;      // weights 0 above this frequency, as the hard receiver limit does
};
void PrintTo(const AccuracyCase& c, std::ostream* os) { *os << c.name; }

const AccuracyCase kAccuracy[] = {
    {"four_terms_s21_weights", 0, 0},
    {"four_terms_band_limited", 0, 25e9},
    {"three_terms_s21_weights", 1, 0},
    {"data_weighted", 2, 0},
};

class FitAccuracy : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(FitAccuracy, AgreesWithScaledLongDoubleQR) {
  const AccuracyCase& c = GetParam();
  Points p = lossyLineWithRipple(5000, 50e9);
  const int n = static_cast<int>(p.f.size());
  p.weight.clear();
  for (int i = 0; i < n; ++i) {  // the estimator weighs each point with S21 itself
    const bool kept = c.bandLimit == 0 || p.f[i] <= c.bandLimit;
    p.weight.push_back(kept ? std::exp(p.data[i]) : cd(0, 0));
  }
  cd coef[4];
  CaptureStderr();
  switch (c.which) {
    case 0: fitW0124(p.f.data(), p.data.data(), p.weight.data(), n, coef); break;
    case 1: fitW012(p.f.data(), p.data.data(), p.weight.data(), n, coef); break;
    case 2: fitC0124(p.f.data(), p.data.data(), n, coef); break;
  }
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n");
  expectCloseToReference(c.name, p, coef, c.which == 1 ? 3 : 4, 1e-9, 1e-11);
}

INSTANTIATE_TEST_SUITE_P(RealisticChannel, FitAccuracy, ::testing::ValuesIn(kAccuracy),
                         [](const auto& info) { return std::string(info.param.name); });

// The same check on measured through channels: ln Sdd21 of a 4-port file (ports 1, 3 in,
// 2, 4 out), phase unwrapped point to point, each point weighted with Sdd21 itself. The
// files are read here with a few lines of our own so that this test needs only the matrix
// library: the option line gives unit and format, and every record is the frequency
// followed by 16 pairs in row order.
struct ChannelCase {
  const char* name;
  const char* path;  // below the shared channel folder
  int points;
};
void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }

const ChannelCase kChannels[] = {
    {"c2m_50GHz_MA_GHz", "c2m_IL14_WC/C2M__Z100_IL14_WC_BOR_H_L_H_THRU.s4p", 5001},
    {"cable_60GHz_RI_Hz", "cable_CA_19p75dB/CA_19p75dB_thru.s4p", 6001},
    {"backplane_40GHz_MA_Hz", "bp_whisper27in/TEC_Whisper27in_THRU_G14G15_07202016.s4p", 4001},
};

bool readFourPortSdd21(const std::string& path, Points& p) {
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return false;
  double unit = 1e9;
  int format = 1;  // 0 RI, 1 MA, 2 DB
  std::vector<double> numbers;
  char line[4096];
  while (std::fgets(line, sizeof line, file)) {
    const char* c = line;
    while (*c == ' ' || *c == '\t') ++c;
    if (*c == '!') continue;
    if (*c == '#') {
      std::string upper(c);
      for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      unit = upper.find("MHZ") != std::string::npos   ? 1e6
             : upper.find("KHZ") != std::string::npos ? 1e3
             : upper.find("GHZ") != std::string::npos ? 1e9
                                                      : 1.0;
      format = upper.find("RI") != std::string::npos ? 0 : upper.find("DB") != std::string::npos ? 2 : 1;
      continue;
    }
    char* end = nullptr;
    for (double x = std::strtod(c, &end); end != c; x = std::strtod(c, &end)) {
      numbers.push_back(x);
      c = end;
    }
  }
  std::fclose(file);
  const auto pair = [&](std::size_t at) {
    const double a = numbers[at], b = numbers[at + 1];
    if (format == 0) return cd(a, b);
    const double magnitude = format == 1 ? a : std::pow(10.0, 0.05 * a);
    return std::polar(magnitude, b * std::numbers::pi / 180.0);
  };
  const std::size_t record = 33;
  double reference = 0;
  for (std::size_t at = 0; at + record <= numbers.size(); at += record) {
    const auto S = [&](int r, int c) { return pair(at + 1 + 2 * static_cast<std::size_t>(4 * (r - 1) + (c - 1))); };
    const cd sdd21 = 0.5 * (S(2, 1) - S(2, 3) - S(4, 1) + S(4, 3));
    cd ln = std::log(sdd21);
    if (!p.data.empty()) {  // unwrap against the previous point
      while (ln.imag() - reference > std::numbers::pi) ln -= cd(0, 2 * std::numbers::pi);
      while (ln.imag() - reference < -std::numbers::pi) ln += cd(0, 2 * std::numbers::pi);
    }
    reference = ln.imag();
    p.f.push_back(numbers[at] * unit);
    p.data.push_back(ln);
    p.weight.push_back(sdd21);
  }
  return true;
}

class FitMeasuredChannel : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(FitMeasuredChannel, AgreesWithScaledLongDoubleQR) {
  const ChannelCase& c = GetParam();
  Points p;
  if (!readFourPortSdd21(std::string(BREVO_CHANNELS_DIR) + "/" + c.path, p))
    GTEST_SKIP() << "real channel files not found at " << BREVO_CHANNELS_DIR;
  const int n = static_cast<int>(p.f.size());
  ASSERT_EQ(n, c.points);
  cd coef[4];
  CaptureStderr();
  fitW0124(p.f.data(), p.data.data(), p.weight.data(), n, coef);
  EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n");
  // 1e-10 in ln S21 is about 1e-9 dB
  expectCloseToReference(c.name, p, coef, 4, 1e-8, 1e-10);
}

INSTANTIATE_TEST_SUITE_P(RealChannel, FitMeasuredChannel, ::testing::ValuesIn(kChannels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
