// Helpers shared by the touchstone tests: a log stream whose text can be read back,
// and a scratch directory that is removed afterwards.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

// A temporary log stream; text() returns everything written so far.
class CapturedLog {
 public:
  CapturedLog() : f_(std::tmpfile()) {}
  ~CapturedLog() {
    if (f_) std::fclose(f_);
  }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;
  FILE* get() const { return f_; }
  std::string text() const {
    std::fflush(f_);
    const long end = std::ftell(f_);
    std::string s(static_cast<std::size_t>(end), '\0');
    std::rewind(f_);
    const std::size_t got = std::fread(s.data(), 1, s.size(), f_);
    s.resize(got);
    std::fseek(f_, 0, SEEK_END);
    return s;
  }

 private:
  FILE* f_;
};

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "brevo_touchstone_XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
    return file(name);
  }

 private:
  std::string path_;
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
