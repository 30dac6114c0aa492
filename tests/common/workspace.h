// What the test programs share (with the headers they use): pi, whole-file text, a stream written
// into memory, Touchstone text for fixtures, table row names, and a fresh temporary folder (removed
// with everything in it) in which the built program runs as a user would run it, with a
// deadline: the exit status or the signal that ended it, and both streams.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>

namespace brevo_test {

namespace fs = std::filesystem;
using std::numbers::pi;

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// A FILE* that writes into memory, for checking what code prints to a stream.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&buffer_, &size_)) {}
  ~MemoryStream() { std::fclose(file_), std::free(buffer_); }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  FILE* get() const { return file_; }
  std::string text() const { return std::fflush(file_), std::string(buffer_, size_); }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  FILE* file_;
};

// Touchstone text in hertz and RI, entry (r, c) of point k = s(k, r, c), every number to
// the last bit; from 3 ports on each matrix row on a line of its own.
inline std::string touchstone(const std::vector<double>& hz, int ports,
                              const std::function<std::complex<double>(int, int, int)>& s) {
  std::string text = "! made by the tests\n# Hz S RI R 50\n";
  char number[80];
  for (int k = 0; k < static_cast<int>(hz.size()); ++k, text += "\n") {
    std::snprintf(number, sizeof number, "%.17g", hz[k]);
    text += number;
    for (int r = 1; r <= ports; ++r)
      for (int c = 1; c <= ports; ++c) {
        const std::complex<double> v = s(k, r, c);
        std::snprintf(number, sizeof number, "%s %.17g %.17g",
                      r > 1 && c == 1 && ports > 2 ? "\n" : "", v.real(), v.imag());
        text += number;
      }
  }
  return text;
}

// Seconds a run may take; BREVO_RUN_DEADLINE raises it for slow checkers (valgrind).
inline unsigned deadlineSeconds() {
  const char* text = std::getenv("BREVO_RUN_DEADLINE");
  return text && std::atoi(text) > 0 ? static_cast<unsigned>(std::atoi(text)) : 30u;
}

// The exit status (-1 when the program did not exit) or the signal that ended it (SIGALRM:
// it ran past the deadline), and both streams.
struct Outcome {
  int status = -1, signal = 0;
  std::string out, err;
};

class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "brevo_test_XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  const fs::path& dir() const { return dir_; }
  std::string operator/(const std::string& name) const { return (dir_ / name).string(); }
  void file(const std::string& name, const std::string& text) const {
    writeFile(dir_ / name, text);
  }
  std::string read(const std::string& name) const { return readFile(dir_ / name); }
  bool exists(const std::string& name) const { return fs::exists(dir_ / name); }
  std::vector<std::string> entries() const {  // the names in the folder
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    return names;
  }

  // The built program (Brevo unless named) run here. fork, then in the child: the alarm (it
  // survives exec, so a hang ends with SIGALRM), the working directory, the streams, exec.
  Outcome run(std::vector<std::string> args, const std::string& program = BREVO_EXE) const {
    Outcome r;
    const std::string outPath = *this / ".stdout", errPath = *this / ".stderr";
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& w : args) argv.push_back(w.data());
    argv.push_back(nullptr);
    const unsigned deadline = deadlineSeconds();
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) == 0 && std::freopen(outPath.c_str(), "w", stdout) &&
          std::freopen(errPath.c_str(), "w", stderr))
        alarm(deadline), execv(argv[0], argv.data());
      _exit(127);
    }
    int wstatus = 0;
    while (pid > 0 && waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) continue;
    if (pid > 0 && WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (pid > 0 && WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    r.out = readFile(outPath), r.err = readFile(errPath);
    fs::remove(outPath), fs::remove(errPath);
    return r;
  }

 private:
  fs::path dir_;
};

}  // namespace brevo_test

namespace {
// Failure messages show a table row by its name.
template <class Row>
requires requires(const Row& r) { r.name; }
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }
}  // namespace

// TEST_P names: the row's name with anything but letters and digits turned into '_'.
inline constexpr auto rowName = [](const auto& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
};
