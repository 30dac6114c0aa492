// The through channel on a uniform frequency grid: the optional .fd file of measured,
// fitted and deviation responses and, with a DFE span, the deviation's pulse response
// over one period, whose energy after the equaliser replaces the ILD noise power.
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include "channelModel.h"
#include "chirpSums.h"
#include "sideColumns.h"
#include "stages.h"

namespace {

// Room for one side-file row of up to seven columns.
constexpr int kRowRoom = 7 * 48;

char* append(char* at, const char* text) {
  const std::size_t n = std::strlen(text);
  std::memcpy(at, text, n);
  return at + n;
}

// The refusal, on the log and on the result stream alike.
int refuse(RunIO& io, const char* text) {
  std::fprintf(io.log, "%s", text);
  std::fprintf(io.result, "%s", text);
  return kGridRefused;
}

}  // namespace

PeriodWaveforms periodSums(const PeriodInputs& in, int nT, bool withPulses) {
  PeriodWaveforms out;
  if (nT <= 0) return out;
  std::vector<ChirpSpectrum> spectra{{in.ildRe, in.ildIm}};
  // Without the measured spectrum the measured pulse is the fitted pulse plus the
  // deviation's pulse (T = F + ILD), which saves a third of the work.
  const bool thruGiven = !in.thruRe.empty();
  if (withPulses) {
    spectra.push_back({in.fitRe, in.fitIm});
    if (thruGiven) spectra.push_back({in.thruRe, in.thruIm});
  }
  std::vector<std::vector<double>> sums = chirpSums(spectra, in.turns, nT);
  out.ildPulse = std::move(sums[0]);
  if (withPulses) {
    out.fitPulse = std::move(sums[1]);
    if (thruGiven) {
      out.pulse = std::move(sums[2]);
    } else {
      out.pulse.resize(static_cast<std::size_t>(nT));
      for (int n = 0; n < nT; ++n) out.pulse[n] = out.fitPulse[n] + out.ildPulse[n];
    }
  }
  return out;
}

