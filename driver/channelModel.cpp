// Models of the parts of the link that are not given as S-parameters: the data
// spectrum, the device filters and return losses, the fitted loss curve and the
// relation between bit error ratio and Q.
#include "channelModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <limits>

const std::complex<double> I(0.0, 1.0);
const std::complex<double> _I(0.0, 1.0);

namespace {
constexpr double kInvSqrt2 = 0.7071067811865476;
// A single pole's 20-80% rise time times 2*pi/ln 4 is its 1/f3dB.
constexpr double kRiseToTau = 4.532360141827194;
constexpr double kLn4 = 1.3862943611198906;
// Q's damped Newton iteration needs about nine passes near 1e-12; this only stops
// a run-away where the tolerance can never be met.
constexpr int kMaxQPasses = 100;
}  // namespace

double pulseWeight(double f, double T) {
  if (f == 0) return 1.0;
  const double x = f * std::numbers::pi * T;
  return std::sin(x) / x;
}

// |pulse spectrum| * |1 - exp(-j 2 pi f T)|, negative and without phase.
double dibitWeight(double f, double T) {
  if (f == 0) return 0.0;
  const double x = f * std::numbers::pi * T;
  return -2.0 * std::sin(x) * std::sin(x) / x;
}

double butterworth(int n, double f, double t) {
  return 1.0 / std::sqrt(1.0 + std::pow(f * t, static_cast<double>(2 * n)));
}

GridWeights gridWeights(std::span<const double> freq, double UI, double rxTau, double txTau) {
  GridWeights w;
  w.freq.assign(freq.begin(), freq.end());
  w.UI = UI, w.rxTau = rxTau, w.txTau = txTau;
  w.pulse.reserve(freq.size()), w.rx.reserve(freq.size()), w.tx.reserve(freq.size());
  for (const double f : freq) {
    w.pulse.push_back(pulseWeight(f, UI));
    w.rx.push_back(butterworth(4, f, rxTau));
    w.tx.push_back(butterworth(2, f, txTau));
  }
  return w;
}

bool GridWeights::isFor(std::span<const double> f, double ui, double rTau, double tTau) const {
  return UI == ui && rxTau == rTau && txTau == tTau &&
         std::equal(f.begin(), f.end(), freq.begin(), freq.end());
}

double integrationWidth(std::span<const double> freq, std::size_t i, FirstPoint rule) {
  if (i > 0) return freq[i + 1] - freq[i - 1];
  const double w = 2 * freq[0];
  return w == 0 && rule == FirstPoint::halfNextAtZero && freq.size() > 1 ? 0.5 * freq[1] : w;
}

// g0 at DC, rising to 1 well above the corner p; about 3 dB return loss at p.
double deviceRL(double f, double g0, double p) {
  const double r = f * f / (p * p);
  return std::sqrt((g0 * g0 + r) / (1.0 + r));
}

// A rise time wins over a bandwidth. Rise times below 1 ms are seconds, larger ones
// unit intervals; bandwidths above 100 are hertz, smaller ones fractions of the rate.
double tau(double rise, double bandwidth, double rate) {
  if (rise != 0) {
    const double y = std::fabs(rise) * kRiseToTau;
    return y < 0.001 ? y : y / rate;
  }
  if (bandwidth == 0) return 0.0;
  const double b = std::fabs(bandwidth);
  return b > 100 ? 1.0 / b : 1.0 / (rate * b);
}

void interpretTau(double* v, double scale) {
  if (*v < 0.01) *v /= kLn4;
  if (*v >= 0.01 && *v < 100) *v *= scale;
  *v = *v > 0.01 ? 1.0 / *v : *v * std::numbers::pi;
}

// exp(a0 + a1 sqrt f + a2 f + a4 f^2): the smooth loss model of the through channel.
std::complex<double> fit(const std::complex<double>* a, double f) {
  return std::exp(a[0] + a[1] * std::sqrt(f) + a[2] * f + a[3] * (f * f));
}

double BER(double q, int pam) {
  return std::erfc(q * kInvSqrt2) * (pam - 1.0) / pam;  // pam - 1 in double: no int overflow
}

// Inverts BER by a damped Newton iteration (the step leaves out sqrt(2/pi)).
// Our choices where no Q exists: a BER of exactly 0 and a PAM level below 2 give
// +infinity (an unreachable target), and the passes are bounded at 100.
double Q(double ber, int pam) {
  if (pam < 2) return std::numeric_limits<double>::infinity();
  double x = std::fabs(ber);
  if (x > 1) x = 1 / x;  // a BER written as 1e12 means 1e-12
  if (x > 0.5) x = 1 - x;
  x = x * (static_cast<double>(pam) / (pam - 1));
  if (!(x > 0) || !std::isfinite(x)) return std::numeric_limits<double>::infinity();

  double q = 1.3 * std::sqrt(-std::log(x));
  for (int pass = 0; pass < kMaxQPasses; ++pass) {
    const double e = std::exp(-q * q * 0.5);
    const double c = std::erfc(q * kInvSqrt2);
    q = q + (c - x) / e;
    if (std::fabs(x / c - 1) < 0.001) break;
  }
  return std::fabs(q);
}
