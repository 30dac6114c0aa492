// Entries at stored points and at any frequency (interpolation inside the range, held
// or line-fitted ends outside it), the finest spacing, and mixed-mode parameters.
#include "TouchstoneCore.h"

#include <cmath>
#include <numbers>
#include <limits>

namespace brevo {

using complex = std::complex<double>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const complex kNaNValue{kNaN, kNaN};

// Steps the phase track may take between neighbours in a fit window: it may fall by
// almost a full turn but rise by at most one radian (delay makes phase fall).
inline double track(double phase, double previous) { return unwrapPhase(phase, previous, 1.0); }

// Straight lines through |S| and the tracked phase over a window of points.
struct Lines {
  double ka, ca;  // magnitude = ka f + ca
  double kp, cp;  // phase = kp f + cp, radians
};

template <typename Entry>
Lines fitLines(const double* freq, int first, int count, Entry entry) {
  double sf = 0, sf2 = 0, sm = 0, sp = 0, sfm = 0, sfp = 0;
  double previous = 0;
  for (int n = first; n < first + count; ++n) {
    const complex s = entry(n);
    const double f = freq[n];
    const double m = std::abs(s);
    double p = std::arg(s);
    if (n > first) p = track(p, previous);
    previous = p;
    sf += f;
    sf2 += f * f;
    sm += m;
    sp += p;
    sfm += f * m;
    sfp += f * p;
  }
  const double w = count;
  const double mf = sf / w, mf2 = sf2 / w, mm = sm / w, mp = sp / w, mfm = sfm / w, mfp = sfp / w;
  const double var = mf2 - mf * mf;
  Lines l;
  l.ka = (mfm - mf * mm) / var;
  l.ca = mm - mf * l.ka;
  l.kp = (mfp - mf * mp) / var;
  l.cp = mp - mf * l.kp;
  return l;
}

// Moves r into (-step/2, step/2] by whole steps, as repeated subtraction would. The
// loops run only on values of sensible size; a wild or non-finite intercept (a window
// of equal frequencies) is left for the caller's non-finite result instead of
// looping forever.
double reduce(double r, double step) {
  if (!std::isfinite(r) || std::fabs(r) > 1e6) return r - step * std::floor(r / step + 0.5);
  while (r > step / 2) r -= step;
  while (r <= -step / 2) r += step;
  return r;
}

inline complex lineValue(const Lines& l, double f) {
  const double magnitude = l.ka * f + l.ca;
  const double phase = l.kp * f + l.cp;
  return {magnitude * std::cos(phase), magnitude * std::sin(phase)};
}

// Magnitude and phase of a stored entry.
struct Polar {
  double magnitude, phase;
};

// How close a point must be to f to be taken as f's own.
inline double tolerance(const double* F, int N) { return F[N - 1] * 0.001 / N; }

// The point to interpolate from: one within the tolerance of f (the first the bisection
// meets), else the last point not above f; never the last point.
int locate(const double* F, int N, double f) {
  const double tol = tolerance(F, N);
  int lo = 0, hi = N, m = (lo + hi) / 2;
  while (m > lo) {
    if (std::fabs(F[m] - f) < tol) break;
    if (F[m] > f)
      hi = m;
    else
      lo = m;
    m = (lo + hi) / 2;
  }
  return m + 1 > N - 1 ? m - 1 : m;
}

// The same point found by walking on from the one before, for frequencies that ascend
// by more than twice the tolerance (checked by the caller): then at most one point is
// within the tolerance of f, and the bisection ends on it or, with none, on the last
// point not above f.
int walk(const double* F, int N, double f, int& from) {
  int j = from;
  while (j > 0 && F[j] > f) --j;
  while (j + 1 < N && F[j + 1] <= f) ++j;
  from = j;
  const int m = j + 1 < N && F[j + 1] - f < tolerance(F, N) ? j + 1 : j;
  return m + 1 > N - 1 ? m - 1 : m;
}

// The value at f between points m and m + 1.
template <typename PolarOf>
complex interpolateAt(const double* F, int m, double f, PolarOf polar) {
  const double fa = F[m], fb = F[m + 1];
  const Polar a = polar(m), b = polar(m + 1);
  const double magnitude = ((fb - f) * a.magnitude + (f - fa) * b.magnitude) / (fb - fa);
  const double pa = a.phase;
  const double pb = unwrapPhase(b.phase, pa);
  const double phase = ((fb - f) * pa + (f - fa) * pb) / (fb - fa);
  return Param(MR, magnitude, phase);
}

// The value at f, inside the range of the N frequencies F, from the entries' magnitudes
// and phases: linear in magnitude and in phase between the neighbouring points, the
// phase taken the short way round.
template <typename PolarOf>
complex interpolate(const double* F, int N, double f, PolarOf polar) {
  return interpolateAt(F, locate(F, N, f), f, polar);
}

}  // namespace

complex Sparams::Value(int k, int i, int j) const {
  if (k < 0 || k >= nFreq || i < 1 || i > nPorts || j < 1 || j > nPorts) return kNaNValue;
  return (*data)[at(k, i, j)];
}

