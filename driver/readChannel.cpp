// Reading one channel file. A file that declares [Version] 2.0 or 2.1 goes to the
// standard reader, which says on the log how it was read; every other file goes to the
// long-standing reader exactly as before, with one warning when that reader, which
// takes every file as S-parameters at 50 ohm, would misread it.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "TouchstoneStandard.h"
#include "stages.h"

namespace {

std::string ohms(const std::vector<double>& r) {
  std::string s;
  for (double v : r) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%g", s.empty() ? "" : " ", v);
    s += text;
  }
  return s;
}

// The converted file's suggested name: the stem, "_s50" and the extension, a ".z4p"
// style one turned into ".s4p".
std::string convertedName(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = name.size();
  std::string ext = name.substr(dot);
  if (ext.size() >= 4 && std::string("yYzZhHgG").find(ext[1]) != std::string::npos) ext[1] = 's';
  return name.substr(0, dot) + "_s50" + ext;
}

// The one warning line for a Version 1.x file the long-standing reader misreads.
void warnMisread(RunState& rs, const std::string& name, const Sparams& set) {
  const Version1Declarations d = declarationsOf(name);
  if (!d.optionLine) return;
  std::string what;
  auto add = [&](const std::string& s) { what += (what.empty() ? "" : ", ") + s; };
  if (d.parameter != 'S') add(std::string(1, d.parameter) + " data taken as S-parameters");
  if (d.R.size() > 1) add("per-port R " + ohms(d.R) + " taken as 50 ohm");
  else if (d.R.size() == 1 && d.R.front() != 50) add("R " + ohms(d.R) + " taken as 50 ohm");
  if (d.commentAfterData)
    add("the comment after the numbers of line " + std::to_string(d.commentAfterData) + " taken as a value");
  if (set.Size() == 2) {
    if (const int k = set.firstPointOutOfOrder(true))
      add("the noise block from point " + std::to_string(k + 1) + " taken as network data");
  }
  if (what.empty()) return;
  warn(rs, name + " will be misread (" + what + "); convert it first: brevo-touchstone " + name + " " +
               convertedName(name));
}

}  // namespace

Sparams readChannelFile(RunState& rs, const std::string& name, std::string* error, std::string* how) {
  error->clear();
  std::string said;
  if (!how) how = &said;
  // Only a regular file can be looked at before it is read: a pipe gives its bytes once,
  // to the long-standing reader as always.
  struct stat st;
  const bool regular = stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  if (!regular || touchstoneVersionOf(name) != 2) {
    Sparams set(name, rs.log);
    if (regular) warnMisread(rs, name, set);
    *how = "Touchstone 1.x, read as S-parameters at 50 ohm";
    return set;
  }
  const TouchstoneFile f = readTouchstone(name);
  for (const auto& d : f.info.deviations) warn(rs, f.message(d) + "; " + d.taken);
  if (!f.ok) {
    *error = f.message();
    std::fprintf(rs.log, "%s\n", error->c_str());
    return Sparams();
  }
  std::fprintf(rs.log, "%s\n", f.summary().c_str());
  *how = f.summary().substr(name.size() + 2);
  return f.set;
}
