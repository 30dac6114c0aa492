// Black-box runs of the built program, each in its own folder: exit status, result stream,
// log and the files a run writes.
#include <regex>

#include "entry.h"
#include "support.h"

namespace {

using namespace driver_test;

// A small 4-port file (RI, GHz), four records of four lines: through paths 1-2 and 3-4
// carry 0.8, reflections 0.05 - 0.01 k.
std::string fourPortThru() {
  std::ostringstream text;
  text << "! tiny through channel\n# GHz S RI R 50\n";
  for (int k = 1; k <= 4; ++k)
    for (int r = 1; r <= 4; ++r) {
      text << (r == 1 ? std::to_string(5 * k) : "");
      for (int c = 1; c <= 4; ++c)
        text << ' ' << (r == c ? 0.05 - 0.01 * k : (r + 1) / 2 == (c + 1) / 2 ? 0.8 : 0) << " 0";
      text << '\n';
    }
  return text.str();
}

const std::string kHelp =
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
const std::string kNoThru = "cannot open a thru file\n", kPwd = "$PWD=.\n";
const std::string kHeader =
    "ports      1 3 => 2 4\ndata rate      =   25.781 Gb\npeak Signal    =  400     mV\n"
    "targetBER      =    1.00e-12\ntarget Q       =   -7.034\nTx t bandwidth =   1.418e+10\n"
    "Rx t bandwidth =   1.934e+10\n";

// A check on "out", "err" or a file of the run's folder: "=text" the whole text, "^" its
// start, "$" its end, "!" not in it, "2*" exactly twice in it, "~" a regular expression,
// "-" the file is absent; any other text must be in it.
struct Check {
  std::string stream, what;
};

struct RunCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> args;
  int status;
  std::vector<Check> checks;
};

