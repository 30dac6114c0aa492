// The state of one run, in parts: what it was given, its input and output, one result
// per stage and the channel files read once.
#pragma once

#include <array>
#include <complex>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "GlobalNames.h"
#include "channelModel.h"
#include "com.h"
#include "equal.h"

// One channel-list entry: a channel line and the four ports it settles to.
struct channelLine {
  std::string name;  // the line as assigned; the file name alone after fixChannelLine
  int inP = 0, inM = 0, outP = 0, outM = 0;
};

// Storage of the control-file keywords, in the order they are registered.
struct Settings {
  int input_ports = 0;
  int output_ports = 0;
  int limit_range = 0;
  int PAM = 0;
  double data_rate = 0;            // also baud_rate, symbols per second
  char Thru[kStringStorage] = {};  // also Sparameters
  char NEXT[kStringStorage] = {};
  char FEXT[kStringStorage] = {};
  char save_file[kStringStorage] = {};
  char results[kStringStorage] = {};
  char log[kStringStorage] = {};
  double signal = 0;  // volts peak
  double tx_rise = 0, tx_bandwidth = 0;
  double tx_near_rise = 0, tx_near_bandwidth = 0;
  double tx_far_rise = 0, tx_far_bandwidth = 0;
  double rx_rise = 0, rx_bandwidth = 0;
  double NEXT_amp = 0;  // volts peak
  double target_BER = 0;
  double g0Tx = 0, Tx_resistance_error = 0;
  double g0Rx = 0, Rx_resistance_error = 0;
  double pTx = 0, pRx = 0;  // hertz after the derivation
  double implementation_noise_factor = 0;
  double implementation_gain_factor = 0;
  double N_DFE = 0;  // also DFE_length, unit intervals
  double E_DFE = 0;
  int oversample = 4;           // set before registration; not in the starter file
  double slicer_allowance = 0;  // volts peak
  // Our default: +infinity, so the four-term fit stands unless a limit is set.
  double a4_limit = std::numeric_limits<double>::infinity();
  char summary[kStringStorage] = {};  // the run record's file; not in the starter file
  int strict = 0;  // 1: a warning makes the status kStrictWarnings; not in the starter file
  char touchstone_reader[kStringStorage] =
      {};  // "standard": 1.x files too; not in the starter file
};

// Values derived from the settings once all arguments are applied.
struct Derived {
  double pamStep = 0;                                    // 1/(PAM-1)
  double pamPower = 0;                                   // (PAM+1)/(3(PAM-1))
  double txTau = 0, rxTau = 0, farTau = 0, nearTau = 0;  // seconds, 0 = unlimited
  double UI = 0;                                         // seconds
};

// The through channel's responses on the points of its file, one entry per point, as
// readThru takes them.
struct ThruPoints {
  std::vector<std::complex<double>> Sdd21, Sdd11, Sdd22;
};

// The short waveforms of .wv1 at full precision, kept when the caller asks (RunIO's
// keepCurves): time in seconds (the fitted channel delay at sample 100), pulse, dibit and
// fitted pulse for a unit transmit amplitude, signs as written.
struct ShortCurves {
  std::vector<double> time, pulse, dibit, fitPulse;
};

// Peaks and timing of the short pulse and dibit.
struct PulseResults {
  double groupDelay = 0;  // seconds
  double pulsePeak = 0, dibitPeak = 0, dibitAtDelay = 0;
  double dibitPeakTime = 0;  // seconds
  int polarity = 1;          // -1 for a channel that inverts the signal
  bool flipped = false;
  ShortCurves curves;  // empty unless kept
};

// Through-channel noise powers of a two-level signal, volts squared, as the loss fit
// integrates them over the thru points.
struct TwoLevelNoise {
  double ild = 0;
  double rrTx = 0, rrRx = 0, rrTxRx = 0;
};

// The loss fit of the through channel on its points and what it integrates there
// (fitThru).
struct LossFit {
  std::vector<std::complex<double>> fitSdd21;
  std::vector<double> thruPower;  // |Sdd21|^2
  // The weights at the thru's points, with the thru's transmitter filter.
  GridWeights weights;
  std::complex<double> fitCoef[4] = {};  // a0, a1, a2, a4
  double nyquistFitGain = 0;
  // The point below which more than half the ILD noise power lies; 0 when none does.
  int lowFreqIldIndex = 0;
  TwoLevelNoise twoLevel;
};

