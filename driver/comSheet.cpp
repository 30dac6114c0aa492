// com=SHEET.xls or com=SHEET.xlsx: a parameter sheet of the reference code, turned into a
// preset file by the brevo-com-sheet program installed with Brevo, whose output the run
// applies as it applies a preset file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "entry.h"
#include "stages.h"

extern char** environ;

namespace {

constexpr const char* kTool = "brevo-com-sheet";

bool executable(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && access(path.c_str(), X_OK) == 0;
}

// Everything a descriptor holds, from its start.
std::string readAll(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// An unnamed file for a stream of the tool; -1 when none can be made.
int scratchFile() {
  FILE* f = std::tmpfile();
  if (!f) return -1;
  const int fd = dup(fileno(f));
  std::fclose(f);
  return fd;
}

}  // namespace

bool isComSheet(const std::string& value) {
  std::string lower = value;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return lower.ends_with(".xls") || lower.ends_with(".xlsx");
}

// The sheet program is looked for where the running Brevo's own files are, so that a
// build or an install uses its own copy before any other: the program BREVO_COM_SHEET
// names (a test's or a user's choice), beside the running program (an install's bin/ or
// the build folder, where the build copies it), the install's bin/ (a Brevo run from
// elsewhere, a test program), and last every folder of PATH.
std::string findComSheetTool() {
  if (const char* given = std::getenv("BREVO_COM_SHEET"); given && *given)
    return executable(given) ? given : "";
  std::vector<std::string> places;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) places.push_back((self.parent_path() / kTool).string());
#ifdef BREVO_INSTALL_BINDIR
  places.push_back(std::string(BREVO_INSTALL_BINDIR) + "/" + kTool);
#endif
  if (const char* path = std::getenv("PATH")) {
    const std::string list = path;
    for (std::size_t at = 0; at <= list.size();) {
      const std::size_t end = std::min(list.find(':', at), list.size());
      if (end > at) places.push_back(list.substr(at, end - at) + "/" + kTool);
      at = end + 1;
    }
  }
  for (const std::string& p : places)
    if (executable(p)) return p;
  return "";
}

brevo::Result<ComSheet> convertComSheet(const std::string& sheet) {
  brevo::Result<ComSheet> out;
  const auto fail = [&out](std::string why) {
    out.status = 1;
    out.message = std::move(why);
    return out;
  };
  const std::string tool = findComSheetTool();
  if (tool.empty())
    return fail(std::string(kTool) + ", the program that reads parameter sheets, is not found (" +
                (std::getenv("BREVO_COM_SHEET") && *std::getenv("BREVO_COM_SHEET")
                     ? std::string("BREVO_COM_SHEET names ") + std::getenv("BREVO_COM_SHEET") +
                           ", no program"
                     : "looked for beside Brevo, in the install's bin and on PATH") +
                ")");
  out.value.tool = tool;
  const int outFd = scratchFile(), errFd = scratchFile();
  const auto closeBoth = [&] {
    if (outFd >= 0) close(outFd);
    if (errFd >= 0) close(errFd);
  };
  if (outFd < 0 || errFd < 0) {
    closeBoth();
    return fail("no temporary file for " + tool + "'s output");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  std::string argument0 = tool, argument1 = sheet;
  char* argv[] = {argument0.data(), argument1.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned == 0)
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  const std::string text = readAll(outFd), said = readAll(errFd);
  closeBoth();
  if (spawned != 0) return fail(tool + " cannot be started (" + std::strerror(spawned) + ")");
  // Its "warning: " lines become the run's; any other line is its message.
  std::string message;
  for (std::size_t at = 0; at < said.size();) {
    std::size_t end = said.find('\n', at);
    if (end == std::string::npos) end = said.size();
    const std::string line = said.substr(at, end - at);
    at = end + 1;
    if (line.starts_with("warning: "))
      out.value.warnings.push_back(line.substr(9));
    else if (!line.empty())
      message += (message.empty() ? "" : "; ") + line;
  }
  if (WIFSIGNALED(status))
    return fail(tool + " ended on signal " + std::to_string(WTERMSIG(status)));
  if (WEXITSTATUS(status) != 0) {
    const std::string prefix = std::string(kTool) + ": ";
    if (message.starts_with(prefix)) message.erase(0, prefix.size());
    return fail(message.empty() ? tool + " ended with status " + std::to_string(WEXITSTATUS(status))
                                : message);
  }
  out.value.preset = text;
  return out;
}
