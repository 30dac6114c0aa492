// brevo-touchstone: converts a Touchstone file of any version to single-ended S at one
// reference, in the version, format and unit asked for; or checks a file against every
// rule of the format and says what it holds.
#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "ReplaceFile.h"
#include "GlobalNames.h"
#include "outputFile.h"

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kBadInput = 1;  // IN cannot be read or breaks a rule
constexpr int kUsage = 2;
constexpr int kCannotWrite = 3;

const char kUsageText[] =
    "usage: brevo-touchstone IN OUT [name=value ...]\n"
    "       brevo-touchstone --check IN\n"
    "Reads the Touchstone file IN (Version 1.0, 1.1, 2.0 or 2.1; S, Y, Z, H or G data,\n"
    "mixed-mode or single-ended) and writes it to OUT as single-ended S-parameters (or Z\n"
    "or Y) at one reference, every number in the shortest form that reads back as the\n"
    "same double.\n"
    "  version=1     1 (Version 1.0 layout) or 2 (Version 2.0 keywords)\n"
    "  format=RI     RI, MA or DB\n"
    "  unit=Hz       Hz, kHz, MHz or GHz\n"
    "  R=50          the reference of every port, ohms; IN is renormalised to it\n"
    "  matrix=full   full, upper or lower (version=2 only; upper and lower only for a\n"
    "                reciprocal network: |Sij - Sji| within reciprocity_tolerance of\n"
    "                the larger at every point)\n"
    "  reciprocity_tolerance=1e-6\n"
    "                how far Sij and Sji may differ, relative, for upper and lower\n"
    "  order=12_21   the pair order of a 2-port in version=2: 12_21 or 21_12\n"
    "  parameter=S   S, or Z or Y worked out from the S-parameters at R (ohms and\n"
    "                siemens with version=2, normalised to R with version=1)\n"
    "Deviations the reader tolerates (no [End], a 2-port Version 2.x file without\n"
    "[Two-Port Data Order], per-port R on a Version 2.x option line) are read with a\n"
    "warning.\n"
    "--check IN prints what IN holds, one \"name: value\" a line, then every rule it\n"
    "breaks, one \"IN:LINE: rule\" a line; the tolerated deviations count there.\n"
    "Exit status: 0 OUT written (--check: IN breaks no rule); 1 IN cannot be read or\n"
    "breaks a rule; 2 usage; 3 OUT (--check: standard output) cannot be written, and\n"
    "OUT is left as it was.\n";

int usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "brevo-touchstone: %s\n", why.c_str());
  std::fputs(kUsageText, stderr);
  return kUsage;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return out;
}