std::vector<RunCase> runCases() {
  const std::pair<std::string, std::string> thru{"thru.s4p", fourPortThru()};
  std::vector<RunCase> cases = {
      {"no_argument", {}, {}, 2, {{"err", "=" + kPwd + kUsageLine}, {"out", "="}}},
      {"help", {}, {"-?"}, 0, {{"out", "=" + kHelp}, {"err", "=" + kPwd}}},
      {"help_inside_first_argument", {}, {"x-?y", "Thru=a.s4p"}, 0, {{"out", "=" + kHelp}}},
      {"help_second_is_a_file_name", {}, {"signal=1", "-?"}, 2,
       {{"err", "=" + kPwd + "1  signal=1\nopening -?\ncould not open -?\n"}, {"out", "="}}},
      {"missing_control_file", {}, {"nothere.cf", "Thru=a.s4p"}, 2,
       {{"err", "=" + kPwd + "opening nothere.cf\ncould not open nothere.cf\n"}}},
      {"control_file_echo_and_positions", {{"run.cf", "# a comment\nsignal=200m\n"}}, {"run.cf", "PAM=2"}, 1,
       {{"err", "^" + kPwd + "opening run.cf\n# a comment\nsignal=200m\n1  run.cf\n2  PAM=2\n"}}},
      {"starter_file_applied_gives_the_defaults", {{"starter.cf", kStarterControlFile}},
       {"starter.cf", "Thru=missing.s4p"}, 1, {{"out", "^channel:  missing.s4p\n" + kHeader}}},
      {"later_argument_wins", {thru, {"run.cf", "Thru=thru.s4p\nsignal=200m\n"}}, {"run.cf", "signal=300m"}, 0,
       {{"out", "peak Signal    =  300     mV\n"}}},
      {"control_file_last_wins", {thru, {"run.cf", "Thru=thru.s4p\nsignal=200m\n"}}, {"signal=300m", "run.cf"},
       0, {{"out", "peak Signal    =  200     mV\n"}}},
      // 998 characters of comment, then an assignment only a second piece of the line sees.
      {"long_control_line_read_in_pieces",
       {{"run.cf", "Thru=missing.s4p\n#" + std::string(997, 'x') + "signal=300m\n"}},
       {"run.cf"}, 1, {{"out", "peak Signal    =  300     mV\n"}}},
      // The value is refused (so there is no through channel), on a log line of its own.
      {"overlong_value_refused", {}, {"Thru=" + std::string(1200, 'a')}, 1,
       {{"err", "2*" + kNoThru}, {"err", "~\n[^1\n][^\n]*Thru"}}},
      {"no_through_channel", {}, {"signal=1"}, 1,
       {{"err", "=" + kPwd + "1  signal=1\n" + kNoThru + kNoThru}, {"out", "=" + kNoThru}}},
      {"uninterpretable_through_line", {}, {"Thru=\"t.s4p 1 2 3\""}, 10,
       {{"err", "problem with thru channel:  t.s4p\n"}, {"out", "="}}},
      {"ports_as_configured_no_warning", {thru}, {"Thru=\"thru.s4p 1 3 2 4\""}, 0,
       {{"out", "^channel:  thru.s4p\nports      1 3 => 2 4\n"}, {"out", "!warning"}, {"err", "!warning"}}},
      {"other_ports_warn", {thru}, {"Thru=\"thru.s4p 2 1 4 3\""}, 0,
       {{"out", "^warning:  changing input and/or output ports\nchannel:  thru.s4p\nports      2 1 => 4 3\n"},
        {"err", "warning:  changing input and/or output ports\n"}}},
      {"hex_port_pair", {thru}, {"Thru='thru.s4p 31'"}, 0, {{"out", "ports      3 1 => 2 4\n"}}},
      {"missing_through_file", {}, {"Thru=nothere.s4p"}, 1,
       {{"err", "thru channel=nothere.s4p\ncannot open nothere.s4p\n"},
        {"out", "$Rx t bandwidth =   1.934e+10\n" + kNoThru}}},
      {"through_file_without_data", {{"single_record.s2p", "# GHz S RI R 50\n1 1 0 2 0 3 0 4 0\n"}},
       {"Thru=single_record.s2p"}, 1, {{"err", "2*" + kNoThru}, {"out", "$" + kNoThru}}},
      {"ports_outside_the_file", {thru}, {"Thru=\"thru.s4p 1 3 2 9\""}, 1,
       {{"err", "cannot properly read Thru file\n"}}},
      {"readable_through_channel", {thru}, {"Thru=thru.s4p"}, 0,
       {{"out", "^channel:  thru.s4p\n" + kHeader}, {"err", "thru channel=thru.s4p\n"},
        {"err", "UI   =  3.878788e-11\n"}}},
      // The first Thru is the through channel, later ones crosstalk; an empty Thru adds nothing.
      {"channel_lists",
       {{"a.cf", "Thru=a.s4p\nNEXT=n1.s4p\n"},
        {"b.cf", "Sparameters=b.s4p\nNEXT=n2.s4p\nNEXT=n3.s4p\nFEXT=f1.s4p\nThru=\n"}},
       {"a.cf", "b.cf"}, 1,
       {{"err", "thru channel         = a.s4p\n"}, {"err", "crosstalk channel 1 = b.s4p\n"},
        {"err", "NEXT channel  1     = n1.s4p\n"}, {"err", "NEXT channel  2     = n2.s4p\n"},
        {"err", "NEXT channel  3     = n3.s4p\n"}, {"err", "FEXT channel  1     = f1.s4p\n"},
        {"err", "!crosstalk channel 2"}, {"out", "^channel:  a.s4p\n"}}},
      {"result_and_log_files", {}, {"results=r.txt", "log=l.txt", "signal=1"}, 1,
       {{"out", "="}, {"err", "=" + kPwd + "1  results=r.txt\n" + kNoThru}, {"r.txt", "=" + kNoThru},
        {"l.txt", "=opened l.txt as LOG\n2  log=l.txt\n3  signal=1\n" + kNoThru}}},
      {"stream_files_fall_back", {}, {"results=nodir/r.txt", "log=nodir/l.txt", "Thru=missing.s4p"}, 1,
       {{"err", "cannot open nodir/r.txt, will use default results output\n"},
        {"err", "cannot open nodir/l.txt, will use default log\n"}, {"out", "^channel:  missing.s4p\n"}}},
      {"starter_result_line_changes_no_stream", {}, {"result=r.txt", "signal=1"}, 1,
       {{"out", "=" + kNoThru}, {"r.txt", "-"}}},
  };
  // "-c" or "-b" first, also inside a name: the starter text, the status the count of words.
  for (const auto& [args, name] : std::vector<std::pair<std::vector<std::string>, const char*>>{
           {{"-c"}, "starter_c"}, {{"-b"}, "starter_b"}, {{"-c", "x"}, "starter_x_never_opened"},
           {{"-c", "x", "signal=1"}, "starter_three_words"}, {{"my-cfg.txt"}, "starter_inside_name"},
           {{"run-b"}, "starter_b_inside_name"}})
    cases.push_back({name, {}, args, static_cast<int>(args.size()) + 1,
                     {{"out", "=" + std::string(kStarterControlFile)}, {"err", "=" + kPwd}}});
  return cases;
}

class EntryRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(EntryRun, StatusStreamsAndFiles) {
  const RunCase& t = GetParam();
  Workspace ws;
  for (const auto& [name, text] : t.files) ws.file(name, text);
  const Outcome r = ws.run(t.args);
  EXPECT_EQ(r.status, t.status) << r.err.substr(0, 400);
  for (const Check& c : t.checks) {
    const std::string text = c.stream == "out" ? r.out : c.stream == "err" ? r.err : ws.read(c.stream);
    const std::string rest = c.what.substr(std::min<std::size_t>(c.what.size(), c.what.starts_with("2*") ? 2 : 1));
    std::size_t count = 0;
    for (std::size_t at = text.find(rest); at != std::string::npos; at = text.find(rest, at + 1)) ++count;
    const char op = c.what.empty() ? ' ' : c.what[0];
    const bool ok = op == '=' ? text == rest : op == '^' ? text.starts_with(rest) : op == '$' ? text.ends_with(rest)
                  : op == '!' ? count == 0 : op == '~' ? std::regex_search(text, std::regex(rest))
                  : op == '-' ? !ws.exists(c.stream) : c.what.starts_with("2*") ? count == 2
                  : text.find(c.what) != std::string::npos;
    EXPECT_TRUE(ok) << c.stream << " fails \"" << c.what.substr(0, 200) << "\"; it holds:\n" << text.substr(0, 600);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, EntryRun, ::testing::ValuesIn(runCases()), rowName);

}  // namespace
