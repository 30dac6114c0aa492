// Lookups on sets whose frequencies do not ascend, as the fuzzer found them: the
// differential parameter is on the file's own points or empty, and never a regular
// grid sized by a falling step.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TouchstoneCore.h"

namespace {

struct Falling {
  const char* name;
  const char* text;   // 1-port records, GHz, RI
};

// Each falls somewhere; the first would have asked for 10^8 grid points.
const Falling kFalling[] = {
    {"stray_huge_first_frequency", "# GHz S RI\n200000000 1 0\n2 1 0\n1 1 0\n0 1 0\n"},
    {"descending", "# GHz S RI\n3 1 0\n2 1 0\n1 1 0\n"},
    {"falls_after_rising", "# GHz S RI\n1 1 0\n2 1 0\n3 1 0\n2.5 1 0\n"},
    {"nan_last_frequency", "# GHz S RI\n1 1 0\n2 1 0\nnan 1 0\n"},
    {"repeated_last", "# GHz S RI\n3 1 0\n1 1 0\n2 1 0\n2 1 0\n"},
};

TEST(FallingFrequencies, NoGridOfAnotherLength) {
  for (const Falling& t : kFalling) {
    const ReadResult r = parseTouchstone(t.text, t.name);
    ASSERT_EQ(r.set.Size(), 1) << t.name;
    const int n = r.set.Fcount();
    int count = -7;
    const std::vector<std::complex<double>> own = r.set.aParam(1, 1, 0, 0, 0, 0, &count);
    EXPECT_TRUE(own.empty() || static_cast<int>(own.size()) == n) << t.name << ": " << own.size();
    EXPECT_TRUE(own.empty() ? count == -7 : count == n) << t.name;
    // A regular grid from 0 Hz needs a positive step too.
    if (!(r.set.freqStep() > 0)) {
      EXPECT_TRUE(r.set.aParam(1, 1, 0, 0, 1, 5e9, nullptr).empty()) << t.name;
    }
  }
}

// The same for every reader reproducer the fuzzer left.
TEST(FallingFrequencies, KeptReproducers) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(BREVO_TEST_DIR) / "hardening" / "crashes" / "touchstone_reader";
  int seen = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const ReadResult r = parseTouchstone(s.str(), e.path().filename().string());
    if (r.set.Size() < 1) continue;
    const std::vector<std::complex<double>> own = r.set.aParam(1, r.set.Size(), 0, 0, 0, 0, nullptr);
    EXPECT_TRUE(own.empty() || static_cast<int>(own.size()) == r.set.Fcount()) << e.path();
    ++seen;
  }
  EXPECT_GE(seen, 1);
}

}  // namespace
