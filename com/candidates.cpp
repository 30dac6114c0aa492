// The best equaliser settings a search evaluated, and the COM of the chosen setting's
// neighbours on the grid.
#include "candidates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "comDetail.h"

namespace brevo::com::detail {

namespace {

bool ranksAbove(const CandidateList::Entry& a, const CandidateList::Entry& b) {
  if (a.fom != b.fom) return a.fom > b.fom;
  return a.ctl != b.ctl ? a.ctl < b.ctl : a.tx < b.tx;
}

}  // namespace

double CandidateList::floor() const {
  return kept_.size() < n_ ? -std::numeric_limits<double>::infinity() : kept_.back().fom;
}

void CandidateList::offer(double fom, std::size_t ctl, std::size_t tx) {
  if (n_ == 0) return;
  const Entry e{fom, ctl, tx};
  if (kept_.size() == n_ && !ranksAbove(e, kept_.back())) return;
  kept_.insert(std::upper_bound(kept_.begin(), kept_.end(), e, ranksAbove), e);
  if (kept_.size() > n_) kept_.pop_back();
}

void CandidateList::merge(const CandidateList& other) {
  for (const Entry& e : other.kept_) offer(e.fom, e.ctl, e.tx);
}

std::vector<std::string> neighbourLines(const Params& p, const std::vector<Channel>& channels,
                                        std::size_t caseIndex, const CaseResult& chosen) {
  // The chosen setting as a grid of one, in this case alone.
  Params one = p;
  one.reportCandidates = 0;
  one.search = Search::exhaustive;
  one.cases = {p.cases[caseIndex]};
  std::vector<double> taps;  // the swept taps' chosen values, in p.txTaps order
  for (const TxTap& t : p.txTaps) {
    const std::size_t at = static_cast<std::size_t>(chosen.txCursor + t.index);
    taps.push_back(at < chosen.txTaps.size() ? chosen.txTaps[at] : 0.0);
  }
  const auto fixed = [](double v) { return Sweep{v, 0, v}; };
  const auto setting = [&](const std::vector<double>& c, double g, double g2) {
    Params q = one;
    for (std::size_t k = 0; k < q.txTaps.size(); ++k) q.txTaps[k].values = fixed(c[k]);
    q.gDC = fixed(g);
    if (q.twoStage) q.gDC2 = fixed(g2);
    return q;
  };
  struct Swept {
    std::string name;
    const Sweep* sweep;
    int which;  // tap index in taps, -1 gDC, -2 gDC2
  };
  std::vector<Swept> swept;
  for (std::size_t k = 0; k < p.txTaps.size(); ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "c(%d)", p.txTaps[k].index);
    swept.push_back({name, &p.txTaps[k].values, static_cast<int>(k)});
  }
  swept.push_back({"gDC", &p.gDC, -1});
  if (p.twoStage) swept.push_back({"gDC2", &p.gDC2, -2});
  std::vector<std::string> lines;
  for (const Swept& s : swept) {
    if (!(s.sweep->step > 0) || s.sweep->min >= s.sweep->max) continue;  // not searched
    const double at = s.which >= 0    ? taps[static_cast<std::size_t>(s.which)]
                      : s.which == -1 ? chosen.gDC
                                      : chosen.gDC2;
    // The grid point's index, and its neighbours as the grid makes them.
    const std::vector<double> grid = sweepValues(*s.sweep, p.convention == Convention::reference);
    std::size_t k = 0;
    for (std::size_t i = 1; i < grid.size(); ++i)
      if (std::fabs(grid[i] - at) < std::fabs(grid[k] - at)) k = i;
    std::string line;
    char text[160];
    std::snprintf(text, sizeof text, "case %zu: COM %.3f dB at %s %g;", caseIndex + 1, chosen.com,
                  s.name.c_str(), at);
    line = text;
    for (int dir : {-1, 1}) {
      const long j = static_cast<long>(k) + dir;
      if (j < 0 || j >= static_cast<long>(grid.size())) {
        line += dir < 0 ? " one step down is off the grid;" : " one step up is off the grid";
        continue;
      }
      const double v = grid[static_cast<std::size_t>(j)];
      std::vector<double> c = taps;
      double g = chosen.gDC, g2 = chosen.gDC2;
      if (s.which >= 0)
        c[static_cast<std::size_t>(s.which)] = v;
      else if (s.which == -1)
        g = v;
      else
        g2 = v;
      double sum = 0;
      for (double x : c) sum += std::fabs(x);
      // The cursor's floor as exact steps would hold it; the computation's own rule has the
      // last word (its refusal is said as such).
      const bool below = 1 - sum < p.c0min - 1e-12;
      if (below) {
        std::snprintf(text, sizeof text, " %g leaves the cursor below c(0) %g", v, p.c0min);
      } else if (const auto o = computeCom(setting(c, g, g2), channels);
                 !o || o.value.cases.empty()) {
        std::snprintf(text, sizeof text, " %g gives no COM (%s)", v, o.message.c_str());
      } else {
        std::snprintf(text, sizeof text, " %g gives %.3f dB (%+.3f)", v, o.value.cases[0].com,
                      o.value.cases[0].com - chosen.com);
      }
      line += text;
      line += dir < 0 ? ";" : "";
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace brevo::com::detail
