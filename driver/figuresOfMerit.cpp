// The closing lines of the report: crosstalk and noise totals, S/N, BER, interference
// tolerance, Salz S/N and whether the channel inverts the signal.
#include <cmath>
#include <cstdio>

#include "channelModel.h"
#include "stages.h"

namespace {

// Frequency average up to half the data rate of 10 log10(1 + |Sdd21|^2 / sum |X|^2), dB.
// Each point stands for the interval below it, the first for [0, f0].
double salzSN(const RunGiven& given, const Sparams& thru, const LossFit& lossFit,
              const CrosstalkNoise& crosstalk) {
  const std::vector<double>& power = lossFit.thruPower;
  const std::vector<double>& xtalk = crosstalk.xtalkPower;
  if (power.empty() || xtalk.size() < power.size()) return std::nan("");
  const double rate = given.settings.data_rate;
  double sum = thru.Freq(0) * std::log(1 + power[0] / xtalk[0]);
  int last = 0;
  // Freq() past the last point is NaN and ends the walk; the size test only guards.
  for (int i = 1; i < static_cast<int>(power.size()) && 2 * thru.Freq(i) < rate; ++i) {
    sum += std::log(1 + power[i] / xtalk[i]) * (thru.Freq(i) - thru.Freq(i - 1));
    last = i;
  }
  return sum * 10 / (std::log(10.0) * thru.Freq(last));
}

// The further noise amplitude that, added as power, still meets the target BER;
// negative by the amount it is missed.
double interferenceTolerance(const RunGiven& given, const NoiseBudget& noise, double totalNoise) {
  const double q = Q(given.settings.target_BER, given.settings.PAM);
  const double a = noise.availableSignal / q;
  const double d = a * a - totalNoise * totalNoise;
  if (d > 0) return std::sqrt(d);
  if (d < 0) return -std::sqrt(-d);
  return d == 0 ? 0.0 : d;  // exactly met prints 0.000 (not -0.000); NaN stays NaN
}

}  // namespace

void figuresOfMerit(const RunGiven& given, RunIO& io, const Sparams& thru, const ThruPoints& points,
                    const LossFit& lossFit, const PulseResults& pulse, const NoiseBudget& noise,
                    const CrosstalkNoise& crosstalk, MeritFigures& merit) {
  MeritFigures& m = merit;
  FILE* out = io.result;
  m.salz = salzSN(given, thru, lossFit, crosstalk);
  m.totalIcn = std::sqrt(crosstalk.nextIcnPower + crosstalk.fextIcnPower);
  m.totalNoise = std::sqrt(crosstalk.totalNoisePower);
  m.signalToNoise = noise.availableSignal / m.totalNoise;
  m.ber = BER(m.signalToNoise, given.settings.PAM);
  m.tolerance = interferenceTolerance(given, noise, m.totalNoise);
  std::fprintf(out, "total                                ICN %11.3fmV\n", 1000 * m.totalIcn);
  std::fprintf(out, "total                             noise %12.3fmV\n", 1000 * m.totalNoise);
  std::fprintf(out, "S/N                                     %12.3f\n", m.signalToNoise);
  std::fprintf(out, "BER                                    %16.2e\n", m.ber);
  std::fprintf(out, "interference tolerance                  %12.3fmV\n", 1000 * m.tolerance);
  std::fprintf(out, "Salz S/N                                %12.3f dB\n", m.salz);
  std::fprintf(out, "FLIPPED:                                %3s\n", pulse.flipped ? "yes" : "no");
  warnAboutFigures(given, io, points, lossFit, pulse, noise, crosstalk, m.salz);
}
