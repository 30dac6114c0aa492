// The run record: one JSON file, named by the summary setting, that says what a run was
// given, where each setting came from, what it read, what it skipped and every figure its
// report printed, so that programs need not read the report's text. The schema the build
// makes from doc/run-record.schema.json.in and the figure table (figures.toml) describes it.
//
// Numbers are written as JSON numbers; a value that is not finite, which JSON has no number
// for, is written as the string "nan", "inf" or "-inf" in its place. A figure the report did
// not print (the run ended before its line) is null.
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "channelModel.h"
#include "figureTable.h"
#include "outputFile.h"
#include "presets.h"
#include "stages.h"
#include "variants.h"

namespace {

using json = nlohmann::ordered_json;  // the keys in the order written here

json number(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return v;
}

json quantity(double v, const char* unit) { return {{"value", number(v)}, {"unit", unit}}; }

json ports(int inP, int inM, int outP, int outM) {
  return {{"inP", inP}, {"inM", inM}, {"outP", outP}, {"outM", outM}};
}

const char* kindName(char kind) { return kind == 'N' ? "NEXT" : "FEXT"; }

const variable_def* keyword(const RunState& rs, const std::string& name) {
  for (const variable_def* n = rs.given.table.get(); n && n->next; n = n->next.get())
    if (n->address && n->name == name) return n;
  return nullptr;
}

// Where the setting behind k got its final value: the latest assignment to any of its
// names (data_rate and baud_rate, say), else the default.
json originOf(const RunState& rs, const variable_def& k) {
  const RunIO::Origin* latest = nullptr;
  for (const auto& [name, origin] : rs.io.origins) {
    const variable_def* n = keyword(rs, name);
    if (!n || n->address != k.address) continue;
    if (!latest || origin.sequence > latest->sequence) latest = &origin;
  }
  if (!latest) return {{"source", "default"}};
  return {{"source", latest->source}, {"line", latest->line}};
}

json valueOf(const RunState& rs, const variable_def& k) {
  switch (k.type) {
    case 'x':
    case 'i':
      return *static_cast<const int*>(k.address);
    case 'e':
      return number(*static_cast<const double*>(k.address));
    default: {
      const char* text = static_cast<const char*>(k.address);
      for (const auto& [storage, taken] : rs.io.takenTexts)
        if (storage == text && text[0] == '\0') return taken;  // a channel line or a stream's file
      return text;
    }
  }
}

// Every registered keyword in table order, with its type, its final value (after the
// derivation: pTx and pRx in hertz, g0Tx and g0Rx from a resistance error) and its origin.
json keywords(const RunState& rs) {
  json all = json::object();
  for (const variable_def* n = rs.given.table.get(); n && n->next; n = n->next.get()) {
    if (!n->address) continue;  // a user's own text variable, no keyword
    const char* type = n->type == 'x'   ? "hexadecimal"
                       : n->type == 'i' ? "integer"
                       : n->type == 'e' ? "number"
                                        : "text";
    all[n->name] = {{"type", type}, {"value", valueOf(rs, *n)}, {"origin", originOf(rs, *n)}};
  }
  return all;
}

json derived(const Derived& d) {
  return {{"UI", quantity(d.UI, "s")},
          {"pam_step", quantity(d.pamStep, "ratio")},
          {"pam_power", quantity(d.pamPower, "ratio")},
          {"tx_bandwidth", quantity(1 / d.txTau, "Hz")},
          {"rx_bandwidth", quantity(1 / d.rxTau, "Hz")},
          {"tx_near_bandwidth", quantity(1 / d.nearTau, "Hz")},
          {"tx_far_bandwidth", quantity(1 / d.farTau, "Hz")}};
}

json thru(const RunState& rs, bool selected) {
  if (rs.given.thruList.empty()) return nullptr;
  json t = {{"file", rs.given.thruList.front().name},
            {"ports", selected ? ports(rs.given.inP, rs.given.inM, rs.given.outP, rs.given.outM)
                               : json(nullptr)},
            {"reading", rs.thru.reading.empty() ? json(nullptr) : json(rs.thru.reading)},
            {"points", nullptr},
            {"first_frequency", nullptr},
            {"last_frequency", nullptr}};
  if (const int n = rs.thru.set.Fcount(); n > 0) {
    t["points"] = n;
    t["first_frequency"] = quantity(rs.thru.set.Freq(0), "Hz");
    t["last_frequency"] = quantity(rs.thru.set.Freq(n - 1), "Hz");
  }
  return t;
}

json lossFit(const RunState& rs) {
  const char* names[4] = {"a0", "a1", "a2", "a4"};
  const char* units[4] = {"ratio", "1/sqrt(Hz)", "1/Hz", "1/Hz^2"};
  json fit = json::object();
  for (int k = 0; k < 4; ++k) {
    const std::complex<double> a = rs.lossFit.fitCoef[k];
    fit[names[k]] = {{"re", number(a.real())}, {"im", number(a.imag())}, {"unit", units[k]}};
  }
  const FittedBand band = fittedBand(rs.given, rs.thru.set);
  fit["band"] = {
      {"from", quantity(band.from, "Hz")}, {"to", quantity(band.to, "Hz")}, {"limit", band.limit}};
  return fit;
}

// The time axis of the short pulse, dibit and fitted pulse (the .wv1 columns).
json shortWaveforms(const RunState& rs) {
  const double ui = rs.given.derived.UI;
  return {{"points", pulsePoints},
          {"first", quantity(rs.pulse.groupDelay - kLeadUI * ui, "s")},
          {"step", quantity(kSampleUI * ui, "s")},
          {"first_UI_after_delay", -kLeadUI},
          {"step_UI", kSampleUI}};
}

// A figure's value in its unit of the figure table (1 or 0 for a yes-or-no figure), none
// when the report leaves its line out though the run got that far.
std::optional<double> figureValue(const RunState& rs, Figure figure) {
  const Settings& s = rs.given.settings;
  const NoiseBudget& n = rs.noise;
  const MeritFigures& m = rs.merit;
  switch (figure) {
    case Figure::data_rate:
      return s.data_rate;
    case Figure::peak_signal:
      return s.signal * 1000;
    case Figure::target_BER:
      return s.target_BER;
    case Figure::target_Q:
      return -Q(s.target_BER, s.PAM);
    case Figure::tx_bandwidth:
      return 1 / rs.given.derived.txTau;
    case Figure::rx_bandwidth:
      return 1 / rs.given.derived.rxTau;
    case Figure::nyquist_gain:
      return 20 * std::log10(rs.lossFit.nyquistFitGain);
    case Figure::peak_pulse:
      return rs.pulse.pulsePeak;
    case Figure::peak_dibit:
      return rs.pulse.dibitPeak;
    case Figure::base_eye:
      return 1000 * s.signal * rs.pulse.dibitPeak;
    case Figure::available_signal:
      return 1000 * n.availableSignal;
    case Figure::implementation_noise:
      return 1000 * n.implementationNoise;
    case Figure::ild_noise:
      return 1000 * std::sqrt(n.ildNoisePower);
    // The line saying that most of the ILD noise lies below this frequency, when printed.
    case Figure::low_frequency_ild:
      if (rs.lossFit.lowFreqIldIndex == 0) return std::nullopt;
      return rs.thru.set.Freq(rs.lossFit.lowFreqIldIndex);
    case Figure::tx_reflection_noise:
      return 1000 * std::sqrt(n.rrTxNoisePower);
    case Figure::rx_reflection_noise:
      return 1000 * std::sqrt(n.rrRxNoisePower);
    case Figure::txrx_reflection_noise:
      return 1000 * std::sqrt(n.rrTxRxNoisePower);
    case Figure::channel_noise:
      return 1000 * std::sqrt(n.channelNoisePower);
    case Figure::total_icn:
      return 1000 * m.totalIcn;
    case Figure::total_noise:
      return 1000 * m.totalNoise;
    case Figure::signal_to_noise:
      return m.signalToNoise;
    case Figure::BER:
      return m.ber;
    case Figure::interference_tolerance:
      return 1000 * m.tolerance;
    case Figure::salz_signal_to_noise:
      return m.salz;
    case Figure::flipped:
      return rs.pulse.flipped ? 1 : 0;
  }
  return std::nullopt;
}

// Every figure line of the report in report order (driver/figures.toml), null where the run
// ended before it or the report has no such line.
json figures(const RunState& rs, const std::function<bool(Stage)>& done) {
  json f = json::object();
  for (const FigureRow& row : kFigureRows) {
    const std::optional<double> v = done(row.after) ? figureValue(rs, row.figure) : std::nullopt;
    f[row.key] = !v ? json(nullptr) : row.unit ? quantity(*v, row.unit) : json(*v != 0);
  }
  return f;
}

// The best equaliser settings of a case, best first: the Tx taps, the CTLE gains (gDC2
// null for a one-stage CTLE) and the FOM the search gave each, in dB.
json topCandidates(const std::vector<brevo::com::Candidate>& list, bool twoStage) {
  json out = json::array();
  for (const brevo::com::Candidate& k : list) {
    json taps = json::array();
    for (double v : k.txTaps) taps.push_back(number(v));
    out.push_back({{"tx_taps", taps},
                   {"gDC", number(k.gDC)},
                   {"gDC2", twoStage ? number(k.gDC2) : json(nullptr)},
                   {"FOM", number(k.fom)}});
  }
  return out;
}

json numbers(const std::vector<double>& values, double scale = 1) {
  json a = json::array();
  for (double v : values) a.push_back(number(scale * v));
  return a;
}

// The chosen equaliser's pulses, responses, bathtub and eye contour, for charts.
json comViews(json c, const brevo::com::CaseViews& v, double der) {
  c["pulse"] = {
      {"samples_per_ui", v.samplesPerUi},
      {"first_ui", number(v.firstUi)},
      {"unequalised_mV", numbers(v.unequalised, 1000)},
      {"equalised_mV", numbers(v.equalised, 1000)},
      {"cursor_sample", v.cursor},
      {"dfe_span", v.dfeLast >= v.dfeFirst ? json::array({v.dfeFirst, v.dfeLast}) : json(nullptr)}};
  c["responses"] = {{"f_GHz", numbers(v.f, 1e-9)},
                    {"tx_ffe_dB", numbers(v.txFfeDb)},
                    {"ctle_dB", numbers(v.ctleDb)},
                    {"rx_ffe_dB", v.rxFfeDb.empty() ? json(nullptr) : numbers(v.rxFfeDb)}};
  c["bathtub"] = {{"amplitude_mV", numbers(v.amplitude, 1000)},
                  {"probability", numbers(v.probability)},
                  {"DER0", number(der)}};
  c["eye_contour"] = {{"phase_ui", numbers(v.phaseUi)},
                      {"upper_mV", numbers(v.upper, 1000)},
                      {"lower_mV", numbers(v.lower, 1000)},
                      {"DER0", number(der)}};
  return c;
}

// A figure of a COM package case in its unit of the figure table, none where it does not
// apply.
std::optional<double> comFigureValue(const brevo::com::CaseResult& c, bool twoStage,
                                     ComFigure figure) {
  switch (figure) {
    case ComFigure::COM:
      return c.com;
    case ComFigure::FOM:
      return c.fom;
    case ComFigure::As:
      return 1000 * c.As;
    case ComFigure::Ani:
      return 1000 * c.Ani;
    case ComFigure::sigma_ISI:
      return 1000 * c.sigmaIsi;
    case ComFigure::sigma_XT:
      return 1000 * c.sigmaXt;
    case ComFigure::sigma_G:
      return 1000 * c.sigmaG;
    case ComFigure::sigma_TX:
      return 1000 * c.sigmaTx;
    case ComFigure::sigma_RJ:
      return 1000 * c.sigmaRj;
    case ComFigure::sigma_N:
      return 1000 * c.sigmaN;
    case ComFigure::sigma_DD:
      return 1000 * c.sigmaDd;
    case ComFigure::unequalised_peak:
      return 1000 * c.unequalisedPeak;
    case ComFigure::gDC:
      return c.gDC;
    case ComFigure::gDC2:
      if (!twoStage) return std::nullopt;
      return c.gDC2;
  }
  return std::nullopt;
}

// The COM part: null unless com names a preset.
json comCase(const brevo::com::PackageCase& pkg, const brevo::com::CaseResult& c,
             const brevo::com::Params& params) {
  const bool twoStage = params.twoStage;
  json taps = json::array(), dfe = json::array();
  for (double v : c.txTaps) taps.push_back(number(v));
  for (double v : c.dfeTaps) dfe.push_back(number(v));
  json rx = nullptr;
  if (!c.rxffeTaps.empty()) {
    rx = json::array();
    for (double v : c.rxffeTaps) rx.push_back(number(v));
  }
  // The package, the case's figures in the table's order, then the equaliser and the search.
  json j = {
      {"package_mm", {{"tx", pkg.tx}, {"next", pkg.next}, {"fext", pkg.fext}, {"rx", pkg.rx}}}};
  for (const ComFigureRow& f : kComFigureRows) {
    const std::optional<double> v = comFigureValue(c, twoStage, f.figure);
    j[f.key] = v ? quantity(*v, f.unit) : json(nullptr);
  }
  const json rest = {{"cursor_sample", c.cursorSample},
                     {"tx_taps", taps},
                     {"tx_cursor", c.txCursor},
                     {"dfe_taps", dfe},
                     {"rx_ffe_taps", rx},
                     {"top_candidates", topCandidates(c.topCandidates, twoStage)},
                     {"candidates", c.candidates},
                     {"grid_size", c.gridSize},
                     {"local_differs", c.localDiffers},
                     {"seconds", quantity(c.seconds, "s")}};
  for (const auto& [key, value] : rest.items()) j[key] = value;
  return comViews(std::move(j), c.views, params.DER0);
}

json com(const RunState& rs) {
  const ComRun& c = rs.com;
  const ComPreset& preset = rs.given.com;
  if (!preset.requested) return nullptr;
  const auto text = [&](const char* name) -> json {
    const auto& k = brevo::com::presetKeywords();
    for (std::size_t i = 0; i < k.size() && i < rs.given.comTexts.size(); ++i)
      if (std::string(k[i].name) == name)
        return rs.given.comTexts[i][0] ? json(rs.given.comTexts[i].data()) : json(nullptr);
    return nullptr;
  };
  const bool ok = c.reached && c.reason.empty();
  json j = {
      {"preset", preset.preset},
      {"file", preset.path.empty() ? json(nullptr) : json(preset.path)},
      {"convention", text("com_convention")},
      {"search", text("com_search")},
      {"local_search", text("com_local_search")},
      {"available", ok},
      {"reason", ok ? json(nullptr) : json(c.reached ? c.reason : "the run ended before COM")},
      {"problems", c.problems},
      {"cases", json::array()},
      {"COM", nullptr},
      {"pass_threshold", nullptr},
      {"verdict", nullptr}};
  if (!ok) return j;
  const brevo::com::Margins& r = c.outcome.value;
  for (std::size_t k = 0; k < r.cases.size() && k < c.params.cases.size(); ++k)
    j["cases"].push_back(comCase(c.params.cases[k], r.cases[k], c.params));
  j["COM"] = quantity(r.com, "dB");
  j["pass_threshold"] = quantity(c.params.passThreshold, "dB");
  j["verdict"] = r.pass ? "pass" : "fail";
  return j;
}

json record(const RunState& rs, const std::vector<std::pair<Stage, int>>& stages, int status) {
  const auto done = [&stages](Stage stage) {
    for (const auto& [s, st] : stages)
      if (s == stage) return st == 0;
    return false;
  };
  json r = {{"program", "Brevo"}, {"version", BREVO_VERSION}, {"status", status}};
  r["arguments"] = json::array();
  for (std::size_t k = 1; k < rs.io.arguments.size(); ++k)
    r["arguments"].push_back(rs.io.arguments[k]);
  r["stages"] = json::array();
  for (const auto& [stage, st] : stages)
    r["stages"].push_back(
        {{"stage", kStageNames[static_cast<std::size_t>(stage)]}, {"status", st}});
  r["keywords"] = keywords(rs);
  r["derived"] = done(Stage::deriveSettings) ? derived(rs.given.derived) : json(nullptr);
  r["thru"] = thru(rs, done(Stage::selectThru));
  r["aggressors"] = json::array();
  for (const AggressorNoise& a : rs.crosstalk.aggressors)
    r["aggressors"].push_back({{"file", a.name},
                               {"kind", kindName(a.kind)},
                               {"ports", ports(a.inP, a.inM, a.outP, a.outM)},
                               {"icn", quantity(1000 * std::sqrt(a.icnPower), "mV")}});
  r["skipped"] = json::array();
  for (const CrosstalkNoise::Skipped& a : rs.crosstalk.skipped)
    r["skipped"].push_back({{"file", a.name},
                            {"kind", kindName(a.kind)},
                            {"ports", ports(a.inP, a.inM, a.outP, a.outM)},
                            {"reason", a.reason}});
  r["loss_fit"] = done(Stage::fitThru) ? lossFit(rs) : json(nullptr);
  r["short_waveforms"] = done(Stage::pulseAndDibit) ? shortWaveforms(rs) : json(nullptr);
  r["figures"] = figures(rs, done);
  r["com"] = com(rs);
  r["warnings"] = rs.io.warnings;
  return r;
}

}  // namespace

