// The sizing pass's item count and the number scanner's word-at-a-time paths against a
// count made with strtod itself: numbers as strtod reads them, each with the white space
// after it, plus one for the first thing that is not a number.
#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "TouchstoneCore.h"

namespace {

long long strtodCount(const std::string& line) {
  const char* p = line.c_str();
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  long long n = 0;
  while (*p) {
    char* end = nullptr;
    std::strtod(p, &end);
    ++n;
    if (end == p) break;
    p = end;
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  }
  return n;
}

struct CountCase {
  const char* line;
  long long items;   // worked out by hand
};

TEST(SpeedCount, AwkwardLinesCountAsStrtodReadsThem) {
  const CountCase cases[] = {
      {"", 0},
      {"  \t \r\n", 0},
      {"1", 1},
      {"1 2 3\n", 3},
      {"  -1.5e-3 +2. .5 -.5e+2\r\n", 4},
      {"1-2", 2},                      // "1", then "-2"
      {"1+2e3-4", 3},
      {"1.2.3", 2},                    // "1.2", then ".3"
      {"1e5e3", 2},                    // "1e5", then "e3" is no number
      {"1e5.5 7", 3},                  // "1e5", ".5", "7"
      {"1e 2", 2},                     // "1" then "e" is no number
      {"1e+ 2", 2},
      {". 1", 1},                      // "." is no number
      {"- 1", 1},
      {"--1", 1},
      {"+-1", 1},
      {"e5", 1},
      {"1 ! comment", 2},
      {"1 2 abc 3", 3},
      {"inf -INF nan(12) 1", 4},
      {"0x1p3 0X.8 0x", 4},            // "0x" reads as "0", then "x" counts once more
      {"1,5", 2},
      {"5.e3 -0.0 00012", 3},
      {"1\v2\f3", 3},
  };
  for (const CountCase& c : cases) {
    EXPECT_EQ(strtodCount(c.line), c.items) << "reference on \"" << c.line << "\"";
    EXPECT_EQ(countLineItems(c.line), strtodCount(c.line)) << "on \"" << c.line << "\"";
  }
}

TEST(SpeedCount, LineEndsAtItsSizeAndAtNul) {
  EXPECT_EQ(countLineItems(std::string_view("1 2 3 4", 3)), 2);
  EXPECT_EQ(countLineItems(std::string_view("12 34", 4)), 2);         // "12", "3"
  EXPECT_EQ(countLineItems(std::string_view("1 2\0 3 4", 8)), 2);
  EXPECT_EQ(countLineItems(std::string_view("1.5e", 4)), 2);          // "1.5", "e"
  EXPECT_EQ(countLineItems(std::string_view("1.5e7", 4)), 2);
}

// Random lines over the characters numbers are made of, with a few others, long enough
// to span several 64-character words: every count as strtod gives it.
TEST(SpeedCount, RandomLinesMatchStrtod) {
  std::mt19937_64 rng(20240611);
  const std::string alphabet = "0123456789.eE+-   \t\r\n\v.e-0xin";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 300);
  int failures = 0;
  for (int i = 0; i < 100000 && failures < 10; ++i) {
    std::string line;
    const int n = length(rng);
    for (int k = 0; k < n; ++k) line += alphabet[pick(rng)];
    if (countLineItems(line) != strtodCount(line)) {
      ADD_FAILURE() << "on \"" << line << "\": " << countLineItems(line) << ", strtod "
                    << strtodCount(line);
      ++failures;
    }
  }
}

// Lines of well-formed numbers, as exporters write them, with one defect placed at a
// random position (a sign inside a number, a second dot or exponent, a letter): the
// defect may fall on a 64-character word edge.
TEST(SpeedCount, NumberLinesWithOneDefectMatchStrtod) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> digits(1, 12), which(0, 9), count(1, 40), coin(0, 1);
  const char* defects[] = {"-", "+", ".", "e", "E", "x", "!", "e-", ".e", "1"};
  int failures = 0;
  for (int i = 0; i < 40000 && failures < 10; ++i) {
    std::string line = coin(rng) ? "  " : "";
    const int numbers = count(rng);
    for (int k = 0; k < numbers; ++k) {
      if (coin(rng)) line += '-';
      for (int d = digits(rng); d > 0; --d) line += static_cast<char>('0' + which(rng));
      if (coin(rng)) {
        line += '.';
        for (int d = digits(rng) - 1; d > 0; --d) line += static_cast<char>('0' + which(rng));
      }
      if (coin(rng)) line += which(rng) < 5 ? "e-0" + std::to_string(which(rng)) : "E+12";
      line += coin(rng) ? " " : "   ";
    }
    if (i % 2 == 1) {
      std::uniform_int_distribution<std::size_t> at(0, line.size());
      line.insert(at(rng), defects[which(rng)]);
    }
    line += "\n";
    if (countLineItems(line) != strtodCount(line)) {
      ADD_FAILURE() << "on \"" << line << "\": " << countLineItems(line) << ", strtod "
                    << strtodCount(line);
      ++failures;
    }
  }
}

// Digit runs of every length up to 30 before and after the point, read a word at a time:
// the same characters and bits as strtod, also when the text goes on with digits past
// the end of the view.
TEST(SpeedScan, DigitRunsOfEveryLengthMatchStrtod) {
  std::mt19937_64 rng(99);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int whole = 0; whole <= 30; ++whole)
    for (int fraction = -1; fraction <= 30; ++fraction) {
      std::string s = "-";
      for (int d = 0; d < whole; ++d) s += static_cast<char>('0' + digit(rng));
      if (fraction >= 0) s += '.';
      for (int d = 0; d < fraction; ++d) s += static_cast<char>('0' + digit(rng));
      const std::string text = s + "e-7 ";
      char* end = nullptr;
      const double want = std::strtod(text.c_str(), &end);
      double got = 0;
      const std::size_t used = scanNumber(text, &got);
      ASSERT_EQ(used, static_cast<std::size_t>(end - text.c_str())) << text;
      if (used > 0) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(want)) << text;
      }
      // Cut inside the digits: what follows in memory must not be read as part of it.
      const std::string more = s + "123456789012345678";
      for (std::size_t cut = 1; cut <= s.size(); ++cut) {
        const std::string prefix = more.substr(0, cut);
        const double w = std::strtod(prefix.c_str(), &end);
        double g = 0;
        const std::size_t u = scanNumber(std::string_view(more.data(), cut), &g);
        ASSERT_EQ(u, static_cast<std::size_t>(end - prefix.c_str())) << prefix;
        if (u > 0) {
          EXPECT_EQ(std::bit_cast<std::uint64_t>(g), std::bit_cast<std::uint64_t>(w)) << prefix;
        }
      }
    }
}

}  // namespace
