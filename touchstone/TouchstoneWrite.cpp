// Filling a set entry by entry and writing it as a Touchstone file the reader takes back.
#include "TouchstoneCore.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "outputFile.h"

namespace brevo {

using complex = std::complex<double>;

namespace {

// floor(log10(x)) as an int; 0 for a value whose logarithm is not a finite number
// (a set whose frequencies were never set), so the field stays printable.
int floorLog10(double x) {
  const double v = std::floor(std::log10(x));
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(v);
}

}  // namespace

int Sparams::set(int k, int i, int j, format f, double a, double b) {
  return set(k, i, j, Param(f, a, b));
}

int Sparams::set(int k, int i, int j, complex z) {
  if (k < 0 || k >= nFreq || i < 1 || i > nPorts || j < 1 || j > nPorts) return 1;
  (*data)[at(k, i, j)] = z;
  return 0;
}

int Sparams::setFreq(int k, double hertz) {
  if (k < 0 || k >= nFreq) return 1;
  (*freq)[static_cast<std::size_t>(k)] = hertz;
  return 0;
}

void Sparams::setComment(const char* text) {
  std::string line = text ? text : "";
  if (line.empty() || line.front() != '!') line.insert(line.begin(), '!');
  if (line.back() != '\n') line.push_back('\n');
  comments.push_back(std::make_shared<const std::string>(std::move(line)));
}

int Sparams::print(const char* file, const char* header, format f, const char* valueFormat,
                   FILE* log) const {
  FILE* out = file ? std::fopen(file, "w") : nullptr;
  if (!out) {
    if (log) std::fprintf(log, "cannot open %s\n", file ? file : "");
    return 1;
  }
  const char* head = header ? header : "";
  std::fprintf(out, head[0] == '!' ? "%s\n" : "!%s\n", head);
  for (const auto& c : comments) {
    if (!c->empty() && c->front() == '!')
      std::fputs(c->c_str(), out);
    else
      std::fprintf(out, "!%s", c->c_str());
  }
  std::fprintf(out, "# MHz S %s  R  50\n!\n!\n", f == RI ? "RI" : f == DB ? "DB" : "MA");

  // A set without frequencies has no records to write (our choice: header only).
  if (nFreq > 0) {
    // Field width and decimals from the largest frequency and the finest step, in MHz.
    const int D = floorLog10(fmax() * 1e-6);
    int e = floorLog10(freqStep() * 1e-6);
    if (e > 0) e = 0;
    const int W = D + 4 - e;
    const int P = 2 - e;
    char frequencyFormat[64];
    char indent[64];
    std::snprintf(frequencyFormat, sizeof frequencyFormat, "%%%0d.%0df  ", W, P);
    std::snprintf(indent, sizeof indent, "\n%%%0ds  ", W);
    const char* pairFormat = valueFormat ? valueFormat : "";
    // Only RI, MA and DB have a way of writing a pair; for any other format the record
    // layout is written without values (our choice).
    const bool writesValues = f == RI || f == MA || f == DB;

    const int N = nPorts;
    for (int k = 0; k < nFreq; ++k) {
      std::fprintf(out, frequencyFormat, Freq(k) * 1e-6);
      for (int i = 1; i <= N; ++i) {
        int pairs = 0;
        for (int j = 1; j <= N; ++j) {
          // Rows in port order, except a 2-port's usual N11 N21 N12 N22.
          const complex z = N == 2 ? matrixEntry(k, j, i) : matrixEntry(k, i, j);
          if (writesValues) {
            if (f == RI)
              std::fprintf(out, pairFormat, z.real(), z.imag());
            else if (f == MA)
              std::fprintf(out, pairFormat, std::abs(z), Phase(z));
            else
              std::fprintf(out, pairFormat, dB(z), Phase(z));
          }
          if (++pairs % 4 == 0) {
            if (i == N && j == N)
              std::fputc('\n', out);
            else
              std::fprintf(out, indent, "");
          }
        }
        if (N % 4 != 0 && N != 2) std::fprintf(out, indent, "");
      }
      std::fputc('\n', out);
    }
  }
  // A full disk shows only here, when the last of the buffered text goes out.
  if (const FileStatus written = finishOutput(out, true); !written.ok()) {
    sayNotWritten(log, nullptr, file, written);
    errno = written.status;
    return 1;
  }
  return 0;
}

}  // namespace brevo
