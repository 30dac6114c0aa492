// Continuous phase of a sampled response and the impulse response of a one-sided
// spectrum by direct summation.
#include "TouchstoneCore.h"

#include <cmath>
#include <numbers>

namespace brevo {

using complex = std::complex<double>;

namespace {

// arg z in (-pi, pi]: a negative real value with imaginary part -0 counts as +pi.
double principalArg(complex z) {
  const double a = std::arg(z);
  return a == -std::numbers::pi ? std::numbers::pi : a;
}

}  // namespace

double unwrapPhase(double phase, double reference, double above) {
  constexpr double kTurn = 2 * std::numbers::pi;
  while (phase - reference > above) phase -= kTurn;
  while (phase - reference < above - kTurn) phase += kTurn;
  return phase;
}

std::vector<double> phc(int n, const complex* v) {
  if (n < 1 || !v) return {};
  std::vector<double> out(static_cast<std::size_t>(n));
  out[0] = principalArg(v[0]);
  for (int k = 1; k < n; ++k) {
    const double previous = out[static_cast<std::size_t>(k - 1)];
    out[static_cast<std::size_t>(k)] = unwrapPhase(principalArg(v[k]), previous);
  }
  return out;
}

std::vector<double> impulse(const complex* H, int n, double F, int* count, double dt) {
  if (dt == 0) dt = 0.5 / F;
  if (n < 2 || !H) return {};
  const double df = F / (n - 1);
  const double w = 2 * std::numbers::pi * df;
  const double samples = std::floor(n / (dt * F) + 0.5);
  // No sample, or more than a whole set may hold (a dt or F of nonsense size): the
  // empty result, as for too few frequencies (our choice).
  if (!(samples >= 1) || samples > static_cast<double>(kMaxSetBytes / 8)) return {};
  const auto m = static_cast<int>(samples);
  std::vector<double> out(static_cast<std::size_t>(m));
  const complex c0 = (0.5 * H[0]) * df;
  double t = 0;
  for (int i = 0; i < m; ++i) {
    const complex e{std::cos(w * t), std::sin(w * t)};
    complex r = e * df;
    complex acc = c0;
    for (int k = 1; k < n; ++k) {
      acc += r * H[k];
      r *= e;
    }
    out[static_cast<std::size_t>(i)] = acc.real();
    t += dt;
  }
  if (count) *count = m;
  return out;
}

}  // namespace brevo
