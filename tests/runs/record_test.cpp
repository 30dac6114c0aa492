// The run record (summary=) of whole runs ending with each status, in a folder holding the
// bundled example lane: valid against the record schema the build makes by Debian's validator
// (python3-jsonschema), every figure it holds the report's figure of the same run to the
// report's printed digits and every figure it lacks a line the report lacks, each keyword
// set where the line or argument it names sets it, and each warning one of the log.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "workspace.h"

namespace {

using namespace brevo_test;
using json = nlohmann::json;

const fs::path kSource = BREVO_SOURCE_DIR;

// A report line's label, where its number starts after it (the label's end when null),
// and where the record holds that number, times scale as printed.
struct Figure {
  const char* label;
  const char* after;
  const char* pointer;
  double scale;
};
const Figure kFigures[] = {
    {"data rate ", "=", "/figures/data_rate/value", 1e-9},
    {"peak Signal ", "=", "/figures/peak_signal/value", 1},
    {"targetBER ", "=", "/figures/target_BER/value", 1},
    {"target Q ", "=", "/figures/target_Q/value", 1},
    {"Tx t bandwidth ", "=", "/figures/tx_bandwidth/value", 1},
    {"Rx t bandwidth ", "=", "/figures/rx_bandwidth/value", 1},
    {"a0=", nullptr, "/loss_fit/a0/re", 1},
    {"a0=", "+j(", "/loss_fit/a0/im", 1},
    {"a4=", nullptr, "/loss_fit/a4/re", 1},
    {"a4=", "+j(", "/loss_fit/a4/im", 1},
    {"Nyquist gain", nullptr, "/figures/nyquist_gain/value", 1},
    {"peak pulse", nullptr, "/figures/peak_pulse/value", 1000},
    {"peak dibit", nullptr, "/figures/peak_dibit/value", 1000},
    {"base EYE", nullptr, "/figures/base_eye/value", 1},
    {"available signal", nullptr, "/figures/available_signal/value", 1},
    {"implementation noise", nullptr, "/figures/implementation_noise/value", 1},
    {"ILD ", "noise", "/figures/ild_noise/value", 1},
    {"more than 50%", "first", "/figures/low_frequency_ild/value", 1e-6},
    {"Tx re-Reflection ", "noise", "/figures/tx_reflection_noise/value", 1},
    {"Rx re-Reflection ", "noise", "/figures/rx_reflection_noise/value", 1},
    {"Tx-Rx re-Reflection ", "noise", "/figures/txrx_reflection_noise/value", 1},
    {"Channel ", "noise", "/figures/channel_noise/value", 1},
    {"total  ", "ICN", "/figures/total_icn/value", 1},
    {"total  ", "noise", "/figures/total_noise/value", 1},
    {"S/N ", nullptr, "/figures/signal_to_noise/value", 1},
    {"BER ", nullptr, "/figures/BER/value", 1},
    {"interference tolerance", nullptr, "/figures/interference_tolerance/value", 1},
    {"Salz S/N", nullptr, "/figures/salz_signal_to_noise/value", 1}};

// The number of a line from `at` on as printed, blanks before it skipped ("" when none).
std::string token(const std::string& line, std::size_t at) {
  at = line.find_first_not_of(' ', at);
  if (at == std::string::npos) return "";
  char* end = nullptr;
  std::strtod(line.c_str() + at, &end);
  return line.substr(at, static_cast<std::size_t>(end - line.c_str()) - at);
}

// The record's number as the report prints token: the same digits, fixed or exponent.
std::string printed(const json& value, double scale, const std::string& token) {
  if (value.is_string())
    return token == "-nan" ? "-" + value.get<std::string>() : value.get<std::string>();
  const std::size_t dot = token.find('.'), e = token.find_first_of("eE");
  const int digits = dot == std::string::npos
                         ? 0
                         : static_cast<int>((e == std::string::npos ? token.size() : e) - dot - 1);
  char text[64];
  std::snprintf(text, sizeof text, e == std::string::npos ? "%.*f" : "%.*e", digits,
                value.get<double>() * scale);
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) all.push_back(l);
  return all;
}

struct Case {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::size_t used, skipped;
};

class Record : public ::testing::TestWithParam<Case> {};

