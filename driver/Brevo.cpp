// Program entry: settings from the defaults and the command line, then the stages of
// the estimate in order. Each stage that can fail returns the exit status of the run.
#include "entry.h"
#include "stages.h"

namespace {

int runSequence(RunState& rs, int argc, char** argv) {
  if (argc < 2) return printUsage(rs);
  if (isStarterOption(argv[1])) return printStarter(rs, argc);
  applyDefaults(rs);
  if (isHelpOption(argv[1])) return printHelp();
  if (int status = applyArguments(rs, argc, argv)) return status;

  if (int status = selectThru(rs)) return status;
  deriveSettings(rs);
  if (int status = readThru(rs)) return status;
  fitThru(rs);
  pulseAndDibit(rs);
  if (int status = equalisedIld(rs)) return status;
  budget(rs);
  crosstalk(rs);
  figuresOfMerit(rs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  RunState rs;   // the one run state, owned here until the end
  startUp(rs, argc, argv);
  registerKeywords(rs);
  const int status = runSequence(rs, argc, argv);
  return cleanUp(rs, status);   // a report lost on the way changes a 0 into kReportLost
}
