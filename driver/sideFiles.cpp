// Opening and closing the optional waveform and frequency-domain files.
#include "entry.h"
#include "stages.h"
#include "variants.h"

SideFile openSideFile(RunState& rs, const char* suffix) {
  const std::string name = rePath(rs.baseDirectory.c_str(), rs.saveBase.c_str(), suffix);
  SideFile file(std::fopen(name.c_str(), "w"));
  if (!file) std::fprintf(rs.log, "could not open %s for writing\n", rs.settings.save_file);
  return file;
}

void closeSideFile(RunState& rs, SideFile& file, const char* suffix) {
  if (!file) return;
  const char* why = nullptr;
  if (finishStream(file.release(), true, &why)) return;
  const std::string name = rePath(rs.baseDirectory.c_str(), rs.saveBase.c_str(), suffix);
  if (why)
    std::fprintf(rs.log, "could not write all of %s: %s\n", name.c_str(), why);
  else
    std::fprintf(rs.log, "could not write all of %s\n", name.c_str());
}
