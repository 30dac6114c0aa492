// A FILE* that writes into memory, for checking what code prints to a stream.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

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
