// Loss fit of the through channel, its insertion-loss deviation (ILD) and the three
// re-reflection noise sums, all integrated in one pass over the thru points.
#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "channelModel.h"
#include "GlobalNames.h"
#include "stages.h"

std::vector<double> pointFrequencies(const Sparams& set) {
  std::vector<double> f(static_cast<std::size_t>(set.Fcount()));
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = set.Freq(static_cast<int>(i));
  return f;
}

FittedBand fittedBand(const RunGiven& given, const Sparams& thru) {
  FittedBand band;
  const int n = thru.Fcount();
  if (n == 0) return band;
  const int limit = given.settings.limit_range;
  band.from = thru.Freq(0), band.to = thru.Freq(n - 1);
  if (limit == 2 && given.derived.rxTau > 0) band.to = std::min(band.to, 1 / given.derived.rxTau);
  band.limit = limit == 1 ? "soft" : limit == 2 ? "hard" : "none";
  return band;
}

GridWeights weightsOn(const Derived& d, const LossFit& lossFit, std::span<const double> freq,
                      double txTau) {
  if (lossFit.weights.isFor(freq, d.UI, d.rxTau, txTau)) return lossFit.weights;
  return gridWeights(freq, d.UI, d.rxTau, txTau);
}

namespace {

// ln z with the imaginary part in (-pi, pi]; an exactly zero value (about -869 dB)
// stands in as -100 so the fit never sees an undefined logarithm.
std::complex<double> principalLog(std::complex<double> z) {
  if (z.real() == 0 && z.imag() == 0) return {-100.0, 0.0};
  std::complex<double> v = std::log(z);
  if (v.imag() == -std::numbers::pi) v.imag(std::numbers::pi);  // -0 imaginary part
  return v;
}

// What the fit is made of, one entry per thru point: frequency, ln Sdd21 with its phase
// unwrapped, and the complex weight of the point.
struct FitData {
  std::vector<double> freq;
  std::vector<std::complex<double>> lnSdd21, weight;
};

// The fit's data and weights; thruPower too, since it is taken on the same walk.
FitData prepareFit(const RunGiven& given, const Sparams& thru, const ThruPoints& points,
                   LossFit& p) {
  const int n = thru.Fcount();
  FitData fit{std::vector<double>(n, 0.0), std::vector<std::complex<double>>(n),
              std::vector<std::complex<double>>(n)};
  p.thruPower.assign(n, 0.0);
  const Derived& d = given.derived;
  p.weights = gridWeights(pointFrequencies(thru), d.UI, d.rxTau, d.txTau);
  const int limit = given.settings.limit_range;
  const double rxTau = given.derived.rxTau;
  double reference = 0;
  for (int i = 0; i < n; ++i) {
    const double f = thru.Freq(i);
    const std::complex<double> s = points.Sdd21[i];
    p.thruPower[i] = std::abs(s * s);
    fit.freq[i] = f;
    // Each point counts with its own transmitted power |Sdd21|^2; the soft limit
    // shapes that by the noise weight, the hard limit leaves out every point above
    // the receiver bandwidth (none when the receiver is unlimited, rxTau 0).
    fit.weight[i] = s;
    if (limit == 1) fit.weight[i] *= p.weights.noise(i);
    if (limit == 2 && f * rxTau > 1) fit.weight[i] = 0;
    std::complex<double> v = principalLog(s);
    if (i > 0) v.imag(unwrapPhase(v.imag(), reference));
    reference = v.imag();
    fit.lnSdd21[i] = v;
  }
  return fit;
}

void reportFit(const RunIO& io, const LossFit& lossFit) {
  static const char* const kLines[4] = {"a0=%12.6e+j(%12.6e)\n", "a1=%12.6e+j(%12.6e)\n",
                                        "a2=%12.6e+j(%12.6e)\n", "a4=%12.6e+j(%12.6e)\n"};
  std::fprintf(io.result, "best fit parameters in complex equation:\n");
  std::fprintf(io.result, "ln(Sdd21)= a0 + a1 * sqrt(f) + a2 * f + a4 * f^2\n");
  for (int k = 0; k < 4; ++k)
    std::fprintf(io.result, kLines[k], lossFit.fitCoef[k].real(), lossFit.fitCoef[k].imag());
}

}  // namespace

