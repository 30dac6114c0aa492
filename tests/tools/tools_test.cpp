// Black-box runs of the tools: the generator feeding Brevo, the bundled examples and
// their regeneration, the pictures and the sweep.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kTools = BREVO_TOOLS_DIR;
const std::string kSource = BREVO_SOURCE_DIR;
const std::string kBrevo = BREVO_EXE;

struct Outcome {
  int status = -1;
  std::string out;   // standard output
};

// Runs a shell command; standard error is discarded unless the command redirects it.
Outcome run(const std::string& command) {
  Outcome r;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0) r.out.append(buffer.data(), n);
  const int w = pclose(p);
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return r;
}

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool onPath(const char* program) {
  return run(std::string("command -v ") + program + " >/dev/null").status == 0;
}

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "brevo_tools_XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The number after a report label at the start of a line; NaN when there is none.
double figure(const std::string& report, const std::string& label) {
  std::istringstream lines(report);
  std::string l;
  while (std::getline(lines, l))
    if (l.compare(0, label.size(), label) == 0) return std::strtod(l.c_str() + label.size(), nullptr);
  return std::nan("");
}

// Aggressor lines of a report: "<name> ICN <value>mV", the total excluded.
int icnLines(const std::string& report) {
  std::istringstream lines(report);
  std::string l;
  int n = 0;
  while (std::getline(lines, l))
    if (l.find(" ICN ") != std::string::npos && l.compare(0, 5, "total") != 0) ++n;
  return n;
}

// Rows of a CSV file split into fields (quotes honoured).
std::vector<std::vector<std::string>> readCsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(slurp(path));
  std::string l;
  while (std::getline(lines, l)) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < l.size(); ++i) {
      const char c = l[i];
      if (c == '"' && quoted && i + 1 < l.size() && l[i + 1] == '"') fields.back() += '"', ++i;
      else if (c == '"') quoted = !quoted;
      else if (c == ',' && !quoted) fields.emplace_back();
      else fields.back() += c;
    }
    rows.push_back(fields);
  }
  return rows;
}

// --- the generator feeding the estimator ----------------------------------------

struct LaneCase {
  const char* name;
  const char* options;
  double loss;      // dB at 12.890625 GHz, as asked
  int next, fext;   // aggressor files the options ask for
};

const LaneCase kLanes[] = {
    {"defaults", "", 25, 2, 2},
    {"one_next_db_mhz", "loss=15 next=-45 fext=", 15, 1, 0},
    {"three_fext_ma_ghz", "loss=30 next= fext=-30,-35,-40 format=MA unit=GHz", 30, 0, 3},
    {"ri_hz_long_line", "loss=35 length=700m next=-50 fext=-40 format=RI unit=Hz fstep=20meg fstop=40g",
     35, 1, 1},
};

void PrintTo(const LaneCase& c, std::ostream* os) { *os << c.name; }

class GeneratedLane : public ::testing::TestWithParam<LaneCase> {};

TEST_P(GeneratedLane, BrevoReadsItWithOneIcnLinePerAggressor) {
  const LaneCase& c = GetParam();
  Scratch dir;
  const Outcome gen = run(quote(kTools + "/brevo-channel") + " out=" + quote(dir / "lane") + " " + c.options);
  ASSERT_EQ(gen.status, 0) << gen.out;

  std::string args = " 'Thru=\"" + (dir / "lane_thru.s4p") + " 1 3 2 4\"'";
  for (int k = 1; k <= c.next; ++k) args += " NEXT=" + quote(dir / ("lane_next" + std::to_string(k) + ".s4p"));
  for (int k = 1; k <= c.fext; ++k) args += " FEXT=" + quote(dir / ("lane_fext" + std::to_string(k) + ".s4p"));
  ASSERT_FALSE(fs::exists(dir / ("lane_next" + std::to_string(c.next + 1) + ".s4p")));
  ASSERT_FALSE(fs::exists(dir / ("lane_fext" + std::to_string(c.fext + 1) + ".s4p")));

  const Outcome brevo = run(quote(kBrevo) + args);
  ASSERT_EQ(brevo.status, 0) << brevo.out;
  EXPECT_TRUE(std::isfinite(figure(brevo.out, "S/N"))) << brevo.out;
  EXPECT_EQ(icnLines(brevo.out), c.next + c.fext) << brevo.out;
  // The fitted loss at Nyquist sits on the loss asked for.
  EXPECT_NEAR(figure(brevo.out, "Nyquist gain"), -c.loss, 0.5) << brevo.out;
}