namespace {

// The uniform grids of the stage: frequencies 0, df, ..., (nF - 1) df and, for the
// period sums, nT time samples timeStep apart.
struct UniformGrid {
  double df = 0, timeStep = 0;
  int nF = 0, nT = 0;
};

// The grids, or the refusal's status when they cannot be built. Checked before any file
// is touched; the time-grid size matters only to the period sums, so it is checked only
// when they run.
int uniformGrid(const RunGiven& given, RunIO& io, const Sparams& thru, bool dfe,
                UniformGrid& grid) {
  const Settings& s = given.settings;
  char text[256];
  if (s.oversample <= 0) {
    std::snprintf(text, sizeof text,
                  "oversample=%d: the period waveforms need at least one sample per UI\n",
                  s.oversample);
    return refuse(io, text);
  }
  const double df = thru.freqStep();
  if (!(df > 0) || !std::isfinite(df)) {
    std::snprintf(text, sizeof text,
                  "%s: smallest frequency step is %g Hz, no uniform frequency grid can be built\n",
                  thru.fileName().c_str(), df);
    return refuse(io, text);
  }
  const double nFd = std::floor(thru.fmax() / df + 0.5) + 1;
  const double timeStep = given.derived.UI / s.oversample;
  const double nTd = std::floor(1 / (timeStep * df) + 0.5);
  if (!(nFd <= kMaxGridPoints) ||
      (dfe && (!(nTd <= kMaxGridPoints) ||
               !(std::max(nFd, 0.0) * std::max(nTd, 0.0) <= kMaxGridProducts)))) {
    std::snprintf(
        text, sizeof text,
        "uniform grid of %.0f frequencies by %.0f time samples (step %g Hz) is too large\n", nFd,
        nTd, df);
    return refuse(io, text);
  }
  grid.df = df;
  grid.timeStep = timeStep;
  grid.nF = nFd > 0 ? static_cast<int>(nFd) : 0;
  grid.nT = nTd > 0 ? static_cast<int>(nTd) : 0;  // 0 also for an infinite UI
  return 0;
}

// The thru, its fit and their deviation on the frequency grid: the .fd rows when side
// files are asked for and, with a DFE span, the period sums' coefficients.
PeriodInputs thruOnGrid(const RunGiven& given, RunIO& io, const Sparams& thru,
                        const LossFit& lossFit, GridCurves& curves, const UniformGrid& g,
                        bool dfe) {
  SideFile fd;
  if (!given.saveBase.empty()) fd = openSideFile(given, io, ".fd");
  if (fd) {
    std::fprintf(fd.get(), "types:  2 3 3 3 #time, signal, signal, signal\n");
    std::fprintf(fd.get(), "names:  f thru fit ild # all are complex\n");
  }
  PeriodInputs in;
  SideRows fdRows(fd.get());
  in.turns = g.df * g.timeStep;
  const int inP = given.inP, inM = given.inM, outP = given.outP, outM = given.outM;
  // The thru entries on the grid, interpolated from the file's points (0 above them).
  std::vector<double> grid(static_cast<std::size_t>(g.nF));
  for (int m = 0; m < g.nF; ++m) grid[static_cast<std::size_t>(m)] = m * g.df;
  using Column = std::vector<std::complex<double>>;
  std::vector<double> thruRe, thruIm;
  bool allFinite = true;
  const Column pp = thru.Values(grid, inP, outP, 2);
  const Column pm = inM != 0 ? thru.Values(grid, inP, outM, 2) : Column();
  const Column mp = inM != 0 ? thru.Values(grid, inM, outP, 2) : Column();
  const Column mm = inM != 0 ? thru.Values(grid, inM, outM, 2) : Column();
  const GridWeights weights =
      dfe ? weightsOn(given.derived, lossFit, grid, given.derived.txTau) : GridWeights();
  for (int m = 0; m < g.nF; ++m) {
    const double f = grid[static_cast<std::size_t>(m)];
    const auto k = static_cast<std::size_t>(m);
    // The same differential entry as differential() gives, summed in the order the .fd
    // values have always been taken in (another order moves their last digit).
    std::complex<double> T = inM != 0 ? 0.5 * (((pp[k] - pm[k]) - mp[k]) + mm[k]) : pp[k];
    std::complex<double> F = fit(lossFit.fitCoef, f);
    std::complex<double> ild = T - F;
    if (io.keepCurves) {
      curves.frequency.push_back(f);
      curves.thru.push_back(T);
      curves.fit.push_back(F);
    }
    if (fd) {  // "%14.6e 0  %14.6e %14.6e  %14.6e  %14.6e  %14.6e  %14.6e\n"
      char row[kRowRoom];
      char* at = putScientific(row, f, 14, 6);
      at = append(at, " 0  ");
      const double columns[6] = {T.real(), T.imag(), F.real(), F.imag(), ild.real(), ild.imag()};
      for (int i = 0; i < 6; ++i) {
        if (i > 0) at = append(at, i == 1 ? " " : "  ");
        at = putScientific(at, columns[i], 14, 6);
      }
      *at++ = '\n';
      fdRows.add(row, at);
    }
    if (m == 0) T *= 0.5, F *= 0.5, ild *= 0.5;  // the 0 Hz term of a one-sided sum counts once
    if (!dfe) continue;
    // Factor 2: the one-sided sum stands for the full transform. The measured spectrum
    // G*T is left out while the others are finite: the period sums then form its pulse
    // as the fitted pulse plus the deviation's.
    const double G = 2 * weights.noise(k);
    const std::complex<double> cI = G * ild, cF = G * F, cT = G * T;
    in.ildRe.push_back(cI.real()), in.ildIm.push_back(cI.imag());
    in.fitRe.push_back(cF.real()), in.fitIm.push_back(cF.imag());
    thruRe.push_back(cT.real()), thruIm.push_back(cT.imag());
    allFinite = allFinite && std::isfinite(cI.real()) && std::isfinite(cI.imag()) &&
                std::isfinite(cF.real()) && std::isfinite(cF.imag());
  }
  // A fit that is not finite must not take the measured pulse with it: that one then
  // comes from its own spectrum.
  if (!allFinite) in.thruRe = std::move(thruRe), in.thruIm = std::move(thruIm);
  fdRows.flush();
  closeSideFile(given, io, fd, ".fd", fdRows.error());
  return in;
}

// The deviation's energy over one period that the equaliser leaves: it removes the
// response up to N_DFE UI after the dibit peak, letting E_DFE of it leak through, and
// later samples count fully. Writes the .wv2 rows when side files are asked for.
double energyAfterDfe(const RunGiven& given, RunIO& io, const PulseResults& pulse,
                      GridCurves& curves, const UniformGrid& g, const PeriodInputs& in) {
  const Settings& s = given.settings;
  const Derived& d = given.derived;
  const bool save = !given.saveBase.empty();
  GridCurves& kept = curves;
  const PeriodWaveforms w = periodSums(in, g.nT, save || io.keepCurves);
  const double tDFE = s.N_DFE * d.UI + pulse.dibitPeakTime;
  SideFile wv2;
  if (save) wv2 = openSideFile(given, io, ".wv2");
  if (wv2) std::fprintf(wv2.get(), "names: time pulse fitPulse ildPulse\n");
  SideRows wv2Rows(wv2.get());
  const double scale = d.UI * g.df;  // the sums times UI*df are one-UI pulse responses
  double q = 0;
  for (int n = 0; n < g.nT; ++n) {
    const double t = n * g.timeStep;
    const double v = w.ildPulse[n];
    if (io.keepCurves) {
      kept.periodTime.push_back(t);
      kept.periodPulse.push_back(w.pulse[n] * scale);
      kept.periodFitPulse.push_back(w.fitPulse[n] * scale);
      kept.periodIldPulse.push_back(v * scale);
    }
    if (wv2) {  // "%14.6e  %14.6e  %14.6e  %14.6e\n"
      char row[kRowRoom];
      char* at = putScientific(row, t, 14, 6);
      const double columns[3] = {w.pulse[n] * scale, w.fitPulse[n] * scale, v * scale};
      for (double c : columns) at = putScientific(append(at, "  "), c, 14, 6);
      *at++ = '\n';
      wv2Rows.add(row, at);
    }
    q += t > tDFE ? v * v : s.E_DFE * (v * v);
  }
  wv2Rows.flush();
  closeSideFile(given, io, wv2, ".wv2", wv2Rows.error());
  return q;
}

}  // namespace

