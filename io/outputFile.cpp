// The checked end of a written stream and the message for a file not written whole.
#include "outputFile.h"

#include <cassert>
#include <cerrno>
#include <cstring>

FileStatus fileStatus(int error) {
  FileStatus r;
  r.status = error;
  if (error != 0) r.message = std::strerror(error);
  return r;
}

FileStatus finishOutput(FILE* stream, bool close) {
  assert(stream && "finishOutput: callers check that the stream opened");
  errno = 0;
  const bool lost = std::fflush(stream) != 0 || std::ferror(stream) != 0;
  int error = lost ? (errno != 0 ? errno : EIO) : 0;
  errno = 0;
  if (close && std::fclose(stream) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return fileStatus(error);
}

void sayNotWritten(FILE* log, const char* who, const char* name, const FileStatus& why) {
  if (!log) return;
  if (who) std::fprintf(log, "%s: ", who);
  std::fprintf(log, "could not write %s: %s\n", name, why.message.c_str());
}
