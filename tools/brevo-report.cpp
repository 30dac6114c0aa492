// brevo-report: one Brevo run in this process, kept in a folder with its page. The folder
// receives report.html (one self-contained page: header, warnings, figures, the noise
// budget, the charts of the run's waveforms and, with com, the COM section), run.report
// and run.log (the run's standard output and standard error, as Brevo prints them),
// run.json (the run record, as summary= writes it) and, when the run saves side files,
// copies of them as run.wv1, run.fd and run.wv2 (the run writes its own where Brevo would).
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "outputFile.h"
#include "report_assets.h"
#include "MemoryText.h"
#include "stages.h"
#include "variants.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

constexpr int kOwnFailure = 2;  // usage, or the folder or the charting code out of reach

const char kUsageText[] =
    "usage: brevo-report OUTDIR ARGUMENTS...\n"
    "Runs Brevo on ARGUMENTS (as Brevo takes them, except that none is an option: a\n"
    "first argument holding -c, -b or -? is a control file or an assignment like the\n"
    "rest) and writes into OUTDIR, made\n"
    "when missing: report.html (the run's page, one file that works offline), run.report\n"
    "(Brevo's standard output), run.log (its standard error), run.json (the run record)\n"
    "and, when the run saves side files, their copies run.wv1, run.fd and run.wv2.\n"
    "The charting code is read from BREVO_DYGRAPHS_DIR, else\n"
    "/usr/share/javascript/dygraphs (dygraph.min.js and dygraph.min.css).\n"
    "Exit status: the run's (as Brevo's); 2 for a usage error, an OUTDIR that cannot be\n"
    "written or charting code that cannot be read, said on standard error.\n";

int failure(const std::string& text) {
  std::fprintf(stderr, "brevo-report: %s\n", text.c_str());
  return kOwnFailure;
}

// A whole file's bytes; false when it cannot be read.
bool readWhole(const fs::path& path, std::string& text) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  text.clear();
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
    text.append(buffer, n);
  return std::ferror(file.get()) == 0;
}

// Writes text to path whole; the reason when it could not ("" when written).
std::string writeWhole(const fs::path& path, std::string_view text) {
  errno = 0;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return std::strerror(errno != 0 ? errno : EIO);
  errno = 0;
  const int writeError = std::fwrite(text.data(), 1, text.size(), file) == text.size() ? 0
                         : errno != 0                                                  ? errno
                                                                                       : EIO;
  const FileStatus closing = finishOutput(file, true);
  return writeError != 0 ? std::strerror(writeError) : closing.message;
}

// Every stage the run went through, with its status, for the run record.
class StageList : public StageObserver {
 public:
  void finished(Stage stage, int status) override { stages.emplace_back(stage, status); }
  std::vector<std::pair<Stage, int>> stages;
};

// A value as the page draws it: six significant digits (hover values show them), null
// for what is not finite.
json plotted(double v) {
  if (!std::isfinite(v)) return nullptr;
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return std::strtod(text, nullptr);
}

double dB(std::complex<double> v) { return 20 * std::log10(std::abs(v)); }

// The samples a chart keeps of [begin, end): all of them when few; else, for each of
// `columns` equal runs of samples (about one pixel column each), those holding the
// smallest and largest value of every curve, so every peak and notch the eye could see
// stays.
void thin(const std::vector<const std::vector<double>*>& curves, std::size_t begin, std::size_t end,
          std::size_t columns, std::vector<std::size_t>& kept) {
  const std::size_t n = end - begin;
  if (n <= 2 * columns) {
    for (std::size_t i = begin; i < end; ++i) kept.push_back(i);
    return;
  }
  for (std::size_t c = 0; c < columns; ++c) {
    const std::size_t from = begin + c * n / columns, to = begin + (c + 1) * n / columns;
    std::vector<std::size_t> run = {from, to - 1};
    for (const std::vector<double>* y : curves) {
      std::size_t low = from, high = from;
      for (std::size_t i = from; i < to; ++i) {
        if (!std::isfinite((*y)[low]) || (*y)[i] < (*y)[low]) low = i;
        if (!std::isfinite((*y)[high]) || (*y)[i] > (*y)[high]) high = i;
      }
      run.push_back(low), run.push_back(high);
    }
    std::sort(run.begin(), run.end());
    run.erase(std::unique(run.begin(), run.end()), run.end());
    kept.insert(kept.end(), run.begin(), run.end());
  }
}

