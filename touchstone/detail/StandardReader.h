// The standard reader's state and its steps, for the files that make it up (not
// installed): lines, comments and tokens (TouchstoneStandard.cpp), the option line and
// the keywords (TouchstoneStandardHeader.cpp), the records of network and noise data of
// every version (TouchstoneStandardRecords.cpp), and the conversion to single-ended S at
// the caller's reference (TouchstoneStandardConvert.cpp).
#pragma once

#include <complex>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "TouchstoneStandard.h"
#include "detail/Numbers.h"
#include "detail/Vocabulary.h"

namespace brevo {

namespace touchstone_detail {

// Entries one set may hold: the library's limit on a set's bytes.
inline constexpr std::size_t kMaxEntries = static_cast<std::size_t>(kMaxSetBytes / 16);

// The whole token as a number of the standard reader (strictNumber).
bool parseNumber(std::string_view t, double* v);
// A positive integer that fits an int.
bool parseCount(std::string_view t, long long* v);
// The blank-separated tokens of a line.
std::vector<std::string_view> tokens(std::string_view s);
std::string printed(const char* format, double v);
std::string number(double v);  // "%.10g"
// The port count a 1.x file's name gives: ".s4p", ".Y2P" and so on; 0 without one.
int portsFromName(const std::string& name);

inline constexpr const char* kKeywords[] = {"Version",
                                            "Number of Ports",
                                            "Two-Port Data Order",
                                            "Number of Frequencies",
                                            "Number of Noise Frequencies",
                                            "Reference",
                                            "Matrix Format",
                                            "Mixed-Mode Order",
                                            "Begin Information",
                                            "End Information",
                                            "Network Data",
                                            "Noise Data",
                                            "End"};
enum Keyword {
  kVersion,
  kPorts,
  kTwoPortOrder,
  kFrequencies,
  kNoiseFrequencies,
  kReference,
  kMatrixFormat,
  kMixedMode,
  kBeginInformation,
  kEndInformation,
  kNetworkData,
  kNoiseData,
  kEnd,
  kKeywordCount
};

// What the network data of the two versions differ in; one walk reads them all.
struct RecordRules {
  // The records the data hold ([Number of Frequencies]): their storage is sized before
  // the walk and every number is counted, the count said before any other problem. 0
  // where the file does not say (1.x): the records run until the frequency stops rising,
  // the storage is sized from the first record, and the walk stops at the first problem.
  std::size_t points = 0;
  // The line that opens the data (1.x's option line, 2.x's [Network Data]): where a
  // wrong count of numbers is said.
  int openedAt = 0;
  // A line that begins with '[' ends the data (2.x); in 1.x such a line breaks a rule.
  bool keywordsEnd = false;
  // The frequency that stops rising begins the noise lines (a 1.x 2-port).
  bool noiseFollows = false;
};

struct Line {
  int number = 0;
  std::string_view content;  // before any comment
  std::string_view comment;  // from the '!' on; empty when there is none
  std::string_view trimmed() const {
    std::size_t b = 0, e = content.size();
    while (b < e && isBlank(content[b])) ++b;
    while (e > b && isBlank(content[e - 1])) --e;
    return content.substr(b, e - b);
  }
};

class StandardReader {
 public:
  StandardReader(std::string_view text, const std::string& name,
                 const TouchstoneReadOptions& options);
  TouchstoneFile run();
  // The option line and the first comment after numbers of a Version 1.x text.
  Version1Declarations declarations();

 private:
  using complex = std::complex<double>;

  // ---- lines, comments, failures ----
  bool atEnd() const { return pos_ >= text_.size(); }
  int lastLine() const;
  bool next(Line& l);
  bool badCharacter(unsigned c);
  bool nextContent(Line& l);
  void comment(std::string_view text);
  bool fail(int line, std::string rule);
  bool deviate(int line, std::string rule, std::string taken);

  // ---- the option line and keywords ----
  bool optionLine(const Line& l, bool version2);
  Keyword keyword(const Line& l, std::string_view* args);
  static std::string bracket(Keyword k);
  bool noArguments(Keyword k, std::string_view args, int line);
  bool count(Keyword k, std::string_view args, int line, long long* n);
  bool collect(Keyword k, std::string_view args, int line, std::vector<std::string>& out);
  bool references(std::string_view args, int line);
  bool mixedModeOrder(std::string_view args, int line);
  bool keywordIs(std::string_view t, std::string_view name);
  bool read();
  bool readVersion1(const Line& option);
  bool portsFromFirstRecord(int optionLine);
  bool readVersion2();

  // ---- records ----
  template <typename Take>
  bool numbers(bool keywordsEnd, Take&& take);
  bool records(const RecordRules& rules);
  void reserveRecords(std::size_t points);
  bool readNoise(std::size_t expected, int keywordLine);
  double hertz(std::size_t at, double v) const;
  bool tooLargeFrequency(double v);
  bool addNoise(const double* v, std::size_t held, int line);
  void layout();
  void place(std::size_t r, double v);

  // ---- to single-ended S at the caller's reference ----
  bool convert();

  struct Mode {
    char kind;
    int p, q;
  };

  std::string_view text_;
  TouchstoneReadOptions options_;
  TouchstoneFile result_;
  std::size_t pos_ = 0;
  int line_ = 1;
  bool failed_ = false;
  bool keepComments_ = false;
  std::vector<std::string> comments_;
  double unitScale_ = 1e9;
  int unitDigits_ = 9;
  std::vector<double> optionR_;
  std::vector<double> reference_;
  std::vector<Mode> modes_;
  int ports_ = 0;
  bool order2112_ = false;
  std::vector<std::size_t> target_, mirror_;
  std::size_t recordSize_ = 0;
  double pending_ = 0;
  std::vector<double> freq_;
  std::vector<complex> entries_;
  std::vector<complex> record_;  // the matrix of the record being read
};

}  // namespace touchstone_detail

}  // namespace brevo
