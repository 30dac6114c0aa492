// The number scanner and the sizing pass's item count against strtod itself: the same
// characters consumed and the same bits for every number, the same count of items on every
// line (numbers as strtod reads them, plus one for the first thing that is not a number),
// on awkward texts and random lines.

#include "support.h"

namespace {

// scanNumber on view against strtod on cstr, the same text as a C string: the first
// difference or "", and in *used the characters strtod took.
std::string differs(std::string_view view, const char* cstr, std::size_t* used = nullptr) {
  char* end = nullptr;
  const double want = std::strtod(cstr, &end);
  const auto wantUsed = static_cast<std::size_t>(end - cstr);
  if (used) *used = wantUsed;
  double got = -12345.0;
  const std::size_t gotUsed = scanNumber(view, &got);
  if (gotUsed == wantUsed &&
      (wantUsed ? std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want)
                : got == -12345.0))
    return "";
  char line[300];
  std::snprintf(line, sizeof line, "\"%.40s\": %a over %zu, strtod %a over %zu", cstr, got, gotUsed,
                want, wantUsed);
  return line;
}

long long strtodCount(const char* p) {
  for (long long n = 0;; ++n) {
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    char* end = nullptr;
    if (*p == '\0' || (std::strtod(p, &end), end == p)) return n + (*p != '\0');
    p = end;
  }
}

// Every number of a text from every place a reader would start one, and the item count of
// the text and of its every prefix (the text following a view in memory must not be read).
void expectAsStrtod(const std::string& text, int* failures) {
  for (std::size_t cut = 0; cut <= text.size() && *failures < 10; ++cut) {
    const std::string prefix = text.substr(0, cut);
    const std::string_view view(text.data(), cut);
    if (countLineItems(view) != strtodCount(prefix.c_str()))
      ADD_FAILURE() << "count of \"" << prefix << "\": " << countLineItems(view) << ", strtod "
                    << strtodCount(prefix.c_str()),
          ++*failures;
    if (const std::string d = differs(view, prefix.c_str()); !d.empty())
      ADD_FAILURE() << d, ++*failures;
  }
  for (std::size_t at = 0, used = 0; at < text.size() && *failures < 10; at += used ? used : 1)
    if (const std::string d = differs(std::string_view(text).substr(at), text.c_str() + at, &used);
        !d.empty())
      ADD_FAILURE() << d, ++*failures;
}

TEST(Scanner, AwkwardTextsAsStrtodReadsThem) {
  const std::string texts[] = {"0",
                               "-0",
                               "+0.5",
                               "-0.0e5",
                               "0e99999999999",
                               "5.",
                               "5.e3",
                               ".",
                               "-",
                               "+-1",
                               "--1",
                               "e5",
                               ".e5",
                               "1e",
                               "1e+",
                               "1e-",
                               "1E5",
                               "1e+05",
                               "1.5e-0",
                               "0.30000000000000004",
                               "4.35",
                               "-2.5e-07",
                               "1e22",
                               "1e23",
                               "9e22",
                               "123e-22",
                               "9007199254740993",
                               "9007199254740993.0000000001",
                               "1234567890123456789",
                               "12345678901234567890123",
                               "3.1415926535897932384626433832795028841971",
                               "00000000000000000000000001.5",
                               "0.000000000000000000000000000001",
                               "4.9406564584124654e-324",
                               "2.4703282292062328e-324",
                               "2.4703282292062327e-324",
                               "2.2250738585072011e-308",
                               "2.2250738585072014e-308",
                               "1.7976931348623157e308",
                               "1.7976931348623159e308",
                               "1e400",
                               "-1e-400",
                               "1e99999999999999999999",
                               "1e-99999999999999999999",
                               "0x1p-1074",
                               "0X1.8P1",
                               "0x",
                               "0xg",
                               "-0x1p3",
                               "0x.8",
                               "inf",
                               "-INF",
                               "Infinity",
                               "infinit",
                               "nan",
                               "-nan",
                               "NaN(123)",
                               "nan(",
                               "in",
                               "  \t 42",
                               "\v\f12",
                               "\n7",
                               "1_000",
                               "1,5",
                               "1.2.3",
                               "12abc",
                               "1e5x",
                               "  ",
                               "",
                               "!",
                               "[Version]",
                               "0.60 161.24",
                               "999999999999999999999e-30",
                               "8.5070591730234615865843651857942052864e37",
                               "  -1.5e-3 +2. .5 -.5e+2\r\n",
                               "1-2",
                               "1+2e3-4",
                               "1e5e3",
                               "1e5.5 7",
                               "1e 2",
                               "1e+ 2",
                               ". 1",
                               "1 ! comment",
                               "1 2 abc 3",
                               "inf -INF nan(12) 1",
                               "0x1p3 0X.8 0x",
                               "5.e3 -0.0 00012",
                               "1\v2\f3",
                               "-0e400",
                               "00000000000000000000000000000e-5",
                               "1e0000000000000000000005",
                               "-.5E-0",
                               std::string("12\0"
                                           "34 5",
                                           7),
                               std::string("1 2\0 3 4", 8)};
  int failures = 0;
  for (const std::string& text : texts) expectAsStrtod(text, &failures);
}

// Lines of the characters numbers are made of, and lines of numbers as exporters write them
// (digit runs of up to 30 on each side of the point, exponents of up to 5 digits) with stray
// signs, dots and letters among them, long enough to span several 64-character words.
TEST(Scanner, RandomLinesAsStrtodReadsThem) {
  std::mt19937_64 rng(20240611);
  const std::string stray[] = {"-",  "+",  ".",  "e",    "E",  "x", "!",
                               "e-", ".e", "\t", "\r\n", "\v", "i", "n"};
  int failures = 0;
  for (int i = 0; i < 6000 && failures < 10; ++i) {
    std::string line = rng() % 2 ? "  " : "";
    for (int k = i % 5 ? 0 : static_cast<int>(rng() % 300); k > 0; --k)
      line += "0123456789.eE+-   \t\r\n\v.e-0xin"[rng() % 30];
    for (int k = static_cast<int>(rng() % 12); k >= 0; --k) {
      if (rng() % 2) line += '-';
      for (int d = static_cast<int>(rng() % (i % 4 ? 12 : 31)); d > 0; --d)
        line += static_cast<char>('0' + rng() % 10);
      if (rng() % 2) line += '.';
      for (int d = static_cast<int>(rng() % (i % 3 ? 8 : 31)); d > 0; --d)
        line += static_cast<char>('0' + rng() % 10);
      if (rng() % 2)
        line += (rng() % 2 ? "e-" : "E+") + std::to_string(rng() % (rng() % 4 ? 330 : 100000));
      if (rng() % 6 == 0) line += stray[rng() % std::size(stray)];
      line += rng() % 2 ? " " : "   ";
    }
    expectAsStrtod(line, &failures);
  }
}

}  // namespace
