// The run sequence: the entry's options, then the stages in order.
#include "entry.h"
#include "stages.h"
#include "variants.h"

namespace {

struct StageStep {
  Stage stage;
  int (*run)(RunState&);
  bool (*wanted)(const RunState&) = nullptr;  // null: always
};

// Each stage takes the parts of the state it reads and writes.
constexpr StageStep kSequence[] = {
    {Stage::arguments, [](RunState& rs) { return applyArguments(rs.given, rs.io); }},
    {Stage::selectThru, [](RunState& rs) { return selectThru(rs.given, rs.io); }},
    {Stage::deriveSettings, [](RunState& rs) { return deriveSettings(rs.given, rs.io), 0; }},
    {Stage::readThru,
     [](RunState& rs) {
       return readThru(rs.given, rs.io, rs.channels, rs.thru, rs.points, rs.comChannels);
     }},
    {Stage::fitThru,
     [](RunState& rs) { return fitThru(rs.given, rs.io, rs.thru.set, rs.points, rs.lossFit), 0; }},
    {Stage::pulseAndDibit,
     [](RunState& rs) {
       return pulseAndDibit(rs.given, rs.io, rs.thru.set, rs.points, rs.lossFit, rs.pulse), 0;
     }},
    {Stage::equalisedIld,
     [](RunState& rs) {
       return equalisedIld(rs.given, rs.io, rs.thru.set, rs.lossFit, rs.pulse, rs.ildAfterDfe);
     }},
    {Stage::budget,
     [](RunState& rs) {
       return budget(rs.given, rs.io, rs.thru.set, rs.lossFit, rs.pulse, rs.ildAfterDfe, rs.noise),
              0;
     }},
    {Stage::crosstalk,
     [](RunState& rs) {
       return crosstalk(rs.given, rs.io, rs.channels, rs.thru.set, rs.points, rs.lossFit, rs.noise,
                        rs.crosstalk, rs.comChannels),
              0;
     }},
    {Stage::figuresOfMerit,
     [](RunState& rs) {
       return figuresOfMerit(rs.given, rs.io, rs.thru.set, rs.points, rs.lossFit, rs.pulse,
                             rs.noise, rs.crosstalk, rs.merit),
              0;
     }},
    // Only a run that names a preset has it: any other goes on exactly as before.
    {Stage::com, [](RunState& rs) { return comStage(rs.given, rs.io, rs.comChannels, rs.com), 0; },
     [](const RunState& rs) { return rs.given.com.requested; }},
};

// Every stage the run went through, with its status, for the run record; the caller's
// observer, if any, sees each call as before.
class StageLog : public StageObserver {
 public:
  explicit StageLog(StageObserver* next) : next_(next) {}
  bool starting(Stage stage) override { return !next_ || next_->starting(stage); }
  void finished(Stage stage, int status) override {
    stages.emplace_back(stage, status);
    if (next_) next_->finished(stage, status);
  }
  std::vector<std::pair<Stage, int>> stages;

 private:
  StageObserver* next_;
};

// The first argument's options and the defaults, then every stage.
int optionsAndStages(RunState& rs, StageObserver* observer) {
  if (rs.io.arguments.size() < 2) return printUsage(rs.io);
  if (rs.io.argumentsOnly) {
    applyDefaults(rs.given, rs.io);
    return runStages(rs, Stage::arguments, observer);
  }
  warnAboutHelpWords(rs.io);
  const char* first = rs.io.arguments[1].c_str();
  if (isStarterOption(first) || isHelpOption(first)) warnAboutFirstArgument(rs.io);
  if (isStarterOption(first)) return printStarter(rs.io);
  applyDefaults(rs.given, rs.io);
  if (isHelpOption(first)) return printHelp(rs.io);
  return runStages(rs, Stage::arguments, observer);
}

}  // namespace

int runStage(RunState& rs, Stage stage) {
  for (const StageStep& step : kSequence)
    if (step.stage == stage) return step.run(rs);
  return 0;
}

int runStages(RunState& rs, Stage first, StageObserver* observer) {
  for (const StageStep& step : kSequence) {
    if (step.stage < first || (step.wanted && !step.wanted(rs))) continue;
    if (observer && !observer->starting(step.stage)) return 0;
    const int status = step.run(rs);
    if (observer) observer->finished(step.stage, status);
    if (status != 0) return status;
  }
  return 0;
}

void warn(RunIO& io, std::string text) { io.warnings.push_back(std::move(text)); }

int runAnalysis(RunState& rs, StageObserver* observer) {
  rs.io.result = rs.io.standardOutput;
  rs.io.log = rs.io.standardError;
  rs.given.baseDirectory = pwd(0, nullptr);
  std::fprintf(rs.io.log, "$PWD=%s\n", rs.given.baseDirectory.c_str());
  registerKeywords(rs.given);
  StageLog stages(observer);
  const int status = optionsAndStages(rs, &stages);
  for (const std::string& w : rs.io.warnings) std::fprintf(rs.io.log, "warning: %s\n", w.c_str());
  int exitStatus = cleanUp(rs.io, status);  // a report lost on the way changes a 0 into kReportLost
  if (exitStatus == 0 && rs.given.settings.strict != 0 && !rs.io.warnings.empty())
    exitStatus = kStrictWarnings;
  writeRunRecord(rs, stages.stages, exitStatus);
  if (rs.io.keepRecord) rs.io.record = runRecordText(rs, stages.stages, exitStatus);
  return exitStatus;
}
