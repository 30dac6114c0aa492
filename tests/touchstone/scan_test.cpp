// The number scanner against strtod itself (same characters consumed, same bits) on awkward
// texts, random decimals and every number of the real channel files, which must also read
// with the port and point counts channels.tsv lists.
#include <bit>
#include <cstdint>
#include <random>
#include <sstream>

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
  const bool same = gotUsed == wantUsed &&
                    (wantUsed ? std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want)
                              : got == -12345.0);
  if (same) return "";
  char line[300];
  std::snprintf(line, sizeof line, "\"%.40s\": %a over %zu, strtod %a over %zu", cstr, got,
                gotUsed, want, wantUsed);
  return line;
}

TEST(ScanNumber, AwkwardNumbersMatchStrtodBitForBit) {
  const char* awkward[] = {
      "0", "-0", "+0", "-0.0e5", "0e99999999999", "1", "+1", "-1", ".5", "-.5", "+.5", "5.",
      "5.e3", ".", "-", "+", "-.", "+-1", "--1", "e5", ".e5", "1e", "1e+", "1e-", "1E5",
      "1e+05", "1.5e-0", "0.1", "0.30000000000000004", "4.35", "-2.5e-07", "1e22", "1e23",
      "9e22", "123e-22", "9007199254740992", "9007199254740993", "9007199254740993.0000000001",
      "123456789012345678", "1234567890123456789", "12345678901234567890123",
      "3.1415926535897932384626433832795028841971", "00000000000000000000000001.5",
      "0.000000000000000000000000000001", "4.9406564584124654e-324", "2.4703282292062328e-324",
      "2.4703282292062327e-324", "2.2250738585072011e-308", "2.2250738585072012e-308",
      "2.2250738585072014e-308", "1.7976931348623157e308", "1.7976931348623158e308",
      "1.7976931348623159e308", "1e400", "-1e400", "1e-400", "-1e-400",
      "1e99999999999999999999", "1e-99999999999999999999", "0x1p-1074", "0X1.8P1", "0x",
      "0xg", "-0x1p3", "0x.8", "inf", "-INF", "+inf", "Infinity", "infinit", "nan", "-nan",
      "NaN(123)", "nan(", "in", "  \t 42", "\v\f12", "\n7", "1_000", "1,5", "1.2.3", "12abc",
      "1e5x", "  ", "", "!", "#", "[Version]", "0.60 161.24", "1.000000000000000000001e-10",
      "999999999999999999999e-30", "7.0e-1", "8.5070591730234615865843651857942052864e37"};
  for (const char* text : awkward) EXPECT_EQ(differs(text, text), "");
  // The view's end and an embedded NUL stop the number as a C string's end would.
  EXPECT_EQ(differs(std::string_view("12345", 3), "123"), "");
  EXPECT_EQ(differs(std::string_view("1e5", 2), "1e"), "");
  EXPECT_EQ(differs(std::string_view("12\0" "34", 5), "12"), "");
}

TEST(ScanNumber, RandomDecimalsMatchStrtod) {
  std::mt19937_64 rng(20240607);
  std::uniform_int_distribution<int> digits(1, 24), digit(0, 9), exponent(-330, 330), form(0, 3);
  int failures = 0;
  for (int i = 0; i < 20000 && failures < 10; ++i) {
    std::string s = form(rng) == 0 ? "-" : "";
    const int n = digits(rng), point = digits(rng) - 1;
    for (int d = 0; d < n; ++d) s += (d == point ? "." : "") + std::string(1, '0' + digit(rng));
    const int f = form(rng);
    if (f == 1) s += "e" + std::to_string(exponent(rng));
    if (f == 2) s += "E" + std::to_string(exponent(rng) / 10);
    const std::string d = differs(s, s.c_str());
    if (!d.empty()) ADD_FAILURE() << d, ++failures;
  }
}

struct Channel {
  std::string path;
  int ports = 0, points = 0;
};

// The rows of channels.tsv (path, role, set, ports, points, ...); empty when the folder is absent.
std::vector<Channel> listedChannels() {
  std::vector<Channel> list;
  std::ifstream in(std::string(BREVO_CHANNELS_DIR) + "/channels.tsv");
  for (std::string line, role, set; std::getline(in, line);) {
    std::istringstream row(line);
    Channel c;
    std::getline(std::getline(std::getline(row, c.path, '\t'), role, '\t'), set, '\t') >> c.ports >> c.points;
    if (row) list.push_back({std::string(BREVO_CHANNELS_DIR) + "/" + c.path, c.ports, c.points});  // not the header
  }
  return list;
}

TEST(Channels, EveryListedFileReadsWithItsCountsAndScansAsStrtod) {
  const std::vector<Channel> list = listedChannels();
  if (list.empty()) GTEST_SKIP() << "no channels.tsv under " << BREVO_CHANNELS_DIR;
  long long numbers = 0;
  for (const Channel& c : list) {
    CapturedLog log;
    const Sparams s(c.path, log.get());
    EXPECT_EQ(s.Size(), c.ports) << c.path;
    EXPECT_EQ(s.Fcount(), c.points) << c.path;
    EXPECT_TRUE(log.text().starts_with("#read " + c.path + " size " + std::to_string(c.ports) +
                                       " for " + std::to_string(c.points) + " frequencies\n"))
        << log.text();
    EXPECT_EQ(log.text().find("uses Touchstone 2.0 keywords") != std::string::npos,
              c.path.find("/unsupported/") != std::string::npos) << c.path;
    std::ifstream in(c.path, std::ios::binary);
    int failures = 0;
    for (std::string line; std::getline(in, line) && failures < 5;) {
      for (std::size_t p = 0; p < line.size();) {
        std::size_t used = 0;
        const std::string d = differs(std::string_view(line).substr(p), line.c_str() + p, &used);
        if (!d.empty()) ADD_FAILURE() << c.path << ": " << d, ++failures;
        numbers += used > 0;
        p += used ? used : 1;
      }
    }
  }
  EXPECT_GT(numbers, 1000000);  // the folder holds millions of numbers
}

}  // namespace
