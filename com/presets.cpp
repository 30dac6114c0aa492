// COM presets: the com_ keywords read into Params, every value checked against what the
// computation can take, and the folders named presets live in.
#include "presets.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace brevo::com {

namespace {

constexpr double kGiga = 1e9, kNano = 1e-9;
// Longest sweep and list taken: far beyond any sheet, short of a search that never ends.
constexpr long kMaxValues = 10000;

const std::vector<PresetKeyword> kKeywords = {
    {"com_convention", "", "", "reference or ieee"},
    {"com_search", "", "", "exhaustive or local"},
    {"com_local_search", "Local Search", "steps", "an integer, 0 for the whole grid"},
    {"com_report_candidates", "", "settings", "an integer, 0 for none"},
    {"com_f_b", "f_b", "GBd", "a number"},
    {"com_f_min", "f_min", "GHz", "a number"},
    {"com_Delta_f", "Delta_f", "GHz", "a number"},
    {"com_L", "L", "levels", "an integer"},
    {"com_M", "M", "samples per UI", "an integer"},
    {"com_DER_0", "DER_0", "", "a number"},
    {"com_A_v", "A_v", "V", "a number"},
    {"com_A_fe", "A_fe", "V", "a number"},
    {"com_A_ne", "A_ne", "V", "a number"},
    {"com_R_LM", "R_LM", "", "a number"},
    {"com_SNR_TX", "SNR_TX", "dB", "a number"},
    {"com_eta_0", "eta_0", "V^2/GHz", "a number"},
    {"com_sigma_RJ", "sigma_RJ", "UI", "a number"},
    {"com_A_DD", "A_DD", "UI", "a number"},
    {"com_T_r", "T_r", "ns", "a number"},
    {"com_FORCE_TR", "FORCE_TR", "", "0 or 1"},
    {"com_f_r", "f_r", "x f_b", "a number"},
    {"com_Raised_Cosine", "Raised_Cosine", "", "0 or 1"},
    {"com_RC_Start", "RC_Start", "GHz", "a number, or none for f_b/2"},
    {"com_RC_end", "RC_end", "GHz", "a number, or none for f_r*f_b"},
    {"com_c_0", "c(0)", "", "a number"},
    {"com_c_m4", "c(-4)", "", "min:step:max, a number or none"},
    {"com_c_m3", "c(-3)", "", "min:step:max, a number or none"},
    {"com_c_m2", "c(-2)", "", "min:step:max, a number or none"},
    {"com_c_m1", "c(-1)", "", "min:step:max, a number or none"},
    {"com_c_1", "c(1)", "", "min:step:max, a number or none"},
    {"com_c_2", "c(2)", "", "min:step:max, a number or none"},
    {"com_c_3", "c(3)", "", "min:step:max, a number or none"},
    {"com_g_DC", "g_DC", "dB", "min:step:max or a number"},
    {"com_g_DC_HP", "g_DC_HP", "dB", "min:step:max, a number or none (one stage)"},
    {"com_f_z", "f_z", "GHz", "a number"},
    {"com_f_p1", "f_p1", "GHz", "a number"},
    {"com_f_p2", "f_p2", "GHz", "a number"},
    {"com_f_HP_PZ", "f_HP_PZ", "GHz", "a number or none"},
    {"com_G_Qual", "G_Qual", "dB", "rows \"hi lo; hi lo; ...\" or none"},
    {"com_G2_Qual", "G2_Qual", "dB", "a list, one a row of com_G_Qual, or none"},
    {"com_GDC_MIN", "GDC_MIN", "dB", "a number, 0 for none"},
    {"com_N_b", "N_b", "UI", "an integer"},
    {"com_b_max_1", "b_max(1)", "", "a number"},
    {"com_b_max_2_N_b", "b_max(2..N_b)", "", "one number for every tap or a list of N_b-1"},
    {"com_b_min_1", "b_min(1)", "", "a number or none for -b_max(1)"},
    {"com_b_min_2_N_b", "b_min(2..N_b)", "", "one number, a list of N_b-1, or none for -b_max"},
    {"com_N_bg", "N_bg", "", "an integer, 0 for no floating taps"},
    {"com_N_bf", "N_bf", "", "an integer"},
    {"com_N_f", "N_f", "UI", "an integer"},
    {"com_bmaxg", "bmaxg", "", "a number"},
    {"com_B_float_RSS_MAX", "B_float_RSS_MAX", "", "a number, or none"},
    {"com_N_tail_start", "N_tail_start", "UI", "an integer"},
    {"com_ffe_pre_tap_len", "ffe_pre_tap_len", "taps", "an integer, 0 for no Rx FFE"},
    {"com_ffe_post_tap_len", "ffe_post_tap_len", "taps", "an integer"},
    {"com_ffe_tap_max", "", "x cursor tap", "a number, or none for no limit"},
    {"com_ffe_tap_min", "", "x cursor tap", "a number below com_ffe_tap_max, or none for no limit"},
    {"com_CDR", "CDR", "", "MM or Mod-MM"},
    {"com_ts_anchor", "ts_anchor", "", "0, 1 or 2"},
    {"com_sample_adjustment", "sample_adjustment", "samples", "\"min max\""},
    {"com_f_2", "f_2", "GHz", "a number, or none for f_b"},
    {"com_R_0", "R_0", "ohm", "a number"},
    {"com_R_d", "R_d", "ohm", "\"tx rx\" or one for both"},
    {"com_C_d", "C_d", "nF", "\"tx rx\", one for both, or two ladders \"tx...; rx...\""},
    {"com_L_s", "L_s", "nH", "as com_C_d, or none"},
    {"com_C_b", "C_b", "nF", "\"tx rx\", one for both, or none"},
    {"com_C_p", "C_p", "nF", "\"tx rx\" or one for both"},
    {"com_package_Z_c", "package_Z_c", "ohm", "one a segment"},
    {"com_package_tl_gamma0_a1_a2", "package_tl_gamma0_a1_a2", "1/mm, 1/(mm sqrt GHz), ns/mm",
     "three numbers"},
    {"com_package_tl_tau", "package_tl_tau", "ns/mm", "a number"},
    {"com_z_p_TX", "z_p (TX)", "mm", "a row a segment, a column a case: \"12 31; 1.8 1.8\""},
    {"com_z_p_NEXT", "z_p (NEXT)", "mm", "as com_z_p_TX"},
    {"com_z_p_FEXT", "z_p (FEXT)", "mm", "as com_z_p_TX"},
    {"com_z_p_RX", "z_p (RX)", "mm", "as com_z_p_TX"},
    {"com_z_p_select", "z_p select", "", "case numbers from 1, or none for every case"},
    {"com_kappa1", "kappa1", "", "a number"},
    {"com_kappa2", "kappa2", "", "a number"},
    {"com_include_pcb", "Include PCB", "", "0 or 1"},
    {"com_z_bp", "z_bp", "mm", "a number"},
    {"com_board_tl_gamma0_a1_a2", "board_tl_gamma0_a1_a2", "1/mm, 1/(mm sqrt GHz), ns/mm",
     "three numbers"},
    {"com_board_tl_tau", "board_tl_tau", "ns/mm", "a number"},
    {"com_board_Z_c", "board_Z_c", "ohm", "a number"},
    {"com_C_0", "C_0", "nF", "a number"},
    {"com_C_1", "C_1", "nF", "a number"},
    {"com_pass_threshold", "COM Pass threshold", "dB", "a number"},
};

// What a value must be, said the way the message says it.
struct Range {
  double lo = -HUGE_VAL, hi = HUGE_VAL;
  bool loOpen = false, hiOpen = false;
  bool holds(double v) const {
    return std::isfinite(v) && (loOpen ? v > lo : v >= lo) && (hiOpen ? v < hi : v <= hi);
  }
  std::string text() const {
    auto num = [](double v) {
      char t[32];
      std::snprintf(t, sizeof t, "%g", v);
      return std::string(t);
    };
    const bool hasLo = std::isfinite(lo), hasHi = std::isfinite(hi);
    std::string low = hasLo ? (loOpen ? "above " : "at least ") + num(lo) : "";
    std::string high = hasHi ? (hiOpen ? "below " : "at most ") + num(hi) : "";
    if (hasLo && hasHi) return "must be " + low + " and " + high;
    if (hasLo) return "must be " + low;
    if (hasHi) return "must be " + high;
    return "must be a finite number";
  }
};
constexpr Range kAny{};
constexpr Range kPositive{0, HUGE_VAL, true, false};
constexpr Range kNonNegative{0, HUGE_VAL, false, false};

std::vector<std::string> words(const std::string& text, const char* separators) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    at = text.find_first_not_of(separators, at);
    if (at == std::string::npos) break;
    const std::size_t end = text.find_first_of(separators, at);
    out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return out;
}

