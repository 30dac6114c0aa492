// One network written as a Version 1.0 file (RI, 50 ohm) and again in every layout of
// Version 1.0 and 2.x the writer has: one report and one log, whichever reader took it
// in and however the file held its numbers, and one channel joined from it.
#include <complex>
#include <sstream>

#include "GlobalNames.h"
#include "workspace.h"

namespace {

using namespace brevo_test;

// The example thru with one direction changed: the wave from the input ports 1, 3 to the
// output ports 2, 4 halved, the way back left as it is; with 2 ports, its line from 1 to 2.
Sparams oneWayWeaker(const Sparams& s, int ports) {
  std::vector<double> hertz;
  std::vector<std::complex<double>> m;
  for (int k = 0; k < s.Fcount(); ++k) {
    hertz.push_back(s.Freq(k));
    for (int i = 1; i <= ports; ++i)
      for (int j = 1; j <= ports; ++j) {
        const bool forward = i % 2 == 0 && j % 2 == 1;
        m.push_back(s.matrixEntry(k, i, j) * (forward ? 0.5 : 1.0));
      }
  }
  return Sparams::fromMatrices("made", ports, hertz, m);
}

// The log without the reader's own line (it says which reader and what it converted).
std::string withoutReaderLine(const std::string& log) {
  std::istringstream in(log);
  std::string out, line;
  while (std::getline(in, line))
    if (!line.starts_with("#read ") && !has(line, ": Touchstone 2.")) out += line + "\n";
  return out;
}

std::string renamed(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// The numbers of a Touchstone text, comment lines left out.
std::vector<double> numbersOf(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> out;
  std::string line, word;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '!' || line[0] == '#') continue;
    std::istringstream words(line);
    while (words >> word) out.push_back(std::stod(word));
  }
  return out;
}

struct Layout {
  const char* what;
  TouchstoneWriteOptions write;
  bool version21 = false;       // "[Version] 2.1" in place of 2.0
  bool reciprocalOnly = false;  // a triangle
};

TEST(Touchstone2Runs, ReportEqualsTheOneOfTheSameNetworkAt50Ohm) {
  Workspace ws;
  const fs::path examples = fs::path(BREVO_SOURCE_DIR) / "examples";
  // Names of one length in two folders: the report pads names to a column.
  fs::create_directories(ws.dir() / "v1");
  fs::create_directories(ws.dir() / "v2");
  for (const char* name : {"thru", "next1", "fext1"}) {
    const std::string source = (examples / ("lane_" + std::string(name) + ".s4p")).string();
    const TouchstoneFile at75 = readTouchstone(source, {75.0, false});
    const TouchstoneFile at50 = readTouchstone(source, {50.0, false});
    ASSERT_TRUE(at75.ok && at50.ok) << at75.message();
    ws.file("v2/" + std::string(name) + ".s4p",
            formatTouchstone(at75.set, {2, MA, "GHz", 75.0, "Full"}));
    ws.file("v1/" + std::string(name) + ".s4p",
            formatTouchstone(at50.set, {1, RI, "Hz", 50.0, "Full"}));
  }
  const Outcome v2 = ws.run({"Thru=v2/thru.s4p", "NEXT=v2/next1.s4p", "FEXT=v2/fext1.s4p"});
  const Outcome v1 = ws.run({"Thru=v1/thru.s4p", "NEXT=v1/next1.s4p", "FEXT=v1/fext1.s4p"});
  EXPECT_EQ(v2.status, 0);
  EXPECT_TRUE(has(v2.err, "v2/thru.s4p: Touchstone 2.0, 4 ports, ")) << v2.err;
  EXPECT_TRUE(has(v2.err, " frequencies; references 75 ohm renormalised to 50 ohm\n")) << v2.err;
  EXPECT_FALSE(has(v2.err, "warning")) << v2.err;
  std::string report = v2.out;
  for (std::size_t at = 0; (at = report.find("v2/", at)) != std::string::npos;)
    report[at + 1] = '1';
  EXPECT_EQ(report, v1.out);
  EXPECT_TRUE(has(v1.out, "S/N")) << v1.out;
}

