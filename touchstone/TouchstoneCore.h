// One N-port S-parameter set: the Touchstone reader and writer, frequency lookups,
// mixed-mode parameters, network-parameter conversions, impulse and phase helpers.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <string_view>
#include <span>
#include <vector>

#include "cmatrix.h"

namespace brevo {

// How a pair of numbers (a, b) in a file encodes one std::complex<double> value.
enum format { RI = 0, MA = 1, DB = 2, MR = 3 };

std::complex<double> Param(format fmt, double a, double b);    // the value the pair encodes
std::complex<double> Param(format f, std::complex<double> z);  // z taken as the pair (Re z, Im z)
const char* Format(format f);                                  // "RI", "MA", "DB", else "MR"
double Phase(std::complex<double> z);                          // arg z in degrees, (-180, 180]
double dB(std::complex<double> z);                             // 20 log10 |z|

// What the pure parser saw; the file constructor turns it into log lines.
enum class ReadStatus {
  ok,            // every counted record was read, into at least one port and one point
  noOptionLine,  // no line beginning with "#": empty set
  incomplete,    // data ended inside a record or fewer records than counted; also
                 // an option line with fewer than two records (no port count, no values)
  tooLarge,      // the counts would need more memory than we allow: empty set
};

struct ReadResult;

// The name the reader opens for a file name: the name itself when such a file exists,
// else the name with its trailing blanks, punctuation and control characters cut (a name
// carried over from "Thru = x.s4p," or a line ending in a carriage return). The reader
// trims the caller's own string so; a caller that keeps its own copy takes this.
std::string readerFileName(std::string name);

class Sparams {
 public:
  Sparams();                                        // empty set
  Sparams(int ports, int nfreq, const char* file);  // zeros, to be filled with set()
  Sparams(char* file, FILE* log);                   // read a Touchstone file
  Sparams(const std::string& file, FILE* log);
  // A set over the given frequencies (hertz) with stored entry (i, j) of point k at
  // entries[(k * ports + i - 1) * ports + j - 1]; empty when the sizes disagree.
  static Sparams fromEntries(std::string file, int ports, std::vector<double> hertz,
                             std::vector<std::complex<double>> entries);
  // The same from scattering matrices: S(i, j) of point k at
  // matrices[(k * ports + i - 1) * ports + j - 1], put into the storage order.
  static Sparams fromMatrices(std::string file, int ports, std::vector<double> hertz,
                              std::vector<std::complex<double>> matrices);

  // The storage order. Every set keeps its pairs where the Version 1.x reader puts them
  // when it fills the matrix row by row in file order: for N ports other than 2 that is
  // the matrix itself, stored (i, j) = S(i, j); a 2-port file's usual order is S11 S21
  // S12 S22, so a 2-port set holds S(i, j) at stored (j, i) (S21 at (1, 2)). Whatever a
  // file's version, matrix format or two-port order, its set is stored this way.
  // Value(k, i, j), Value(f, i, j, extrap), Values, aParam and set() address the storage;
  // the matrix view below is derived from it here and nowhere else.
  struct Position {
    int i, j;
  };
  static Position stored(int ports, int i, int j) {
    return ports == 2 ? Position{j, i} : Position{i, j};
  }
  // S(i, j), the wave leaving port i for a wave entering port j, at stored point k or
  // at any frequency (as Value(f, i, j, extrap)).
  std::complex<double> matrixEntry(int k, int i, int j) const {
    const Position p = stored(nPorts, i, j);
    return Value(k, p.i, p.j);
  }
  std::complex<double> matrixEntry(double f, int i, int j, int extrap) const {
    const Position p = stored(nPorts, i, j);
    return Value(f, p.i, p.j, extrap);
  }

  int Fcount() const;        // number of frequency points
  int Size() const;          // number of ports
  double Freq(int k) const;  // hertz; NaN outside 0..Fcount()-1
  double fmax() const;       // the last frequency of the list
  double freqStep() const;   // smallest spacing, at most the last frequency
  // The first point whose frequency is below the one before it, or with strictly set
  // not above it (equal, or NaN); 0 when every frequency keeps that order.
  int firstPointOutOfOrder(bool strictly = false) const;
  const std::string& fileName() const;
  const std::vector<std::shared_ptr<const std::string>>& Comments() const;

  // Entry (i, j), ports from 1, at stored point k; NaN + jNaN outside.
  std::complex<double> Value(int k, int i, int j) const;
  // Entry (i, j) at any frequency: interpolated inside the range; outside it held
  // (extrap 0), or extrapolated by line fits, with 0 above the range when bit 2 is set.
  std::complex<double> Value(double f, int i, int j, int extrap) const;
  // Value(f, i, j, extrap) at every frequency of a list, the same numbers, with each
  // stored entry's magnitude and phase taken once instead of at every lookup.
  std::vector<std::complex<double>> Values(std::span<const double> f, int i, int j,
                                           int extrap) const;

  // Mixed-mode (or single-ended when the minus ports are 0) parameter over the
  // file's points or a regular grid. Empty when it cannot be formed; count, when not
  // null, receives the number of entries of a non-empty result.
  std::vector<std::complex<double>> aParam(int iP, int jP, int iM, int jM, int mode, double fstop,
                                           int* count) const;

