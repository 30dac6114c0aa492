// The bundled examples run as a user runs them, in a folder holding the example files: the
// report and the log byte for byte against tests/golden/, and for save.cf its three side
// files (line count, a hash of every byte, every 100th line). BREVO_UPDATE_GOLDEN=1
// writes the golden files instead.
//
// The golden figures were worked out once more outside the program by
// tests/golden/check_examples.py (plain Python, from the example Touchstone files and the
// physics): the loss fit a0..a4 by weighted least squares, all seven digits; the Nyquist
// gain of -25.018 dB from it, beside |Sdd21| = -25.000 dB at 12.890625 GHz from the file;
// the group delay (all seven digits), peak pulse and dibit to 0.001 m; every ICN line and
// the ILD power before the DFE; Salz S/N; the target Q of both BERs by bisection of the
// Gaussian tail; the available signal (400 mV x dibit peak x 0.85 / (PAM - 1) - 10 mV);
// channel, crosstalk and total noise as sums of powers; S/N, BER and interference
// tolerance; PAM-4 noise amplitudes at sqrt(5/9) of the NRZ ones, S/N at about a quarter;
// and the rows of the .wv1 and .fd excerpts (pulse, dibit and fitted pulse; thru, fit and
// ILD) to their printed digits. The .wv2 rows were not worked out again: the period sums
// behind them are held to the exact sums by SpeedPeriodSums, and every printed digit of
// the whole file was that of direct sums in long double when its hash was taken.

#include "workspace.h"

namespace {

using namespace brevo_test;

const fs::path kGolden = fs::path(BREVO_TEST_DIR) / "golden";

void expectGolden(const std::string& name, const std::string& actual) {
  if (std::getenv("BREVO_UPDATE_GOLDEN")) return writeFile(kGolden / name, actual);
  EXPECT_EQ(actual, readFile(kGolden / name)) << "tests/golden/" << name;
}

// The line count, an FNV-1a hash of every byte, and lines 0, 100, 200, ...
std::string excerpt(const std::string& text) {
  std::uint64_t hash = 14695981039346656037u;
  for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211u;
  std::istringstream in(text);
  std::string lines;
  int n = 0;
  for (std::string line; std::getline(in, line); ++n)
    if (n % 100 == 0) lines += line + "\n";
  char head[80];
  std::snprintf(head, sizeof head, "%d lines, FNV-1a %016llx\n", n,
                static_cast<unsigned long long>(hash));
  return head + lines;
}

struct Example {
  const char* name;
  const char* report;
  std::vector<std::string> sideFiles;
};  // report: its golden one

class Examples : public ::testing::TestWithParam<Example> {};

TEST_P(Examples, ReportLogAndSideFilesAsGolden) {
  const Example& e = GetParam();
  Workspace ws;
  for (const auto& entry : fs::directory_iterator(fs::path(BREVO_SOURCE_DIR) / "examples"))
    fs::create_symlink(entry.path(), ws.dir() / entry.path().filename());
  const Outcome r = ws.run({std::string(e.name) + ".cf"});
  EXPECT_EQ(r.status, 0);
  expectGolden(e.report, r.out);
  expectGolden(std::string(e.name) + ".log", r.err);
  for (const std::string& side : e.sideFiles) expectGolden(side, excerpt(ws.read(side)));
}

INSTANTIATE_TEST_SUITE_P(
    Bundled, Examples,
    ::testing::Values(Example{"nrz", "nrz.report", {}}, Example{"pam4", "pam4.report", {}},
                      Example{"save", "nrz.report", {"nrz_run.wv1", "nrz_run.fd", "nrz_run.wv2"}}),
    rowName);

// Every through channel of the shared collection (channels.tsv: path, role, set, ports,
// points, ..., and the ports in use in columns 13 to 16), with the NEXT and FEXT files of
// its set, reads with its listed sizes and runs to a whole report of finite figures with
// one ICN line per aggressor, and a set with aggressors with no warning.
TEST(RealChannels, EveryThruRunsToFiniteFigures) {
  const fs::path dir = BREVO_CHANNELS_DIR;
  std::istringstream manifest(readFile(dir / "channels.tsv"));
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(manifest, line);) {
    std::stringstream fields(line);
    for (rows.emplace_back(); std::getline(fields, line, '\t');) rows.back().push_back(line);
  }
  if (rows.empty()) GTEST_SKIP() << "no channel collection at " << dir;
  for (const auto& t : rows) {
    if (t.size() < 16 || t[1] != "thru") continue;
    // A first argument holding "-c" or "-b" (a folder name may) is the starter option.
    std::vector<std::string> args = {"PAM=2", "Thru=\"" + (dir / t[0]).string() + " " + t[12] +
                                                  " " + t[13] + " " + t[14] + " " + t[15] + "\""};
    for (const auto& a : rows)
      if (a.size() > 2 && !t[2].empty() && a[2] == t[2] && (a[1] == "next" || a[1] == "fext"))
        args.push_back((a[1] == "next" ? "NEXT=" : "FEXT=") + (dir / a[0]).string());
    const Outcome r = Workspace().run(args);
    EXPECT_EQ(r.status, 0) << t[0] << "\n" << r.err.substr(0, 2000);
    EXPECT_TRUE(has(r.err, "#read " + (dir / t[0]).string() + " size " + t[3] + " for " + t[4] +
                               " frequencies\n"))
        << r.err;
    const std::string figures = r.out.substr(0, r.out.find("Salz S/N"));  // +inf without aggressors
    EXPECT_FALSE(has(figures, "nan") || has(figures, "inf") || !has(r.out, "\nFLIPPED: "))
        << t[0] << "\n"
        << r.out;
    int icn = 0;
    for (std::size_t at = 0; (at = r.out.find(" ICN             ", at)) != std::string::npos; ++at)
      ++icn;
    EXPECT_EQ(icn, static_cast<int>(args.size()) - 2) << t[0] << "\n" << r.out;
    // A crosstalk set at its own rate has nothing to warn about.
    if (args.size() > 2) {
      EXPECT_EQ(r.err.find("warning: "), std::string::npos) << t[0] << "\n" << r.err;
    }
  }
}

}  // namespace