// A chart's data: the x values and one array per named curve, thinned together to about
// 1000 columns; the samples with x in [keepFrom, keepTo] (the part the chart first shows
// zoomed in) are all kept, and the rest thinned to 500 columns either side.
json chart(const std::vector<double>& x,
           const std::vector<std::pair<std::string, std::vector<double>>>& curves,
           double keepFrom = 0, double keepTo = -1) {
  std::vector<const std::vector<double>*> ys;
  for (const auto& c : curves) ys.push_back(&c.second);
  std::vector<std::size_t> kept;
  if (keepFrom <= keepTo) {
    const std::size_t a =
        static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), keepFrom) - x.begin());
    const std::size_t b =
        static_cast<std::size_t>(std::upper_bound(x.begin(), x.end(), keepTo) - x.begin());
    thin(ys, 0, a, 500, kept);
    for (std::size_t i = a; i < b; ++i) kept.push_back(i);
    thin(ys, b, x.size(), 500, kept);
  } else {
    thin(ys, 0, x.size(), 1000, kept);
  }
  json data = {{"x", json::array()}, {"names", json::array()}, {"y", json::array()}};
  for (std::size_t i : kept) data["x"].push_back(plotted(x[i]));
  for (const auto& [name, y] : curves) {
    json column = json::array();
    for (std::size_t i : kept) column.push_back(plotted(y[i]));
    data["names"].push_back(name);
    data["y"].push_back(std::move(column));
  }
  return data;
}