TEST_P(Record, ValidAndAsTheReportOfTheSameRun) {
  const Case& t = GetParam();
  Workspace ws;
  if (ws.run({"-c", "import jsonschema"}, "/usr/bin/python3").status != 0) {
    if (geteuid() != 0)
      GTEST_SKIP() << "python3-jsonschema is not installed (scripts/test.sh installs it)";
    FAIL() << "python3-jsonschema is not installed, though scripts/test.sh installs it";
  }
  for (const auto& entry : fs::directory_iterator(kSource / "examples"))
    fs::create_symlink(entry.path(), ws.dir() / entry.path().filename());
  std::vector<std::string> args = {"summary=run.json"};
  args.insert(args.end(), t.args.begin(), t.args.end());
  const Outcome r = ws.run(args);
  ASSERT_EQ(r.status, t.status) << r.err.substr(0, 2000);
  const std::string text = ws.read("run.json");
  ws.file(
      "check.py",
      "import json, sys\nfrom jsonschema import validators\n"
      "def refuse(token): raise ValueError('no JSON: ' + token)\n"
      "schema, record = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]), "
      "parse_constant=refuse)\n"
      "cls = validators.validator_for(schema)\ncls.check_schema(schema)\n"
      "for e in cls(schema).iter_errors(record): print('/'.join(map(str, e.path)), e.message)\n");
  const Outcome valid = ws.run({"check.py", BREVO_RECORD_SCHEMA, "run.json"}, "/usr/bin/python3");
  EXPECT_TRUE(valid.status == 0 && valid.out.empty()) << valid.out << valid.err;
  const json rec = json::parse(text);
  // The lost report's figures are those of the same run with the report kept.
  const std::string report = t.status == 12 ? ws.run({args.begin(), args.end() - 1}).out : r.out;
  const std::vector<std::string> out = lines(report);
  EXPECT_EQ(rec["status"], t.status);
  EXPECT_EQ(rec["stages"].back()["status"], t.status == 12 ? 0 : t.status);
  EXPECT_TRUE(has(readFile(kSource / "CMakeLists.txt"),
                  "project(Brevo VERSION " + rec["version"].get<std::string>() + " "));

  for (const Figure& f : kFigures) {
    auto line = std::find_if(out.begin(), out.end(), [&](const std::string& l) {
      return l.starts_with(f.label) && (!f.after || has(l, f.after));
    });
    ASSERT_EQ(rec.contains(json::json_pointer(f.pointer)), line != out.end()) << f.pointer;
    if (line == out.end()) continue;
    const std::string number =
        token(*line, f.after ? line->find(f.after) + std::strlen(f.after) : std::strlen(f.label));
    EXPECT_EQ(printed(rec[json::json_pointer(f.pointer)], f.scale, number), number) << *line;
  }
  std::vector<std::string> icn;  // the aggressors' lines, in report order
  std::copy_if(out.begin(), out.end(), std::back_inserter(icn),
               [](const std::string& l) { return has(l, " ICN ") && !l.starts_with("total"); });
  ASSERT_EQ(rec["aggressors"].size(), t.used);
  ASSERT_EQ(icn.size(), t.used);
  for (std::size_t k = 0; k < t.used; ++k) {
    const json& a = rec["aggressors"][k];
    EXPECT_TRUE(icn[k].starts_with(a["file"].get<std::string>() + " ")) << icn[k];
    const std::string number = token(icn[k], icn[k].find(" ICN ") + 5);
    EXPECT_EQ(printed(a["icn"]["value"], 1, number), number) << icn[k];
  }
  EXPECT_EQ(rec["skipped"].size(), t.skipped);
  if (!rec["thru"]["ports"].is_null()) {
    const json& p = rec["thru"]["ports"];
    EXPECT_EQ(out.at(0), "channel:  " + rec["thru"]["file"].get<std::string>());
    EXPECT_EQ(out.at(1), "ports      " + p["inP"].dump() + " " + p["inM"].dump() + " => " +
                             p["outP"].dump() + " " + p["outM"].dump());
  }
  if (!rec["thru"]["points"].is_null()) {  // the example lane: 25 MHz to 50 GHz
    EXPECT_TRUE(has(r.err, "#read lane_thru.s4p size 4 for " + rec["thru"]["points"].dump() +
                               " frequencies\n"));
    EXPECT_EQ(rec["thru"]["first_frequency"]["value"], 25e6);
    EXPECT_EQ(rec["thru"]["last_frequency"]["value"], 50e9);
  }
  // Each keyword set by a user is set by the line or argument its origin names, under its
  // own name or one sharing its setting.
  for (const auto& [name, k] : rec["keywords"].items()) {
    const json& o = k["origin"];
    if (o["source"] == "default") continue;
    const std::size_t n = o["line"].get<std::size_t>();
    const std::string set =
        o["source"] == "command line" ? args.at(n - 1) : lines(ws.read(o["source"])).at(n - 1);
    const std::string setter = set.substr(0, set.find('='));
    EXPECT_TRUE(rec["keywords"].contains(setter) && rec["keywords"][setter]["origin"] == o &&
                rec["keywords"][setter]["value"] == k["value"])
        << name << " from " << set;
  }
  // The last argument sets its keyword; names given together share where they were set.
  const std::string last = args.back().substr(0, args.back().find('='));
  if (rec["keywords"].contains(last)) {
    EXPECT_EQ(rec["keywords"][last]["origin"],
              json({{"source", "command line"}, {"line", args.size()}}))
        << last;
  }
  for (const auto& [a, b] :
       {std::pair{"data_rate", "baud_rate"}, {"Thru", "Sparameters"}, {"N_DFE", "DFE_length"}})
    EXPECT_EQ(rec["keywords"][a]["origin"], rec["keywords"][b]["origin"]) << a;
  std::size_t said = 0;
  for (const std::string& l : lines(r.err)) said += l.starts_with("warning: ") && l[9] != ' ';
  EXPECT_EQ(rec["warnings"].size(), said);
  for (const json& w : rec["warnings"])
    EXPECT_TRUE(has(r.err, "\nwarning: " + w.get<std::string>() + "\n")) << w;
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, Record,
    ::testing::Values(Case{"example", {"nrz.cf"}, 0, 4, 0},
                      Case{"skipped_aggressor", {"nrz.cf", "NEXT=no_such_next.s4p"}, 0, 4, 1},
                      Case{"thru_missing", {"Thru=no_such_thru.s4p"}, 1, 0, 0},
                      Case{"control_file_missing", {"nrz.cf", "no_such.cf"}, 2, 0, 0},
                      Case{
                          "thru_line_of_six_words", {"Thru=\"lane_thru.s4p 1 3 2 4 5\""}, 10, 0, 0},
                      Case{"grid_refused", {"nrz.cf", "oversample=0", "data_rate=26G"}, 11, 0, 0},
                      Case{"report_lost", {"nrz.cf", "results=/dev/full"}, 12, 4, 0},
                      Case{"com_preset", {"nrz.cf", "com=kr4", "com_A_v=0.5"}, 0, 4, 0}),
    rowName);

}  // namespace
