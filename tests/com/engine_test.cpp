// The COM engine's pieces against closed forms and brute force, on synthetic channels
// small enough to run in milliseconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <complex>
#include <functional>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "GlobalNames.h"
#include "com.h"
#include "comCases.h"
#include "comDetail.h"

using namespace brevo::com;
using namespace brevo::com::detail;

namespace {

constexpr double kPi = std::numbers::pi;

// ---------------------------------------------------------------- closed forms

struct ElementCase {
  const char* name;
  std::function<cd()> got;
  cd want;
};

TEST(ComElements, ClosedForms) {
  const double R0 = 50, f = 1e9, w = 2 * kPi * f;
  // Shunt C with w C R0 = 2: s21 = 2/(2 + 2j); series L with w L = 2 R0: s21 = 1/(1 + j).
  const double C = 2 / (w * R0), Lh = 2 * R0 / w;
  // A 100 ohm line is matched: s21 = exp(-gamma z), gamma at 1 GHz = a1 (1+j) + a2 + j 2 pi tau.
  const double a1 = 1e-3, a2 = 2e-4, tau = 6e-3, z = 10;
  const cd gamma1 = a1 * cd(1, 1) + a2 + cd(0, 2 * kPi * tau);
  Params ctl;
  ctl.fz = 5e9, ctl.fp1 = 5e9, ctl.fp2 = 20e9, ctl.fLF = 0.5e9;
  Params two = ctl;
  two.twoStage = true;
  const double fb = 20e9;
  const std::vector<double> taps = {-0.1, 0.7, -0.2};
  const ElementCase cases[] = {
      {"shunt_c_s21", [&] { return shuntC(f, C, R0).s21; }, cd(0.5, -0.5)},
      {"shunt_c_s11", [&] { return shuntC(f, C, R0).s11; }, -cd(0, 2) / cd(2, 2)},
      {"series_l_s21", [&] { return seriesL(f, Lh, R0).s21; }, cd(0.5, -0.5)},
      {"series_l_s11", [&] { return seriesL(f, Lh, R0).s11; }, cd(0.5, 0.5)},
      {"matched_line_s21", [&] { return line(f, z, 100, R0, 0, a1, a2, tau).s21; },
       std::exp(-gamma1 * z)},
      {"matched_line_s11", [&] { return line(f, z, 100, R0, 0, a1, a2, tau).s11; }, 0},
      {"line_at_dc_is_gamma0", [&] { return line(0, z, 100, R0, 0.01, a1, a2, tau).s21; },
       std::exp(-0.1)},
      {"zero_length_line", [&] { return line(f, 0, 78.2, R0, 0, a1, a2, tau).s21; }, 1},
      // Two matched lines in cascade are one line of the summed length.
      {"cascade_of_lines",
       [&] {
         return cascade(line(f, 4, 100, R0, 0, a1, a2, tau), line(f, 6, 100, R0, 0, a1, a2, tau))
             .s21;
       },
       std::exp(-gamma1 * z)},
      // A mismatched line: s21 = (1 - rho^2) E / (1 - rho^2 E^2), rho = -1/9 at 80 ohm.
      {"mismatched_line_s21", [&] { return line(f, z, 80, R0, 0, a1, a2, tau).s21; },
       (1 - 1.0 / 81) * std::exp(-gamma1 * z) / (1.0 - std::exp(-2.0 * gamma1 * z) / 81.0)},
      // Matched terminations give back s21; Rd = 3 R0 with s11 = s22 = 0 gives s21 (1 - 1/2)(1 +
      // 1/2).
      {"terminated_matched",
       [&] {
         return terminated({0, 0.3, cd(0.4, 0.1), 0}, 50, 50, 50);
       },
       cd(0.4, 0.1)},
      {"terminated_open_ish",
       [&] {
         return terminated({0, 0, 0.5, 0}, 150, 150, 50);
       },
       0.375},
      {"rx_filter_3db", [&] { return cd(std::abs(rxFilter(0.75 * fb, fb, 0.75))); },
       std::sqrt(0.5)},
      {"rx_filter_dc", [&] { return rxFilter(0, fb, 0.75); }, 1},
      {"rise_time", [&] { return cd(riseTime(1.6832 / (kPi * 10e-12), 10e-12)); }, std::exp(-2.0)},
      {"ctle_dc", [&] { return ctle(0, ctl, 0.25, 1); }, 0.25},
      {"ctle_zero_cancels_pole", [&] { return ctle(f, ctl, 1, 1); }, 1.0 / cd(1, f / 20e9)},
      {"ctle_two_stage_dc", [&] { return ctle(0, two, 0.5, 0.25); }, 0.125},
      {"ctle_two_stage_unit", [&] { return ctle(f, two, 1, 1); }, 1.0 / cd(1, f / 20e9)},
      {"ffe_dc", [&] { return txFfe(0, 1 / fb, taps, -1); }, 0.4},
      {"ffe_nyquist", [&] { return txFfe(fb / 2, 1 / fb, taps, -1); }, -(-0.1) + 0.7 - (-0.2)},
      {"raised_cosine_mid", [&] { return cd(raisedCosine(15, 10, 20)); }, 0.5},
  };
  for (const ElementCase& c : cases) {
    SCOPED_TRACE(c.name);
    const cd g = c.got();
    EXPECT_NEAR(g.real(), c.want.real(), 3e-7);  // the filter's coefficients have 7 digits
    EXPECT_NEAR(g.imag(), c.want.imag(), 3e-7);
  }
}

TEST(ComElements, SweepsAndTails) {
  EXPECT_EQ(sweepValues({-0.18, 0.02, 0}, true).size(), 10u);
  EXPECT_EQ(sweepValues({-0.38, 0.02, 0}, false).size(), 20u);
  EXPECT_EQ(sweepValues({-12, 1, 0}, true).back(), 0.0);
  EXPECT_EQ(sweepValues({0.3, 0, 0.3}, true).size(), 1u);
  // The detector error ratios' Q values.
  EXPECT_NEAR(std::sqrt(2.0) * erfcInverse(2e-5), 4.2649, 1e-4);
  EXPECT_NEAR(std::sqrt(2.0) * erfcInverse(2e-4), 3.7190, 1e-4);
  EXPECT_NEAR(erfcInverse(1.5), -erfcInverse(0.5), 1e-12);
}

// ---------------------------------------------------------------- PMFs by brute force

TEST(ComPmf, AgainstEnumeration) {
  struct Row {
    std::vector<double> h;
    int L;
    double dy;
  };
  const Row rows[] = {{{0.3, -0.2, 0.05, 0.004}, 2, 0.01},
                      {{0.31, -0.17, 0.052}, 4, 0.01},
                      {{1, 1, 1}, 2, 0.1},
                      {{0.123, 0.0456, -0.0789, 0.2}, 4, 0.003}};
  for (const Row& r : rows) {
    // Every symbol combination, each atom rounded to its bin, samples below dy dropped.
    std::map<long, double> want;
    const std::size_t n = r.h.size();
    long combos = 1;
    for (std::size_t i = 0; i < n; ++i) combos *= r.L;
    for (long k = 0; k < combos; ++k) {
      long bin = 0, x = k;
      for (std::size_t i = 0; i < n; ++i, x /= r.L) {
        if (std::fabs(r.h[i]) < r.dy) continue;
        bin += std::lround(r.h[i] * (2.0 * (x % r.L) / (r.L - 1) - 1) / r.dy);
      }
      want[bin] += 1.0 / static_cast<double>(combos);
    }
    const Pmf got = symbolsPmf(r.h, r.L, r.dy);
    double total = 0, ms = 0;
    for (std::size_t i = 0; i < got.p.size(); ++i) {
      const long bin = got.lo + static_cast<long>(i);
      const double w = want.contains(bin) ? want[bin] : 0.0;
      EXPECT_NEAR(got.p[i], w, 1e-12) << "bin " << bin;
      total += got.p[i];
      ms += w * static_cast<double>(bin * bin) * r.dy * r.dy;
    }
    EXPECT_NEAR(total, 1, 1e-12);
    EXPECT_NEAR(symbolsMeanSquare(r.h, r.L, r.dy), ms, 1e-12);
    EXPECT_NEAR(got.rms(r.dy), std::sqrt(ms), 1e-12);
  }
  // A Gaussian: unit mass, its sigma, and the tail level at the ratio's Q.
  const Pmf g = gaussianPmf(1e-3, 10e-3, 1e-6);
  double mass = 0;
  for (double x : g.p) mass += x;
  EXPECT_NEAR(mass, 1, 1e-12);
  EXPECT_NEAR(g.stddev(1e-6), 1e-3, 1e-8);
  EXPECT_NEAR(firstAbove(g, 1e-6, 1e-5), -4.2649e-3, 2e-6);
  // Linear convolution: supports add, nothing wraps.
  Pmf a, b;
  a.lo = -2, a.p = {0.5, 0, 0, 0, 0.5};
  b.lo = 1, b.p = {0.25, 0.75};
  const Pmf c = convolve(a, b);
  EXPECT_EQ(c.lo, -1);
  ASSERT_EQ(c.p.size(), 6u);
  EXPECT_DOUBLE_EQ(c.p[0], 0.125);
  EXPECT_DOUBLE_EQ(c.p[5], 0.375);
}

// ---------------------------------------------------------------- receiver FFE

// The receiver FFE's MMSE solution against the constrained normal equations solved as
// one dense system (LU): with the DFE tap free, the DFE tap held at its limit, and the
// taps clipped to their limits (then scaled back to a unit cursor). The error is the
// quadratic form evaluated on the returned taps.
TEST(ComMmse, AgainstDenseNormalEquations) {
  const int n = 7, dw = 2;
  // Baud-rate samples k = -8..12 of a pulse with pre-cursors and a long tail, cursor at 0.
  std::vector<double> h;
  for (int k = -8; k <= 12; ++k)
    h.push_back((k < 0 ? 0.3 : 1.0) / (1 + (k - 0.2) * (k - 0.2)) +
                (k > 0 ? 0.15 * std::exp(-k / 4.0) : 0));
  auto at = [&](int k) { return k >= -8 && k <= 12 ? h[static_cast<std::size_t>(k + 8)] : 0.0; };
  std::vector<double> lag(n), h0(n), Hb(n);
  for (int l = 0; l < n; ++l) {
    double r = 0;
    for (int k = -8; k <= 12; ++k) r += at(k) * at(k + l);
    lag[static_cast<std::size_t>(l)] = r + 0.01 * std::pow(0.5, l);  // noise of a positive spectrum
  }
  for (int j = 0; j < n; ++j)
    h0[static_cast<std::size_t>(j)] = at(dw - j), Hb[static_cast<std::size_t>(j)] = at(dw + 1 - j);
  auto R = [&](int i, int j) { return lag[static_cast<std::size_t>(std::abs(i - j))]; };
  auto dot = [&](const std::vector<double>& a, const std::vector<double>& b) {
    double v = 0;
    for (int i = 0; i < n; ++i)
      v += a[static_cast<std::size_t>(i)] * b[static_cast<std::size_t>(i)];
    return v;
  };
  // [R -Hb' -h0'; -Hb 1 0; h0 0 0] [w; b; l] = [h0'; 0; 1], or with b given:
  // [R -h0'; h0 0] [w; l] = [h0' + Hb' b; 1].
  auto dense = [&](bool bFree, double bGiven, std::vector<double>& w, double& b) {
    const int m = n + (bFree ? 2 : 1);
    cmatrix A(m, m, nullptr), y(m, 1, nullptr);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) A.set(i, j, R(i, j));
      A.set(i, m - 1, -h0[static_cast<std::size_t>(i)]),
          A.set(m - 1, i, h0[static_cast<std::size_t>(i)]);
      y.set(
          i, 0,
          h0[static_cast<std::size_t>(i)] + (bFree ? 0 : Hb[static_cast<std::size_t>(i)] * bGiven));
      if (bFree)
        A.set(i, n, -Hb[static_cast<std::size_t>(i)]),
            A.set(n, i, -Hb[static_cast<std::size_t>(i)]);
    }
    if (bFree) A.set(n, n, 1);
    y.set(m - 1, 0, 1);
    int status = 0;
    const cmatrix x = y.solve(A, nullptr, &status);
    ASSERT_EQ(status, 0);
    w.assign(static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n; ++i) w[static_cast<std::size_t>(i)] = x.value(i, 0).real();
    b = bFree ? x.value(n, 0).real() : bGiven;
  };
  struct Row {
    const char* name;
    double bmax, bmin, wmax, wmin;
    bool bHeld, wHeld;
  };
  const Row rows[] = {{"free", 0.9, -0.9, 0, 0, false, false},
                      {"dfe_at_limit", 0.1, 0, 0, 0, true, false},
                      {"taps_at_limits", 0.9, -0.9, 0.06, -0.06, false, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<double> w, b, want;
    const double bmax[] = {r.bmax}, bmin[] = {r.bmin};
    const double q = solveMmse(lag, h0, Hb, bmax, bmin, dw, r.wmax, r.wmin, w, b);
    ASSERT_EQ(w.size(), static_cast<std::size_t>(n));
    ASSERT_EQ(b.size(), 1u);
    double wantB = 0;
    dense(true, 0, want, wantB);
    if (r.bHeld) {
      ASSERT_GT(wantB, r.bmax);  // the free solution breaks the limit
      dense(false, r.bmax, want, wantB);
    }
    if (r.wHeld) {
      bool clipped = false;
      for (int j = 0; j < n; ++j) {
        if (j == dw) continue;
        const double lim = std::min(r.wmax * want[dw],
                                    std::max(r.wmin * want[dw], want[static_cast<std::size_t>(j)]));
        clipped = clipped || lim != want[static_cast<std::size_t>(j)];
        want[static_cast<std::size_t>(j)] = lim;
      }
      ASSERT_TRUE(clipped);
      const double g = dot(h0, want);
      for (double& v : want) v /= g;
      wantB = std::min(r.bmax, std::max(r.bmin, dot(Hb, want)));
      for (int j = 0; j < n; ++j)
        if (j != dw) {
          EXPECT_LE(std::fabs(w[static_cast<std::size_t>(j)]), r.wmax * w[dw] + 1e-12);
        }
    }
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(w[static_cast<std::size_t>(j)], want[static_cast<std::size_t>(j)], 1e-9)
          << "tap " << j;
    EXPECT_NEAR(b[0], wantB, 1e-9);
    EXPECT_NEAR(dot(h0, w), 1, 1e-12);
    double quadForm = 1 + b[0] * b[0] - 2 * dot(w, h0) - 2 * b[0] * dot(w, Hb);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        quadForm += w[static_cast<std::size_t>(i)] * R(i, j) * w[static_cast<std::size_t>(j)];
    EXPECT_NEAR(q, quadForm, 1e-12);
    EXPECT_GT(q, 0);
  }
}

