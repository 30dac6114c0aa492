// The weighted fits of ln S21: model data recovered, the role of the weights, the square and
// too-short cases, and accuracy against a scaled long-double QR on realistic and measured channels.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "fit0124Function.h"

namespace {

using cd = std::complex<double>;
using std::numbers::pi;
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

// Accuracy with frequencies in hertz, where the columns 1, sqrt f, f, f^2 span some twenty
// orders of magnitude. The reference solves the same weighted problem with unit-length
// columns by modified Gram-Schmidt in long double; the right-hand side, orthogonalised as
// one more column, leaves Q^H y in the last column of R.
using cld = std::complex<long double>;

std::vector<cd> referenceFit(const Points& p, int terms) {
  std::vector<std::vector<cld>> q(terms + 1);
  for (std::size_t i = 0; i < p.f.size(); ++i) {
    const long double x = p.f[i], column[4] = {1.0L, std::sqrt(x), x, x * x};
    const cld w(p.weight[i].real(), p.weight[i].imag());
    for (int j = 0; j < terms; ++j) q[j].push_back(column[j] * w);
    q[terms].push_back(w * cld(p.data[i].real(), p.data[i].imag()));
  }
  const auto normalise = [](std::vector<cld>& v) {
    long double sum = 0;
    for (const cld& z : v) sum += std::norm(z);
    for (cld& z : v) z /= std::sqrt(sum);
    return std::sqrt(sum);
  };
  std::vector<long double> scale(terms);
  for (int j = 0; j < terms; ++j) scale[j] = normalise(q[j]);
  std::vector<std::vector<cld>> r(terms, std::vector<cld>(terms + 1));
  for (int j = 0; j <= terms; ++j) {
    for (int k = 0; k < std::min(j, terms); ++k) {
      for (std::size_t i = 0; i < q[j].size(); ++i) r[k][j] += std::conj(q[k][i]) * q[j][i];
      for (std::size_t i = 0; i < q[j].size(); ++i) q[j][i] -= r[k][j] * q[k][i];
    }
    if (j < terms) r[j][j] = normalise(q[j]);
  }
  std::vector<cd> coef(4, 0.0);
  std::vector<cld> z(terms);
  for (int j = terms - 1; j >= 0; --j) {   // back substitution, then the column scale undone
    z[j] = r[j][terms];
    for (int k = j + 1; k < terms; ++k) z[j] -= r[j][k] * z[k];
    z[j] /= r[j][j];
    coef[j] = cd(static_cast<double>(z[j].real() / scale[j]), static_cast<double>(z[j].imag() / scale[j]));
  }
  return coef;
}

// Each coefficient by its relative difference, and the fitted response exp(model) at every
// point; both printed.
void expectCloseToReference(const char* name, const Points& p, const cd* coef, int terms,
                            double coefLimit, double responseLimit) {
  const std::vector<cd> ref = referenceFit(p, terms);
  double difference[4] = {0, 0, 0, 0}, response = 0;
  for (int k = 0; k < terms; ++k) {
    difference[k] = relative(coef[k], ref[k]);
    EXPECT_LT(difference[k], coefLimit)
        << name << " a" << (k == 3 ? 4 : k) << " = " << coef[k] << ", reference " << ref[k];
  }
  for (double f : p.f)
    response = std::max(response, std::abs(std::exp(model(coef, f) - model(ref.data(), f)) - 1.0));
  EXPECT_LT(response, responseLimit) << name;
  std::printf("[ accuracy ] %-24s relative difference a0 %.1e a1 %.1e a2 %.1e a4 %.1e, response %.1e\n",
              name, difference[0], difference[1], difference[2], difference[3], response);
}

TEST(FitAccuracy, RealisticChannelAgreesWithScaledLongDoubleQR) {
  // ln S21 of a 1 ns lossy line between two mismatches (|Gamma| = 0.15): skin and dielectric
  // loss, linear phase, and the small ripple of the re-reflections.
  Points p;
  const double g2 = 0.15 * 0.15;
  for (int i = 1; i <= 5000; ++i) {
    const double f = 50e9 * i / 5000;
    const cd g(1.5e-5 * std::sqrt(f) + 2.0e-11 * f, 2.0 * pi * f * 1e-9);
    p.f.push_back(f);
    p.data.push_back(-g + std::log(1.0 - g2) - std::log(1.0 - g2 * std::exp(-2.0 * g)));
  }
  // The estimator weighs each point with S21 itself; a hard receiver limit (band) zeroes
  // the weights above it.
  const struct { const char* name; int which; double band; } cases[] = {
      {"four_terms_s21_weights", 0, 1e99}, {"four_terms_band_limited", 0, 25e9},
      {"three_terms_s21_weights", 1, 1e99}, {"data_weighted", 2, 1e99}};
  for (const auto& c : cases) {
    for (std::size_t i = 0; i < p.f.size(); ++i)
      p.weight.push_back(p.f[i] <= c.band ? std::exp(p.data[i]) : 0.0);
    cd coef[4];
    CaptureStderr();
    fit(c.which, p, coef);
    EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n") << c.name;
    expectCloseToReference(c.name, p, coef, c.which == 1 ? 3 : 4, 1e-9, 1e-11);
    p.weight.clear();
  }
}

// ln Sdd21 of measured 4-port through channels (ports 1, 3 in, 2, 4 out), phase unwrapped,
// each point weighted with Sdd21. Read here with a few lines of our own so that only the
// matrix library is needed: records are the frequency and 16 pairs in row order.
bool readFourPortSdd21(const std::string& path, Points& p) {
  std::ifstream in(path);
  double unit = 1e9, x;
  std::string line, word, format = "MA";
  std::vector<double> v;
  while (std::getline(in, line)) {
    const std::string text = line.substr(0, line.find('!'));
    std::istringstream words(text);
    if (text.find('#') == text.npos) {
      while (words >> x) v.push_back(x);
      continue;
    }
    while (words >> word) {   // the option line
      for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      if (word == "RI" || word == "MA" || word == "DB") format = word;
      if (word.ends_with("HZ")) unit = word == "GHZ" ? 1e9 : word == "MHZ" ? 1e6 : word == "KHZ" ? 1e3 : 1;
    }
  }
  const auto S = [&](std::size_t at, int r, int c) {
    const double a = v[at + 2 * (4 * r + c) - 9], b = v[at + 2 * (4 * r + c) - 8];   // r, c from 1
    if (format == "RI") return cd(a, b);
    return std::polar(format == "MA" ? a : std::pow(10.0, 0.05 * a), b * pi / 180);
  };
  for (std::size_t at = 0; at + 33 <= v.size(); at += 33) {
    const cd sdd21 = 0.5 * (S(at, 2, 1) - S(at, 2, 3) - S(at, 4, 1) + S(at, 4, 3));
    cd ln = std::log(sdd21);
    if (!p.data.empty())   // unwrapped against the previous point
      ln -= cd(0, 2 * pi * std::round((ln.imag() - p.data.back().imag()) / (2 * pi)));
    p.f.push_back(v[at] * unit);
    p.data.push_back(ln);
    p.weight.push_back(sdd21);
  }
  return in.eof() && !v.empty();
}

TEST(FitAccuracy, MeasuredChannelsAgreeWithScaledLongDoubleQR) {
  const struct { const char* name; const char* path; int points; } cases[] = {
      {"c2m_50GHz_MA_GHz", "c2m_IL14_WC/C2M__Z100_IL14_WC_BOR_H_L_H_THRU.s4p", 5001},
      {"cable_60GHz_RI_Hz", "cable_CA_19p75dB/CA_19p75dB_thru.s4p", 6001},
      {"backplane_40GHz_MA_Hz", "bp_whisper27in/TEC_Whisper27in_THRU_G14G15_07202016.s4p", 4001}};
  for (const auto& c : cases) {
    Points p;
    if (!readFourPortSdd21(std::string(BREVO_CHANNELS_DIR) + "/" + c.path, p))
      GTEST_SKIP() << "real channel files not found at " << BREVO_CHANNELS_DIR;
    ASSERT_EQ(static_cast<int>(p.f.size()), c.points) << c.name;
    cd coef[4];
    CaptureStderr();
    fit(0, p, coef);
    EXPECT_EQ(GetCapturedStderr(), "return from dgels 0\n") << c.name;
    expectCloseToReference(c.name, p, coef, 4, 1e-8, 1e-10);   // 1e-10 in ln S21 is about 1e-9 dB
  }
}

}  // namespace
