// Warnings about results that look ordinary but are not: settings no signal can have,
// thru data that stop short of the band that counts, a closed eye, figures that print
// as nan or inf, a save base that was cut or saves nothing, and a first argument taken
// for an option.
#include <algorithm>
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

void warnAboutSettings(const RunGiven& given, RunIO& io) {
  const Settings& s = given.settings;
  if (s.PAM < 2)
    warn(io, "PAM=" + std::to_string(s.PAM) +
                 ": a signal needs at least 2 levels; the level factors (1/(PAM-1)) are not "
                 "finite, so the "
                 "amplitudes and noise figures that depend on them are not numbers (PAM=2 is NRZ, "
                 "PAM=4 four levels)");
  const std::string_view reader = s.touchstone_reader;
  if (!reader.empty() && reader != "standard" && reader != "long-standing")
    warn(io,
         "touchstone_reader=" + std::string(reader) +
             ": the readers are standard and long-standing; files are read the long-standing way");
  const double rate = s.data_rate;
  char text[400];
  // Outside every serial link there is; a rate without its unit ("53.125", or "53.125M",
  // where M is milli) lands far below.
  if (!(rate >= 100e6 && rate <= 1e12)) {
    std::snprintf(text, sizeof text,
                  "baud_rate=%g Bd is outside 100 MBd to 1 TBd: a unit is probably missing "
                  "(53.125G is 53.125 GBd; "
                  "m and M are milli, meg is mega)",
                  rate);
    warn(io, text);
    return;  // every bandwidth below is judged against the rate
  }
  // Filters orders of magnitude from the rate: a rise time in the wrong unit (30 taken in
  // unit intervals, not 30p) or a bandwidth in the wrong one.
  const struct {
    const char* filter;
    double riseValue, bandwidthValue;
    const char *rise, *bandwidth;
    double tau;
  } filters[] = {
      {"transmitter", s.tx_rise, s.tx_bandwidth, "tx_rise", "tx_bandwidth", given.derived.txTau},
      {"receiver", s.rx_rise, s.rx_bandwidth, "rx_rise", "rx_bandwidth", given.derived.rxTau},
      {"FEXT transmitter", s.tx_far_rise, s.tx_far_bandwidth, "tx_far_rise", "tx_far_bandwidth",
       given.derived.farTau},
      {"NEXT transmitter", s.tx_near_rise, s.tx_near_bandwidth, "tx_near_rise", "tx_near_bandwidth",
       given.derived.nearTau},
  };
  for (const auto& f : filters) {
    if (!(f.tau > 0)) continue;  // unlimited
    const double ratio = 1 / (f.tau * rate);
    if (ratio >= 0.1 && ratio <= 100) continue;
    const bool byRise = f.riseValue != 0;
    std::snprintf(text, sizeof text,
                  "%s=%g gives a %s bandwidth of %s, %.3g times the symbol rate: far from any real "
                  "filter (rise times "
                  "of 1 ms or more are taken in unit intervals, bandwidths of 100 or less as "
                  "fractions of the rate)",
                  byRise ? f.rise : f.bandwidth, byRise ? f.riseValue : f.bandwidthValue, f.filter,
                  gigahertz(1 / f.tau).c_str(), ratio);
    warn(io, text);
  }
  // A target BER of 0 or below already says that it has no target Q.
  if (s.target_BER > 0 && !(s.target_BER < 0.5)) {
    std::snprintf(
        text, sizeof text,
        "target_BER=%g: a target bit error ratio lies between 0 and 0.5; the target Q and the "
        "interference tolerance are not meaningful",
        s.target_BER);
    warn(io, text);
  }
}

