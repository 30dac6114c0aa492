// The stages of a run, in the order the run calls them. Each returns the exit status
// that ends the run (0 to go on) or nothing when it cannot fail.
#pragma once

#include "Result.h"
#include "RunState.h"
#include "presets.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>

// Fills the entry's ports from its channel line; 0 when interpreted, 1 when not.
int fixChannelLine(channelLine& entry, int inP, int inM, int outP, int outM);

// The arguments stage, selectThru and deriveSettings make what the run was given; every
// later stage reads it const, with the results of the stages before it, and writes its
// own result. Each signature names the parts it reads (const) and writes.

// Control files and assignments of io.arguments: the keywords' values, the channel lists,
// the streams, the preset com names.
int applyArguments(RunGiven& given, RunIO& io);
int selectThru(RunGiven& given, RunIO& io);       // through channel, ports in use, save base name
void deriveSettings(RunGiven& given, RunIO& io);  // level factors, bandwidths, corners, UI, header
// The through channel's file, Sdd21, Sdd11, Sdd22.
int readThru(const RunGiven& given, RunIO& io, ChannelCache& channels, ThruRead& thru,
             ThruPoints& points, ComChannels& com);
// Loss fit, ILD and re-reflection noise.
void fitThru(const RunGiven& given, RunIO& io, const Sparams& thru, const ThruPoints& points,
             LossFit& lossFit);
// Group delay, short pulse and dibit, .wv1.
void pulseAndDibit(const RunGiven& given, RunIO& io, const Sparams& thru, const ThruPoints& points,
                   const LossFit& lossFit, PulseResults& pulse);
// Uniform grid, .fd, DFE period sums, .wv2, the ILD power the DFE leaves.
int equalisedIld(const RunGiven& given, RunIO& io, const Sparams& thru, const LossFit& lossFit,
                 const PulseResults& pulse, EqualisedIld& ildAfterDfe);
// Signal and through-channel noise lines.
void budget(const RunGiven& given, RunIO& io, const Sparams& thru, const LossFit& lossFit,
            const PulseResults& pulse, const EqualisedIld& ildAfterDfe, NoiseBudget& noise);
// Every aggressor's ICN, read through the channel cache.
void crosstalk(const RunGiven& given, RunIO& io, ChannelCache& channels, const Sparams& thru,
               const ThruPoints& points, const LossFit& lossFit, const NoiseBudget& noise,
               CrosstalkNoise& crosstalk, ComChannels& com);
// Totals, S/N, BER, tolerance, Salz S/N, FLIPPED.
void figuresOfMerit(const RunGiven& given, RunIO& io, const Sparams& thru, const ThruPoints& points,
                    const LossFit& lossFit, const PulseResults& pulse, const NoiseBudget& noise,
                    const CrosstalkNoise& crosstalk, MeritFigures& merit);
// The COM block after the report, when com names a preset.
// Lets go of the gathered channels once it has computed.
void comStage(const RunGiven& given, RunIO& io, ComChannels& gathered, ComRun& com);

// The stages in run order.
enum class Stage {
  arguments,
  selectThru,
  deriveSettings,
  readThru,
  fitThru,
  pulseAndDibit,
  equalisedIld,
  budget,
  crosstalk,
  figuresOfMerit,
  com
};
inline constexpr std::array<const char*, 11> kStageNames = {
    "arguments",    "selectThru", "deriveSettings", "readThru",       "fitThru", "pulseAndDibit",
    "equalisedIld", "budget",     "crosstalk",      "figuresOfMerit", "com"};

// Watches a run stage by stage (to time it, or to stop it early). starting() returning
// false ends the run before that stage with status 0.
class StageObserver {
 public:
  virtual ~StageObserver() = default;
  virtual bool starting(Stage) { return true; }
  virtual void finished(Stage, int /*status*/) {}
};

// The stages from `first` on, in run order, until one ends the run; its status, else 0.
int runStages(RunState& rs, Stage first = Stage::arguments, StageObserver* observer = nullptr);
// One stage on the state's parts, as the run calls it; its status.
int runStage(RunState& rs, Stage stage);

// One whole run of the program on rs.io.arguments (program name first): the "$PWD=" line,
// the keywords, the options and defaults, the stages, and the clean-up of the streams.
// The report and log start on rs.io.standardOutput and rs.io.standardError. Returns the exit
// status. Nothing outside rs is kept, so runs on their own states may share a process
// or run on several threads at once.
int runAnalysis(RunState& rs, StageObserver* observer = nullptr);

