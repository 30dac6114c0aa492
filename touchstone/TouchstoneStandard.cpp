// The standard Touchstone reader: lines and numbers, the option line, the Version 2.x
// keyword section, network and noise data, then the conversion to single-ended S at
// the caller's reference.
#include "TouchstoneStandard.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <new>
#include <string>
#include <unistd.h>

#include "cmatrix.h"
#include "detail/Digits.h"
#include "FileText.h"

using complex = std::complex<double>;

namespace {

// Entries one set may hold: the library's limit on a set's bytes.
constexpr std::size_t kMaxEntries = static_cast<std::size_t>(kMaxSetBytes / 16);

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
inline bool isDelimiter(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '!';
}
inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

std::string printed(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}
std::string number(double v) { return printed("%.10g", v); }

// Powers of ten that are exact doubles.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A number as the standard writes one: sign, digits with an optional point, an optional
// exponent; from p (not white space) to the next delimiter. Returns the end, or null
// when the token is not such a number or is too large for a double. One pass: the
// digits are gathered as they are checked, and where they fit 53 bits and the power of
// ten is exact, one multiplication or division gives the correctly rounded double, and
// most other mantissas of up to 19 digits convert by wideDecimal (the common short forms
// by quickDecimal, without bounds checks); anything else goes to std::from_chars, which
// rounds correctly too.
const char* strictNumber(const char* p, const char* e, double* value) {
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

std::vector<std::string_view> tokens(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && isBlank(s[i])) ++i;
    const std::size_t b = i;
    while (i < s.size() && !isBlank(s[i])) ++i;
    if (i > b) out.push_back(s.substr(b, i - b));
  }
  return out;
}

bool parseNumber(std::string_view t, double* v) {
  return strictNumber(t.data(), t.data() + t.size(), v) == t.data() + t.size();
}

// A positive integer that fits an int.
bool parseCount(std::string_view t, long long* v) {
  if (t.empty() || t.size() > 12) return false;
  std::size_t i = t[0] == '+' ? 1 : 0;
  if (i == t.size()) return false;
  long long n = 0;
  for (; i < t.size(); ++i) {
    if (!isDigit(t[i])) return false;
    n = n * 10 + (t[i] - '0');
  }
  *v = n;
  return true;
}

constexpr const char* kKeywords[] = {
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

// The port count a 1.x file's name gives: ".s4p", ".Y2P" and so on; 0 without one.
int portsFromName(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return 0;
  const std::string_view ext = std::string_view(name).substr(dot + 1);
  if (ext.size() < 3 || std::string_view("sSyYzZhHgG").find(ext[0]) == std::string_view::npos ||
      upper(ext.back()) != 'P')
    return 0;
  long long n = 0;
  if (!parseCount(ext.substr(1, ext.size() - 2), &n) || n < 1 || n > 100000) return 0;
  return static_cast<int>(n);
}

// A X = B, both n x n in row-major order, by LU through the matrix library's LAPACK
// bridge; B becomes X. False when A is singular or X is not finite.
bool solve(const std::vector<complex>& a, std::vector<complex>& b, int n) {
  const auto N = static_cast<std::size_t>(n);
  cmatrix A(n, n, nullptr), B(n, n, nullptr);
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      A.set(static_cast<int>(i), static_cast<int>(j), a[i * N + j]);
      B.set(static_cast<int>(i), static_cast<int>(j), b[i * N + j]);
    }
  int status = 0;
  const cmatrix X = B.solve(A, nullptr, &status);
  if (status != 0 || X.Rows() != n || X.Columns() != n) return false;
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      const complex x = X.value(static_cast<int>(i), static_cast<int>(j));
      if (!std::isfinite(x.real()) || !std::isfinite(x.imag())) return false;
      b[i * N + j] = x;
    }
  return true;
}

// out = a b, or a^T b, for n x n matrices in row-major order.
template <typename A, typename B>
void multiply(const std::vector<A>& a, bool transposeA, const std::vector<B>& b, std::vector<complex>& out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      complex sum = 0;
      for (std::size_t c = 0; c < n; ++c) sum += (transposeA ? a[c * n + i] : a[i * n + c]) * b[c * n + j];
      out[i * n + j] = sum;
    }
}

class Reader {
 public:
  Reader(std::string_view text, const std::string& name, const TouchstoneReadOptions& options)
      : text_(text), options_(options) {
    result_.name = name;
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;  // a UTF-8 byte-order mark
  }

  TouchstoneFile run() {
    try {
      if (read() && convert()) result_.ok = true;
    } catch (const std::bad_alloc&) {
      fail(0, "too large to hold in memory");
    }
    if (!result_.ok) result_.set = Sparams();
    return std::move(result_);
  }

  // The option line and the first comment after numbers of a Version 1.x text.
  Version1Declarations declarations() {
    Version1Declarations d;
    Line l;
    while (nextContent(l))
      if (l.trimmed()[0] == '#') break;
    if (failed_ || l.trimmed().empty() || l.trimmed()[0] != '#') return d;
    d.optionLine = true;
    failed_ = false;
    if (optionLine(l, false)) {
      d.parameter = result_.info.parameter;
      d.R = optionR_;
    }
    failed_ = false;
    // A '!' with numbers before it on its line.
    const char* b = text_.data();
    const char* e = b + text_.size();
    const char* p = b + pos_;
    int line = line_;
    const char* lineStart = p;
    while (p < e) {
      const char* bang = static_cast<const char*>(std::memchr(p, '!', static_cast<std::size_t>(e - p)));
      if (!bang) break;
      // Lines between p and the '!'.
      for (const char* q = p; q < bang; ++q)
        if (*q == '\n' || (*q == '\r' && (q + 1 == e || q[1] != '\n'))) {
          ++line;
          lineStart = q + 1;
        }
      const char* q = lineStart;
      while (q < bang && isBlank(*q)) ++q;
      if (q < bang && *q != '#' && *q != '[') {
        d.commentAfterData = line;
        break;
      }
      p = bang + 1;
      while (p < e && *p != '\n' && *p != '\r') ++p;
    }
    return d;
  }

 private:
  // ---- lines ----
  bool atEnd() const { return pos_ >= text_.size(); }
  int lastLine() const {
    if (text_.empty()) return 1;
    const char c = text_.back();
    return (c == '\n' || c == '\r') ? line_ - 1 : line_;
  }