// ---------------------------------------------------------------- synthetic channels

// A channel of gain * exp(-loss) and delay on 0..fTop in steps of df; loss in nepers
// grows as k1 sqrt(f) + k2 f (f in GHz).
Channel synthetic(ChannelKind kind, double gain, double delay, double k1, double k2,
                  double fTop = 20e9, double df = 20e6) {
  Channel c;
  c.kind = kind;
  c.name = kind == ChannelKind::thru ? "thru" : kind == ChannelKind::next ? "next" : "fext";
  for (double f = 0; f <= fTop + 1; f += df) {
    const double g = f * 1e-9;
    const cd s = gain * std::exp(cd(-k1 * std::sqrt(g) - k2 * g, -2 * kPi * f * delay));
    c.f.push_back(f);
    c.sdd21.push_back(s), c.sdd12.push_back(s), c.sdd11.push_back(0.05 * s),
        c.sdd22.push_back(0.05 * s);
  }
  return c;
}

// A 10 GBd set: no package, a small grid.
Params small(Convention conv) {
  Params p;
  p.convention = conv;
  p.fb = 10e9, p.L = 2, p.M = 16, p.DER0 = 1e-5;
  p.Av = 0.4, p.Afe = 0.4, p.Ane = 0.6, p.snrTx = 27, p.eta0 = 5e-8, p.sigmaRJ = 0.01, p.ADD = 0.05;
  p.c0min = 0.6;
  p.txTaps = {{-1, {-0.1, 0.05, 0}}, {1, {-0.2, 0.1, 0}}};
  p.gDC = {-6, 3, 0};
  p.fz = 2.5e9, p.fp1 = 2.5e9, p.fp2 = 10e9;
  p.Nb = 4, p.bmax.assign(4, 0.7);
  p.RdTx = p.RdRx = 50;
  p.cases = {{{0}, {0}, {0}, {0}}};
  return p;
}