// The run record: the JSON file named by the summary setting (doc/run-record.schema.json
// describes it), written once the streams are closed, whatever the status; nothing when
// summary is empty. stages: every stage the run went through with its status, in order.
// A record that cannot be written is said on standard error ("could not write the run
// record NAME: REASON"); the status stays.
void writeRunRecord(const RunState& rs, const std::vector<std::pair<Stage, int>>& stages,
                    int status);
// The text writeRunRecord writes (the JSON and its closing newline), whatever the summary
// setting; empty when memory ran out.
std::string runRecordText(const RunState& rs, const std::vector<std::pair<Stage, int>>& stages,
                          int status);

// Exit status of a run whose uniform time grid cannot be built: `oversample` of 0 or
// less, a thru set whose smallest frequency step is 0, negative or not finite, or a
// grid too large to finish (more than kMaxGridPoints frequencies or time samples, or
// more than kMaxGridProducts period-sum terms). Our choice; the run ends at once with
// one line on the log and on the result stream.
inline constexpr int kGridRefused = 11;
inline constexpr double kMaxGridPoints = 1e7;
inline constexpr double kMaxGridProducts = 1e10;

// Helpers the stages share (and tests call).

// Notes a problem the run goes on with; runAnalysis prints it at the end of the log.
void warn(RunIO& io, std::string text);
// The checks behind the warnings, each called by the stage that knows its facts.
void warnAboutSettings(const RunGiven& given, RunIO& io);  // PAM below 2
// Thru data ending below Nyquist or the receiver.
void warnAboutThruBand(const RunGiven& given, RunIO& io, const Sparams& thru);
// Closed eye, nan and inf figures.
void warnAboutFigures(const RunGiven& given, RunIO& io, const ThruPoints& points,
                      const LossFit& lossFit, const PulseResults& pulse, const NoiseBudget& noise,
                      const CrosstalkNoise& crosstalk, double salz);
void warnAboutSaveBase(const RunGiven& given, RunIO& io);  // a save base cut, or saving nothing
void warnAboutFirstArgument(RunIO& io);    // a file or assignment taken for -c, -b or -?
void warnAboutHelpWords(const RunIO& io);  // --help, -h, --version taken as control files
// Another pairing of the thru's ports is the through path.
void warnAboutThruPorts(const RunGiven& given, RunIO& io, const Sparams& thru);
// An aggressor's data (the set a) ending short, on another grid, or coupling as strongly as a thru.
void warnAboutAggressor(const RunGiven& given, RunIO& io, const Sparams& thru,
                        const ThruPoints& points, const Sparams& a, const channelLine& entry,
                        char kind, const std::vector<std::complex<double>>& X);
void warnAboutComKeywords(RunIO& io);  // com_ keywords given while com names no preset

// A channel's differential parameters for COM, kept when com names a preset: taken from
// the set the run read, between the ports given (tx+ tx- rx+ rx-), on the set's points.
void keepComChannel(const RunGiven& given, ComChannels& com, const Sparams& set,
                    const std::string& name, brevo::com::ChannelKind kind, int inP, int inM,
                    int outP, int outM);
// The com_ keywords' values as the run holds them, read into COM's parameters, with every
// problem found in them.
brevo::Result<brevo::com::PresetReading> readComPreset(const RunGiven& given,
                                                       const RunIO& io);
inline brevo::Result<brevo::com::PresetReading> readComPreset(const RunState& rs) {
  return readComPreset(rs.given, rs.io);
}
// The COM block: a case's two lines for every package case and the verdict, or
// "COM unavailable: REASON" when c.reason says why there is none.
void printComBlock(FILE* out, const ComRun& c);
// "argument 3" or "run.cf line 12": where an assignment was given, for messages.
std::string originText(const RunIO::Origin& origin);

// A channel file as a stage takes it: its set (empty when nothing usable was read), how
// it was read ("Touchstone 2.0, 4 ports, 1001 frequencies; ...") and whether it opened
// under its name.
struct ChannelFile {
  Sparams set;
  std::string how;
  bool opened = false;
};

// One channel file: a Version 2.x file by the standard reader (how it was read, or its
// first broken rule, on the log), any other by the long-standing reader, with a warning
// on the log when that reader would misread it. Status 1 for a file that broke a rule of
// its format, the message that rule as "NAME:LINE: rule" (or "NAME: cannot open: REASON"
// for a file that is there but did not open); else status 0, also when the set is empty
// (the long-standing reader found nothing usable, or there is no such file).
brevo::Result<ChannelFile> readChannelFile(const RunGiven& given, RunIO& io, ChannelCache& channels,
                                           const std::string& name);
// The same file as readChannelFile takes it, read (once) but not yet said on the log;
// channelRead then says it and gives it back as readChannelFile does.
std::shared_ptr<const ReadChannel> heldChannel(const RunGiven& given, ChannelCache& channels,
                                               const std::string& name);