  // The next line with its comment split off; false at the end of the text or when a
  // character is not allowed (the error is then set).
  bool next(Line& l) {
    if (atEnd() || failed_) return false;
    const char* b = text_.data();
    const char* p = b + pos_;
    const char* e = b + text_.size();
    const char* start = p;
    const char* commentAt = nullptr;
    for (; p < e; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == '\n' || c == '\r') break;
      if (c == '!' && !commentAt) commentAt = p;
      if ((c < 0x20 && c != '\t') || c == 0x7F) return badCharacter(c);
      if (c > 0x7E && !commentAt) return badCharacter(c);
    }
    l.number = line_;
    l.content = std::string_view(start, static_cast<std::size_t>((commentAt ? commentAt : p) - start));
    l.comment = commentAt ? std::string_view(commentAt, static_cast<std::size_t>(p - commentAt))
                          : std::string_view();
    if (p < e) {
      if (*p == '\r' && p + 1 < e && p[1] == '\n') ++p;
      ++p;
      ++line_;
    }
    pos_ = static_cast<std::size_t>(p - b);
    return true;
  }

  bool badCharacter(unsigned c) {
    char text[96];
    std::snprintf(text, sizeof text,
                  c > 0x7E ? "byte 0x%02X is allowed only in a comment"
                           : "control character 0x%02X is not allowed",
                  c);
    return fail(line_, text);
  }

  // The next line that holds more than a comment; comments met on the way are kept
  // while the header is read.
  bool nextContent(Line& l) {
    while (next(l)) {
      if (!l.trimmed().empty()) return true;
      if (keepComments_ && l.comment.size() > 1) comment(l.comment);
    }
    return false;
  }

  void comment(std::string_view text) {
    std::string c(text);
    c.push_back('\n');
    comments_.push_back(std::move(c));
  }

  bool fail(int line, std::string rule) {
    if (!failed_) {
      failed_ = true;
      result_.error = {line, std::move(rule), {}};
    }
    return false;
  }
  // A deviation the lenient reading accepts: noted, or the error in strict reading.
  bool deviate(int line, std::string rule, std::string taken) {
    if (!options_.lenient) return fail(line, std::move(rule));
    result_.info.deviations.push_back({line, std::move(rule), std::move(taken)});
    return true;
  }

  // ---- the option line ----
  bool optionLine(const Line& l, bool version2) {
    TouchstoneInfo& info = result_.info;
    bool unit = false, parameter = false, fmt = false, r = false;
    const auto items = tokens(l.trimmed().substr(1));
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string_view t = items[i];
      auto twice = [&](const char* what) {
        return fail(l.number, std::string("the option line gives the ") + what + " twice");
      };
      if (sameText(t, "Hz") || sameText(t, "kHz") || sameText(t, "MHz") || sameText(t, "GHz")) {
        if (unit) return twice("frequency unit");
        unit = true;
        info.unit = sameText(t, "Hz") ? "Hz" : sameText(t, "kHz") ? "kHz" : sameText(t, "MHz") ? "MHz" : "GHz";
      } else if (t.size() == 1 && std::string_view("SYZHG").find(upper(t[0])) != std::string_view::npos) {
        if (parameter) return twice("parameter");
        parameter = true;
        info.parameter = upper(t[0]);
      } else if (sameText(t, "RI") || sameText(t, "MA") || sameText(t, "DB")) {
        if (fmt) return twice("format");
        fmt = true;
        info.dataFormat = sameText(t, "RI") ? RI : sameText(t, "MA") ? MA : DB;
      } else if (sameText(t, "R")) {
        if (r) return twice("reference resistance");
        r = true;
        double v = 0;
        while (i + 1 < items.size() && parseNumber(items[i + 1], &v)) {
          if (!(v > 0)) return fail(l.number, "R on the option line must be positive, not " + std::string(items[i + 1]));
          optionR_.push_back(v);
          ++i;
        }
        if (optionR_.empty())
          return fail(l.number, "R on the option line needs a positive resistance");
        if (optionR_.size() > 1 && i + 1 < items.size()) {
          if (version2)
            return fail(l.number, "a Version 2.x option line takes a single R value (per-port references go in [Reference])");
          return fail(l.number, "per-port R values must end the option line");
        }
      } else {
        return fail(l.number, "unknown item '" + std::string(t) + "' on the option line");
      }
    }
    if (!optionR_.empty()) info.optionR = optionR_.front();
    unitScale_ = info.unit == "Hz" ? 1.0 : info.unit == "kHz" ? 1e3 : info.unit == "MHz" ? 1e6 : 1e9;
    unitDigits_ = info.unit == "Hz" ? 0 : info.unit == "kHz" ? 3 : info.unit == "MHz" ? 6 : 9;
    if (version2 && optionR_.size() > 1 &&
        !deviate(l.number, "a Version 2.x option line takes a single R value (per-port references go in [Reference])",
                 "read as the port references"))
      return false;
    return true;
  }

  // ---- keywords ----
  // The keyword a content line starts with (kKeywordCount with the error set when the
  // bracket holds no keyword of the standard); args receives the rest of the line.
  Keyword keyword(const Line& l, std::string_view* args) {
    const std::string_view t = l.trimmed();
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) {
      fail(l.number, "'[' without ']'");
      return kKeywordCount;
    }
    const std::string_view name = t.substr(1, close - 1);
    for (int k = 0; k < kKeywordCount; ++k) {
      if (sameText(name, kKeywords[k])) {
        const std::string_view rest = t.substr(close + 1);
        if (!rest.empty() && !isBlank(rest[0])) {
          fail(l.number, "[" + std::string(kKeywords[k]) + "] needs a blank before its arguments");
          return kKeywordCount;
        }
        *args = rest;
        return static_cast<Keyword>(k);
      }
    }
    fail(l.number, "unknown keyword [" + std::string(name) + "]");
    return kKeywordCount;
  }

  static std::string bracket(Keyword k) { return "[" + std::string(kKeywords[k]) + "]"; }

  bool noArguments(Keyword k, std::string_view args, int line) {
    if (!tokens(args).empty()) return fail(line, bracket(k) + " takes no arguments");
    return true;
  }

  bool count(Keyword k, std::string_view args, int line, long long* n) {
    const auto t = tokens(args);
    if (t.size() != 1 || !parseCount(t[0], n) || *n < 1 || *n > 0x7FFFFFFF)
      return fail(line, bracket(k) + " needs an integer greater than 0, not " +
                            (t.empty() ? std::string("nothing") : std::string(args.substr(args.find_first_not_of(" \t")))));
    return true;
  }

  // Values of [Reference] or [Mixed-Mode Order]: from the keyword line on, over
  // further lines, until N are found.
  bool collect(Keyword k, std::string_view args, int line, std::vector<std::string>& out) {
    const auto n = static_cast<std::size_t>(ports_);
    auto take = [&](std::string_view text, int at) {
      for (const auto t : tokens(text)) {
        if (out.size() == n) return fail(at, bracket(k) + " holds more than " + std::to_string(n) + " values");
        out.emplace_back(t);
      }
      return true;
    };
    if (!take(args, line)) return false;
    Line l;
    while (out.size() < n) {
      const std::size_t save = pos_;
      const int saveLine = line_;
      if (!nextContent(l)) {
        if (failed_) return false;
        return fail(lastLine(), bracket(k) + " needs " + std::to_string(n) + " values, found " + std::to_string(out.size()));
      }
      const std::string_view t = l.trimmed();
      if (t[0] == '[' || t[0] == '#') {
        pos_ = save;
        line_ = saveLine;
        return fail(l.number, bracket(k) + " needs " + std::to_string(n) + " values, found " + std::to_string(out.size()));
      }
      if (!take(t, l.number)) return false;
    }
    return true;
  }

  bool references(std::string_view args, int line) {
    std::vector<std::string> values;
    if (!collect(kReference, args, line, values)) return false;
    for (const auto& v : values) {
      double r = 0;
      if (!parseNumber(v, &r)) return fail(line, "[Reference] value '" + v + "' is not a number");
      if (!(r > 0)) return fail(line, "[Reference] values must be positive, not " + v);
      reference_.push_back(r);
    }
    return true;
  }

  bool mixedModeOrder(std::string_view args, int line) {
    std::vector<std::string> list;
    if (!collect(kMixedMode, args, line, list)) return false;
    const char p = result_.info.parameter;
    if (p == 'H' || p == 'G')
      return fail(line, std::string(1, p) + "-parameters cannot be mixed-mode data (only S, Y or Z)");
    std::vector<int> use(static_cast<std::size_t>(ports_) + 1, 0);
    struct Pair { int p, q; bool d; };
    std::vector<Pair> pairs;
    for (const auto& d : list) {
      const char kind = upper(d[0]);
      auto bad = [&] {
        return fail(line, "[Mixed-Mode Order] descriptor '" + d + "' is not S<p>, D<p>,<q> or C<p>,<q>");
      };
      if (kind != 'S' && kind != 'D' && kind != 'C') return bad();
      const std::string_view body = std::string_view(d).substr(1);
      const std::size_t comma = body.find(',');
      long long a = 0, b = 0;
      if (kind == 'S') {
        if (comma != std::string_view::npos || !parseCount(body, &a) || body[0] == '+') return bad();
      } else {
        if (comma == std::string_view::npos || !parseCount(body.substr(0, comma), &a) ||
            !parseCount(body.substr(comma + 1), &b) || body[0] == '+' || body[comma + 1] == '+')
          return bad();
      }
      const long long named[2] = {a, b};
      for (int c = 0; c < (kind == 'S' ? 1 : 2); ++c) {
        const long long v = named[c];
        if (v < 1 || v > ports_)
          return fail(line, "[Mixed-Mode Order] descriptor '" + d + "' names a port outside 1.." + std::to_string(ports_));
      }
      if (kind != 'S' && a == b) return fail(line, "[Mixed-Mode Order] descriptor '" + d + "' pairs a port with itself");
      if (kind == 'S') {
        if (use[static_cast<std::size_t>(a)]++) return fail(line, "port " + std::to_string(a) + " appears twice in [Mixed-Mode Order]");
      } else {
        pairs.push_back({static_cast<int>(a), static_cast<int>(b), kind == 'D'});
      }
      modes_.push_back({kind, static_cast<int>(a), static_cast<int>(b)});
      result_.info.mixedModeOrder.push_back(std::string(1, kind) + std::string(body));
    }
    // Every D needs its C over the same two ports (in either order), once.
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      if (!pairs[i].d) continue;
      int partners = 0;
      for (const auto& c : pairs)
        if (!c.d && ((c.p == pairs[i].p && c.q == pairs[i].q) || (c.p == pairs[i].q && c.q == pairs[i].p))) ++partners;
      if (partners != 1)
        return fail(line, "D" + std::to_string(pairs[i].p) + "," + std::to_string(pairs[i].q) +
                              " needs exactly one common mode of the same ports in [Mixed-Mode Order]");
      for (int v : {pairs[i].p, pairs[i].q})
        if (use[static_cast<std::size_t>(v)]++) return fail(line, "port " + std::to_string(v) + " appears twice in [Mixed-Mode Order]");
    }
    for (const auto& c : pairs) {
      if (c.d) continue;
      bool found = false;
      for (const auto& d : pairs)
        if (d.d && ((c.p == d.p && c.q == d.q) || (c.p == d.q && c.q == d.p))) found = true;
      if (!found)
        return fail(line, "C" + std::to_string(c.p) + "," + std::to_string(c.q) + " has no differential mode D" +
                              std::to_string(c.p) + "," + std::to_string(c.q) + " in [Mixed-Mode Order]");
    }
    for (int v = 1; v <= ports_; ++v)
      if (!use[static_cast<std::size_t>(v)]) return fail(line, "port " + std::to_string(v) + " is missing from [Mixed-Mode Order]");
    return true;
  }

  // ---- numbers ----
  // Every number from the current line on, until a line that starts with '[' (left
  // unread) or the end of the text. take(value, firstOnLine, offset) returns false to
  // stop.
  template <typename Take>
  bool numbers(bool version1, Take&& take) {
    const char* b = text_.data();
    const char* p = b + pos_;
    const char* e = b + text_.size();
    const char* lineBegin = p;
    bool lineStart = true;
    bool inComment = false;
    while (p < e) {
      const char c = *p;
      if (c == '\n' || c == '\r') {
        if (c == '\r' && p + 1 < e && p[1] == '\n') ++p;
        ++p;
        ++line_;
        lineStart = true;
        inComment = false;
        lineBegin = p;
        continue;
      }
      if (inComment || c == '!') {
        inComment = true;
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) return badCharacter(u);
        ++p;
        continue;
      }
      if (isBlank(c)) {
        ++p;
        continue;
      }
      if (lineStart && c == '[') {
        if (version1) return fail(line_, "keywords are not allowed in a Version 1.x file (it begins with an option line)");
        pos_ = static_cast<std::size_t>(lineBegin - b);
        return true;
      }
      if (lineStart && c == '#') {  // a later option line: ignored
        inComment = true;
        ++p;
        continue;
      }
      double v;
      const char* q = strictNumber(p, e, &v);
      if (!q) {
        const char* t = p;
        while (t < e && !isDelimiter(*t)) {
          const auto u = static_cast<unsigned char>(*t);
          if ((u < 0x20 && u != '\t') || u > 0x7E) return badCharacter(u);
          ++t;
        }
        return fail(line_, "'" + std::string(p, std::min<std::ptrdiff_t>(t - p, 40)) + "' is not a number");
      }
      if (!take(v, lineStart, static_cast<std::size_t>(p - b))) return false;
      lineStart = false;
      p = q;
    }
    pos_ = text_.size();
    return true;
  }

  // ---- the whole read ----
  bool read() {
    Line l;
    keepComments_ = true;
    if (!nextContent(l)) {
      if (failed_) return false;
      return fail(lastLine(), "no option line and no [Version]: not a Touchstone file");
    }
    const std::string_view t = l.trimmed();
    if (t[0] == '#') return readVersion1(l);
    if (t[0] == '[') {
      std::string_view args;
      const Keyword k = keyword(l, &args);
      if (k == kKeywordCount) return false;
      if (k != kVersion) return fail(l.number, "a Touchstone file begins with an option line or [Version], not " + bracket(k));
      const auto v = tokens(args);
      if (v.size() != 1 || (v[0] != "2.0" && v[0] != "2.1"))
        return fail(l.number, "[Version] takes one argument, 2.0 or 2.1");
      result_.info.version = std::string(v[0]);
      return readVersion2();
    }
    return fail(l.number, "a Touchstone file begins with an option line or [Version]");
  }

  bool readVersion1(const Line& option) {
    TouchstoneInfo& info = result_.info;
    if (!optionLine(option, false)) return false;
    const int fromName = portsFromName(result_.name);
    const int fromR = optionR_.size() > 1 ? static_cast<int>(optionR_.size()) : 0;
    if (fromName && fromR && fromName != fromR)
      return fail(option.number, "the option line gives " + std::to_string(fromR) + " R values for a " +
                                     std::to_string(fromName) + "-port file");
    ports_ = fromName ? fromName : fromR;
    info.version = fromR ? "1.1" : "1.0";
    if (!ports_ && !portsFromFirstRecord(option.number)) return false;
    const char p = info.parameter;
    if ((p == 'H' || p == 'G') && ports_ != 2)
      return fail(option.number, std::string(1, p) + "-parameters exist only for 2-port networks, not " + std::to_string(ports_) + " ports");
    if (optionR_.empty()) optionR_.push_back(50.0);
    info.optionR = optionR_.front();
    info.references.assign(static_cast<std::size_t>(ports_), optionR_.front());
    if (optionR_.size() > 1) info.references = optionR_;
    info.twoPortOrder = ports_ == 2 ? "21_12" : "";
    order2112_ = ports_ == 2;
    layout();
    keepComments_ = false;

    const std::size_t record = recordSize_;
    std::size_t counted = 0;
    double previous = 0;
    bool noise = false;
    int noiseCount = 0;    // numbers on the current noise line
    int noiseLine = 0;
    double noiseValues[5] = {};
    int startLine = line_;
    bool midLine = false;
    int midLineAt = 0;
    auto endNoiseLine = [&]() {
      if (noiseCount == 0) return true;
      if (noiseCount != 5)
        return fail(noiseLine, "a noise line holds 5 numbers, not " + std::to_string(noiseCount));
      return addNoise(noiseValues, noiseLine);
    };
    std::size_t firstRecordAt = 0;
    std::size_t inRecord = 0;  // where the next number sits in its record
    // The first record's numbers line by line, and the first later line that departs from
    // that layout: a line a number short puts every record after it out of step, which is
    // what to say rather than the falling frequency it leads to.
    std::vector<std::pair<std::size_t, int>> layoutLines;   // (where in the record, numbers)
    bool layoutKnown = false;
    std::size_t lineFrom = 0;
    int lineNumbers = 0, lineNumber = 0;
    int offLine = 0, offHeld = 0, offWanted = 0;
    auto endLine = [&]() {
      if (lineNumbers == 0) return;
      if (!layoutKnown) {
        layoutLines.emplace_back(lineFrom, lineNumbers);
        layoutKnown = lineFrom + static_cast<std::size_t>(lineNumbers) >= record;
      } else if (offLine == 0) {
        for (const auto& [from, numbers] : layoutLines)
          if (from == lineFrom && numbers != lineNumbers) {
            offLine = lineNumber, offHeld = lineNumbers, offWanted = numbers;
            break;
          }
      }
      lineNumbers = 0;
    };
    // A rule the numbers broke at line, said from the line that put them out of step.
    auto outOfStep = [&](int line, const std::string& rule) {
      if (offLine == 0 || offLine >= line) return fail(line, rule);
      return fail(offLine, "the line holds " + std::to_string(offHeld) + " numbers where " +
                               std::to_string(offWanted) + " were expected, which puts the records after it out of step (line " +
                               std::to_string(line) + ": " + rule + ")");
    };
    const bool ok = numbers(true, [&](double v, bool first, std::size_t at) {
      if (!noise) {
        if (first) {
          endLine();
          lineFrom = inRecord;
          lineNumber = line_;
        }
        ++lineNumbers;
      }
      if (noise) {
        if (first) {
          if (!endNoiseLine()) return false;
          noiseCount = 0;
          noiseLine = line_;
        }
        if (noiseCount < 5) noiseValues[noiseCount] = v;
        ++noiseCount;
        return true;
      }
      const std::size_t r = inRecord;
      if (++inRecord == record) inRecord = 0;
      if (r == 0) {
        const double hz = hertz(at, v);
        if (!std::isfinite(hz)) return tooLargeFrequency(v);
        if (!freq_.empty() && !(hz > previous)) {
          if (ports_ == 2) {
            if (!first) return outOfStep(line_, "a noise line must begin a line");
            noise = true;
            noiseCount = 1;
            noiseLine = line_;
            noiseValues[0] = v;
            return true;
          }
          return outOfStep(line_, "frequencies must increase: " + number(v) + " follows " + number(previous / unitScale_));
        }
        if (!first && !midLine) {
          midLine = true;
          midLineAt = line_;
        }
        previous = hz;
        if (freq_.size() == 1) {
          // The first record's length in bytes sizes the rest: one allocation instead
          // of a series of copies for a long file.
          const std::size_t length = std::max<std::size_t>(at - firstRecordAt, 1);
          const std::size_t estimate = std::min<std::size_t>((text_.size() - at) / length + 2,
                                                           kMaxEntries / (static_cast<std::size_t>(ports_) * ports_));
          try {
            freq_.reserve(estimate + 1);
            brevo::io::reserveOnHugePages(entries_, (estimate + 1) * static_cast<std::size_t>(ports_) *
                                                                static_cast<std::size_t>(ports_));
          } catch (const std::bad_alloc&) {
          }
        } else if (freq_.empty()) {
          firstRecordAt = at;
        }
        freq_.push_back(hz);
        const std::size_t n2 = static_cast<std::size_t>(ports_) * static_cast<std::size_t>(ports_);
        // Room for a record only where the rest of the text can hold its numbers (a
        // digit and a blank each) and the set stays within the library's limit.
        if (record / 2 > text_.size() - at)
          return fail(line_, "the rest of the file cannot hold a record of " + std::to_string(record) + " numbers");
        if (entries_.size() + n2 > kMaxEntries) return fail(line_, "the data need more memory than this reader allows");
      } else {
        place(r, v);
      }
      ++counted;
      return true;
    });
    if (!ok) return false;
    if (noise && !endNoiseLine()) return false;
    if (counted == 0) return fail(option.number, "no network data after the option line");
    if (!noise) endLine();
    if (counted % record != 0)
      return outOfStep(lastLine(), "the data end inside a record: " + std::to_string(counted % record) + " of " +
                                       std::to_string(record) + " numbers");
    if (midLine) return outOfStep(midLineAt, "a frequency must begin a line");
    (void)startLine;
    info.points = static_cast<int>(freq_.size());
    info.ports = ports_;
    return true;
  }

  // 1.x without a port count in its name: the first record's lines give it, a first
  // line of a frequency and pairs, then lines of pairs only.
  bool portsFromFirstRecord(int optionLine) {
    const std::size_t save = pos_;
    const int saveLine = line_;
    Line l;
    long long values = -1;
    while (nextContent(l)) {
      const std::string_view t = l.trimmed();
      if (t[0] == '#') continue;
      if (t[0] == '[') break;
      const auto n = static_cast<long long>(tokens(t).size());
      if (values < 0) {
        values = n - 1;
        if (n % 2 == 0) break;
      } else if (n % 2 == 0) {
        values += n;
      } else {
        break;
      }
    }
    if (failed_) return false;
    pos_ = save;
    line_ = saveLine;
    if (values < 0) return fail(optionLine, "no network data after the option line");
    const auto n = static_cast<long long>(std::llround(std::sqrt(static_cast<double>(values) / 2)));
    if (n < 1 || 2 * n * n != values)
      return fail(optionLine, "cannot tell the number of ports: the name has no .sNp and the first record holds " +
                                  std::to_string(values) + " values, not 2 N^2");
    ports_ = static_cast<int>(n);
    return true;
  }

  // The frequency whose text starts at offset at (value v in the file's unit) in hertz:
  // the decimal the text writes times the unit's power of ten, rounded once, so
  // "1.025" GHz is 1025000000 Hz exactly.
  double hertz(std::size_t at, double v) const {
    if (unitDigits_ == 0) return v;
    const char* p = text_.data() + at;
    const char* e = text_.data() + text_.size();
    const char* q = p;
    while (q < e && !isDelimiter(*q) && *q != 'e' && *q != 'E') ++q;
    std::string shifted(*p == '+' ? p + 1 : p, q);
    long long exponent = unitDigits_;
    if (q < e && (*q == 'e' || *q == 'E')) {
      const char* x = ++q;
      while (q < e && !isDelimiter(*q)) ++q;
      long long written = 0;
      const std::size_t digits = static_cast<std::size_t>(q - x) - (*x == '+' || *x == '-');
      if (digits > 6) return v * unitScale_;
      const auto [end, ec] = std::from_chars(*x == '+' ? x + 1 : x, q, written);
      if (ec != std::errc() || end != q) return v * unitScale_;
      exponent += written;
    }
    shifted += "e" + std::to_string(exponent);
    double hz = 0;
    const auto [end, ec] = std::from_chars(shifted.data(), shifted.data() + shifted.size(), hz);
    if (ec != std::errc()) return v * unitScale_;
    return hz;
  }

  bool tooLargeFrequency(double v) {
    return fail(line_, "the frequency " + number(v) + " " + result_.info.unit + " is beyond the range of a double in hertz");
  }

  bool addNoise(const double* v, int line) {
    const double hz = v[0] * unitScale_;
    auto& noise = result_.info.noise;
    if (!noise.empty() && !(hz > noise.back().hertz))
      return fail(line, "noise frequencies must increase: " + number(v[0]) + " follows " + number(noise.back().hertz / unitScale_));
    if (noise.empty() && !freq_.empty() && hz > freq_.back())
      return fail(line, "the first noise frequency " + number(v[0]) + " is above the last network frequency");
    // Rn: normalised to port 1's R in 1.x, ohms in 2.x.
    const double rn = result_.info.version[0] == '1' ? v[4] * result_.info.references.front() : v[4];
    noise.push_back({hz, v[1], v[2], v[3], rn});
    return true;
  }

  // Where each pair of a record goes: pair q to entries at index target_[q] (and its
  // mirror for a triangle).
  // Sizes the record; builds the tables only when the rest of the text can hold one
  // record (a digit and a blank per number), so a file that claims a huge matrix costs
  // nothing before its numbers are counted.
  void layout() {
    const auto n = static_cast<std::size_t>(ports_);
    const std::string& m = result_.info.matrixFormat;
    recordSize_ = 1 + (m == "Full" ? 2 * n * n : n * (n + 1));
    target_.clear();
    mirror_.clear();
    if (recordSize_ / 2 > text_.size() - pos_ + 1) return;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t from = m == "Upper" ? i : 0;
      const std::size_t to = m == "Lower" ? i + 1 : n;
      for (std::size_t j = from; j < to; ++j) {
        target_.push_back(i * n + j);
        mirror_.push_back(m == "Full" || i == j ? static_cast<std::size_t>(-1) : j * n + i);
      }
    }
    if (n == 2 && m == "Full" && order2112_) std::swap(target_[1], target_[2]);  // N11 N21 N12 N22
    record_.assign(n * n, complex());
  }

  // Number r (1..) of the current record, into the record's matrix; the last one
  // appends the matrix to the set's entries (written once, in order).
  void place(std::size_t r, double v) {
    if (r % 2 == 1) {
      pending_ = v;
      return;
    }
    const std::size_t q = r / 2 - 1;
    const complex z = result_.info.dataFormat == RI ? complex(pending_, v) : Param(result_.info.dataFormat, pending_, v);
    record_[target_[q]] = z;
    if (mirror_[q] != static_cast<std::size_t>(-1)) record_[mirror_[q]] = z;
    if (r + 1 == recordSize_) entries_.insert(entries_.end(), record_.begin(), record_.end());
  }

  bool readVersion2() {
    TouchstoneInfo& info = result_.info;
    Line l;
    if (!nextContent(l)) return failed_ ? false : fail(lastLine(), "the option line must follow [Version]");
    if (l.trimmed()[0] != '#') return fail(l.number, "the option line must follow [Version]");
    const int optionAt = l.number;
    if (!optionLine(l, true)) return false;

    bool seen[kKeywordCount] = {};
    seen[kVersion] = true;
    long long frequencies = 0, noiseFrequencies = 0;
    int networkLine = 0;
    std::string_view args;
    bool inInformation = false;
    while (true) {
      if (!nextContent(l)) {
        if (failed_) return false;
        if (inInformation) return fail(lastLine(), "[Begin Information] without [End Information]");
        if (!seen[kPorts]) return fail(lastLine(), "[Number of Ports] is missing");
        return fail(lastLine(), "[Network Data] is missing");
      }
      const std::string_view t = l.trimmed();
      if (inInformation) {
        if (t[0] == '[' && keywordIs(t, "End Information")) {
          inInformation = false;
          seen[kEndInformation] = true;
          continue;
        }
        info.information.emplace_back(l.content);
        comment("!" + std::string(l.content) + std::string(l.comment));
        continue;
      }
      if (t[0] == '#') continue;  // a later option line: ignored
      if (t[0] != '[') {
        double v;
        const std::string_view first = tokens(t)[0];
        if (parseNumber(first, &v)) return fail(l.number, "data before [Network Data]");
        return fail(l.number, "unexpected text '" + std::string(first) + "' in the keyword section");
      }
      const Keyword k = keyword(l, &args);
      if (k == kKeywordCount) return false;
      if (seen[k]) return fail(l.number, bracket(k) + " may appear only once");
      if (!seen[kPorts] && k != kPorts)
        return fail(l.number, "[Number of Ports] must be the first keyword after the option line");
      seen[k] = true;
      switch (k) {
        case kPorts: {
          long long n = 0;
          if (!count(k, args, l.number, &n)) return false;
          if (n > 16384) return fail(l.number, "[Number of Ports] " + std::to_string(n) + " is more than this reader allows (16384)");
          ports_ = static_cast<int>(n);
          const char p = info.parameter;
          if ((p == 'H' || p == 'G') && ports_ != 2)
            return fail(optionAt, std::string(1, p) + "-parameters exist only for 2-port networks, not " + std::to_string(ports_) + " ports");
          if (optionR_.size() > 1 && optionR_.size() != static_cast<std::size_t>(ports_))
            return fail(optionAt, "the option line gives " + std::to_string(optionR_.size()) + " R values for " +
                                      std::to_string(ports_) + " ports");
          break;
        }
        case kTwoPortOrder: {
          if (ports_ != 2) return fail(l.number, "[Two-Port Data Order] is allowed only in a 2-port file");
          const auto a = tokens(args);
          if (a.size() != 1 || (a[0] != "12_21" && a[0] != "21_12"))
            return fail(l.number, "[Two-Port Data Order] takes 12_21 or 21_12");
          info.twoPortOrder = std::string(a[0]);
          break;
        }
        case kFrequencies:
          if (!count(k, args, l.number, &frequencies)) return false;
          break;
        case kNoiseFrequencies:
          if (!count(k, args, l.number, &noiseFrequencies)) return false;
          if (ports_ != 2) return fail(l.number, "noise data are allowed only in 2-port files");
          break;
        case kReference:
          if (!references(args, l.number)) return false;
          break;
        case kMatrixFormat: {
          const auto a = tokens(args);
          if (a.size() != 1 || !(sameText(a[0], "Full") || sameText(a[0], "Lower") || sameText(a[0], "Upper")))
            return fail(l.number, "[Matrix Format] takes Full, Lower or Upper");
          info.matrixFormat = sameText(a[0], "Full") ? "Full" : sameText(a[0], "Lower") ? "Lower" : "Upper";
          break;
        }
        case kMixedMode:
          if (!mixedModeOrder(args, l.number)) return false;
          break;
        case kBeginInformation:
          if (!noArguments(k, args, l.number)) return false;
          inInformation = true;
          break;
        case kEndInformation:
          return fail(l.number, "[End Information] without [Begin Information]");
        case kNetworkData:
          if (!noArguments(k, args, l.number)) return false;
          networkLine = l.number;
          break;
        case kNoiseData:
        case kEnd:
          return fail(l.number, bracket(k) + " before [Network Data]");
        default:
          return fail(l.number, bracket(k) + " is out of place");
      }
      if (k == kNetworkData) break;
    }
    if (!frequencies) return fail(networkLine, "[Number of Frequencies] is missing");
    if (ports_ == 2 && info.twoPortOrder.empty()) {
      if (!deviate(networkLine, "[Two-Port Data Order] is required in a 2-port Version 2.x file", "read as 21_12"))
        return false;
      info.twoPortOrder = "21_12";
    }
    // The references the data hold: [Reference], else the option line's.
    if (reference_.empty()) {
      if (optionR_.size() > 1) reference_ = optionR_;
      else reference_.assign(static_cast<std::size_t>(ports_), optionR_.empty() ? 50.0 : optionR_.front());
    } else if (optionR_.size() > 1 && optionR_ != reference_) {
      return fail(optionAt, "the option line's R values differ from [Reference]");
    }
    if (optionR_.empty()) optionR_.push_back(50.0);
    info.optionR = optionR_.front();
    info.references = reference_;
    for (const auto& m : modes_)
      if (m.kind != 'S' && reference_[static_cast<std::size_t>(m.p - 1)] != reference_[static_cast<std::size_t>(m.q - 1)])
        return fail(networkLine, "ports " + std::to_string(m.p) + " and " + std::to_string(m.q) +
                                     " of a mixed-mode pair need equal references");
    order2112_ = info.twoPortOrder == "21_12";
    layout();
    keepComments_ = false;

    // The data: exactly [Number of Frequencies] records, each from the start of a line.
    const auto n2 = static_cast<std::size_t>(ports_) * static_cast<std::size_t>(ports_);
    const auto points = static_cast<std::size_t>(frequencies);
    const std::size_t needed = points * recordSize_;
    // Values the rest of the text can hold at most (a digit and a blank each): more
    // records than that are not allocated, only counted.
    const bool store = points <= kMaxEntries / n2 && needed / 2 <= text_.size() - pos_ + 1;
    if (store) {
      freq_.reserve(points);
      brevo::io::reserveOnHugePages(entries_, points * n2);
    }
    std::size_t counted = 0;
    int problemLine = 0;
    std::string problem;
    std::size_t inRecord = 0, record = 0;  // where the next number sits
    const bool ok = numbers(false, [&](double v, bool first, std::size_t at) {
      const std::size_t r = inRecord;
      const std::size_t k = record;
      if (++inRecord == recordSize_) {
        inRecord = 0;
        ++record;
      }
      ++counted;
      if (k >= points || !store) return true;
      if (r == 0) {
        const double hz = hertz(at, v);
        if (!std::isfinite(hz)) return tooLargeFrequency(v);
        if (problem.empty()) {
          if (!first) {
            problem = "a frequency must begin a line";
            problemLine = line_;
          } else if (k > 0 && !(hz > freq_[k - 1])) {
            problem = "frequencies must increase: " + number(v) + " follows " + number(freq_[k - 1] / unitScale_);
            problemLine = line_;
          }
        }
        freq_.push_back(hz);
      } else {
        place(r, v);
      }
      return true;
    });
    if (!ok) return false;
    if (counted != needed)
      return fail(networkLine, "the network data holds " + std::to_string(counted) + " numbers; [Number of Frequencies] " +
                                   std::to_string(points) + " with " + std::to_string(recordSize_) +
                                   " numbers per point needs " + std::to_string(needed));
    if (!store)
      return fail(networkLine, "[Number of Frequencies] " + std::to_string(points) + " with " + std::to_string(ports_) +
                                   " ports needs more memory than this reader allows");
    if (!problem.empty()) return fail(problemLine, problem);
    info.points = static_cast<int>(points);
    info.ports = ports_;

    // After the data: [Noise Data] when counted, then [End].
    bool noiseRead = false;
    while (true) {
      if (!nextContent(l)) {
        if (failed_) return false;
        if (noiseFrequencies && !noiseRead)
          return fail(lastLine(), "[Number of Noise Frequencies] is given but [Noise Data] is missing");
        return deviate(lastLine(), "[End] is missing", "read to the end of the file");
      }
      const std::string_view t = l.trimmed();
      if (t[0] == '#') continue;
      if (t[0] != '[') return fail(l.number, "unexpected text after the network data");
      const Keyword k = keyword(l, &args);
      if (k == kKeywordCount) return false;
      if (k == kNoiseData && !noiseRead) {
        if (!noArguments(k, args, l.number)) return false;
        if (!noiseFrequencies) return fail(l.number, "[Noise Data] needs [Number of Noise Frequencies]");
        if (!readNoise(static_cast<std::size_t>(noiseFrequencies), l.number)) return false;
        noiseRead = true;
        continue;
      }
      if (k == kEnd) {
        if (!noArguments(k, args, l.number)) return false;
        if (noiseFrequencies && !noiseRead)
          return fail(l.number, "[Number of Noise Frequencies] is given but [Noise Data] is missing");
        while (nextContent(l)) {
          if (l.trimmed()[0] == '#') continue;
          return fail(l.number, "only comments may follow [End]");
        }
        return !failed_;
      }
      return fail(l.number, bracket(k) + " is not allowed after [Network Data]");
    }
  }

  bool readNoise(std::size_t expected, int keywordLine) {
    Line l;
    std::size_t lines = 0;
    while (true) {
      const std::size_t save = pos_;
      const int saveLine = line_;
      if (!nextContent(l)) break;
      const std::string_view t = l.trimmed();
      if (t[0] == '[') {
        pos_ = save;
        line_ = saveLine;
        break;
      }
      if (t[0] == '#') continue;
      const auto items = tokens(t);
      if (items.size() != 5) return fail(l.number, "a noise line holds 5 numbers, not " + std::to_string(items.size()));
      double v[5];
      for (int i = 0; i < 5; ++i)
        if (!parseNumber(items[static_cast<std::size_t>(i)], &v[i]))
          return fail(l.number, "'" + std::string(items[static_cast<std::size_t>(i)]) + "' is not a number");
      if (!addNoise(v, l.number)) return false;
      ++lines;
    }
    if (failed_) return false;
    if (lines != expected)
      return fail(keywordLine, "the noise data holds " + std::to_string(lines) + " lines; [Number of Noise Frequencies] needs " +
                                   std::to_string(expected));
    return true;
  }

  bool keywordIs(std::string_view t, std::string_view name) {
    const std::size_t close = t.find(']');
    return close != std::string_view::npos && sameText(t.substr(1, close - 1), name);
  }

  // ---- to single-ended S at the caller's reference ----
  bool convert() {
    TouchstoneInfo& info = result_.info;
    const int n = ports_;
    const auto N = static_cast<std::size_t>(n);
    const std::vector<double> target(N, options_.reference);
    const bool version1 = info.version[0] == '1';
    const char p = info.parameter;
    std::vector<double> from = info.references;
    bool renormalising = false;
    for (std::size_t i = 0; i < N; ++i) renormalising |= from[i] != options_.reference;
    if (!(options_.reference > 0)) return fail(0, "the reference asked for must be positive");

    // Mixed-mode rows: T_W for S, T_V for Y, T_I for Z (descriptor k is row k).
    std::vector<double> mode;
    if (!modes_.empty()) {
      mode.assign(N * N, 0.0);
      const double h = p == 'S' ? std::sqrt(0.5) : 0;
      for (std::size_t k = 0; k < N; ++k) {
        const auto& m = modes_[k];
        const std::size_t a = static_cast<std::size_t>(m.p - 1);
        if (m.kind == 'S') {
          mode[k * N + a] = 1;
          continue;
        }
        const std::size_t b = static_cast<std::size_t>(m.q - 1);
        double plus = 0, minus = 0;
        if (m.kind == 'D') {
          plus = p == 'S' ? h : p == 'Y' ? 1.0 : 0.5;
          minus = -plus;
        } else {
          plus = minus = p == 'S' ? h : p == 'Y' ? 0.5 : 1.0;
        }
        mode[k * N + a] = plus;
        mode[k * N + b] = minus;
      }
      info.conversions.push_back("mixed-mode data converted to single-ended ports");
    }
    if (p != 'S') {
      info.conversions.push_back(std::string(version1 ? "normalised " : "") + p + " data converted to S");
    }
    if (p == 'S' ? renormalising : version1 && renormalising) {
      std::string refs;
      for (std::size_t i = 0; i < N; ++i) {
        if (i && std::all_of(from.begin(), from.end(), [&](double r) { return r == from[0]; })) break;
        refs += (i ? " " : "") + printed("%g", from[i]);
      }
      info.conversions.push_back("references " + refs + " ohm renormalised to " + printed("%g", options_.reference) + " ohm");
    }

    const std::vector<double> ones(N, 1.0);
    std::vector<complex> m(N * N), t(N * N);
    const bool asRead = mode.empty() && p == 'S' && !renormalising;
    for (std::size_t k = 0; k < (asRead ? 0 : freq_.size()); ++k) {
      complex* point = entries_.data() + k * N * N;
      std::copy(point, point + N * N, m.begin());
      if (!mode.empty()) {  // x_se = T^T x_mm T
        multiply(m, false, mode, t, N);
        multiply(mode, true, t, m, N);
      }
      bool ok = true;
      if (p == 'S') {
        if (renormalising) ok = renormalise(m, n, from, target);
      } else if (version1) {
        ok = toScattering(p, m, n, ones) && (!renormalising || renormalise(m, n, from, target));
      } else {
        ok = toScattering(p, m, n, target);
      }
      if (!ok)
        return fail(0, std::string(1, p) + " data at " + number(freq_[k]) + " Hz have no S-parameters (the matrix is singular)");
      std::copy(m.begin(), m.end(), point);
    }
    result_.set = Sparams::fromMatrices(result_.name, n, std::move(freq_), std::move(entries_));
    for (const auto& c : comments_) result_.set.setComment(c.c_str());
    return true;
  }

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

}  // namespace

