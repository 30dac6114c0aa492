// brevo-cascade run as a program: statuses, messages, a clean standard output, OUT
// replaced whole on success and left byte for byte on every refusal, and a joined real
// channel that Brevo analyses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TouchstoneCore.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(BREVO_TOOLS_DIR) + "/brevo-cascade";
const std::string kFixtures = std::string(BREVO_TEST_DIR) + "/tools/cascade/";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A set read with the reader's log lines kept out of the test output.
Sparams readSet(const std::string& path) {
  FILE* log = std::tmpfile();
  Sparams s(path, log);
  if (log) std::fclose(log);
  return s;
}

std::string quoted(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct ToolRun {
  int status = -1;
  std::string out, err;
};

// A scratch folder per test; the program's output streams land in it.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "brevo_cascade_XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Everything in the folder but the captured streams.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) {
      const std::string n = e.path().filename().string();
      if (n != "stdout.txt" && n != "stderr.txt") names.push_back(n);
    }
    return names;
  }
  ToolRun run(const std::string& program, const std::vector<std::string>& args) const {
    std::string command = quoted(program);
    for (const std::string& a : args) command += " " + quoted(a);
    command += " >" + quoted(file("stdout.txt")) + " 2>" + quoted(file("stderr.txt"));
    ToolRun r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(file("stdout.txt"));
    r.err = readFile(file("stderr.txt"));
    return r;
  }

 private:
  std::string path_;
};

// ---------------------------------------------------------------------------------------
// Refusals: status, message, nothing on standard output, OUT as it was, no leftovers.

struct BadCase {
  const char* name;
  std::vector<std::string> elements;  // channel lines; "F:" is replaced by the fixtures folder
  int status;
  const char* message;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

const BadCase kBad[] = {
    {"no_elements", {}, 2, "usage: brevo-cascade OUT FILE1 FILE2 [FILE3 ...]"},
    {"one_element", {"F:thru_1_to_3GHz.s4p"}, 2, "at least two elements are needed"},
    {"missing_file", {"F:thru_1_to_3GHz.s4p", "F:nowhere.s4p"}, 1,
     "cannot read " BREVO_TEST_DIR "/tools/cascade/nowhere.s4p: No such file or directory"},
    {"folder_for_file", {"F:thru_1_to_3GHz.s4p", "F:"}, 1, "cannot read"},
    {"no_option_line", {"F:thru_1_to_3GHz.s4p", "F:no_option_line.s4p"}, 1,
     "no_option_line.s4p holds no data (no option line)"},
    {"single_record", {"F:single_record.s4p", "F:thru_1_to_3GHz.s4p"}, 1,
     "single_record.s4p holds no data (fewer than two records)"},
    {"ends_inside_record", {"F:thru_1_to_3GHz.s4p", "F:ends_inside_record.s4p"}, 1,
     "ends_inside_record.s4p ends inside its data"},
    {"ports_outside_file", {"F:thru_1_to_3GHz.s4p", "F:thru_1_to_3GHz.s2p"}, 1,
     "thru_1_to_3GHz.s2p: port 3 is outside the file's ports 1 to 2"},
    {"port_named_twice", {"F:thru_1_to_3GHz.s4p 1 3 1 4", "F:thru_1_to_3GHz.s4p"}, 1,
     "port 1 is named twice"},
    {"kinds_differ", {"F:thru_1_to_3GHz.s4p", "F:thru_1_to_3GHz.s2p 1 0 2 0"}, 1,
     "elements of different kinds cannot be joined"},
    {"three_ports_given", {"F:thru_1_to_3GHz.s4p 1 3 2", "F:thru_1_to_3GHz.s4p"}, 1,
     "expected a file name and the four ports inP inM outP outM, got 4 words"},
    {"port_not_a_number", {"F:thru_1_to_3GHz.s4p", "F:thru_1_to_3GHz.s4p 1 three 2 4"}, 1,
     "port \"three\" is not a port number"},
    {"range_not_covered", {"F:thru_1_to_3GHz.s4p", "F:thru_1_to_2GHz.s4p"}, 1,
     "thru_1_to_2GHz.s4p covers 1e+09 Hz to 2e+09 Hz only; the first element's grid needs "
     "1e+09 Hz to 3e+09 Hz, missing 2e+09 Hz to 3e+09 Hz"},
};

std::string expand(const std::string& line) {
  return line.rfind("F:", 0) == 0 ? kFixtures + line.substr(2) : line;
}

class Refusals : public ::testing::TestWithParam<BadCase> {};

TEST_P(Refusals, StatusMessageAndOutUntouched) {
  const BadCase& t = GetParam();
  Scratch dir;
  const std::string out = dir.file("joined.s4p");
  const std::string before = "! an earlier result that must survive\n# GHz S RI R 50\n";
  std::ofstream(out, std::ios::binary) << before;
  std::vector<std::string> args;
  if (!t.elements.empty()) args.push_back(out);
  for (const std::string& e : t.elements) args.push_back(expand(e));

  const ToolRun r = dir.run(kTool, args);
  EXPECT_EQ(r.status, t.status) << r.err;
  EXPECT_NE(r.err.find(t.message), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(out), before);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"joined.s4p"}) << "files left beside OUT";
}

