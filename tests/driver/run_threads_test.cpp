// Runs in one process: two cases on two threads, each with its own run state and memory
// streams, give the bytes the program gives for them, run on its own.
#include <thread>

#include "stages.h"
#include "workspace.h"

namespace {

using namespace brevo_test;

TEST(RunAnalysis, TwoThreadsGiveTheBytesOfTwoPrograms) {
  const std::string lane = std::string(BREVO_SOURCE_DIR) + "/examples/lane_";
  const std::vector<std::vector<std::string>> cases = {
      {"Thru=\"" + lane + "thru.s4p 1 3 2 4\"", "NEXT=" + lane + "next1.s4p",
       "FEXT=" + lane + "fext1.s4p"},
      {"Thru=" + lane + "thru.s4p", "input_ports=13", "output_ports=24",
       "NEXT=" + lane + "next2.s4p", "PAM=4", "baud_rate=53.125G", "N_DFE=12", "target_BER=1e-5"}};
  struct InProcess {
    MemoryStream out, err;
    RunState rs;
    int status = -1;
  } runs[2];
  std::vector<std::thread> threads;
  for (int k = 0; k < 2; ++k) {
    runs[k].rs.io.standardOutput = runs[k].out.get();
    runs[k].rs.io.standardError = runs[k].err.get();
    // A first argument holding "-c" or "-b" (a folder name may) is the starter option.
    runs[k].rs.io.arguments = {"Brevo", "PAM=2"};
    runs[k].rs.io.arguments.insert(runs[k].rs.io.arguments.end(), cases[k].begin(), cases[k].end());
    threads.emplace_back([&run = runs[k]] { run.status = runAnalysis(run.rs); });
  }
  for (std::thread& t : threads) t.join();
  for (int k = 0; k < 2; ++k) {
    std::vector<std::string> args = {"PAM=2"};
    args.insert(args.end(), cases[k].begin(), cases[k].end());
    const Outcome program = Workspace().run(args);
    ASSERT_EQ(program.status, 0) << program.err;
    EXPECT_EQ(runs[k].status, 0);
    EXPECT_EQ(runs[k].out.text(), program.out) << "case " << k;
    EXPECT_EQ(runs[k].err.text(), program.err) << "case " << k;
    EXPECT_NE(program.out.find("S/N"), std::string::npos);
  }
}

}  // namespace
