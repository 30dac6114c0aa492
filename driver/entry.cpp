// Options, defaults and arguments of a run, and the clean-up of its streams.
#include "entry.h"

#include <cstdio>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "outputFile.h"
#include "variants.h"

namespace {

// Longest piece of a control-file line handled at once; a longer line becomes
// several pieces, each applied as a line of its own.
constexpr int kLinePiece = 998;

}  // namespace

// A run reads its files one after the other, each into buffers of megabytes. Freed
// buffers stay with the process for the next file: handing them back to the system
// after every file and faulting them in again made reading them 1.7 times as slow.
void keepFreedMemory() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 << 20);    // blocks below this come from the heap
  mallopt(M_TRIM_THRESHOLD, 256 << 20);   // free heap kept up to this before trimming
#endif
}

bool isStarterOption(const char* firstArgument) {
  return std::strstr(firstArgument, "-b") || std::strstr(firstArgument, "-c");
}

bool isHelpOption(const char* firstArgument) {
  return std::strstr(firstArgument, "-?") != nullptr;
}

int printUsage(RunState& rs) {
  std::fputs(kUsageLine, rs.log);
  return 2;
}

// The status is the number of command-line words, program name included.
int printStarter(RunState& rs) {
  std::fputs(kStarterControlFile, rs.result);
  return static_cast<int>(rs.arguments.size());
}

int printHelp(RunState& rs) {
  std::fprintf(rs.standardOutput, "Brevo: %s", kHelpText);
  return 0;
}

void applyDefaults(RunState& rs) {
  std::string_view text = kStarterControlFile;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = line.substr(0, line.find('#'));   // every "#" starts a comment
    equal(rs.table.get(), line, rs.log);
  }
}

void applyUserAssignment(RunState& rs, std::string_view text) {
  equal(rs.table.get(), text, rs.log);
  updateListsAndStreams(rs);
}

namespace {

// Applies a control file line by line with the echo on the log; 2 when it cannot
// be opened.
int applyControlFile(RunState& rs, const char* name) {
  std::fprintf(rs.log, "opening %s\n", name);
  FILE* file = std::fopen(name, "r");
  if (!file) {
    std::fprintf(rs.log, "could not open %s\n", name);
    return 2;
  }
  char piece[kLinePiece + 1];
  while (std::fgets(piece, sizeof piece, file)) {
    std::fputs(piece, rs.log);
    applyUserAssignment(rs, piece);
  }
  // A name that opens but cannot be read (a directory, a failing device) is a control
  // file that cannot be opened, with the same message and status (our choice).
  const bool unreadable = std::ferror(file) != 0;
  std::fclose(file);
  if (unreadable) {
    std::fprintf(rs.log, "could not open %s\n", name);
    return 2;
  }
  return 0;
}

}  // namespace

int applyArguments(RunState& rs) {
  const int count = static_cast<int>(rs.arguments.size());
  for (int position = 1; position < count; ++position) {
    const char* argument = rs.arguments[static_cast<std::size_t>(position)].c_str();
    if (std::strchr(argument, '=')) {
      applyUserAssignment(rs, argument);
    } else if (int status = applyControlFile(rs, argument)) {
      return status;
    }
    std::fprintf(rs.log, "%d  %s\n", position, argument);
  }
  return 0;
}

void sayStreamLost(FILE* err, const char* what, int error) {
  std::fprintf(err, "could not write the %s: %s\n", what, std::strerror(error));
}

int cleanUp(RunState& rs, int status) {
  FILE* out = rs.standardOutput;
  FILE* err = rs.standardError;
  const int reportError = finishOutput(rs.result, rs.result != out && rs.result != err);
  if (reportError) sayStreamLost(err, "report", reportError);
  if (rs.log != rs.result) {
    const int logError = finishOutput(rs.log, rs.log != out && rs.log != err);
    if (logError && rs.log != err) sayStreamLost(err, "log", logError);
  }
  rs.result = out;
  rs.log = err;
  return reportError && status == 0 ? kReportLost : status;
}
