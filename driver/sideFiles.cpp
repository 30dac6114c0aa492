// Opening and closing the optional waveform and frequency-domain files.
#include <cerrno>
#include <cstring>

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
  errno = 0;
  FILE* f = file.release();
  bool lost = std::fflush(f) != 0 || std::ferror(f) != 0;
  int error = errno;
  if (std::fclose(f) != 0) {
    lost = true;
    if (error == 0) error = errno;
  }
  if (!lost) return;
  const std::string name = rePath(rs.baseDirectory.c_str(), rs.saveBase.c_str(), suffix);
  if (error != 0)
    std::fprintf(rs.log, "could not write all of %s: %s\n", name.c_str(), std::strerror(error));
  else
    std::fprintf(rs.log, "could not write all of %s\n", name.c_str());
}