std::vector<double> scaled(const std::vector<double>& v, double factor) {
  std::vector<double> out(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = v[i] * factor;
  return out;
}

// What the page draws beyond the run record: the run's facts for the header and the
// charts' waveforms, times in UI at the run's rate and frequencies in GHz.
json pageFacts(const RunState& rs) {
  const Settings& s = rs.given.settings;
  const ShortCurves& c = rs.pulse.curves;
  const GridCurves& g = rs.ildAfterDfe.curves;
  const double ui = rs.given.derived.UI;
  json facts = {{"version", BREVO_VERSION},
                {"rate", plotted(s.data_rate)},
                {"pam", s.PAM},
                {"ndfe", plotted(s.N_DFE)},
                {"nyquist_GHz", plotted(s.data_rate / 2e9)}};
  const int points = rs.thru.set.Fcount();
  if (points > 0) {
    // The ILD that counts lies below the receiver bandwidth.
    const double first = rs.thru.set.Freq(0), last = rs.thru.set.Freq(points - 1);
    const double rx = rs.given.derived.rxTau > 0 ? 1 / rs.given.derived.rxTau : last;
    const FittedBand band = fittedBand(rs.given, rs.thru.set);
    facts["fit_band_GHz"] = {plotted(band.from / 1e9), plotted(band.to / 1e9)};
    facts["ild_band_GHz"] = {plotted(first / 1e9), plotted(std::min(last, rx) / 1e9)};
  }
  if (ui > 0 && !c.time.empty()) {
    facts["delay_UI"] = plotted(rs.pulse.groupDelay / ui);
    facts["pulse"] = chart(scaled(c.time, 1 / ui),
                           {{"pulse", c.pulse}, {"dibit", c.dibit}, {"fitted pulse", c.fitPulse}});
  }
  if (!g.frequency.empty()) {
    std::vector<double> loss(g.thru.size()), fit(g.fit.size()), ild(g.thru.size());
    for (std::size_t i = 0; i < loss.size(); ++i) {
      loss[i] = dB(g.thru[i]), fit[i] = dB(g.fit[i]);
      ild[i] = loss[i] - fit[i];
    }
    facts["loss"] =
        chart(scaled(g.frequency, 1e-9), {{"insertion loss", loss}, {"fit", fit}, {"ILD", ild}});
  }
  if (ui > 0 && !g.periodTime.empty()) {
    // The chart opens on the DFE span, from 10 UI before it to 40 UI after it.
    const double span = rs.pulse.dibitPeakTime / ui;
    facts["period"] = chart(scaled(g.periodTime, 1 / ui),
                            {{"pulse", g.periodPulse},
                             {"fitted pulse", g.periodFitPulse},
                             {"ILD pulse", g.periodIldPulse}},
                            span - 10, span + s.N_DFE + 40);
    facts["dfe_UI"] = {plotted(span), plotted(span + s.N_DFE)};
  }
  // Each aggressor's transfer beside the thru's Sdd21, each on its own file's points.
  json transfers = json::array();
  const std::vector<CrosstalkNoise::Transfer>& aggressors = rs.crosstalk.transfers;
  if (!aggressors.empty() && points > 0 &&
      rs.points.Sdd21.size() == static_cast<std::size_t>(points)) {
    std::vector<double> f(points), gain(points);
    for (int i = 0; i < points; ++i)
      f[i] = rs.thru.set.Freq(i) / 1e9, gain[i] = dB(rs.points.Sdd21[i]);
    transfers.push_back(chart(f, {{"thru Sdd21", gain}}));
  }
  for (const CrosstalkNoise::Transfer& t : aggressors) {
    std::vector<double> gain(t.transfer.size());
    for (std::size_t i = 0; i < gain.size(); ++i) gain[i] = dB(t.transfer[i]);
    transfers.push_back(chart(scaled(t.frequency, 1e-9),
                              {{t.name + (t.kind == 'N' ? " (NEXT)" : " (FEXT)"), gain}}));
  }
  facts["crosstalk"] = std::move(transfers);
  return facts;
}

std::string htmlText(std::string_view text) {
  std::string out;
  for (char ch : text) {
    if (ch == '<')
      out += "&lt;";
    else if (ch == '>')
      out += "&gt;";
    else if (ch == '&')
      out += "&amp;";
    else if (ch == '"')
      out += "&quot;";
    else
      out += ch;
  }
  return out;
}

// Code inlined into a <script> or <style> element: "</script" or "</style" in it (in a
// string or a comment) would end the element early, so they become "<\/script", "<\/style".
std::string inlined(std::string_view code) {
  std::string out;
  for (std::size_t i = 0; i < code.size(); ++i) {
    out += code[i];
    if (code[i] != '<' || i + 1 >= code.size() || code[i + 1] != '/') continue;
    std::string next(code.substr(i + 2, 6));
    for (char& ch : next) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (next == "script" || next.starts_with("style")) out += '\\';
  }
  return out;
}

// The page: one file, the charting code, its style and the page's own inlined, the data
// as one JSON object (every "<" written \u003c, so no text in it ends its element).
std::string page(const std::string& title, const json& data, const std::string& charts,
                 const std::string& chartStyle) {
  std::string text = data.dump(-1, ' ', false, json::error_handler_t::replace);
  std::string escaped;
  for (char ch : text) ch == '<' ? escaped += "\\u003c" : escaped += ch;
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  html += htmlText(title);
  html += "</title>\n<style>\n" + inlined(chartStyle) + "\n</style>\n<style>\n" +
          inlined(kPageStyle) + "</style>\n</head>\n<body>\n";
  html +=
      "<noscript>This page draws its tables and charts with JavaScript.</noscript>\n<main "
      "id=\"page\"></main>\n";
  html += "<script type=\"application/json\" id=\"run-data\">" + escaped + "</script>\n";
  html += "<script>\n" + inlined(charts) + "\n</script>\n<script>\n" + inlined(kPageScript) +
          "</script>\n</body>\n</html>\n";
  return html;
}

// Why a run failed, as its log says: the last line before the warnings that end it
// ("cannot open lane.s4p", "problem with thru channel:  lane.s4p").
std::string failureReason(std::string_view log) {
  std::string_view reason;
  while (!log.empty()) {
    std::size_t end = log.size();
    if (log.back() == '\n') --end;
    const std::size_t start = log.rfind('\n', end == 0 ? 0 : end - 1);
    const std::string_view line =
        log.substr(start == std::string_view::npos ? 0 : start + 1,
                   end - (start == std::string_view::npos ? 0 : start + 1));
    log = log.substr(0, start == std::string_view::npos ? 0 : start + 1);
    if (line.empty() || line.starts_with("warning: ")) continue;
    reason = line;
    break;
  }
  return std::string(reason);
}

std::string utcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("brevo-report %s\n", BREVO_VERSION);
    return 0;
  }
  if (argc < 3) {
    std::fputs(
        argc < 2 ? "brevo-report: no OUTDIR given\n" : "brevo-report: no Brevo arguments given\n",
        stderr);
    std::fputs(kUsageText, stderr);
    return kOwnFailure;
  }
  const fs::path out = argv[1];
  const char* given = std::getenv("BREVO_DYGRAPHS_DIR");
  const fs::path chartsDir = given && *given ? given : "/usr/share/javascript/dygraphs";
  std::string charts, chartStyle;
  if (!readWhole(chartsDir / "dygraph.min.js", charts) ||
      !readWhole(chartsDir / "dygraph.min.css", chartStyle))
    return failure("cannot read the charting code dygraph.min.js and dygraph.min.css in " +
                   chartsDir.string() + " (Debian: libjs-dygraphs; or set BREVO_DYGRAPHS_DIR)");
  std::error_code made;
  fs::create_directories(out, made);
  if (made || !fs::is_directory(out))
    return failure("cannot make the folder " + out.string() + (made ? ": " + made.message() : ""));
  // Every file of the folder is written after the run; one written now shows that it can be.
  if (const std::string why = writeWhole(out / "run.report", ""); !why.empty())
    return failure("cannot write into " + out.string() + ": " + why);

  keepFreedMemory();  // as Brevo does: freed file buffers stay for the next file
  MemoryText standardOutput, standardError;
  if (!standardOutput.ok() || !standardError.ok()) return failure("out of memory");
  RunState rs;
  rs.io.standardOutput = standardOutput.stream();
  rs.io.standardError = standardError.stream();
  rs.io.arguments.assign(argv + 1, argv + argc);
  rs.io.arguments.front() = "Brevo";
  // Every argument is a control file or an assignment: a first one holding "-c", "-b" or
  // "-?" (my-cable.cf, /x/sub-board/run.cf) runs as it is instead of printing the starter
  // file. Nothing else of the run changes: its report, log and record are Brevo's.
  rs.io.argumentsOnly = true;
  rs.io.keepCurves = true;
  StageList stages;
  const int status = runAnalysis(rs, &stages);

  const std::string record = runRecordText(rs, stages.stages, status);
  if (record.empty()) return failure("out of memory");
  std::string report = standardOutput.take(), log = standardError.take();
  std::string html;
  try {
    json data = {{"record", json::parse(record)}, {"page", pageFacts(rs)}};
    data["page"]["date"] = utcNow();
    if (status != 0) data["page"]["failure"] = failureReason(log);
    const json& thru = data["record"]["thru"];
    const std::string channel = thru.is_object() ? thru["file"].get<std::string>() : "no channel";
    html = page("Brevo report: " + channel, data, charts, chartStyle);
  } catch (const std::exception&) {  // only memory can run out here
    return failure("out of memory");
  }

  std::vector<std::pair<std::string, std::string>> files = {
      {"run.report", std::move(report)}, {"run.log", std::move(log)}, {"run.json", record}};
  // The side files this run wrote (a stage it reached keeps their curves too); a copy left
  // in the folder by an earlier run goes.
  const std::pair<const char*, bool> sides[] = {
      {".wv1", !rs.pulse.curves.time.empty()},
      {".fd", !rs.ildAfterDfe.curves.frequency.empty()},
      {".wv2", !rs.ildAfterDfe.curves.periodTime.empty()}};
  for (const auto& [suffix, written] : sides) {
    std::string side;
    const std::string name = std::string("run") + suffix;
    if (written && !rs.given.saveBase.empty() &&
        readWhole(rePath(rs.given.baseDirectory.c_str(), rs.given.saveBase.c_str(), suffix), side))
      files.emplace_back(name, std::move(side));
    else if (std::error_code ignored; fs::exists(out / name, ignored))
      fs::remove(out / name, ignored);
  }
  files.emplace_back("report.html", std::move(html));
  for (const auto& [name, text] : files)
    if (const std::string why = writeWhole(out / name, text); !why.empty())
      return failure("cannot write " + (out / name).string() + ": " + why);
  return status;
}
