// The signal and through-channel noise budget: the first half of the report.
#include <cmath>
#include <cstdio>

#include "stages.h"

void budget(const RunGiven& given, RunIO& io, const Sparams& thru, const LossFit& lossFit,
            const PulseResults& pulse, const EqualisedIld& ildAfterDfe, NoiseBudget& noise) {
  NoiseBudget& n = noise;
  const Settings& s = given.settings;
  const Derived& d = given.derived;
  FILE* out = io.result;

  n.implementationNoise =
      std::sqrt(pulse.dibitPeak) * s.implementation_noise_factor * s.signal * std::sqrt(d.pamPower);
  // The through channel's powers are for a two-level signal; scale to the PAM levels'
  // power. With a DFE span the ILD term is what the equaliser leaves.
  n.ildNoisePower =
      (ildAfterDfe.equalised ? ildAfterDfe.equalisedIldPower : lossFit.twoLevel.ild) * d.pamPower;
  n.rrTxNoisePower = lossFit.twoLevel.rrTx * d.pamPower;
  n.rrRxNoisePower = lossFit.twoLevel.rrRx * d.pamPower;
  n.rrTxRxNoisePower = lossFit.twoLevel.rrTxRx * d.pamPower;
  n.channelNoisePower = n.ildNoisePower + n.rrTxNoisePower + n.rrRxNoisePower + n.rrTxRxNoisePower;
  n.throughNoisePower = n.implementationNoise * n.implementationNoise + n.channelNoisePower;
  // One eye of the PAM levels, after the implementation gain, less the slicer's minimum.
  n.availableSignal =
      s.implementation_gain_factor * d.pamStep * pulse.dibitPeak * s.signal - s.slicer_allowance;

  std::fprintf(out, "Nyquist gain  %9.3fdB\n", 20 * std::log10(lossFit.nyquistFitGain));
  std::fprintf(out, "peak pulse %12.3fm\n", 1000 * pulse.pulsePeak);
  std::fprintf(out, "peak dibit %12.3fm\n", 1000 * pulse.dibitPeak);
  std::fprintf(out, "base EYE   %12.3fmV\n", 1000 * s.signal * pulse.dibitPeak);
  std::fprintf(out, "available signal                        %12.3fmV\n", 1000 * n.availableSignal);
  std::fprintf(out, "implementation noise                    %12.3fmV\n",
               1000 * n.implementationNoise);
  std::fprintf(out, "ILD                 noise                           %12.3fmV \n",
               1000 * std::sqrt(n.ildNoisePower));
  if (lossFit.lowFreqIldIndex != 0)
    std::fprintf(out,
                 "more than 50%% of ILD noise power comes in first %5.1f MHz: \n recommend you "
                 "check quality of low frequency Sparameter data\n",
                 thru.Freq(lossFit.lowFreqIldIndex) * 1e-6);
  std::fprintf(out, "Tx re-Reflection    noise                           %12.3fmV \n",
               1000 * std::sqrt(n.rrTxNoisePower));
  std::fprintf(out, "Rx re-Reflection    noise                           %12.3fmV \n",
               1000 * std::sqrt(n.rrRxNoisePower));
  std::fprintf(out, "Tx-Rx re-Reflection noise                           %12.3fmV \n",
               1000 * std::sqrt(n.rrTxRxNoisePower));
  std::fprintf(out, "Channel        noise                    %12.3fmV \n",
               1000 * std::sqrt(n.channelNoisePower));
}