std::optional<double> parseNumber(const std::string& word) {
  if (word.empty()) return std::nullopt;
  const char* start = word.c_str();
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(start, &end);
  if (end != start + word.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

// The values of one keyword, checked; every problem goes to errors with where it was set.
class Reader {
 public:
  Reader(const std::vector<PresetValue>& values, std::string preset) : preset_(std::move(preset)) {
    for (const PresetValue& v : values) byName_[v.name] = &v;
  }

  std::vector<std::string> errors;

  // Set since the preset was applied, with a value other than "none".
  bool given(const char* name) {
    const PresetValue* v = find(name);
    return v && !isNone(v->text);
  }

  // A number times scale; fallback when nothing set it (and not required) or it is none.
  double number(const char* name, double scale, Range range, std::optional<double> fallback) {
    std::string text;
    if (!present(name, fallback.has_value(), text)) return fallback.value_or(0) * scale;
    const std::optional<double> v = parseNumber(text);
    if (!v)
      return fail(name, "not a number (write it in " + unitOf(name) + " without a suffix)"), 0;
    if (!range.holds(*v)) return fail(name, range.text()), 0;
    return *v * scale;
  }

  int integer(const char* name, Range range, std::optional<int> fallback) {
    std::string text;
    if (!present(name, fallback.has_value(), text)) return fallback.value_or(0);
    const std::optional<double> v = parseNumber(text);
    if (!v || *v != std::floor(*v)) return fail(name, "not a whole number"), 0;
    if (!range.holds(*v) || std::fabs(*v) > 1e6)
      return fail(name, range.holds(*v) ? "too large" : range.text()), 0;
    return static_cast<int>(*v);
  }

  bool flag(const char* name) {
    std::string text;
    if (!present(name, true, text)) return false;
    if (text != "0" && text != "1") return fail(name, "must be 0 or 1"), false;
    return text == "1";
  }

  // One of the words; the first when nothing set it.
  int choice(const char* name, const std::vector<std::string>& options) {
    std::string text;
    if (!present(name, true, text)) return 0;
    for (std::size_t k = 0; k < options.size(); ++k)
      if (text == options[k]) return static_cast<int>(k);
    std::string list;
    for (std::size_t k = 0; k < options.size(); ++k)
      list += (k == 0 ? "" : k + 1 == options.size() ? " or " : ", ") + options[k];
    return fail(name, "must be " + list), 0;
  }

  // min:step:max or a single value; empty when none (or unset and not required).
  std::optional<Sweep> sweep(const char* name, Range range, bool required) {
    std::string text;
    if (!present(name, !required, text)) return std::nullopt;
    const std::vector<std::string> parts = words(text, ":");
    std::vector<double> v;
    for (const std::string& p : parts)
      if (const auto n = parseNumber(p)) v.push_back(*n);
    if (v.size() != parts.size() || (v.size() != 1 && v.size() != 3) ||
        text.find("::") != std::string::npos || text.front() == ':' || text.back() == ':')
      return fail(name, "must be min:step:max or one number"), std::nullopt;
    Sweep s;
    s.min = v.front();
    s.max = v.back();
    s.step = v.size() == 3 ? v[1] : 0;
    if (!range.holds(s.min) || !range.holds(s.max))
      return fail(name, "every value " + range.text()), std::nullopt;
    if (s.min > s.max) return fail(name, "min is above max"), std::nullopt;
    if (s.min < s.max && !(s.step > 0)) return fail(name, "the step must be above 0"), std::nullopt;
    if (s.min < s.max && (s.max - s.min) / s.step + 1 > kMaxValues)
      return fail(name, "more than " + std::to_string(kMaxValues) + " values"), std::nullopt;
    return s;
  }

  // Rows of numbers: ";" ends a row, blanks or commas part the numbers, [ ] around the
  // whole are dropped. Empty when none (or unset and not required).
  std::optional<std::vector<std::vector<double>>> rows(const char* name, Range range,
                                                       bool required) {
    std::string text;
    if (!present(name, !required, text)) return std::nullopt;
    if (text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    std::vector<std::vector<double>> out;
    for (const std::string& row : words(text, ";")) {
      std::vector<double>& r = out.emplace_back();
      for (const std::string& w : words(row, " \t,")) {
        const std::optional<double> v = parseNumber(w);
        if (!v) return fail(name, "\"" + w + "\" is not a number"), std::nullopt;
        if (!range.holds(*v)) return fail(name, "every value " + range.text()), std::nullopt;
        r.push_back(*v);
        if (static_cast<long>(r.size()) > kMaxValues)
          return fail(name, "too many values"), std::nullopt;
      }
      if (r.empty()) out.pop_back();
    }
    if (out.empty()) return fail(name, "no numbers"), std::nullopt;
    if (static_cast<long>(out.size()) > kMaxValues)
      return fail(name, "too many rows"), std::nullopt;
    return out;
  }

  // One row of numbers, scaled; a ";" counts as a blank.
  std::optional<std::vector<double>> list(const char* name, Range range, bool required,
                                          double scale = 1) {
    const auto r = rows(name, range, required);
    if (!r) return std::nullopt;
    std::vector<double> out;
    for (const auto& row : *r)
      for (double v : row) out.push_back(v * scale);
    return out;
  }

  void fail(const char* name, const std::string& problem) {
    const PresetValue* v = find(name);
    if (v && !v->where.empty())
      errors.push_back(v->where + ": " + name + "=" + v->text + ": " + problem);
    else
      errors.push_back(std::string(name) + ": " + problem);
  }

 private:
  const PresetValue* find(const char* name) const {
    const auto f = byName_.find(name);
    return f == byName_.end() || f->second->where.empty() ? nullptr : f->second;
  }
  static bool isNone(const std::string& text) { return text == "none"; }
  static std::string unitOf(const char* name) {
    for (const PresetKeyword& k : kKeywords)
      if (std::string(name) == k.name && k.unit[0] && std::string(k.unit) != "x f_b") return k.unit;
    return "plain numbers";
  }

  // The value's text when it holds one; false when nothing set it or it is none, which is
  // a problem unless optional.
  bool present(const char* name, bool optional, std::string& text) {
    const PresetValue* v = find(name);
    if (!v) {
      if (!optional) errors.push_back(std::string(name) + " is not set by " + preset_);
      return false;
    }
    text = v->text;
    if (text.empty())
      return fail(name, "no value (give none where the parameter is absent)"), false;
    if (isNone(text)) {
      if (!optional) fail(name, "a value is needed");
      return false;
    }
    return true;
  }

  std::string preset_;
  std::map<std::string, const PresetValue*> byName_;
};

// One side's value of a per-side keyword: one value for both sides, "tx rx", or, where
// ladders are taken, a row a side.
std::vector<double> side(const std::vector<std::vector<double>>& r, int which, bool ladder) {
  if (ladder && r.size() == 2) return r[static_cast<std::size_t>(which)];
  const std::vector<double>& row = r.front();
  return {row.size() == 1 ? row.front() : row[static_cast<std::size_t>(which)]};
}

bool sidesShapeOk(Reader& in, const char* name, const std::vector<std::vector<double>>& r,
                  bool ladder) {
  const bool ok =
      r.size() == 1 ? (r.front().size() == 1 || r.front().size() == 2) : (ladder && r.size() == 2);
  if (!ok)
    in.fail(name, ladder ? "must be one value, \"tx rx\", or two ladders \"tx...; rx...\""
                         : "must be one value or \"tx rx\"");
  return ok;
}

}  // namespace

const std::vector<PresetKeyword>& presetKeywords() { return kKeywords; }

brevo::Result<PresetReading> readPresetValues(const std::vector<PresetValue>& values,
                                              const std::string& preset) {
  brevo::Result<PresetReading> out;
  Params& p = out.value.params;
  Reader in(values, preset);
  p.preset = preset;
  p.convention = in.choice("com_convention", {"reference", "ieee"}) == 0 ? Convention::reference
                                                                         : Convention::ieee;
  p.search =
      in.choice("com_search", {"exhaustive", "local"}) == 0 ? Search::exhaustive : Search::local;
  p.localSearch = in.integer("com_local_search", kNonNegative, 0);
  p.reportCandidates = in.integer("com_report_candidates", {0, 1000}, 0);

  p.fb = in.number("com_f_b", kGiga, kPositive, std::nullopt);
  p.fMin = in.number("com_f_min", kGiga, kNonNegative, 0.05);
  p.deltaF = in.number("com_Delta_f", kGiga, kPositive, 0.01);
  p.L = in.integer("com_L", {2, 64}, std::nullopt);
  p.M = in.integer("com_M", {1, 4096}, std::nullopt);
  p.DER0 = in.number("com_DER_0", 1, {0, 0.5, true, true}, std::nullopt);
  p.Av = in.number("com_A_v", 1, kPositive, std::nullopt);
  p.Afe = in.number("com_A_fe", 1, kNonNegative, std::nullopt);
  p.Ane = in.number("com_A_ne", 1, kNonNegative, std::nullopt);
  p.RLM = in.number("com_R_LM", 1, {0, 1, true, false}, std::nullopt);
  p.snrTx = in.number("com_SNR_TX", 1, kNonNegative, std::nullopt);
  p.eta0 = in.number("com_eta_0", 1, kNonNegative, std::nullopt);
  p.sigmaRJ = in.number("com_sigma_RJ", 1, {0, 1, false, true}, std::nullopt);
  p.ADD = in.number("com_A_DD", 1, {0, 0.5, false, true}, std::nullopt);
  p.Tr = in.number("com_T_r", kNano, kNonNegative, std::nullopt);
  p.forceTr = in.flag("com_FORCE_TR");
  p.fr = in.number("com_f_r", 1, kPositive, std::nullopt);
  p.raisedCosine = in.flag("com_Raised_Cosine");
  p.rcStart = in.number("com_RC_Start", kGiga, kNonNegative, 0);
  p.rcEnd = in.number("com_RC_end", kGiga, kNonNegative, 0);

  p.c0min = in.number("com_c_0", 1, {0, 1, true, false}, std::nullopt);
  const struct {
    const char* name;
    int index;
  } taps[] = {{"com_c_m4", -4}, {"com_c_m3", -3}, {"com_c_m2", -2}, {"com_c_m1", -1},
              {"com_c_1", 1},   {"com_c_2", 2},   {"com_c_3", 3}};
  for (const auto& t : taps)
    if (const auto s = in.sweep(t.name, {-1, 1}, false)) p.txTaps.push_back({t.index, *s});

  if (const auto g = in.sweep("com_g_DC", {-100, 100}, true)) p.gDC = *g;
  if (const auto g2 = in.sweep("com_g_DC_HP", {-100, 100}, false)) {
    p.twoStage = true;
    p.gDC2 = *g2;
  }
  p.fz = in.number("com_f_z", kGiga, kPositive, std::nullopt);
  p.fp1 = in.number("com_f_p1", kGiga, kPositive, std::nullopt);
  p.fp2 = in.number("com_f_p2", kGiga, kPositive, std::nullopt);
  if (p.twoStage)
    p.fLF = in.number("com_f_HP_PZ", kGiga, kPositive, std::nullopt);
  else if (in.given("com_f_HP_PZ"))
    p.fLF = in.number("com_f_HP_PZ", kGiga, kPositive, 0);
  if (const auto q = in.rows("com_G_Qual", {-100, 100}, false)) {
    for (const auto& row : *q)
      if (row.size() != 2) in.fail("com_G_Qual", "every row must be \"hi lo\"");
    p.gQual = *q;
  }
  if (const auto q2 = in.list("com_G2_Qual", {-100, 100}, false)) {
    p.g2Qual = *q2;
    if (p.g2Qual.size() != p.gQual.size())
      in.fail("com_G2_Qual", "must hold one value a row of com_G_Qual");
  }
  p.gdcMin = in.number("com_GDC_MIN", 1, {-100, 100}, 0);

  p.Nb = in.integer("com_N_b", {0, 1000}, std::nullopt);
  const double bmax1 = in.number("com_b_max_1", 1, kNonNegative, std::nullopt);
  const auto perTap = [&](const char* name, bool required) -> std::optional<std::vector<double>> {
    if (p.Nb < 2 && !in.given(name)) return std::vector<double>{};
    const auto l = in.list(name, kAny, required && p.Nb >= 2);
    if (!l) return std::nullopt;
    if (l->size() == 1)
      return std::vector<double>(static_cast<std::size_t>(std::max(p.Nb - 1, 0)), l->front());
    if (static_cast<int>(l->size()) != p.Nb - 1) {
      in.fail(name, "must be one value for every tap or " + std::to_string(std::max(p.Nb - 1, 0)) +
                        " values (N_b-1)");
      return std::nullopt;
    }
    return l;
  };
  if (p.Nb >= 1) {
    p.bmax.push_back(bmax1);
    if (const auto rest = perTap("com_b_max_2_N_b", true))
      p.bmax.insert(p.bmax.end(), rest->begin(), rest->end());
    const bool min1 = in.given("com_b_min_1"), minRest = in.given("com_b_min_2_N_b");
    if (min1 || minRest) {
      p.bmin.push_back(min1 ? in.number("com_b_min_1", 1, kAny, std::nullopt) : -bmax1);
      const auto rest = minRest ? perTap("com_b_min_2_N_b", true) : std::nullopt;
      for (int k = 1; k < p.Nb; ++k)
        p.bmin.push_back(rest && static_cast<int>(rest->size()) == p.Nb - 1
                             ? (*rest)[static_cast<std::size_t>(k - 1)]
                         : static_cast<std::size_t>(k) < p.bmax.size()
                             ? -p.bmax[static_cast<std::size_t>(k)]
                             : 0);
    }
    if (p.bmin.size() == p.bmax.size())
      for (std::size_t k = 0; k < p.bmin.size(); ++k)
        if (p.bmin[k] > p.bmax[k]) {
          in.fail(k == 0 ? "com_b_min_1" : "com_b_min_2_N_b",
                  "tap " + std::to_string(k + 1) + "'s limit is above its b_max");
          break;
        }
  }
  p.Nbg = in.integer("com_N_bg", {0, 1000}, 0);
  p.Nbf = in.integer("com_N_bf", {0, 1000}, 0);
  p.Nf = in.integer("com_N_f", {0, 100000}, 0);
  p.bmaxg = in.number("com_bmaxg", 1, kNonNegative, 0);
  p.bFloatRssMax = in.number("com_B_float_RSS_MAX", 1, kNonNegative, 0);
  p.nTailStart = in.integer("com_N_tail_start", {0, 100000}, 0);
  p.rxffePre = in.integer("com_ffe_pre_tap_len", {0, 1000}, 0);
  p.rxffePost = in.integer("com_ffe_post_tap_len", {0, 1000}, 0);
  if (in.given("com_ffe_tap_max") != in.given("com_ffe_tap_min")) {
    in.fail(in.given("com_ffe_tap_max") ? "com_ffe_tap_max" : "com_ffe_tap_min",
            "the receiver FFE's tap limits are given both or neither");
  } else if (in.given("com_ffe_tap_max")) {
    p.rxffeWmax = in.number("com_ffe_tap_max", 1, kAny, std::nullopt);
    p.rxffeWmin =
        in.number("com_ffe_tap_min", 1, {-HUGE_VAL, p.rxffeWmax, false, true}, std::nullopt);
  }

  p.cursorRule = in.choice("com_CDR", {"MM", "Mod-MM"}) == 0 ? CursorRule::mm : CursorRule::modMm;
  p.tsAnchor = in.integer("com_ts_anchor", {0, 2}, 0);
  if (const auto a = in.list("com_sample_adjustment", {-100000, 100000}, false)) {
    if (a->size() != 2 || (*a)[0] > (*a)[1] || (*a)[0] != std::floor((*a)[0]) ||
        (*a)[1] != std::floor((*a)[1]))
      in.fail("com_sample_adjustment", "must be two whole numbers \"min max\", min not above max");
    else
      p.sampleAdjustMin = static_cast<int>((*a)[0]), p.sampleAdjustMax = static_cast<int>((*a)[1]);
  }
  p.f2 = in.number("com_f_2", kGiga, kPositive, 0);

  p.R0 = in.number("com_R_0", 1, kPositive, std::nullopt);
  if (const auto rd = in.rows("com_R_d", kPositive, true);
      rd && sidesShapeOk(in, "com_R_d", *rd, false)) {
    p.RdTx = side(*rd, 0, false).front();
    p.RdRx = side(*rd, 1, false).front();
  }
  const auto element = [&](const char* name, bool required, bool ladder, double scale,
                           std::vector<double>& tx, std::vector<double>& rx) {
    const auto r = in.rows(name, kNonNegative, required);
    if (!r || !sidesShapeOk(in, name, *r, ladder)) return;
    tx = side(*r, 0, ladder);
    rx = side(*r, 1, ladder);
    for (double& v : tx) v *= scale;
    for (double& v : rx) v *= scale;
  };
  element("com_C_d", true, true, kNano, p.pkgTx.Cd, p.pkgRx.Cd);
  element("com_L_s", false, true, kNano, p.pkgTx.Ls, p.pkgRx.Ls);
  std::vector<double> tx, rx;
  element("com_C_b", false, false, kNano, tx, rx);
  if (!tx.empty()) p.pkgTx.Cb = tx.front(), p.pkgRx.Cb = rx.front();
  tx.clear(), rx.clear();
  element("com_C_p", true, false, kNano, tx, rx);
  if (!tx.empty()) p.pkgTx.Cp = tx.front(), p.pkgRx.Cp = rx.front();
  if (!p.pkgTx.Cd.empty() &&
      (p.pkgTx.Ls.size() > p.pkgTx.Cd.size() || p.pkgRx.Ls.size() > p.pkgRx.Cd.size()))
    in.fail("com_L_s", "has more stages than com_C_d");

  if (const auto zc = in.list("com_package_Z_c", kPositive, true)) p.Zc = *zc;
  if (const auto g = in.list("com_package_tl_gamma0_a1_a2", kNonNegative, true)) {
    if (g->size() != 3)
      in.fail("com_package_tl_gamma0_a1_a2", "must be three numbers");
    else
      p.gamma0 = (*g)[0], p.a1 = (*g)[1], p.a2 = (*g)[2];
  }
  p.tau = in.number("com_package_tl_tau", 1, kPositive, std::nullopt);

  // The package lengths: a row a segment, a column a case; every use the same shape.
  const char* uses[] = {"com_z_p_TX", "com_z_p_NEXT", "com_z_p_FEXT", "com_z_p_RX"};
  std::vector<std::vector<std::vector<double>>> z;
  for (const char* name : uses) {
    const auto r = in.rows(name, kNonNegative, true);
    if (!r) continue;
    bool square = true;
    for (const auto& row : *r) square = square && row.size() == r->front().size();
    if (!square) {
      in.fail(name, "every row (segment) must give one length a case");
      continue;
    }
    if (!p.Zc.empty() && r->size() != p.Zc.size()) {
      in.fail(name, "gives " + std::to_string(r->size()) + " segment" +
                        (r->size() == 1 ? "" : "s") + " (a row each) where com_package_Z_c gives " +
                        std::to_string(p.Zc.size()) +
                        " (rows are parted by \";\": \"12 31; 1.8 1.8\")");
      continue;
    }
    if (!z.empty() && r->front().size() != z.front().front().size()) {
      in.fail(name, "gives " + std::to_string(r->front().size()) + " cases, com_z_p_TX " +
                        std::to_string(z.front().front().size()));
      continue;
    }
    z.push_back(*r);
  }
  if (z.size() == 4) {
    const int cases = static_cast<int>(z.front().front().size());
    std::vector<int> chosen;
    if (const auto sel = in.list("com_z_p_select", {1, static_cast<double>(cases)}, false)) {
      for (double c : *sel)
        if (c != std::floor(c))
          in.fail("com_z_p_select", "case numbers are whole numbers");
        else
          chosen.push_back(static_cast<int>(c));
    } else {
      for (int c = 1; c <= cases; ++c) chosen.push_back(c);
    }
    for (int c : chosen) {
      PackageCase pc;
      std::vector<double>* lists[] = {&pc.tx, &pc.next, &pc.fext, &pc.rx};
      for (int u = 0; u < 4; ++u)
        for (const auto& row : z[static_cast<std::size_t>(u)])
          lists[u]->push_back(row[static_cast<std::size_t>(c - 1)]);
      p.cases.push_back(pc);
    }
  }
  p.kappa1 = in.number("com_kappa1", 1, kNonNegative, 1);
  p.kappa2 = in.number("com_kappa2", 1, kNonNegative, 1);

  p.includePcb = in.flag("com_include_pcb");
  const auto board = [&](const char* name, double scale, Range range, double fallback) {
    return p.includePcb ? in.number(name, scale, range, std::nullopt)
                        : in.number(name, scale, range, fallback);
  };
  p.zbp = board("com_z_bp", 1, kNonNegative, 0);
  if (const auto g = in.list("com_board_tl_gamma0_a1_a2", kNonNegative, p.includePcb)) {
    if (g->size() != 3)
      in.fail("com_board_tl_gamma0_a1_a2", "must be three numbers");
    else
      p.boardGamma0 = (*g)[0], p.boardA1 = (*g)[1], p.boardA2 = (*g)[2];
  }
  p.boardTau = board("com_board_tl_tau", 1, kPositive, 0);
  p.boardZc = in.number("com_board_Z_c", 1, kPositive, 100);
  p.C0 = board("com_C_0", kNano, kNonNegative, 0);
  p.C1 = board("com_C_1", kNano, kNonNegative, 0);
  p.passThreshold = in.number("com_pass_threshold", 1, kAny, 3);

  out.value.problems = std::move(in.errors);
  if (!out.value.problems.empty()) out.status = 1, out.message = out.value.problems.front();
  return out;
}

std::vector<std::string> presetFolders() {
  std::vector<std::string> folders;
  if (const char* given = std::getenv("BREVO_COM_PRESETS"); given && *given)
    folders.push_back(given);
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec)
    folders.push_back((self.parent_path().parent_path() / "share" / "brevo" / "com").string());
#ifdef BREVO_COM_INSTALLED_DIR
  folders.push_back(BREVO_COM_INSTALLED_DIR);
#endif
#ifdef BREVO_COM_SOURCE_DIR
  folders.push_back(BREVO_COM_SOURCE_DIR);
#endif
  return folders;
}

std::vector<std::string> presetNames() {
  std::set<std::string> names;
  for (const std::string& folder : presetFolders()) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
      if (e.path().extension() == ".cf" && e.is_regular_file(ec))
        names.insert(e.path().stem().string());
  }
  return {names.begin(), names.end()};
}

brevo::Result<std::string> findPreset(const std::string& value) {
  if (value.find_first_of("/.") != std::string::npos) {
    if (access(value.c_str(), R_OK) != 0)
      return brevo::failure<std::string>("cannot open the preset file " + value);
    return brevo::success(value);
  }
  for (const std::string& folder : presetFolders()) {
    const std::string path = folder + "/" + value + ".cf";
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return brevo::success(path);
  }
  std::string known;
  for (const std::string& n : presetNames()) known += (known.empty() ? "" : ", ") + n;
  return brevo::failure<std::string>(
      "no preset named " + value + " (the presets: " + (known.empty() ? "none found" : known) +
      "; a preset file of your own is named by its path, such as ./" + value + ".cf)");
}

}  // namespace brevo::com
