// Black-box runs of the tools: brevo-cascade's refusals and joins, every writer on a full
// device or file system, the generator feeding Brevo, the bundled examples' regeneration,
// the pictures and the sweep.
#include <algorithm>
#include <cstdlib>

#include "GlobalNames.h"
#include "presets.h"
#include "workspace.h"

using complex = std::complex<double>;

namespace fs = std::filesystem;

namespace {

const std::string kTools = BREVO_TOOLS_DIR, kSource = BREVO_SOURCE_DIR, kBrevo = BREVO_EXE;
const std::string kFixtures = std::string(BREVO_TEST_DIR) + "/tools/cascade/";
const std::string kCascade = kTools + "/brevo-cascade", kGenerator = kTools + "/brevo-channel";

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

using brevo_test::Outcome;
using brevo_test::readFile;
using Scratch = brevo_test::Workspace;  // a temporary folder, removed with everything in it

// A shell command, its standard output and error captured apart.
Outcome run(const std::string& command) {
  Scratch capture;
  const std::string redirected =
      command + " >" + quote(capture / "out") + " 2>" + quote(capture / "err");
  const int raw = std::system(redirected.c_str());
  Outcome r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = capture.read("out"), r.err = capture.read("err");
  return r;
}

// A program and its arguments, each quoted.
std::string command(const std::string& program, const std::vector<std::string>& args) {
  std::string text = quote(program);
  for (const std::string& a : args) text += " " + quote(a);
  return text;
}

bool onPath(const char* program) { return run(std::string("command -v ") + program).status == 0; }

// The number after a report label at the start of a line; NaN when there is none.
double figure(const std::string& report, const std::string& label) {
  std::istringstream lines(report);
  for (std::string l; std::getline(lines, l);)
    if (l.compare(0, label.size(), label) == 0)
      return std::strtod(l.c_str() + label.size(), nullptr);
  return std::nan("");
}

Sparams readSet(const std::string& path) {  // the reader's log lines kept out of the test output
  FILE* log = std::tmpfile();
  Sparams s(path, log);
  if (log) std::fclose(log);
  return s;
}

// Channel lines for brevo-cascade; "F:" stands for the fixtures folder.
std::vector<std::string> elements(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines)
    out.push_back(l.rfind("F:", 0) == 0 ? kFixtures + l.substr(2) : l);
  return out;
}

// brevo-cascade run on channel lines with OUT in dir holding `before` (as much of it as fits): the
// status and the message, and OUT as it was with nothing beside it.
void expectOutAsItWas(
    const Scratch& dir, const std::vector<std::string>& lines, int status,
    const std::string& message,
    const std::string& before = "! an earlier result that must survive\n# GHz S RI R 50\n") {
  SCOPED_TRACE(message);
  const std::string out = dir / "joined.s4p";
  std::ofstream(out, std::ios::binary) << before;
  const std::string kept = readFile(out);
  std::vector<std::string> args = elements(lines);
  if (!args.empty()) args.insert(args.begin(), out);
  const Outcome r = run(command(kCascade, args));
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(out), kept);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"joined.s4p"}) << "files left beside OUT";
}

TEST(Cascade, RefusalsLeaveOutAsItWasAndNothingBeside) {
  const struct {
    std::vector<std::string> lines;
    int status;
    std::string message;
  } cases[] = {
      {{}, 2, "usage: brevo-cascade OUT FILE1 FILE2 [FILE3 ...]"},
      {{"F:thru_1_to_3GHz.s4p"}, 2, "at least two elements are needed"},
      {{"F:thru_1_to_3GHz.s4p", "F:nowhere.s4p"},
       1,
       "cannot read " + kFixtures + "nowhere.s4p: No such file or directory"},
      {{"F:thru_1_to_3GHz.s4p", "F:"}, 1, "cannot read"},
      {{"F:thru_1_to_3GHz.s4p", "F:no_option_line.s4p"},
       1,
       "no_option_line.s4p holds no data (no option line)"},
      {{"F:single_record.s4p", "F:thru_1_to_3GHz.s4p"},
       1,
       "single_record.s4p holds no data (fewer than two records)"},
      {{"F:thru_1_to_3GHz.s4p", "F:ends_inside_record.s4p"},
       1,
       "ends_inside_record.s4p ends inside its data"},
      {{"F:thru_1_to_3GHz.s4p", "F:thru_1_to_3GHz.s2p"},
       1,
       "thru_1_to_3GHz.s2p: port 3 is outside the file's ports 1 to 2"},
      {{"F:thru_1_to_3GHz.s4p 1 3 1 4", "F:thru_1_to_3GHz.s4p"}, 1, "port 1 is named twice"},
      {{"F:thru_1_to_3GHz.s4p", "F:thru_1_to_3GHz.s2p 1 0 2 0"},
       1,
       "elements of different kinds cannot be joined"},
      {{"F:thru_1_to_3GHz.s4p 1 3 2", "F:thru_1_to_3GHz.s4p"},
       1,
       "expected a file name and the four ports inP inM outP outM, got 4 words"},
      {{"F:thru_1_to_3GHz.s4p", "F:thru_1_to_3GHz.s4p 1 three 2 4"},
       1,
       "port \"three\" is not a port number"},
      {{"F:thru_1_to_3GHz.s4p", "F:thru_1_to_2GHz.s4p"},
       1,
       "thru_1_to_2GHz.s4p covers 1e+09 Hz to 2e+09 Hz only; the first element's grid needs "
       "1e+09 Hz to 3e+09 Hz, missing 2e+09 Hz to 3e+09 Hz"}};
  for (const auto& c : cases) expectOutAsItWas(Scratch(), c.lines, c.status, c.message);
}