bool toScattering(char parameter, std::vector<complex>& m, int n, const std::vector<double>& ref) {
  const auto N = static_cast<std::size_t>(n);
  if (parameter == 'S') return true;
  // The data as C_V V + C_I I = 0.
  std::vector<complex> cv(N * N), ci(N * N);
  auto at = [&](std::size_t i, std::size_t j) { return i * N + j; };
  switch (parameter) {
    case 'Z':
      for (std::size_t i = 0; i < N; ++i) {
        cv[at(i, i)] = 1;
        for (std::size_t j = 0; j < N; ++j) ci[at(i, j)] = -m[at(i, j)];
      }
      break;
    case 'Y':
      for (std::size_t i = 0; i < N; ++i) {
        ci[at(i, i)] = 1;
        for (std::size_t j = 0; j < N; ++j) cv[at(i, j)] = -m[at(i, j)];
      }
      break;
    case 'H':
      if (n != 2) return false;
      cv = {1, -m[1], 0, -m[3]};
      ci = {-m[0], 0, -m[2], 1};
      break;
    case 'G':
      if (n != 2) return false;
      cv = {-m[0], 0, -m[2], 1};
      ci = {1, -m[1], 0, -m[3]};
      break;
    default:
      return false;
  }
  // S = -(C_V D - C_I D^-1)^-1 (C_V D + C_I D^-1), D = diag(sqrt(ref)).
  std::vector<complex> a(N * N), b(N * N);
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      const double d = std::sqrt(ref[j]);
      a[at(i, j)] = cv[at(i, j)] * d - ci[at(i, j)] / d;
      b[at(i, j)] = cv[at(i, j)] * d + ci[at(i, j)] / d;
    }
  if (!solve(a, b, n)) return false;
  for (std::size_t i = 0; i < N * N; ++i) m[i] = -b[i];
  return true;
}

