// Fuzz target: the whole argument processing with a control file. The input becomes a
// control file (and its first line, when it holds "=", a command-line assignment as
// well); the entry applies the defaults and the arguments in-process, then settles the
// through channel's ports and prints the report header, as a run does before it reads
// any S-parameter file. The analysis stages are not run.
//
// A fuzzed "results", "log" or "save_file" setting may name any path. While an input
// runs, every file this program opens for writing is /dev/null instead (fopen is
// replaced below for the whole fuzz program), so no run can touch a real file.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "entry.h"
#include "stages.h"

namespace {

bool guardWrites = false;

void require(bool condition) {
  if (!condition) std::abort();
}

// The control file every input is written to, made once per process.
const std::string& controlFile() {
  static const std::string path = [] {
    std::string pattern = "/tmp/brevo_fuzz_XXXXXX";
    const int fd = mkstemp(pattern.data());
    require(fd >= 0);
    close(fd);
    return pattern;
  }();
  return path;
}

void writeControlFile(const std::uint8_t* data, std::size_t size) {
  const int fd = open(controlFile().c_str(), O_WRONLY | O_TRUNC);
  require(fd >= 0);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    require(n > 0);
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

}  // namespace

// fopen for this program: reading as usual, writing to /dev/null while an input runs.
extern "C" FILE* fopen(const char* name, const char* mode) {
  const bool writes = std::strpbrk(mode, "wa+") != nullptr;
  int flags = O_RDONLY;
  if (std::strchr(mode, '+'))
    flags = O_RDWR;
  else if (writes)
    flags = O_WRONLY;
  if (std::strchr(mode, 'w')) flags |= O_CREAT | O_TRUNC;
  if (std::strchr(mode, 'a')) flags |= O_CREAT | O_APPEND;
  if (guardWrites && writes) {
    name = "/dev/null";
    flags &= ~(O_CREAT | O_TRUNC);
  }
  const int fd = open(name, flags | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, mode);
  if (!file) close(fd);
  return file;
}

// The run up to the reading of the thru: the buffers checked once the arguments are
// applied, every channel line settled once the thru is chosen.
class UpToTheFiles : public StageObserver {
 public:
  explicit UpToTheFiles(RunState& rs) : rs_(rs) {}
  bool starting(Stage stage) override {
    if (stage == Stage::selectThru) {
      for (const char* buffer :
           {rs_.given.settings.Thru, rs_.given.settings.NEXT, rs_.given.settings.FEXT,
            rs_.given.settings.save_file, rs_.given.settings.results, rs_.given.settings.log})
        require(std::memchr(buffer, '\0', kStringStorage) != nullptr);
    }
    return stage != Stage::readThru;
  }
  void finished(Stage stage, int status) override {
    if (stage == Stage::arguments) require(status == 0);  // the control file always opens
    if (stage != Stage::selectThru) return;
    for (auto* list : {&rs_.given.thruList, &rs_.given.nextList, &rs_.given.fextList})
      for (channelLine& entry : *list)
        (void)fixChannelLine(entry, rs_.given.inP, rs_.given.inM, rs_.given.outP, rs_.given.outM);
  }

 private:
  RunState& rs_;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  writeControlFile(data, size);
  std::vector<std::string> words{"Brevo", controlFile()};
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string firstLine = text.substr(0, text.find('\n'));
  if (firstLine.find('=') != std::string::npos && firstLine.find('\0') == std::string::npos)
    words.push_back(firstLine);

  guardWrites = true;
  {
    FILE* sink = std::fopen("/dev/null", "w");
    require(sink != nullptr);
    RunState rs;
    rs.io.standardOutput = rs.io.standardError = sink;
    rs.io.arguments = words;
    UpToTheFiles observer(rs);
    runAnalysis(rs, &observer);
    std::fclose(sink);
  }
  guardWrites = false;
  return 0;
}
