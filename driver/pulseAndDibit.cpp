// The channel delay from the fit, the short pulse, dibit and fitted-pulse responses on
// the thru file's own points, their interpolated peaks, the optional .wv1 file and the
// implementation noise.
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include "channelModel.h"
#include "stages.h"

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kSampleUI = 0.05;   // 20 samples per UI
constexpr double kLeadUI = 5;        // the window starts 5 UI before the delay

// Per-frequency coefficients and phasors, structure of arrays so that the sample loop
// over frequencies vectorises.
struct ShortInputs {
  std::vector<double> pulseRe, pulseIm, fitRe, fitIm, dibitRe, dibitIm;
  std::vector<double> stepRe, stepIm;      // E1, advances one sample
  std::vector<double> rhoRe, rhoIm;        // E2, the pulses' phasor
  std::vector<double> rho3Re, rho3Im;      // E3, the dibit's phasor (half a UI earlier)
  void push(std::complex<double> pulse, std::complex<double> fitted, std::complex<double> dibit,
            std::complex<double> e1, std::complex<double> e2, std::complex<double> e3) {
    pulseRe.push_back(pulse.real()), pulseIm.push_back(pulse.imag());
    fitRe.push_back(fitted.real()), fitIm.push_back(fitted.imag());
    dibitRe.push_back(dibit.real()), dibitIm.push_back(dibit.imag());
    stepRe.push_back(e1.real()), stepIm.push_back(e1.imag());
    rhoRe.push_back(e2.real()), rhoIm.push_back(e2.imag());
    rho3Re.push_back(e3.real()), rho3Im.push_back(e3.imag());
  }
};

struct Peak {
  int index = 0;
  double offset = 0;   // parabola vertex relative to index, samples
  double value = 0;    // above the first sample
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

void writeWv1(const RunState& rs, FILE* file, const ShortWaveforms& w) {
  const double UI = rs.derived.UI, pol = rs.noise.polarity;
  for (int n = 0; n < pulsePoints; ++n)
    std::fprintf(file, "%14.6e  %12.6f  %12.6f %12.6f \n",
                 (kSampleUI * n - kLeadUI) * UI + rs.noise.groupDelay, w.pulse[n] * pol,
                 w.dibit[n] * pol, w.fitPulse[n] * pol);
}

}  // namespace

