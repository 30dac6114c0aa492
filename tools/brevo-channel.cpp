// brevo-channel: writes a synthetic lane (a differential through channel and its NEXT
// and FEXT aggressors) as Touchstone 4-port files, from name=value options.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "SyntheticChannel.h"
#include "equal.h"

namespace {

const char kUsage[] =
    "usage: brevo-channel [name=value ...]\n"
    "Writes BASE_thru.s4p (differential pair, input ports 1,3 => output ports 2,4) and\n"
    "BASE_next<k>.s4p / BASE_fext<k>.s4p aggressors (aggressor in on 1,3, victim out on\n"
    "2,4), all on one frequency grid. Numbers take engineering suffixes as in control\n"
    "files (a f p n u m k meg g t; m is milli, meg is mega).\n"
    "\n"
    "  out=lane              base name of the files (may include a folder)\n"
    "  rate=25.78125g        symbol rate in Bd; the loss is set at rate/2\n"
    "  loss=25               differential insertion loss at rate/2, dB\n"
    "  length=300m           line length, metres\n"
    "  er=3.7                effective relative permittivity (delay = length*sqrt(er)/c)\n"
    "  zdiff=90              differential impedance of the pair, ohms (ports are 2 x 50)\n"
    "  zcomm=30              common-mode impedance of the pair, ohms\n"
    "  conductor=0.4         share of the Nyquist loss from the conductor (sqrt f) term;\n"
    "                        the rest is dielectric (grows with f)\n"
    "  via=80f               shunt capacitance of each line at both ends, farads\n"
    "  connector=50f         shunt capacitance of a mid-line connector (0: none)\n"
    "  connector_at=0.37     its position as a fraction of the length\n"
    "  next=-40,-46          NEXT aggressors: differential level at high frequency, dB,\n"
    "                        one file per value (empty: none)\n"
    "  fext=-30,-36          FEXT aggressors: differential level relative to the thru\n"
    "                        at rate/2, dB, one file per value (empty: none)\n"
    "  fstart=25meg fstop=50g fstep=25meg   frequency grid, Hz\n"
    "  format=DB             DB, MA or RI\n"
    "  unit=MHz              Hz, kHz, MHz or GHz\n"
    "  value_format=...      printf format of one value pair (two doubles, own blanks);\n"
    "                        default by format: DB \"%.3f %.2f \", MA \"%.5e %.3f \",\n"
    "                        RI \"%.6e %.6e \"\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 bad options.\n";

// A number with an optional engineering suffix; false when the text holds no number.
bool readNumber(const char* text, double& value) {
  char* end = nullptr;
  std::strtod(text, &end);
  if (end == text) return false;
  value = eng_strtod(text);
  return true;
}

bool readList(const char* text, std::vector<double>& values) {
  values.clear();
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p == ',' || *p == '\0') {
      if (!item.empty()) {
        double v = 0;
        if (!readNumber(item.c_str(), v)) return false;
        values.push_back(v);
      } else if (*p == ',') {
        return false;  // an empty item between commas
      }
      item.clear();
      if (*p == '\0') return true;
    } else {
      item.push_back(*p);
    }
  }
}

// Options that set one number, as a table: name and where its value goes.
struct NumberOption {
  const char* name;
  double LaneParams::*field;
};
constexpr NumberOption kNumbers[] = {
    {"rate", &LaneParams::rate},
    {"loss", &LaneParams::lossDb},
    {"length", &LaneParams::length},
    {"er", &LaneParams::er},
    {"zdiff", &LaneParams::zdiff},
    {"zcomm", &LaneParams::zcomm},
    {"conductor", &LaneParams::conductorShare},
    {"via", &LaneParams::via},
    {"connector", &LaneParams::connector},
    {"connector_at", &LaneParams::connectorAt},
    {"fstart", &LaneParams::fstart},
    {"fstop", &LaneParams::fstop},
    {"fstep", &LaneParams::fstep},
};

struct FormatName {
  const char* name;
  format fmt;
};
constexpr FormatName kFormats[] = {{"DB", DB}, {"MA", MA}, {"RI", RI}};

// A printf format for one pair must convert exactly two doubles and nothing else.
bool pairFormatIsSafe(const std::string& f) {
  int conversions = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%') continue;
    if (i + 1 < f.size() && f[i + 1] == '%') {
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < f.size() && std::strchr("-+ #0123456789.", f[j])) ++j;
    if (j >= f.size() || !std::strchr("eEfFgG", f[j])) return false;
    ++conversions;
    i = j;
  }
  return conversions == 2;
}

int bad(const char* what, const char* arg) {
  std::fprintf(stderr, "brevo-channel: %s: %s\n\n%s", what, arg, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  LaneParams params;
  std::string base = "lane", unit = "MHz", valueFormat;
  format fmt = DB;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "-?") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("brevo-channel %s\n", BREVO_VERSION);
      return 0;
    }
    const std::size_t eq = arg.find('=');
    if (eq == std::string_view::npos) return bad("not a name=value option", argv[i]);
    const std::string name(arg.substr(0, eq));
    const char* value = argv[i] + eq + 1;

    bool known = false;
    for (const NumberOption& o : kNumbers) {
      if (name != o.name) continue;
      known = true;
      if (!readNumber(value, params.*o.field)) return bad("not a number", argv[i]);
    }
    if (known) continue;
    if (name == "out") {
      if (!*value) return bad("empty base name", argv[i]);
      base = value;
    } else if (name == "next" || name == "fext") {
      if (!readList(value, name == "next" ? params.nextDb : params.fextDb))
        return bad("not a comma-separated list of numbers", argv[i]);
    } else if (name == "format") {
      bool found = false;
      for (const FormatName& f : kFormats)
        if (value == std::string_view(f.name)) fmt = f.fmt, found = true;
      if (!found) return bad("format must be DB, MA or RI", argv[i]);
    } else if (name == "unit") {
      unit = value;
      if (unit != "Hz" && unit != "kHz" && unit != "MHz" && unit != "GHz")
        return bad("unit must be Hz, kHz, MHz or GHz", argv[i]);
    } else if (name == "value_format") {
      valueFormat = value;
      if (!pairFormatIsSafe(valueFormat))
        return bad("value_format must convert exactly two doubles (e, f or g)", argv[i]);
    } else {
      return bad("unknown option", argv[i]);
    }
  }
  if (valueFormat.empty()) valueFormat = defaultValueFormat(fmt);

  const ChannelBuild build = buildChannels(params, base);
  if (!build) {
    std::fprintf(stderr, "brevo-channel: %s\n", build.message.c_str());
    return 2;
  }
  if (writeChannels(build.value, fmt, valueFormat.c_str(), unit, stderr)) return 1;

  std::printf("wrote %s (%d points, %.6g dB differential loss at %.10g Hz)\n",
              build.value.thru.fileName().c_str(), build.value.thru.Fcount(),
              modelLossDb(params, build.value.nyquistNepers, 0.5 * params.rate), 0.5 * params.rate);
  for (const Sparams& s : build.value.next) std::printf("wrote %s\n", s.fileName().c_str());
  for (const Sparams& s : build.value.fext) std::printf("wrote %s\n", s.fileName().c_str());
  return 0;
}
