// Settings derived once all arguments are applied, and the report header.
#include <cmath>
#include <cstdio>

#include "channelModel.h"
#include "stages.h"

namespace {

// A resistance error above 1 in size is in ohms on a 50 ohm termination; a non-zero
// error then replaces the DC reflection coefficient by half the fractional error.
void applyResistanceError(double& error, double& g0) {
  if (std::fabs(error) > 1) error = error / 50;
  if (error != 0) g0 = error / 2;
}

// A return-loss corner strictly between 0.1 and 10 is a fraction of the rate.
void cornerToHertz(double& p, double rate) {
  if (p > 0.1 && p < 10) p = p * rate;
}

}  // namespace

void deriveSettings(RunGiven& given, RunIO& io) {
  Settings& s = given.settings;
  Derived& d = given.derived;
  const double rate = s.data_rate;
  const int M = s.PAM;  // PAM 1 makes both factors infinite; the run goes on

  d.pamStep = 1.0 / (M - 1.0);  // in double: M - 1 overflows int for the most negative M
  d.pamPower = (M + 1.0) / (3.0 * (M - 1.0));

  std::fprintf(io.result, "channel:  %s\n", given.thruList.front().name.c_str());
  std::fprintf(io.result, "ports      %d %d => %d %d\n", given.inP, given.inM, given.outP,
               given.outM);
  std::fprintf(io.result, "data rate      =  %7.3f Gb\n", rate * 1e-9);
  std::fprintf(io.result, "peak Signal    =%5.0f     mV\n", s.signal * 1000);
  std::fprintf(io.result, "targetBER      =   %9.2e\n", s.target_BER);
  std::fprintf(io.result, "target Q       =%9.3f\n", -Q(s.target_BER, M));

  d.rxTau = tau(s.rx_rise, s.rx_bandwidth, rate);
  d.txTau = tau(s.tx_rise, s.tx_bandwidth, rate);
  d.farTau = tau(s.tx_far_rise, s.tx_far_bandwidth, rate);
  d.nearTau = tau(s.tx_near_rise, s.tx_near_bandwidth, rate);

  // An unlimited bandwidth (tau 0) prints as the infinity of the division.
  std::fprintf(io.result, "Tx t bandwidth =   %9.3e\n", 1 / d.txTau);
  std::fprintf(io.result, "Rx t bandwidth =   %9.3e\n", 1 / d.rxTau);

  applyResistanceError(s.Tx_resistance_error, s.g0Tx);
  applyResistanceError(s.Rx_resistance_error, s.g0Rx);
  cornerToHertz(s.pTx, rate);
  cornerToHertz(s.pRx, rate);

  d.UI = 1 / rate;

  std::fprintf(io.log, "1/Tx_BW=%14.6e\n", d.txTau);
  std::fprintf(io.log, "1/Rx_BW=%14.6e\n", d.rxTau);
  std::fprintf(io.log, "UI   =%14.6e\n", d.UI);
  warnAboutSettings(given, io);
  warnAboutComKeywords(io);
}
