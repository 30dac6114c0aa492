// The bad-input corpus in bad/: one file per defect, each saying inside what is wrong.
// Every file reads without a crash to the counts and log text of its table row, and
// mutated copies of every file read without a crash too.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "TouchstoneCore.h"
#include "test_support.h"

namespace {

struct Probe {
  int k, r, c;
  std::complex<double> expected;
};

struct BadCase {
  const char* file;
  int freqs, ports;
  ReadStatus status;
  const char* log;  // "{}" stands for the file's path
  std::vector<Probe> probes;
};

const char* const kTs2 = "{} uses Touchstone 2.0 keywords, which this reader does not support\n";

std::vector<BadCase> badCases() {
  return {
      {"no_option_line.s2p", 0, 0, ReadStatus::noOptionLine, "", {}},
      {"single_record.s2p", 1, 0, ReadStatus::incomplete, "#read {} size 0 for 1 frequencies\n",
       {}},
      {"ends_inside_record.s4p", 3, 4, ReadStatus::incomplete,
       "#read {} size 4 for 3 frequencies\n", {{2, 3, 4, {234, 0}}, {2, 4, 1, {0, 0}}}},
      {"line_longer_than_1023.s1p", 2, 1, ReadStatus::ok, "#read {} size 1 for 2 frequencies\n",
       {{1, 1, 1, {123, 0}}}},
      {"absurd_port_count.s2p", 0, 0, ReadStatus::tooLarge,
       "{}: 110 ports at 22301 frequencies would need 4.0 GiB, more than the 4 GiB a set may "
       "take; not read\n",
       {}},
      {"nan_and_inf_values.s2p", 2, 2, ReadStatus::ok, "#read {} size 2 for 2 frequencies\n",
       {{0, 1, 2, {INFINITY, -INFINITY}}}},
      {"binary_garbage.s2p", 3, 2, ReadStatus::incomplete, "#read {} size 2 for 3 frequencies\n",
       {{0, 2, 2, {122, 0}}}},
      {"empty.s2p", 0, 0, ReadStatus::noOptionLine, "", {}},
      {"touchstone2_keywords.ts", 7, 0, ReadStatus::incomplete,
       "#read {} size 0 for 7 frequencies\n", {}},
      {"touchstone2_without_option_line.ts", 0, 0, ReadStatus::noOptionLine, "", {}},
      {"inline_comments.s1p", 2, 2, ReadStatus::incomplete, "#read {} size 2 for 2 frequencies\n",
       {{0, 1, 2, {2, 211}}, {0, 2, 1, {0, 0}}, {0, 2, 2, {3, 311}}}},
      {"second_option_line.s1p", 3, 1, ReadStatus::incomplete,
       "#read {} size 1 for 3 frequencies\n", {{1, 1, 1, {211, 0}}}},
      {"option_line_only.s2p", 0, 0, ReadStatus::incomplete,
       "#read {} size 0 for 0 frequencies\n", {}},
      {"pair_missing_its_angle.s2p", 0, 0, ReadStatus::incomplete,
       "#read {} size 0 for 0 frequencies\n", {}},
      {"comma_separated.s2p", 0, 0, ReadStatus::incomplete,
       "#read {} size 0 for 0 frequencies\n", {}},
  };
}

std::string withPath(std::string text, const std::string& path) {
  for (std::size_t at; (at = text.find("{}")) != std::string::npos;) text.replace(at, 2, path);
  return text;
}

std::string corpus(const std::string& file) {
  return std::string(BREVO_TEST_DIR) + "/touchstone/bad/" + file;
}

class BadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInput, CountsStatusAndLog) {
  const BadCase& t = GetParam();
  const std::string path = corpus(t.file);
  ASSERT_FALSE(slurp(path).empty() && std::string(t.file) != "empty.s2p") << "missing " << path;

  CapturedLog log;
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  const Sparams s(name.data(), log.get());
  EXPECT_EQ(s.Fcount(), t.freqs);
  EXPECT_EQ(s.Size(), t.ports);
  std::string want = withPath(t.log, path);
  if (std::string(t.file).ends_with(".ts")) want += withPath(kTs2, path);
  EXPECT_EQ(log.text(), want);

  const ReadResult r = parseTouchstone(slurp(path), path);
  EXPECT_EQ(static_cast<int>(r.status), static_cast<int>(t.status));
  for (const Probe& p : t.probes) {
    const std::complex<double> got = r.set.Value(p.k, p.r, p.c);
    EXPECT_EQ(got, p.expected) << "entry k=" << p.k << " (" << p.r << "," << p.c << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadInput, ::testing::ValuesIn(badCases()),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           for (char& c : n)
                             if (c == '.') c = '_';
                           return n;
                         });

TEST(BadInputNaN, NaNValuesAreStoredAsRead) {
  const ReadResult r = parseTouchstone(slurp(corpus("nan_and_inf_values.s2p")), "n");
  EXPECT_TRUE(std::isnan(r.set.Value(0, 1, 1).real()));
  EXPECT_TRUE(std::isnan(r.set.Value(0, 2, 2).real()));
  EXPECT_EQ(r.set.Value(0, 2, 2).imag(), 1.0);
}

// Flipped bytes, cut files and inserted line feeds in every corpus file: the reader
// must always return a set whose counts agree with its storage.
TEST(BadInputMutations, NeverCrashAndStayConsistent) {
  std::mt19937 rng(99);
  const char noise[] = {'\0', '\n', '\r', ' ', '!', '#', '[', '-', '+', '.', 'e', 'x', '9', '\xff'};
  for (const BadCase& t : badCases()) {
    const std::string original = slurp(corpus(t.file));
    if (original.size() > 10000) continue;  // the large file only repeats one line
    for (int round = 0; round < 300; ++round) {
      std::string text = original;
      const int edits = 1 + static_cast<int>(rng() % 8);
      for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = rng() % text.size();
        switch (rng() % 3) {
          case 0: text[at] = noise[rng() % sizeof noise]; break;
          case 1: text.insert(at, 1, noise[rng() % sizeof noise]); break;
          default: text.resize(at); break;
        }
      }
      const ReadResult r = parseTouchstone(text, t.file);
      const Sparams& s = r.set;
      ASSERT_GE(s.Fcount(), 0);
      ASSERT_GE(s.Size(), 0);
      for (int k = 0; k < s.Fcount(); ++k) {
        (void)s.Freq(k);
        for (int i = 1; i <= s.Size(); ++i)
          for (int j = 1; j <= s.Size(); ++j) (void)s.Value(k, i, j);
      }
      if (s.Fcount() > 0 && s.Size() > 0) {
        (void)s.Value(s.fmax() * 2 + 1, 1, 1, 1);
        (void)s.aParam(1, 1, 0, 0, 1, 0, nullptr);
      }
    }
  }
}

}  // namespace
