// The checked end of a written stream and the message for a file not written whole.
#include "outputFile.h"

#include <cassert>
#include <cerrno>
#include <cstring>

int finishOutput(FILE* stream, bool close) {
  assert(stream && "finishOutput: callers check that the stream opened");
  errno = 0;
  const bool lost = std::fflush(stream) != 0 || std::ferror(stream) != 0;
  int error = lost ? (errno != 0 ? errno : EIO) : 0;
  errno = 0;
  if (close && std::fclose(stream) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return error;
}

void sayNotWritten(FILE* log, const char* who, const char* name, int error) {
  if (!log) return;
  if (who) std::fprintf(log, "%s: ", who);
  std::fprintf(log, "could not write %s: %s\n", name, std::strerror(error));
}
