// The built program run on the files of a fresh folder, as a user runs it: every row ends
// with its exit status, within the deadline, without a signal or a sanitizer report, and
// with the texts its checks name on the result stream, the log and the files it writes.
// Bad input keeps the report lines printed before the failure.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>

#include "entry.h"
#include "workspace.h"

namespace {

using namespace brevo_test;
using cd = std::complex<double>;

// ------------------------------------------------------------------ fixtures

// points frequencies from first in steps of step (hertz): by default 50 MHz to 20 GHz.
std::vector<double> grid(int points = 400, double first = 50e6, double step = 50e6) {
  std::vector<double> f;
  for (int k = 0; k < points; ++k) f.push_back(first + step * k);
  return f;
}

std::vector<double> edited(std::vector<double> f, const std::function<void(std::vector<double>&)>& edit) {
  return edit(f), f;
}

// A lossy pair of lines 1-2 and 3-4: loss growing with sqrt(f), 0.5 ns of delay, small
// reflections, a little coupling between the lines; entry (row, column) of point 50
// replaced by value when row is given.
std::string thru(const std::vector<double>& f = grid(), int row = 0, int column = 0, cd value = 0) {
  return touchstone(f, 4, [&](int k, int r, int c) {
    const double g = f[k] * 1e-9, degree = pi / 180;
    if (k == 50 && r == row && c == column) return value;
    if (r == c) return std::polar(0.05, 30 * g * degree);
    if ((r + 1) / 2 == (c + 1) / 2) return std::polar(std::exp(-0.12 * std::sqrt(g)), -180 * g * degree);
    return std::polar(0.002, 40 * g * degree);
  });
}

// An aggressor coupling 1-2 and 3-4 weakly, falling with frequency.
std::string aggressor() {
  const std::vector<double> f = grid();
  return touchstone(f, 4, [&](int k, int r, int c) {
    return (r + 1) / 2 == (c + 1) / 2 && r != c ? std::polar(0.02 / (1 + 0.1e-9 * f[k]), 70e-9 * f[k] * pi / 180) : cd(0);
  });
}

// A 2-port line of 1 ns to 50 GHz, loss growing with sqrt(f) and f, a small ripple, and
// reflections of 0.08; times sign.
std::string line(double sign) {
  const std::vector<double> f = grid(5001, 0, 10e6);
  return touchstone(f, 2, [&](int k, int r, int c) {
    const cd ripple = 1.0 + 0.04 * (1.0 - std::exp(cd(0, -2 * pi * f[k] * 0.37e-9)));
    return sign * (r == c ? 0.08 * std::exp(cd(0, -2 * pi * f[k] * 0.21e-9))
                          : std::exp(cd(-2e-6 * std::sqrt(f[k]) - 3e-11 * f[k], -2 * pi * f[k] * 1e-9)) * ripple);
  });
}

// Bytes of every value, as a file that is no text at all.
std::string binary() {
  std::string text = "\x7f" "ELF\x02\x01\x01";
  for (unsigned n = 0, x = 12345; n < 4096; ++n) x = x * 1103515245u + 12345u, text.push_back(static_cast<char>(x >> 16));
  return text;
}

// Line n of a text (from 0) changed by edit.
std::string editLine(std::string text, int n, const std::function<void(std::string&)>& edit) {
  std::size_t at = 0;
  for (int line = 0; line < n; ++line) at = text.find('\n', at) + 1;
  std::string line = text.substr(at, text.find('\n', at) - at);
  edit(line);
  return text.replace(at, text.find('\n', at) - at, line);
}

// ------------------------------------------------------------------ the table

// A file of the run's folder: its text ("@PATH" links PATH under the source tree), an
// empty folder (kind 'd'), or a named pipe a writer feeds the text through ('p').
struct File {
  std::string name, text;
  char kind = 'f';
};

// A check: the stream (out, err, or a file of the folder) and how its text is held to
// what follows: "=" whole, "^" start, "$" end, ":" inside, "!" nowhere in it; "NAME-": no
// such file.
struct Case {
  const char* name;
  std::vector<File> files;
  std::vector<std::string> args;
  int status;
  std::vector<std::string> checks;
};

const std::string kPwd = "$PWD=.\n", kNoThru = "cannot open a thru file\n";
const std::string kHead = "out^channel:  thru.s4p\nports      1 3 => 2 4\n";
const std::string kHeader =
    "data rate      =   25.781 Gb\npeak Signal    =  400     mV\ntargetBER      =    1.00e-12\n"
    "target Q       =   -7.034\nTx t bandwidth =   1.418e+10\nRx t bandwidth =   1.934e+10\n";
const std::string kFit = "out:ln(Sdd21)= a0 + a1 * sqrt(f) + a2 * f + a4 * f^2\n";
const std::string kWhole = "out$FLIPPED:                                 no\n";   // the report is complete
const std::string kNotFinite =
    "warning:  thru.s4p holds a value that is not a finite number at point 51 (2.55e+09 Hz)\n";
const std::string kTs2 = " uses Touchstone 2.0 keywords, which this reader does not support\n";
const File kThru{"thru.s4p", thru()}, kNext{"next.s4p", aggressor()}, kFext{"fext.s4p", aggressor()};
const std::vector<std::string> kWithNext = {"Thru=thru.s4p", "NEXT=next.s4p"};

std::vector<Case> cases() {
  const std::string help = readFile(fs::path(BREVO_TEST_DIR) / "golden" / "help.txt");
  const std::string x2000(2000, 'x'), t993(993, 't');
  // A single-ended line 1 => 2 from 0 Hz in steps of 10 MHz, S21 = 1, reflecting only at
  // 0 Hz with S11 = S22 = 0.5: the only re-reflection terms are those of the first point,
  // (0.161 * 0.5)^2 * 5 MHz, the device return loss at DC times the half step that point
  // stands for, with a noise weight of 1 at DC.
  const std::vector<double> fromDc = grid(401, 0, 10e6);
  const std::string dcEcho = touchstone(fromDc, 2, [](int k, int r, int c) { return cd(r != c ? 1 : k == 0 ? 0.5 : 0); });
  std::vector<Case> rows = {
      // ---- options and the command line
      {"no_argument", {}, {}, 2, {"err=" + kPwd + kUsageLine, "out="}},
      {"help", {}, {"-?"}, 0, {"out=" + help, "err=" + kPwd}},
      {"help_inside_the_first_argument", {}, {"x-?y", "Thru=a.s4p"}, 0, {"out=" + help}},
      {"help_later_is_a_file_name", {}, {"signal=1", "-?"}, 2,
       {"err=" + kPwd + "1  signal=1\nopening -?\ncould not open -?\n", "out="}},
      {"control_file_echo_and_positions", {{"run.cf", "# a comment\nsignal=200m\n"}}, {"run.cf", "PAM=2"}, 1,
       {"err^" + kPwd + "opening run.cf\n# a comment\nsignal=200m\n1  run.cf\n2  PAM=2\n"}},
      {"starter_file_gives_the_defaults", {{"starter.cf", kStarterControlFile}}, {"starter.cf", "Thru=missing.s4p"}, 1,
       {"out^channel:  missing.s4p\nports      1 3 => 2 4\n" + kHeader}},
      {"later_argument_wins", {kThru, {"run.cf", "Thru=thru.s4p\nsignal=200m\n"}}, {"run.cf", "signal=300m"}, 0,
       {"out:peak Signal    =  300     mV\n"}},
      {"later_control_file_wins", {kThru, {"run.cf", "Thru=thru.s4p\nsignal=200m\n"}}, {"signal=300m", "run.cf"}, 0,
       {"out:peak Signal    =  200     mV\n"}},
      {"no_through_channel", {}, {"signal=1"}, 1, {"err=" + kPwd + "1  signal=1\n" + kNoThru + kNoThru, "out=" + kNoThru}},
      {"readable_through_channel", {kThru}, {"Thru=thru.s4p"}, 0,
       {kHead + kHeader, "err:thru channel=thru.s4p\n", "err:UI   =  3.878788e-11\n", "out!warning", "err!warning", kWhole}},
      {"other_ports_warn", {kThru}, {"Thru=\"thru.s4p 2 1 4 3\""}, 0,
       {"out^warning:  changing input and/or output ports\nchannel:  thru.s4p\nports      2 1 => 4 3\n",
        "err:warning:  changing input and/or output ports\n"}},
      {"hex_port_pair", {kThru}, {"Thru='thru.s4p 31'"}, 0, {"out:ports      3 1 => 2 4\n"}},
      // The first Thru is the through channel, later ones crosstalk; an empty Thru adds nothing.
      {"channel_lists",
       {{"a.cf", "Thru=a.s4p\nNEXT=n1.s4p\n"}, {"b.cf", "Sparameters=b.s4p\nNEXT=n2.s4p\nNEXT=n3.s4p\nFEXT=f1.s4p\nThru=\n"}},
       {"a.cf", "b.cf"}, 1,
       {"err:thru channel         = a.s4p\n", "err:crosstalk channel 1 = b.s4p\n", "err:NEXT channel  1     = n1.s4p\n",
        "err:NEXT channel  3     = n3.s4p\n", "err:FEXT channel  1     = f1.s4p\n", "err!crosstalk channel 2",
        "out^channel:  a.s4p\n"}},
      {"line_is_not_flipped", {{"line.s2p", line(1)}}, {"Thru=\"line.s2p 1 0 2 0\""}, 0, {kWhole}},
      {"inverted_line_is_flipped", {{"line.s2p", line(-1)}}, {"Thru=\"line.s2p 1 0 2 0\""}, 0,
       {"out$FLIPPED:                                yes\n"}},
      {"reflection_at_dc_only", {{"dc.s2p", dcEcho}}, {"Thru=\"dc.s2p 1 0 2 0\""}, 0,
       {"err:sigma  RRTx   =   3.240125e+04\nsigma  RRRx   =   3.240125e+04\n"}},
      // "-c" or "-b" first, also inside a name: the starter text, the status the count of words.
      {"starter_c", {}, {"-c"}, 2, {"out=" + std::string(kStarterControlFile), "err=" + kPwd}},
      {"starter_opens_no_file", {}, {"-c", "x", "signal=1"}, 4, {"out=" + std::string(kStarterControlFile)}},
      {"starter_inside_a_name", {}, {"my-cfg.txt"}, 2, {"out=" + std::string(kStarterControlFile)}},
      {"starter_b_inside_a_name", {}, {"run-b"}, 2, {"out=" + std::string(kStarterControlFile)}},

      // ---- the through channel's file
      {"thru_missing", {}, {"Thru=nothere.s4p"}, 1,
       {"err:thru channel=nothere.s4p\ncannot open nothere.s4p\n", "out$Rx t bandwidth =   1.934e+10\n" + kNoThru}},
      {"thru_is_a_directory", {{"thru.s4p", "", 'd'}}, {"Thru=thru.s4p"}, 1, {kHead, "out:" + kNoThru}},
      {"thru_empty", {{"thru.s4p", ""}}, {"Thru=thru.s4p"}, 1, {kHead, "out:" + kNoThru}},
      {"thru_binary", {{"thru.s4p", binary()}}, {"Thru=thru.s4p"}, 1, {kHead, "out:" + kNoThru}},
      {"thru_option_line_only", {{"thru.s4p", "# GHz S MA R 50\n"}}, {"Thru=thru.s4p"}, 1,
       {"err:#read thru.s4p size 0 for 0 frequencies\n" + kNoThru}},
      {"thru_single_record", {{"thru.s4p", "# GHz S RI R 50\n1 0 0 1 0 1 0 0 0\n"}}, {"Thru=thru.s4p"}, 1,
       {"err:#read thru.s4p size 0 for 1 frequencies\n" + kNoThru, "out$" + kNoThru}},
      // A read that ends inside a record keeps its counts and runs on (unread values 0).
      {"thru_cut_inside_its_last_record", {{"thru.s4p", thru().substr(0, thru().size() - 60)}}, {"Thru=thru.s4p"}, 0,
       {kFit, "err:#read thru.s4p size 4 for 400 frequencies\n", kWhole}},
      // The short record takes its last pair from the next line: from there on numbers
      // land one place off, and frequencies soon fall.
      {"thru_record_with_too_few_values",
       {{"thru.s4p", editLine(thru(), 22, [](std::string& l) { l.resize(l.rfind(' ', l.rfind(' ') - 1)); })}},
       {"Thru=thru.s4p"}, 1, {kHead, "err:is below the one before it", "err:cannot properly read Thru file\n"}},
      {"thru_first_record_with_too_many_values", {{"thru.s4p", editLine(thru(), 5, [](std::string& l) { l += " 0.5 0"; })}},
       {"Thru=thru.s4p"}, 0, {"err:#read thru.s4p size 4 for 400 frequencies\n", kWhole}},
      {"thru_line_longer_than_a_read", {{"thru.s4p", "! " + std::string(5000, 'c') + "\n" + thru()}}, {"Thru=thru.s4p"}, 0,
       {"err:#read thru.s4p size 4 for 400 frequencies\n", kWhole}},
      {"thru_starts_at_0_Hz", {{"thru.s4p", thru(grid(401, 0))}}, {"Thru=thru.s4p"}, 0, {kFit, kWhole}},
      {"thru_of_three_points", {{"t.s2p", "# GHz S RI R 50\n1 0 0 0.9 0 0.9 0 0 0\n2 0 0 0.8 0 0.8 0 0 0\n3 0 0 0.7 0 0.7 0 0 0\n"}},
       {"Thru=\"t.s2p 1 0 2 0\""}, 0, {"err:fit needs at least 4 points, got 3\n", kWhole}},
      {"thru_repeated_frequency", {{"thru.s4p", thru(edited(grid(), [](auto& f) { f[10] = f[9]; }))}}, {"Thru=thru.s4p"},
       11, {kFit, "out$thru.s4p: smallest frequency step is 0 Hz, no uniform frequency grid can be built\n",
            "err:thru.s4p: smallest frequency step is 0 Hz"}},
      {"thru_descending_frequencies",
       {{"thru.s4p", thru(edited(grid(), [](auto& f) { std::reverse(f.begin(), f.end()); }))}}, {"Thru=thru.s4p"}, 1,
       {kHead, "err:thru.s4p: frequency 2 (1.995e+10 Hz) is below the one before it (2e+10 Hz)\n"
               "cannot properly read Thru file\n"}},
      {"thru_not_ascending_at_the_start",
       {{"thru.s4p", thru(edited(grid(), [](auto& f) { std::swap(f[0], f[2]), std::swap(f[1], f[2]); }))}},
       {"Thru=thru.s4p"}, 1, {"err:thru.s4p: frequency 2 (5e+07 Hz) is below the one before it (1.5e+08 Hz)\n"}},
      // Not-a-number data is read as it stands; the run names the first such point.
      {"thru_nan_value", {{"thru.s4p", thru(grid(), 1, 2, NAN)}}, {"Thru=thru.s4p"}, 0,
       {kHead, "out:" + kNotFinite, "err:" + kNotFinite, kWhole}},
      {"thru_infinite_value", {{"thru.s4p", thru(grid(), 3, 3, INFINITY)}}, {"Thru=thru.s4p"}, 0, {"out:" + kNotFinite, kWhole}},
      {"thru_nan_frequency", {{"thru.s4p", thru(edited(grid(), [](auto& f) { f[100] = NAN; }))}}, {"Thru=thru.s4p"}, 0,
       {"out:warning:  thru.s4p holds a value that is not a finite number at point 101 (nan Hz)\n", kWhole}},
      {"thru_nan_in_an_entry_the_run_never_uses", {{"thru.s4p", thru(grid(), 2, 1, NAN)}}, {"Thru=thru.s4p"}, 0,
       {"out!nan", "out!inf\n", kWhole}},
      {"thru_touchstone2_keywords", {{"thru.s4p", "@tests/hardening/bad/touchstone2_keywords.s4p"}}, {"Thru=thru.s4p"}, 1,
       {"out:" + kNoThru, "err:#read thru.s4p size 0 for 8 frequencies\nthru.s4p" + kTs2}},
      {"thru_two_port_file_for_four_ports", {{"thru.s4p", "# GHz S RI R 50\n1 0 0 1 0 1 0 0 0\n2 0 0 1 0 1 0 0 0\n"}},
       {"Thru=thru.s4p"}, 1, {kHead, "err:cannot properly read Thru file\n"}},
      {"thru_port_outside_the_file", {kThru}, {"Thru=\"thru.s4p 1 3 2 9\""}, 1,
       {"out:ports      1 3 => 2 9\n", "err:cannot properly read Thru file\n"}},
      {"thru_negative_port", {kThru}, {"Thru=\"thru.s4p -1 3 2 4\""}, 1, {"err:cannot properly read Thru file\n"}},
      {"thru_line_with_4_words", {kThru}, {"Thru=\"thru.s4p 1 3 2\""}, 10, {"err:problem with thru channel:  thru.s4p\n", "out="}},
      {"thru_line_with_6_words", {kThru}, {"Thru=\"thru.s4p 1 3 2 4 5\""}, 10, {"err:problem with thru channel:  thru.s4p\n"}},

      // ---- aggressors: skipped with a message, the report complete
      {"next_missing", {kThru}, kWithNext, 0,
       {"err:cannot open for read:  next.s4p\n", "err:unable to read next.s4p, skipping\n", kWhole}},
      {"next_is_a_directory", {kThru, {"next.s4p", "", 'd'}}, kWithNext, 0, {"err:unable to read next.s4p, skipping\n", kWhole}},
      {"next_through_a_pipe", {kThru, {"next.s4p", aggressor(), 'p'}}, kWithNext, 0,
       {"err:#read next.s4p size 4 for 400 frequencies\nnext.s4p  0.600 N\n", "out:next.s4p     ", kWhole}},
      {"next_empty", {kThru, {"next.s4p", ""}}, kWithNext, 0, {"err:unable to read next.s4p, skipping\n", kWhole}},
      {"fext_binary", {kThru, {"fext.s4p", binary()}}, {"Thru=thru.s4p", "FEXT=fext.s4p"}, 0, {"out!fext.s4p", kWhole}},
      {"aggressor_lines_with_4_and_6_words",
       {kThru, kNext, kFext, {"run.cf", "@tests/hardening/bad/channel_lines_with_4_and_6_words.cf"}}, {"run.cf"}, 0,
       {"err:problem with next.s4p, skipping it\n", "err:problem with fext.s4p, skipping it\n", kWhole}},
      {"next_with_fewer_ports", {kThru, {"next.s4p", "# GHz S RI R 50\n1 0 0 1 0 1 0 0 0\n2 0 0 1 0 1 0 0 0\n"}},
       kWithNext, 0, {"err:next.s4p has only 2 ports, skipping\n", kWhole}},
      {"next_descending_frequencies",
       {kThru, {"next.s4p", thru(edited(grid(), [](auto& f) { std::reverse(f.begin(), f.end()); }))}}, kWithNext, 0,
       {"err:next.s4p: frequency 2 (1.995e+10 Hz) is below the one before it (2e+10 Hz), skipping\n", kWhole}},
      // A stray huge first frequency before falling ones once asked for a grid of 10^8 points.
      {"next_stray_huge_first_frequency", {kThru, {"next.s4p", thru({2e17, 2e9, 1e9, 0.5e9})}}, kWithNext, 0,
       {"err:next.s4p: frequency 2 (2e+09 Hz) is below the one before it (2e+17 Hz), skipping\n", kWhole}},
      {"next_nan_last_frequency", {kThru, {"next.s4p", thru({1e9, 2e9, NAN})}}, kWithNext, 0,
       {"err:next.s4p: no crosstalk transfer on its frequency points, skipping\n", kWhole}},
      {"next_nan_value", {kThru, {"next.s4p", "# GHz S RI R 50\n1 nan 0 0 0 0 0 0 0\n2 0 0 0 0 0 0 0 0\n"}},
       {"Thru=thru.s4p", "NEXT=\"next.s4p 1 0 2 0\""}, 0, {kWhole}},
      {"next_touchstone2_keywords", {kThru, {"next.s4p", "@tests/hardening/bad/touchstone2_keywords.s4p"}}, kWithNext, 0,
       {"err:next.s4p" + kTs2, kWhole}},

      // ---- control files
      {"control_file_missing", {}, {"nothere.cf", "Thru=a.s4p"}, 2,
       {"err=" + kPwd + "opening nothere.cf\ncould not open nothere.cf\n"}},
      {"control_file_is_a_directory", {{"run.cf", "", 'd'}}, {"run.cf"}, 2, {"err:could not open run.cf\n"}},
      {"control_file_through_a_pipe", {kThru, {"run.cf", "Thru=thru.s4p\nsignal=300m\n", 'p'}}, {"run.cf"}, 0,
       {"out:peak Signal    =  300     mV\n", kWhole}},
      {"control_file_empty", {{"run.cf", ""}}, {"run.cf"}, 1, {"out=" + kNoThru}},
      {"control_file_binary", {{"run.cf", binary()}}, {"run.cf"}, 1, {"out=" + kNoThru}},
      // 998 characters of comment, then an assignment only a second piece of the line sees.
      {"control_line_read_in_pieces", {{"run.cf", "Thru=missing.s4p\n#" + std::string(997, 'x') + "signal=300m\n"}},
       {"run.cf"}, 1, {"out:peak Signal    =  300     mV\n"}},
      {"control_line_longer_than_a_read", {kThru, {"run.cf", "Thru=" + std::string(3000, 't') + "\nsignal=300m\n"}},
       {"run.cf"}, 1, {"out^channel:  " + t993 + "\n", "out:peak Signal    =  300     mV\n", "err:cannot open " + t993 + "\n"}},
      {"control_unterminated_quote", {kThru, {"run.cf", "@tests/hardening/bad/unterminated_quote.cf"}}, {"run.cf"}, 0,
       {kHead, kWhole}},
      {"control_unset_environment_reference", {kThru, {"run.cf", "@tests/hardening/bad/unset_environment_reference.cf"}},
       {"run.cf"}, 1, {"out=" + kNoThru}},
      {"control_unknown_variable_reference", {kThru, {"run.cf", "@tests/hardening/bad/unknown_variable_reference.cf"}},
       {"run.cf"}, 1, {"out=" + kNoThru}},
      {"unset_environment_for_a_number", {kThru}, {"Thru=thru.s4p", "signal=$BREVO_NEVER_SET"}, 0,
       {"out:peak Signal    =  400     mV\n", "err:signal: environment variable BREVO_NEVER_SET is not set; not assigned\n",
        kWhole}},
      {"thru_from_an_unset_environment_variable", {kThru}, {"Thru=$BREVO_NEVER_SET"}, 1,
       {"out=" + kNoThru, "err:Thru: environment variable BREVO_NEVER_SET is not set; not assigned\n"}},
      // Refused on a log line of its own, so there is no through channel.
      {"value_longer_than_its_storage", {kThru}, {"Thru=" + x2000}, 1,
       {"out=" + kNoThru, "err:\nvalue of Thru is 2000 characters, longer than the 999 it may hold; not assigned\n"}},
      {"results_name_longer_than_its_storage", {kThru}, {"Thru=thru.s4p", "results=" + x2000}, 0,
       {"err:value of results is 2000 characters", kWhole}},
      {"control_file_name_too_long_for_the_system", {}, {std::string(5000, 'c')}, 2,
       {"err:could not open " + std::string(5000, 'c') + "\n"}},

      // ---- settings
      {"oversample_0", {kThru}, {"Thru=thru.s4p", "oversample=0"}, 11,
       {kFit, "out$oversample=0: the period waveforms need at least one sample per UI\n",
        "err$oversample=0: the period waveforms need at least one sample per UI\n"}},
      {"oversample_negative", {kThru}, {"Thru=thru.s4p", "oversample=-3"}, 11, {"out:oversample=-3: the period waveforms"}},
      {"oversample_huge_with_dfe", {kThru}, {"Thru=thru.s4p", "oversample=2000000000", "N_DFE=10"}, 11,
       {"out$is too large\n", "err$is too large\n"}},
      {"pam_1", {kThru}, {"Thru=thru.s4p", "PAM=1"}, 0, {kWhole}},
      {"pam_0", {kThru}, {"Thru=thru.s4p", "PAM=0"}, 0, {kWhole}},
      {"pam_most_negative", {kThru}, {"Thru=thru.s4p", "PAM=-2147483648"}, 0, {kWhole}},
      {"data_rate_0", {kThru}, {"Thru=thru.s4p", "data_rate=0"}, 0, {"out:data rate      =    0.000 Gb\n", kWhole}},
      {"data_rate_negative", {kThru}, {"Thru=thru.s4p", "data_rate=-25g"}, 0, {kWhole}},
      {"target_ber_0", {kThru}, {"Thru=thru.s4p", "target_BER=0"}, 0, {kWhole}},
      // The three-term refit once a4 is above the limit: no f^2 term.
      {"a4_above_its_limit", {kThru}, {"Thru=thru.s4p", "a4_limit=-1"}, 0, {"out:a4=0.000000e+00+j(0.000000e+00)\n", kWhole}},
      {"unlimited_transmitter", {kThru}, {"Thru=thru.s4p", "tx_bandwidth=0"}, 0, {"out:Tx t bandwidth =         inf\n", kWhole}},

      // ---- result, log and side files
      {"result_and_log_files", {}, {"results=r.txt", "log=l.txt", "signal=1"}, 1,
       {"out=", "err=" + kPwd + "1  results=r.txt\n" + kNoThru, "r.txt=" + kNoThru,
        "l.txt=opened l.txt as LOG\n2  log=l.txt\n3  signal=1\n" + kNoThru}},
      {"result_and_log_files_at_a_refused_grid", {kThru}, {"results=r.txt", "log=l.txt", "Thru=thru.s4p", "oversample=0"},
       11, {"out=", "r.txt^channel:  thru.s4p\n", "r.txt$oversample=0: the period waveforms need at least one sample per UI\n",
            "l.txt$oversample=0: the period waveforms need at least one sample per UI\n"}},
      {"stream_files_in_a_missing_directory", {kThru}, {"results=nodir/r.txt", "log=nodir/l.txt", "Thru=thru.s4p"}, 0,
       {"err:cannot open nodir/r.txt, will use default results output\n",
        "err:cannot open nodir/l.txt, will use default log\n", "err:thru channel=thru.s4p\n", kHead, kWhole}},
      {"results_is_a_directory", {kThru, {"rdir", "", 'd'}}, {"Thru=thru.s4p", "results=rdir"}, 0,
       {"err:cannot open rdir, will use default results output\n", kWhole}},
      {"starter_result_line_changes_no_stream", {}, {"result=r.txt", "signal=1"}, 1, {"out=" + kNoThru, "r.txt-"}},
      // A device that takes no byte: the lost report is said and has a status of its own; a
      // lost log is said without one.
      {"results_on_a_full_device", {kThru}, {"Thru=thru.s4p", "results=/dev/full"}, 12,
       {"err:could not write the report: No space left on device\n"}},
      {"log_on_a_full_device", {kThru}, {"log=/dev/full", "Thru=thru.s4p"}, 0,
       {"err$could not write the log: No space left on device\n", kWhole}},
      {"side_file_on_a_full_device", {kThru, {"w.wv2", "@/dev/full"}}, {"Thru=thru.s4p", "save_file=w.txt"}, 0,
       {"err:could not write all of w.wv2: No space left on device\n", kWhole}},
      {"save_file_in_a_missing_directory", {kThru}, {"Thru=thru.s4p", "save_file=nodir/w.txt", "N_DFE=4"}, 0,
       {"err:could not open nodir/w.txt for writing\n", kWhole}},
  };
  return rows;
}

// The folder's file: a link, an empty folder, a pipe (fed by a child process, which the
// caller ends after the run), or the text; returns the feeding child's id, or 0.
pid_t materialise(const Workspace& ws, const File& f) {
  const fs::path path = ws.dir() / f.name;
  if (f.text.starts_with("@")) return fs::create_symlink(fs::path(BREVO_SOURCE_DIR) / f.text.substr(1), path), 0;
  if (f.kind == 'd') return fs::create_directory(path), 0;
  if (f.kind == 'f') return writeFile(path, f.text), 0;
  mkfifo(path.c_str(), 0644);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  alarm(deadlineSeconds());
  if (FILE* pipe = std::fopen(path.c_str(), "w")) std::fwrite(f.text.data(), 1, f.text.size(), pipe), std::fclose(pipe);
  _exit(0);
}

class Runs : public ::testing::TestWithParam<Case> {};

TEST_P(Runs, StatusStreamsAndFiles) {
  const Case& t = GetParam();
  Workspace ws;
  std::vector<pid_t> writers;
  for (const File& f : t.files)
    if (const pid_t pid = materialise(ws, f)) writers.push_back(pid);
  const Outcome r = ws.run(t.args);
  for (const pid_t pid : writers) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);

  ASSERT_EQ(r.signal, 0) << "ended by signal " << r.signal << "\n" << r.err.substr(0, 2000);
  EXPECT_FALSE(has(r.err, "Sanitizer") || has(r.err, "runtime error:")) << r.err;
  EXPECT_EQ(r.status, t.status) << "log:\n" << r.err.substr(0, 2000) << "\nresult:\n" << r.out.substr(0, 2000);
  for (const std::string& c : t.checks) {
    const std::size_t at = c.find_first_of("=^$:!-");
    const std::string stream = c.substr(0, at), want = c.substr(at + 1);
    const std::string text = stream == "out" ? r.out : stream == "err" ? r.err : ws.read(stream);
    const char op = c[at];
    const bool ok = op == '=' ? text == want : op == '^' ? text.starts_with(want) : op == '$' ? text.ends_with(want)
                  : op == ':' ? has(text, want) : op == '!' ? !has(text, want) : !ws.exists(stream);
    EXPECT_TRUE(ok) << stream << " fails " << op << "\"" << want.substr(0, 300) << "\"; it holds:\n" << text.substr(0, 3000);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Runs, ::testing::ValuesIn(cases()), rowName);

}  // namespace