bool renormalise(std::vector<complex>& s, int n, const std::vector<double>& from,
                 const std::vector<double>& to) {
  const auto N = static_cast<std::size_t>(n);
  std::vector<double> gamma(N), p(N);
  for (std::size_t i = 0; i < N; ++i) {
    gamma[i] = (from[i] - to[i]) / (from[i] + to[i]);
    p[i] = (from[i] + to[i]) / (2 * std::sqrt(from[i] * to[i]));
  }
  // M = (G + S)(I + G S)^-1, solved as (I + G S)^T M^T = (G + S)^T.
  std::vector<complex> a(N * N), b(N * N);
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      a[j * N + i] = (i == j ? 1.0 : 0.0) + gamma[i] * s[i * N + j];
      b[j * N + i] = (i == j ? gamma[i] : 0.0) + s[i * N + j];
    }
  if (!solve(a, b, n)) return false;
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) s[i * N + j] = p[i] * b[j * N + i] / p[j];
  return true;
}

std::string TouchstoneFile::message(const TouchstoneProblem& p) const {
  if (p.line > 0) return name + ":" + std::to_string(p.line) + ": " + p.rule;
  return name + ": " + p.rule;
}

std::string TouchstoneFile::message() const { return message(error); }

std::string TouchstoneFile::summary() const {
  std::string s = name + ": Touchstone " + info.version + ", " + std::to_string(info.ports) +
                  (info.ports == 1 ? " port, " : " ports, ") + std::to_string(info.points) +
                  (info.points == 1 ? " frequency" : " frequencies");
  for (const auto& c : info.conversions) s += "; " + c;
  return s;
}