brevo::Result<ChannelFile> channelRead(RunIO& io, const ReadChannel& read);

// One channel file read as readChannelFile reads it, its log lines and warnings kept
// instead of printed; readChannelFile takes the cache's readChannels entry for the name, or this.
ReadChannel readChannel(const std::string& name,
                        TouchstoneReaders readers = TouchstoneReaders::byVersion);

// "cannot open a thru file" on the run's standard error, the log and the result stream;
// status 1.
int noThru(RunIO& io);

// The band the loss fit takes its points from, hertz: every thru point, or with the hard
// limit (limit_range=2) those up to the receiver bandwidth; the soft limit (1) weights
// them toward low frequencies. The record carries it for the pictures and pages.
struct FittedBand {
  double from = 0, to = 0;
  const char* limit = "none";  // "none", "soft" or "hard"
};
FittedBand fittedBand(const RunGiven& given, const Sparams& thru);

// The frequencies of a set's points, hertz.
std::vector<double> pointFrequencies(const Sparams& set);
// The weights of a grid with the run's pulse and receiver and the transmitter filter of
// corner 1/txTau: the thru's own table when the grid and the filter are the thru's.
GridWeights weightsOn(const Derived& derived, const LossFit& lossFit, std::span<const double> freq,
                      double txTau);

// The short waveforms of the pulse stage: 701 samples from 5 UI before the channel
// delay to 30 UI after it, for a unit transmit amplitude.
inline constexpr int pulsePoints = 701;
inline constexpr double kSampleUI = 0.05;  // 20 samples per UI
inline constexpr double kLeadUI = 5;       // the window starts 5 UI before the delay
struct ShortWaveforms {
  std::vector<double> pulse, dibit, fitPulse;
};
// The short pulse, dibit and fitted-pulse sums over thru points 1..N-2, with the
// channel delay pulse.groupDelay already set.
ShortWaveforms shortPulseSums(const Derived& derived, const Sparams& thru, const ThruPoints& points,
                              const LossFit& lossFit, const PulseResults& pulse);

// Per grid frequency m the one-sided coefficients of the period sums (G*ILD, G*F, G*T,
// split into real and imaginary parts), and the phase of one frequency step over one
// time step, df * timeStep, in turns.
struct PeriodInputs {
  std::vector<double> ildRe, ildIm, fitRe, fitIm, thruRe, thruIm;
  double turns = 0;
};
struct PeriodWaveforms {
  std::vector<double> ildPulse, fitPulse, pulse;  // fitPulse and pulse empty unless asked
};
// Sample n of each waveform is the sum over m of Re(c_m * exp(2*pi*j*turns*m*n)).
PeriodWaveforms periodSums(const PeriodInputs& in, int nT, bool withPulses);

// Kind of an aggressor on the Thru list from its name: 'N' near end or 'F' far end.
char aggressorKind(const std::string& name);

// A side file (.wv1, .fd, .wv2) named from the save base name and the suffix, opened
// with mode "w"; closed when the handle goes. Null, with "could not open %s for
// writing" naming the save_file setting on the log, when it cannot be opened.
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using SideFile = std::unique_ptr<FILE, FileCloser>;
SideFile openSideFile(const RunGiven& given, RunIO& io, const char* suffix);
// Closes a side file opened with that suffix; a file that did not take every byte (a full
// disk) is named on the log, "could not write all of NAME: REASON", and the run goes on.
// An error already met while writing (rows' error()) is the one named.
void closeSideFile(const RunGiven& given, RunIO& io, SideFile& file, const char* suffix,
                   int earlierError = 0);

// Side-file rows gathered in memory and handed to the file in large pieces, one call
// where a call per row would cost more than the row's formatting. Flush before closing.
class SideRows {
 public:
  explicit SideRows(FILE* file) : file_(file) {
    if (file_) text_.reserve(kPiece + 4096);
  }
  SideRows(const SideRows&) = delete;
  SideRows& operator=(const SideRows&) = delete;
  ~SideRows() { flush(); }
  void add(const char* row, const char* end) {
    text_.append(row, end);
    if (text_.size() >= kPiece) flush();
  }
  void flush() {
    errno = 0;
    if (file_ && !text_.empty() &&
        std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size() && error_ == 0)
      error_ = errno != 0 ? errno : EIO;
    text_.clear();
  }
  int error() const { return error_; }  // of the first piece not taken whole, or 0

 private:
  int error_ = 0;
  static constexpr std::size_t kPiece = 1 << 16;
  FILE* file_;
  std::string text_;
};
