// The number scanner against strtod itself: same characters consumed, same bits.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "TouchstoneCore.h"

namespace {

// Compares scanNumber with strtod on a NUL-terminated text; returns a description of
// the first difference, or an empty string.
std::string differs(const std::string& text) {
  char* end = nullptr;
  const double want = std::strtod(text.c_str(), &end);
  const std::size_t wantUsed = static_cast<std::size_t>(end - text.c_str());
  double got = -12345.0;
  const std::size_t gotUsed = scanNumber(text, &got);
  if (gotUsed != wantUsed)
    return "\"" + text + "\": consumed " + std::to_string(gotUsed) + ", strtod " +
           std::to_string(wantUsed);
  if (wantUsed == 0) return got == -12345.0 ? "" : "\"" + text + "\": value written";
  if (std::bit_cast<std::uint64_t>(got) != std::bit_cast<std::uint64_t>(want)) {
    char line[256];
    std::snprintf(line, sizeof line, "\"%s\": %.17g (%a), strtod %.17g (%a)", text.c_str(), got,
                  got, want, want);
    return line;
  }
  return "";
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
  for (const char* text : awkward) EXPECT_EQ(differs(text), "") << "on \"" << text << "\"";
}

TEST(ScanNumber, StopsAtTheEndOfTheViewAndAtNul) {
  double v = 0;
  EXPECT_EQ(scanNumber(std::string_view("12345", 3), &v), 3u);
  EXPECT_EQ(v, 123.0);
  EXPECT_EQ(scanNumber(std::string_view("1e5", 2), &v), 1u);  // "1e" as strtod sees it
  EXPECT_EQ(v, 1.0);
  EXPECT_EQ(scanNumber(std::string_view("12\0" "34", 5), &v), 2u);
  EXPECT_EQ(v, 12.0);
}

TEST(ScanNumber, RandomDecimalsMatchStrtod) {
  std::mt19937_64 rng(20240607);
  std::uniform_int_distribution<int> digitCount(1, 24), digit(0, 9), exponent(-330, 330),
      pointAt(0, 24), form(0, 3);
  int failures = 0;
  for (int i = 0; i < 200000 && failures < 10; ++i) {
    std::string s;
    if (form(rng) == 0) s += '-';
    const int n = digitCount(rng);
    const int point = pointAt(rng);
    for (int d = 0; d < n; ++d) {
      if (d == point) s += '.';
      s += static_cast<char>('0' + digit(rng));
    }
    const int f = form(rng);
    if (f == 1) s += "e" + std::to_string(exponent(rng));
    if (f == 2) s += "E" + std::to_string(exponent(rng) / 10);
    const std::string d = differs(s);
    if (!d.empty()) {
      ADD_FAILURE() << d;
      ++failures;
    }
  }
}

}  // namespace