TouchstoneFile parseTouchstoneStandard(std::string_view text, const std::string& name,
                                       const TouchstoneReadOptions& options) {
  return Reader(text, name, options).run();
}

Version1Declarations declarationsOf(std::string_view text, const std::string& path) {
  try {
    return Reader(text, path, {}).declarations();
  } catch (const std::bad_alloc&) {
    return {};
  }
}

int touchstoneVersionOf(std::string_view text) {
  constexpr std::size_t kLine = 4095;   // a line buffer of 4096 bytes
  std::size_t pos = 0;
  // The next piece of at most kLine characters through its line feed, as a C string.
  auto next = [&]() {
    const std::size_t room = std::min(kLine, text.size() - pos);
    const std::string_view rest = text.substr(pos, room);
    const std::size_t lf = rest.find('\n');
    const std::string_view piece = rest.substr(0, lf == std::string_view::npos ? room : lf + 1);
    pos += piece.size();
    return piece.substr(0, piece.find('\0'));
  };
  bool first = true;
  while (pos < text.size()) {
    const std::string_view line = next();
    std::size_t p = first && line.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    first = false;
    while (p < line.size() && isBlank(line[p])) ++p;
    if (p == line.size() || line[p] == '\n' || line[p] == '\r' || line[p] == '!') {
      // A comment or blank line; a line longer than the buffer continues below.
      for (std::string_view more = line; more.find('\n') == std::string_view::npos && pos < text.size();) more = next();
      continue;
    }
    if (line[p] == '#') return 1;
    if (line[p] == '[' && sameText(line.substr(p, 9), "[Version]")) return 2;
    return 0;
  }
  return 0;
}