void warnAboutThruBand(const RunGiven& given, RunIO& io, const Sparams& thru) {
  const double last = thru.fmax();
  const double nyquist = given.settings.data_rate / 2;
  const double receiver = given.derived.rxTau > 0 ? 1 / given.derived.rxTau : INFINITY;
  const std::string& name = given.thruList.front().name;
  const double step = thru.Fcount() > 1 ? thru.freqStep() : 0;
  const bool rateInRange =
      given.settings.data_rate >= 100e6 && given.settings.data_rate <= 1e12;  // else said already
  if (rateInRange && given.settings.data_rate < step) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "baud_rate=%g Bd is below the frequency step %s of the thru data of ",
                  given.settings.data_rate, gigahertz(step).c_str());
    warn(io, text + name + ": a unit is probably missing (53.125G is 53.125 GBd)");
  }
  if (last < nyquist)
    warn(io, "the thru data of " + name + " end at " + gigahertz(last) +
                 ", below the Nyquist frequency " + gigahertz(nyquist) +
                 ": the loss fit, the Nyquist gain and the noise above " + gigahertz(last) +
                 " are extrapolated from the points below");
  else if (last < receiver)
    warn(io, "the thru data of " + name + " end at " + gigahertz(last) +
                 ", below the receiver bandwidth " + gigahertz(receiver) +
                 ": the noise the receiver passes above " + gigahertz(last) +
                 " is extrapolated from the loss fit");
}

void warnAboutFigures(const RunGiven& given, RunIO& io, const ThruPoints& points,
                      const LossFit& lossFit, const PulseResults& pulse, const NoiseBudget& noise,
                      const CrosstalkNoise& crosstalk, double salz) {
  const NoiseBudget& n = noise;
  if (given.settings.PAM < 2) return;  // said once, with the reason
  const double totalNoise = std::sqrt(crosstalk.totalNoisePower);
  const double ratio = n.availableSignal / totalNoise;
  if (n.availableSignal < 0)
    warn(io, "available signal is " + millivolts(n.availableSignal) +
                 ": the eye is closed (the dibit peak times the signal is below the noise and "
                 "slicer allowances)");
  else if (ratio <= 0)
    warn(io, "S/N is " + std::to_string(ratio) + ": no margin at all");
  // Figures printed as nan or inf, with what makes them so.
  std::string why = "see the lines above";
  if (points.Sdd21.size() < 4) why = "the loss fit needs at least 4 thru points";
  for (const auto& z : points.Sdd21)
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
      why = "the thru file holds values that are not finite";
  const double q = Q(given.settings.target_BER, given.settings.PAM);
  struct Figure {
    const char* name;
    double value;
  };
  const Figure figures[] = {
      {"target Q", q},
      {"Nyquist gain", 20 * std::log10(lossFit.nyquistFitGain)},
      {"peak pulse", pulse.pulsePeak},
      {"peak dibit", pulse.dibitPeak},
      {"available signal", n.availableSignal},
      {"ILD noise", n.ildNoisePower},
      {"Channel noise", n.channelNoisePower},
      {"total noise", crosstalk.totalNoisePower},
      {"S/N", ratio},
      {"BER", BER(ratio, given.settings.PAM)},
  };
  std::string bad;
  for (const Figure& f : figures)
    if (!std::isfinite(f.value))
      bad += std::string(bad.empty() ? "" : ", ") + f.name + " " +
             (std::isnan(f.value) ? "nan" : "inf");
  if (!std::isfinite(q)) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "target_BER=%g gives no finite target Q: a target BER lies between 0 and 0.5",
                  given.settings.target_BER);
    warn(io, text);
  } else if (!bad.empty())
    warn(io, "printed as not a finite number: " + bad + " (" + why + ")");
  // A thru alone has no crosstalk to compare with: its Salz S/N is not a number by
  // nature, which the record's empty aggressor list says; that is an ordinary run.
  if (!std::isfinite(salz) && !crosstalk.aggressors.empty())
    warn(io, std::string("Salz S/N is ") + (std::isnan(salz) ? "nan" : "inf") + " (" + why + ")");
}

