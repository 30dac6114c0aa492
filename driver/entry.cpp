// Options, defaults and arguments of a run, and the clean-up of its streams.
#include "entry.h"

#include <cstdio>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "outputFile.h"
#include "presets.h"
#include "stages.h"
#include "variants.h"

namespace {

// Longest piece of a control-file line handled at once; a longer line becomes
// several pieces, each applied as a line of its own.
constexpr int kLinePiece = 998;

// Every line of an open control file, each echoed on the log and applied.
void applyControlLines(RunGiven& given, RunIO& io, FILE* file, const char* name) {
  char piece[kLinePiece + 1];
  int line = 1;
  while (std::fgets(piece, sizeof piece, file)) {
    std::fputs(piece, io.log);
    applyUserAssignment(given, io, piece, {name, line});
    if (std::strchr(piece, '\n')) ++line;
  }
}

}  // namespace

// A run reads its files one after the other, each into buffers of megabytes. Freed
// buffers stay with the process for the next file: handing them back to the system
// after every file and faulting them in again made reading them 1.7 times as slow.
void keepFreedMemory() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 << 20);   // blocks below this come from the heap
  mallopt(M_TRIM_THRESHOLD, 256 << 20);  // free heap kept up to this before trimming
#endif
}

bool isStarterOption(const char* firstArgument) {
  return std::strstr(firstArgument, "-b") || std::strstr(firstArgument, "-c");
}

bool isHelpOption(const char* firstArgument) { return std::strstr(firstArgument, "-?") != nullptr; }

int printUsage(RunIO& io) {
  std::fputs(kUsageLine, io.log);
  return 2;
}

// The status is the number of command-line words, program name included.
int printStarter(RunIO& io) {
  std::fputs(kStarterControlFile, io.result);
  return static_cast<int>(io.arguments.size());
}

int printHelp(RunIO& io) {
  std::fprintf(io.standardOutput, "Brevo: %s", kHelpText);
  return 0;
}

void applyDefaults(RunGiven& given, RunIO& io) {
  std::string_view text = kStarterControlFile;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = line.substr(0, line.find('#'));  // every "#" starts a comment
    equal(given.table.get(), line, io.log);
  }
}

void applyUserAssignment(RunGiven& given, RunIO& io, std::string_view text,
                         const RunIO::Origin& origin) {
  const std::string name = noteAssignment(given, io, text, origin);
  const int status = equal(given.table.get(), text, io.log);
  updateListsAndStreams(given, io);
  if (status == 0 && name == "com") applyComPreset(given, io);
}

void applyComPreset(RunGiven& given, RunIO& io) {
  ComPreset& c = given.com;
  const std::string value = given.comPreset;
  // A preset may name another (its own settings on top of a shipped one): the run's COM
  // is still the outer preset's, with the first problem met on the way.
  const bool outer = c.depth == 0;
  if (outer) {
    c.preset = value;
    c.path.clear();
    c.error.clear();
  }
  c.requested = !value.empty();
  if (!c.requested) return;
  const auto fail = [&](const std::string& why) {
    std::fprintf(io.log, "%s\n", why.c_str());
    if (c.error.empty()) c.error = why;
  };
  if (c.depth >= 8) return fail("com=" + value + ": presets name presets more than 8 deep");
  const bool sheet = isComSheet(value);
  brevo::Result<ComSheet> converted;
  if (sheet) {
    converted = convertComSheet(value);
    if (!converted.value.tool.empty())
      std::fprintf(io.log, "reading the parameter sheet %s with %s\n", value.c_str(),
                   converted.value.tool.c_str());
    for (const std::string& w : converted.value.warnings) warn(io, value + ": " + w);
    if (!converted) return fail("com=" + value + ": " + converted.message);
  }
  const brevo::Result<std::string> found =
      sheet ? brevo::success(value) : brevo::com::findPreset(value);
  if (!found) return fail("com=" + value + ": " + found.message);
  const auto& keywords = brevo::com::presetKeywords();
  for (std::size_t k = 0; k < keywords.size(); ++k) {
    given.comTexts[k][0] = '\0';
    std::erase_if(io.origins, [&](const auto& o) { return o.first == keywords[k].name; });
  }
  if (outer) c.path = found.value;
  ++c.depth;
  const int status =
      sheet ? applyControlText(given, io, converted.value.preset, "brevo-com-sheet " + value)
            : applyControlFile(given, io, found.value.c_str());
  --c.depth;
  if (status != 0) fail("com=" + value + ": the preset file " + found.value + " cannot be read");
}

