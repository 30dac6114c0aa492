// Warnings about results that look ordinary but are not: settings no signal can have,
// thru data that stop short of the band that counts, a closed eye, figures that print
// as nan or inf, a save base that was cut or saves nothing, and a first argument taken
// for an option.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "channelModel.h"
#include "entry.h"
#include "stages.h"

namespace {

std::string gigahertz(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g GHz", hz / 1e9);
  return text;
}

std::string millivolts(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f mV", 1000 * v);
  return text;
}

bool exists(const char* name) {
  struct stat st;
  return stat(name, &st) == 0;
}

}  // namespace

void warnAboutSettings(RunState& rs) {
  if (rs.settings.PAM < 2)
    warn(rs, "PAM=" + std::to_string(rs.settings.PAM) +
                 ": a signal needs at least 2 levels; the level factors (1/(PAM-1)) are not finite, so the "
                 "amplitudes and noise figures that depend on them are not numbers (PAM=2 is NRZ, PAM=4 four levels)");
}

void warnAboutThruBand(RunState& rs) {
  const double last = rs.thru.fmax();
  const double nyquist = rs.settings.data_rate / 2;
  const double receiver = rs.derived.rxTau > 0 ? 1 / rs.derived.rxTau : INFINITY;
  const std::string& name = rs.thruList.front().name;
  if (last < nyquist)
    warn(rs, "the thru data of " + name + " end at " + gigahertz(last) + ", below the Nyquist frequency " +
                 gigahertz(nyquist) + ": the loss fit, the Nyquist gain and the noise above " + gigahertz(last) +
                 " are extrapolated from the points below");
  else if (last < receiver)
    warn(rs, "the thru data of " + name + " end at " + gigahertz(last) + ", below the receiver bandwidth " +
                 gigahertz(receiver) + ": the noise the receiver passes above " + gigahertz(last) +
                 " is extrapolated from the loss fit");
}

void warnAboutFigures(RunState& rs, double salz) {
  const NoiseBudget& n = rs.noise;
  if (rs.settings.PAM < 2) return;  // said once, with the reason
  const double totalNoise = std::sqrt(n.totalNoisePower);
  const double ratio = n.availableSignal / totalNoise;
  if (n.availableSignal < 0)
    warn(rs, "available signal is " + millivolts(n.availableSignal) +
                 ": the eye is closed (the dibit peak times the signal is below the noise and slicer allowances)");
  else if (ratio <= 0)
    warn(rs, "S/N is " + std::to_string(ratio) + ": no margin at all");
  // Figures printed as nan or inf, with what makes them so.
  std::string why = "see the lines above";
  if (rs.points.Sdd21.size() < 4) why = "the loss fit needs at least 4 thru points";
  for (const auto& z : rs.points.Sdd21)
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag())) why = "the thru file holds values that are not finite";
  const double q = Q(rs.settings.target_BER, rs.settings.PAM);
  struct Figure {
    const char* name;
    double value;
  };
  const Figure figures[] = {
      {"target Q", q},
      {"Nyquist gain", 20 * std::log10(rs.points.nyquistFitGain)},
      {"peak pulse", rs.pulse.pulsePeak},
      {"peak dibit", rs.pulse.dibitPeak},
      {"available signal", n.availableSignal},
      {"ILD noise", n.ildNoisePower},
      {"Channel noise", n.channelNoisePower},
      {"total noise", n.totalNoisePower},
      {"S/N", ratio},
      {"BER", BER(ratio, rs.settings.PAM)},
  };
  std::string bad;
  for (const Figure& f : figures)
    if (!std::isfinite(f.value)) bad += std::string(bad.empty() ? "" : ", ") + f.name + " " + (std::isnan(f.value) ? "nan" : "inf");
  if (!std::isfinite(q)) {
    char text[160];
    std::snprintf(text, sizeof text, "target_BER=%g gives no finite target Q: a target BER lies between 0 and 0.5",
                  rs.settings.target_BER);
    warn(rs, text);
  }
  else if (!bad.empty())
    warn(rs, "printed as not a finite number: " + bad + " (" + why + ")");
  if (!std::isfinite(salz)) {
    if (n.aggressors.empty() && std::isnan(salz) && rs.thru.Fcount() > 0 && rs.thru.Freq(0) == 0)
      warn(rs, "Salz S/N is nan: with no aggressor the crosstalk power is 0, and the 0 Hz point adds its width (0 Hz) "
               "times log(1 + |Sdd21|^2 / 0) (infinite); the figure needs at least one aggressor");
    else if (n.aggressors.empty())
      warn(rs, std::string("Salz S/N is ") + (std::isnan(salz) ? "nan" : "inf") +
                   ": with no aggressor there is no crosstalk to compare the thru with; the figure needs at least one aggressor");
    else
      warn(rs, std::string("Salz S/N is ") + (std::isnan(salz) ? "nan" : "inf") + " (" + why + ")");
  }
}

void warnAboutSaveBase(RunState& rs) {
  const std::string given = rs.settings.save_file;
  if (given.empty() || given == rs.saveBase) return;
  if (rs.saveBase.empty()) {
    warn(rs, "save_file=" + given + ": a base of 2 characters or fewer saves nothing; no side files are written");
    return;
  }
  // The cut of an extension of letters ("run.txt") is what a user means; a cut inside
  // a number ("ca_53.125G") or at a blank is not.
  const std::string rest = given.substr(rs.saveBase.size());
  const bool extension = rest.size() >= 2 && rest[0] == '.' && std::isalpha(static_cast<unsigned char>(rest[1])) &&
                         rest.find_first_of(" \t") == std::string::npos;
  if (extension) return;
  warn(rs, "save_file=" + given + ": the side files are named from \"" + rs.saveBase +
               "\" (the text from the last '.' on is taken for an extension, and a blank ends the name)");
}

void warnAboutFirstArgument(RunState& rs) {
  const char* first = rs.arguments[1].c_str();
  const char* option = std::strstr(first, "-c")   ? "-c"
                       : std::strstr(first, "-b") ? "-b"
                       : std::strstr(first, "-?") ? "-?"
                                                  : nullptr;
  if (!option || std::strcmp(first, option) == 0) return;
  const bool looksLikeInput = std::strchr(first, '=') || std::strchr(first, '.') || std::strchr(first, '/') || exists(first);
  if (!looksLikeInput) return;
  std::fprintf(rs.standardError,
               "warning: the first argument %s holds \"%s\", so it was taken as that option (%s), not as %s; "
               "to run it, put an assignment first: Brevo PAM=2 %s ...\n",
               first, option, std::strcmp(option, "-?") == 0 ? "the help text" : "print the starter control file",
               std::strchr(first, '=') ? "an assignment" : "a file", first);
}