void warnAboutSaveBase(const RunGiven& given, RunIO& io) {
  const std::string saveFile = given.settings.save_file;
  if (saveFile.empty() || saveFile == given.saveBase) return;
  if (given.saveBase.empty()) {
    warn(io, "save_file=" + saveFile +
                 ": a base of 2 characters or fewer saves nothing; no side files are written");
    return;
  }
  // The cut of an extension of letters ("run.txt") is what a user means; a cut inside
  // a number ("ca_53.125G") or at a blank is not.
  const std::string rest = saveFile.substr(given.saveBase.size());
  // A '.' in a folder name ("/tmp/run.1a/out") cuts the folder, which is no extension.
  const bool extension = rest.size() >= 2 && rest[0] == '.' &&
                         std::isalpha(static_cast<unsigned char>(rest[1])) &&
                         rest.find_first_of(" \t/") == std::string::npos;
  if (extension) return;
  warn(io, "save_file=" + saveFile + ": the side files are named from \"" + given.saveBase +
               "\" (the text from the last '.' on is taken for an extension, and a blank ends the "
               "name)");
}

void warnAboutFirstArgument(RunIO& io) {
  const char* first = io.arguments[1].c_str();
  const char* option = std::strstr(first, "-c")   ? "-c"
                       : std::strstr(first, "-b") ? "-b"
                       : std::strstr(first, "-?") ? "-?"
                                                  : nullptr;
  if (!option || std::strcmp(first, option) == 0) return;
  const bool looksLikeInput = std::strchr(first, '=') || std::strchr(first, '.') ||
                              std::strchr(first, '/') || exists(first);
  if (!looksLikeInput) return;
  std::fprintf(io.standardError,
               "warning: the first argument %s holds \"%s\", so it was taken as that option (%s), "
               "not as %s; "
               "to run it, put an assignment first: Brevo PAM=2 %s ...\n",
               first, option,
               std::strcmp(option, "-?") == 0 ? "the help text" : "print the starter control file",
               std::strchr(first, '=') ? "an assignment" : "a file", first);
}

void warnAboutAggressor(const RunGiven& given, RunIO& io, const Sparams& thru,
                        const ThruPoints& points, const Sparams& a, const channelLine& entry,
                        char kind, const std::vector<std::complex<double>>& X) {
  const std::string what = std::string(kind == 'N' ? "NEXT" : "FEXT") + " aggressor " + entry.name;
  const double last = a.fmax();
  const double nyquist = given.settings.data_rate / 2;
  const double receiver = given.derived.rxTau > 0 ? 1 / given.derived.rxTau : INFINITY;
  if (last < nyquist)
    warn(io, "the data of " + what + " end at " + gigahertz(last) +
                 ", below the Nyquist frequency " + gigahertz(nyquist) + ": its crosstalk above " +
                 gigahertz(last) + " is missing from its ICN");
  else if (last < receiver)
    warn(io, "the data of " + what + " end at " + gigahertz(last) +
                 ", below the receiver bandwidth " + gigahertz(receiver) +
                 ": the crosstalk the receiver passes above " + gigahertz(last) +
                 " is missing from its ICN");
  // Its own points serve its ICN; the Salz S/N adds its coupled power to the thru's
  // points by index, which is right only on the same grid.
  bool sameGrid = a.Fcount() == thru.Fcount();
  for (int i = 0; sameGrid && i < a.Fcount(); ++i)
    sameGrid = std::fabs(a.Freq(i) - thru.Freq(i)) <= 1;
  if (!sameGrid) {
    char text[200];
    std::snprintf(
        text, sizeof text,
        " has another frequency grid than the thru (%d points to %s against %d points to %s)",
        a.Fcount(), gigahertz(last).c_str(), thru.Fcount(), gigahertz(thru.fmax()).c_str());
    warn(io, what + text +
                 ": its ICN is integrated on its own points, but the Salz S/N adds its coupled "
                 "power to the thru's "
                 "points by their index, not by frequency");
  }
  // A coupling as strong as a through path is probably a thru given as an aggressor.
  double xt = 0, tt = 0;
  int nx = 0, nt = 0;
  for (int i = 0; i < static_cast<int>(X.size()) && i < a.Fcount() && a.Freq(i) <= nyquist;
       ++i, ++nx)
    xt += std::norm(X[i]);
  const std::vector<std::complex<double>>& T = points.Sdd21;
  for (int i = 0; i < static_cast<int>(T.size()) && thru.Freq(i) <= nyquist; ++i, ++nt)
    tt += std::norm(T[i]);
  if (nx > 0 && nt > 0 && tt > 0) {
    const double ratio = 10 * std::log10((xt / nx) / (tt / nt));
    if (ratio > -6) {
      char text[200];
      std::snprintf(text, sizeof text,
                    ": its transfer is %.1f dB from the thru's up to the Nyquist frequency (RMS), "
                    "as strong as a "
                    "through path; is it a thru given by mistake, or are its ports those of its "
                    "through path?",
                    ratio);
      warn(io, what + text);
    }
  }
}

