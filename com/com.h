// Channel Operating Margin: the margin a channel leaves after a reference equaliser
// (Tx FFE, CTLE, DFE, package models), from one victim thru and its NEXT and FEXT
// aggressors. Units inside the library are SI (hertz, seconds, volts, farads, henries,
// metres are NOT used: package lengths stay in millimetres, as every parameter sheet
// gives them). Failures come back as values with a message; nothing throws.
#pragma once

#include <complex>
#include <string>
#include <vector>

#include "Result.h"

namespace brevo::com {

// A swept quantity: min, min+step, ..., max (inclusive); a single value when step is 0
// or min == max. Tap values are generated from integer step indices.
struct Sweep {
  double min = 0, step = 0, max = 0;
};

// One Tx FFE tap other than the cursor: its index (-4..-1 pre-cursor, 1..3 post-cursor)
// and its sweep. A tap whose sweep is the single value 0 is absent.
struct TxTap {
  int index = 0;
  Sweep values;
};

// One side's package, from the die outward: ladder stages (shunt Cd[i], then series
// Ls[i]; Ls may be shorter than Cd, a missing Ls is 0), shunt Cb, the line segments,
// shunt Cp. Farads, henries.
struct PackageSide {
  std::vector<double> Cd, Ls;
  double Cb = 0, Cp = 0;
};

// Segment lengths (mm) of one package case for each use of the package: the Tx
// package of the thru, of a NEXT and of a FEXT aggressor, and the Rx package. Each
// vector holds one length per segment, in sheet order (die side first).
struct PackageCase {
  std::vector<double> tx, next, fext, rx;
};

enum class Convention { reference, ieee };  // REF reproduces the published figures
enum class Search { exhaustive, local };
enum class CursorRule { mm, modMm };  // "MM" and "Mod-MM" (sheet key CDR)

// Every parameter of one COM computation (the com_ keywords fill it).
struct Params {
  std::string preset;  // the preset's name or file, for the record
  Convention convention = Convention::reference;
  Search search = Search::exhaustive;
  int localSearch = 0;       // steps; 0 = full grid even when search is local
  int threads = 0;           // search threads; 0 = one a core (the result is the same)
  int reportCandidates = 0;  // the best settings listed a case, and the log's neighbours; 0 = none

  // Signalling.
  double fb = 0;  // symbol rate, Bd
  int L = 2;      // levels
  int M = 32;     // samples per UI
  double DER0 = 1e-5;
  double fMin = 0.05e9, deltaF = 0.01e9;  // Hz, the checks of the file grid
  double Av = 0, Afe = 0, Ane = 0;        // V peak
  double RLM = 1;
  double snrTx = 0;               // dB
  double eta0 = 0;                // V^2/GHz, as the sheets give it
  double sigmaRJ = 0, ADD = 0;    // UI
  double Tr = 0;                  // seconds (20-80 %)
  bool forceTr = false;           // apply the rise-time filter to the signal path
  double fr = 0.75;               // receiver bandwidth as a fraction of fb
  bool raisedCosine = false;      // dj taper on the receiver filter
  double rcStart = 0, rcEnd = 0;  // Hz; 0 = the defaults fb/2 and fr*fb

  // Tx FFE.
  double c0min = 0;
  std::vector<TxTap> txTaps;  // in sheet order c(-N)..c(-1), c(1)..c(N)

  // CTLE. gDC2 present selects the two-stage form.
  Sweep gDC;  // dB
  bool twoStage = false;
  Sweep gDC2;                                // dB
  double fz = 0, fp1 = 0, fp2 = 0, fLF = 0;  // Hz
  std::vector<std::vector<double>> gQual;    // rows [hi lo] of gDC (C2M); empty = none
  std::vector<double> g2Qual;                // one gDC2 a row
  double gdcMin = 0;                         // GDC_MIN rule; 0 = off

  // DFE.
  int Nb = 0;
  std::vector<double> bmax, bmin;  // per tap 1..Nb; bmin empty = -bmax
  int Nbg = 0, Nbf = 0, Nf = 0;    // floating tap groups; Nbg 0 = none
  double bmaxg = 0;
  double bFloatRssMax = 0;  // tail RSS limit; 0 = none
  int nTailStart = 0;

  // Rx FFE (MMSE); 0 taps = none. Its taps other than the cursor are held within
  // [rxffeWmin, rxffeWmax] times the cursor tap; both 0 = no limit.
  int rxffePre = 0, rxffePost = 0;
  double rxffeWmax = 0, rxffeWmin = 0;

  // Cursor and figure of merit.
  CursorRule cursorRule = CursorRule::mm;
  int tsAnchor = 0;                              // 0 = the rule, 1 = peak, 2 = max slope
  int sampleAdjustMin = 0, sampleAdjustMax = 0;  // samples
  double f2 = 0;                                 // Hz, divisor of the averaged crosstalk; 0 = fb
  double impulseTruncation = 1e-3;               // of the peak