// A receiver FFE of 2 + 1 + 4 taps within +-0.7 of the cursor tap, one DFE tap, the
// sampling point swept +-4 samples about the peak.
void withRxFfe(Params& p) {
  p.rxffePre = 2, p.rxffePost = 4, p.rxffeWmax = 0.7, p.rxffeWmin = -0.7;
  p.Nb = 1, p.bmax = {0.85}, p.bmin = {0};
  p.tsAnchor = 1, p.sampleAdjustMin = -4, p.sampleAdjustMax = 4;
}

// The receiver FFE's bound for every Tx setting at once (dB) as the log gives it; NaN
// when absent.
double everyTxBound(const brevo::Result<Margins>& o) {
  for (const std::string& l : o.value.log)
    if (const auto at = l.find("every Tx setting at once is "); at != std::string::npos)
      return std::stod(l.substr(at + 28));
  return std::nan("");
}

std::vector<Channel> lossySet() {
  return {synthetic(ChannelKind::thru, 1, 3e-9, 0.25, 0.08),
          synthetic(ChannelKind::fext, 0.03, 3e-9, 0.1, 0.05),
          synthetic(ChannelKind::next, 0.02, 0.5e-9, 0.05, 0.02)};
}

// A lossless matched channel: a pure delay of 40 UI, no package, a receiver far wider
// than the band, a flat CTLE and no taps. The pulse is a one-UI rectangle of height A_v,
// so As = A_v, the only noises are the Tx noise and the thermal noise (eta_0 times the
// band: the file's 20 GHz for the reference's sum, the transform's 80 GHz for the
// integral), and Ani is Q sigma. The reference cuts the Gaussian at +-Q sigma, which
// takes the tail's DER0 away: its level is where the whole tail holds 2 DER0 (Q = 4.1075).
TEST(ComSynthetic, MatchedChannelByHand) {
  struct Row {
    Convention conv;
    double snr, eta0, q;
  };
  const Row rows[] = {{Convention::ieee, 27, 0, 4.2649},
                      {Convention::ieee, 27, 2e-8, 4.2649},
                      {Convention::ieee, 20, 1e-7, 4.2649},
                      {Convention::reference, 27, 2e-8, 4.1075}};
  double last = 1e9;
  for (const Row& r : rows) {
    Params p = small(r.conv);
    p.txTaps.clear();
    p.gDC = {0, 0, 0};
    p.fz = p.fp1 = 1e12, p.fp2 = 1e15, p.fr = 1e4;
    p.Nb = 0, p.bmax.clear(), p.ADD = 0, p.sigmaRJ = 0;
    p.snrTx = r.snr, p.eta0 = r.eta0;
    const auto o = computeCom(p, {synthetic(ChannelKind::thru, 1, 4e-9, 0, 0)});
    ASSERT_TRUE(o.ok()) << o.message;
    const CaseResult& c = o.value.cases[0];
    const double tx2 = 0.16 * std::pow(10.0, -r.snr / 10);
    const double n2 = r.eta0 * (r.conv == Convention::ieee ? 80 : 20);
    EXPECT_NEAR(c.As, 0.4, 4e-4);
    EXPECT_NEAR(c.fom, 10 * std::log10(0.16 / (tx2 + n2)), 0.01);
    EXPECT_NEAR(c.sigmaN, std::sqrt(n2), 1e-3 * std::sqrt(n2) + 1e-12);
    EXPECT_NEAR(c.com, 20 * std::log10(0.4 / (r.q * std::sqrt(tx2 + n2))), 0.02);
    EXPECT_NEAR(c.sigmaIsi, 0, 1e-4);
    if (r.conv == Convention::ieee) {
      EXPECT_LT(c.com, last);  // more noise, less margin
      last = c.com;
    }
  }
}

