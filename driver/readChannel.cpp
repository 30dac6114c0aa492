// Reading one channel file. A file that declares [Version] 2.0 or 2.1 goes to the
// standard reader, which says on the log how it was read; every other file goes to the
// long-standing reader exactly as before, with one warning when that reader, which
// takes every file as S-parameters at 50 ohm, would misread it.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "MemoryText.h"
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

// What a Version 1.x file's option line declares, into read.info, and the one warning
// line for a file the long-standing reader misreads, from what the file's text declares.
void warnMisread(ReadChannel& read, const std::string& name, const Sparams& set, const Version1Declarations& d) {
  if (!d.optionLine) return;
  read.info.parameter = d.parameter;
  read.info.optionR = d.R.empty() ? 50 : d.R.front();
  if (d.R.size() > 1) read.info.references = d.R;
  else read.info.references.assign(static_cast<std::size_t>(set.Size()), read.info.optionR);
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
  read.warnings.push_back(name + " will be misread (" + what + "); convert it first: brevo-touchstone " + name +
                          " " + convertedName(name));
}

}  // namespace

ReadChannel readChannel(const std::string& name) {
  ReadChannel read;
  MemoryText log;
  // Only a regular file can be looked at before it is read: a pipe gives its bytes once,
  // to the long-standing reader as always.
  struct stat st;
  const bool regular = stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  if (!regular || touchstoneVersionOf(name) != 2) {
    // The declarations come from the bytes the reader holds: the file is read once.
    Version1Declarations declared;
    read.set = Sparams(name, log.stream(), [&](std::string_view text) {
      if (regular) declared = declarationsOf(text, name);
    });
    read.info.version = "1.x";
    read.info.ports = read.set.Size();
    read.info.points = read.set.Fcount();
    read.info.references.assign(static_cast<std::size_t>(read.set.Size()), 50.0);
    if (regular) warnMisread(read, name, read.set, declared);
    read.how = "Touchstone 1.x, read as S-parameters at 50 ohm";
    read.logText = log.take();
    return read;
  }
  const TouchstoneFile f = readTouchstone(name);
  for (const auto& d : f.info.deviations) read.warnings.push_back(f.message(d) + "; " + d.taken);
  if (!f.ok) {
    read.error = f.message();
    read.logText = read.error + "\n";
    return read;
  }
  read.logText = f.summary() + "\n";
  read.how = f.summary().substr(name.size() + 2);
  read.set = f.set;
  read.info = f.info;
  return read;
}

namespace {

// The stamp of a regular file, or nothing (a pipe, a missing file: read each time).
std::optional<FileStamp> stampOf(const std::string& name) {
  struct stat st;
  if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  FileStamp s;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.seconds = st.st_mtim.tv_sec;
  s.nanoseconds = st.st_mtim.tv_nsec;
  return s;
}

// The file as read before in this run when it has not changed since, else read now and
// kept for the next channel line that names it (unless it changed while being read).
std::shared_ptr<const ReadChannel> readOnce(RunState& rs, const std::string& name) {
  const std::optional<FileStamp> before = stampOf(name);
  const auto known = rs.filesRead.find(name);
  if (before && known != rs.filesRead.end() && known->second.stamp == *before) return known->second.read;
  auto read = std::make_shared<const ReadChannel>(readChannel(name));
  if (before && stampOf(name) == before) rs.filesRead[name] = {*before, read};
  else rs.filesRead.erase(name);
  return read;
}

}  // namespace

Sparams readChannelFile(RunState& rs, const std::string& name, std::string* error, std::string* how) {
  const auto kept = rs.readChannels.find(name);
  const std::shared_ptr<const ReadChannel> held =
      kept != rs.readChannels.end() ? kept->second : readOnce(rs, name);
  const ReadChannel& read = *held;
  // The reader's lines and warnings, as if the file had been read here and now.
  std::fwrite(read.logText.data(), 1, read.logText.size(), rs.log);
  for (const std::string& w : read.warnings) warn(rs, w);
  *error = read.error;
  if (how) *how = read.how;
  return read.set;
}
