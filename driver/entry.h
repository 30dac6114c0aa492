// The program entry's steps before the analysis: start-up, keywords, options,
// built-in defaults, command-line arguments, and the clean-up at the normal end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Result.h"
#include "RunState.h"

// The built-in starter control file: the defaults, and what "-c" prints.
extern const char kStarterControlFile[];
extern const char kHelpText[];  // printed after "Brevo: " by "-?"
extern const char kUsageLine[];

// The run's memory policy: freed file buffers stay with the process for the next file.
void keepFreedMemory();
// Every control-file keyword, in table order, bound to its storage in given.settings.
void registerKeywords(RunGiven& given);

// Option tests on the first argument: substring tests, as the user may embed them.
bool isStarterOption(const char* firstArgument);  // "-b" or "-c"
bool isHelpOption(const char* firstArgument);     // "-?"
int printUsage(RunIO& io);                        // status 2
int printStarter(RunIO& io);                      // status: the number of arguments
int printHelp(RunIO& io);                         // status 0

// The starter file applied line by line, comments cut, no echo, no post-processing.
void applyDefaults(RunGiven& given, RunIO& io);
// One assignment as a user gives it, from where it was given: its origin and any
// warning noted, the table, then channel lists and streams.
void applyUserAssignment(RunGiven& given, RunIO& io, std::string_view text,
                         const RunIO::Origin& origin);
// The origin and warnings of an assignment, before it is applied; the name it assigns
// (empty when it is no assignment).
std::string noteAssignment(const RunGiven& given, RunIO& io, std::string_view text,
                           const RunIO::Origin& origin);
// Applies a control file line by line, each line echoed on the log; 2 when it cannot be
// opened or read.
int applyControlFile(RunGiven& given, RunIO& io, const char* name);
// The same for a control file's text in memory, named name on the log and as the lines'
// origin.
int applyControlText(RunGiven& given, RunIO& io, const std::string& text, const std::string& name);
// The preset com names, applied at once as a control file (every com_ keyword emptied
// first, so that nothing of an earlier preset stays); com with no text turns COM off. A
// preset that cannot be found is said on the log and kept for the COM block.
void applyComPreset(RunGiven& given, RunIO& io);
// com=SHEET.xls or com=SHEET.xlsx (the ending in any case) names a parameter sheet of the
// reference code: brevo-com-sheet turns it into a preset file's text, which is applied as
// the file would be, and its warnings become the run's.
bool isComSheet(const std::string& value);
struct ComSheet {
  std::string tool;                   // the program that read it; empty when none was found
  std::string preset;                 // the preset file's text
  std::vector<std::string> warnings;  // its "warning: " lines, without the prefix
};
// The sheet read, or status 1 and why there is no preset (the tool and its warnings kept).
brevo::Result<ComSheet> convertComSheet(const std::string& sheet);
// The brevo-com-sheet to run, empty when there is none.
std::string findComSheetTool();
// Registered keywords within a small edit distance of name (case aside), nearest first.
std::vector<std::string> nearestKeywords(const RunGiven& given, const std::string& name);
// Channel lists and stream switches after each user assignment.
void updateListsAndStreams(RunGiven& given, RunIO& io);

// "could not write the WHAT: REASON" on err, for the report or the log that lost output
// (REASON the message of why).
void sayStreamLost(FILE* err, const char* what, const brevo::Result<void>& why);
// Exit status of a run whose report could not be written in full (a full disk, for
// instance): the report is lost, so the run has not done its job.
inline constexpr int kReportLost = 12;
// Exit status of a run with strict=1 that raised a warning (figures printed as nan or inf
// raise one too) and would otherwise have ended with 0; everything is written all the same.
inline constexpr int kStrictWarnings = 13;
// Flushes the final result and log streams and closes them unless they are the run's
// standard ones. Returns status, or kReportLost when status is 0 and the report could not be
// written in full; any stream that lost output is named on standard error.
int cleanUp(RunIO& io, int status = 0);
