// Every real channel file listed in channels.tsv reads with the listed counts, and every
// number in it scans to exactly what strtod gives.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TouchstoneCore.h"
#include "test_support.h"

namespace {

struct Channel {
  std::string path;
  int ports = 0;
  int points = 0;
};

// The rows of channels.tsv, by its column names; empty when the folder is absent.
std::vector<Channel> listedChannels() {
  std::vector<Channel> list;
  std::ifstream in(std::string(BREVO_CHANNELS_DIR) + "/channels.tsv");
  std::string line;
  if (!std::getline(in, line)) return list;
  std::vector<std::string> head;
  {
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, '\t');) head.push_back(cell);
  }
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    Channel c;
    std::size_t column = 0;
    for (std::string cell; std::getline(ss, cell, '\t'); ++column) {
      if (column >= head.size()) break;
      if (head[column] == "path") c.path = std::string(BREVO_CHANNELS_DIR) + "/" + cell;
      if (head[column] == "ports") c.ports = std::atoi(cell.c_str());
      if (head[column] == "points") c.points = std::atoi(cell.c_str());
    }
    if (!c.path.empty()) list.push_back(c);
  }
  return list;
}

TEST(Channels, EveryListedFileReadsWithItsListedCounts) {
  const std::vector<Channel> list = listedChannels();
  if (list.empty()) GTEST_SKIP() << "no channels.tsv under " << BREVO_CHANNELS_DIR;
  for (const Channel& c : list) {
    CapturedLog log;
    std::vector<char> name(c.path.begin(), c.path.end());
    name.push_back('\0');
    Sparams s(name.data(), log.get());
    EXPECT_EQ(s.Size(), c.ports) << c.path;
    EXPECT_EQ(s.Fcount(), c.points) << c.path;
    const std::string read = "#read " + c.path + " size " + std::to_string(c.ports) + " for " +
                             std::to_string(c.points) + " frequencies\n";
    EXPECT_EQ(log.text().rfind(read, 0), 0u) << log.text();
    const bool keywords = log.text().find("uses Touchstone 2.0 keywords") != std::string::npos;
    EXPECT_EQ(keywords, c.path.find("/unsupported/") != std::string::npos) << c.path;
  }
}

TEST(Channels, EveryNumberScansAsStrtodDoes) {
  const std::vector<Channel> list = listedChannels();
  if (list.empty()) GTEST_SKIP() << "no channels.tsv under " << BREVO_CHANNELS_DIR;
  long long numbers = 0;
  for (const Channel& c : list) {
    std::ifstream in(c.path, std::ios::binary);
    int failures = 0;
    for (std::string line; std::getline(in, line) && failures < 5;) {
      const char* text = line.c_str();
      std::size_t p = 0;
      while (p < line.size()) {
        char* end = nullptr;
        const double want = std::strtod(text + p, &end);
        const auto wantUsed = static_cast<std::size_t>(end - (text + p));
        double got = 0;
        const std::size_t gotUsed = scanNumber(std::string_view(line).substr(p), &got);
        if (gotUsed != wantUsed ||
            (wantUsed && std::bit_cast<std::uint64_t>(got) != std::bit_cast<std::uint64_t>(want))) {
          ADD_FAILURE() << c.path << ": \"" << line.substr(p, 40) << "\" scans to " << got
                        << " over " << gotUsed << ", strtod " << want << " over " << wantUsed;
          ++failures;
        }
        if (wantUsed) ++numbers;
        p += wantUsed ? wantUsed : 1;
      }
    }
  }
  EXPECT_GT(numbers, 1000000);  // the folder holds millions of numbers
}

}  // namespace