ShortWaveforms shortPulseSums(const RunState& rs) {
  const ThruPoints& p = rs.points;
  const double UI = rs.derived.UI, delay = rs.noise.groupDelay;
  const int n = rs.thru.Fcount();
  ShortInputs in;
  for (int k = 1; k + 1 < n; ++k) {   // the first and the last point take no part
    const double f = rs.thru.Freq(k);
    const double filters = butterworth(4, f, rs.derived.rxTau) * butterworth(2, f, rs.derived.txTau);
    const double width = (rs.thru.Freq(k + 1) - rs.thru.Freq(k - 1)) * UI;
    const double pw = pulseWeight(f, UI) * filters * width;
    const double dw = dibitWeight(f, UI) * filters * width;
    // One exponential per frequency and phasor; samples advance by multiplication.
    in.push(p.Sdd21[k] * pw, p.fitSdd21[k] * pw, p.Sdd21[k] * dw,
            std::exp(std::complex<double>(0, kTwoPi * f * kSampleUI * UI)),
            std::exp(std::complex<double>(0, kTwoPi * f * (delay - kLeadUI * UI))),
            std::exp(std::complex<double>(0, kTwoPi * f * (delay - (kLeadUI + 0.5) * UI))));
  }
  ShortWaveforms w;
  w.pulse.assign(pulsePoints, 0.0);
  w.dibit.assign(pulsePoints, 0.0);
  w.fitPulse.assign(pulsePoints, 0.0);
  const int m = static_cast<int>(in.stepRe.size());
  double* const rRe = in.rhoRe.data();
  double* const rIm = in.rhoIm.data();
  double* const r3Re = in.rho3Re.data();
  double* const r3Im = in.rho3Im.data();
  const double* const eRe = in.stepRe.data();
  const double* const eIm = in.stepIm.data();
  const double *const pRe = in.pulseRe.data(), *const pIm = in.pulseIm.data();
  const double *const fRe = in.fitRe.data(), *const fIm = in.fitIm.data();
  const double *const dRe = in.dibitRe.data(), *const dIm = in.dibitIm.data();
  for (int t = 0; t < pulsePoints; ++t) {
    double pulse = 0, fitted = 0, dibit = 0;
#pragma omp simd reduction(+ : pulse, fitted, dibit)
    for (int k = 0; k < m; ++k) {
      pulse += pRe[k] * rRe[k] - pIm[k] * rIm[k];   // Re(c * E2)
      fitted += fRe[k] * rRe[k] - fIm[k] * rIm[k];
      dibit += dRe[k] * r3Im[k] + dIm[k] * r3Re[k];  // Im(c * E3)
      const double re = rRe[k] * eRe[k] - rIm[k] * eIm[k];
      const double im = rRe[k] * eIm[k] + rIm[k] * eRe[k];
      rRe[k] = re, rIm[k] = im;
      const double re3 = r3Re[k] * eRe[k] - r3Im[k] * eIm[k];
      const double im3 = r3Re[k] * eIm[k] + r3Im[k] * eRe[k];
      r3Re[k] = re3, r3Im[k] = im3;
    }
    w.pulse[t] = pulse, w.fitPulse[t] = fitted, w.dibit[t] = dibit;
  }
  return w;
}

void pulseAndDibit(RunState& rs) {
  Noise& noise = rs.noise;
  const Settings& s = rs.settings;
  const double rate = s.data_rate, UI = rs.derived.UI;
  const std::complex<double>* a = rs.points.fitCoef;

  // Slope of the fitted phase at 0.38 times the rate, turned into a delay.
  const double f0 = 0.38 * rate;
  const double slope = a[2].imag() + (0.5 * a[1].imag()) / std::sqrt(f0) + (2 * a[3].imag()) * f0;
  noise.groupDelay = slope * (-0.5) * 0.3183098861837907;

  SideFile wv1;
  if (!rs.saveBase.empty()) wv1 = openSideFile(rs, ".wv1");
  if (wv1) std::fprintf(wv1.get(), "names:  time pulse dibit fitPulse\n");
  std::fprintf(rs.log, "points in pulse:  %d\n", pulsePoints);
  const ShortWaveforms w = shortPulseSums(rs);
  const Peak pulse = findPeak(w.pulse);
  const Peak dibit = findPeak(w.dibit);
  noise.dibitAtDelay = w.dibit[100];
  noise.pulsePeak = pulse.value;
  noise.dibitPeak = dibit.value;
  noise.dibitPeakTime = ((dibit.index + dibit.offset) * kSampleUI - kLeadUI) * UI + noise.groupDelay;
  // Our rule for an inverting channel: the dibit sample of largest magnitude is
  // negative. The peaks stay magnitudes; only the .wv1 columns and FLIPPED show it.
  if (w.dibit[dibit.index] < 0) {
    noise.flipped = true;
    noise.polarity = -1;
  }
  if (wv1) {
    writeWv1(rs, wv1.get(), w);
    wv1.reset();
  }
  std::fprintf(rs.log, "max dibit:  %14.6e %14.6e  delta=%10.6f%% at %14.6e (%14.6e)\n",
               noise.dibitPeak, noise.dibitAtDelay, (noise.dibitAtDelay / noise.dibitPeak - 1) * 100,
               noise.dibitPeakTime, noise.groupDelay);
  noise.implementationNoise = std::sqrt(noise.dibitPeak) * s.implementation_noise_factor *
                              s.signal * std::sqrt(rs.derived.pamPower);
}