TEST(Touchstone2Runs, EveryLayoutOfOneNetworkGivesOneReportAndLog) {
  const std::string lane = (fs::path(BREVO_SOURCE_DIR) / "examples" / "lane_thru.s4p").string();
  const TouchstoneFile read = readTouchstone(lane);
  ASSERT_TRUE(read.ok) << read.message();
  struct Network {
    const char* what;
    Sparams set;
    const char* ports;
    bool reciprocal;
  };
  const std::vector<Network> networks{
      {"4-port, one way weaker", oneWayWeaker(read.set, 4), "1 3 2 4", false},
      {"2-port, one way weaker", oneWayWeaker(read.set, 2), "1 0 2 0", false},
      {"4-port, reciprocal", read.set, "1 3 2 4", true}};
  const std::vector<Layout> layouts{
      // The 1.x reader scales a frequency by its unit once more: Hz keeps its grid exact.
      {"1.0 MA", {1, MA, "Hz", 50, "Full"}},
      {"1.0 DB", {1, DB, "Hz", 50, "Full"}},
      {"2.0 RI 12_21", {2, RI, "Hz", 50, "Full", "12_21"}},
      {"2.1 RI 21_12", {2, RI, "Hz", 50, "Full", "21_12"}, true},
      {"2.0 MA GHz 75 ohm 21_12", {2, MA, "GHz", 75, "Full", "21_12"}},
      {"2.1 DB kHz 75 ohm 12_21", {2, DB, "kHz", 75, "Full", "12_21"}, true},
      {"2.0 Z RI GHz", {2, RI, "GHz", 50, "Full", "12_21", 'Z'}},
      {"2.0 Z MA 75 ohm 21_12", {2, MA, "Hz", 75, "Full", "21_12", 'Z'}},
      {"2.1 Y DB 21_12", {2, DB, "MHz", 50, "Full", "21_12", 'Y'}, true},
      {"2.0 Upper MA 75 ohm", {2, MA, "GHz", 75, "Upper"}, false, true},
      {"2.1 Lower DB", {2, DB, "Hz", 50, "Lower", "21_12"}, true, true},
      {"2.0 Upper Z", {2, RI, "Hz", 50, "Upper", "12_21", 'Z'}, false, true},
  };
  for (const Network& net : networks) {
    Workspace ws;
    const std::string ext = net.set.Size() == 2 ? ".s2p" : ".s4p";
    ws.file("base" + ext, formatTouchstone(net.set, {1, RI, "Hz", 50, "Full"}));
    const Outcome base = ws.run({"Thru=\"base" + ext + " " + net.ports + "\""});
    ASSERT_EQ(base.status, 0) << net.what << base.err;
    const std::string tools = BREVO_TOOLS_DIR;
    const std::string joiner = tools + "/brevo-cascade";
    ASSERT_EQ(
        ws.run({"base_join" + ext, "base" + ext + " " + net.ports, "base" + ext + " " + net.ports},
               joiner)
            .status,
        0);
    const std::string baseJoin = ws.read("base_join" + ext);
    ASSERT_TRUE(has(base.out, "S/N")) << base.out;
    for (std::size_t n = 0; n < layouts.size(); ++n) {
      const Layout& l = layouts[n];
      if (l.reciprocalOnly && !net.reciprocal) continue;
      const TouchstoneFile at = readTouchstone(ws / ("base" + ext), {l.write.reference, false});
      ASSERT_TRUE(at.ok) << at.message();
      std::string text = formatTouchstone(at.set, l.write);
      if (l.version21) text = renamed(text, "[Version] 2.0", "[Version] 2.1");
      const std::string name = "l" + std::to_string(1000 + n).substr(1) + ext;  // as long as "base"
      ws.file(name, text);
      const Outcome got = ws.run({"Thru=\"" + name + " " + net.ports + "\""});
      const std::string stem = name.substr(0, 4);
      EXPECT_EQ(got.status, base.status) << net.what << ", " << l.what;
      EXPECT_EQ(renamed(got.out, stem, "base"), base.out) << net.what << ", " << l.what;
      EXPECT_EQ(withoutReaderLine(renamed(got.err, stem, "base")), withoutReaderLine(base.err))
          << net.what << ", " << l.what;
      // Joined with the base file: the same channel, to the last digit where the file
      // held the very doubles (RI S-parameters at 50 ohm).
      const Outcome join =
          ws.run({"join" + ext, name + " " + net.ports, "base" + ext + " " + net.ports}, joiner);
      ASSERT_EQ(join.status, 0) << net.what << ", " << l.what << join.err;
      const std::vector<double> a = numbersOf(ws.read("join" + ext)), b = numbersOf(baseJoin);
      ASSERT_EQ(a.size(), b.size()) << net.what << ", " << l.what;
      double worst = 0;
      for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]) / (1 + std::abs(b[i])));
      const bool exact =
          l.write.dataFormat == RI && l.write.reference == 50 && l.write.parameter == 'S';
      EXPECT_LE(worst, exact ? 0 : 1e-12) << net.what << ", " << l.what;
    }
  }
}

}  // namespace
