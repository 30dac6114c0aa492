// Opening and closing the optional waveform and frequency-domain files.
#include "entry.h"
#include "outputFile.h"
#include "stages.h"
#include "variants.h"

SideFile openSideFile(const RunGiven& given, RunIO& io, const char* suffix) {
  const std::string name = rePath(given.baseDirectory.c_str(), given.saveBase.c_str(), suffix);
  SideFile file(std::fopen(name.c_str(), "w"));
  if (!file) std::fprintf(io.log, "could not open %s for writing\n", given.settings.save_file);
  return file;
}

void closeSideFile(const RunGiven& given, RunIO& io, SideFile& file, const char* suffix,
                   int earlierError) {
  if (!file) return;
  const FileStatus closing = finishOutput(file.release(), true);
  if (const FileStatus lost = earlierError != 0 ? fileStatus(earlierError) : closing; !lost.ok())
    std::fprintf(io.log, "could not write all of %s: %s\n",
                 rePath(given.baseDirectory.c_str(), given.saveBase.c_str(), suffix).c_str(),
                 lost.message.c_str());
}
