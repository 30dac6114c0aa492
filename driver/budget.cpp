// The signal and through-channel noise budget: the first half of the report.
#include <cmath>
#include <cstdio>

#include "stages.h"

void budget(RunState& rs) {
  Noise& n = rs.noise;
  const Settings& s = rs.settings;
  const Derived& d = rs.derived;
  FILE* out = rs.result;

  // The noise powers so far are for a two-level signal; scale to the PAM levels' power.
  n.ildNoisePower *= d.pamPower;
  n.rrTxNoisePower *= d.pamPower;
  n.rrRxNoisePower *= d.pamPower;
  n.rrTxRxNoisePower *= d.pamPower;
  n.channelNoisePower = n.ildNoisePower + n.rrTxNoisePower + n.rrRxNoisePower + n.rrTxRxNoisePower;
  n.totalNoisePower = n.implementationNoise * n.implementationNoise + n.channelNoisePower;
  // One eye of the PAM levels, after the implementation gain, less the slicer's minimum.
  n.availableSignal =
      s.implementation_gain_factor * d.pamStep * n.dibitPeak * s.signal - s.slicer_allowance;

  std::fprintf(out, "Nyquist gain  %9.3fdB\n", 20 * std::log10(rs.points.nyquistFitGain));
  std::fprintf(out, "peak pulse %12.3fm\n", 1000 * n.pulsePeak);
  std::fprintf(out, "peak dibit %12.3fm\n", 1000 * n.dibitPeak);
  std::fprintf(out, "base EYE   %12.3fmV\n", 1000 * s.signal * n.dibitPeak);
  std::fprintf(out, "available signal                        %12.3fmV\n", 1000 * n.availableSignal);
  std::fprintf(out, "implementation noise                    %12.3fmV\n", 1000 * n.implementationNoise);
  std::fprintf(out, "ILD                 noise                           %12.3fmV \n",
               1000 * std::sqrt(n.ildNoisePower));
  if (rs.points.lowFreqIldIndex != 0)
    std::fprintf(out,
                 "more than 50%% of ILD noise power comes in first %5.1f MHz: \n recommend you "
                 "check quality of low frequency Sparameter data\n",
                 rs.thru.Freq(rs.points.lowFreqIldIndex) * 1e-6);
  std::fprintf(out, "Tx re-Reflection    noise                           %12.3fmV \n",
               1000 * std::sqrt(n.rrTxNoisePower));
  std::fprintf(out, "Rx re-Reflection    noise                           %12.3fmV \n",
               1000 * std::sqrt(n.rrRxNoisePower));
  std::fprintf(out, "Tx-Rx re-Reflection noise                           %12.3fmV \n",
               1000 * std::sqrt(n.rrTxRxNoisePower));
  std::fprintf(out, "Channel        noise                    %12.3fmV \n",
               1000 * std::sqrt(n.channelNoisePower));
}