// The earlier OUT fills a 16 KiB file system, so the joined file has no room.
TEST(Cascade, FullFileSystemLeavesOutAsItWas) {
  Scratch dir;
  if (run("mount -t tmpfs -o size=16k tmpfs " + quote(dir.dir().string())).status != 0)
    GTEST_SKIP()
        << "mounting a tmpfs is not permitted here (it needs root, and a sandbox may forbid it)";
  const struct Unmount {
    std::string at;
    ~Unmount() { run("umount " + quote(at)); }
  } unmount{dir.dir().string()};
  expectOutAsItWas(dir, {"F:thru_1_to_3GHz.s4p", "F:thru_1_to_3GHz.s4p"}, 3,
                   "could not write " + (dir / "joined.s4p") + ": No space left on device",
                   std::string(16384, '!'));
}

// Every writer on a device that takes no byte: a nonzero status and one message, naming the
// file. Through links, so that a rename could only ever replace a link, not the device.
TEST(Writers, FullDeviceIsSaidWithItsStatus) {
  Scratch dir;
  for (const char* link : {"full.s4p", "lane_thru.s4p"})
    fs::create_symlink("/dev/full", dir / link);
  const std::string full = dir / "full.s4p", thru = kFixtures + "thru_1_to_3GHz.s4p",
                    noSpace = ": No space left on device\n";
  const auto onStandardError =
      [](const std::function<int()>& write) {  // a library writer's status and words
        testing::internal::CaptureStderr();
        return Outcome{write(), 0, "", testing::internal::GetCapturedStderr()};  // braces: in order
      };
  const struct {
    Outcome r;
    int status;
    std::string err;
  } cases[] = {{onStandardError([&] {
                  return Sparams(1, 1, "one").print(full.c_str(), "h", RI, "%g %g ", stderr);
                }),
                1, "could not write " + full + noSpace},
               {onStandardError([] {
                  return Sparams(1, 1, "one").print("/nowhere/x.s1p", "h", RI, "%g %g ", stderr);
                }),
                1, "cannot open /nowhere/x.s1p\n"},
               {onStandardError([&] { return cmatrix(1).dump("", full.c_str(), "%g %g", 0); }), 1,
                full + "\ncould not write " + full + noSpace},
               {run(command(kCascade, {full, thru, thru})), 3,
                "brevo-cascade: could not write " + full + noSpace},
               {run(command(kTools + "/brevo-touchstone", {thru, full})), 3,
                "brevo-touchstone: could not write " + full + noSpace},
               {run(command(kGenerator, {"out=" + (dir / "lane")})), 1,
                "could not write " + (dir / "lane_thru.s4p") + noSpace}};
  for (const auto& c : cases)
    EXPECT_TRUE(c.r.status == c.status && c.r.err.ends_with(c.err) &&
                c.r.err.find("could not") == c.r.err.rfind("could not"))
        << "status " << c.r.status << ", expected " << c.status << ": " << c.r.err;
}

TEST(Cascade, JoinsReadOffByHand) {
  const struct {
    std::vector<std::string> lines;
    std::vector<std::vector<double>> expected;
  } cases[] = {
      // thru, then two halves: a quarter on each line
      {{"F:thru_1_to_3GHz.s4p", "F:half_1_to_3GHz.s4p", "F:half_1_to_3GHz.s4p"},
       {{0, 0.25, 0, 0}, {0.25, 0, 0, 0}, {0, 0, 0, 0.25}, {0, 0, 0.25, 0}}},
      // input pair taken as (3, 1): the lines cross, in+ reaching out- and in- reaching out+
      {{"F:half_1_to_3GHz.s4p 3 1 2 4", "F:thru_1_to_3GHz.s4p"},
       {{0, 0, 0, 0.5}, {0, 0, 0.5, 0}, {0, 0.5, 0, 0}, {0.5, 0, 0, 0}}},
      // single-ended, the stored 2-port order keeping S21 at (1, 2); then taken backwards
      {{"F:thru_1_to_3GHz.s2p 1 0 2 0", "F:forward_half_back_quarter_1_to_3GHz.s2p 1 0 2 0"},
       {{0, 0.5}, {0.25, 0}}},
      {{"F:forward_half_back_quarter_1_to_3GHz.s2p 2 0 1 0", "F:half_1_to_3GHz.s4p 1 0 2 0"},
       {{0, 0.125}, {0.25, 0}}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines[0]);
    Scratch dir;
    const std::string out = dir / "joined.snp";
    std::ofstream(out) << "old\n";
    std::vector<std::string> args = elements(c.lines);
    args.insert(args.begin(), out);
    const Outcome r = run(command(kCascade, args));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("wrote " + out), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("dgesv"), std::string::npos) << "a line per frequency: " << r.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"joined.snp"});
    EXPECT_NE(readFile(out).find("# MHz S RI  R  50\n"), std::string::npos);
    const Sparams s = readSet(out);
    const int ports = static_cast<int>(c.expected.size());
    ASSERT_EQ(s.Size(), ports);
    ASSERT_EQ(s.Fcount(), 3);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(s.Freq(k), (k + 1) * 1e9);
      for (int i = 1; i <= ports; ++i)
        for (int j = 1; j <= ports; ++j)
          EXPECT_EQ(s.Value(k, i, j), complex(c.expected[i - 1][j - 1], 0))
              << k << ": " << i << "," << j;
    }
  }
}

