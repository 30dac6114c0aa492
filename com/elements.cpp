// Element responses (package, die, board), the receiver and Tx filters, the CTLE, the
// sweeps, and the resampling of a response onto the transform grid.
#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <numbers>

#include "comDetail.h"

namespace brevo::com::detail {

namespace {
constexpr double kPi = std::numbers::pi;
const cd kJ(0, 1);
}  // namespace

TwoPort identity() { return {0, 1, 1, 0}; }

TwoPort shuntC(double f, double C, double R0) {
  const cd y = kJ * (2 * kPi * f * C * R0);
  const cd s11 = -y / (2.0 + y), s21 = 2.0 / (2.0 + y);
  return {s11, s21, s21, s11};
}

TwoPort seriesL(double f, double L, double R0) {
  const cd z = kJ * (2 * kPi * f * L);
  const cd s11 = z / (2 * R0 + z), s21 = 2 * R0 / (2 * R0 + z);
  return {s11, s21, s21, s11};
}

TwoPort line(double f, double zmm, double Zc, double R0, double gamma0, double a1, double a2,
             double tau) {
  if (zmm == 0) return identity();
  const double g = f * 1e-9;  // GHz
  cd gamma = gamma0;
  if (g > 0)
    gamma += a1 * (1.0 + kJ) * std::sqrt(g) +
             (a2 * (1.0 - kJ * (2 / kPi) * std::log(g)) + kJ * (2 * kPi * tau)) * g;
  const double rho = (Zc - 2 * R0) / (Zc + 2 * R0);
  const cd E = std::exp(-gamma * zmm), E2 = E * E;
  const cd den = 1.0 - rho * rho * E2;
  const cd s11 = rho * (1.0 - E2) / den, s21 = (1 - rho * rho) * E / den;
  return {s11, s21, s21, s11};
}

TwoPort cascade(const TwoPort& a, const TwoPort& b) {
  const cd D = 1.0 - a.s22 * b.s11;
  return {a.s11 + a.s12 * a.s21 * b.s11 / D, a.s12 * b.s12 / D, a.s21 * b.s21 / D,
          b.s22 + b.s12 * b.s21 * a.s22 / D};
}

cd terminated(const TwoPort& s, double RdTx, double RdRx, double R0) {
  const double g1 = (RdTx - R0) / (RdTx + R0), g2 = (RdRx - R0) / (RdRx + R0);
  return s.s21 * (1 - g1) * (1 + g2) /
         (1.0 - s.s11 * g1 - s.s22 * g2 - s.s21 * s.s12 * g1 * g2 + s.s11 * s.s22 * g1 * g2);
}

cd rxFilter(double f, double fb, double fr) {
  const double x = f / (fr * fb), x2 = x * x;
  return 1.0 / cd(1 - 3.414214 * x2 + x2 * x2, 2.613126 * (x - x2 * x));
}

double raisedCosine(double f, double start, double end) {
  if (f <= start) return 1;
  if (f >= end) return 0;
  return 0.5 + 0.5 * std::cos(kPi * (f - start) / (end - start));
}

double riseTime(double f, double Tr) {
  const double a = kPi * (f * 1e-9) * (Tr * 1e9) / 1.6832;
  return std::exp(-2 * a * a);
}

cd ctle(double f, const Params& p, double g1, double g2) {
  auto pole = [&](double fp) { return fp > 0 ? 1.0 + kJ * (f / fp) : cd(1); };
  cd h = (g1 + kJ * (f / p.fz)) / (pole(p.fp1) * pole(p.fp2));
  if (p.twoStage) h *= (g2 + kJ * (f / p.fLF)) / (1.0 + kJ * (f / p.fLF));
  return h;
}

cd txFfe(double f, double Tb, std::span<const double> taps, int first) {
  cd h = 0;
  for (std::size_t j = 0; j < taps.size(); ++j)
    h += taps[j] * std::polar(1.0, -2 * kPi * f * (first + static_cast<int>(j)) * Tb);
  return h;
}

std::vector<double> sweepValues(const Sweep& s, bool colonArithmetic) {
  const double a = s.min, b = s.max, d = s.step;
  if (d == 0 || a == b || !std::isfinite(a + b + d) || (b - a) / d < 0) return {a};
  const double tol = 2.0 * DBL_EPSILON * std::max(std::fabs(a), std::fabs(b));
  double n = std::floor((b - a) / d + 1e-10);
  if (colonArithmetic) {
    n = std::round((b - a) / d);
    if (std::fabs(a + n * d - b) > tol + 1e-12 * std::fabs(d)) n = std::floor((b - a) / d);
  }
  if (n > 1e6) n = 1e6;
  const int count = static_cast<int>(n) + 1;
  std::vector<double> v(static_cast<std::size_t>(count));
  if (!colonArithmetic) {
    for (int k = 0; k < count; ++k) v[static_cast<std::size_t>(k)] = a + k * d;
    return v;
  }
  // First half from the start, second half back from the end, the end met exactly.
  const double end = std::fabs(a + n * d - b) <= tol + 1e-12 * std::fabs(d) ? b : a + n * d;
  const int half = static_cast<int>(n) / 2;
  for (int k = 0; k <= half; ++k) v[static_cast<std::size_t>(k)] = a + k * d;
  for (int k = 0; k < count - half - 1; ++k)
    v[static_cast<std::size_t>(count - 1 - k)] = end - k * d;
  return v;
}

namespace {

// Least-squares line through (x, y); value at x0.
double lineAt(std::span<const double> x, std::span<const double> y, double x0) {
  const double n = static_cast<double>(x.size());
  double sx = 0, sy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) sx += x[i], sy += y[i];
  const double mx = sx / n, my = sy / n;
  double sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i)
    sxx += (x[i] - mx) * (x[i] - mx), sxy += (x[i] - mx) * (y[i] - my);
  return sxx > 0 ? my + sxy / sxx * (x0 - mx) : my;
}

