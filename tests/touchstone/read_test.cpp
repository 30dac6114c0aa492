// The Touchstone reader: inline files whose values are 100 k + 10 r + c (k the frequency
// index, (r, c) the place in the file from 1) and the named defects of bad/, each by its
// sizes, status, values and the file constructor's log; mutated copies of the defects; and
// the file constructor's names and large files.

#include "support.h"

namespace {

struct Probe {
  int k, r, c;
  cplx want;
};  // a NaN part asks for a NaN

// text: the file itself, or "@NAME" for tests/touchstone/bad/NAME, which is also read
// through the file constructor and its log compared ("{}" stands for the path).
struct ReadCase {
  const char* name;
  std::string text;
  int ports, freqs;
  ReadStatus status;
  double freq1;  // hertz; 0 for no check
  std::vector<Probe> probes;
  const char* log = "";
};

std::string corpus(const std::string& name) {
  return std::string(BREVO_TEST_DIR) + "/touchstone/bad/" + name;
}

const ReadStatus kOk = ReadStatus::ok, kNone = ReadStatus::noOptionLine,
                 kShort = ReadStatus::incomplete;
const ReadCase kReads[] = {
    {"two_port_second_pair_at_1_2",
     "# GHz S RI R 50\n1 111 -111 112 -112 121 -121 122 -122\n"
     "2 211 -211 212 -212 221 -221 222 -222\n",
     2,
     2,
     kOk,
     2e9,
     {{0, 1, 2, {112, -112}}, {0, 2, 1, {121, -121}}, {1, 2, 2, {222, -222}}}},
    // -6.0206 dB is a magnitude of 0.5.
    {"lower_case_hz_db",
     "# hz s db\n1 -6.0205999132796239 90 0 0 0 0 0 0\n2 0 0 0 0 0 0 0 0\n",
     2,
     2,
     kOk,
     2.0,
     {{0, 1, 1, {0, 0.5}}, {1, 1, 1, {1, 0}}}},
    {"hash_alone_is_ghz_ma",
     "#\n1 2 90\n2 3 180\n",
     1,
     2,
     kOk,
     2e9,
     {{0, 1, 1, {0, 2}}, {1, 1, 1, {-3, 0}}}},
    {"ma_and_ri_is_ri",
     "# GHz S MA RI\n1 111 112\n2 211 212\n",
     1,
     2,
     kOk,
     2e9,
     {{0, 1, 1, {111, 112}}}},
    {"trailing_db_remark_is_db",
     "# GHz S MA R 50 ! exported from DB\n1 0 90\n2 20 0\n",
     1,
     2,
     kOk,
     2e9,
     {{0, 1, 1, {0, 1}}, {1, 1, 1, {10, 0}}}},
    {"mhz_before_hz", "# MHz S RI\n1 111 0\n2 211 0\n", 1, 2, kOk, 2e6, {}},
    {"khz", "# kHz S RI\n1 111 0\n2 211 0\n", 1, 2, kOk, 2e3, {}},
    {"remark_mhz_wins", "# GHz S RI ! was MHZ\n1 111 0\n2 211 0\n", 1, 2, kOk, 2e6, {}},
    {"mr_never_chosen", "# GHz S MR\n1 2 90\n2 2 0\n", 1, 2, kOk, 2e9, {{0, 1, 1, {0, 2}}}},
    {"three_port_pairs_split",
     "# GHz RI\n1 111 0 112 0\n 113 0 121 0 122 0 123 0\n 131 0 132 0 133 0\n"
     "2 211 0 212 0 213 0 221 0 222 0 223 0 231 0 232 0 233 0\n",
     3,
     2,
     kOk,
     2e9,
     {{0, 1, 3, {113, 0}}, {0, 2, 1, {121, 0}}, {1, 3, 3, {233, 0}}}},
    {"crlf", "# GHz S RI R 50\r\n1 111 0\r\n2 211 0\r\n", 1, 2, kOk, 2e9, {{1, 1, 1, {211, 0}}}},
    {"blank_and_comment_lines_between",
     "! header\n\n# GHz RI\n\n! between\n1 111 0\n   \n\t! indented\n2 211 0\n\n",
     1,
     2,
     kOk,
     2e9,
     {{1, 1, 1, {211, 0}}}},
    // "2e" reads as 2 and "e 3" stops the line: the pair's second number is missing.
    {"exponent_without_digits", "# GHz RI\n1 2e 3\n2 4 5\n", 1, 2, kOk, 2e9, {{0, 1, 1, {2, 0}}}},
    {"text_after_number_is_zero",
     "# GHz RI\n1 111 junk\n2 211 0\n",
     1,
     2,
     kOk,
     2e9,
     {{0, 1, 1, {111, 0}}}},
    // "2 211 0 ! second" is four items, a continuation: record 3 is never counted.
    {"inline_comment_miscounts",
     "# GHz RI\n1 111 0\n2 211 0 ! second\n3 311 0\n",
     1,
     2,
     kOk,
     2e9,
     {{1, 1, 1, {211, 0}}}},
    {"keyword_line_is_a_record_start",
     "# GHz RI\n1 111 0\n[End]\n",
     1,
     2,
     ReadStatus::incomplete,
     0,
     {{0, 1, 1, {111, 0}}}},
    // Five pairs: the largest square not above 5 is 4, so two ports.
    {"extra_pair_rounds_ports_down",
     "# GHz RI\n1 1 0 2 0 3 0 4 0 5 0\n2 211 0 212 0 221 0 222 0\n",
     2,
     2,
     kOk,
     2e9,
     {{0, 2, 2, {4, 0}}, {1, 1, 1, {211, 0}}}},
    {"nul_byte_ends_a_line",
     std::string("# GHz RI\n1 111 0\n2 211") + '\0' + " 5\n3 311 0\n",
     1,
     2,
     kOk,
     2e9,
     {{1, 1, 1, {211, 0}}}},
    {"no_option_line", "@no_option_line.s2p", 0, 0, kNone, 0, {}},
    {"empty", "@empty.s2p", 0, 0, kNone, 0, {}},
    {"touchstone2_without_option_line", "@touchstone2_without_option_line.ts", 0, 0, kNone, 0, {}},
    {"single_record",
     "@single_record.s2p",
     0,
     1,
     kShort,
     0,
     {},
     "#read {} size 0 for 1 frequencies\n"},
    {"touchstone2_keywords",
     "@touchstone2_keywords.ts",
     0,
     7,
     kShort,
     0,
     {},
     "#read {} size 0 for 7 frequencies\n"},
    {"option_line_only",
     "@option_line_only.s2p",
     0,
     0,
     kShort,
     0,
     {},
     "#read {} size 0 for 0 frequencies\n"},
    {"pair_missing_its_angle",
     "@pair_missing_its_angle.s2p",
     0,
     0,
     kShort,
     0,
     {},
     "#read {} size 0 for 0 frequencies\n"},
    {"comma_separated",
     "@comma_separated.s2p",
     0,
     0,
     kShort,
     0,
     {},
     "#read {} size 0 for 0 frequencies\n"},
    {"ends_inside_record",
     "@ends_inside_record.s4p",
     4,
     3,
     kShort,
     0,
     {{2, 3, 4, {234, 0}}, {2, 4, 1, {0, 0}}},
     "#read {} size 4 for 3 frequencies\n"},
    // The second record's line is cut after 1023 characters, inside the number 1234.
    {"line_longer_than_1023",
     "@line_longer_than_1023.s1p",
     1,
     2,
     kOk,
     0,
     {{1, 1, 1, {123, 0}}},
     "#read {} size 1 for 2 frequencies\n"},
    {"absurd_port_count",
     "@absurd_port_count.s2p",
     0,
     0,
     ReadStatus::tooLarge,
     0,
     {},
     "{}: 110 ports at 22301 frequencies would need 4.0 GiB, more than the 4 GiB a set may take; "
     "not read\n"},
    {"nan_and_inf_values",
     "@nan_and_inf_values.s2p",
     2,
     2,
     kOk,
     0,
     {{0, 1, 2, {INFINITY, -INFINITY}}, {0, 1, 1, {NAN, 0}}, {0, 2, 2, {NAN, 1}}},
     "#read {} size 2 for 2 frequencies\n"},
    {"binary_garbage",
     "@binary_garbage.s2p",
     2,
     3,
     kShort,
     0,
     {{0, 2, 2, {122, 0}}},
     "#read {} size 2 for 3 frequencies\n"},
    {"inline_comments",
     "@inline_comments.s1p",
     2,
     2,
     kShort,
     0,
     {{0, 1, 2, {2, 211}}, {0, 2, 1, {0, 0}}, {0, 2, 2, {3, 311}}},
     "#read {} size 2 for 2 frequencies\n"},
    {"second_option_line",
     "@second_option_line.s1p",
     1,
     3,
     kShort,
     0,
     {{1, 1, 1, {211, 0}}},
     "#read {} size 1 for 3 frequencies\n"},
};

class TouchstoneRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TouchstoneRead, SizesStatusValuesAndLog) {
  const ReadCase& t = GetParam();
  const bool file = t.text.starts_with("@");
  const std::string path = file ? corpus(t.text.substr(1)) : t.name;
  const ReadResult r = parseTouchstone(file ? readFile(path) : t.text, path);
  EXPECT_EQ(std::vector({r.set.Size(), r.set.Fcount()}), std::vector({t.ports, t.freqs}));
  EXPECT_EQ(r.status, t.status);
  EXPECT_EQ(r.set.fileName(), path);
  EXPECT_DOUBLE_EQ(t.freq1 != 0 ? r.set.Freq(1) : 0.0, t.freq1);
  for (const Probe& p : t.probes) {
    const cplx got = r.set.Value(p.k, p.r, p.c);
    auto same = [](double g, double w) {
      return g == w || (std::isnan(g) && std::isnan(w)) ||
             std::abs(g - w) <= 1e-12 * (1 + std::abs(w));
    };
    EXPECT_TRUE(same(got.real(), p.want.real()) && same(got.imag(), p.want.imag()))
        << "k=" << p.k << " (" << p.r << "," << p.c << ") holds " << got << ", want " << p.want;
  }
  if (!file) return;
  CapturedLog log;
  const Sparams s(path, log.get());
  EXPECT_EQ(std::vector({s.Size(), s.Fcount()}), std::vector({t.ports, t.freqs}));
  std::string want = t.log;
  if (path.ends_with(".ts"))
    want += "{} uses Touchstone 2.0 keywords, which this reader does not support\n";
  for (std::size_t at; (at = want.find("{}")) != std::string::npos;) want.replace(at, 2, path);
  EXPECT_EQ(log.text(), want);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TouchstoneRead, ::testing::ValuesIn(kReads), rowName);

