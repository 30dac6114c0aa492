// brevo-touchstone as a user runs it: --check against the manifest's strict verdicts,
// conversions read back by the same reader, and the exit statuses with OUT left as it was.
#include "GlobalNames.h"
#include "workspace.h"

namespace {

const std::string kTool = std::string(BREVO_TOOLS_DIR) + "/brevo-touchstone",
                  kTs2 = std::string(BREVO_CHANNELS_DIR) + "/ts2/";

// The largest difference of two sets' entries relative to the entry; -1 when their sizes or
// frequencies (to the bit) differ.
double difference(const Sparams& a, const Sparams& b) {
  const int n = a.Size();
  double worst = n == b.Size() && a.Fcount() == b.Fcount() && n > 0 ? 0 : -1;
  for (int k = 0; k < a.Fcount() && worst >= 0; ++k)
    for (int e = 0; e < n * n; ++e)
      if (std::bit_cast<std::uint64_t>(a.Freq(k)) != std::bit_cast<std::uint64_t>(b.Freq(k)))
        return -1;
      else if (const auto x = a.Value(k, e / n + 1, e % n + 1),
               y = b.Value(k, e / n + 1, e % n + 1);
               x != y)
        worst = std::max(worst, std::abs(x - y) / std::abs(x));
  return worst;
}

// Every row: --check fails exactly when the strict verdict is not "ok", and its first problem line
// is that verdict ("error: line L: RULE" as "IN:L: RULE"); every file the lenient reading takes,
// written as Version 1 at 50 ohm, reads back as the same doubles, its deviation named.
TEST(TouchstoneTool, ManifestVerdictsAndVersion1Copies) {
  std::ifstream manifest(kTs2 + "ts2.tsv");
  if (!manifest) GTEST_SKIP() << "no " << kTs2 << "ts2.tsv beside the checkout";
  const brevo_test::Workspace ws;
  for (std::string line; std::getline(manifest, line);) {
    std::vector<std::string> col;
    for (std::stringstream cells(line);
         col.size() < 14 && std::getline(cells, col.emplace_back(), '\t');)
      continue;
    if (col[0] == "file") continue;
    const std::string in = kTs2 + col[0], strict = col.at(12);
    const auto check = ws.run({"--check", in}, kTool);
    const std::string out = "\n" + check.out;
    const std::size_t at = out.find("\n" + in + ":"), colon = strict.find(':', 12);
    const std::string first =
        strict == "ok" ? "" : in + ":" + strict.substr(12, colon - 12) + strict.substr(colon);
    EXPECT_EQ(at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1),
              first)
        << col[0];
    EXPECT_EQ(check.status, strict == "ok" ? 0 : 1) << col[0];
    if (col.at(13) != "ok") continue;  // read leniently: converted, with the deviation as a warning
    const TouchstoneFile direct = readTouchstone(in);
    const std::string copy = ws / ("copy.s" + std::to_string(direct.set.Size()) + "p");
    const auto convert = ws.run({in, copy}, kTool);
    EXPECT_TRUE(convert.status == 0 && difference(direct.set, readTouchstone(copy).set) == 0 &&
                (first.empty() || brevo_test::has(convert.err, "warning: " + first)))
        << col[0] << ": " << convert.err;
  }
}

// A 2-port whose S12 and S21 differ and a reciprocal 3-port; every option on the first and the
// triangles on the second, read back: RI to the bit, MA and DB within 1e-14. R=75 renormalises
// the source first.
TEST(TouchstoneTool, EveryOptionRoundTripsAndEveryRefusalKeepsOut) {
  const brevo_test::Workspace ws;
  const std::vector<double> hz = {1e6, 1.7e6, 2.89e6, 4913000.3, 8352100.4, 14198570.5, 24137569.6};
  ws.file("a.s2p", brevo_test::touchstone(hz, 2, [](int k, int r, int c) {
            return std::polar(1.0 / (r + c), k + r - 2.0 * c);
          }));
  ws.file("b.s3p", brevo_test::touchstone(hz, 3, [](int k, int r, int c) {
            return std::polar(1.0 / (r * c), k + r + c + 0.5);
          }));
  for (const std::string version : {"1", "2"})
    for (const std::string format : {"RI", "MA", "DB"})
      for (const std::string unit : {"Hz", "kHz", "MHz", "GHz"})
        for (const std::string option : {"matrix=full", "matrix=upper", "matrix=lower", "R=75"}) {
          const bool triangle = option == "matrix=upper" || option == "matrix=lower";
          if (version == "1" && triangle) continue;
          const std::string in = triangle ? "b.s3p" : "a.s2p",
                            out = version == "1" ? "out" + in.substr(1) : "out.ts";
          const auto run = ws.run(
              {in, out, "version=" + version, "format=" + format, "unit=" + unit, option}, kTool);
          const double r = option == "R=75" ? 75 : 50;
          const double d =
              difference(readTouchstone(ws / in, {r}).set, readTouchstone(ws / out, {r}).set);
          EXPECT_TRUE(run.status == 0 && run.err.empty() &&
                      (format == "RI" ? d == 0 : d >= 0 && d <= 1e-14))
              << version << " " << format << " " << unit << " " << option << ": " << d << " "
              << run.err;
        }

  // Statuses and messages. OUT, of known bytes, stays as it was with nothing beside it whenever
  // the status is not 0, also when the write fails midway (sh runs the tool under a size limit).
  ws.file("bad.s1p", "# Hz S RI R 50\n1 0.5 0\n2 abc 0\n");
  ws.file("out.s2p", "! earlier bytes\n");
  const std::string limit = "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                    usage = "usage: brevo-touchstone IN OUT";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"nowhere.s2p", "out.s2p"}, 1, "nowhere.s2p: cannot open: No such file or directory"},
      {{"bad.s1p", "out.s2p"}, 1, "bad.s1p:3: 'abc' is not a number"},
      {{"a.s2p", "out.s2p", "colour=red"}, 2, "unknown option 'colour=red'\n" + usage},
      {{"a.s2p", "out.s2p", "Version=2", "MATRIX=Upper"},
       1,
       "a.s2p: the data are not reciprocal to within the tolerance"},
      {{"a.s2p", "out.s2p", "reciprocity_tolerance=-1"},
       2,
       "reciprocity_tolerance is a number of 0 or more"},
      {{"a.s2p", "nowhere/out.s2p"},
       3,
       "brevo-touchstone: could not write nowhere/out.s2p: No such file or directory"},
      {{"-c", limit, kTool, "a.s2p", "out.s2p"},
       3,
       "brevo-touchstone: could not write out.s2p: File too large"},
      {{"a.s2p", "x.s4p"},
       2,
       "x.s4p: the name says 4 ports but a.s2p holds 2; a Version 1 reader takes the port count"}};
  const std::size_t files = ws.entries().size();
  for (const auto& c : cases) {
    const auto r = ws.run(c.args, c.args[0] == "-c" ? "/bin/sh" : kTool);
    EXPECT_TRUE(r.status == c.status && brevo_test::has(r.err, c.message) &&
                ws.read("out.s2p") == "! earlier bytes\n" &&
                (c.status == 0 || ws.entries().size() == files))
        << c.message << ": status " << r.status << ", " << r.err << ", files here "
        << ws.entries().size();
  }
}

}  // namespace
