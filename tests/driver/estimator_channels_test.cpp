// Every real through channel of the shared collection, with its set's NEXT and FEXT files as
// aggressors, runs through all the stages to finite figures.
#include <cmath>

#include "support.h"

namespace {

using namespace driver_test;

struct Row {
  std::string path, role, set;
  int inP = 0, inM = 0, outP = 0, outM = 0;
};

// channels.tsv: path, role, set, then ports in columns 13 to 16 (empty for files without them).
std::vector<Row> readManifest(const fs::path& dir) {
  std::vector<Row> rows;
  std::ifstream in(dir / "channels.tsv");
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, '\t');) cols.push_back(col);
    if (cols.size() < 16 || cols[0] == "path") continue;
    Row r{cols[0], cols[1], cols[2]};
    if (!cols[12].empty())
      r.inP = std::stoi(cols[12]), r.inM = std::stoi(cols[13]), r.outP = std::stoi(cols[14]),
      r.outM = std::stoi(cols[15]);
    rows.push_back(r);
  }
  return rows;
}

TEST(EstimatorChannels, EveryThruRunsToFiniteFigures) {
  const fs::path dir = BREVO_CHANNELS_DIR;
  if (!fs::exists(dir / "channels.tsv")) GTEST_SKIP() << "no channel collection at " << dir;
  const std::vector<Row> rows = readManifest(dir);
  int runs = 0;
  for (const Row& thru : rows) {
    if (thru.role != "thru") continue;
    StageRun run;
    ASSERT_TRUE(loadThru(run.rs, (dir / thru.path).string(), thru.inP, thru.inM, thru.outP, thru.outM)) << thru.path;
    int aggressors = 0;
    for (const Row& other : rows) {
      if (thru.set.empty() || other.set != thru.set || (other.role != "next" && other.role != "fext")) continue;
      (other.role == "next" ? run.rs.nextList : run.rs.fextList).push_back(channelLine{(dir / other.path).string()});
      ++aggressors;
    }
    ASSERT_EQ(runFromFit(run.rs), 0) << thru.path;
    const std::string report = run.result.text();
    auto value = [&](const char* label) {
      const std::string l = lineStarting(report, label);
      return l.empty() ? std::nan("") : std::atof(l.c_str() + 40);
    };
    for (const char* label : {"S/N", "total                             noise", "BER", "interference tolerance",
                              "available signal", "Channel        noise"})
      EXPECT_TRUE(std::isfinite(value(label))) << thru.path << ": " << label << "\n" << report;
    EXPECT_GT(value("S/N"), 0) << thru.path;
    // Salz S/N is +inf without aggressors; with them, one ICN line each ("ICN" and 13 blanks).
    int icnLines = 0;
    for (const std::string& l : lines(report)) icnLines += l.find("ICN             ") != std::string::npos;
    EXPECT_EQ(icnLines, aggressors) << thru.path;
    EXPECT_TRUE(aggressors == 0 || std::isfinite(value("Salz S/N"))) << thru.path;
    ++runs;
  }
  EXPECT_GT(runs, 0);
}

}  // namespace