std::string shortest(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// The port count a .sNp-style name gives (s, y, z, h or g; any case); 0 without one.
int portsInName(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return 0;
  const std::string ext = lower(std::string_view(path).substr(dot + 1));
  if (ext.size() < 3 || ext.size() > 8 || !std::strchr("syzhg", ext[0]) || ext.back() != 'p')
    return 0;
  int n = 0;
  for (std::size_t i = 1; i + 1 < ext.size(); ++i) {
    if (ext[i] < '0' || ext[i] > '9') return 0;
    n = n * 10 + (ext[i] - '0');
  }
  return n;
}

int convert(const std::string& in, const std::string& out, const TouchstoneWriteOptions& w) {
  if (w.version == 1 && w.matrixFormat != "Full")
    return usage("matrix=upper and matrix=lower need version=2");
  const TouchstoneFile file = readTouchstone(in, {w.reference, true});
  for (const TouchstoneProblem& p : file.info.deviations)
    std::fprintf(stderr, "warning: %s\n", file.message(p).c_str());
  if (!file.ok) {
    std::fprintf(stderr, "%s\n", file.message().c_str());
    return kBadInput;
  }
  if (w.matrixFormat != "Full") {
    if (const std::string why = nonReciprocal(file.set, w.reciprocityTolerance); !why.empty()) {
      std::fprintf(stderr,
                   "brevo-touchstone: %s: the data are not reciprocal to within the tolerance "
                   "(%s); matrix=%s "
                   "keeps one triangle, so %s is not written (reciprocity_tolerance=%g relative)\n",
                   in.c_str(), why.c_str(), lower(w.matrixFormat).c_str(), out.c_str(),
                   w.reciprocityTolerance);
      return kBadInput;
    }
  }
  if (!file.info.noise.empty())
    std::fprintf(stderr, "warning: %s: its %zu noise points are not written to %s\n", in.c_str(),
                 file.info.noise.size(), out.c_str());
  // A Version 1 reader takes the port count from the name: a file it would misread is
  // not written (every file written here passes its own --check).
  const int named = portsInName(out);
  if (w.version == 1 && named && named != file.set.Size())
    return usage(out + ": the name says " + std::to_string(named) + " ports but " + in + " holds " +
                 std::to_string(file.set.Size()) +
                 "; a Version 1 reader takes the port count from the name (name it .s" +
                 std::to_string(file.set.Size()) + "p, or write version=2)");
  const std::string text = formatTouchstone(file.set, w);
  const FileStatus written = replaceFileText(out, text);
  if (written.ok()) return kOk;
  sayNotWritten(stderr, "brevo-touchstone", out.c_str(), written);
  return kCannotWrite;
}

int sortLine(const TouchstoneProblem& p) {
  return p.line > 0 ? p.line : std::numeric_limits<int>::max();
}

// What the file holds, then every rule it breaks (the tolerated deviations too), by line;
// problems without a line concern the whole file and come last.
int check(const std::string& in) {
  const TouchstoneFile file = readTouchstone(in, {50.0, true});
  const TouchstoneInfo& info = file.info;
  if (file.ok) {
    std::string refs, modes;
    for (double r : info.references) refs += (refs.empty() ? "" : " ") + shortest(r);
    for (const std::string& m : info.mixedModeOrder) modes += (modes.empty() ? "" : " ") + m;
    std::printf(
        "version: %s\nports: %d\npoints: %d\nparameter: %c\nformat: %s\nunit: %s\n"
        "references: %s\nmatrix format: %s\ntwo-port order: %s\nmixed-mode order: %s\n"
        "noise points: %zu\ninformation lines: %zu\n",
        info.version.c_str(), info.ports, info.points, info.parameter, Format(info.dataFormat),
        info.unit.c_str(), refs.c_str(), info.matrixFormat.c_str(),
        info.twoPortOrder.empty() ? "none" : info.twoPortOrder.c_str(),
        modes.empty() ? "none" : modes.c_str(), info.noise.size(), info.information.size());
  }
  std::vector<TouchstoneProblem> problems = info.deviations;
  if (!file.ok) problems.push_back(file.error);
  std::stable_sort(problems.begin(), problems.end(),
                   [](const TouchstoneProblem& a, const TouchstoneProblem& b) {
                     return sortLine(a) < sortLine(b);
                   });
  for (const TouchstoneProblem& p : problems) std::printf("%s\n", file.message(p).c_str());
  if (const FileStatus written = finishOutput(stdout, false); !written.ok()) {
    sayNotWritten(stderr, "brevo-touchstone", "standard output", written);
    return kCannotWrite;
  }
  return problems.empty() ? kOk : kBadInput;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("brevo-touchstone %s\n", BREVO_VERSION);
    return kOk;
  }
  if (!args.empty() && args[0] == "--check") {
    if (args.size() != 2 || args[1].empty()) return usage("--check takes one file");
    return check(args[1]);
  }
  if (args.size() < 2 || args[0].empty() || args[1].empty()) return usage("IN and OUT are needed");
  TouchstoneWriteOptions settings;
  for (std::size_t a = 2; a < args.size(); ++a)
    if (const std::string why = setWriteOption(args[a], settings); !why.empty()) return usage(why);
  return convert(args[0], args[1], settings);
}