INSTANTIATE_TEST_SUITE_P(Lanes, GeneratedLane, ::testing::ValuesIn(kLanes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GeneratorOptions, BadOptionsAreRefusedWithoutFiles) {
  const struct {
    const char* options;
    int status;
  } cases[] = {
      {"foo=1", 2},         {"loss", 2},          {"loss=abc", 2},        {"format=XY", 2},
      {"unit=THz", 2},      {"next=-40,,-46", 2}, {"next=-3", 2},         {"loss=0.001 via=300f", 2},
      {"fstep=0", 2},       {"value_format=%s", 2}, {"value_format=%f", 2},
      {"fstart=0", 1},      // 0 Hz gives exact zeros, which decibels cannot hold
  };
  for (const auto& c : cases) {
    Scratch dir;
    const Outcome r = run(quote(kTools + "/brevo-channel") + " out=" + quote(dir / "x") + " " + c.options);
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_FALSE(fs::exists(dir / "x_thru.s4p")) << c.options;
  }
  const Outcome help = run(quote(kTools + "/brevo-channel") + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: brevo-channel"), std::string::npos);
}

// --- the bundled examples ---------------------------------------------------------

TEST(Examples, RegenerationGivesTheCommittedBytes) {
  Scratch dir;
  const Outcome r = run("BREVO_TOOLS_DIR=" + quote(kTools) + " bash " +
                    quote(kSource + "/tools/regenerate-examples.sh") + " " + quote(dir.path()));
  ASSERT_EQ(r.status, 0) << r.out;
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    const std::string leaf = e.path().filename().string();
    const std::string committed = kSource + "/examples/" + leaf;
    ASSERT_TRUE(fs::exists(committed)) << leaf;
    EXPECT_EQ(slurp(e.path().string()), slurp(committed)) << leaf << " differs from the committed file";
    EXPECT_LT(fs::file_size(e.path()), 1000000u) << leaf;
    ++files;
  }
  EXPECT_EQ(files, 5);   // thru, two NEXT, two FEXT
}

TEST(Examples, ControlFilesRunFromTheExamplesFolder) {
  const struct {
    const char* file;
    int pam;
  } cases[] = {{"nrz.cf", 2}, {"pam4.cf", 4}};
  double snr[2] = {};
  for (int i = 0; i < 2; ++i) {
    const Outcome r = run("cd " + quote(kSource + "/examples") + " && " + quote(kBrevo) + " " + cases[i].file);
    ASSERT_EQ(r.status, 0) << cases[i].file;
    EXPECT_NE(r.out.find("ports      1 3 => 2 4"), std::string::npos) << r.out;
    EXPECT_EQ(icnLines(r.out), 4) << cases[i].file;
    EXPECT_NEAR(figure(r.out, "Nyquist gain"), -25, 0.5) << cases[i].file;
    snr[i] = figure(r.out, "S/N");
    EXPECT_TRUE(std::isfinite(snr[i])) << cases[i].file;
  }
  // Four levels share the swing: a third of the eye against sqrt(5/9) of the noise.
  EXPECT_LT(snr[1], snr[0] * std::sqrt(9.0 / 5.0) / 3.0);
}

// --- pictures -----------------------------------------------------------------------

TEST(Plot, PicturesFromTheSideFilesOfARun) {
  if (!onPath("gnuplot")) GTEST_SKIP() << "gnuplot is not installed (Debian gnuplot-nox)";
  Scratch dir;
  const std::string ex = kSource + "/examples/";
  const Outcome brevo = run("cd " + quote(dir.path()) + " && " + quote(kBrevo) + " 'Thru=\"" + ex +
                        "lane_thru.s4p 1 3 2 4\"' NEXT=" + quote(ex + "lane_next1.s4p") +
                        " save_file=run.txt");
  ASSERT_EQ(brevo.status, 0);
  for (const char* side : {"run.wv1", "run.fd", "run.wv2"}) ASSERT_TRUE(fs::exists(dir / side)) << side;

  const Outcome plot = run(quote(kSource + "/tools/brevo-plot") + " ndfe=8 " + quote(dir / "run"));
  ASSERT_EQ(plot.status, 0) << plot.out;
  for (const char* png : {"run_pulse.png", "run_loss.png", "run_period.png"}) {
    const std::string bytes = slurp(dir / png);
    ASSERT_GT(bytes.size(), 1000u) << png;
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << png;
  }

  // Only the waveform file: one picture; none at all: status 1; bad option: status 2.
  Scratch other;
  fs::copy_file(dir / "run.wv1", other / "only.wv1");
  EXPECT_EQ(run(quote(kSource + "/tools/brevo-plot") + " " + quote(other / "only")).status, 0);
  EXPECT_TRUE(fs::exists(other / "only_pulse.png"));
  EXPECT_FALSE(fs::exists(other / "only_loss.png"));
  EXPECT_EQ(run(quote(kSource + "/tools/brevo-plot") + " " + quote(other / "none")).status, 1);
  EXPECT_EQ(run(quote(kSource + "/tools/brevo-plot") + " rate=fast " + quote(dir / "run")).status, 2);
}

// --- sweeps -------------------------------------------------------------------------

TEST(Sweep, EveryRunGetsARowAndFailuresKeepTheirStatus) {
  if (!onPath("parallel")) GTEST_SKIP() << "GNU parallel is not installed (Debian parallel)";
  Scratch dir;
  const std::string ex = kSource + "/examples/";
  const std::string lane = "Thru=\"" + ex + "lane_thru.s4p 1 3 2 4\"\nNEXT=" + ex + "lane_next1.s4p\n";
  writeFile(dir / "a.cf", lane);
  writeFile(dir / "b.cf", lane + "PAM=4\n");
  writeFile(dir / "broken.cf", "Thru=" + ex + "no_such_lane.s4p\n");   // status 1
  const Outcome sweep = run(quote(kSource + "/tools/brevo-sweep") + " jobs=2 exe=" + quote(kBrevo) +
                        " out=" + quote(dir / "out") + " " + quote(dir / "a.cf") + " " +
                        quote(dir / "broken.cf") + " " + quote(dir / "b.cf") + " " +
                        quote(dir / "missing.cf"));   // status 2: cannot be opened
  EXPECT_EQ(sweep.status, 1) << sweep.out;   // not every run succeeded

  const auto rows = readCsv(dir / "out/summary.csv");
  ASSERT_EQ(rows.size(), 5u);
  const auto& head = rows[0];
  auto column = [&](const char* name) {
    for (std::size_t i = 0; i < head.size(); ++i)
      if (head[i] == name) return i;
    ADD_FAILURE() << "no column " << name;
    return std::size_t{0};
  };
  const std::size_t status = column("status"), sn = column("SN"), flipped = column("flipped");
  const std::size_t icn = column("aggressor_icn_mV"), noise = column("total_noise_mV");
  const char* expected[] = {"0", "1", "0", "2"};
  for (int r = 1; r <= 4; ++r) {
    ASSERT_EQ(rows[r].size(), head.size()) << "row " << r;
    EXPECT_EQ(rows[r][status], expected[r - 1]) << "row " << r;
  }
  for (int r : {2, 4}) {
    EXPECT_EQ(rows[r][sn], "") << "row " << r;
    EXPECT_EQ(rows[r][noise], "") << "row " << r;
  }
  // The figures are those of the report kept for the run.
  for (int r : {1, 3}) {
    char id[8];
    std::snprintf(id, sizeof id, "%04d", r);
    const std::string report = slurp(dir / ("out/" + std::string(id) + ".report"));
    EXPECT_DOUBLE_EQ(std::stod(rows[r][sn]), figure(report, "S/N")) << "row " << r;
    EXPECT_EQ(rows[r][flipped], "no");
    EXPECT_NE(rows[r][icn].find("lane_next1.s4p="), std::string::npos) << rows[r][icn];
    EXPECT_TRUE(fs::exists(dir / ("out/" + std::string(id) + ".log")));
  }
  EXPECT_LT(std::stod(rows[3][sn]), std::stod(rows[1][sn]));   // PAM4 below NRZ
}

// The bundled sweep: link settings plus one case per line; the case with all four
// aggressors reproduces the NRZ example's report figures exactly.
TEST(Sweep, CasesAgainstOneControlFile) {
  if (!onPath("parallel")) GTEST_SKIP() << "GNU parallel is not installed (Debian parallel)";
  Scratch dir;
  const Outcome sweep = run(quote(kSource + "/tools/brevo-sweep") + " exe=" + quote(kBrevo) + " out=" +
                        quote(dir / "out") + " cases=" + quote(kSource + "/examples/cases.txt") + " " +
                        quote(kSource + "/examples/link.cf"));
  EXPECT_EQ(sweep.status, 1);   // the last case names a missing file
  const auto rows = readCsv(dir / "out/summary.csv");
  ASSERT_EQ(rows.size(), 6u);
  const Outcome nrz = run("cd " + quote(kSource + "/examples") + " && " + quote(kBrevo) + " nrz.cf");
  ASSERT_EQ(nrz.status, 0);
  EXPECT_EQ(slurp(dir / "out/0003.report"), nrz.out);
  EXPECT_EQ(rows[5][3], "1");
  EXPECT_EQ(rows[1][15], "");            // no aggressor, no ICN list
  EXPECT_EQ(rows[1][16], "0.000");       // and a total ICN of zero
}

}  // namespace