// "!\n" (two characters) and a last "!y" without line feed are dropped; "!\r\n" is kept. Copies
// of a set share its storage.
TEST(TouchstoneRead, CommentsFreqRangeAndSharedCopies) {
  const ReadResult r = parseTouchstone(
      "!\n!x\n  ! indented\n!\r\n# GHz RI\n! after option\n1 111 0\n!\n2 211 0\n!y", "c");
  std::vector<std::string> comments;
  for (const auto& c : r.set.Comments()) comments.push_back(*c);
  EXPECT_EQ(comments,
            (std::vector<std::string>{"!x\n", "! indented\n", "!\r\n", "! after option\n"}));
  EXPECT_TRUE(std::isnan(r.set.Freq(-1)) && std::isnan(r.set.Freq(2)) && r.set.fmax() == 2e9);
  Sparams copy = r.set;
  EXPECT_EQ(copy.set(1, 1, 1, {5, 6}), 0);
  EXPECT_EQ(std::vector({r.set.Value(0, 1, 1), r.set.Value(1, 1, 1)}),
            std::vector({cplx(111, 0), cplx(5, 6)}));
}

// The file constructor trims trailing blanks and carriage returns (and a last ".") from the
// name in place; files of 8 MiB and more take another buffer and must read the same.
TEST(TouchstoneFile, NamesAndLogLines) {
  brevo_test::Workspace dir;
  std::string large = "# Hz RI\n";
  for (int k = 0; k < 700000; ++k)
    large += std::to_string(k + 1) + " " + std::to_string(k) + " -1\n";
  dir.file("trim.s1p", "# GHz RI\n1 111 0\n2 211 0\n"), dir.file("large.s1p", large);
  const std::string path = dir / "trim.s1p", missing = dir / "absent.s2p", big = dir / "large.s1p";
  for (const auto& [passed, name, log] :
       {std::tuple{
            path + " \r", path,
            "cannot open for read:  " + path + "\n#read " + path + " size 1 for 2 frequencies\n"},
        {missing + ".", missing, "cannot open for read:  " + missing + "\n"},
        {big, big, "#read " + big + " size 1 for 700000 frequencies\n"}}) {
    std::vector<char> buffer(passed.begin(), passed.end());
    buffer.push_back('\0');
    CapturedLog captured;
    const Sparams s(buffer.data(), captured.get());
    EXPECT_STREQ(buffer.data(), name.c_str());
    EXPECT_EQ(captured.text(), log);
    EXPECT_TRUE(name != big ||
                (s.Value(699999, 1, 1) == cplx(699999, -1) && s.Freq(699999) == 700000.0));
  }
}

}  // namespace