TEST(Cascade, JoinedRealChannelRunsThroughBrevo) {
  const std::string channel =
      std::string(BREVO_CHANNELS_DIR) + "/thru_only/peters_01_0605_B1_thru.s4p";
  if (!fs::exists(channel)) GTEST_SKIP() << "channel folder absent: " << channel;
  Scratch dir;
  const Outcome join = run(command(kCascade, {dir / "joined.s4p", channel, channel + " 1 3 2 4"}));
  ASSERT_EQ(join.status, 0) << join.err.substr(0, 2000);
  EXPECT_EQ(join.out, "");
  const Sparams one = readSet(channel), two = readSet(dir / "joined.s4p");
  ASSERT_EQ(two.Size(), 4);
  ASSERT_EQ(two.Fcount(), one.Fcount());
  // Nearly matched at the lowest point, so the joined transmission is close to the square
  // of one copy's; at the highest it is more lossy.
  const complex low = one.Value(0, 1, 2), last = one.Value(one.Fcount() - 1, 1, 2);
  EXPECT_LT(std::abs(two.Value(0, 1, 2) - low * low), 0.02 * std::abs(low * low));
  EXPECT_LT(std::abs(two.Value(one.Fcount() - 1, 1, 2)), std::abs(last));
  const Outcome report = run(command(kBrevo, {"Thru=" + (dir / "joined.s4p")}));
  EXPECT_EQ(report.status, 0) << report.out;
  EXPECT_NE(report.out.find("FLIPPED:"), std::string::npos) << report.out;
}

