// The closing lines of the report: crosstalk and noise totals, S/N, BER, interference
// tolerance, Salz S/N and whether the channel inverts the signal.
#include <cmath>
#include <cstdio>

#include "channelModel.h"
#include "stages.h"

namespace {

// Frequency average up to half the data rate of 10 log10(1 + |Sdd21|^2 / sum |X|^2), dB.
// Each point stands for the interval below it, the first for [0, f0].
double salzSN(const RunState& rs) {
  const std::vector<double>& thru = rs.points.thruPower;
  const std::vector<double>& xtalk = rs.noise.xtalkPower;
  if (thru.empty() || xtalk.size() < thru.size()) return std::nan("");
  const double rate = rs.given.settings.data_rate;
  double sum = rs.thru.set.Freq(0) * std::log(1 + thru[0] / xtalk[0]);
  int last = 0;
  // Freq() past the last point is NaN and ends the walk; the size test only guards.
  for (int i = 1; i < static_cast<int>(thru.size()) && 2 * rs.thru.set.Freq(i) < rate; ++i) {
    sum += std::log(1 + thru[i] / xtalk[i]) * (rs.thru.set.Freq(i) - rs.thru.set.Freq(i - 1));
    last = i;
  }
  return sum * 10 / (std::log(10.0) * rs.thru.set.Freq(last));
}

// The further noise amplitude that, added as power, still meets the target BER;
// negative by the amount it is missed.
double interferenceTolerance(const RunState& rs, double totalNoise) {
  const double q = Q(rs.given.settings.target_BER, rs.given.settings.PAM);
  const double a = rs.noise.availableSignal / q;
  const double d = a * a - totalNoise * totalNoise;
  if (d > 0) return std::sqrt(d);
  if (d < 0) return -std::sqrt(-d);
  return d == 0 ? 0.0 : d;   // exactly met prints 0.000 (not -0.000); NaN stays NaN
}

}  // namespace

void figuresOfMerit(RunState& rs) {
  const NoiseBudget& n = rs.noise;
  MeritFigures& m = rs.merit;
  FILE* out = rs.io.result;
  m.salz = salzSN(rs);
  m.totalIcn = std::sqrt(n.nextIcnPower + n.fextIcnPower);
  m.totalNoise = std::sqrt(n.totalNoisePower);
  m.signalToNoise = n.availableSignal / m.totalNoise;
  m.ber = BER(m.signalToNoise, rs.given.settings.PAM);
  m.tolerance = interferenceTolerance(rs, m.totalNoise);
  std::fprintf(out, "total                                ICN %11.3fmV\n", 1000 * m.totalIcn);
  std::fprintf(out, "total                             noise %12.3fmV\n", 1000 * m.totalNoise);
  std::fprintf(out, "S/N                                     %12.3f\n", m.signalToNoise);
  std::fprintf(out, "BER                                    %16.2e\n", m.ber);
  std::fprintf(out, "interference tolerance                  %12.3fmV\n", 1000 * m.tolerance);
  std::fprintf(out, "Salz S/N                                %12.3f dB\n", m.salz);
  std::fprintf(out, "FLIPPED:                                %3s\n", rs.pulse.flipped ? "yes" : "no");
  warnAboutFigures(rs, m.salz);
}
