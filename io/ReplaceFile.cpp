// Writing a file through a temporary one beside it, renamed over it on success.
#include "ReplaceFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

FileStatus replaceFile(const std::string& name,
                       const std::function<FileStatus(const char* path)>& write) {
  assert(write && !name.empty() && "replaceFile: a file name and a writer");
  struct stat now {};
  const bool exists = stat(name.c_str(), &now) == 0;
  if (exists && !S_ISREG(now.st_mode)) return write(name.c_str());
  std::string target = name;
  if (char* real = exists ? realpath(name.c_str(), nullptr) : nullptr) {
    target = real;
    std::free(real);
  }
  std::string temporary = target + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return fileStatus(errno);
  // mkstemp makes the file private; give it the mode the file has, or a new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, exists ? now.st_mode & 07777 : 0666 & ~mask);
  close(fd);
  FileStatus written = write(temporary.c_str());
  if (written.ok() && std::rename(temporary.c_str(), target.c_str()) != 0)
    written = fileStatus(errno);
  if (!written.ok()) std::remove(temporary.c_str());
  return written;
}

FileStatus replaceFileText(const std::string& name, std::string_view text) {
  return replaceFile(name, [&](const char* path) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return fileStatus(errno);
    std::fwrite(text.data(), 1, text.size(), f);
    return finishOutput(f, true);
  });
}