// The .fd and .wv2 curves at full precision, kept when the caller asks: the thru and its
// fit on the uniform grid (the ILD is their difference) and, with a DFE span only, the
// period waveforms (time in seconds from the start of the period, pulse, fitted pulse and
// ILD pulse for a unit transmit amplitude).
struct GridCurves {
  std::vector<double> frequency;
  std::vector<std::complex<double>> thru, fit;
  std::vector<double> periodTime, periodPulse, periodFitPulse, periodIldPulse;
};

// The two-level ILD power the DFE leaves over one period (equalisedIld, with N_DFE not 0).
struct EqualisedIld {
  double equalisedIldPower = 0;
  bool equalised = false;
  GridCurves curves;  // empty unless kept
};

// One aggressor's integrated crosstalk noise at the PAM levels' power, volts squared.
struct AggressorNoise {
  std::string name;
  char kind = 'F';  // 'N' near end, 'F' far end
  double icnPower = 0;
  int inP = 0, inM = 0, outP = 0, outM = 0;  // the ports its transfer was taken between
};

// The through channel's noise terms and the signal they are measured against, as the
// budget prints them. Powers in volts squared at the PAM levels' power; amplitudes in
// volts.
struct NoiseBudget {
  double implementationNoise = 0;  // volts
  double ildNoisePower = 0;        // the equalised one where there is one
  double rrTxNoisePower = 0, rrRxNoisePower = 0, rrTxRxNoisePower = 0;
  double channelNoisePower = 0;  // ILD plus the three re-reflection terms
  double throughNoisePower = 0;  // implementation plus channel
  double availableSignal = 0;    // volts
};

// The aggressors' part: every aggressor read, in walk order, the sums, and the whole
// noise with the through channel's. Powers in volts squared at the PAM levels' power.
struct CrosstalkNoise {
  std::vector<AggressorNoise> aggressors;
  // Aggressor lines that added nothing, each with why.
  struct Skipped {
    std::string name;
    char kind = 'F';
    std::string reason;
    int inP = 0, inM = 0, outP = 0, outM = 0;  // the defaults when its line cannot be read
  };
  std::vector<Skipped> skipped;
  double nextIcnPower = 0, fextIcnPower = 0;
  double totalNoisePower = 0;  // through plus every aggressor
  // Per thru point, the sum over aggressors of |X|^2 (for the Salz S/N).
  std::vector<double> xtalkPower;
  // Kept when the caller asks: every aggressor that entered the budget, in walk order,
  // with its transfer on its file's own points.
  struct Transfer {
    std::string name;
    char kind = 'F';
    std::vector<double> frequency;
    std::vector<std::complex<double>> transfer;
  };
  std::vector<Transfer> transfers;
};

// The closing figures of the report, as figuresOfMerit prints them.
struct MeritFigures {
  double totalIcn = 0, totalNoise = 0;  // volts rms
  double signalToNoise = 0, ber = 0;
  double tolerance = 0;  // volts rms; negative by the amount the target is missed
  double salz = 0;       // dB
};

// One channel file as read (readTouchstoneFile): its status and, in the value, the set
// (empty when nothing usable was read), the reader's log lines, its warnings, how it was
// read and, for a Version 2.x file that broke a rule of its format, the standard reader's
// error. info: what the standard reader found in a Version 2.x file; for a file the
// long-standing reader read, version "1.x" and what its option line declares (parameter,
// R; the set is S at 50 ohm whatever they say).
using ReadChannel = TouchstoneRead;

// What tells one state of a file on disk from another: device, inode, size and
// modification time.
struct FileStamp {
  unsigned long long device = 0, inode = 0;
  long long size = -1, seconds = 0, nanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};

// The COM preset a run was given (com=), as the arguments stage applied it.
struct ComPreset {
  bool requested = false;  // com names a preset (com= with nothing turns it off)
  std::string preset;      // as given to com=
  std::string path;        // the preset file applied; empty when none could be
  std::string error;       // why no preset could be applied, for the COM block
  int depth = 0;           // presets being applied from within presets
};

// The channels COM takes, gathered by readThru and crosstalk from the files the run reads
// anyway (only when com names a preset) and let go by the COM stage.
struct ComChannels {
  // The thru first, then every aggressor read, each on its own file's points.
  std::vector<brevo::com::Channel> channels;
  std::vector<std::string> leftOut;  // channels whose differential parameters could not be formed
};

