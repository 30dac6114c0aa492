// Fuzz target: the Touchstone reader on arbitrary bytes. Whatever it is given, the set
// it returns must agree with its own counts, and every lookup on it must stay inside
// its storage.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "TouchstoneCore.h"

namespace {

// Checked in every build, also where assert is compiled out.
void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
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
    const std::vector<complex> own = s.aParam(1, last, 0, 0, 0, 0, nullptr);
    if (ports >= 4) (void)s.aParam(1, 2, 3, 4, 0, 0, nullptr);
    // A regular grid from 0 Hz, kept small.
    const double step = s.freqStep();
    if (step > 0 && std::isfinite(top) && top / step < 4096) {
      int count = -1;
      const std::vector<complex> grid = s.aParam(1, last, 0, 0, 1, 0, &count);
      require(grid.empty() || count == static_cast<int>(grid.size()));
    }
    (void)own;
  }
  return 0;
}
