// Engineering numbers, output-file names and the run's default streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "equal.h"
#include "variants.h"

namespace {

struct EngCase {
  const char* text;
  double expected;
};

// Decimal values worked out by hand; compared within a few units in the last place.
const EngCase kEng[] = {
    {"400m", 0.4},          {"25.78125G", 25781250000.0}, {"10p", 1e-11},
    {"161m", 0.161},        {"1meg", 1e6},                {"1MEG", 1e6},
    {"1mEg", 1e6},          {"1megohm", 1e6},             {"1M", 0.001},
    {"1me", 0.001},         {"1e-12", 1e-12},             {"1p", 1e-12},
    {"3t", 3e12},           {"3T", 3e12},                 {"2f", 2e-15},
    {"1a", 1e-18},          {"1A", 1e-18},                {"5n", 5e-9},
    {"5u", 5e-6},           {"7k", 7e3},                  {"7K", 7e3},
    {"2g", 2e9},            {"10mV", 0.01},               {"3GHz", 3e9},
    {"1e3k", 1e6},          {"-2k", -2000.0},             {"+2.5u", 2.5e-6},
    {"  5k", 5000.0},       {".5k", 500.0},               {"1", 1.0},
    {"k", 0.0},             {"", 0.0},                    {"meg", 0.0},
    {"1e", 1.0},            {"2.5x", 2.5},                {"1 k", 1.0},
    {"1E3", 1000.0},        {"abc", 0.0},                 {"-", 0.0},
};

TEST(EngStrtod, SuffixTable) {
  for (const EngCase& c : kEng) EXPECT_DOUBLE_EQ(eng_strtod(c.text), c.expected) << '"' << c.text << '"';
}

TEST(EngStrtod, MegIsMilliThenGiga) {
  // 9 * 0.001 * 1e9 rounds to 9000000.000000002 in double precision, while a
  // single factor of 1e6 would give 9000000 exactly: the order is visible.
  EXPECT_EQ(eng_strtod("9meg"), 9000000.000000002);
  EXPECT_EQ(eng_strtod("13MEG"), 13000000.000000002);
  EXPECT_EQ(eng_strtod("1meg"), 1e6);
}

TEST(EngStrtod, NullAndHugeTexts) {
  EXPECT_EQ(eng_strtod(nullptr), 0.0);
  const std::string digits(100000, '1');
  EXPECT_EQ(eng_strtod(digits.c_str()), HUGE_VAL);
  EXPECT_EQ(eng_strtod((std::string(5000, '0') + "4k").c_str()), 4000.0);
}

struct PathCase {
  const char* name;
  const char* suffix;
  const char* expected;
};

const PathCase kPaths[] = {
    {"run1", ".wv1", "run1.wv1"},
    {"out/run1", ".wv1", "out/run1.wv1"},
    {"run.v2", ".wv1", "run.wv1"},
    {"a.b.c", ".fd", "a.fd"},
    {".hidden", ".fd", ".hidden.fd"},
    {".hidden.x", ".fd", ".hidden.fd"},
    {"dir.d/run", ".wv2", "dir.wv2"},
    {"run.", ".wv2", "run.wv2"},
    {"", ".wv1", ".wv1"},
    {".", ".wv1", "..wv1"},
    {"run1", "", "run1"},
    {"run.v2", nullptr, "run.v2"},
    {"out/my run.v2", nullptr, "out/my run.v2"},
    {nullptr, nullptr, ""},
    {nullptr, ".fd", ".fd"},
};

TEST(RePath, CutAtFirstDotAfterFirstCharacter) {
  for (const PathCase& c : kPaths) {
    const std::string got = rePath(".", c.name, c.suffix);
    EXPECT_EQ(got, c.expected) << (c.name ? c.name : "(null)") << " + "
                               << (c.suffix ? c.suffix : "(null)");
    EXPECT_EQ(rePath("/some/other/base", c.name, c.suffix), got) << "the base is never used";
  }
}

TEST(RunDefaults, IndependentOfCommandLine) {
  char word0[] = "Brevo";
  char word1[] = "results=out.txt";
  char* argv[] = {word0, word1, nullptr};
  for (int argc = 0; argc <= 2; ++argc) {
    char** words = argc == 0 ? nullptr : argv;
    EXPECT_EQ(pwd(argc, words), ".");
    EXPECT_EQ(initialOut(argc, words), stdout);
    EXPECT_EQ(initialLog(argc, words), stderr);
  }
}

}  // namespace
