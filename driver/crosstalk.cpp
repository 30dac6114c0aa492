// Integrated crosstalk noise (ICN) of every aggressor: the Thru list after its first
// entry, then the NEXT list, then the FEXT list.
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string_view>
#include <vector>

#include "channelModel.h"
#include "stages.h"

namespace {

struct KindRule {
  std::string_view text;
  char kind;
};
// Searched in this order, case-sensitively, over the whole name; the first hit decides.
constexpr std::array<KindRule, 7> kKindRules{{{"NEXT", 'N'},
                                              {"FEXT", 'F'},
                                              {"next", 'N'},
                                              {"fext", 'F'},
                                              {"N", 'N'},
                                              {"F", 'F'},
                                              {"n", 'N'}}};

enum class List { thru, next, fext };

// The weights of an aggressor's transfer at its points. They depend only on the
// frequencies and the kind's transmitter filter, so aggressors measured on the same
// points (the usual case) share one table per kind instead of each evaluating them again.
const GridWeights& weightsFor(std::vector<GridWeights>& tables, const Sparams& set,
                              const Derived& d, const LossFit& lossFit, double txTau) {
  const std::vector<double> freq = pointFrequencies(set);
  for (const GridWeights& w : tables)
    if (w.isFor(freq, d.UI, d.rxTau, txTau)) return w;
  if (tables.size() >= 4) tables.erase(tables.begin());  // a few grids at a time
  return tables.emplace_back(weightsOn(d, lossFit, freq, txTau));
}

// What the stage reads and writes while it walks the aggressors, and the tables of
// weights it keeps for them.
struct Walk {
  const RunGiven& given;
  RunIO& io;
  ChannelCache& channels;
  const Sparams& thru;
  const ThruPoints& points;
  const LossFit& lossFit;
  CrosstalkNoise& crosstalk;
  ComChannels& com;
  std::vector<GridWeights> tables;
};

// One aggressor read and integrated: its ICN line, its entry in the budget and its share
// of the per-point coupled power. The aggressor's set lives here only. Returns why it
// was skipped, or nothing.
std::string addAggressor(Walk& walk, channelLine& entry, char kind) {
  const RunGiven& given = walk.given;
  RunIO& io = walk.io;
  CrosstalkNoise& noise = walk.crosstalk;
  const Settings& s = given.settings;
  const Derived& d = given.derived;
  const brevo::Result<ChannelFile> read = readChannelFile(given, io, walk.channels, entry.name);
  const Sparams& xtalk = read.value.set;
  // The reader trims a name it cannot open as given ("x_next3.s4p,"), and the lines
  // after the read name the aggressor as it was read.
  entry.name = readerFileName(entry.name);
  if (xtalk.Fcount() == 0) {
    std::fprintf(io.log, "unable to read %s, skipping\n", entry.name.c_str());
    if (!read.ok()) return read.message;
    if (!read.value.opened) return "the file cannot be opened";
    return "no S-parameters could be read from it";
  }
  // The transfer is taken on the file's own points, which needs ascending frequencies.
  if (const int k = xtalk.firstPointOutOfOrder()) {
    std::fprintf(io.log, "%s: frequency %d (%g Hz) is below the one before it (%g Hz), skipping\n",
                 entry.name.c_str(), k + 1, xtalk.Freq(k), xtalk.Freq(k - 1));
    return "its frequencies are not in ascending order";
  }
  const std::vector<std::complex<double>> X =
      xtalk.aParam(entry.inP, entry.outP, entry.inM, entry.outM, 0, 0, nullptr);
  if (X.empty()) {  // no transfer values to use (our choice): say why
    const int n = xtalk.Size();
    auto inside = [n](int plus, int minus) {
      return plus >= 1 && plus <= n && minus >= 0 && minus <= n;
    };
    if (inside(entry.inP, entry.inM) && inside(entry.outP, entry.outM)) {
      std::fprintf(io.log, "%s: no crosstalk transfer on its frequency points, skipping\n",
                   entry.name.c_str());
      return "no crosstalk transfer on its frequency points";
    }
    std::fprintf(io.log, "%s has only %d ports, skipping\n", entry.name.c_str(), n);
    return "it has only " + std::to_string(n) + " ports";
  }
  // On the file's own points X has one entry per point; should the lookup ever return
  // another grid, only the entries that have a frequency of the file are used.
  const int m = std::min(static_cast<int>(X.size()), xtalk.Fcount());
  warnAboutAggressor(given, io, walk.thru, walk.points, xtalk, entry, kind, X);
  keepComChannel(walk.given, walk.com, xtalk, entry.name,
                 kind == 'N' ? brevo::com::ChannelKind::next : brevo::com::ChannelKind::fext,
                 entry.inP, entry.inM, entry.outP, entry.outM);

  // Coupled power for the Salz S/N, matched to the thru points by index.
  std::vector<double>& xtalkPower = noise.xtalkPower;
  for (int i = 0; i < m && i < static_cast<int>(xtalkPower.size()); ++i)
    xtalkPower[i] += std::abs(X[i] * X[i]);

  const double txTau = kind == 'N' ? d.nearTau : d.farTau;
  const GridWeights& w = weightsFor(walk.tables, xtalk, d, walk.lossFit, txTau);
  double sum = 0;
  for (int i = 0; i == 0 || i + 1 < m; ++i) {  // point 0 always, the last never (unless alone)
    const std::complex<double> y = X[i] * w.pulse[i] * w.rx[i] * w.tx[i];
    // A first point at 0 Hz gets no weight.
    const double width = integrationWidth(w.freq, i, FirstPoint::band);
    sum += std::abs(y * y) * width;
  }
  const double amplitude = kind == 'N' ? s.NEXT_amp : s.signal;
  double icnPower = sum * amplitude * amplitude * d.UI;
  std::fprintf(io.log, "%s %6.3f %c\n", entry.name.c_str(), amplitude, kind);
  icnPower *= d.pamPower;
  std::fprintf(io.result, "%-36s ICN             %11.3fmV\n", entry.name.c_str(),
               1000 * std::sqrt(icnPower));
  (kind == 'N' ? noise.nextIcnPower : noise.fextIcnPower) += icnPower;
  noise.totalNoisePower += icnPower;
  noise.aggressors.push_back(
      {entry.name, kind, icnPower, entry.inP, entry.inM, entry.outP, entry.outM});
  if (io.keepCurves) {
    CrosstalkNoise::Transfer& t = noise.transfers.emplace_back();
    t.name = entry.name;
    t.kind = kind;
    for (int i = 0; i < m; ++i) t.frequency.push_back(xtalk.Freq(i));
    t.transfer.assign(X.begin(), X.begin() + m);
  }
  return {};
}

}  // namespace