TEST(Generator, LanesRunThroughBrevoWithOneIcnLinePerAggressor) {
  const struct {
    const char* options;
    double loss;
    int next, fext;
  } cases[] = {
      // loss: dB at Nyquist
      {"", 25, 2, 2},
      {"loss=15 next=-45 fext=", 15, 1, 0},
      {"loss=30 next= fext=-30,-35,-40 format=MA unit=GHz", 30, 0, 3},
      {"loss=35 length=700m next=-50 fext=-40 format=RI unit=Hz fstep=20meg fstop=40g", 35, 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Scratch dir;
    const Outcome gen = run(quote(kGenerator) + " out=" + quote(dir / "lane") + " " + c.options);
    ASSERT_EQ(gen.status, 0) << gen.err;
    std::vector<std::string> args = {"Thru=\"" + (dir / "lane_thru.s4p") + " 1 3 2 4\""};
    for (int k = 1; k <= c.next; ++k)
      args.push_back("NEXT=" + dir / ("lane_next" + std::to_string(k) + ".s4p"));
    for (int k = 1; k <= c.fext; ++k)
      args.push_back("FEXT=" + dir / ("lane_fext" + std::to_string(k) + ".s4p"));
    EXPECT_EQ(dir.entries().size(), 1u + c.next + c.fext)
        << "no aggressor files beyond those asked for";
    const Outcome brevo = run(command(kBrevo, args));
    ASSERT_EQ(brevo.status, 0) << brevo.out;
    EXPECT_TRUE(std::isfinite(figure(brevo.out, "S/N"))) << brevo.out;
    int icn = 0;  // "<name> ICN <value>mV", the total excluded
    std::istringstream lines(brevo.out);
    for (std::string l; std::getline(lines, l);)
      icn += l.find(" ICN ") != l.npos && l.rfind("total", 0) != 0;
    EXPECT_EQ(icn, c.next + c.fext) << brevo.out;
    EXPECT_NEAR(figure(brevo.out, "Nyquist gain"), -c.loss, 0.5) << brevo.out;
  }
}

TEST(Generator, BadOptionsAreRefusedWithoutFiles) {
  const struct {
    const char* options;
    int status;
  } cases[] = {{"foo=1", 2},
               {"loss", 2},
               {"loss=abc", 2},
               {"format=XY", 2},
               {"unit=THz", 2},
               {"next=-40,,-46", 2},
               {"next=-3", 2},
               {"loss=0.001 via=300f", 2},
               {"fstep=0", 2},
               {"value_format=%s", 2},
               {"value_format=%f", 2},
               {"fstart=0", 1}};  // 0 Hz gives exact zeros, which decibels cannot hold
  for (const auto& c : cases) {
    Scratch dir;
    const Outcome r = run(quote(kGenerator) + " out=" + quote(dir / "x") + " " + c.options);
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_TRUE(dir.entries().empty()) << c.options;
  }
}

TEST(Examples, RegenerationGivesTheCommittedBytes) {
  Scratch dir;
  const Outcome r = run("BREVO_TOOLS_DIR=" + quote(kTools) + " bash " +
                        command(kSource + "/scripts/regenerate-examples.sh", {dir.dir().string()}));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(dir.entries().size(), 5u) << "thru, two NEXT, two FEXT";
  for (const std::string& leaf : dir.entries()) {
    EXPECT_EQ(readFile(dir / leaf), readFile(kSource + "/examples/" + leaf))
        << leaf << " differs from examples/";
    EXPECT_LT(fs::file_size(dir / leaf), 1000000u) << leaf;
  }
}

// A Python expression over FIGURE, what a picture brevo-plot kept the program of shows.
std::string figurePrint(const std::string& script, const std::string& expression) {
  return run(command("/usr/bin/python3",
                     {"-c",
                      "import runpy, sys; F = runpy.run_path(sys.argv[1], run_name='probe')"
                      "['FIGURE']; print(eval(sys.argv[2]))",
                      script, expression}))
      .out;
}

bool haveMatplotlib() { return run("/usr/bin/python3 -c 'import matplotlib'").status == 0; }

TEST(Plot, PicturesTakeTheirSettingsFromTheRun) {
  if (!haveMatplotlib()) GTEST_SKIP() << "matplotlib is not installed (Debian python3-matplotlib)";
  Scratch dir;
  const std::string ex = kSource + "/examples/", plot = kSource + "/tools/brevo-plot";
  // The example lane is 30 cm of stripline with er 3.7: its delay is 0.3 m * sqrt(3.7) / c,
  // and the pulse peaks about half a UI after it.
  const double delay = 0.3 * std::sqrt(3.7) / 299792458.0;
  for (const auto& [rate, gbd] :
       {std::pair{53.125e9, "53.125"}, std::pair{25.78125e9, "25.78125"}}) {
    SCOPED_TRACE(gbd);
    ASSERT_EQ(run("cd " + quote(dir.dir().string()) + " && " +
                  command(kBrevo, {"PAM=2", "N_DFE=12", "data_rate=" + std::string(gbd) + "g",
                                   "Thru=\"" + ex + "lane_thru.s4p 1 3 2 4\"",
                                   "NEXT=" + ex + "lane_next1.s4p", "save_file=run.txt",
                                   "summary=run.json"}))
                  .status,
              0);
    Outcome r =
        run(command(plot, {"script=yes", dir / "run"}));  // the record found beside the side files
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* png : {"run_pulse.png", "run_loss.png", "run_period.png"}) {
      const std::string bytes = readFile(dir / png);
      EXPECT_GT(bytes.size(), 1000u) << png;
      EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << png;
    }
    const std::string peak = figurePrint(dir / "run_pulse.py",
                                         "max(zip(F['panels'][0]['curves'][0]['y'], "
                                         "F['panels'][0]['curves'][0]['x']))[1]");
    EXPECT_NEAR(std::stod(peak), delay * rate + 0.5, 1.5) << "pulse peak in UI";
    // Every axis names its unit: each label holds one in parentheses.
    for (const char* py : {"run_pulse.py", "run_loss.py", "run_period.py"})
      EXPECT_EQ(
          figurePrint(dir / py, "[p['ylabel'] for p in F['panels'] if '(' not in p['ylabel']]"),
          "[]\n")
          << py;
    EXPECT_NE(
        readFile(dir / "run_pulse.py")
            .find("lane_thru.s4p (1,3 => 2,4), " + std::string(gbd) + " GBd, PAM2, N_DFE 12 UI\""),
        std::string::npos);
    // The ILD axis (the loss picture's last panel) spans the ILD of the fitted band, from
    // the file's first point (the grid's 0 Hz is not one) to the receiver bandwidth, 0.75
    // times the rate here, and not the larger ILD outside it.
    double inBand = 0, whole = 0;
    std::istringstream fd(readFile(dir / "run.fd"));
    std::string line;
    std::getline(fd, line), std::getline(fd, line);
    for (double f, zero, re, im, fre, fim, ire, iim;
         fd >> f >> zero >> re >> im >> fre >> fim >> ire >> iim;) {
      const double ild = std::abs(10 * std::log10((re * re + im * im) / (fre * fre + fim * fim)));
      whole = std::max(whole, ild);
      if (f >= 25e6 && f <= 0.75 * rate) inBand = std::max(inBand, ild);
    }
    const std::string axis =
        figurePrint(dir / "run_loss.py", "'%r %r' % tuple(F['panels'][-1]['ylim'])");
    const double low = std::stod(axis), high = std::stod(axis.substr(axis.find(' ')));
    EXPECT_GE(std::max(-low, high), inBand);
    EXPECT_LE(std::max(-low, high), inBand * 1.2 + 1e-3);
    EXPECT_GT(whole, 2 * inBand) << "the lane's ILD outside the band is larger";
    // Without the record only the rate is known, from the .wv1 time step: no PAM nor N_DFE.
    fs::remove(dir / "run.json");
    r = run(command(plot, {"script=yes", dir / "run"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string script = readFile(dir / "run_period.py");
    EXPECT_NE(script.find("\\nrun, " + std::string(gbd) + " GBd\""), std::string::npos)
        << script.substr(0, 400);
    EXPECT_EQ(script.find("N_DFE"), std::string::npos);
    EXPECT_EQ(script.find("PAM"), std::string::npos);
  }
  EXPECT_EQ(run(command(plot, {dir / "none"})).status, 1);
  EXPECT_EQ(run(command(plot, {"rate=fast", dir / "run"})).status, 2);
}

// The COM pictures from a record made by hand with the arrays of the COM block: a pulse
// 4 samples a UI from -2 UI (cursor sample 8 at 0 UI, DFE taps from sample 12 to 20, so
// 1 to 3 UI), a bathtub falling a decade of probability per 0.25 mV, so that DER0 1e-10
// lies halfway between the points at 2 and 3 mV on the log axis. Without the arrays
// (a record from before them) there is no picture.
TEST(Plot, ComPicturesFromTheRecordArrays) {
  if (!haveMatplotlib()) GTEST_SKIP() << "matplotlib is not installed (Debian python3-matplotlib)";
  const std::string plot = kSource + "/tools/brevo-plot";
  const std::string pulse =
      R"("pulse": {"samples_per_ui": 4, "first_ui": -2, "unequalised_mV": [0, 5, 20, 40, 50, 45,
      30, 20, 12, 8, 5, 3, 2, 1, 0.5, 0.2, 0.1, 0, 0, 0, 0, 0], "equalised_mV": [0, 0, 1, 4, 10, 30, 60, 90, 100, 60, 20,
      5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0], "cursor_sample": 8, "dfe_span": [12, 20]})";
  const std::string bathtub =
      R"("bathtub": {"amplitude_mV": [0, 1, 2, 3, 4], "probability": [1, 1e-4, 1e-8, 1e-12,
      1e-16], "DER0": 1e-10})";
  const std::string head =
      R"({"keywords": {}, "com": {"available": true, "COM": {"value": 3.5, "unit": "dB"},
      "verdict": "pass", "cases": [{"COM": {"value": 3.5, "unit": "dB"}, "tx_taps": [0, 1, 0], "dfe_taps": [0.5])";
  struct Row {
    const char* what;
    std::string record;
    int status;
  };
  const Row rows[] = {{"the arrays", head + ", " + pulse + ", " + bathtub + "}]}}", 0},
                      {"no arrays", head + "}]}}", 1},
                      {"no COM", R"({"keywords": {}, "com": null})", 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Scratch dir;
    std::ofstream(dir / "run.json") << row.record;
    const Outcome r = run(command(plot, {"script=yes", dir / "run"}));
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(fs::exists(dir / "run_bathtub.png"), row.status == 0);
    if (row.status != 0) continue;
    for (const char* png : {"run_bathtub.png", "run_com_pulse.png"})
      EXPECT_EQ(readFile(dir / png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << png;
    const std::string tub = dir / "run_bathtub.py", eq = dir / "run_com_pulse.py";
    EXPECT_EQ(figurePrint(tub, "(F['panels'][0]['ylog'], F['panels'][0]['hlines'][0]['y'])"),
              "(True, 1e-10)\n");
    EXPECT_NEAR(std::stod(figurePrint(tub, "F['panels'][0]['vlines'][0]['x']")), 2.5, 1e-12)
        << "Ani";
    EXPECT_EQ(figurePrint(eq, "F['panels'][0]['vlines'][0]['x']"), "0.0\n") << "the cursor";
    EXPECT_EQ(
        figurePrint(eq, "(F['panels'][0]['spans'][0]['from'], F['panels'][0]['spans'][0]['to'])"),
        "(1.0, 3.0)\n");
    EXPECT_EQ(figurePrint(eq,
                          "[c['y'][8] for c in F['panels'][0]['curves']] + "
                          "[F['panels'][0]['curves'][1]['x'][8]]"),
              "[12, 100, 0.0]\n")
        << "sample 8 of each pulse, at 0 UI";
    for (const std::string& py : {tub, eq})
      EXPECT_EQ(
          figurePrint(py,
                      "[p['ylabel'] + p['xlabel'] for p in F['panels'] if p['xlabel'].count('(') + "
                      "p['ylabel'].count('(') < 2]"),
          "[]\n")
          << py << ": axis titles without units";
  }
}

// COM in a sweep over the calibration set: its columns after the others, the figures of
// the whole run (4.295 dB package case 1, 3.653 dB case 2, so case 2 counts; Tx taps
// -0.16 0.84 0 and gDC -12 dB), fail above a threshold of 4 dB, empty cells for a run
// without com and "unavailable" for a preset that does not exist.
TEST(Sweep, ComColumnsFollowTheOthers) {
  if (!onPath("parallel")) GTEST_SKIP() << "GNU parallel is not installed (Debian parallel)";
  const std::string set = std::string(BREVO_CHANNELS_DIR) + "/com/example2_";
  if (!fs::exists(set + "THRU.s4p"))
    GTEST_SKIP() << "calibration channels absent from " << BREVO_CHANNELS_DIR << "/com";
  Scratch dir;
  std::ofstream(dir / "none.cf") << "# the channels come from the cases\n";
  std::string lane = "Thru=" + set + "THRU.s4p";
  for (const char* a : {"NEXT1", "NEXT2", "NEXT3"}) lane += " NEXT=" + set + a + ".s4p";
  for (const char* a : {"FEXT1", "FEXT2"}) lane += " FEXT=" + set + a + ".s4p";
  std::ofstream(dir / "cases.txt") << lane << " com=kr4\n"
                                   << lane << " com=kr4 com_pass_threshold=4\n"
                                   << lane << "\n"
                                   << lane << " com=kr5\n";
  const Outcome sweep = run(
      command(kSource + "/tools/brevo-sweep", {"jobs=2", "exe=" + kBrevo, "out=" + (dir / "out"),
                                               "cases=" + (dir / "cases.txt"), dir / "none.cf"}));
  EXPECT_EQ(sweep.status, 0) << sweep.err;
  std::istringstream lines(readFile(dir / "out/summary.csv"));
  std::vector<std::string> tails;  // each line from its warnings column on
  for (std::string l; std::getline(lines, l);) {
    std::size_t at = l.size();
    for (int k = 0; k < 8 && at != std::string::npos; ++k) at = l.rfind(',', at - 1);
    tails.push_back(at == std::string::npos ? l : l.substr(at + 1));
  }
  ASSERT_EQ(tails.size(), 5u);
  EXPECT_EQ(tails[0],
            "warnings,COM_dB,COM_verdict,COM_case,COM_tx_taps,COM_gDC_dB,COM_gDC2_dB,COM_dfe_taps");
  const char* expected[] = {"3.653,pass,2,-0.16;0.84;0,-12,,", "3.653,fail,2,-0.16;0.84;0,-12,,",
                            ",,,,,,", ",unavailable,,,,,"};
  for (int r = 1; r <= 4; ++r) {
    const std::string& t = tails[r];
    const std::string com = t.substr(t.find(',') + 1);
    EXPECT_EQ(com.substr(0, std::string(expected[r - 1]).size()), expected[r - 1]) << "row " << r;
    EXPECT_EQ(std::count(com.begin(), com.end(), ';'), r <= 2 ? 2 + 13 : 0)
        << "3 Tx taps and 14 DFE taps: " << com;
  }
}

TEST(Sweep, EveryRunGetsARowAndFailuresKeepTheirStatus) {
  if (!onPath("parallel")) GTEST_SKIP() << "GNU parallel is not installed (Debian parallel)";
  Scratch dir;
  const std::string ex = kSource + "/examples/";
  const std::string lane =
      "Thru=\"" + ex + "lane_thru.s4p 1 3 2 4\"\nNEXT=" + ex + "lane_next1.s4p\n";
  std::ofstream(dir / "a.cf") << lane;
  std::ofstream(dir / "b.cf") << lane + "PAM=4\n";
  std::ofstream(dir / "broken.cf") << "Thru=" + ex + "no_such_lane.s4p\n";  // status 1
  std::ofstream(dir / "skips.cf") << lane + "FEXT=no_such_fext.s4p\n";  // status 0 with warnings
  fs::create_directory(dir / "sub-board");  // a name Brevo would take as its -c or -b option
  std::ofstream(dir / "sub-board/my-cable-b.cf") << lane;
  const Outcome sweep =
      run(command(kSource + "/tools/brevo-sweep",
                  {"jobs=2", "strict=yes", "exe=" + kBrevo, "out=" + (dir / "out"), dir / "a.cf",
                   dir / "broken.cf", dir / "b.cf", dir / "missing.cf", dir / "skips.cf",
                   dir / "sub-board/my-cable-b.cf"}));  // status 2
  EXPECT_EQ(sweep.status, 1) << sweep.err;              // not every run succeeded
  // summary.csv split at commas: no field of these runs needs quoting
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(readFile(dir / "out/summary.csv"));
  for (std::string l; std::getline(lines, l);) {
    std::istringstream fields(l + ",");
    rows.emplace_back();
    for (std::string f; std::getline(fields, f, ',');) rows.back().push_back(f);
  }
  ASSERT_EQ(rows.size(), 7u);
  const auto column = [&](const char* name) {
    return std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin();
  };
  const auto status = column("status"), sn = column("SN"), rate = column("symbol_rate_Bd");
  ASSERT_EQ(rows[0].end() - rows[0].begin() - rate, 6) << "the run record's columns come last";
  // status, then symbol rate, PAM, N_DFE, aggressors used and skipped (no record for a
  // control file that cannot be opened: summary= comes after it)
  const char* expected[][6] = {{"0", "25781250000,2,8,1,0"},        {"1", "25781250000,2,8,0,0"},
                               {"0", "25781250000,4,8,1,0"},        {"2", ",,,,"},
                               {"warnings", "25781250000,2,8,1,1"}, {"0", "25781250000,2,8,1,0"}};
  for (int r = 1; r <= 6; ++r) {
    ASSERT_EQ(rows[r].size(), rows[0].size()) << "row " << r;
    EXPECT_EQ(rows[r][status], expected[r - 1][0]) << "row " << r;
    std::string got = rows[r][rate];
    for (auto k = rate + 1; k < rate + 5; ++k) got += "," + rows[r][k];
    EXPECT_EQ(got, expected[r - 1][1]) << "row " << r;
    const std::string report = readFile(dir / ("out/000" + std::to_string(r) + ".report"));
    const std::string log = readFile(dir / ("out/000" + std::to_string(r) + ".log"));
    std::size_t warnings = 0;
    for (std::size_t at = 0; (at = log.find("\nwarning: ", at)) != std::string::npos; ++at)
      ++warnings;
    EXPECT_EQ(rows[r].back(), r == 4 ? "" : std::to_string(warnings)) << "row " << r;
    if (r == 2 || r == 4) {  // no figure for a failed run; the report's figure for the others
      EXPECT_EQ(rows[r][sn], "") << "row " << r;
    } else {
      EXPECT_DOUBLE_EQ(std::stod(rows[r][sn]), figure(report, "S/N")) << "row " << r;
    }
  }
  EXPECT_LT(std::stod(rows[3][sn]), std::stod(rows[1][sn]));  // PAM4 below NRZ
  EXPECT_GT(std::stoi(rows[5].back()), 0);
  EXPECT_EQ(rows[6][sn],
            rows[1][sn]);  // the control file named like an option: the same lane, the same S/N
  EXPECT_EQ(readFile(dir / "out/0006.report"), readFile(dir / "out/0001.report"));
}

// The figure table with one line changed: a table that breaks a rule stops the build with
// the reason and no file made from it; the table as it is makes the C++ table.
TEST(FigureTable, BrokenTablesStopTheBuildWithTheReason) {
  const std::string table = readFile(kSource + "/driver/figures.toml");
  const struct {
    const char* line;
    const char* changed;
    const char* reason;
  } cases[] = {
      {"column = \"SN\"\n", "colum = \"SN\"\n",
       "signal_to_noise has a field the table does not know: colum"},
      {"unit = \"dB\"\n", "unit = \"dBm\"\n",
       "nyquist_gain has unit dBm, which the record schema has no type for"},
      {"key = \"BER\"\n", "key = \"target_BER\"\n", "key target_BER twice"},
      {"column = \"BER\"\n", "column = \"SN\"\n", "column SN twice"},
      {"after = \"budget\"\n", "after = \"fit\"\n", "nyquist_gain printed after fit,"},
      {"chart = \"sn\"\n", "\n",
       "signal_to_noise is in the headline, so needs a unit, a column and a chart"},
      {"page_unit_size = 1e9\n", "\n", "data_rate needs page_unit and page_unit_size together"},
      {"key = \"flipped\"\n", "key = \"flipped\"\nlabel = \"\"\n",
       "figures.toml"},  // a key given twice: no TOML
      {"key = \"As\"\nunit = \"mV\"\n", "key = \"As\"\nunit = \"V\"\n",
       "COM figure As has unit V, not one of mV, dB"},
      {"key = \"sigma_N\"\n", "key = \"sigma_DD\"\n", "COM figure sigma_DD twice"},
      {"", "", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.changed);
    Scratch dir;
    std::string text = table;
    if (const std::size_t at = text.find(c.line); *c.line)
      text.replace(at, std::strlen(c.line), c.changed);
    std::ofstream(dir / "figures.toml") << text;
    const Outcome r =
        run(command("/usr/bin/python3", {"-B", kSource + "/driver/figures.py", dir / "figures.toml",
                                         "header", dir / "figureTable.h"}));
    EXPECT_EQ(r.status, c.reason ? 1 : 0) << r.err;
    if (c.reason) {
      EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
    EXPECT_EQ(fs::exists(dir / "figureTable.h"), !c.reason);
  }
}

// Every tool but Brevo itself: --help prints its usage on standard output and --version
// "NAME VERSION", both with status 0 and nothing on standard error.
TEST(Tools, AnswerHelpAndVersion) {
  const std::pair<std::string, std::string> tools[] = {{"brevo-report", kTools},
                                                       {"brevo-cascade", kTools},
                                                       {"brevo-channel", kTools},
                                                       {"brevo-touchstone", kTools},
                                                       {"brevo-plot", kSource + "/tools"},
                                                       {"brevo-sweep", kSource + "/tools"},
                                                       {"brevo-sweep-pages", kSource + "/tools"},
                                                       {"brevo-plot", kTools + "/installed"},
                                                       {"brevo-sweep", kTools + "/installed"},
                                                       {"brevo-sweep-pages", kTools + "/installed"},
                                                       {"brevo-com-sheet", kSource + "/tools"},
                                                       {"brevo-com-sheet", kTools + "/installed"}};
  for (const auto& [name, folder] : tools) {
    SCOPED_TRACE(folder + "/" + name);
    const Outcome help = run(command(folder + "/" + name, {"--help"}));
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: " + name + " "), std::string::npos) << help.out.substr(0, 200);
    EXPECT_EQ(help.err, "");
    const Outcome version = run(command(folder + "/" + name, {"--version"}));
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, name + " " + BREVO_VERSION + "\n");
    EXPECT_EQ(version.err, "");
    // Its manual page, as the build fills it in for installing: the title line with the
    // program's name and the project version, and the name in its NAME section.
    std::string title = name;
    for (char& c : title) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string page = readFile(kTools + "/../doc/" + name + ".1");
    EXPECT_EQ(page.rfind(".TH " + title + " 1 \"\" \"Brevo " + BREVO_VERSION + "\"", 0), 0u)
        << page.substr(0, 80);
    std::string dashed;
    for (char c : name) dashed += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(page.find(".SH NAME\n" + dashed + " \\- "), std::string::npos);
  }
}

// A COM parameter sheet made here (openpyxl): a table of key, value and unit under a
// heading row, the values given as Python literals.
std::string sheetFile(const Scratch& dir, const std::string& name, const std::string& rows) {
  brevo_test::writeFile(
      dir / "make.py",
      "import sys, openpyxl\nbook = openpyxl.Workbook()\nsheet = book.active\nsheet.title = "
      "'COM_Settings'\n"
      "sheet.append(['Parameter', 'Setting', 'Units'])\nfor row in [" +
          rows +
          "]:\n    sheet.append(list(row))\n"
          "sheet.append(['DIAGNOSTICS', 1, 'logical'])\nbook.save(sys.argv[1])\n");
  const Outcome made = run(command("/usr/bin/python3", {dir / "make.py", dir / name}));
  EXPECT_EQ(made.status, 0) << made.err;
  return dir / name;
}

// brevo-com-sheet: the sheet's notation in the keyword's form (vectors, ranges either way,
// MATLAB's blank-minus rule, ones(), a trailing exponent, units converted and said), the
// reference code's package line where the sheet has none, unused parameters warned about,
// and the statuses of bad input; its keyword table is the preset reader's.
TEST(ComSheet, NotationUnitsAndStatuses) {
  if (run("/usr/bin/python3 -c 'import openpyxl, xlrd'").status != 0)
    GTEST_SKIP() << "python3-openpyxl or python3-xlrd is not installed";
  const std::string tool = kTools + "/installed/brevo-com-sheet";
  Scratch dir;
  const struct {
    const char* row;
    const char* line;
  } values[] = {
      {"('f_b', 53.125, 'GBd')", "com_f_b=53.125                          # f_b, GBd\n"},
      {"('N_b', 12.0, 'UI')", "com_N_b=12 "},
      {"('C_d', '[0.4 0.9 1.1]e-4', 'nF')",
       "com_C_d=\"4e-5 9e-5 1.1e-4; 4e-5 9e-5 1.1e-4\" # C_d, a ladder, on both sides\n"},
      {"('C_p', '[0.87e-4, 0.87e-4]', 'nF')", "com_C_p=\"8.7e-5 8.7e-5\" "},
      {"('b_max(2..N_b)', '[0.3 0.2*ones(1,2) 0.1*ones(1,2)]')",
       "com_b_max_2_N_b=\"0.3 0.2 0.2 0.1 0.1\" "},
      {"('b_min(2..N_b)', '[ -0.15 - 0.15 - 0.05 ]')", "com_b_min_2_N_b=-0.35 "},
      {"('c(-1)', '[-0.34:0.02:0] ')", "com_c_m1=-0.34:0.02:0 "},
      {"('c(1)', '0:-0.02:-0.2')", "com_c_1=-0.2:0.02:0 "},
      {"('c(-2)', '[0 0.02 0.04 0.06]')", "com_c_m2=0:0.02:0.06 "},
      {"('g_DC', '[-13:1:-0]', 'dB')", "com_g_DC=-13:1:0 "},
      {"('z_p (TX)', '[12 31;  1.8 1.8]', 'mm')", "com_z_p_TX=\"12 31; 1.8 1.8\" "},
      {"('package_Z_c', '[87.5 87.5 ; 92.5 92.5]', 'Ohm')", "com_package_Z_c=\"87.5; 92.5\" "},
      {"('FORCE_TR', True, 'logical')", "com_FORCE_TR=1 "},
      {"('T_r', 8, 'ps')", "com_T_r=8e-3                            # T_r, converted from ps\n"},
      {"('RC_Start', 67e9, 'Hz')",
       "com_RC_Start=67                         # RC_Start, converted from Hz\n"},
      {"('eta_0', 5.2e-8, 'dB')",
       "com_eta_0=5.2e-8                        # eta_0, the sheet says dB, taken as V^2/GHz\n"},
      {"",
       "com_package_tl_tau=6.141e-3             # package_tl_tau: not in the sheet, the reference "
       "code's default\n"},
      {"", "com_c_m4=none "},
      {"", "baud_rate=53.125G\n"}};
  std::string rows;
  for (const auto& v : values)
    if (*v.row) rows += std::string(v.row) + ", ";
  const Outcome good = run(command(tool, {sheetFile(dir, "good.xlsx", rows)}));
  EXPECT_EQ(good.status, 0) << good.err;
  for (const auto& v : values) {
    if (*v.line) {
      EXPECT_NE(good.out.find(std::string("\n") + v.line), std::string::npos) << v.line << good.out;
    }
  }
  EXPECT_NE(
      good.err.find("warning: eta_0: the sheet gives the unit dB, which is no unit of V^2/GHz"),
      std::string::npos);
  EXPECT_NE(good.err.find("warning: DIAGNOSTICS = 1 (A"), std::string::npos) << good.err;
  EXPECT_EQ(good.err.find("Traceback"), std::string::npos);

  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } bad[] = {{{}, 2, "usage: brevo-com-sheet SHEET.xls|SHEET.xlsx > preset.cf\n"},
             {{"a.xlsx", "b.xlsx"}, 2, "usage: brevo-com-sheet"},
             {{dir / "none.xlsx"},
              1,
              "brevo-com-sheet: " + (dir / "none.xlsx") + ": cannot open the sheet\n"},
             {{dir / "make.py"}, 1, "not a spreadsheet (neither an .xls nor an .xlsx workbook)\n"},
             {{sheetFile(dir, "empty.xlsx", "('RUNTAG', 'x')")}, 1, "holds no COM parameter table"},
             {{sheetFile(dir, "half.xlsx", "('f_b', 53.125), ('N_b', 12.5)")},
              3,
              "N_b: the value 12.5 is not a whole number\n"},
             {{sheetFile(dir, "uneven.xlsx", "('c(-1)', '[-0.3 -0.1 0]')")},
              3,
              "c(-1): the value '[-0.3 -0.1 0]' is not evenly spaced, so it cannot be written as "
              "min:step:max\n"},
             {{sheetFile(dir, "open.xlsx", "('C_d', '[1 2')")},
              3,
              "C_d: the value '[1 2' cannot be read: \"]\" missing\n"},
             {{sheetFile(dir, "pair.xlsx", "('b_min(1)', '[0.3 -0.1]')")},
              3,
              "holds 2 numbers where com_b_min_1 takes one\n"},
             {{sheetFile(dir, "flag.xlsx", "('FORCE_TR', 2)")},
              3,
              "FORCE_TR: the value 2 is neither 0 nor 1"},
             {{sheetFile(dir, "zero.xlsx", "('f_b', '1/0')")},
              3,
              "f_b: the value '1/0' cannot be read: float division by zero\n"}};
  for (const auto& b : bad) {
    const Outcome r = run(command(tool, b.args));
    EXPECT_EQ(r.status, b.status) << b.err << r.err;
    EXPECT_NE(r.err.find(b.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find("Traceback"), std::string::npos) << r.err;
  }

  // The tool's keyword table and the preset reader's: the same names, sheet keys and units.
  const Outcome table = run(command(tool, {"--keywords"}));
  std::string expected;
  for (const auto& k : brevo::com::presetKeywords())
    expected += std::string(k.name) + "\t" + k.sheetKey + "\t" + k.unit + "\n";
  EXPECT_EQ(table.out, expected);
}

// brevo-report runs a control file whose name Brevo alone would take as its -c, -b or -?
// option (the starter file, status 2 or more): the page's run is the file's.
TEST(Report, ControlFileNamedLikeAnOptionRuns) {
  Scratch dir;
  const std::string ex = kSource + "/examples/";
  fs::create_directory(dir / "sub-board");
  for (const char* name : {"my-cable.cf", "sub-board/run.cf", "what-?.cf"}) {
    SCOPED_TRACE(name);
    std::ofstream(dir / name) << "Thru=\"" + ex + "lane_thru.s4p 1 3 2 4\"\n";
    const Outcome report = run(command(kTools + "/brevo-report", {dir / "out", dir / name}));
    EXPECT_EQ(report.status, 0) << report.err;
    EXPECT_TRUE(std::isfinite(figure(readFile(dir / "out/run.report"), "S/N")))
        << readFile(dir / "out/run.report");
  }
}

}  // namespace