void fitThru(const RunGiven& given, RunIO& io, const Sparams& thru, const ThruPoints& points,
             LossFit& lossFit) {
  LossFit& p = lossFit;
  const Settings& s = given.settings;
  const int n = thru.Fcount();

  const FitData data = prepareFit(given, thru, points, p);
  fitW0124(data.freq.data(), data.lnSdd21.data(), data.weight.data(), n, p.fitCoef,
           io.standardError);
  // Only an explicit a4_limit can trigger the three-term refit (the default is +inf).
  if (p.fitCoef[3].real() > s.a4_limit)
    fitW012(data.freq.data(), data.lnSdd21.data(), data.weight.data(), n, p.fitCoef,
            io.standardError);
  p.fitSdd21.assign(n, {});
  for (int i = 0; i < n; ++i) p.fitSdd21[i] = fit(p.fitCoef, data.freq[i]);
  reportFit(io, p);
  p.nyquistFitGain = std::abs(fit(p.fitCoef, s.data_rate / 2));

  // ILD and re-reflection sums over points 0..N-2 (the last point has no width).
  // With 200 points or fewer no window index satisfies 200*i < N: the low-frequency
  // power and index stay 0 and no warning follows.
  double lowFreqIldPower = 0;
  p.lowFreqIldIndex = 0;
  double ild = 0, tx = 0, rx = 0, txRx = 0;
  for (int i = 0; i + 1 < n; ++i) {
    const double f = data.freq[i];
    const double h = p.weights.noise(i);
    const double w = integrationWidth(p.weights.freq, i, FirstPoint::halfNextAtZero);
    const std::complex<double> s21 = points.Sdd21[i];
    const std::complex<double> dev = s21 - p.fitSdd21[i];
    ild += std::abs(dev * dev * h * h) * w;
    if (i >= 1 && 200.0 * i < n) {
      lowFreqIldPower = ild;
      p.lowFreqIldIndex = i;
    }
    const double gTx = deviceRL(f, s.g0Tx, s.pTx);
    const double gRx = deviceRL(f, s.g0Rx, s.pRx);
    const std::complex<double> xTx = (gTx * points.Sdd11[i]) * s21;
    const std::complex<double> xRx = (gRx * points.Sdd22[i]) * s21;
    const std::complex<double> xTxRx = (((gTx * gRx) * s21) * s21) * s21;
    tx += std::abs(xTx * xTx * h * h) * w;
    rx += std::abs(xRx * xRx * h * h) * w;
    txRx += std::abs(xTxRx * xTxRx * h * h) * w;
  }
  std::fprintf(io.log, "low frequency ILD=%e of %e\n", lowFreqIldPower, ild);
  // A non-zero index means at least half the ILD power sits in the lowest 0.5% of points.
  if (0.5 * ild > lowFreqIldPower) p.lowFreqIldIndex = 0;

  std::fprintf(io.log, "sigma  RRTx   = %14.6e\n", tx);
  std::fprintf(io.log, "sigma  RRRx   = %14.6e\n", rx);
  std::fprintf(io.log, "sigma  RRTxRx = %14.6e\n", txRx);
  const double scale = (s.signal * s.signal) * given.derived.UI;  // to volts squared
  TwoLevelNoise& two = p.twoLevel;
  two = {scale * ild, scale * tx, scale * rx, scale * txRx};
  std::fprintf(io.log, "sigma AC ild  = %14.6e\n", two.ild);
  std::fprintf(io.log, "sigma  RRTx   = %14.6e\n", two.rrTx);
  std::fprintf(io.log, "sigma  RRRx   = %14.6e\n", two.rrRx);
  std::fprintf(io.log, "sigma  RRTxRx = %14.6e\n", two.rrTxRx);
  std::fprintf(io.log, "channel Noise = %14.6e\n", two.ild + two.rrTx + two.rrRx + two.rrTxRx);
}
