// The state of one run: owned by the entry, read and written by every stage.
#pragma once

#include <complex>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "TouchstoneCore.h"
#include "equal.h"

// One channel-list entry: a channel line and the four ports it settles to.
struct channelLine {
  std::string name;   // the line as assigned; the file name alone after fixChannelLine
  int inP = 0, inM = 0, outP = 0, outM = 0;
};

// Storage of the control-file keywords, in the order they are registered.
struct Settings {
  int input_ports = 0;
  int output_ports = 0;
  int limit_range = 0;
  int PAM = 0;
  double data_rate = 0;                 // also baud_rate, symbols per second
  char Thru[kStringStorage] = {};       // also Sparameters
  char NEXT[kStringStorage] = {};
  char FEXT[kStringStorage] = {};
  char save_file[kStringStorage] = {};
  char results[kStringStorage] = {};
  char log[kStringStorage] = {};
  double signal = 0;                    // volts peak
  double tx_rise = 0, tx_bandwidth = 0;
  double tx_near_rise = 0, tx_near_bandwidth = 0;
  double tx_far_rise = 0, tx_far_bandwidth = 0;
  double rx_rise = 0, rx_bandwidth = 0;
  double NEXT_amp = 0;                  // volts peak
  double target_BER = 0;
  double g0Tx = 0, Tx_resistance_error = 0;
  double g0Rx = 0, Rx_resistance_error = 0;
  double pTx = 0, pRx = 0;              // hertz after the derivation
  double implementation_noise_factor = 0;
  double implementation_gain_factor = 0;
  double N_DFE = 0;                     // also DFE_length, unit intervals
  double E_DFE = 0;
  int oversample = 4;                   // set before registration; not in the starter file
  double slicer_allowance = 0;          // volts peak
  // Our default: +infinity, so the four-term fit stands unless a limit is set.
  double a4_limit = std::numeric_limits<double>::infinity();
};

// Values derived from the settings once all arguments are applied.
struct Derived {
  double pamStep = 0;    // 1/(PAM-1)
  double pamPower = 0;   // (PAM+1)/(3(PAM-1))
  double txTau = 0, rxTau = 0, farTau = 0, nearTau = 0;  // seconds, 0 = unlimited
  double UI = 0;         // seconds
};

// The through channel's per-point arrays, one entry per point of its file.
struct ThruPoints {
  std::vector<std::complex<double>> Sdd21, Sdd11, Sdd22;
  std::vector<double> fitFreq;
  std::vector<std::complex<double>> lnSdd21, fitWeight, fitSdd21;
  std::vector<double> thruPower;    // |Sdd21|^2
  std::vector<double> xtalkPower;   // sum over aggressors of |X|^2
  std::complex<double> fitCoef[4] = {};   // a0, a1, a2, a4
  double nyquistFitGain = 0;
  double rawIldSum = 0;             // S before scaling
  double lowFreqIldPower = 0;
  int lowFreqIldIndex = 0;
};

// Noise powers in volts squared and the time-domain results.
struct Noise {
  double ildNoisePower = 0;
  double rrTxNoisePower = 0, rrRxNoisePower = 0, rrTxRxNoisePower = 0;
  double channelNoisePower = 0;
  double groupDelay = 0;            // seconds
  double pulsePeak = 0, dibitPeak = 0, dibitAtDelay = 0, dibitPeakTime = 0;
  double implementationNoise = 0;   // volts
  double availableSignal = 0;       // volts
  double totalNoisePower = 0;
  double nextIcnPower = 0, fextIcnPower = 0;
  int polarity = 1;
  bool flipped = false;
};

struct RunState {
  FILE* result = stdout;
  FILE* log = stderr;
  std::string baseDirectory = ".";
  std::unique_ptr<variable_def> table;
  Settings settings;
  Derived derived;
  std::vector<channelLine> thruList, nextList, fextList;
  int inP = 0, inM = 0, outP = 0, outM = 0;   // ports in use
  std::string saveBase;                        // empty: no side files
  Sparams thru, xtalk;
  ThruPoints points;
  Noise noise;
};
