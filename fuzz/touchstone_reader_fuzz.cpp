// Fuzz target: the Touchstone reader on arbitrary bytes. Whatever it is given, the set
// it returns must agree with its own counts, and every lookup on it must stay inside
// its storage.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "GlobalNames.h"

namespace {

// Checked in every build, also where assert is compiled out.
void require(bool condition) {
  if (!condition) std::abort();
}

// The reader allocates for the records and ports a file claims, up to 4 GiB, before it
// reads a value: 16,384 one-number lines after a first record of 32,768 values (64 KB)
// claim 16,384 matrices of 128 x 128. That is by design, but it would only measure the
// allocator here and trip the fuzzer's memory limit. An upper bound on what the input
// can claim (lines, counting the 1023-character cuts, times the items of all its text,
// 16 bytes each) above 1 GiB passes the input over.
bool claimsTooMuch(std::string_view text) {
  std::size_t lines = 1 + text.size() / 1023;
  for (char c : text) lines += c == '\n';
  return static_cast<double>(lines) * static_cast<double>(text.size()) * 8.0 > double(1 << 30);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (claimsTooMuch(text)) return 0;
  const ReadResult r = parseTouchstone(text, "fuzz.s4p");
  const Sparams& s = r.set;
  const int n = s.Fcount();
  const int ports = s.Size();
  require(n >= 0 && ports >= 0);
  require(r.status != ReadStatus::ok || (n > 0 && ports > 0));
  require(r.status != ReadStatus::tooLarge || (n == 0 && ports == 0));
  require(std::isnan(s.Freq(-1)) && std::isnan(s.Freq(n)));

  // Every stored entry of the first points, and the lookups the estimator makes.
  const int points = n < 64 ? n : 64;
  const int side = ports < 8 ? ports : 8;
  for (int k = 0; k < points; ++k) {
    (void)s.Freq(k);
    for (int i = 0; i <= side + 1; ++i)
      for (int j = 0; j <= side + 1; ++j) (void)s.Value(k, i, j);
  }
  if (n > 0 && ports > 0) {
    (void)s.freqStep();
    const double top = s.fmax();
    for (double f : {0.0, s.Freq(0), 0.5 * top, top, 2 * top + 1, -top})
      for (int extrap : {0, 1, 2, 3}) (void)s.Value(f, 1, ports, extrap);
    const int last = ports;
    // On the file's own points, or nothing: never a grid of another length.
    const std::vector<std::complex<double>> own = s.aParam(1, last, 0, 0, 0, 0, nullptr);
    require(own.empty() || own.size() == static_cast<std::size_t>(n));
    if (ports >= 4) (void)s.aParam(1, 2, 3, 4, 0, 0, nullptr);
    // A regular grid from 0 Hz, kept small.
    const double step = s.freqStep();
    if (step > 0 && std::isfinite(top) && top / step < 4096) {
      int count = -1;
      const std::vector<std::complex<double>> grid = s.aParam(1, last, 0, 0, 1, 0, &count);
      require(grid.empty() || count == static_cast<int>(grid.size()));
    }
  }
  return 0;
}
