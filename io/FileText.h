// The whole of a file's bytes in memory, for the readers (not installed).
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <cstdint>

namespace brevo::io {

// The whole file in memory; one buffer serves all three passes. A large regular file is
// read into one anonymous mapping of its size, advised onto huge pages (faulting in tens
// of megabytes page by page costs more than parsing them), a small one into a buffer of
// its size; anything else (a pipe, a file whose size is not known, a file that grew
// while it was read) is read into a string.
class FileText {
 public:
  explicit FileText(int fd) {
    struct stat st;
    // Below a few huge pages the ordinary heap is as quick.
    constexpr off_t kMapFrom = off_t{8} << 20;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < kMapFrom && st.st_size > 0) {
      // Straight into a buffer that is not cleared first, without a copy through the
      // chunk below.
      const auto size = static_cast<std::size_t>(st.st_size);
      small_ = std::make_unique_for_overwrite<char[]>(size);
      if (!readAll(fd, small_.get(), size)) return;  // the file shrank: what we have
      // The file may have grown since fstat: the rest goes to the string below.
    }
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= kMapFrom) {
      const auto size = static_cast<std::size_t>(st.st_size);
      void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p != MAP_FAILED) {
#ifdef MADV_HUGEPAGE
        madvise(p, size, MADV_HUGEPAGE);
#endif
        map_ = p;
        mapSize_ = size;
        if (!readAll(fd, static_cast<char*>(p), size)) return;  // the file shrank: what we have
        // The file may have grown since fstat: the rest goes to the string below.
      }
    }
    char chunk[1 << 16];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
      copy_.append(chunk, static_cast<std::size_t>(got));
    if (map_ && !copy_.empty()) {
      copy_.insert(0, static_cast<const char*>(map_), used_);
      munmap(map_, mapSize_);
      map_ = nullptr;
    }
    if (small_ && !copy_.empty()) {
      copy_.insert(0, small_.get(), used_);
      small_.reset();
    }
  }
  ~FileText() {
    if (map_) munmap(map_, mapSize_);
  }
  FileText(const FileText&) = delete;
  FileText& operator=(const FileText&) = delete;
  std::string_view text() const {
    if (map_) return {static_cast<const char*>(map_), used_};
    if (small_) return {small_.get(), used_};
    return copy_;
  }

 private:
  // Reads into the buffer until size bytes are in it or the file ends; false when it
  // ended first (the file shrank while we read it: used_ says what we have).
  bool readAll(int fd, char* buffer, std::size_t size) {
    while (used_ < size) {
      const ssize_t got = read(fd, buffer + used_, size - used_);
      if (got <= 0) break;
      used_ += static_cast<std::size_t>(got);
    }
    return used_ == size;
  }

  void* map_ = nullptr;
  std::size_t mapSize_ = 0;
  std::size_t used_ = 0;
  std::unique_ptr<char[]> small_;  // a small regular file, used_ bytes of it
  std::string copy_;
};

// Room for n values in v, whose pages the kernel may back with huge pages: a 16-port
// file of 10,000 points needs 41 MB of matrices, and faulting that in 4 KiB pages costs
// more than parsing it. The advice is only a hint; where it is refused nothing changes.
template <typename T>
void reserveOnHugePages(std::vector<T>& v, std::size_t n) {
  v.reserve(n);
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(v.data());
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + n * sizeof(T)) & ~(kHuge - 1);
  if (n * sizeof(T) >= 2 * kHuge && last > first)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace brevo::io