// COM falls as any one noise term is raised.
TEST(ComSynthetic, MarginFallsWithNoise) {
  const std::vector<std::function<void(Params&, double)>> raise = {
      [](Params& p, double x) { p.eta0 = 5e-8 * x; },
      [](Params& p, double x) { p.snrTx = 27 - 3 * x; },
      [](Params& p, double x) { p.sigmaRJ = 0.01 * x; },
      [](Params& p, double x) { p.Ane = 0.6 * x; }, [](Params& p, double x) { p.ADD = 0.05 * x; }};
  for (std::size_t k = 0; k < raise.size(); ++k) {
    double last = 1e9;
    for (double x : {1.0, 2.0, 4.0}) {
      Params p = small(Convention::reference);
      raise[k](p, x);
      const auto o = computeCom(p, lossySet());
      ASSERT_TRUE(o.ok()) << o.message;
      EXPECT_LT(o.value.com, last) << "term " << k << " x" << x;
      last = o.value.com;
    }
  }
}

// The search's winner against every grid point run alone (first maximum in loop order),
// one- and two-stage, both conventions, with and without a receiver FFE (whose search
// skips what its bounds rule out; in the last row its DFE tap is held at a low limit,
// which the bounds take in); and against random points of a larger grid. Run
// alone, each point's figure of merit as searched is the one recomputed from its
// explicit equalised pulses.
TEST(ComSynthetic, SearchAgainstBruteForce) {
  struct Row {
    Convention conv;
    bool twoStage;
    bool floating;
    bool rxffe;
    double bmax = 0;
  };
  const Row rows[] = {
      {Convention::reference, false, false, false},     {Convention::ieee, false, false, false},
      {Convention::reference, true, true, false},       {Convention::ieee, true, true, false},
      {Convention::reference, true, false, true},       {Convention::ieee, false, false, true},
      {Convention::reference, false, false, true, 0.05}};
  const std::vector<Channel> ch = lossySet();
  for (const Row& r : rows) {
    Params p = small(r.conv);
    if (r.twoStage) p.twoStage = true, p.gDC2 = {-4, 2, 0}, p.fLF = 0.5e9, p.gDC = {-6, 6, 0};
    if (r.floating)
      p.Nbg = 1, p.Nbf = 2, p.Nf = 12, p.bmaxg = 0.1, p.bFloatRssMax = 0.02, p.nTailStart = 8;
    p.reportCandidates = 5;
    if (r.rxffe) withRxFfe(p);
    if (r.bmax > 0) p.bmax = {r.bmax};
    const auto all = computeCom(p, ch);
    ASSERT_TRUE(all.ok()) << all.message;
    const CaseResult& w = all.value.cases[0];
    if (r.bmax > 0) {
      ASSERT_EQ(w.dfeTaps.size(), 1u);
      EXPECT_EQ(w.dfeTaps[0], r.bmax);  // the winner's DFE tap at its limit
    }
    const bool colon = r.conv == Convention::reference;
    double best = -1e9;
    std::vector<double> bestTaps, bestRx;
    double bestG = 0, bestG2 = 0;
    int points = 0;
    std::vector<Candidate> every;                 // each grid point's FOM run alone
    std::map<std::vector<double>, double> comAt;  // {g, g2, a, b} -> its COM
    for (double g : sweepValues(p.gDC, colon))
      for (double g2 : p.twoStage ? sweepValues(p.gDC2, colon) : std::vector<double>{0})
        for (double a : sweepValues(p.txTaps[0].values, colon))
          for (double b : sweepValues(p.txTaps[1].values, colon)) {
            Params one = p;
            one.gDC = {g, 0, g}, one.gDC2 = {g2, 0, g2};
            one.txTaps = {{-1, {a, 0, a}}, {1, {b, 0, b}}};
            const auto o = computeCom(one, ch);
            if (!o.ok()) {  // below the cursor tap's floor, or no sampling point
              if (o.message.find("equalisation failed") != std::string::npos) ++points;
              continue;
            }
            ++points;
            const CaseResult& c = o.value.cases[0];
            EXPECT_NEAR(c.searchFom, c.fom, 1e-9);
            EXPECT_EQ(c.rxffeTaps.empty(), !r.rxffe);
            // The bound for every Tx setting holds for this one.
            if (r.rxffe) {
              EXPECT_GE(everyTxBound(o) + 1e-6, c.fom) << g << " " << a << " " << b;
            }
            if (c.fom > best)
              best = c.fom, bestTaps = c.txTaps, bestRx = c.rxffeTaps, bestG = g, bestG2 = g2;
            every.push_back({c.txTaps, g, g2, c.fom});
            comAt[{g, g2, a, b}] = c.com;
          }
    EXPECT_EQ(points, w.gridSize);
    EXPECT_EQ(w.rxffeTaps, bestRx);
    // The listed settings are the brute force's five best, best first.
    std::stable_sort(every.begin(), every.end(),
                     [](const Candidate& x, const Candidate& y) { return x.fom > y.fom; });
    ASSERT_EQ(w.topCandidates.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
      EXPECT_NEAR(w.topCandidates[k].fom, every[k].fom, 1e-9) << k;
      EXPECT_EQ(w.topCandidates[k].txTaps, every[k].txTaps) << k;
      EXPECT_EQ(w.topCandidates[k].gDC, every[k].gDC) << k;
      EXPECT_EQ(w.topCandidates[k].gDC2, every[k].gDC2) << k;
    }
    // Each swept parameter's neighbours on the log, their COM each setting's run alone.
    const std::vector<std::string>& log = all.value.log;
    for (const char* name : {"c(-1)", "c(1)", "gDC"}) {
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
        return l.find(std::string(" dB at ") + name + " ") != std::string::npos &&
               l.starts_with("case 1: COM ");
      })) << name;
    }
    char gdcUp[96];
    const double a0 = w.txTaps[0], b0 = w.txTaps[2];
    if (comAt.count({w.gDC + p.gDC.step, w.gDC2, a0, b0})) {
      std::snprintf(gdcUp, sizeof gdcUp, " %g gives %.3f dB", w.gDC + p.gDC.step,
                    comAt[{w.gDC + p.gDC.step, w.gDC2, a0, b0}]);
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
        return l.find(gdcUp) != std::string::npos;
      })) << gdcUp;
    }
    EXPECT_NEAR(w.fom, best, 1e-9);
    EXPECT_EQ(w.gDC, bestG);
    EXPECT_EQ(w.gDC2, bestG2);
    EXPECT_EQ(w.txTaps, bestTaps);
  }
  // A finer grid: random points never beat the search's optimum, and one thread finds
  // what two do.
  for (int variant = 0; variant < 3; ++variant) {
    const Convention conv = variant == 1 ? Convention::ieee : Convention::reference;
    Params p = small(conv);
    p.txTaps = {{-1, {-0.2, 0.02, 0}}, {1, {-0.3, 0.02, 0}}};
    p.gDC = {-9, 1, 0};
    p.reportCandidates = 8;
    if (variant == 2) withRxFfe(p);
    const auto all = computeCom(p, ch);
    ASSERT_TRUE(all.ok()) << all.message;
    Params single = p;
    single.threads = 1;
    const auto one = computeCom(single, ch);
    ASSERT_TRUE(one.ok()) << one.message;
    // The list: eight, best first, the first the chosen setting, the same for any thread count.
    const CaseResult& chosen = all.value.cases[0];
    ASSERT_EQ(chosen.topCandidates.size(), 8u);
    for (std::size_t k = 1; k < 8; ++k)
      EXPECT_GE(chosen.topCandidates[k - 1].fom, chosen.topCandidates[k].fom);
    EXPECT_EQ(chosen.topCandidates[0].txTaps, chosen.txTaps);
    EXPECT_EQ(chosen.topCandidates[0].gDC, chosen.gDC);
    EXPECT_EQ(chosen.topCandidates[0].fom, chosen.searchFom);
    for (std::size_t k = 0; k < 8; ++k) {
      EXPECT_EQ(one.value.cases[0].topCandidates[k].txTaps, chosen.topCandidates[k].txTaps) << k;
      EXPECT_EQ(one.value.cases[0].topCandidates[k].fom, chosen.topCandidates[k].fom) << k;
    }
    EXPECT_EQ(one.value.cases[0].fom, all.value.cases[0].fom);
    if (variant == 2) {
      EXPECT_GE(everyTxBound(all) + 1e-6, all.value.cases[0].fom);
    }
    EXPECT_EQ(one.value.cases[0].com, all.value.cases[0].com);
    EXPECT_EQ(one.value.cases[0].txTaps, all.value.cases[0].txTaps);
    EXPECT_EQ(one.value.cases[0].gDC, all.value.cases[0].gDC);
    std::mt19937 rng(7);
    for (int k = 0; k < 12; ++k) {
      Params point = p;
      const double g = -static_cast<double>(rng() % 10), a = -0.02 * (rng() % 11),
                   b = -0.02 * (rng() % 16);
      point.gDC = {g, 0, g}, point.txTaps = {{-1, {a, 0, a}}, {1, {b, 0, b}}};
      const auto o = computeCom(point, ch);
      if (o.ok()) {
        EXPECT_LE(o.value.cases[0].fom, all.value.cases[0].fom + 1e-9);
        if (variant == 2) {
          EXPECT_GE(everyTxBound(o) + 1e-6, o.value.cases[0].fom) << g << " " << a << " " << b;
        }
      }
    }
  }
}