  // The whole scattering matrix: S(i, j) at row i-1, column j-1.
  cmatrix Value(int k) const;
  cmatrix Value(double f, int extrap) const;

  // Writer side.
  int set(int k, int i, int j, format f, double a, double b);
  int set(int k, int i, int j, std::complex<double> z);
  void setComment(const char* text);
  // Writes the set to file as a Touchstone file. 0; or 1 with errno saying why, after
  // "cannot open FILE" (not opened) or "could not write FILE: REASON" (not every byte
  // arrived) on log when log is not null.
  int print(const char* file, const char* header, format f, const char* valueFormat,
            FILE* log) const;
  // Frequencies of a set built with Sparams(ports, nfreq, file); 0 or 1 as set().
  int setFreq(int k, double hertz);

  friend ReadResult parseTouchstone(std::string_view text, std::string fileName);

 private:
  // Where entry (i, j), ports from 1, of point k sits in the block.
  std::size_t at(int k, int i, int j) const {
    return (static_cast<std::size_t>(k) * nPorts + static_cast<std::size_t>(i - 1)) * nPorts +
           static_cast<std::size_t>(j - 1);
  }

  int nFreq = 0;
  int nPorts = 0;
  // One contiguous block, entry [k][r][c] at (k * nPorts + r) * nPorts + c; copies share it.
  std::shared_ptr<std::vector<std::complex<double>>> data;
  std::shared_ptr<std::vector<double>> freq;
  std::shared_ptr<const std::string> name;
  std::vector<std::shared_ptr<const std::string>> comments;
};

struct ReadResult {
  Sparams set;  // always usable; empty when nothing was read
  ReadStatus status = ReadStatus::ok;
  std::string message;               // our own explanation for tooLarge (no newline)
  bool touchstone2Keywords = false;  // bracketed keyword lines such as [Version] seen
};

// The reader as a pure function of the file's bytes (no files, no streams): lines are
// cut at 1023 characters exactly as the file reader cuts them.
ReadResult parseTouchstone(std::string_view text, std::string fileName);

// Storage the reader will allocate for one set, frequencies and matrices together.
// 4 GiB keeps a set well inside an ordinary workstation's memory, and 2^31 - 1 std::complex<double>
// values keeps every entry addressable by an int. A file that would need more is
// refused (ReadStatus::tooLarge) before anything is allocated.
inline constexpr long long kMaxSetBytes = 4LL << 30;
inline constexpr long long kMaxSetValues = 2147483647LL;

// Converts one number exactly as strtod does in the C locale (leading white space,
// sign, decimal, hexadecimal, inf and nan forms), to the same bits. Returns the number
// of characters strtod would consume, white space included; 0 when it converts
// nothing, and *value is then left alone. The text need not be NUL-terminated: it
// ends at its size (or at an embedded NUL, as for a C string).
std::size_t scanNumber(std::string_view text, double* value);

// Items on one data line as the reader's sizing pass counts them: numbers as strtod reads
// them, each with the white space after it, plus one for anything else met, where
// counting ends. Leading white space is skipped; a line of white space alone has none.
// The line ends at its size or at an embedded NUL.
long long countLineItems(std::string_view line);

// The differential entry of four single-ended ones, (S_pp - S_pm - S_mp + S_mm) / 2, with
// p the plus and m the minus port of the input (first) and the output (second) pair.
// Inline: a call per frequency point costs more than the sum (the complex arguments go
// through memory).
inline std::complex<double> differential(std::complex<double> pp, std::complex<double> pm,
                                         std::complex<double> mp, std::complex<double> mm) {
  std::complex<double> s = pp;
  s += mm;
  s -= mp;
  s -= pm;
  return s * 0.5;
}

// Network-parameter conversions with a real reference impedance z0 in ohms.
cmatrix S2Y(cmatrix S, double z0);
cmatrix Y2S(cmatrix Y, double z0);
cmatrix S2Z(cmatrix S, double z0);
cmatrix Z2S(cmatrix Z, double z0);
cmatrix Y2Z(cmatrix Y);
cmatrix Z2Y(cmatrix Z);
// Network data of parameter S, Y, Z, H or G (ohms and siemens; H and G of two ports) as
// S at the references ref (ohms, per port); the empty matrix when they have none.
cmatrix toScattering(char parameter, const cmatrix& m, const std::vector<double>& ref);
// S referenced to from (ohms, per port) renormalised to to; empty when singular.
cmatrix renormalised(const cmatrix& s, const std::vector<double>& from,
                     const std::vector<double>& to);
// Mixed-mode data as single-ended ports, modes^T mixed modes, for the matrix modes whose
// row k gives the single-ended ports of mode k.
cmatrix singleEnded(const cmatrix& mixed, const cmatrix& modes);

// The phase, radians, moved by whole turns into (reference + above - 2 pi, reference + above]:
// with above = pi the nearest turn to the reference.
double unwrapPhase(double phase, double reference, double above = std::numbers::pi);
// Unwrapped phase track of n values; empty when n < 1.
std::vector<double> phc(int n, const std::complex<double>* v);
// Sampled time response of a one-sided spectrum H at 0, df, ..., F; empty when n < 2.
std::vector<double> impulse(const std::complex<double>* H, int n, double F, int* count, double dt);

}  // namespace brevo
