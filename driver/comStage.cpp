// The Channel Operating Margin of a run that names a preset: the channels kept from the
// files the run reads anyway, the preset's values checked, the computation, and the COM
// block after the report's last line.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "presets.h"
#include "stages.h"

namespace {

using brevo::com::CaseResult;

// Where each com_ keyword got its value since the preset was applied, with its text.
std::vector<brevo::com::PresetValue> presetValues(const RunGiven& given, const RunIO& io) {
  const auto& keywords = brevo::com::presetKeywords();
  std::vector<brevo::com::PresetValue> values;
  for (std::size_t k = 0; k < keywords.size() && k < given.comTexts.size(); ++k) {
    brevo::com::PresetValue& v = values.emplace_back();
    v.name = keywords[k].name;
    v.text = given.comTexts[k].data();
    for (const auto& [name, origin] : io.origins)
      if (name == v.name) v.where = originText(origin);
  }
  return values;
}

// "12" or "12+1.8": a case's segment lengths in millimetres.
std::string lengths(const std::vector<double>& mm) {
  std::string s;
  for (double v : mm) {
    char t[32];
    std::snprintf(t, sizeof t, "%s%g", s.empty() ? "" : "+", v);
    s += t;
  }
  return s;
}

std::string numbers(const std::vector<double>& values, const char* format) {
  std::string s;
  for (double v : values) {
    char t[32];
    std::snprintf(t, sizeof t, format, v);
    s += " ";
    s += t;
  }
  return s;
}

// The two lines of one package case.
void printCase(FILE* out, int number, const brevo::com::PackageCase& pkg, const CaseResult& c,
               bool twoStage) {
  std::fprintf(
      out, "COM case %d (z_p TX %s mm): COM %8.3f dB   FOM %8.3f dB   As %9.3f mV   Ani %9.3f mV\n",
      number, lengths(pkg.tx).c_str(), c.com, c.fom, 1000 * c.As, 1000 * c.Ani);
  const int pre = c.txCursor, post = static_cast<int>(c.txTaps.size()) - 1 - c.txCursor;
  std::fprintf(out, "COM case %d equaliser: Tx c(%d..%d)%s   CTLE gDC %.1f dB", number, -pre, post,
               numbers(c.txTaps, "%.3f").c_str(), c.gDC);
  if (twoStage) std::fprintf(out, " gDC2 %.1f dB", c.gDC2);
  std::fprintf(out, "   DFE b(1..%zu)%s\n", c.dfeTaps.size(), numbers(c.dfeTaps, "%.3f").c_str());
  if (!c.rxffeTaps.empty()) {
    const int rpre = c.rxffeCursor,
              rpost = static_cast<int>(c.rxffeTaps.size()) - 1 - c.rxffeCursor;
    std::fprintf(out, "COM case %d receiver FFE: w(%d..%d)%s\n", number, -rpre, rpost,
                 numbers(c.rxffeTaps, "%.3f").c_str());
  }
}

// Said when the S/N analysis and the preset describe different links.
void warnAboutTwoLinks(const RunGiven& given, RunIO& io, const brevo::com::Params& p) {
  const Settings& s = given.settings;
  const bool rate = std::fabs(s.data_rate - p.fb) > 1e-9 * p.fb;
  if (!rate && s.PAM == p.L) return;
  char text[400];
  std::snprintf(text, sizeof text,
                "the S/N report is for baud_rate=%.10g GBd, PAM=%d and the COM block for "
                "com_f_b=%.10g GBd, com_L=%d: they "
                "describe different links (a preset sets both; set both again after it)",
                s.data_rate / 1e9, s.PAM, p.fb / 1e9, p.L);
  warn(io, text);
}

// The reason COM cannot be computed, if it cannot; params filled when it can.
brevo::Result<void> prepare(const RunGiven& given, RunIO& io, const ComChannels& gathered,
                            ComRun& c) {
  if (!given.com.error.empty()) return brevo::failure(given.com.error);
  brevo::Result<brevo::com::PresetReading> reading = readComPreset(given, io);
  c.problems = std::move(reading.value.problems);
  for (const std::string& e : c.problems) std::fprintf(io.log, "com: %s\n", e.c_str());
  if (!reading) {
    const std::size_t more = c.problems.size() - 1;
    return brevo::failure(c.problems.front() +
                          (more ? " (and " + std::to_string(more) + " more problem" +
                                      (more > 1 ? "s" : "") + " on the log)"
                                : ""));
  }
  c.params = std::move(reading.value.params);
  c.params.preset = given.com.preset;
  c.params.portOrder[0] = given.inP;
  c.params.portOrder[1] = given.inM;
  c.params.portOrder[2] = given.outP;
  c.params.portOrder[3] = given.outM;
  if (c.params.cases.empty()) return brevo::failure("the preset selects no package case");
  if (gathered.channels.empty() || gathered.channels.front().kind != brevo::com::ChannelKind::thru)
    return brevo::failure("the thru's differential parameters could not be formed");
  warnAboutTwoLinks(given, io, c.params);
  return {};
}

}  // namespace