int equalisedIld(const RunGiven& given, RunIO& io, const Sparams& thru, const LossFit& lossFit,
                 const PulseResults& pulse, EqualisedIld& ildAfterDfe) {
  const Settings& s = given.settings;
  const Derived& d = given.derived;
  const bool dfe = s.N_DFE != 0;
  UniformGrid g;
  if (int status = uniformGrid(given, io, thru, dfe, g)) return status;
  const PeriodInputs in = thruOnGrid(given, io, thru, lossFit, ildAfterDfe.curves, g, dfe);
  if (!dfe) return 0;
  const double q = energyAfterDfe(given, io, pulse, ildAfterDfe.curves, g, in);
  const double period = g.nT * g.timeStep;
  if (period > 0 && s.data_rate >= 100e6 && s.N_DFE * d.UI + pulse.dibitPeakTime >= period) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "N_DFE=%g reaches past the end of the ILD pulse's period (%.4g ns, %.0f UI, one "
                  "over the thru's "
                  "frequency step): the equaliser takes all of it, so the ILD noise is E_DFE times "
                  "its whole energy",
                  s.N_DFE, period * 1e9, period / d.UI);
    warn(io, text);
  }
  // Dividing by oversample averages the sampling phases of one sample per UI.
  ildAfterDfe.equalisedIldPower =
      d.UI * g.df * d.UI * g.df * s.signal * s.signal / s.oversample * q;
  ildAfterDfe.equalised = true;
  return 0;
}
