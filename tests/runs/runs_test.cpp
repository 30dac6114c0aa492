// The built program run on the files of a fresh folder, as a user runs it: every case of
// tests/runs/runs.txt (its format is described there) ends with its exit status, within the
// deadline, without a signal or a sanitizer report, and with the texts its checks name on the
// result stream, the log and the files it writes. Bad input keeps the report lines printed
// before the failure.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "GlobalNames.h"
#include "entry.h"
#include "workspace.h"

namespace {

using namespace brevo_test;
using cd = std::complex<double>;

// ------------------------------------------------------------------ generated files

// points frequencies from first in steps of step (hertz): by default 50 MHz to 20 GHz.
std::vector<double> grid(int points = 400, double first = 50e6, double step = 50e6) {
  std::vector<double> f(points);
  for (int k = 0; k < points; ++k) f[k] = first + step * k;
  return f;
}

std::vector<double> edited(std::vector<double> f,
                           const std::function<void(std::vector<double>&)>& edit) {
  return edit(f), f;
}

// A lossy pair of lines 1-2 and 3-4: loss growing with sqrt(f), 0.5 ns of delay, small
// reflections, a little coupling between the lines; entry (row, column) of point 50
// replaced by value when row is given; the waves from ports 1, 3 to ports 2, 4 times forward.
std::string thru(const std::vector<double>& f = grid(), int row = 0, int column = 0, cd value = 0,
                 double forward = 1) {
  return touchstone(f, 4, [&](int k, int r, int c) {
    const double g = f[k] * 1e-9, degree = pi / 180;
    if (k == 50 && r == row && c == column) return value;
    const double scale = r % 2 == 0 && c % 2 == 1 ? forward : 1;
    if (r == c) return std::polar(0.05, 30 * g * degree);
    if ((r + 1) / 2 == (c + 1) / 2)
      return scale * std::polar(std::exp(-0.12 * std::sqrt(g)), -180 * g * degree);
    return scale * std::polar(0.002, 40 * g * degree);
  });
}

// An aggressor coupling 1-2 and 3-4 weakly, falling with frequency.
std::string aggressor() {
  const std::vector<double> f = grid();
  return touchstone(f, 4, [&](int k, int r, int c) {
    return (r + 1) / 2 == (c + 1) / 2 && r != c
               ? std::polar(0.02 / (1 + 0.1e-9 * f[k]), 70e-9 * f[k] * pi / 180)
               : cd(0);
  });
}

// A 2-port line of 1 ns to 50 GHz, loss growing with sqrt(f) and f, a small ripple, and
// reflections of 0.08; times sign, and the wave from port 2 to port 1 (the file's third
// pair) times back.
std::string line(double sign, double back = 1) {
  const std::vector<double> f = grid(5001, 0, 10e6);
  return touchstone(f, 2, [&](int k, int r, int c) {
    const cd ripple = 1.0 + 0.04 * (1.0 - std::exp(cd(0, -2 * pi * f[k] * 0.37e-9)));
    return sign *
           (r == c
                ? 0.08 * std::exp(cd(0, -2 * pi * f[k] * 0.21e-9))
                : (r == 2 ? back : 1) *
                      std::exp(cd(-2e-6 * std::sqrt(f[k]) - 3e-11 * f[k], -2 * pi * f[k] * 1e-9)) *
                      ripple);
  });
}

// Line n of a text (from 0) changed by edit.
std::string editLine(std::string text, int n, const std::function<void(std::string&)>& edit) {
  std::size_t at = 0;
  for (int line = 0; line < n; ++line) at = text.find('\n', at) + 1;
  std::string line = text.substr(at, text.find('\n', at) - at);
  edit(line);
  return text.replace(at, text.find('\n', at) - at, line);
}

// The generated texts a case names with "@NAME". The thru's point 50 is 2.55 GHz.
std::string generated(const std::string& name) {
  const auto reversed = [](auto& f) { std::reverse(f.begin(), f.end()); };
  // A single-ended line 1 => 2 from 0 Hz in steps of 10 MHz, S21 = 1, reflecting only at 0 Hz.
  const auto dcEcho = [](int k, int r, int c) { return cd(r != c ? 1 : k == 0 ? 0.5 : 0); };
  const std::map<std::string, std::function<std::string()>> texts = {
      {"thru", [] { return thru(); }},
      // The same network at 75 ohm, by the library's renormalisation and writer.
      {"thru_at_75_ohm",
       [] {
         TouchstoneWriteOptions w;
         w.reference = 75;
         return formatTouchstone(parseTouchstoneStandard(thru(), "thru.s4p", {75.0, true}).set, w);
       }},
      {"thru_from_0_Hz", [] { return thru(grid(401, 0)); }},
      {"thru_repeated_frequency",
       [] { return thru(edited(grid(), [](auto& f) { f[10] = f[9]; })); }},
      {"thru_descending", [&] { return thru(edited(grid(), reversed)); }},
      {"thru_not_ascending_at_the_start",
       [] {
         return thru(edited(grid(), [](auto& f) { std::swap(f[0], f[2]), std::swap(f[1], f[2]); }));
       }},
      {"thru_nan_frequency", [] { return thru(edited(grid(), [](auto& f) { f[100] = NAN; })); }},
      {"thru_nan_in_S12", [] { return thru(grid(), 1, 2, NAN); }},
      {"thru_nan_in_S21", [] { return thru(grid(), 2, 1, NAN); }},
      {"thru_infinite_S33", [] { return thru(grid(), 3, 3, INFINITY); }},
      {"thru_cut_inside_its_last_record", [] { return thru().substr(0, thru().size() - 60); }},
      // Record 5's first line without its last pair; record 0 with a pair too many.
      {"thru_record_with_too_few_values",
       [] {
         return editLine(thru(), 22,
                         [](std::string& l) { l.resize(l.rfind(' ', l.rfind(' ') - 1)); });
       }},
      {"thru_first_record_with_too_many_values",
       [] { return editLine(thru(), 5, [](std::string& l) { l += " 0.5 0"; }); }},
      {"thru_after_a_long_comment", [] { return "! " + std::string(5000, 'c') + "\n" + thru(); }},
      {"aggressor", aggressor},
      {"aggressor_descending", [&] { return thru(edited(grid(), reversed)); }},
      {"aggressor_stray_huge_first_frequency",
       [] {
         return thru({2e17, 2e9, 1e9, 0.5e9});
       }},
      {"aggressor_nan_last_frequency",
       [] {
         return thru({1e9, 2e9, NAN});
       }},
      {"line", [] { return line(1); }},
      {"line_inverted", [] { return line(-1); }},
      {"line_weaker_from_2_to_1", [] { return line(1, 0.5); }},
      {"thru_weaker_from_1_3_to_2_4", [] { return thru(grid(), 0, 0, 0, 0.5); }},
      {"line_reflecting_at_dc_only", [&] { return touchstone(grid(401, 0, 10e6), 2, dcEcho); }},
      {"binary",
       [] {  // bytes of every value: no text at all
         std::string text =
             "\x7f"
             "ELF\x02\x01\x01";
         for (unsigned n = 0, x = 12345; n < 4096; ++n)
           x = x * 1103515245u + 12345u, text += static_cast<char>(x >> 16);
         return text;
       }},
      {"starter", [] { return std::string(kStarterControlFile); }},
      // The shipped kr4 preset with a negative amplitude on its line 26.
      {"kr4_with_negative_A_v",
       [] {
         std::string text = readFile(fs::path(BREVO_SOURCE_DIR) / "com" / "presets" / "kr4.cf");
         return text.replace(text.find("com_A_v=0.4 "), 12, "com_A_v=-0.4");
       }},
      {"usage", [] { return std::string(kUsageLine); }},
      {"help", [] { return readFile(fs::path(BREVO_TEST_DIR) / "golden" / "help.txt"); }}};
  const auto found = texts.find(name);
  return found == texts.end() ? "<no text named " + name + ">" : found->second();
}

// ------------------------------------------------------------------ the table

// A file of the run's folder: its text, an empty folder (kind 'd'), a named pipe a writer
// feeds the text through ('p'), or a link to a path ('l').
struct File {
  std::string name, text;
  char kind = 'f';
};

struct Case {
  std::string name;
  int status = 0;
  std::vector<std::string> args, checks;
  std::vector<File> files;
};

// A text of the table: escapes \n \r \t \\, {N*C} for N copies of the character C, {NAME}
// for a text defined earlier, {@NAME} or a whole text @NAME for a generated one.
std::string text(const std::string& raw, const std::map<std::string, std::string>& defined) {
  if (raw.starts_with("@")) return generated(raw.substr(1));
  std::string out;
  for (std::size_t at = 0; at < raw.size(); ++at) {
    const std::size_t close = raw[at] == '{' ? raw.find('}', at) : std::string::npos;
    if (raw[at] == '\\' && at + 1 < raw.size()) {
      const char c = raw[++at];
      out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    } else if (close != std::string::npos && raw[at + 1] == '@') {
      out += generated(raw.substr(at + 2, close - at - 2)), at = close;
    } else if (close != std::string::npos && defined.count(raw.substr(at + 1, close - at - 1))) {
      out += defined.at(raw.substr(at + 1, close - at - 1)), at = close;
    } else if (const std::size_t star = raw.find('*', at);
               close != std::string::npos && star < close) {
      out += std::string(std::stoul(raw.substr(at + 1, star - at - 1)), raw[star + 1]), at = close;
    } else {
      out += raw[at];
    }
  }
  return out;
}

std::vector<Case> cases() {
  std::istringstream table(readFile(fs::path(BREVO_TEST_DIR) / "runs" / "runs.txt"));
  std::vector<Case> all;
  std::map<std::string, std::string> defined;
  for (std::string line; std::getline(table, line);) {
    const std::size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank),
                      rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    const std::size_t second = rest.find(' ');
    const std::string name = rest.substr(0, second),
                      value = second == std::string::npos ? "" : rest.substr(second + 1);
    if (word == "define")
      defined[name] = text(value, defined);
    else if (word == "case")
      all.push_back({name, std::stoi(value), {}, {}, {}});
    else if (word == "arg")
      all.back().args.push_back(text(rest, defined));
    else if (word == "file" || word == "pipe")
      all.back().files.push_back({name, text(value, defined), word[0]});
    else if (word == "dir" || word == "link")
      all.back().files.push_back({name, value, word[0]});
    else if (!word.empty() && word[0] != '#')
      all.back().checks.push_back(word + text(rest, defined));
  }
  return all;
}

