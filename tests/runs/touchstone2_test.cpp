// The example lane written as Version 2.0 files referenced to 75 ohm and as Version 1.0
// files at 50 ohm: one network, so one report, whichever reader took it in.
#include "TouchstoneStandard.h"
#include "workspace.h"

namespace {

using namespace brevo_test;

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
    ws.file("v2/" + std::string(name) + ".s4p", formatTouchstone(at75.set, {2, MA, "GHz", 75.0, "Full"}));
    ws.file("v1/" + std::string(name) + ".s4p", formatTouchstone(at50.set, {1, RI, "Hz", 50.0, "Full"}));
  }
  const Outcome v2 = ws.run({"Thru=v2/thru.s4p", "NEXT=v2/next1.s4p", "FEXT=v2/fext1.s4p"});
  const Outcome v1 = ws.run({"Thru=v1/thru.s4p", "NEXT=v1/next1.s4p", "FEXT=v1/fext1.s4p"});
  EXPECT_EQ(v2.status, 0);
  EXPECT_TRUE(has(v2.err, "v2/thru.s4p: Touchstone 2.0, 4 ports, ")) << v2.err;
  EXPECT_TRUE(has(v2.err, " frequencies; references 75 ohm renormalised to 50 ohm\n")) << v2.err;
  EXPECT_FALSE(has(v2.err, "warning")) << v2.err;
  std::string report = v2.out;
  for (std::size_t at = 0; (at = report.find("v2/", at)) != std::string::npos;) report[at + 1] = '1';
  EXPECT_EQ(report, v1.out);
  EXPECT_TRUE(has(v1.out, "S/N")) << v1.out;
}

}  // namespace
