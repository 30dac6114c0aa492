// Fuzz target: the assignment parser with the program's real keyword table. The input
// is applied as one assignment and then line by line; no string storage may ever lose
// its terminator, whatever the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "entry.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool terminated(const char* buffer) { return std::memchr(buffer, '\0', kStringStorage) != nullptr; }

void checkStorage(const Settings& s) {
  for (const char* buffer : {s.Thru, s.NEXT, s.FEXT, s.save_file, s.results, s.log})
    require(terminated(buffer));
}

FILE* devNull() {
  static FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  RunState rs;
  registerKeywords(rs.given);
  variable_def* table = rs.given.table.get();

  const int whole = equal(table, text, devNull());
  require(whole >= 0 && whole <= 3);
  checkStorage(rs.given.settings);

  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line =
        text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
    text.remove_prefix(line.size());
    const int status = equal(table, line, devNull());
    require(status >= 0 && status <= 3);
    checkStorage(rs.given.settings);
  }
  // The plain overloads too, on a C string of the whole input.
  const std::string copy(reinterpret_cast<const char*>(data), size);
  (void)equal(table, copy.c_str());
  checkStorage(rs.given.settings);
  (void)eng_strtod(copy.c_str());
  return 0;
}