std::string runRecordText(const RunState& rs, const std::vector<std::pair<Stage, int>>& stages,
                          int status) {
  try {
    // Bytes that are no UTF-8 (a file name, say) become U+FFFD: JSON text is Unicode.
    return record(rs, stages, status).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  } catch (const std::exception&) {  // only memory can run out here
    return {};
  }
}

void writeRunRecord(const RunState& rs, const std::vector<std::pair<Stage, int>>& stages,
                    int status) {
  const std::string name = rs.given.settings.summary;
  if (name.empty()) return;
  const std::string what = "the run record " + name;
  const std::string text = runRecordText(rs, stages, status);
  if (text.empty())
    return sayNotWritten(rs.io.standardError, nullptr, what.c_str(), fileStatus(ENOMEM));
  errno = 0;
  FILE* file =
      std::fopen(rePath(rs.given.baseDirectory.c_str(), name.c_str(), nullptr).c_str(), "w");
  if (!file)
    return sayNotWritten(rs.io.standardError, nullptr, what.c_str(),
                         fileStatus(errno != 0 ? errno : EIO));
  // A record larger than the buffer goes out in fwrite itself: its failure keeps the reason.
  errno = 0;
  const int writeError = std::fwrite(text.data(), 1, text.size(), file) == text.size() ? 0
                         : errno != 0                                                  ? errno
                                                                                       : EIO;
  const FileStatus closing = finishOutput(file, true);
  if (const FileStatus lost = writeError != 0 ? fileStatus(writeError) : closing; !lost.ok())
    sayNotWritten(rs.io.standardError, nullptr, what.c_str(), lost);
}