INSTANTIATE_TEST_SUITE_P(BadInput, Refusals, ::testing::ValuesIn(kBad),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CascadeTool, UsageTextDocumentsStatuses) {
  Scratch dir;
  const ToolRun help = dir.run(kTool, {"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"usage: brevo-cascade OUT FILE1 FILE2 [FILE3 ...]", "Exit status: 0",
                           "1 a file that cannot be read", "2 usage", "3 OUT cannot be written"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
}

TEST(CascadeTool, UnwritableOutGivesStatus3) {
  Scratch dir;
  const std::string out = dir.file("no_such_folder/joined.s4p");
  const ToolRun r = dir.run(kTool, {out, kFixtures + "thru_1_to_3GHz.s4p", kFixtures + "half_1_to_3GHz.s4p"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot write beside " + out), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

// ---------------------------------------------------------------------------------------
// Joins whose result can be read off: thru, then two halves, is a quarter.

struct GoodCase {
  const char* name;
  std::vector<std::string> elements;
  int ports;
  std::vector<std::vector<double>> expected;  // real parts of the stored entries (i, j)
};

void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.name; }

const GoodCase kGood[] = {
    {"pair_thru_half_half",
     {"F:thru_1_to_3GHz.s4p", "F:half_1_to_3GHz.s4p", "F:half_1_to_3GHz.s4p"},
     4,
     {{0, 0.25, 0, 0}, {0.25, 0, 0, 0}, {0, 0, 0, 0.25}, {0, 0, 0.25, 0}}},
    // Input pair taken as (3, 1) against the output pair (2, 4): the attenuator's lines
    // now cross, in+ reaching out- and in- reaching out+.
    {"pair_crossed_lines",
     {"F:half_1_to_3GHz.s4p 3 1 2 4", "F:thru_1_to_3GHz.s4p"},
     4,
     {{0, 0, 0, 0.5}, {0, 0, 0.5, 0}, {0, 0.5, 0, 0}, {0.5, 0, 0, 0}}},
    // Single-ended: the stored 2-port order keeps S21 at (1, 2).
    {"single_forward",
     {"F:thru_1_to_3GHz.s2p 1 0 2 0", "F:forward_half_back_quarter_1_to_3GHz.s2p 1 0 2 0"},
     2,
     {{0, 0.5}, {0.25, 0}}},
    {"single_backward",
     {"F:forward_half_back_quarter_1_to_3GHz.s2p 2 0 1 0", "F:half_1_to_3GHz.s4p 1 0 2 0"},
     2,
     {{0, 0.125}, {0.25, 0}}},
};

class Joins : public ::testing::TestWithParam<GoodCase> {};

TEST_P(Joins, OutHoldsTheJoinedChannel) {
  const GoodCase& t = GetParam();
  Scratch dir;
  const std::string out = dir.file("joined.snp");
  std::ofstream(out) << "old\n";
  std::vector<std::string> args{out};
  for (const std::string& e : t.elements) args.push_back(expand(e));
  const ToolRun r = dir.run(kTool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("wrote " + out), std::string::npos) << r.err;
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"joined.snp"});

  const std::string text = readFile(out);
  EXPECT_NE(text.find("# MHz S RI  R  50\n"), std::string::npos) << text;
  const Sparams s = readSet(out);
  ASSERT_EQ(s.Size(), t.ports);
  ASSERT_EQ(s.Fcount(), 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(s.Freq(k), (k + 1) * 1e9);
    for (int i = 1; i <= t.ports; ++i)
      for (int j = 1; j <= t.ports; ++j)
        EXPECT_EQ(s.Value(k, i, j), complex(t.expected[i - 1][j - 1], 0))
            << t.name << " point " << k << " entry (" << i << "," << j << ")";
  }
  // Written as a new file would be: readable by others where the umask allows it.
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Joins, ::testing::ValuesIn(kGood),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// A real through channel joined with itself, then analysed.

TEST(CascadeTool, JoinedRealChannelRunsThroughBrevo) {
  const std::string channel =
      std::string(BREVO_CHANNELS_DIR) + "/thru_only/peters_01_0605_B1_thru.s4p";
  if (!fs::exists(channel)) GTEST_SKIP() << "channel folder absent: " << channel;
  Scratch dir;
  const std::string out = dir.file("joined.s4p");
  const ToolRun join = dir.run(kTool, {out, channel, channel + " 1 3 2 4"});
  ASSERT_EQ(join.status, 0) << join.err.substr(join.err.size() > 2000 ? join.err.size() - 2000 : 0);
  EXPECT_EQ(join.out, "");

  const Sparams original = readSet(channel), joined = readSet(out);
  ASSERT_EQ(joined.Size(), 4);
  ASSERT_EQ(joined.Fcount(), original.Fcount());
  // At the lowest point the pair is nearly matched, so the joined transmission is close
  // to the square of one copy's (within the reflections' share), and it is more lossy.
  const complex one = original.Value(0, 1, 2), two = joined.Value(0, 1, 2);
  EXPECT_LT(std::abs(two - one * one), 0.02 * std::abs(one * one));
  EXPECT_LT(std::abs(joined.Value(original.Fcount() - 1, 1, 2)),
            std::abs(original.Value(original.Fcount() - 1, 1, 2)));

  const ToolRun probe = dir.run(BREVO_EXE, {"-c"});
  if (probe.out.empty()) GTEST_SKIP() << "Brevo cannot run yet (its -c prints nothing)";
  const ToolRun report = dir.run(BREVO_EXE, {"Thru=" + out});
  EXPECT_EQ(report.status, 0) << report.out;
  EXPECT_NE(report.out.find("FLIPPED:"), std::string::npos) << report.out;
}

}  // namespace
