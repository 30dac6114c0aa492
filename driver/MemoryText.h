// Lines written to a memory stream, handed back as text when it closes: a channel
// file's log lines, or a run's report and log for a caller that keeps them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

class MemoryText {
 public:
  MemoryText() : stream_(open_memstream(&text_, &size_)) {}
  ~MemoryText() {
    if (stream_) std::fclose(stream_);
    std::free(text_);
  }
  MemoryText(const MemoryText&) = delete;
  MemoryText& operator=(const MemoryText&) = delete;
  FILE* stream() const { return stream_ ? stream_ : stderr; }
  bool ok() const { return stream_ != nullptr; }  // false: no memory for the stream
  std::string take() {
    if (!stream_) return {};
    std::fclose(stream_);
    stream_ = nullptr;
    return std::string(text_ ? text_ : "", size_);
  }

 private:
  char* text_ = nullptr;
  std::size_t size_ = 0;
  FILE* stream_;
};
