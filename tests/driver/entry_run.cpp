// Black-box runs of the built program: exit status, result stream and log.
// Each run happens in its own temporary working directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;     // exit status; -1 when the program did not exit normally
  std::string out;     // standard output
  std::string err;     // standard error
  fs::path dir;        // the working directory, kept for the files a run writes
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

int count(const std::string& text, const std::string& piece) {
  int n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "brevo_entry_XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  void file(const std::string& name, const std::string& text) const { writeFile(dir_ / name, text); }
  std::string read(const std::string& name) const { return readFile(dir_ / name); }

  // Runs the program with these arguments; its streams go to files in the workspace.
  Outcome run(const std::vector<std::string>& args) const {
    Outcome r;
    r.dir = dir_;
    const std::string outPath = (dir_ / ".stdout").string(), errPath = (dir_ / ".stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> words{BREVO_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, BREVO_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return r;
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
  }

 private:
  fs::path dir_;
};

// A small, valid 4-port file (RI, GHz): four records of one line of four pairs and
// three more lines. Through paths 1-2 and 3-4 carry 0.8, reflections 0.05 - 0.01k.
std::string fourPortThru() {
  std::string text = "! tiny through channel\n# GHz S RI R 50\n";
  for (int k = 1; k <= 4; ++k) {
    char line[64];
    std::snprintf(line, sizeof line, "%d", k * 5);
    text += line;
    for (int r = 1; r <= 4; ++r) {
      for (int c = 1; c <= 4; ++c) {
        const bool through = (r + 1) / 2 == (c + 1) / 2 && r != c;   // 1-2, 3-4
        const double value = r == c ? 0.05 - 0.01 * k : through ? 0.8 : 0.0;
        std::snprintf(line, sizeof line, " %g 0", value);
        text += line;
      }
      text += "\n";
    }
  }
  return text;
}

// The lines of the result stream up to and including the "Rx t bandwidth" line.
std::string header(const std::string& out) {
  const std::string last = "Rx t bandwidth =";
  const std::size_t at = out.find(last);
  if (at == std::string::npos) return out;
  return out.substr(0, out.find('\n', at) + 1);
}

const char* const kHelp =
    "Brevo:  estimates channel available S/N ratio using methods described in: \n"
    "     https://standards.ieee.org/ieee/802.3/10422/ \n"
    "     https://doi.org/10.1002/j.1538-7305.1985.tb00030.x\n"
    "\n"
    "usage:  Brevo [-c] [-?] <control file> \n"
    "the -c option sends a starter control file to standard output \n"
    "the -? option prints this statement \n"
    "\n"
    "This program is a work in progress with many odd diagnostic outputs to \n"
    "stderr,  it is recommended that stderr be redirected to avoid confusion  \n";

const char* const kNoThru = "cannot open a thru file\n";

// ------------------------------------------------------------------ options

TEST(EntryRun, NoArgumentPrintsUsage) {
  Workspace ws;
  const Outcome r = ws.run({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "$PWD=.\nusage:  Brevo  [-c][-?]. . . <control file> . . .\n");
  EXPECT_EQ(r.out, "");
}

TEST(EntryRun, StarterOptions) {
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"-c"}, 2},
      {{"-b"}, 2},
      {{"-c", "x"}, 3},              // x is never opened
      {{"-c", "x", "signal=1"}, 4},
      {{"my-cfg.txt"}, 2},           // a name holding "-c" acts as the option
      {{"run-b"}, 2},
  };
  for (const auto& c : cases) {
    Workspace ws;
    const Outcome r = ws.run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(r.out.size(), 5072u) << c.args[0];
    EXPECT_EQ(count(r.out, "\n"), 107) << c.args[0];
    EXPECT_TRUE(r.out.starts_with("\n# Default control file for program \"Brevo\"\n"));
    EXPECT_EQ(r.err, "$PWD=.\n") << "nothing is opened: " << c.args[0];
  }
}

