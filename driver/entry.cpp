// Start-up, keyword registration, options, defaults and arguments of a run.
#include "entry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "variants.h"

namespace {

// Longest piece of a control-file line handled at once; a longer line becomes
// several pieces, each applied as a line of its own.
constexpr int kLinePiece = 998;

struct Keyword {
  void* address;
  const char* definition;   // the name, or "name=" to assign the empty value at once
  char type;                // x hexadecimal int, i int, e engineering double, s text
};

}  // namespace

// A run reads its files one after the other, each into buffers of megabytes. Freed
// buffers stay with the process for the next file: handing them back to the system
// after every file and faulting them in again made reading them 1.7 times as slow.
void keepFreedMemory() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 << 20);    // blocks below this come from the heap
  mallopt(M_TRIM_THRESHOLD, 256 << 20);   // free heap kept up to this before trimming
#endif
}

void startUp(RunState& rs, int argc, char** argv) {
  keepFreedMemory();
  rs.baseDirectory = pwd(argc, argv);
  rs.log = initialLog(argc, argv);
  rs.result = initialOut(argc, argv);
  std::fprintf(rs.log, "$PWD=%s\n", rs.baseDirectory.c_str());
}

void registerKeywords(RunState& rs) {
  Settings& s = rs.settings;
  s.oversample = 4;   // no line in the starter file sets it
  const Keyword keywords[] = {
      {&s.input_ports, "input_ports", 'x'},
      {&s.output_ports, "output_ports", 'x'},
      {&s.limit_range, "limit_range", 'i'},
      {&s.PAM, "PAM", 'i'},
      {&s.data_rate, "data_rate=", 'e'},   // one rate, two names; 0 until the defaults
      {&s.data_rate, "baud_rate=", 'e'},
      {s.Thru, "Sparameters", 's'},
      {s.Thru, "Thru", 's'},
      {s.NEXT, "NEXT", 's'},
      {s.FEXT, "FEXT", 's'},
      {s.save_file, "save_file", 's'},
      {s.results, "results", 's'},
      {s.log, "log", 's'},
      {&s.signal, "signal", 'e'},
      {&s.tx_rise, "tx_rise", 'e'},
      {&s.tx_bandwidth, "tx_bandwidth", 'e'},
      {&s.tx_near_rise, "tx_near_rise", 'e'},
      {&s.tx_near_bandwidth, "tx_near_bandwidth", 'e'},
      {&s.tx_far_rise, "tx_far_rise", 'e'},
      {&s.tx_far_bandwidth, "tx_far_bandwidth", 'e'},
      {&s.rx_rise, "rx_rise", 'e'},
      {&s.rx_bandwidth, "rx_bandwidth", 'e'},
      {&s.NEXT_amp, "NEXT_amp", 'e'},
      {&s.target_BER, "target_BER", 'e'},
      {&s.g0Tx, "g0Tx", 'e'},
      {&s.Tx_resistance_error, "Tx_resistance_error", 'e'},
      {&s.g0Rx, "g0Rx", 'e'},
      {&s.Rx_resistance_error, "Rx_resistance_error", 'e'},
      {&s.pTx, "pTx", 'e'},
      {&s.pRx, "pRx", 'e'},
      {&s.implementation_noise_factor, "implementation_noise_factor", 'e'},
      {&s.implementation_gain_factor, "implementation_gain_factor", 'e'},
      {&s.N_DFE, "DFE_length", 'e'},
      {&s.N_DFE, "N_DFE", 'e'},
      {&s.E_DFE, "E_DFE", 'e'},
      {&s.oversample, "oversample", 'i'},
      {&s.slicer_allowance, "slicer_allowance", 'e'},
      {&s.a4_limit, "a4_limit", 'e'},
  };
  if (!rs.table) rs.table = create_variable_def();
  for (const Keyword& k : keywords) add_variable(rs.table.get(), k.address, k.definition, k.type);
}

bool isStarterOption(const char* firstArgument) {
  return std::strstr(firstArgument, "-b") || std::strstr(firstArgument, "-c");
}

bool isHelpOption(const char* firstArgument) {
  return std::strstr(firstArgument, "-?") != nullptr;
}

int printUsage(RunState& rs) {
  std::fputs(kUsageLine, rs.log);
  return 2;
}

// The status is the number of command-line words, program name included.
int printStarter(RunState& rs, int argc) {
  std::fputs(kStarterControlFile, rs.result);
  return argc;
}

int printHelp() {
  std::printf("Brevo: %s", kHelpText);
  return 0;
}

void applyDefaults(RunState& rs) {
  std::string_view text = kStarterControlFile;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = line.substr(0, line.find('#'));   // every "#" starts a comment
    equal(rs.table.get(), line, rs.log);
  }
}

void applyUserAssignment(RunState& rs, std::string_view text) {
  equal(rs.table.get(), text, rs.log);
  postProcess(rs);
}

namespace {

// Applies a control file line by line with the echo on the log; 2 when it cannot
// be opened.
int applyControlFile(RunState& rs, const char* name) {
  std::fprintf(rs.log, "opening %s\n", name);
  FILE* file = std::fopen(name, "r");
  if (!file) {
    std::fprintf(rs.log, "could not open %s\n", name);
    return 2;
  }
  char piece[kLinePiece + 1];
  while (std::fgets(piece, sizeof piece, file)) {
    std::fputs(piece, rs.log);
    applyUserAssignment(rs, piece);
  }
  // A name that opens but cannot be read (a directory, a failing device) is a control
  // file that cannot be opened, with the same message and status (our choice).
  const bool unreadable = std::ferror(file) != 0;
  std::fclose(file);
  if (unreadable) {
    std::fprintf(rs.log, "could not open %s\n", name);
    return 2;
  }
  return 0;
}

}  // namespace

int applyArguments(RunState& rs, int argc, char** argv) {
  for (int position = 1; position < argc; ++position) {
    const char* argument = argv[position];
    if (std::strchr(argument, '=')) {
      applyUserAssignment(rs, argument);
    } else if (int status = applyControlFile(rs, argument)) {
      return status;
    }
    std::fprintf(rs.log, "%d  %s\n", position, argument);
  }
  return 0;
}

bool finishStream(FILE* stream, bool close, const char** why) {
  errno = 0;
  bool lost = std::fflush(stream) != 0 || std::ferror(stream) != 0;
  int error = errno;
  if (close && std::fclose(stream) != 0) {
    lost = true;
    if (error == 0) error = errno;
  }
  *why = error != 0 ? std::strerror(error) : nullptr;
  return !lost;
}

namespace {

void sayLost(const char* what, const char* why) {
  if (why)
    std::fprintf(stderr, "could not write the %s: %s\n", what, why);
  else
    std::fprintf(stderr, "could not write all of the %s\n", what);
}

}  // namespace

int cleanUp(RunState& rs, int status) {
  const char* why = nullptr;
  const bool reportKept = finishStream(rs.result, rs.result != stdout && rs.result != stderr, &why);
  if (!reportKept) sayLost("report", why);
  if (rs.log != rs.result && !finishStream(rs.log, rs.log != stdout && rs.log != stderr, &why) &&
      rs.log != stderr)
    sayLost("log", why);
  rs.result = stdout;
  rs.log = stderr;
  return !reportKept && status == 0 ? kReportLost : status;
}
