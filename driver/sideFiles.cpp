// Opening the optional waveform and frequency-domain files.
#include "stages.h"
#include "variants.h"

SideFile openSideFile(RunState& rs, const char* suffix) {
  const std::string name = rePath(rs.baseDirectory.c_str(), rs.saveBase.c_str(), suffix);
  SideFile file(std::fopen(name.c_str(), "w"));
  if (!file) std::fprintf(rs.log, "could not open %s for writing\n", rs.settings.save_file);
  return file;
}