// The Channel Operating Margin of a run that names a preset: the COM stage's result.
struct ComRun {
  // Reached, the problems with the preset's values, the outcome.
  bool reached = false;
  std::vector<std::string> problems;
  brevo::com::Params params;
  brevo::Result<brevo::com::Margins> outcome;  // read only when reason is empty
  std::string reason;                          // "COM unavailable: " and this, when not empty
};

// What a run was given: the keyword table and its storage, the values derived from the
// settings, the channel lists, the ports in use and the save base. The arguments stage,
// selectThru and deriveSettings make it; every later stage only reads it.
struct RunGiven {
  std::string baseDirectory = ".";
  std::unique_ptr<variable_def> table;
  Settings settings;
  Derived derived;
  std::vector<channelLine> thruList, nextList, fextList;
  int inP = 0, inM = 0, outP = 0, outM = 0;  // ports in use
  std::string saveBase;                      // empty: no side files
  // The com keyword's text and every com_ keyword's, in the order of
  // brevo::com::presetKeywords() (registerKeywords sizes it once).
  char comPreset[kStringStorage] = {};
  std::vector<std::array<char, kStringStorage>> comTexts;
  ComPreset com;  // the preset applied
};

// The run's input and output: its streams, the warnings it goes on with, where each
// keyword got its value, the arguments and the run record's text.
struct RunIO {
  // The run's standard streams: where the report and the log start, where the help
  // text and the fatal lines meant for standard error go. The process's own unless a
  // caller gives others (memory streams, say); the run never closes them.
  FILE* standardOutput = stdout;
  FILE* standardError = stderr;
  // Problems the run noticed but went on with, each printed at the end of the log as
  // "warning: " and the text, after every other line.
  std::vector<std::string> warnings;
  // Where each keyword got its final value: "default", "command line" (with the
  // argument's position) or a control file and its line.
  struct Origin {
    std::string source;  // "default", "command line" or the control file's name
    int line = 0;        // the control file's line, or the argument's position
    long sequence = 0;   // when it was applied, counting every assignment of the run
  };
  long assignments = 0;                                 // assignments applied so far
  std::vector<std::pair<std::string, Origin>> origins;  // in the order first set
  // The last text of each setting the run takes away once assigned (Thru, NEXT, FEXT,
  // results, log: their storage is emptied), by its storage, for the run record.
  std::vector<std::pair<const char*, std::string>> takenTexts;
  FILE* result = stdout;
  FILE* log = stderr;
  std::vector<std::string> arguments;  // the command line, program name first
  // A caller that never means the options (-c, -b, -?) sets this: its first argument is
  // a control file or an assignment like every other, whatever it holds.
  bool argumentsOnly = false;
  // The run record's JSON text, kept here at the end of the run when keepRecord is set
  // (whether or not summary= names a file for it).
  bool keepRecord = false;
  std::string record;
  // The stages keep their waveforms and transfers at full precision in their results (a
  // report page or a Python caller draws them without side files).
  bool keepCurves = false;
};

// The through channel as readThru read it: its set and how its file was read (for the
// run record).
struct ThruRead {
  Sparams set;
  std::string reading;
};

// Channel files read once and handed to every channel line that names them.
struct ChannelCache {
  // Channel files read before the run (by a caller that reads a file once for many
  // runs), by the name a channel line gives; a channel line naming one takes it from
  // here instead of reading the file, with the same log lines and warnings.
  std::map<std::string, std::shared_ptr<const ReadChannel>> readChannels;
  // Channel files this run read, by name, with what identified the file on disk then:
  // a later channel line naming the same unchanged file takes the set read before.
  struct FileRead {
    FileStamp stamp;
    std::shared_ptr<const ReadChannel> read;
  };
  std::map<std::string, FileRead> filesRead;
};

// The state of one run, owned by its caller: what it was given, its input and output,
// each stage's result and the channel cache. Each stage names the parts it reads and
// the parts it writes.
struct RunState {
  RunGiven given;
  RunIO io;
  ThruRead thru;             // readThru
  ThruPoints points;         // readThru
  LossFit lossFit;           // fitThru
  PulseResults pulse;        // pulseAndDibit
  EqualisedIld ildAfterDfe;  // equalisedIld
  NoiseBudget noise;         // budget
  CrosstalkNoise crosstalk;  // crosstalk
  MeritFigures merit;        // figuresOfMerit
  ComChannels comChannels;   // readThru, crosstalk (with a COM preset)
  ComRun com;                // comStage
  ChannelCache channels;
};
