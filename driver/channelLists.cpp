// Channel lists, port settling, stream switches and the choice of the through channel.
#include "channelLists.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <vector>

#include "entry.h"
#include "outputFile.h"
#include "stages.h"
#include "variants.h"

namespace {

// Moves a one-shot channel text into its list; returns the new number of entries,
// 0 when the text was empty.
std::size_t takeChannel(char* text, std::vector<channelLine>& list) {
  if (text[0] == '\0') return 0;
  list.push_back(channelLine{text});
  text[0] = '\0';
  return list.size();
}

// Switches the result or log stream to the file named by the setting, if one is named,
// or to its standard stream when the file cannot be opened; then empties the setting.
// Both lines go to the log as it is after the switch. A replaced stream is never read
// again: we close it unless it is one of the run's standard streams, and a closed one that
// lost output is said on standard error as at the end of the run ("could not write the
// WHAT: REASON").
void switchStream(const RunGiven& given, RunIO& io, FILE*& stream, char* name, FILE* fallback,
                  const char* openedLine, const char* failedLine, const char* what) {
  if (name[0] == '\0') return;
  FILE* old = stream;
  // The old stream's buffer goes out first, so that a file named again is not overwritten
  // later by it.
  FileStatus lost = finishOutput(old, false);
  FILE* opened = std::fopen(rePath(given.baseDirectory.c_str(), name, nullptr).c_str(), "w");
  stream = opened ? opened : fallback;
  if (opened && openedLine) std::fprintf(io.log, openedLine, name);
  if (!opened) std::fprintf(io.log, failedLine, name);
  if (old != stream && old != io.standardOutput && old != io.standardError) {
    const FileStatus closing = finishOutput(old, true);
    if (lost.ok()) lost = closing;
    if (!lost.ok()) sayStreamLost(io.standardError, what, lost);
  }
  name[0] = '\0';
}

bool isBlankLike(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

}  // namespace

void updateListsAndStreams(RunGiven& given, RunIO& io) {
  Settings& s = given.settings;
  for (const char* text : {s.Thru, s.NEXT, s.FEXT, s.results, s.log}) {
    if (text[0] == '\0') continue;
    auto kept = std::find_if(io.takenTexts.begin(), io.takenTexts.end(),
                             [&](const auto& t) { return t.first == text; });
    if (kept == io.takenTexts.end())
      io.takenTexts.emplace_back(text, text);
    else
      kept->second = text;
  }
  const std::string thru = s.Thru;
  if (std::size_t n = takeChannel(s.Thru, given.thruList)) {
    if (n == 1)
      std::fprintf(io.log, "thru channel         = %s\n", thru.c_str());
    else
      std::fprintf(io.log, "crosstalk channel %d = %s\n", static_cast<int>(n - 1), thru.c_str());
  }
  const std::string next = s.NEXT;
  if (std::size_t n = takeChannel(s.NEXT, given.nextList))
    std::fprintf(io.log, "NEXT channel %2d     = %s\n", static_cast<int>(n), next.c_str());
  const std::string fext = s.FEXT;
  if (std::size_t n = takeChannel(s.FEXT, given.fextList))
    std::fprintf(io.log, "FEXT channel %2d     = %s\n", static_cast<int>(n), fext.c_str());
  switchStream(given, io, io.result, s.results, io.standardOutput, nullptr,
               "cannot open %s, will use default results output\n", "report");
  switchStream(given, io, io.log, s.log, io.standardError, "opened %s as LOG\n",
               "cannot open %s, will use default log\n", "log");
}

int fixChannelLine(channelLine& entry, int inP, int inM, int outP, int outM) {
  entry.inP = inP;
  entry.inM = inM;
  entry.outP = outP;
  entry.outM = outM;

  // Blanks from the last character back to the second end words; the first word
  // always starts at the first character.
  std::string line = entry.name;
  for (std::size_t i = line.size(); i-- > 1;)
    if (std::isspace(static_cast<unsigned char>(line[i]))) line[i] = '\0';
  std::vector<const char*> words{line.c_str()};
  for (std::size_t i = 1; i < line.size(); ++i)
    if (line[i - 1] == '\0' && line[i] != '\0') words.push_back(line.c_str() + i);
  entry.name = words[0];

  // A word that is not a number keeps the default it stands for.
  int a = 0, b = 0;
  unsigned hex = 0;
  switch (words.size()) {
    case 1:
      return 0;
    case 2:  // one hexadecimal word: high digit the plus port, low digit the minus port
      if (std::sscanf(words[1], "%x", &hex) == 1) {
        entry.inP = static_cast<int>(hex / 16);
        entry.inM = static_cast<int>(hex % 16);
      }
      return 0;
    case 3:
      if (std::sscanf(words[1], "%d", &a) == 1) entry.inP = a;
      if (std::sscanf(words[2], "%d", &b) == 1) entry.inM = b;
      return 0;
    case 5: {
      int* ports[] = {&entry.inP, &entry.inM, &entry.outP, &entry.outM};
      for (int k = 0; k < 4; ++k)
        if (std::sscanf(words[k + 1], "%i", &a) == 1) *ports[k] = a;
      return 0;
    }
    default:
      return 1;
  }
}

std::string saveBaseName(const char* saveFile) {
  std::string base = saveFile;
  if (base.size() <= 2) return {};
  for (std::size_t i = base.size(); i-- > 1;) {
    if (base[i] == '.') {
      base.resize(i);
      break;
    }
    if (isBlankLike(base[i])) base[i] = '\0';
  }
  return base.c_str();  // up to the first terminator
}

int selectThru(RunGiven& given, RunIO& io) {
  if (given.thruList.empty()) return noThru(io);
  const Settings& s = given.settings;
  given.inP = s.input_ports / 16;
  given.inM = s.input_ports % 16;
  given.outP = s.output_ports / 16;
  given.outM = s.output_ports % 16;

  channelLine& thru = given.thruList.front();
  if (fixChannelLine(thru, given.inP, given.inM, given.outP, given.outM)) {
    std::fprintf(io.log, "problem with thru channel:  %s\n", thru.name.c_str());
    return 10;
  }
  if (thru.inP != given.inP || thru.inM != given.inM || thru.outP != given.outP ||
      thru.outM != given.outM) {
    const char* warning = "warning:  changing input and/or output ports\n";
    std::fputs(warning, io.log);
    std::fputs(warning, io.result);
    char ports[160];
    std::snprintf(ports, sizeof ports,
                  "the thru line changes the ports from %X %X => %X %X to %X %X => %X %X",
                  given.inP, given.inM, given.outP, given.outM, thru.inP, thru.inM, thru.outP,
                  thru.outM);
    warn(io, ports);
    given.inP = thru.inP;
    given.inM = thru.inM;
    given.outP = thru.outP;
    given.outM = thru.outM;
  }
  given.saveBase = saveBaseName(s.save_file);
  warnAboutSaveBase(given, io);
  return 0;
}

int noThru(RunIO& io) {
  const char* message = "cannot open a thru file\n";
  std::fputs(message, io.standardError);
  std::fputs(message, io.log);
  std::fputs(message, io.result);
  return 1;
}
