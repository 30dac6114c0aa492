// Every real through channel of the shared collection, with its set's NEXT and FEXT
// files as aggressors, runs through all the stages to finite figures.
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "estimator_support.h"

namespace estimator_test {
namespace {

struct ManifestRow {
  std::string path, role, set;
  int inP = 0, inM = 0, outP = 0, outM = 0;
};

std::vector<ManifestRow> readManifest(const std::filesystem::path& dir) {
  std::vector<ManifestRow> rows;
  std::ifstream in(dir / "channels.tsv");
  std::string line;
  std::getline(in, line);   // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() < 16) continue;
    ManifestRow r{cols[0], cols[1], cols[2]};
    if (!cols[12].empty()) {
      r.inP = std::stoi(cols[12]), r.inM = std::stoi(cols[13]);
      r.outP = std::stoi(cols[14]), r.outM = std::stoi(cols[15]);
    }
    rows.push_back(r);
  }
  return rows;
}

double reportValue(const std::string& report, const std::string& label) {
  const std::string line = lineStarting(report, label);
  return line.empty() ? std::nan("") : std::atof(line.c_str() + 40);
}

TEST(EstimatorChannels, EveryThruRunsToFiniteFigures) {
  const std::filesystem::path dir = BREVO_CHANNELS_DIR;
  if (!std::filesystem::exists(dir / "channels.tsv"))
    GTEST_SKIP() << "no channel collection at " << dir;
  const std::vector<ManifestRow> rows = readManifest(dir);
  int runs = 0;
  for (const ManifestRow& thru : rows) {
    if (thru.role != "thru") continue;
    StageRun run;
    ASSERT_TRUE(loadThru(run.rs, (dir / thru.path).string(), thru.inP, thru.inM, thru.outP, thru.outM))
        << thru.path;
    int aggressors = 0;
    for (const ManifestRow& other : rows) {
      if (thru.set.empty() || other.set != thru.set) continue;
      channelLine line{(dir / other.path).string()};
      if (other.role == "next") run.rs.nextList.push_back(line), ++aggressors;
      if (other.role == "fext") run.rs.fextList.push_back(line), ++aggressors;
    }
    ASSERT_EQ(runStages(run.rs), 0) << thru.path;
    const std::string report = run.result.text();
    for (const char* label : {"S/N", "total                             noise", "BER",
                              "interference tolerance", "available signal", "Channel        noise"})
      EXPECT_TRUE(std::isfinite(reportValue(report, label))) << thru.path << ": " << label << "\n" << report;
    EXPECT_GT(reportValue(report, "S/N"), 0) << thru.path;
    // Salz S/N is +inf without aggressors (no coupled power anywhere).
    if (aggressors > 0) {
      EXPECT_TRUE(std::isfinite(reportValue(report, "Salz S/N"))) << thru.path;
      int icnLines = 0;   // per-aggressor lines: name, then "ICN" and 13 blanks
      for (const std::string& l : lines(report)) icnLines += l.find("ICN             ") != std::string::npos;
      EXPECT_EQ(icnLines, aggressors) << thru.path;
    }
    ++runs;
  }
  EXPECT_GT(runs, 0);
}

}  // namespace
}  // namespace estimator_test
