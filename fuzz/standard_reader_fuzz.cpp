// Fuzz target: the standard Touchstone reader on arbitrary bytes, strictly and
// leniently. A file it accepts must read back from its own Version 2.0 RI text as the
// same doubles; a file it refuses must say where and why and hand back no set.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "GlobalNames.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void check(const TouchstoneFile& f, std::string_view text) {
  if (!f.ok) {
    require(f.set.Size() == 0 && !f.error.rule.empty());
    // A line of the text, or none (a conversion that failed).
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n' || c == '\r';
    require(f.error.line >= 0 && static_cast<std::size_t>(f.error.line) <= lines);
    return;
  }
  const Sparams& s = f.set;
  require(s.Size() == f.info.ports && s.Fcount() == f.info.points && s.Size() > 0 &&
          s.Fcount() > 0);
  for (int k = 1; k < s.Fcount(); ++k) require(s.Freq(k) > s.Freq(k - 1));
  bool finite = true;
  for (int k = 0; k < s.Fcount() && finite; ++k)
    for (int i = 1; i <= s.Size(); ++i)
      for (int j = 1; j <= s.Size(); ++j) {
        const auto z = s.Value(k, i, j);
        finite = finite && std::isfinite(z.real()) && std::isfinite(z.imag());
      }
  if (!finite) return;
  const TouchstoneFile back =
      parseTouchstoneStandard(formatTouchstone(s, {2, RI, "Hz", 50, "Full"}), "back.ts");
  require(back.ok && back.set.Size() == s.Size() && back.set.Fcount() == s.Fcount());
  for (int k = 0; k < s.Fcount(); ++k) {
    require(back.set.Freq(k) == s.Freq(k));
    for (int i = 1; i <= s.Size(); ++i)
      for (int j = 1; j <= s.Size(); ++j) require(back.set.Value(k, i, j) == s.Value(k, i, j));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const TouchstoneFile strict = parseTouchstoneStandard(text, "fuzz.s2p", {50.0, false});
  const TouchstoneFile lenient = parseTouchstoneStandard(text, "fuzz.s2p", {50.0, true});
  check(strict, text);
  check(lenient, text);
  require(!strict.ok || (lenient.ok && lenient.info.deviations.empty()));
  return 0;
}
