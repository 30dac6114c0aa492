// Hostile input: over-long values, views without terminators, embedded NULs,
// huge texts, and the corpus of bad control files in tests/control/bad/.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "equal.h"
#include "table_fixture.h"

namespace {

// A string buffer with a guard behind it, to see any write past the 1000 bytes.
struct Guarded {
  char text[kStringStorage] = "old";
  char guard[16] = "GUARD-GUARD-GUA";
};

struct LongCase {
  const char* name;
  std::string text;     // assignment to the guarded variable "file"
  int status;
  std::size_t storedLength;   // 3 ("old") when refused
  std::string log;      // what the logging overload writes
};

std::string tooLongLog(std::size_t n) {
  return "value of file is " + std::to_string(n) +
         " characters, longer than the 999 it may hold; not assigned\n";
}

std::vector<LongCase> longCases() {
  const std::string fits(999, 'a');
  const std::string over(1000, 'a');
  std::string spaced;   // 999 characters once the unquoted blanks are dropped
  for (int k = 0; k < 999; ++k) spaced += k % 2 ? "b " : "b";
  return {
      {"exactly_999_fits", "file=" + fits, 0, 999, ""},
      {"1000_refused", "file=" + over, 3, 3, tooLongLog(1000)},
      {"quoted_1200_refused", "file=\"" + std::string(1200, 'q') + "\"", 3, 3, tooLongLog(1200)},
      {"length_counted_after_blanks_dropped", "file=" + spaced, 0, 999, ""},
      {"100000_refused", "file=" + std::string(100000, 'c'), 3, 3, tooLongLog(100000)},
      {"long_comment_ignored", "file=x #" + std::string(5000, 'c'), 0, 1, ""},
      {"long_env_refused", "file=$BREVO_TEST_LONG", 3, 3, tooLongLog(1500)},
      {"long_reference_refused", "file=%long_note", 3, 3, tooLongLog(2000)},
  };
}

class OverLong : public ::testing::TestWithParam<LongCase> {};

TEST_P(OverLong, RefusedWholeWithOneLogLine) {
  const LongCase& c = GetParam();
  setenv("BREVO_TEST_LONG", std::string(1500, 'e').c_str(), 1);
  for (int withLog = 0; withLog < 2; ++withLog) {
    Guarded g;
    auto head = create_variable_def();
    add_variable(head.get(), g.text, "file", 's');
    ASSERT_EQ(equal(head.get(), "long_note=" + std::string(2000, 'n')), 1);
    FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    const int status = withLog ? equal(head.get(), c.text, log) : equal(head.get(), c.text);
    EXPECT_EQ(status, c.status) << c.name << (withLog ? " with log" : "");
    EXPECT_EQ(std::strlen(g.text), c.storedLength) << c.name;
    if (c.status != 0) {
      EXPECT_STREQ(g.text, "old") << c.name;
    }
    EXPECT_STREQ(g.guard, "GUARD-GUARD-GUA") << c.name;
    EXPECT_EQ(readAll(log), withLog ? c.log : "") << c.name;
    std::fclose(log);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, OverLong, ::testing::ValuesIn(longCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OverLong, LogNamesTheKeywordAsRegistered) {
  Table t;
  FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(equal(t.get(), "  Thru = " + std::string(1001, 'x'), log), 3);
  EXPECT_EQ(readAll(log),
            "value of Thru is 1001 characters, longer than the 999 it may hold; not assigned\n");
  std::fclose(log);
}

TEST(Views, NeverReadPastTheView) {
  Table t;
  // The digits after the view would change the value if they were read.
  const std::string line = "PAM=12345";
  EXPECT_EQ(equal(t.get(), std::string_view(line).substr(0, 5)), 0);
  EXPECT_EQ(t.valueOf("PAM"), "1");
  // A heap buffer of exactly the view's size, with no terminator behind it.
  const std::string text = "Thru='unterminated";
  std::vector<char> exact(text.begin(), text.end());
  EXPECT_EQ(equal(t.get(), std::string_view(exact.data(), exact.size())), 0);
  EXPECT_EQ(t.valueOf("Thru"), "unterminated");
  const std::string name = "no_equals_here";
  std::vector<char> bare(name.begin(), name.end());
  EXPECT_EQ(equal(t.get(), std::string_view(bare.data(), bare.size())), 1);
  // A NUL ends the text as it would a C string.
  EXPECT_EQ(equal(t.get(), std::string_view("PAM=7\0" "8", 7)), 0);
  EXPECT_EQ(t.valueOf("PAM"), "7");
  EXPECT_EQ(equal(t.get(), std::string_view("PAM\0=9", 6)), 1);
  EXPECT_EQ(t.valueOf("PAM"), "7");
}

TEST(Views, HugeTextsStayDefined) {
  Table t;
  EXPECT_EQ(equal(t.get(), "PAM=" + std::string(1 << 20, '9')), 0);
  EXPECT_EQ(t.valueOf("PAM"), "2147483647");
  EXPECT_EQ(equal(t.get(), "signal=" + std::string(1 << 20, '9')), 0);
  EXPECT_EQ(t.valueOf("signal"), "inf");
  EXPECT_EQ(equal(t.get(), "gain=1e999"), 0);
  EXPECT_EQ(t.valueOf("gain"), "inf");
  const std::string hugeName(1 << 20, 'k');
  EXPECT_EQ(equal(t.get(), hugeName + "=1"), 1);
  EXPECT_EQ(t.valueOf(hugeName), "1");
  EXPECT_EQ(equal(t.get(), "Thru=\"" + std::string(1 << 20, ' ')), 3);
  EXPECT_EQ(t.valueOf("Thru"), "old");
  EXPECT_EQ(equal(t.get(), std::string(1 << 20, '=')), 1);
  EXPECT_EQ(equal(t.get(), "PAM=%" + std::string(1 << 20, 'r')), 1);
}

// One control file per defect; the first line of each says what is wrong.
struct BadCase {
  const char* file;
  int lastStatus;         // status of the file's last line
  const char* variable;
  const char* expected;
};

const BadCase kBad[] = {
    {"unterminated_quote.cf", 0, "Thru", "file.s4p 1 3 2 4\n"},
    {"crlf_line_ends.cf", 0, "signal", "0.4"},
    {"crlf_text_value.cf", 0, "Thru", "file.s4p"},
    {"unset_environment_reference.cf", 2, "Thru", "old"},
    {"lone_dollar.cf", 2, "Thru", "old"},
    {"unknown_variable_reference.cf", 1, "PAM", "-7"},
    {"lone_percent.cf", 1, "PAM", "-7"},
    {"commented_out_keyword.cf", 1, "PAM", "-7"},
    {"empty_name.cf", 1, "PAM", "-7"},
    {"word_for_integer.cf", 3, "PAM", "-7"},
    {"empty_integer_value.cf", 3, "PAM", "-7"},
    {"over_long_string.cf", 3, "Thru", "old"},
    {"nul_inside_line.cf", 0, "PAM", "1"},
    {"no_final_newline.cf", 0, "PAM", "6"},
};

class BadFiles : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFiles, LastLineStatusAndValue) {
  const BadCase& c = GetParam();
  const std::string path = std::string(BREVO_TEST_DIR) + "/control/bad/" + c.file;
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr) << path;
  Table t;
  char* line = nullptr;
  std::size_t capacity = 0;
  ssize_t got;
  int status = -1;
  int lines = 0;
  while ((got = getline(&line, &capacity, f)) > 0) {
    status = equal(t.get(), std::string_view(line, static_cast<std::size_t>(got)));
    if (lines++ == 0) {
      EXPECT_EQ(status, 1) << "the first line only describes the defect";
    }
  }
  std::free(line);
  std::fclose(f);
  EXPECT_GE(lines, 2) << path;
  EXPECT_EQ(status, c.lastStatus) << c.file;
  EXPECT_EQ(t.valueOf(c.variable), c.expected) << c.file;
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadFiles, ::testing::ValuesIn(kBad), [](const auto& info) {
  std::string name = info.param.file;
  return name.substr(0, name.find('.'));
});

}  // namespace
