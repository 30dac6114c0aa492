// A fresh temporary folder, removed with everything in it, and the built program run in it
// as a user would, with a deadline: the exit status or the signal that ended it, and both
// streams.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace brevo_test {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;   // exit status; -1 when the program did not exit
  int signal = 0;    // the signal that ended it (SIGALRM: it ran past the deadline)
  std::string out;   // standard output
  std::string err;   // standard error
};

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// Seconds a run may take; BREVO_RUN_DEADLINE raises it for slow checkers (valgrind).
inline unsigned deadlineSeconds() {
  const char* text = std::getenv("BREVO_RUN_DEADLINE");
  const long v = text ? std::strtol(text, nullptr, 10) : 0;
  return v > 0 ? static_cast<unsigned>(v) : 30u;
}

class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "brevo_test_XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
  }
  ~Workspace() {
    std::error_code ignored;
    // Make every entry removable again (a test may have taken the permissions away).
    for (auto it = fs::recursive_directory_iterator(dir_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  const fs::path& dir() const { return dir_; }
  std::string operator/(const std::string& name) const { return (dir_ / name).string(); }
  void file(const std::string& name, const std::string& text) const { writeFile(dir_ / name, text); }
  std::string read(const std::string& name) const { return readFile(dir_ / name); }
  bool exists(const std::string& name) const { return fs::exists(dir_ / name); }
  std::vector<std::string> entries() const {   // the names in the folder
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }

  // fork, then in the child: the alarm (it survives exec, so a hang ends with SIGALRM),
  // the working directory, the two streams to files, exec.
  Outcome run(const std::vector<std::string>& args) const {
    Outcome r;
    const std::string outPath = (dir_ / ".stdout").string(), errPath = (dir_ / ".stderr").string();
    std::vector<std::string> words{BREVO_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const unsigned deadline = deadlineSeconds();
    const pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(errPath.c_str(), "w", stderr))
        _exit(127);
      alarm(deadline);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
  }

 private:
  fs::path dir_;
};

}  // namespace brevo_test