// The folder's file; for a pipe, the id of the child that feeds it (ended by the caller
// after the run), else 0.
pid_t materialise(const Workspace& ws, const File& f) {
  const fs::path path = ws.dir() / f.name;
  if (f.kind == 'l') return fs::create_symlink(fs::path(BREVO_SOURCE_DIR) / f.text, path), 0;
  if (f.kind == 'd') return fs::create_directory(path), 0;
  if (f.kind == 'f') return writeFile(path, f.text), 0;
  mkfifo(path.c_str(), 0644);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  alarm(deadlineSeconds());
  if (FILE* pipe = std::fopen(path.c_str(), "w"))
    std::fwrite(f.text.data(), 1, f.text.size(), pipe), std::fclose(pipe);
  _exit(0);
}

class Runs : public ::testing::TestWithParam<Case> {};

TEST_P(Runs, StatusStreamsAndFiles) {
  const Case& t = GetParam();
  for (const std::string& piece : t.args) ASSERT_FALSE(has(piece, "<no text named")) << piece;
  for (const File& f : t.files) ASSERT_FALSE(has(f.text, "<no text named")) << f.text;
  Workspace ws;
  std::vector<pid_t> writers;
  for (const File& f : t.files)
    if (const pid_t pid = materialise(ws, f)) writers.push_back(pid);
  const Outcome r = ws.run(t.args);
  for (const pid_t pid : writers) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);

  ASSERT_EQ(r.signal, 0) << "ended by signal " << r.signal << "\n" << r.err.substr(0, 2000);
  EXPECT_FALSE(has(r.err, "Sanitizer") || has(r.err, "runtime error:")) << r.err;
  EXPECT_EQ(r.status, t.status) << "log:\n"
                                << r.err.substr(0, 2000) << "\nresult:\n"
                                << r.out.substr(0, 2000);
  for (const std::string& c : t.checks) {
    const std::size_t at = c.find_first_of("=^$:!-");
    const std::string stream = c.substr(0, at), want = c.substr(at + 1);
    const std::string text = stream == "out" ? r.out : stream == "err" ? r.err : ws.read(stream);
    const char op = c[at];
    const bool ok = op == '='   ? text == want
                    : op == '^' ? text.starts_with(want)
                    : op == '$' ? text.ends_with(want)
                    : op == ':' ? has(text, want)
                    : op == '!' ? !has(text, want)
                                : !ws.exists(stream);
    EXPECT_TRUE(ok) << stream << " fails " << op << "\"" << want.substr(0, 300) << "\"; it holds:\n"
                    << text.substr(0, 3000);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Runs, ::testing::ValuesIn(cases()), rowName);

}  // namespace
