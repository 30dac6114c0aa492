// The S-parameter set: construction, the file reader's shell around readTouchstoneFile,
// small accessors and the text side of the pair formats.
#include "TouchstoneCore.h"
#include "TouchstoneStandard.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace brevo {

using complex = std::complex<double>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

Sparams::Sparams() = default;

// Negative sizes are taken as 0; sizes beyond what the reader would allocate give an
// empty set (our choice: the writer then has nothing to write rather than a crash).
Sparams::Sparams(int ports, int nfreq, const char* file)
    : name(std::make_shared<const std::string>(file ? file : "")) {
  const long long p = ports > 0 ? ports : 0;
  const long long f = nfreq > 0 ? nfreq : 0;
  const long long perPoint = p * p;  // below 2^62
  if (perPoint > 0 && f > kMaxSetValues / perPoint) return;
  if (f * 8 + f * perPoint * 16 > kMaxSetBytes) return;
  nPorts = static_cast<int>(p);
  nFreq = static_cast<int>(f);
  freq = std::make_shared<std::vector<double>>(static_cast<std::size_t>(f), 0.0);
  data = std::make_shared<std::vector<complex>>(static_cast<std::size_t>(f * p * p));
}

// The long-standing reader on whatever the file holds, through the one way into a file;
// a name cut of a trailing blank or punctuation is cut in the caller's string too.
Sparams::Sparams(char* file, FILE* log) {
  if (!file) return;  // no name, nothing to read
  TouchstoneReading r = readTouchstoneFile(file, {TouchstoneReaders::longStandingOnly, {}}).value;
  if (r.name.size() < std::strlen(file)) file[r.name.size()] = '\0';
  if (log && !r.logText.empty()) {
    std::fputs(r.logText.c_str(), log);
    std::fflush(log);
  }
  *this = std::move(r.set);
  if (!name) name = std::make_shared<const std::string>(r.name);
}

Sparams Sparams::fromEntries(std::string file, int ports, std::vector<double> hertz,
                             std::vector<complex> entries) {
  Sparams s;
  const std::size_t n = ports > 0 ? static_cast<std::size_t>(ports) : 0;
  if (n == 0 || hertz.empty() || entries.size() != hertz.size() * n * n ||
      hertz.size() > static_cast<std::size_t>(INT_MAX))
    return s;
  s.nPorts = ports;
  s.nFreq = static_cast<int>(hertz.size());
  s.name = std::make_shared<const std::string>(std::move(file));
  s.freq = std::make_shared<std::vector<double>>(std::move(hertz));
  s.data = std::make_shared<std::vector<complex>>(std::move(entries));
  return s;
}

Sparams Sparams::fromMatrices(std::string file, int ports, std::vector<double> hertz,
                              std::vector<complex> matrices) {
  const std::size_t n = ports > 0 ? static_cast<std::size_t>(ports) : 0;
  if (n == 0 || matrices.size() % (n * n) != 0)
    return fromEntries(std::move(file), ports, std::move(hertz), {});
  // The storage order is the matrix with some pairs of entries exchanged: exchanged in
  // place, each pair once, and not at all when no entry moves.
  std::vector<std::pair<std::size_t, std::size_t>> moves;
  for (int i = 1; i <= ports; ++i)
    for (int j = 1; j <= ports; ++j) {
      const Position p = stored(ports, i, j);
      const auto from = static_cast<std::size_t>((i - 1) * ports + j - 1);
      const auto to = static_cast<std::size_t>((p.i - 1) * ports + p.j - 1);
      if (to > from) moves.emplace_back(from, to);
    }
  if (!moves.empty())
    for (std::size_t at = 0; at < matrices.size(); at += n * n)
      for (const auto& [from, to] : moves) std::swap(matrices[at + from], matrices[at + to]);
  return fromEntries(std::move(file), ports, std::move(hertz), std::move(matrices));
}

Sparams::Sparams(const std::string& file, FILE* log) {
  std::vector<char> writable(file.begin(), file.end());
  writable.push_back('\0');
  *this = Sparams(writable.data(), log);
}

int Sparams::Fcount() const { return nFreq; }
int Sparams::Size() const { return nPorts; }

double Sparams::Freq(int k) const {
  if (k < 0 || k >= nFreq) return kNaN;
  return (*freq)[static_cast<std::size_t>(k)];
}

// Needs a frequency; a set without one answers NaN (our choice) rather than reading
// outside its list.
double Sparams::fmax() const {
  return nFreq > 0 ? (*freq)[static_cast<std::size_t>(nFreq - 1)] : kNaN;
}

int Sparams::firstPointOutOfOrder(bool strictly) const {
  for (int k = 1; k < nFreq; ++k) {
    const double f = (*freq)[static_cast<std::size_t>(k)],
                 before = (*freq)[static_cast<std::size_t>(k - 1)];
    if (strictly ? !(f > before) : f < before) return k;
  }
  return 0;
}

const std::string& Sparams::fileName() const {
  static const std::string none;
  return name ? *name : none;
}

const std::vector<std::shared_ptr<const std::string>>& Sparams::Comments() const {
  return comments;
}

const char* Format(format f) {
  switch (f) {
    case RI:
      return "RI";
    case MA:
      return "MA";
    case DB:
      return "DB";
    default:
      return "MR";
  }
}

// arg z in degrees; a negative real axis reached from below (imaginary part -0) is
// reported as 180 too, so the result stays in (-180, 180].
double Phase(complex z) {
  const double degrees = std::arg(z) * 57.29577951308232;
  return degrees == -180.0 ? 180.0 : degrees;
}

double dB(complex z) { return 20.0 * std::log10(std::abs(z)); }

}  // namespace brevo