// Inputs the engine must refuse or warn about, never crash on.
TEST(ComSynthetic, InputChecks) {
  struct Row {
    const char* name;
    std::function<void(Params&, std::vector<Channel>&)> change;
    bool ok;
    const char* says;  // in the reason, or in a warning when ok
  };
  const Row rows[] = {
      {"no_channels", [](Params&, std::vector<Channel>& c) { c.clear(); }, false, "no thru"},
      {"unsorted", [](Params&, std::vector<Channel>& c) { std::swap(c[0].f[5], c[0].f[6]); }, false,
       "not above"},
      {"not_finite", [](Params&, std::vector<Channel>& c) { c[1].sdd21[9] = cd(NAN, 0); }, false,
       "finite"},
      {"sizes_differ", [](Params&, std::vector<Channel>& c) { c[0].sdd11.pop_back(); }, false,
       "differ in number"},
      {"aggressor_first", [](Params&, std::vector<Channel>& c) { std::swap(c[0], c[1]); }, false,
       "thru"},
      {"other_grid",
       [](Params&, std::vector<Channel>& c) {
         c[1] = synthetic(ChannelKind::fext, 0.03, 3e-9, 0.1, 0.05, 20e9, 25e6);
       },
       true, "other frequencies"},
      {"aggressor_short",
       [](Params&, std::vector<Channel>& c) {
         c[2] = synthetic(ChannelKind::next, 0.02, 0.5e-9, 0.05, 0.02, 8e9);
       },
       true, "below the symbol rate"},
      {"thru_too_coarse",
       [](Params&, std::vector<Channel>& c) {
         c = {synthetic(ChannelKind::thru, 1, 1e-9, 0.2, 0.05, 20e9, 1e9)};
       },
       false, "time span"},
      {"transform_too_large",
       [](Params&, std::vector<Channel>& c) {
         c = {synthetic(ChannelKind::thru, 1, 1e-9, 0.2, 0.05, 2e6, 1e3)};
       },
       false, "transform grid"},
      {"grid_too_large",
       [](Params& p, std::vector<Channel>&) {
         p.gDC = {-30, 1e-5, 0};
       },
       false, "over a minute"},
      {"no_tx_setting", [](Params& p, std::vector<Channel>&) { p.c0min = 1.5; }, false,
       "cursor tap"},
      {"no_case", [](Params& p, std::vector<Channel>&) { p.cases.clear(); }, false, "package case"},
      {"anti_causal",
       [](Params&, std::vector<Channel>& c) {
         c[0] = synthetic(ChannelKind::thru, 1, -3e-9, 0.25, 0.08);
       },
       false, "anti-causal"},
      // Five one-UI steps of half height before the main path: no rising 1 % crossing
      // within 4 UI of the peak, for any setting.
      {"no_cursor",
       [](Params& p, std::vector<Channel>& c) {
         p.txTaps.clear(), p.gDC = {0, 0, 0};
         for (std::size_t i = 0; i < c[0].f.size(); ++i) {
           cd s = std::polar(1.0, -2 * kPi * c[0].f[i] * 3e-9);
           for (int k = 1; k <= 5; ++k)
             s += std::polar(0.5, -2 * kPi * c[0].f[i] * (3e-9 - k * 1e-10));
           c[0].sdd21[i] = c[0].sdd12[i] = s, c[0].sdd11[i] = c[0].sdd22[i] = 0;
         }
       },
       false, "equalisation failed"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Params p = small(Convention::reference);
    std::vector<Channel> ch = lossySet();
    r.change(p, ch);
    const auto o = computeCom(p, ch);
    ASSERT_EQ(o.ok(), r.ok) << o.message;
    if (!r.ok) {
      EXPECT_NE(o.message.find(r.says), std::string::npos) << o.message;
    } else {
      bool found = false;
      for (const std::string& w : o.value.warnings)
        found = found || w.find(r.says) != std::string::npos;
      EXPECT_TRUE(found);
    }
  }
}

// ---------------------------------------------------------------- the views of a result

// The charts' arrays say what the figures say: the bathtub falls through DER0 at Ani, the
// equalised pulse at the cursor is As (R_LM h(ts)/(L-1)), the Tx FFE passes the sum of its
// taps at DC and the CTLE its DC gains, the eye contour at the sampling point is As - Ani,
// and the eye closes toward the UI's edges.
TEST(ComViews, AgreeWithTheFigures) {
  struct Row {
    const char* name;
    std::function<Params()> params;
    std::function<std::vector<Channel>()> channels;
  };
  const Row rows[] = {
      {"nrz_one_stage", [] { return small(Convention::reference); }, lossySet},
      {"pam4_two_stage_floating",
       [] {
         Params p = small(Convention::ieee);
         p.L = 4, p.RLM = 0.9, p.DER0 = 1e-4;
         p.twoStage = true, p.gDC2 = {-4, 2, 0}, p.fLF = 0.5e9;
         p.Nbg = 1, p.Nbf = 2, p.Nf = 12, p.bmaxg = 0.1;
         return p;
       },
       lossySet},
      // Last: without the calibration set the test ends skipped once the rows above are done.
      {"kr4_calibration_set", [] { return comcases::kr4(); },
       [] { return comcases::example2(BREVO_CHANNELS_DIR); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::vector<Channel> ch = r.channels();
    if (ch.empty())
      GTEST_SKIP() << r.name << ": calibration channels absent from " << BREVO_CHANNELS_DIR
                   << "/com";
    const Params p = r.params();
    const auto o = computeCom(p, ch);
    ASSERT_TRUE(o.ok()) << o.message;
    for (const CaseResult& c : o.value.cases) {
      const CaseViews& v = c.views;
      // Bathtub: falling, above DER0 up to Ani and not beyond it.
      ASSERT_GT(v.amplitude.size(), 2u);
      std::size_t last = 0;
      for (std::size_t i = 0; i < v.amplitude.size(); ++i) {
        if (v.probability[i] > p.DER0) last = i;
        if (i > 0) {
          EXPECT_LE(v.probability[i], v.probability[i - 1]);
        }
      }
      ASSERT_LT(last + 1, v.amplitude.size());
      EXPECT_DOUBLE_EQ(v.amplitude[last], c.Ani);
      EXPECT_LE(v.probability[last + 1], p.DER0);
      // The pulse: the cursor sample is the signal, time 0 at the cursor, the DFE span after it.
      ASSERT_EQ(v.samplesPerUi, p.M);
      ASSERT_EQ(v.equalised.size(), v.unequalised.size());
      ASSERT_LT(static_cast<std::size_t>(v.cursor), v.equalised.size());
      EXPECT_NEAR(p.RLM * v.equalised[static_cast<std::size_t>(v.cursor)] / (p.L - 1), c.As, 1e-12);
      EXPECT_DOUBLE_EQ(v.firstUi + static_cast<double>(v.cursor) / p.M, 0);
      EXPECT_EQ(v.dfeFirst, v.cursor + p.M);
      EXPECT_EQ(v.dfeLast, v.cursor + static_cast<int>(c.dfeTaps.size()) * p.M);
      EXPECT_EQ(*std::max_element(v.unequalised.begin(), v.unequalised.end()), c.unequalisedPeak);
      // Responses at DC.
      double sum = 0;
      for (double t : c.txTaps) sum += t;
      ASSERT_FALSE(v.f.empty());
      EXPECT_EQ(v.f[0], 0);
      EXPECT_NEAR(std::pow(10.0, v.txFfeDb[0] / 20), std::fabs(sum), 1e-12);
      EXPECT_NEAR(v.ctleDb[0], c.gDC + (p.twoStage ? c.gDC2 : 0), 1e-9);
      EXPECT_TRUE(v.rxFfeDb.empty());
      // The eye contour: As - Ani at the sampling point, nearly symmetric, lower at the edges.
      ASSERT_EQ(v.phaseUi.size(), 17u);  // 1/16 UI apart
      EXPECT_EQ(v.phaseUi.front(), -0.5);
      EXPECT_EQ(v.phaseUi.back(), 0.5);
      const std::size_t mid = v.phaseUi.size() / 2;
      EXPECT_EQ(v.phaseUi[mid], 0);
      EXPECT_DOUBLE_EQ(v.upper[mid], c.As - c.Ani);
      EXPECT_NEAR(v.lower[mid], -(c.As - c.Ani), 0.02 * c.As);
      EXPECT_LT(v.upper.front(), v.upper[mid]);
      EXPECT_LT(v.upper.back(), v.upper[mid]);
    }
  }
}

}  // namespace