TEST(EntryRun, StarterFileAppliedGivesTheDefaults) {
  Workspace ws;
  const Outcome starter = ws.run({"-c"});
  ws.file("starter.cf", starter.out);
  const Outcome r = ws.run({"starter.cf", "Thru=missing.s4p"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(header(r.out),
            "channel:  missing.s4p\n"
            "ports      1 3 => 2 4\n"
            "data rate      =   25.781 Gb\n"
            "peak Signal    =  400     mV\n"
            "targetBER      =    1.00e-12\n"
            "target Q       =   -7.034\n"
            "Tx t bandwidth =   1.418e+10\n"
            "Rx t bandwidth =   1.934e+10\n");
}

TEST(EntryRun, HelpOption) {
  Workspace ws;
  const Outcome r = ws.run({"-?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kHelp);
  EXPECT_EQ(r.err, "$PWD=.\n");
  const Outcome inside = ws.run({"x-?y", "Thru=a.s4p"});
  EXPECT_EQ(inside.status, 0);
  EXPECT_EQ(inside.out, kHelp);
}

TEST(EntryRun, HelpAsSecondArgumentIsAFileName) {
  Workspace ws;
  const Outcome r = ws.run({"signal=1", "-?"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "$PWD=.\n1  signal=1\nopening -?\ncould not open -?\n");
  EXPECT_EQ(r.out, "");
}

// ------------------------------------------------------------------ arguments

TEST(EntryRun, MissingControlFileEndsTheRun) {
  Workspace ws;
  const Outcome r = ws.run({"nothere.cf", "Thru=a.s4p"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "$PWD=.\nopening nothere.cf\ncould not open nothere.cf\n");
}

TEST(EntryRun, ControlFileEchoAndPositions) {
  Workspace ws;
  ws.file("run.cf", "# a comment\nsignal=200m\n");
  const Outcome r = ws.run({"run.cf", "PAM=2"});
  EXPECT_TRUE(r.err.starts_with("$PWD=.\nopening run.cf\n# a comment\nsignal=200m\n1  run.cf\n2  PAM=2\n"))
      << r.err;
}

TEST(EntryRun, ArgumentOrderDecides) {
  Workspace ws;
  ws.file("thru.s4p", fourPortThru());
  ws.file("run.cf", "Thru=thru.s4p\nsignal=200m\n");
  const Outcome fileFirst = ws.run({"run.cf", "signal=300m"});
  EXPECT_TRUE(has(fileFirst.out, "peak Signal    =  300     mV\n")) << fileFirst.out;
  const Outcome fileLast = ws.run({"signal=300m", "run.cf"});
  EXPECT_TRUE(has(fileLast.out, "peak Signal    =  200     mV\n")) << fileLast.out;
}

TEST(EntryRun, LongControlLineIsReadInPieces) {
  Workspace ws;
  // 998 characters of comment, then an assignment that only a second piece can see.
  ws.file("run.cf", "Thru=missing.s4p\n#" + std::string(997, 'x') + "signal=300m\n");
  const Outcome r = ws.run({"run.cf"});
  EXPECT_TRUE(has(r.out, "peak Signal    =  300     mV\n")) << header(r.out);
}

TEST(EntryRun, OverlongCommandLineValueIsRefused) {
  Workspace ws;
  const std::string argument = "Thru=" + std::string(1200, 'a');
  const Outcome r = ws.run({argument});
  EXPECT_EQ(r.status, 1) << "the value is refused, so there is no through channel";
  EXPECT_EQ(count(r.err, kNoThru), 2);
  // A log line of its own names the keyword.
  std::istringstream lines(r.err);
  bool named = false;
  for (std::string line; std::getline(lines, line);)
    if (has(line, "Thru") && !line.starts_with("1  ")) named = true;
  EXPECT_TRUE(named) << r.err.substr(0, 300);
}

// ------------------------------------------------------------------ through channel

TEST(EntryRun, NoThroughChannel) {
  Workspace ws;
  const Outcome r = ws.run({"signal=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string("$PWD=.\n1  signal=1\n") + kNoThru + kNoThru);
  EXPECT_EQ(r.out, kNoThru);
}

TEST(EntryRun, UninterpretableThroughLine) {
  Workspace ws;
  const Outcome r = ws.run({"Thru=\"t.s4p 1 2 3\""});
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(has(r.err, "problem with thru channel:  t.s4p\n")) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(EntryRun, PortsFromTheChannelLine) {
  Workspace ws;
  ws.file("thru.s4p", fourPortThru());
  const char* const warning = "warning:  changing input and/or output ports\n";

  const Outcome same = ws.run({"Thru=\"thru.s4p 1 3 2 4\""});
  EXPECT_FALSE(has(same.out + same.err, warning));
  EXPECT_TRUE(same.out.starts_with("channel:  thru.s4p\nports      1 3 => 2 4\n")) << same.out;

  const Outcome swapped = ws.run({"Thru=\"thru.s4p 2 1 4 3\""});
  EXPECT_TRUE(swapped.out.starts_with(std::string(warning) + "channel:  thru.s4p\nports      2 1 => 4 3\n"))
      << swapped.out;
  EXPECT_TRUE(has(swapped.err, warning));
  EXPECT_NE(swapped.status, -1) << "the run ends without a crash";

  const Outcome hex = ws.run({"Thru='thru.s4p 31'"});
  EXPECT_TRUE(has(hex.out, "ports      3 1 => 2 4\n")) << hex.out;
}

TEST(EntryRun, MissingThroughFile) {
  Workspace ws;
  const Outcome r = ws.run({"Thru=nothere.s4p"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "thru channel=nothere.s4p\ncannot open nothere.s4p\n")) << r.err;
  EXPECT_TRUE(r.out.ends_with("Rx t bandwidth =   1.934e+10\ncannot open a thru file\n")) << r.out;
}

TEST(EntryRun, ThroughFileWithoutData) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"no_option_line.s4p", "! nothing but a comment\n1 0.1 0\n"},
      {"single_record.s2p", "# GHz S RI R 50\n1 1 0 2 0 3 0 4 0\n"},
  };
  for (const auto& c : cases) {
    Workspace ws;
    ws.file(c.name, c.text);
    const Outcome r = ws.run({std::string("Thru=") + c.name});
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(count(r.err, kNoThru), 2) << c.name << "\n" << r.err;
    EXPECT_TRUE(r.out.ends_with(kNoThru)) << c.name;
  }
}

TEST(EntryRun, InvalidPortsForTheFile) {
  Workspace ws;
  ws.file("thru.s4p", fourPortThru());
  const Outcome r = ws.run({"Thru=\"thru.s4p 1 3 2 9\""});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "cannot properly read Thru file\n")) << r.err;
}

TEST(EntryRun, ReadableThroughChannelRunsOn) {
  Workspace ws;
  ws.file("thru.s4p", fourPortThru());
  const Outcome r = ws.run({"Thru=thru.s4p"});
  EXPECT_NE(r.status, -1) << "no crash";
  EXPECT_NE(r.status, 1) << r.err;
  EXPECT_TRUE(r.out.starts_with("channel:  thru.s4p\nports      1 3 => 2 4\n")) << r.out;
  EXPECT_TRUE(has(r.err, "thru channel=thru.s4p\n"));
  EXPECT_TRUE(has(r.err, "UI   =  3.878788e-11\n"));
}

// ------------------------------------------------------------------ channel lists

TEST(EntryRun, ChannelListsInTheLog) {
  Workspace ws;
  ws.file("a.cf", "Thru=a.s4p\nNEXT=n1.s4p\n");
  ws.file("b.cf", "Sparameters=b.s4p\nNEXT=n2.s4p\nNEXT=n3.s4p\nFEXT=f1.s4p\nThru=\n");
  const Outcome r = ws.run({"a.cf", "b.cf"});
  EXPECT_TRUE(has(r.err, "thru channel         = a.s4p\n"));
  EXPECT_TRUE(has(r.err, "crosstalk channel 1 = b.s4p\n"));
  EXPECT_TRUE(has(r.err, "NEXT channel  1     = n1.s4p\n"));
  EXPECT_TRUE(has(r.err, "NEXT channel  2     = n2.s4p\n"));
  EXPECT_TRUE(has(r.err, "NEXT channel  3     = n3.s4p\n"));
  EXPECT_TRUE(has(r.err, "FEXT channel  1     = f1.s4p\n"));
  EXPECT_FALSE(has(r.err, "crosstalk channel 2")) << "an empty Thru adds nothing";
  EXPECT_TRUE(r.out.starts_with("channel:  a.s4p\n")) << "the first Thru is the through channel";
}

// ------------------------------------------------------------------ streams

TEST(EntryRun, ResultAndLogFiles) {
  Workspace ws;
  const Outcome r = ws.run({"results=r.txt", "log=l.txt", "signal=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("$PWD=.\n1  results=r.txt\n") + kNoThru);
  EXPECT_EQ(ws.read("r.txt"), kNoThru);
  EXPECT_EQ(ws.read("l.txt"), std::string("opened l.txt as LOG\n2  log=l.txt\n3  signal=1\n") + kNoThru);
}

TEST(EntryRun, StreamFilesThatCannotBeOpenedFallBack) {
  Workspace ws;
  const Outcome r = ws.run({"results=nodir/r.txt", "log=nodir/l.txt", "Thru=missing.s4p"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "cannot open nodir/r.txt, will use default results output\n")) << r.err;
  EXPECT_TRUE(has(r.err, "cannot open nodir/l.txt, will use default log\n")) << r.err;
  EXPECT_TRUE(r.out.starts_with("channel:  missing.s4p\n")) << r.out;
}

TEST(EntryRun, StarterResultLineChangesNoStream) {
  Workspace ws;
  const Outcome r = ws.run({"result=r.txt", "signal=1"});
  EXPECT_EQ(r.out, kNoThru);
  EXPECT_FALSE(fs::exists(r.dir / "r.txt"));
}

}  // namespace
