// The channel delay from the fit, the short pulse, dibit and fitted-pulse responses on
// the thru file's own points, their interpolated peaks, the optional .wv1 file and the
// implementation noise.
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include "channelModel.h"
#include "chirpSums.h"
#include "phasorSums.h"
#include "sideColumns.h"
#include "stages.h"

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// Per-frequency coefficients of the three short sums and the phasor step E1. The start
// phasors are folded into the coefficients (E2 for the pulses, E3 for the dibit), so
// that one phasor E1^n serves all three; the dibit's imaginary part is taken as the real
// part of its coefficient times -j.
struct ShortInputs {
  std::vector<double> re[3], im[3];  // pulse, fitted pulse, dibit
  std::vector<double> stepRe, stepIm;
  void push(std::complex<double> pulse, std::complex<double> fitted, std::complex<double> dibit,
            std::complex<double> e1) {
    const std::complex<double> c[3] = {pulse, fitted,
                                       std::complex<double>(dibit.imag(), -dibit.real())};
    for (int s = 0; s < 3; ++s) re[s].push_back(c[s].real()), im[s].push_back(c[s].imag());
    stepRe.push_back(e1.real()), stepIm.push_back(e1.imag());
  }
};

struct Peak {
  int index = 0;
  double offset = 0;  // parabola vertex relative to index, samples
  double value = 0;   // above the first sample
};

// Largest magnitude (a tie keeps the earlier sample), then the parabola through it and
// its neighbours (the end samples stand in for missing neighbours). A flat top (a = 0)
// has no vertex: we report the peak sample itself (x = 0).
Peak findPeak(const std::vector<double>& y) {
  Peak pk;
  double best = std::abs(y[0]);
  for (int n = 1; n < static_cast<int>(y.size()); ++n)
    if (std::abs(y[n]) > best) best = std::abs(y[n]), pk.index = n;
  const int last = static_cast<int>(y.size()) - 1;
  const double yL = y[pk.index == 0 ? 0 : pk.index - 1];
  const double yR = y[pk.index == last ? last : pk.index + 1];
  const double c = best;
  const double a = 0.5 * (yL + yR - 2 * c);
  const double b = 0.5 * (yR - yL);
  pk.offset = a == 0 ? 0.0 : -0.5 * b / a;
  pk.value = a * pk.offset * pk.offset + b * pk.offset + c - y[0];
  return pk;
}

// The rows; the error of a piece the file did not take, or 0.
int writeWv1(const Derived& d, const PulseResults& pulse, FILE* file, const ShortWaveforms& w) {
  const double UI = d.UI, pol = pulse.polarity;
  SideRows rows(file);
  for (int n = 0; n < pulsePoints; ++n) {  // "%14.6e  %12.6f  %12.6f %12.6f \n"
    char row[3 * 340 + 64];
    char* at = putScientific(row, (kSampleUI * n - kLeadUI) * UI + pulse.groupDelay, 14, 6);
    *at++ = ' ', *at++ = ' ';
    at = putFixed(at, w.pulse[n] * pol, 12, 6);
    *at++ = ' ', *at++ = ' ';
    at = putFixed(at, w.dibit[n] * pol, 12, 6);
    *at++ = ' ';
    at = putFixed(at, w.fitPulse[n] * pol, 12, 6);
    *at++ = ' ', *at++ = '\n';
    rows.add(row, at);
  }
  rows.flush();
  return rows.error();
}

// The .wv1 columns at full precision.
void keepShortWaveforms(const Derived& d, PulseResults& pulse, const ShortWaveforms& w) {
  const double UI = d.UI, pol = pulse.polarity;
  ShortCurves& c = pulse.curves;
  c.time.resize(pulsePoints), c.pulse.resize(pulsePoints);
  c.dibit.resize(pulsePoints), c.fitPulse.resize(pulsePoints);
  for (int n = 0; n < pulsePoints; ++n) {
    c.time[n] = (kSampleUI * n - kLeadUI) * UI + pulse.groupDelay;
    c.pulse[n] = w.pulse[n] * pol;
    c.dibit[n] = w.dibit[n] * pol;
    c.fitPulse[n] = w.fitPulse[n] * pol;
  }
}

}  // namespace

namespace {

// Whether frequencies first .. last of the set lie on one even grid, each within half a
// unit in its last place of first + (k - first) * step.
bool evenlySpaced(const Sparams& set, int first, int last) {
  if (last - first < 1) return false;
  const double f0 = set.Freq(first), step = set.Freq(first + 1) - f0;
  if (!(step > 0)) return false;
  for (int k = first + 2; k <= last; ++k)
    if (set.Freq(k) != std::fma(k - first, step, f0)) return false;
  return true;
}

}  // namespace