complex Sparams::Value(double f, int i, int j, int extrap) const {
  if (i < 1 || i > nPorts || j < 1 || j > nPorts || nFreq < 1) return kNaNValue;
  f = std::fabs(f);
  const double* F = freq->data();
  const int N = nFreq;
  auto entry = [&](int k) { return (*data)[at(k, i, j)]; };
  const double F0 = F[0];
  const double Fmax = F[N - 1];

  // One point (only a set built for writing can have one with ports): there is neither
  // a neighbour to interpolate with nor a line to fit, so the point's value holds at
  // every frequency, except that flag 2 still gives 0 above it.
  if (N == 1) return (f > Fmax && (extrap & 2)) ? complex{0, 0} : entry(0);

  if (F0 <= f && f <= Fmax)
    return interpolate(F, N, f, [&](int k) {
      return Polar{std::abs(entry(k)), std::arg(entry(k))};
    });

  if (extrap == 0) return f > F0 ? entry(N - 1) : entry(0);

  if (f < F0) {
    // The first three points and every further one up to four times the first frequency.
    int count = 0;
    while (count < N && (count <= 2 || F[count] <= 4 * F0)) ++count;
    Lines l = fitLines(F, 0, count, entry);
    if (l.ca < 0) {  // the line would cross zero before 0 Hz: go through the origin instead
      l.ca = 0;
      l.ka = std::abs(entry(0)) / F0;
    }
    // Snap the phase at 0 Hz to a multiple of pi/2, or of pi/4 through the origin.
    double r = reduce(l.cp, std::numbers::pi / 2);
    if (l.ca == 0) r = reduce(r, std::numbers::pi / 4);
    l.cp -= r;
    return lineValue(l, f);
  }

  if (extrap & 2) return {0, 0};
  const int count = N < 10 ? N : 10;
  return lineValue(fitLines(F, N - count, count, entry), f);
}

std::vector<complex> Sparams::Values(std::span<const double> f, int i, int j, int extrap) const {
  std::vector<complex> out(f.size());
  if (i < 1 || i > nPorts || j < 1 || j > nPorts || nFreq < 2) {
    for (std::size_t n = 0; n < f.size(); ++n) out[n] = Value(f[n], i, j, extrap);
    return out;
  }
  const double* F = freq->data();
  const int N = nFreq;
  // Each stored entry's magnitude and phase, taken once: interpolation at many
  // frequencies uses every entry twice or more.
  std::vector<Polar> polar(static_cast<std::size_t>(N));
  for (int k = 0; k < N; ++k) {
    const complex s = (*data)[at(k, i, j)];
    polar[static_cast<std::size_t>(k)] = {std::abs(s), std::arg(s)};
  }
  // Lists that ascend (as a grid does) find each point by walking from the last.
  bool spaced = true;
  for (int k = 0; spaced && k + 1 < N; ++k) spaced = F[k + 1] - F[k] > 2 * tolerance(F, N);
  int from = 0;
  for (std::size_t n = 0; n < f.size(); ++n) {
    const double x = std::fabs(f[n]);
    if (!(F[0] <= x && x <= F[N - 1])) {
      out[n] = Value(x, i, j, extrap);
      continue;
    }
    const int m = spaced ? walk(F, N, x, from) : locate(F, N, x);
    out[n] = interpolateAt(F, m, x, [&](int k) { return polar[static_cast<std::size_t>(k)]; });
  }
  return out;
}

double Sparams::freqStep() const {
  if (nFreq < 1) return kNaN;  // needs a frequency; NaN rather than a read outside (our choice)
  const double* F = freq->data();
  double step = F[nFreq - 1];
  for (int n = 0; n + 1 < nFreq; ++n) {
    const double d = F[n + 1] - F[n];
    if (d < step) step = d;
  }
  return step;
}

std::vector<complex> Sparams::aParam(int iP, int jP, int iM, int jM, int mode, double fstop,
                                     int* count) const {
  if (nFreq < 1) return {};
  if (fstop == 0) fstop = fmax();
  if (iP < 1 || iP > nPorts || iM < 0 || iM > nPorts) return {};
  if (jP < 1 || jP > nPorts || jM < 0 || jM > nPorts) return {};

  const double top = fmax();
  const double step = freqStep();
  std::vector<complex> out;
  if (mode == 0 && top <= fstop && fstop <= top + step) {
    out.resize(static_cast<std::size_t>(nFreq));
    // Entry (i, j) of point k straight from the storage (the ports are checked above),
    // or NaN for a lone minus port (0) as Value gives it.
    const complex* d = data->data();
    auto entry = [&](std::size_t k, int i, int j) {
      return i == 0 || j == 0 ? kNaNValue : d[at(static_cast<int>(k), i, j)];
    };
    for (std::size_t k = 0; k < static_cast<std::size_t>(nFreq); ++k) {
      out[k] = jM != 0 ? differential(entry(k, iP, jP), entry(k, iP, jM), entry(k, iM, jP),
                                      entry(k, iM, jM))
                       : entry(k, iP, jP);
    }
  } else {
    const double f0 = mode == 0 ? Freq(0) : 0.0;
    // A regular grid needs a positive step. Frequencies that do not ascend give a step of
    // 0 or below (or NaN): no grid, the empty result. Followed literally, a falling step
    // would walk down from a stray large first frequency in up to hundreds of millions
    // of points for a file of four.
    if (!(step > 0)) return {};
    const double points = std::floor((fstop - f0) / step + 0.5);
    // An fstop below the start gives no point: the empty result. A grid that would need
    // more storage than a whole set may take is refused the same way.
    if (!(points >= 1) || points > static_cast<double>(kMaxSetBytes / 16)) return {};
    const auto n = static_cast<int>(points);
    out.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
      const double fk = f0 + k * step;
      out[static_cast<std::size_t>(k)] =
          jM != 0 ? differential(Value(fk, iP, jP, 2), Value(fk, iP, jM, 2), Value(fk, iM, jP, 2),
                                 Value(fk, iM, jM, 2))
                  : Value(fk, iP, jP, 2);
    }
  }
  if (count) *count = static_cast<int>(out.size());
  return out;
}

}  // namespace brevo
