// What a user's assignment did, looked at before it is applied: where each keyword was
// set, and a warning for a name that is no keyword but close to one, or a number whose
// text holds more than the number.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "entry.h"
#include "stages.h"

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Edits (insertions, deletions, substitutions, swaps of neighbours) between a and b,
// letters compared without case.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::string originText(const RunIO::Origin& o) {
  if (o.source == "command line") return "argument " + std::to_string(o.line);
  return o.source + " line " + std::to_string(o.line);
}

std::vector<std::string> nearestKeywords(const RunGiven& given, const std::string& name) {
  const std::vector<std::string> keywords = registeredNames(given.table.get());
  // The same name in another case is what was meant, and nothing else.
  std::vector<std::string> names;
  for (const std::string& k : keywords)
    if (k.size() == name.size() && editDistance(name, k) == 0 && k != name) names.push_back(k);
  if (!names.empty()) return names;
  // Close enough to be a slip: one edit in a short name, two in a longer one; or one of
  // a keyword's own words ("DFE" of N_DFE, "rate" of baud_rate), which no edit count finds.
  const std::size_t limit = name.size() <= 4 ? 1 : 2;
  std::vector<std::pair<std::size_t, std::string>> near;
  // COM's keywords are offered only for a name that begins as they do, so that a run
  // that has nothing to do with COM hears nothing of them.
  const auto comLike = [](const std::string& n) {
    return n.size() >= 3 && lower(n[0]) == 'c' && lower(n[1]) == 'o' && lower(n[2]) == 'm';
  };
  for (const std::string& k : keywords) {
    if (comLike(k) && !comLike(name)) continue;
    std::size_t d = editDistance(name, k);
    for (std::size_t start = 0; d > limit && name.size() >= 3 && start < k.size();) {
      const std::size_t end = std::min(k.find('_', start), k.size());
      if (end - start == name.size() && editDistance(name, k.substr(start, end - start)) == 0)
        d = limit;
      start = end + 1;
    }
    if (d <= limit) near.emplace_back(d, k);
  }
  std::stable_sort(near.begin(), near.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < near.size() && i < 3; ++i) names.push_back(near[i].second);
  return names;
}

std::string noteAssignment(const RunGiven& given, RunIO& io, std::string_view text,
                           const RunIO::Origin& where) {
  const AssignmentView v = inspectAssignment(given.table.get(), text);
  if (v.name.empty()) return v.name;
  RunIO::Origin origin = where;
  origin.sequence = ++io.assignments;
  const std::string at = originText(origin);
  if (!v.known) {
    // A line of prose holding "=" (a comment) names nothing a user meant to set.
    if (v.name.find_first_of("# \t!") != std::string::npos) return v.name;
    // A name far from every keyword is taken as the user's own text variable, which
    // "%" may refer to; only a near miss is said.
    const std::vector<std::string> near = nearestKeywords(given, v.name);
    if (near.empty()) return v.name;
    std::string list;
    for (std::size_t i = 0; i < near.size(); ++i)
      list += (i == 0 ? "" : i + 1 == near.size() ? " or " : ", ") + near[i];
    warn(io, "unknown keyword " + v.name + " (" + at + ") kept as a text variable; did you mean " +
                 list + "?");
    return v.name;
  }
  auto found = std::find_if(io.origins.begin(), io.origins.end(),
                            [&](const auto& e) { return e.first == v.name; });
  if (found == io.origins.end())
    io.origins.emplace_back(v.name, origin);
  else
    found->second = origin;
  if (v.indirect || v.used == v.value.size()) return v.name;
  const bool engineering = v.type == 'e' || v.type == 'E';
  if (v.used == 0) {
    warn(io, v.name + "=" + v.value + " (" + at + "): no number in \"" + v.value + "\"; " +
                 (engineering ? "0 taken" : "not assigned, the value before stays"));
    return v.name;
  }
  char taken[64];
  const std::string number = v.value.substr(0, v.used);
  std::snprintf(taken, sizeof taken, "%g",
                engineering     ? eng_strtod(v.value.c_str())
                : v.type == 'x' ? static_cast<double>(std::strtol(number.c_str(), nullptr, 16))
                                : std::strtod(number.c_str(), nullptr));
  warn(io, v.name + "=" + v.value + " (" + at + "): " + taken + " taken from \"" +
               v.value.substr(0, v.used) + "\", \"" + v.value.substr(v.used) + "\" ignored");
  return v.name;
}
