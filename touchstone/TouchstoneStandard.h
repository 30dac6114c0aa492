// The Touchstone reader that follows the standard for every version (1.0, 1.1, 2.0,
// 2.1): keywords and their order, triangular matrices, per-port references, mixed-mode
// data, noise blocks. It hands back single-ended S-parameters at one real reference on
// every port, and says what it found and what it converted. The first rule a file
// breaks ends the read with the file name, the line and the rule.
//
// The older reader (Sparams(char*, FILE*)) is left as it is: it reads Version 1.x
// S-parameter files the way the estimator always has.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "TouchstoneCore.h"

namespace brevo {

struct TouchstoneReadOptions {
  double reference = 50.0;  // ohms, every port of the returned set
  // Read the three deviations common in real exports (no [End]; a 2-port 2.x file
  // without [Two-Port Data Order], taken as 21_12; per-port R on a 2.x option line)
  // with a deviation noted instead of refusing the file.
  bool lenient = true;
};

// One rule broken, at a line of the file (1 for the first line; 0 when no line applies).
struct TouchstoneProblem {
  int line = 0;
  std::string rule;
  std::string taken;  // for a tolerated deviation: how the file was read instead
};

// A line of the optional 2-port noise block, in the units of a caller: hertz, dB, the
// magnitude and angle (degrees) of the optimum source reflection, ohms.
struct NoisePoint {
  double hertz = 0;
  double minimumNoiseFigure = 0;
  double gammaMagnitude = 0;
  double gammaAngle = 0;
  double noiseResistance = 0;
};

// What the file held and what the reader did with it.
struct TouchstoneInfo {
  std::string version;  // "1.0", "1.1", "2.0" or "2.1"
  int ports = 0;
  int points = 0;
  char parameter = 'S';                     // S, Y, Z, H or G as the file holds them
  format dataFormat = MA;                   // RI, MA or DB
  std::string unit = "GHz";                 // as the option line names it (or the default)
  double optionR = 50;                      // the option line's R (its first value)
  std::vector<double> references;           // per single-ended port: what the file's numbers mean
  std::string matrixFormat = "Full";        // Full, Lower or Upper
  std::string twoPortOrder;                 // "12_21" or "21_12" for 2-port files; "" otherwise
  std::vector<std::string> mixedModeOrder;  // descriptors as written, e.g. "D2,3"
  std::vector<NoisePoint> noise;
  std::vector<std::string> information;       // lines of [Begin Information]
  std::vector<std::string> conversions;       // what was done to reach the returned set
  std::vector<TouchstoneProblem> deviations;  // tolerated, in lenient reading
};

struct TouchstoneFile {
  Sparams set;  // empty unless ok
  TouchstoneInfo info;
  bool ok = false;
  TouchstoneProblem error;  // the rule that ended the read when not ok
  std::string name;

