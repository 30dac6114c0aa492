// Path and default-stream helpers of the run.
#include "variants.h"

#include <cstring>

std::string rePath(const char* /*base*/, const char* name, const char* suffix) {
  // A null name is taken as empty (our choice), so the result is never undefined.
  const std::string given = name == nullptr ? std::string() : std::string(name);
  if (suffix == nullptr) return given;
  // Every "." from the second character on ends the name; a leading "." (a
  // hidden file) stays part of it.
  const std::size_t dot = given.find('.', 1);
  return given.substr(0, dot) + suffix;
}

std::string pwd(int /*argc*/, char** /*argv*/) { return "."; }

FILE* initialOut(int /*argc*/, char** /*argv*/) { return stdout; }

FILE* initialLog(int /*argc*/, char** /*argv*/) { return stderr; }