// Mean of the values within one standard deviation of their median.
double robustMean(std::vector<double> v) {
  if (v.empty()) return 0;
  double mean = 0;
  for (double x : v) mean += x;
  mean /= static_cast<double>(v.size());
  double var = 0;
  for (double x : v) var += (x - mean) * (x - mean);
  const double sd = v.size() > 1 ? std::sqrt(var / static_cast<double>(v.size() - 1)) : 0;
  std::vector<double> s = v;
  std::sort(s.begin(), s.end());
  const std::size_t m = s.size() / 2;
  const double median = s.size() % 2 ? s[m] : 0.5 * (s[m - 1] + s[m]);
  double sum = 0;
  int count = 0;
  for (double x : v)
    if (std::fabs(x - median) <= sd) sum += x, ++count;
  return count ? sum / count : median;
}

}  // namespace

brevo::Result<std::vector<cd>> resample(std::span<const double> f, std::span<const cd> h,
                                        std::span<const double> to, double fTop) {
  assert(h.size() == f.size() && "resample: a response value at every frequency");
  const std::size_t n = f.size();
  brevo::Result<std::vector<cd>> r;
  std::vector<cd>& out = r.value;
  out.assign(to.size(), cd(0));
  auto fail = [&](const char* why) {
    r.status = 1;
    r.message = why;
    return r;
  };
  if (n == 0) return fail("no points");
  std::vector<double> mag(n), ph(n);
  for (std::size_t i = 0; i < n; ++i) {
    mag[i] = std::abs(h[i]);
    ph[i] = std::arg(h[i]);
    if (i > 0) {
      double d = ph[i] - ph[i - 1];
      d -= 2 * kPi * std::round(d / (2 * kPi));
      ph[i] = ph[i - 1] + d;
    }
  }
  if (n == 1) {
    for (std::size_t k = 0; k < to.size(); ++k) out[k] = h[0];
    return r;
  }
  if ((ph[n - 1] - ph[0]) / (f[n - 1] - f[0]) > 0)
    return fail("the response is anti-causal (its mean phase slope is positive)");
  // Group delays at the two ends.
  auto delays = [&](std::size_t from, std::size_t to_) {
    std::vector<double> d;
    for (std::size_t i = from; i + 1 < to_ && i + 1 < n; ++i)
      d.push_back(-(ph[i + 1] - ph[i]) / (2 * kPi * (f[i + 1] - f[i])));
    return d;
  };
  const double tauLow = robustMean(delays(0, std::min<std::size_t>(n, 51)));
  const double tauHigh = robustMean(delays(n > 52 ? n - 52 : 0, n));
  // Below the first point.
  const std::size_t nl = std::min<std::size_t>(n, 10);
  const double magDc =
      f[0] > 0
          ? std::max(0.0, lineAt(std::span(f).first(nl), std::span<const double>(mag).first(nl), 0))
          : mag[0];
  const double phAnchor = ph[nl - 1], fAnchor = f[nl - 1];
  // Above the last point.
  const std::size_t half = n / 2;
  double magTop =
      lineAt(std::span(f).subspan(half), std::span<const double>(mag).subspan(half), fTop);
  magTop = std::clamp(magTop, DBL_EPSILON, std::max(mag[n - 1], DBL_EPSILON));
  std::size_t i = 0;
  for (std::size_t k = 0; k < to.size(); ++k) {
    const double x = to[k];
    double m, p;
    if (x < f[0]) {
      m = magDc + (mag[0] - magDc) * (x / f[0]);
      p = phAnchor - 2 * kPi * tauLow * (x - fAnchor);
    } else if (x > f[n - 1]) {
      m = fTop > f[n - 1] ? mag[n - 1] + (magTop - mag[n - 1]) *
                                             std::min(1.0, (x - f[n - 1]) / (fTop - f[n - 1]))
                          : mag[n - 1];
      p = ph[n - 1] - 2 * kPi * tauHigh * (x - f[n - 1]);
    } else {
      while (i + 2 < n && f[i + 1] < x) ++i;
      while (i > 0 && f[i] > x) --i;
      const double t = f[i + 1] > f[i] ? (x - f[i]) / (f[i + 1] - f[i]) : 0;
      m = mag[i] + t * (mag[i + 1] - mag[i]);
      p = ph[i] + t * (ph[i + 1] - ph[i]);
      // Points rebuilt from the low delay where the file starts above 0 Hz.
      if (f[0] > 0 && x < fAnchor) p = phAnchor - 2 * kPi * tauLow * (x - fAnchor);
    }
    out[k] = std::polar(m, p);
  }
  return r;
}

}  // namespace brevo::com::detail
