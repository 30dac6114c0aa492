// A synthetic serial-link lane built from a few physical parameters: a differential
// 4-port through channel (ports 1,3 => 2,4) and NEXT/FEXT aggressor 4-ports on the
// same frequency grid, ready for the Touchstone writer.
//
// The differential pair is a symmetric pair of coupled striplines. Its even and odd
// modes are independent two-ports, each a cascade of ABCD matrices: a shunt via
// capacitance, a lossy line section, an optional shunt connector capacitance, a second
// line section and the far via. Converted to S with a 50 ohm reference and recombined
// into single-ended ports, the 4-port is passive and reciprocal by construction.
// Crosstalk follows weak-coupling theory: NEXT = Kb (1 - e^{-2 gamma l}), saturating
// once the line loss is large, and FEXT = Kf j 2 pi f Td e^{-gamma l}, growing with f
// and following the victim's loss.
#pragma once

#include <complex>
#include <string>
#include <vector>

#include "Result.h"
#include "GlobalNames.h"

struct LaneParams {
  double rate = 25.78125e9;     ///< symbol rate, Bd; the loss is set at rate/2
  double lossDb = 25.0;         ///< differential insertion loss at rate/2, dB (positive)
  double length = 0.3;          ///< line length, metres
  double er = 3.7;              ///< effective relative permittivity (sets the delay)
  double zdiff = 90.0;          ///< differential (2 x odd-mode) impedance, ohms
  double zcomm = 30.0;          ///< common-mode (even-mode / 2) impedance, ohms
  double conductorShare = 0.4;  ///< share of the Nyquist loss (in dB) from the sqrt(f) term
  double via = 80e-15;          ///< shunt capacitance of each line at both ends, farads
  double connector = 50e-15;    ///< shunt capacitance of the mid-line connector, farads (0: none)
  double connectorAt = 0.37;    ///< connector position as a fraction of the length
  std::vector<double> nextDb{-40.0, -46.0};  ///< differential NEXT at high frequency, dB
  std::vector<double> fextDb{-30.0,
                             -36.0};  ///< differential FEXT relative to the thru at rate/2, dB
  double fstart = 25e6;               ///< first frequency, Hz
  double fstop = 50e9;                ///< last frequency, Hz
  double fstep = 25e6;                ///< frequency step, Hz
};

struct ChannelSet {
  Sparams thru;
  std::vector<Sparams> next, fext;
  double nyquistNepers = 0;  ///< line attenuation at rate/2 that meets the requested loss
};

// The sets, or status 1 and what was wrong with the parameters (no sets then).
using ChannelBuild = brevo::Result<ChannelSet>;

// Builds the through channel and every aggressor. The sets are named base + "_thru.s4p",
// base + "_next<k>.s4p" and base + "_fext<k>.s4p". Refuses (why, no sets) a
// parameters whose grid, geometry or coupling is out of range, a loss that the line alone
// cannot reach, or a coupling so strong that an aggressor file could not stay passive.
ChannelBuild buildChannels(const LaneParams& params, const std::string& base);

// Differential (ports 1,3 => 2,4) insertion loss of the through model at any
// frequency, dB, positive; the model itself, not the stored grid.
double modelLossDb(const LaneParams& params, double nyquistNepers, double f);

// Writes every set of a build with Sparams::print in format fmt and value format
// valueFormat. unit is "Hz", "kHz", "MHz" or "GHz"; the writer always writes MHz, so
// any other unit rewrites the option line and the leading frequency of each record.
// Each file is replaced whole or left as it was (replaceFile). Returns 0, or 1 after a
// message on log when a file cannot be written ("could not write NAME: REASON").
int writeChannels(const ChannelSet& set, format fmt, const char* valueFormat,
                  const std::string& unit, FILE* log);

// The value format we write with by default for each format: compact but well below
// the ILD the estimator looks for (0.001 dB, 0.01 degree for DB).
const char* defaultValueFormat(format fmt);
