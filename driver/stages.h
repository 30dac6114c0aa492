// The stages of a run, in the order the run calls them. Each returns the exit status
// that ends the run (0 to go on) or nothing when it cannot fail.
#pragma once

#include "RunState.h"

// Fills the entry's ports from its channel line; 0 when interpreted, 1 when not.
int fixChannelLine(channelLine& entry, int inP, int inM, int outP, int outM);

int selectThru(RunState& rs);        // through channel, ports in use, save base name
void deriveSettings(RunState& rs);   // level factors, bandwidths, corners, UI, header
int readThru(RunState& rs);          // the through channel's file, Sdd21, Sdd11, Sdd22
void fitThru(RunState& rs);          // loss fit, ILD and re-reflection noise
void pulseAndDibit(RunState& rs);    // group delay, short pulse and dibit, .wv1
int equalisedIld(RunState& rs);      // uniform grid, .fd, DFE period sums, .wv2
void budget(RunState& rs);           // signal and through-channel noise lines
void crosstalk(RunState& rs);        // every aggressor's ICN
void figuresOfMerit(RunState& rs);   // totals, S/N, BER, tolerance, Salz S/N, FLIPPED
