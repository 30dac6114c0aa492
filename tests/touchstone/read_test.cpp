// The Touchstone reader on small inline files whose values say where they belong:
// 100*k + 10*r + c for frequency index k and file position (r, c), counted from 1.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "TouchstoneCore.h"
#include "test_support.h"

namespace {

struct Probe {
  int k, r, c;
  std::complex<double> expected;
};

struct ReadCase {
  const char* name;
  std::string text;
  int ports, freqs;
  ReadStatus status;
  double freq1;                  // Freq(1) in hertz, NaN when not checked
  std::vector<Probe> probes;
};

const double kSkip = std::nan("");

std::string longLineFile() {
  // The second record's line is 1028 characters: the reader cuts it after 1023, inside
  // the number 1234, so "123" ends the first piece and "4 0" starts the next one.
  std::string line = "1" + std::string(1019, ' ') + "1234 0\n";
  return "# GHz RI\n1 5 0\n" + line + "3 7 0\n";
}

const std::vector<ReadCase>& cases() {
  static const std::vector<ReadCase> table = {
      {"two_port_ghz_ri_places_second_pair_at_1_2",
       "# GHz S RI R 50\n1 111 -111 112 -112 121 -121 122 -122\n"
       "2 211 -211 212 -212 221 -221 222 -222\n",
       2, 2, ReadStatus::ok, 2e9,
       {{0, 1, 2, {112, -112}}, {0, 2, 1, {121, -121}}, {1, 2, 2, {222, -222}}}},
      {"lower_case_hz_db",
       "# hz s db\n1 -6.0205999132796239 90 0 0 0 0 0 0\n2 0 0 0 0 0 0 0 0\n", 2, 2,
       ReadStatus::ok, 2.0, {{0, 1, 1, {0, 0.5}}, {1, 1, 1, {1, 0}}}},
      {"hash_alone_means_ghz_ma", "#\n1 2 90\n2 3 180\n", 1, 2, ReadStatus::ok, 2e9,
       {{0, 1, 1, {0, 2}}, {1, 1, 1, {-3, 0}}}},
      {"ma_and_ri_selects_ri", "# GHz S MA RI\n1 111 112\n2 211 212\n", 1, 2, ReadStatus::ok,
       2e9, {{0, 1, 1, {111, 112}}}},
      {"trailing_db_remark_selects_db", "# GHz S MA R 50 ! exported from DB\n1 0 90\n2 20 0\n", 1,
       2, ReadStatus::ok, 2e9, {{0, 1, 1, {0, 1}}, {1, 1, 1, {10, 0}}}},
      {"mhz_before_hz", "# MHz S RI\n1 111 0\n2 211 0\n", 1, 2, ReadStatus::ok, 2e6, {}},
      {"khz", "# kHz S RI\n1 111 0\n2 211 0\n", 1, 2, ReadStatus::ok, 2e3, {}},
      {"no_unit_means_ghz", "# S RI R 50\n1 111 0\n2.5 211 0\n", 1, 2, ReadStatus::ok, 2.5e9,
       {}},
      {"remark_mhz_wins_over_ghz", "# GHz S RI ! was MHZ\n1 111 0\n2 211 0\n", 1, 2,
       ReadStatus::ok, 2e6, {}},
      {"mr_is_never_chosen_by_the_reader", "# GHz S MR\n1 2 90\n2 2 0\n", 1, 2, ReadStatus::ok,
       2e9, {{0, 1, 1, {0, 2}}}},
      {"four_port_nine_eight_eight_eight",
       "# GHz S RI R 50\n"
       "1 111 0 112 0 113 0 114 0\n 121 0 122 0 123 0 124 0\n"
       " 131 0 132 0 133 0 134 0\n 141 0 142 0 143 0 144 0\n"
       "2 211 0 212 0 213 0 214 0\n 221 0 222 0 223 0 224 0\n"
       " 231 0 232 0 233 0 234 0\n 241 0 242 0 243 0 244 0\n",
       4, 2, ReadStatus::ok, 2e9,
       {{0, 1, 4, {114, 0}}, {0, 3, 2, {132, 0}}, {0, 4, 1, {141, 0}}, {1, 2, 3, {223, 0}},
        {1, 4, 4, {244, 0}}}},
      {"three_port_pairs_split_across_lines",
       "# GHz RI\n1 111 0 112 0\n 113 0 121 0 122 0 123 0\n 131 0 132 0 133 0\n"
       "2 211 0 212 0 213 0 221 0 222 0 223 0 231 0 232 0 233 0\n",
       3, 2, ReadStatus::ok, 2e9, {{0, 1, 3, {113, 0}}, {0, 2, 1, {121, 0}}, {1, 3, 3, {233, 0}}}},
      {"crlf_lines", "# GHz S RI R 50\r\n1 111 0\r\n2 211 0\r\n", 1, 2, ReadStatus::ok, 2e9,
       {{1, 1, 1, {211, 0}}}},
      {"blank_and_comment_lines_between_records",
       "! header\n\n# GHz RI\n\n! between\n1 111 0\n   \n\t! indented comment\n2 211 0\n\n", 1, 2,
       ReadStatus::ok, 2e9, {{1, 1, 1, {211, 0}}}},
      {"leading_plus_hex_and_exponents", "# GHz RI\n+1 0x1.8p1 -1e0\n2e0 .5 5.\n", 1, 2,
       ReadStatus::ok, 2e9, {{0, 1, 1, {3, -1}}, {1, 1, 1, {0.5, 5}}}},
      {"exponent_without_digits_leaves_the_e",
       // "2e" reads as 2 and "e 3" stops the line: the pair's second number is missing.
       "# GHz RI\n1 2e 3\n2 4 5\n", 1, 2, ReadStatus::ok, 2e9, {{0, 1, 1, {2, 0}}}},
      {"text_after_a_number_reads_as_missing_zero", "# GHz RI\n1 111 junk\n2 211 0\n", 1, 2,
       ReadStatus::ok, 2e9, {{0, 1, 1, {111, 0}}}},
      {"single_record_has_no_port_count", "# GHz RI\n1 111 0 112 0 121 0 122 0\n", 0, 1,
       ReadStatus::incomplete, kSkip, {}},
      {"option_line_only", "# GHz S RI R 50\n", 0, 0, ReadStatus::incomplete, kSkip, {}},
      {"no_option_line", "! nothing but a comment\n1 111 0\n2 211 0\n", 0, 0,
       ReadStatus::noOptionLine, kSkip, {}},
      {"empty_text", "", 0, 0, ReadStatus::noOptionLine, kSkip, {}},
      {"inline_comment_miscounts_records",
       // "2 211 0 ! second" counts four items: a continuation, so record 3 is never counted.
       "# GHz RI\n1 111 0\n2 211 0 ! second\n3 311 0\n", 1, 2, ReadStatus::ok, 2e9,
       {{1, 1, 1, {211, 0}}}},
      {"second_hash_line_ends_the_read_incomplete",
       "# GHz RI\n1 111 0\n2 211 0\n# MHz RI\n4 411 0\n", 1, 4, ReadStatus::incomplete, 2e9,
       {{1, 1, 1, {211, 0}}, {2, 1, 1, {411, 0}}, {3, 1, 1, {0, 0}}}},
      {"keyword_line_after_data_is_a_record_start",
       "# GHz RI\n1 111 0\n[End]\n", 1, 2, ReadStatus::incomplete, 0.0, {{0, 1, 1, {111, 0}}}},
      {"first_record_with_extra_pair_rounds_ports_down",
       // Five pairs: the largest square not above 5 is 4, so two ports.
       "# GHz RI\n1 1 0 2 0 3 0 4 0 5 0\n2 211 0 212 0 221 0 222 0\n", 2, 2,
       ReadStatus::ok, 2e9, {{0, 2, 2, {4, 0}}, {1, 1, 1, {211, 0}}}},
      {"line_cut_after_1023_characters", longLineFile(), 1, 2, ReadStatus::ok, 1e9,
       {{1, 1, 1, {123, 0}}}},
      {"nul_byte_ends_a_line", std::string("# GHz RI\n1 111 0\n2 211") + '\0' + " 5\n3 311 0\n", 1, 2,
       ReadStatus::ok, 2e9, {{1, 1, 1, {211, 0}}}},
  };
  return table;
}

class TouchstoneRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TouchstoneRead, SizesPlacementAndStatus) {
  const ReadCase& t = GetParam();
  const ReadResult r = parseTouchstone(t.text, t.name);
  EXPECT_EQ(r.set.Size(), t.ports);
  EXPECT_EQ(r.set.Fcount(), t.freqs);
  EXPECT_EQ(static_cast<int>(r.status), static_cast<int>(t.status));
  EXPECT_EQ(r.set.fileName(), t.name);
  if (!std::isnan(t.freq1)) {
    EXPECT_DOUBLE_EQ(r.set.Freq(1), t.freq1);
  }
  for (const Probe& p : t.probes) {
    const std::complex<double> got = r.set.Value(p.k, p.r, p.c);
    EXPECT_NEAR(got.real(), p.expected.real(), 1e-12 * (1 + std::abs(p.expected)))
        << "entry k=" << p.k << " (" << p.r << "," << p.c << ")";
    EXPECT_NEAR(got.imag(), p.expected.imag(), 1e-12 * (1 + std::abs(p.expected)))
        << "entry k=" << p.k << " (" << p.r << "," << p.c << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TouchstoneRead, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TouchstoneComments, KeptWithTheirBangAndLineFeedUnlessTooShort) {
  const ReadResult r = parseTouchstone(
      "!\n!x\n  ! indented\n!\r\n# GHz RI\n! after option\n1 111 0\n!\n2 211 0\n!y", "c");
  std::vector<std::string> got;
  for (const auto& c : r.set.Comments()) got.push_back(*c);
  // "!\n" is two characters and is dropped; "!\r\n" is three and is kept; the last
  // "!y" has no line feed and is only two characters.
  const std::vector<std::string> want = {"!x\n", "! indented\n", "!\r\n", "! after option\n"};
  EXPECT_EQ(got, want);
}

TEST(TouchstoneFreq, NaNOutsideTheList) {
  const ReadResult r = parseTouchstone("# GHz RI\n1 111 0\n2 211 0\n", "f");
  EXPECT_TRUE(std::isnan(r.set.Freq(-1)));
  EXPECT_TRUE(std::isnan(r.set.Freq(2)));
  EXPECT_DOUBLE_EQ(r.set.Freq(0), 1e9);
  EXPECT_DOUBLE_EQ(r.set.fmax(), 2e9);
}

TEST(TouchstoneCopy, AssignedSetOutlivesItsSourceAndSharesStorage) {
  Sparams kept;
  {
    Sparams temporary = parseTouchstone("# GHz RI\n1 111 0\n2 211 0\n", "x").set;
    kept = temporary;
    EXPECT_EQ(temporary.set(1, 1, 1, {5, 6}), 0);  // shared storage: seen by both
  }
  EXPECT_EQ(kept.Fcount(), 2);
  EXPECT_EQ(kept.Value(1, 1, 1), std::complex<double>(5, 6));
  EXPECT_EQ(kept.Value(0, 1, 1), std::complex<double>(111, 0));
  EXPECT_EQ(kept.fileName(), "x");
}

TEST(TouchstoneLimits, AbsurdSizeIsRefusedWithAMessageBeforeAllocating) {
  // A first record of 10,000 pairs makes 100 ports; 30,000 one-item lines after it
  // make as many records: 30,001 * (10,000 * 16 + 8) bytes is 4.47 GiB.
  std::string text = "# GHz RI\n1\n";
  for (int line = 0; line < 40; ++line) {
    for (int i = 0; i < 500; ++i) text += " 0";
    text += "\n";
  }
  for (int i = 0; i < 30000; ++i) text += "1\n";
  const ReadResult r = parseTouchstone(text, "huge.s100p");
  EXPECT_EQ(static_cast<int>(r.status), static_cast<int>(ReadStatus::tooLarge));
  EXPECT_EQ(r.set.Size(), 0);
  EXPECT_EQ(r.set.Fcount(), 0);
  EXPECT_EQ(r.message.rfind("huge.s100p: 100 ports at 30001 frequencies would need 4.5 GiB", 0),
            0u)
      << r.message;
}

TEST(TouchstoneConstruct, EmptySetOfGivenSizeIsZero) {
  Sparams s(3, 2, "built");
  EXPECT_EQ(s.Size(), 3);
  EXPECT_EQ(s.Fcount(), 2);
  EXPECT_EQ(s.Freq(1), 0.0);
  EXPECT_EQ(s.Value(1, 3, 3), std::complex<double>(0, 0));
  EXPECT_EQ(s.fileName(), "built");
  Sparams none(-1, -5, "negative");  // sizes below zero are taken as zero
  EXPECT_EQ(none.Size(), 0);
  EXPECT_EQ(none.Fcount(), 0);
}

// The file constructor: trimming, messages and the extra line for 2.0 keywords.
TEST(TouchstoneFile, TrailingBlankAndCarriageReturnAreTrimmedInPlace) {
  ScratchDir dir;
  const std::string path = dir.write("trim.s1p", "# GHz RI\n1 111 0\n2 211 0\n");
  std::string passed = path + " \r";
  std::vector<char> buffer(passed.begin(), passed.end());
  buffer.push_back('\0');
  CapturedLog log;
  Sparams s(buffer.data(), log.get());
  EXPECT_STREQ(buffer.data(), path.c_str());
  EXPECT_EQ(s.fileName(), path);
  EXPECT_EQ(s.Fcount(), 2);
  EXPECT_EQ(log.text(), "cannot open for read:  " + path + "\n#read " + path +
                            " size 1 for 2 frequencies\n");
}

TEST(TouchstoneFile, MissingFileLeavesAnEmptySetAndOneMessage) {
  ScratchDir dir;
  const std::string path = dir.file("absent.s2p");
  std::string passed = path + ".";
  std::vector<char> buffer(passed.begin(), passed.end());
  buffer.push_back('\0');
  CapturedLog log;
  Sparams s(buffer.data(), log.get());
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Fcount(), 0);
  EXPECT_EQ(log.text(), "cannot open for read:  " + path + "\n");
}