void warnAboutThruPorts(const RunGiven& given, RunIO& io, const Sparams& thru) {
  const Sparams& t = thru;
  const int a = given.inP, b = given.inM, c = given.outP, d = given.outM;
  if (t.Size() != 4 || a == 0 || b == 0 || c == 0 || d == 0) return;
  // The lowest points above 0 Hz, where a through path has hardly any loss.
  std::vector<int> points;
  for (int k = 0; k < t.Fcount() && points.size() < 5; ++k)
    if (t.Freq(k) > 0) points.push_back(k);
  if (points.empty()) return;
  auto line = [&](int p, int q) {
    double sum = 0;
    for (int k : points) sum += (std::abs(t.Value(k, p, q)) + std::abs(t.Value(k, q, p))) / 2;
    return sum / static_cast<double>(points.size());
  };
  // The other two ways of pairing four ports into two lines. Which end of a line is its
  // input the magnitudes cannot tell; the usual numbering puts the lower port of each
  // line at its input, and so does the suggestion.
  struct Pairing {
    double through;
    int ports[4];
  };
  auto pairing = [&](int p1, int q1, int p2, int q2) {
    int in1 = std::min(p1, q1), out1 = std::max(p1, q1), in2 = std::min(p2, q2),
        out2 = std::max(p2, q2);
    if (in2 < in1) std::swap(in1, in2), std::swap(out1, out2);
    return Pairing{(line(p1, q1) + line(p2, q2)) / 2, {in1, in2, out1, out2}};
  };
  const double taken = (line(a, c) + line(b, d)) / 2;
  Pairing best = pairing(a, b, c, d);
  if (const Pairing other = pairing(a, d, b, c); other.through > best.through) best = other;
  if (!(best.through >= 0.5 && taken < best.through / 2)) return;
  char text[400];
  std::snprintf(text, sizeof text,
                "the ports %X %X => %X %X of the thru carry a mean |S| of %.3f at its lowest "
                "frequencies, where "
                "%X %X => %X %X carry %.3f: the data suggest Thru=\"%s %d %d %d %d\"",
                a, b, c, d, taken, best.ports[0], best.ports[1], best.ports[2], best.ports[3],
                best.through, given.thruList.front().name.c_str(), best.ports[0], best.ports[1],
                best.ports[2], best.ports[3]);
  warn(io, text);
}

void warnAboutHelpWords(const RunIO& io) {
  for (std::size_t i = 1; i < io.arguments.size(); ++i) {
    const std::string& arg = io.arguments[i];
    if (arg == "--help" || arg == "-help" || arg == "-h" || arg == "--version" ||
        arg == "-version" || arg == "-V")
      std::fprintf(io.standardError,
                   "warning: %s is taken as a control file name: Brevo -? prints the help text and "
                   "the version, "
                   "Brevo -c the starter control file\n",
                   arg.c_str());
  }
}
