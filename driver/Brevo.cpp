// Program entry: one run on the command line, on the process's standard streams.
#include "entry.h"
#include "stages.h"
#include "variants.h"

int main(int argc, char** argv) {
  keepFreedMemory();
  RunState rs;  // the one run state, owned here until the end
  rs.io.standardOutput = initialOut(argc, argv);
  rs.io.standardError = initialLog(argc, argv);
  rs.io.arguments.assign(argv, argv + argc);
  return runAnalysis(rs);
}
