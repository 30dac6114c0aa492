// A file named by the thru and two aggressor lines is parsed once while it stays as it
// was on disk: rewritten after the thru was read, with its size and modification time
// put back, the run still sees the old numbers and gives the bytes of an untouched run;
// rewritten with a new time, it is read again and the crosstalk changes.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "stages.h"
#include "workspace.h"

namespace {

using namespace brevo_test;

// Rewrites the file after the thru was read: every '1' of the numbers turned into '2'
// (same size), the modification time put back or moved on.
class RewriteAfterThru : public StageObserver {
 public:
  RewriteAfterThru(std::string path, bool keepStamp)
      : path_(std::move(path)), keepStamp_(keepStamp) {}
  void finished(Stage stage, int) override {
    if (stage != Stage::readThru) return;
    struct stat before;
    ASSERT_EQ(stat(path_.c_str(), &before), 0);
    std::string text = readFile(path_);
    std::replace(text.begin() + static_cast<std::ptrdiff_t>(text.find('#')), text.end(), '1', '2');
    FILE* f = std::fopen(path_.c_str(), "r+");  // in place: the same inode
    ASSERT_TRUE(f);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    timespec times[2] = {before.st_atim, before.st_mtim};
    if (!keepStamp_) times[1].tv_sec += 5;
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  }

 private:
  std::string path_;
  bool keepStamp_;
};

TEST(ReadOnce, AFileUnchangedOnDiskIsParsedOnceAndAChangedOneAgain) {
  const Workspace w;
  w.file("lane.s4p", readFile(std::string(BREVO_SOURCE_DIR) + "/examples/lane_thru.s4p"));
  const std::vector<std::string> args = {"Thru=\"" + w / "lane.s4p" + " 1 3 2 4\"",
                                         "NEXT=\"" + w / "lane.s4p" + " 1 3 4 2\"",
                                         "FEXT=\"" + w / "lane.s4p" + " 2 4 3 1\"", "N_DFE=4"};
  const Outcome untouched = w.run(args);
  ASSERT_EQ(untouched.status, 0) << untouched.err;
  const struct {
    bool keepStamp;
    bool sameAsUntouched;
  } cases[] = {{true, true}, {false, false}};
  for (const auto& c : cases) {
    w.file("lane.s4p", readFile(std::string(BREVO_SOURCE_DIR) + "/examples/lane_thru.s4p"));
    MemoryStream out, err;
    RunState rs;
    rs.io.standardOutput = out.get();
    rs.io.standardError = err.get();
    rs.io.arguments = {"Brevo"};
    rs.io.arguments.insert(rs.io.arguments.end(), args.begin(), args.end());
    RewriteAfterThru rewrite(w / "lane.s4p", c.keepStamp);
    EXPECT_EQ(runAnalysis(rs, &rewrite), 0);
    EXPECT_EQ(out.text() == untouched.out, c.sameAsUntouched) << "stamp kept: " << c.keepStamp;
    EXPECT_EQ(err.text() == untouched.err, c.sameAsUntouched) << "stamp kept: " << c.keepStamp;
    // Either way, the reader's line appears once per channel line.
    const std::string line = "#read " + w / "lane.s4p";
    std::size_t count = 0;
    for (std::size_t at = err.text().find(line); at != std::string::npos;
         at = err.text().find(line, at + 1))
      ++count;
    EXPECT_EQ(count, 3u) << err.text();
  }
}

}  // namespace