  // Package and terminations.
  double R0 = 50, RdTx = 50, RdRx = 50;  // ohm
  PackageSide pkgTx, pkgRx;
  std::vector<double> Zc;             // ohm, differential, one a segment
  double gamma0 = 0, a1 = 0, a2 = 0;  // 1/mm, 1/(mm sqrt GHz), ns/mm
  double tau = 0;                     // ns/mm
  std::vector<PackageCase> cases;     // z_p select: every case computed
  double kappa1 = 1, kappa2 = 1;
  // Host boards (CR): C0 at the device side, a line of zbp mm, C1 at the connector.
  bool includePcb = false;
  double zbp = 0, boardGamma0 = 0, boardA1 = 0, boardA2 = 0, boardTau = 0, boardZc = 100;
  double C0 = 0, C1 = 0;

  double passThreshold = 3;         // dB
  int portOrder[4] = {1, 3, 2, 4};  // tx+ tx- rx+ rx- of every file
};

enum class ChannelKind { thru, next, fext };

// One channel's differential parameters on its file's frequencies (hertz, ascending).
struct Channel {
  std::string name;
  ChannelKind kind = ChannelKind::thru;
  std::vector<double> f;
  std::vector<std::complex<double>> sdd11, sdd12, sdd21, sdd22;
};

// What the chosen equaliser of one package case does, for charts: computed once after
// the search, from the same pulses and distributions as the figures.
struct CaseViews {
  // The victim's pulse without equalisation (package and receiver filter only) and with the
  // Tx FFE and the CTLE (the DFE is not applied), on one axis: sample k lies firstUi + k/M
  // UI from the sampling point, which is sample cursor.
  int samplesPerUi = 0;
  double firstUi = 0;
  std::vector<double> unequalised, equalised;  // V
  int cursor = 0;
  int dfeFirst = 0,
      dfeLast = -1;  // samples of the first and the last DFE tap; none when last < first
  // Magnitude responses of the chosen equaliser, dB, on f (Hz, from 0).
  std::vector<double> f, txFfeDb, ctleDb, rxFfeDb;  // rxFfeDb empty without an Rx FFE
  // The interference-and-noise distribution at the sampling point as the probability that
  // it closes the eye by more than each amplitude (V, from 0 up): it falls through the
  // detector error ratio at Ani.
  std::vector<double> amplitude, probability;
  // The inner eye edges at the detector error ratio across the sampling phases (UI, 0 at
  // the sampling point): the signal there less the interference and noise exceeded with
  // that probability, above and below the decision threshold (V).
  std::vector<double> phaseUi, upper, lower;
};

// The figures of one package case, volts and dB.
// One equaliser setting the search evaluated: the Tx taps c(-N)..c(N) (the cursor
// included, as CaseResult's), the CTLE gains and its figure of merit as the search
// computed it.
struct Candidate {
  std::vector<double> txTaps;
  double gDC = 0, gDC2 = 0;  // dB; gDC2 0 with a one-stage CTLE
  double fom = 0;            // dB
};

struct CaseResult {
  double com = 0, fom = 0, As = 0, Ani = 0;
  double searchFom = 0;  // the chosen equaliser's FOM as the search computed it
  double sigmaIsi = 0, sigmaXt = 0, sigmaG = 0, sigmaTx = 0, sigmaRj = 0, sigmaN = 0, sigmaDd = 0;
  double unequalisedPeak = 0;     // V
  int cursorSample = 0;           // sample index of ts in the equalised pulse
  double gDC = 0, gDC2 = 0;       // dB
  std::vector<double> txTaps;     // c(-N)..c(N), the cursor included
  int txCursor = 0;               // index of c(0) in txTaps
  std::vector<double> dfeTaps;    // b(1..)
  std::vector<double> rxffeTaps;  // the receiver FFE, cursor tap 1; empty when none
  int rxffeCursor = 0;            // index of its cursor tap
  long long candidates = 0;       // evaluated
  long long gridSize = 0;         // valid Tx x allowed CTLE settings
  bool localDiffers = false;      // the local search's choice differs from the grid's optimum
  std::vector<Candidate> topCandidates;  // the reportCandidates best evaluated, best first
  double seconds = 0;                    // wall time of the case
  // Its parts: package, grid and transforms; the search; the noise distributions.
  double pulseSeconds = 0, searchSeconds = 0, marginSeconds = 0;
  CaseViews views;
};

// The margins of a computation: every package case, the worst, the verdict, and what was
// said on the way.
struct Margins {
  std::vector<CaseResult> cases;  // in the order of Params::cases
  double com = 0;                 // the worst case
  bool pass = false;
  std::vector<std::string> warnings;  // each becomes a "warning: " line
  std::vector<std::string> log;       // what was searched, how long it took
  double setupSeconds = 0;            // checks, grids and the Tx FFE weights
};

// Computes COM for channels[0] (the thru) and every aggressor after it. On failure, status 1
// and the reason ("COM unavailable: REASON"); the margins then hold the log lines and cases
// made before it.
brevo::Result<Margins> computeCom(const Params& params, const std::vector<Channel>& channels);

}  // namespace brevo::com
