// Fuzz target: the COM stage of a whole run. The input is a thru file, optionally after
// lines of com_ keywords ended by a line "---"; the run applies com=kr4, those keywords,
// and reads the thru for both analyses. The COM block must end the report, on one line
// saying why when COM cannot be computed, and the run must end with the status of the same
// run without COM. Nothing is written but the report and log, which go to /dev/null.
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

void require(bool condition) {
  if (!condition) std::abort();
}

const std::string& thruFile() {
  static const std::string path = [] {
    std::string pattern = "/tmp/brevo_fuzz_thru_XXXXXX.s4p";
    const int fd = mkstemps(pattern.data(), 4);
    require(fd >= 0);
    close(fd);
    return pattern;
  }();
  return path;
}

int run(const std::vector<std::string>& args, std::string* report) {
  char* buffer = nullptr;
  std::size_t length = 0;
  FILE* out = open_memstream(&buffer, &length);
  FILE* sink = std::fopen("/dev/null", "w");
  require(out && sink);
  RunState rs;
  rs.io.standardOutput = out;
  rs.io.standardError = sink;
  rs.io.arguments = args;
  rs.io.argumentsOnly = true;
  const int status = runAnalysis(rs);
  std::fclose(out);
  std::fclose(sink);
  *report = std::string(buffer, length);
  std::free(buffer);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t split = text.find("\n---\n");
  std::vector<std::string> args{"Brevo", "Thru=" + thruFile(), "com=kr4"};
  std::string thru = text;
  if (split != std::string::npos) {
    thru = text.substr(split + 5);
    std::size_t at = 0;
    while (at < split) {
      const std::size_t end = std::min(text.find('\n', at), split);
      const std::string line = text.substr(at, end - at);
      // Only assignments: any other argument would name a control file.
      if (line.starts_with("com_") && line.find('=') != std::string::npos &&
          line.find('\0') == std::string::npos)
        args.push_back(line);
      at = end + 1;
    }
  }
  {
    FILE* f = std::fopen(thruFile().c_str(), "w");
    require(f != nullptr);
    std::fwrite(thru.data(), 1, thru.size(), f);
    std::fclose(f);
  }
  std::string withCom, without;
  const int status = run(args, &withCom);
  const int plain = run({"Brevo", "Thru=" + thruFile()}, &without);
  require(status == plain);
  if (status != 0) return 0;
  // The report as without COM, then the block: its last line a verdict or a reason.
  require(withCom.starts_with(without) && withCom.size() > without.size() &&
          withCom.back() == '\n');
  const std::string block = withCom.substr(without.size());
  const std::size_t last = block.rfind('\n', block.size() - 2);
  const std::string verdict = block.substr(last == std::string::npos ? 0 : last + 1);
  require(verdict.starts_with("COM unavailable: ") ||
          (verdict.starts_with("COM ") &&
           (verdict.ends_with(" dB pass\n") || verdict.ends_with(" dB fail\n"))));
  return 0;
}