ShortWaveforms shortPulseSums(const Derived& derived, const Sparams& thru, const ThruPoints& points,
                              const LossFit& p, const PulseResults& pulse) {
  const double UI = derived.UI, delay = pulse.groupDelay;
  const int n = thru.Fcount();
  const double sampleStep = kSampleUI * UI;
  // On an even grid the sums are one chirp convolution; else each frequency's phasor
  // steps from sample to sample.
  const bool even = evenlySpaced(thru, 1, n - 2);
  ShortInputs in;
  for (int k = 1; k + 1 < n; ++k) {  // the first and the last point take no part
    const double f = thru.Freq(k);
    const double filters = p.weights.filters(k);
    const double width = integrationWidth(p.weights.freq, k, FirstPoint::band) * UI;
    const double pw = p.weights.pulse[k] * filters * width;
    const double dw = dibitWeight(f, UI) * filters * width;
    // One exponential per frequency and phasor (the step phasor only off an even grid).
    const std::complex<double> e2 =
        std::exp(std::complex<double>(0, kTwoPi * f * (delay - kLeadUI * UI)));
    const std::complex<double> e3 =
        std::exp(std::complex<double>(0, kTwoPi * f * (delay - (kLeadUI + 0.5) * UI)));
    in.push(points.Sdd21[k] * pw * e2, p.fitSdd21[k] * pw * e2, points.Sdd21[k] * dw * e3,
            even ? std::complex<double>()
                 : std::exp(std::complex<double>(0, kTwoPi * f * kSampleUI * UI)));
  }
  ShortWaveforms w;
  if (even) {
    const ChirpSpectrum spectra[3] = {
        {in.re[0], in.im[0]}, {in.re[1], in.im[1]}, {in.re[2], in.im[2]}};
    std::vector<std::vector<double>> sums =
        chirpSums(spectra, (thru.Freq(2) - thru.Freq(1)) * sampleStep, pulsePoints,
                  thru.Freq(1) * sampleStep);
    w.pulse = std::move(sums[0]), w.fitPulse = std::move(sums[1]), w.dibit = std::move(sums[2]);
    return w;
  }
  w.pulse.assign(pulsePoints, 0.0);
  w.dibit.assign(pulsePoints, 0.0);
  w.fitPulse.assign(pulsePoints, 0.0);
  PhasorSpectra spectra;
  spectra.sums = 3;
  spectra.frequencies = static_cast<int>(in.stepRe.size());
  for (int s = 0; s < 3; ++s) spectra.re[s] = in.re[s].data(), spectra.im[s] = in.im[s].data();
  spectra.stepRe = in.stepRe.data();
  spectra.stepIm = in.stepIm.data();
  double* const sums[PhasorSpectra::kMaxSums] = {w.pulse.data(), w.fitPulse.data(), w.dibit.data()};
  sumPhasors(spectra, pulsePoints, sums);
  return w;
}

void pulseAndDibit(const RunGiven& given, RunIO& io, const Sparams& thru, const ThruPoints& points,
                   const LossFit& lossFit, PulseResults& pulse) {
  const Settings& s = given.settings;
  const double rate = s.data_rate, UI = given.derived.UI;
  const std::complex<double>* a = lossFit.fitCoef;

  // Slope of the fitted phase at 0.38 times the rate, turned into a delay.
  const double f0 = 0.38 * rate;
  const double slope = a[2].imag() + (0.5 * a[1].imag()) / std::sqrt(f0) + (2 * a[3].imag()) * f0;
  pulse.groupDelay = slope * (-0.5) * 0.3183098861837907;

  SideFile wv1;
  if (!given.saveBase.empty()) wv1 = openSideFile(given, io, ".wv1");
  if (wv1) std::fprintf(wv1.get(), "names:  time pulse dibit fitPulse\n");
  std::fprintf(io.log, "points in pulse:  %d\n", pulsePoints);
  const ShortWaveforms w = shortPulseSums(given.derived, thru, points, lossFit, pulse);
  const Peak pulsePeak = findPeak(w.pulse);
  const Peak dibit = findPeak(w.dibit);
  pulse.dibitAtDelay = w.dibit[100];
  pulse.pulsePeak = pulsePeak.value;
  pulse.dibitPeak = dibit.value;
  pulse.dibitPeakTime =
      ((dibit.index + dibit.offset) * kSampleUI - kLeadUI) * UI + pulse.groupDelay;
  // Our rule for an inverting channel: the dibit sample of largest magnitude is
  // negative. The peaks stay magnitudes; only the .wv1 columns and FLIPPED show it.
  if (w.dibit[dibit.index] < 0) {
    pulse.flipped = true;
    pulse.polarity = -1;
  }
  if (io.keepCurves) keepShortWaveforms(given.derived, pulse, w);
  if (wv1) {
    const int error = writeWv1(given.derived, pulse, wv1.get(), w);
    closeSideFile(given, io, wv1, ".wv1", error);
  }
  std::fprintf(io.log, "max dibit:  %14.6e %14.6e  delta=%10.6f%% at %14.6e (%14.6e)\n",
               pulse.dibitPeak, pulse.dibitAtDelay,
               (pulse.dibitAtDelay / pulse.dibitPeak - 1) * 100, pulse.dibitPeakTime,
               pulse.groupDelay);
}