char aggressorKind(const std::string& name) {
  for (const KindRule& rule : kKindRules)
    if (name.find(rule.text) != std::string::npos) return rule.kind;
  return 'F';
}

namespace {

// What decided a further thru line's kind, for the warning that it is an aggressor.
std::string kindReason(const std::string& name) {
  for (const KindRule& rule : kKindRules)
    if (name.find(rule.text) != std::string::npos)
      return std::string("its name holds \"") + std::string(rule.text) + "\"";
  return "its name holds none of NEXT, FEXT, next, fext, N, F, n";
}

}  // namespace

void crosstalk(const RunGiven& given, RunIO& io, ChannelCache& channels, const Sparams& thru,
               const ThruPoints& points, const LossFit& lossFit, const NoiseBudget& noise,
               CrosstalkNoise& crosstalk, ComChannels& com) {
  CrosstalkNoise& n = crosstalk;
  n = CrosstalkNoise{};
  n.totalNoisePower = noise.throughNoisePower;
  n.xtalkPower.assign(lossFit.thruPower.size(), 0.0);
  int index = 0;
  Walk aggressors{given, io, channels, thru, points, lossFit, crosstalk, com, {}};
  const struct {
    List list;
    const std::vector<channelLine>* entries;
  } walk[] = {
      {List::thru, &given.thruList}, {List::next, &given.nextList}, {List::fext, &given.fextList}};
  // The file each line names, in walk order: a set read for one line is kept while a
  // later line names its file, and let go after the last.
  std::vector<std::string> files;
  for (const auto& step : walk)
    for (channelLine entry : *step.entries)
      files.push_back(fixChannelLine(entry, given.inP, given.inM, given.outP, given.outM) == 0
                          ? entry.name
                          : "");
  std::size_t line = 0;
  auto letGo = [&](const std::string& name) {
    if (std::find(files.begin() + static_cast<std::ptrdiff_t>(line), files.end(), name) ==
        files.end())
      channels.filesRead.erase(name);
  };
  for (const auto& step : walk) {
    for (std::size_t k = 0; k < step.entries->size(); ++k, ++line) {
      channelLine entry = (*step.entries)[k];  // the lines as given stay as they are
      if (fixChannelLine(entry, given.inP, given.inM, given.outP, given.outM) != 0) {
        std::fprintf(io.log, "problem with %s, skipping it\n", entry.name.c_str());
        if (!(step.list == List::thru && k == 0))
          n.skipped.push_back({entry.name, step.list == List::next ? 'N' : 'F',
                               "its channel line cannot be read", entry.inP, entry.inM, entry.outP,
                               entry.outM});
        ++index;
        continue;
      }
      const bool isThru = step.list == List::thru && k == 0;
      const char* label = step.list == List::next   ? "NEXT"
                          : step.list == List::fext ? "FEXT"
                          : isThru                  ? "Thru"
                                                    : "GEXT";
      std::fprintf(io.log, "%d  %s  %s  %d,%d->%d,%d\n", index, label, entry.name.c_str(),
                   entry.inP, entry.inM, entry.outP, entry.outM);
      if (isThru) continue;  // the through channel itself is no aggressor
      ++index;
      const char kind = step.list == List::next   ? 'N'
                        : step.list == List::fext ? 'F'
                                                  : aggressorKind(entry.name);
      if (step.list == List::thru)
        warn(io, "the further thru line " + entry.name + " is taken as a " +
                     (kind == 'N' ? "NEXT" : "FEXT") + " aggressor (" + kindReason(entry.name) +
                     "); name it on a NEXT= or FEXT= line to say which");
      if (std::string why = addAggressor(aggressors, entry, kind); !why.empty())
        n.skipped.push_back(
            {entry.name, kind, std::move(why), entry.inP, entry.inM, entry.outP, entry.outM});
      letGo(entry.name);
    }
  }
  channels.filesRead.clear();
  for (const auto& skipped : n.skipped)
    warn(io, std::string(skipped.kind == 'N' ? "NEXT" : "FEXT") + " aggressor " + skipped.name +
                 " skipped (" + skipped.reason +
                 "): its crosstalk is missing from the budget, so S/N is too high");
  if (!n.skipped.empty())
    warn(io, std::to_string(n.skipped.size()) + " of " +
                 std::to_string(n.skipped.size() + n.aggressors.size()) + " aggressors skipped");
}