  // "NAME:LINE: rule" for the error (or "NAME: rule" without a line).
  std::string message() const;
  std::string message(const TouchstoneProblem& p) const;
  // One line saying how the file was read, e.g. "NAME: Touchstone 2.0, 4 ports, 1001
  // frequencies; mixed-mode data converted to single-ended ports".
  std::string summary() const;
};

// Reads the file at path by the standard reader, whatever its version (through
// readTouchstoneFile); a file that cannot be opened is an error without a line.
TouchstoneFile readTouchstone(const std::string& path, const TouchstoneReadOptions& options = {});
// The same from the bytes of a file, name standing for it in messages and in the port
// count a 1.x file's extension gives.
TouchstoneFile parseTouchstoneStandard(std::string_view text, const std::string& name,
                                       const TouchstoneReadOptions& options = {});

// The version the first line of a file's text that is neither blank nor a comment
// declares: 2 for "[Version] ...", 1 for an option line, 0 for anything else. The text
// is taken as a reader of lines of 4095 characters sees it (a NUL ends a line's text).
int touchstoneVersionOf(std::string_view text);

// What a Version 1.x file declares that a reader of 50-ohm S-parameters alone does not
// take in: the option line's parameter and R values, and the first line that carries a
// comment after numbers (0 when none). optionLine is false when no option line was found.
struct Version1Declarations {
  bool optionLine = false;
  char parameter = 'S';
  std::vector<double> R;  // as written; empty when the line gives none (50 ohm)
  int commentAfterData = 0;
};
// From the file's bytes, path standing for it.
Version1Declarations declarationsOf(std::string_view text, const std::string& path);

// ---- The one way into a Touchstone file ----
//
// readTouchstoneFile opens the file once, takes its bytes, sees its version in them and
// hands them to a reader: Version 1.x to the long-standing reader (the estimator's own:
// every file as S-parameters at 50 ohm, its log lines and limits exactly as always),
// Version 2.x to the standard reader. Every program reads channel files through it.
enum class TouchstoneReaders {
  byVersion,         // 1.x (and text of no version) long-standing, 2.x standard
  standard,          // the standard reader for every version (the converter)
  longStandingOnly,  // the long-standing reader for every text (Sparams(file, log))
};

struct TouchstoneReadingOptions {
  TouchstoneReaders readers = TouchstoneReaders::byVersion;
  TouchstoneReadOptions standard;  // for the standard reader
};

// How readTouchstoneFile ended; the first that applies.
enum class TouchstoneReadStatus {
  read,        // a reader took the file
  cannotOpen,  // it did not open under the name given (the long-standing way reads the name
               // cut of a trailing blank or stray punctuation then, when there is such a file)
  folder,      // a folder: it opens, but holds no text
  refused,     // the standard reader refused it (its error is in standard too)
  // The long-standing reader's outcomes other than ok (ReadStatus), with its set.
  noOptionLine,
  incomplete,
  tooLarge,
  outOfMemory,  // the text is larger than the memory left for it: nothing read
};

// What was read, also when the status is a failure: the log lines and warnings say it.
struct TouchstoneReading {
  Sparams set;          // empty when nothing was read
  TouchstoneInfo info;  // what the file held; version "1.x" from the long-standing reader
  // The reader's log lines, each with its line feed: "cannot open for read:  NAME",
  // "#read NAME size 4 for 401 frequencies", the standard reader's summary or its error.
  std::string logText;
  // Warnings without "warning: ": deviations read leniently, and a 1.x file the
  // long-standing reader misreads (with the command that converts it).
  std::vector<std::string> warnings;
  std::string how;   // how it was read, for the run record
  std::string name;  // the name read (a trailing blank or stray punctuation cut off)
  int version = 0;   // as touchstoneVersionOf saw the text
  // The errno value of cannotOpen (the open under the name given), EISDIR for folder.
  int systemError = 0;
  bool keywordLines = false;  // the long-standing reader met keyword lines
  // The standard reader's whole result when it read the file; the standard reader's
  // "cannot open" error when the file did not open (not a missing file the long-standing
  // way looks for), or did not open as a folder or in memory for that reader.
  TouchstoneFile standard;
};

// The status's message is its reason in one line: the system's text for cannotOpen and
// folder, the standard reader's "NAME:LINE: rule" for refused, the long-standing
// reader's own message for tooLarge.
using TouchstoneRead = Result<TouchstoneReading, TouchstoneReadStatus>;

TouchstoneRead readTouchstoneFile(const std::string& path,
                                  const TouchstoneReadingOptions& options = {});

// Conversions to S at the references ref (ohms, per port), one matrix at a time, entry
// (i, j) at m[(i - 1) * n + (j - 1)]. Y, Z, H, G in ohms and siemens; false when the
// matrix has no S-parameters.
bool toScattering(char parameter, std::vector<std::complex<double>>& m, int n,
                  const std::vector<double>& ref);
// S referenced to from (per port) renormalised to to (per port); false when singular.
bool renormalise(std::vector<std::complex<double>>& s, int n, const std::vector<double>& from,
                 const std::vector<double>& to);

// Writing a set as Touchstone text: shortest round-trip numbers, so the text read back
// gives the same doubles (for RI; MA and DB to the last bits of the trigonometry).
struct TouchstoneWriteOptions {
  int version = 1;                     // 1: Version 1.0 layout; 2: Version 2.0 keywords
  format dataFormat = RI;              // RI, MA or DB
  std::string unit = "Hz";             // Hz, kHz, MHz or GHz
  double reference = 50;               // the ohms the set is referenced to (every port)
  std::string matrixFormat = "Full";   // 2.x: Full, Upper or Lower
  std::string twoPortOrder = "12_21";  // 2.x 2-port files: 12_21 (row by row) or 21_12
  char parameter = 'S';  // S; or Z, Y from the S-parameters at the reference (ohms and
                         // siemens in Version 2, normalised to R in Version 1)
  // Upper and Lower keep one triangle: Sij and Sji may differ by this much of the larger.
  double reciprocityTolerance = 1e-6;
};
std::string formatTouchstone(const Sparams& set, const TouchstoneWriteOptions& options);

// One "name=value" writing option into options, names and values case-insensitive:
// version=1|2, format=RI|MA|DB, unit=Hz|kHz|MHz|GHz, R=OHMS (positive), matrix=full|
// upper|lower, order=12_21|21_12, parameter=S|Y|Z. "" when taken, else why it is
// refused ("unknown option 'x=1'").
std::string setWriteOption(std::string_view arg, TouchstoneWriteOptions& options);

// The first point where S differs from its transpose by more than 1e-12, as a reason
// ("|S12 - S21| is 0.1 at 1e+09 Hz"); "" for a reciprocal set.
std::string nonReciprocal(const Sparams& set, double tolerance = 1e-6);

}  // namespace brevo
