// Fuzz target: the COM preset reader. Every line of the input that assigns a com_
// keyword is applied as a line of a preset file would be (the parser, the origin it
// records), and the values are read into COM's parameters. A reading that succeeds must
// give parameters the computation can rely on; one that fails must say why.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "entry.h"
#include "stages.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

FILE* devNull() {
  static FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

bool sweepOk(const brevo::com::Sweep& s) {
  return std::isfinite(s.min) && std::isfinite(s.max) && s.min <= s.max && s.step >= 0;
}

void checkParams(const brevo::com::Params& p) {
  require(p.fb > 0 && std::isfinite(p.fb) && p.L >= 2 && p.M >= 1 && p.DER0 > 0 && p.DER0 < 0.5);
  require(p.Av > 0 && p.RLM > 0 && p.RLM <= 1 && p.c0min > 0 && p.c0min <= 1);
  require(sweepOk(p.gDC) && (!p.twoStage || (sweepOk(p.gDC2) && p.fLF > 0)));
  for (const brevo::com::TxTap& t : p.txTaps) require(sweepOk(t.values) && t.index != 0);
  require(p.Nb >= 0 && p.bmax.size() == static_cast<std::size_t>(p.Nb));
  require(p.bmin.empty() || p.bmin.size() == p.bmax.size());
  require(!p.cases.empty() && !p.Zc.empty());
  for (const brevo::com::PackageCase& c : p.cases)
    require(c.tx.size() == p.Zc.size() && c.next.size() == p.Zc.size() &&
            c.fext.size() == p.Zc.size() && c.rx.size() == p.Zc.size());
  require(p.pkgTx.Ls.size() <= p.pkgTx.Cd.size() && p.pkgRx.Ls.size() <= p.pkgRx.Cd.size());
  require(p.g2Qual.size() == p.gQual.size() || p.g2Qual.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  RunState rs;
  rs.io.result = rs.io.log = devNull();
  registerKeywords(rs.given);
  rs.given.com.requested = true;
  rs.given.com.preset = "fuzz.cf";
  int line = 1;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view piece = text.substr(0, end == std::string_view::npos ? text.size() : end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    piece = piece.substr(0, piece.find('\0'));
    const std::size_t start = piece.find_first_not_of(" \t");
    if (start != std::string_view::npos && piece.substr(start).starts_with("com_"))
      applyUserAssignment(rs.given, rs.io, piece, {"fuzz.cf", line});
    ++line;
  }
  const brevo::Result<brevo::com::PresetReading> r = readComPreset(rs);
  require(r.ok() == r.message.empty() && r.ok() == r.value.problems.empty());
  // Each problem one line, none of them empty.
  for (const std::string& problem : r.value.problems)
    require(!problem.empty() && problem.find('\n') == std::string::npos);
  if (r.ok()) checkParams(r.value.params);
  return 0;
}