brevo::Result<brevo::com::PresetReading> readComPreset(const RunGiven& given, const RunIO& io) {
  return brevo::com::readPresetValues(presetValues(given, io), "preset " + given.com.preset);
}

void printComBlock(FILE* out, const ComRun& c) {
  if (!c.reason.empty()) {
    std::fprintf(out, "COM unavailable: %s\n", c.reason.c_str());
    return;
  }
  const brevo::com::Margins& r = c.outcome.value;
  for (std::size_t k = 0; k < r.cases.size() && k < c.params.cases.size(); ++k)
    printCase(out, static_cast<int>(k) + 1, c.params.cases[k], r.cases[k], c.params.twoStage);
  std::fprintf(out, "COM %.3f dB %s\n", r.com, r.pass ? "pass" : "fail");
}

void keepComChannel(const RunGiven& given, ComChannels& com, const Sparams& set,
                    const std::string& name, brevo::com::ChannelKind kind, int inP, int inM,
                    int outP, int outM) {
  if (!given.com.requested) return;
  brevo::com::Channel ch;
  ch.name = name;
  ch.kind = kind;
  ch.sdd21 = set.aParam(inP, outP, inM, outM, 0, 0, nullptr);
  ch.sdd12 = set.aParam(outP, inP, outM, inM, 0, 0, nullptr);
  ch.sdd11 = set.aParam(inP, inP, inM, inM, 0, 0, nullptr);
  ch.sdd22 = set.aParam(outP, outP, outM, outM, 0, 0, nullptr);
  const auto n = static_cast<std::size_t>(set.Fcount());
  if (n == 0 || ch.sdd21.size() != n || ch.sdd12.size() != n || ch.sdd11.size() != n ||
      ch.sdd22.size() != n) {
    com.leftOut.push_back(name);
    return;
  }
  ch.f.reserve(n);
  for (std::size_t k = 0; k < n; ++k) ch.f.push_back(set.Freq(static_cast<int>(k)));
  com.channels.push_back(std::move(ch));
}

void comStage(const RunGiven& given, RunIO& io, ComChannels& gathered, ComRun& com) {
  ComRun& c = com;
  c.reached = true;
  c.reason = prepare(given, io, gathered, c).message;
  for (const std::string& name : gathered.leftOut)
    warn(io, "COM leaves out " + name +
                 ": its differential parameters could not be formed on its points");
  if (c.reason.empty()) {
    int next = 0, fext = 0;
    for (const brevo::com::Channel& ch : gathered.channels)
      next += ch.kind == brevo::com::ChannelKind::next,
          fext += ch.kind == brevo::com::ChannelKind::fext;
    std::fprintf(io.log,
                 "COM with preset %s (%s): %s convention, %s search, %zu package case%s; the thru, "
                 "%d NEXT, %d FEXT\n",
                 given.com.preset.c_str(), given.com.path.c_str(),
                 c.params.convention == brevo::com::Convention::reference ? "reference" : "ieee",
                 c.params.search == brevo::com::Search::exhaustive ? "exhaustive" : "local",
                 c.params.cases.size(), c.params.cases.size() == 1 ? "" : "s", next, fext);
    c.outcome = brevo::com::computeCom(c.params, gathered.channels);
    for (const std::string& line : c.outcome.value.log) std::fprintf(io.log, "%s\n", line.c_str());
    for (const std::string& w : c.outcome.value.warnings) warn(io, w);
    if (!c.outcome)
      c.reason = c.outcome.message.empty() ? "the computation gave no reason" : c.outcome.message;
    else if (c.outcome.value.cases.size() != c.params.cases.size())
      c.reason = "the computation gave " + std::to_string(c.outcome.value.cases.size()) +
                 " package cases for " + std::to_string(c.params.cases.size());
  }
  gathered.channels.clear();
  gathered.channels.shrink_to_fit();
  printComBlock(io.result, c);
}

void warnAboutComKeywords(RunIO& io) {
  // Nothing to say when COM is on, or was turned off by com= on purpose.
  for (const auto& [name, origin] : io.origins)
    if (name == "com") return;
  for (const auto& [name, origin] : io.origins)
    if (name.starts_with("com_")) {
      warn(io,
           name + " (" + originText(origin) +
               ") and any other com_ keyword do nothing while com names no preset (com=kr4, say)");
      return;
    }
}