TEST(TouchstoneFile, StringNameReadsTheSame) {
  ScratchDir dir;
  const std::string path = dir.write("s.s2p", "# GHz RI\n1 1 0 2 0 3 0 4 0\n2 5 0 6 0 7 0 8 0\n");
  CapturedLog log;
  Sparams s(path, log.get());
  EXPECT_EQ(s.Size(), 2);
  EXPECT_EQ(s.Value(1, 2, 1), std::complex<double>(7, 0));
  EXPECT_EQ(log.text(), "#read " + path + " size 2 for 2 frequencies\n");
}

}  // namespace

namespace {

// Files of 8 MiB and more take another buffer on the way in; the result must not change.
TEST(TouchstoneFile, LargeFileReadsLikeASmallOne) {
  std::string text = "# Hz RI\n";
  const int records = 700000;
  for (int k = 0; k < records; ++k) text += std::to_string(k + 1) + " " + std::to_string(k) + " -1\n";
  ASSERT_GT(text.size(), 8u << 20);
  ScratchDir dir;
  const std::string path = dir.write("large.s1p", text);
  CapturedLog log;
  Sparams s(path, log.get());
  EXPECT_EQ(s.Size(), 1);
  EXPECT_EQ(s.Fcount(), records);
  EXPECT_EQ(s.Freq(records - 1), static_cast<double>(records));
  EXPECT_EQ(s.Value(records - 1, 1, 1), std::complex<double>(records - 1, -1));
  EXPECT_EQ(log.text(), "#read " + path + " size 1 for 700000 frequencies\n");
}

}  // namespace