int applyControlText(RunGiven& given, RunIO& io, const std::string& text, const std::string& name) {
  std::fprintf(io.log, "opening %s\n", name.c_str());
  std::string copy = text;
  FILE* file =
      copy.empty() ? std::fopen("/dev/null", "r") : fmemopen(copy.data(), copy.size(), "r");
  if (!file) {
    std::fprintf(io.log, "could not open %s\n", name.c_str());
    return 2;
  }
  applyControlLines(given, io, file, name.c_str());
  std::fclose(file);
  return 0;
}

int applyControlFile(RunGiven& given, RunIO& io, const char* name) {
  std::fprintf(io.log, "opening %s\n", name);
  FILE* file = std::fopen(name, "r");
  if (!file) {
    std::fprintf(io.log, "could not open %s\n", name);
    return 2;
  }
  applyControlLines(given, io, file, name);
  // A name that opens but cannot be read (a directory, a failing device) is a control
  // file that cannot be opened, with the same message and status (our choice).
  const bool unreadable = std::ferror(file) != 0;
  std::fclose(file);
  if (unreadable) {
    std::fprintf(io.log, "could not open %s\n", name);
    return 2;
  }
  return 0;
}

namespace {

// A com_ list given on the command line holds its blanks ("com_z_p_TX=12 31" once the
// shell has taken the quotes): the argument is one assignment, so its value is quoted for
// the parser, which drops unquoted blanks. Every other argument goes as given.
std::string commandLineAssignment(const char* argument) {
  const std::string text = argument;
  const std::size_t eq = text.find('=');
  const std::string value = text.substr(eq + 1);
  if (!text.starts_with("com_") || value.find_first_of(" \t") == std::string::npos ||
      value.find_first_of("'\"") != std::string::npos)
    return text;
  const std::size_t first = value.find_first_not_of(" \t"), last = value.find_last_not_of(" \t");
  if (first == std::string::npos) return text;
  return text.substr(0, eq + 1) + "\"" + value.substr(first, last - first + 1) + "\"";
}

}  // namespace

int applyArguments(RunGiven& given, RunIO& io) {
  const int count = static_cast<int>(io.arguments.size());
  for (int position = 1; position < count; ++position) {
    const char* argument = io.arguments[static_cast<std::size_t>(position)].c_str();
    if (std::strchr(argument, '=')) {
      applyUserAssignment(given, io, commandLineAssignment(argument), {"command line", position});
    } else if (int status = applyControlFile(given, io, argument)) {
      return status;
    }
    std::fprintf(io.log, "%d  %s\n", position, argument);
  }
  return 0;
}

void sayStreamLost(FILE* err, const char* what, const brevo::Result<void>& why) {
  std::fprintf(err, "could not write the %s: %s\n", what, why.message.c_str());
}

int cleanUp(RunIO& io, int status) {
  FILE* out = io.standardOutput;
  FILE* err = io.standardError;
  const FileStatus report = finishOutput(io.result, io.result != out && io.result != err);
  if (!report.ok()) sayStreamLost(err, "report", report);
  if (io.log != io.result) {
    const FileStatus log = finishOutput(io.log, io.log != out && io.log != err);
    if (!log.ok() && io.log != err) sayStreamLost(err, "log", log);
  }
  io.result = out;
  io.log = err;
  return !report.ok() && status == 0 ? kReportLost : status;
}
