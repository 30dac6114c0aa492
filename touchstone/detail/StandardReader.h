// The standard reader's state and its steps, for the files that make it up (not
// installed): lines, comments and tokens (TouchstoneStandard.cpp), the option line and
// the keywords (TouchstoneStandardHeader.cpp), the records of network and noise data of
// every version (TouchstoneStandardRecords.cpp), and the conversion to single-ended S at
// the caller's reference (TouchstoneStandardConvert.cpp).
#pragma once

#include <charconv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "TouchstoneStandard.h"
#include "detail/Digits.h"

namespace touchstone_detail {

// Entries one set may hold: the library's limit on a set's bytes.
inline constexpr std::size_t kMaxEntries = static_cast<std::size_t>(kMaxSetBytes / 16);

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
inline bool isDelimiter(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '!';
}
inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

// Powers of ten that are exact doubles.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A number as the standard writes one: sign, digits with an optional point, an optional
// exponent; from p (not white space) to the next delimiter. Returns the end, or null
// when the token is not such a number or is too large for a double. One pass: the
// digits are gathered as they are checked, and where they fit 53 bits and the power of
// ten is exact, one multiplication or division gives the correctly rounded double, and
// most other mantissas of up to 19 digits convert by wideDecimal (the common short forms
// by quickDecimal, without bounds checks); anything else goes to std::from_chars, which
// rounds correctly too.
inline const char* strictNumber(const char* p, const char* e, double* value) {
  if (double v; e - p >= 40) {   // far enough from the end for the quick scan's reads
    if (const char* q = touchstone_detail::quickDecimal(p, &v)) {
      if (!isDelimiter(*q)) return nullptr;
      *value = v;
      return q;
    }
  }
  const char* q = p;
  const bool negative = q < e && *q == '-';
  if (q < e && (*q == '+' || *q == '-')) ++q;
  std::uint64_t mantissa = 0;
  bool fits = true;
  const char* integer = q;
  touchstone_detail::digitRun<true>(q, e, e, mantissa, fits);
  std::ptrdiff_t count = q - integer, scale = 0;
  if (q < e && *q == '.') {
    const char* fraction = ++q;
    touchstone_detail::digitRun<true>(q, e, e, mantissa, fits);
    scale = q - fraction;
    count += scale;
  }
  if (count == 0) return nullptr;
  int exponent = 0;
  if (q < e && (*q == 'e' || *q == 'E')) {
    ++q;
    const bool down = q < e && *q == '-';
    if (q < e && (*q == '+' || *q == '-')) ++q;
    const char* digits = q;
    for (; q < e && isDigit(*q); ++q)
      if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
    if (q == digits) return nullptr;
    if (down) exponent = -exponent;
  }
  if (q < e && !isDelimiter(*q)) return nullptr;
  const std::ptrdiff_t power = exponent - scale;
  if (fits && mantissa <= (std::uint64_t{1} << 53) && power >= -22 && power <= 22) {
    const double m = static_cast<double>(mantissa);
    const double v = power >= 0 ? m * kExactPowers[power] : m / kExactPowers[-power];
    *value = negative ? -v : v;
    return q;
  }
  if (double v; fits && touchstone_detail::wideDecimal(mantissa, power, &v)) {
    *value = negative ? -v : v;
    return q;
  }
  const char* start = *p == '+' ? p + 1 : p;
  const auto [end, ec] = std::from_chars(start, q, *value);
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as the nearest double (zero or subnormal), as strtod gives it;
    // overflow is no value at all.
    const std::string copy(start, q);
    *value = std::strtod(copy.c_str(), nullptr);
    return std::isfinite(*value) ? q : nullptr;
  }
  if (ec != std::errc() || end != q) return nullptr;
  return q;
}

// The whole token as such a number.
bool parseNumber(std::string_view t, double* v);
// A positive integer that fits an int.
bool parseCount(std::string_view t, long long* v);
// The blank-separated tokens of a line.
std::vector<std::string_view> tokens(std::string_view s);
std::string printed(const char* format, double v);
std::string number(double v);   // "%.10g"
// The port count a 1.x file's name gives: ".s4p", ".Y2P" and so on; 0 without one.
int portsFromName(const std::string& name);

inline constexpr const char* kKeywords[] = {
    "Version",           "Number of Ports",   "Two-Port Data Order", "Number of Frequencies",
    "Number of Noise Frequencies", "Reference", "Matrix Format",    "Mixed-Mode Order",
    "Begin Information", "End Information",   "Network Data",        "Noise Data",
    "End"};
enum Keyword {
  kVersion, kPorts, kTwoPortOrder, kFrequencies, kNoiseFrequencies, kReference,
  kMatrixFormat, kMixedMode, kBeginInformation, kEndInformation, kNetworkData,
  kNoiseData, kEnd, kKeywordCount
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
  StandardReader(std::string_view text, const std::string& name, const TouchstoneReadOptions& options);
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
  bool numbers(bool version1, Take&& take);
  bool version1Records(int optionAt);
  bool version2Records(int networkLine, long long frequencies);
  bool readNoise(std::size_t expected, int keywordLine);
  double hertz(std::size_t at, double v) const;
  bool tooLargeFrequency(double v);
  bool addNoise(const double* v, int line);
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
