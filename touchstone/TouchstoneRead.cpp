// The Touchstone reader as a pure function of the file's bytes, and the pair encodings
// shared with the writer; its number scanner and item count are in TouchstoneNumbers.cpp.
//
// The reader sees the text exactly as a line reader with a 1024-byte buffer would: a
// line is cut after 1023 characters and the rest is handled as a line of its own, and
// a NUL byte ends what the line holds. The header is read up to the option line; the
// usual file then takes one pass that sizes the set and reads its values together. Any
// other text takes two: a sizing pass that only counts items, and the value pass that
// fills one block allocated at its final size.
#include "TouchstoneCore.h"
#include "detail/Numbers.h"
#include "detail/Vocabulary.h"
#include "FileText.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <string>

namespace brevo {

using complex = std::complex<double>;

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

using namespace touchstone_detail;

// The text seen line by line as a 1024-byte line buffer delivers it.
class LineCutter {
 public:
  explicit LineCutter(std::string_view text)
      : text_(text), hasNul_(std::memchr(text.data(), 0, text.size()) != nullptr) {}

  // The next piece: through its line feed, or 1023 characters, or to the end of the
  // text; [*b, *e) is what it holds as a C string (up to a NUL byte).
  bool next(const char** b, const char** e) {
    if (pos_ >= text_.size()) return false;
    const char* s = text_.data() + pos_;
    const std::size_t room = std::min<std::size_t>(kLineMax, text_.size() - pos_);
    const void* lf = std::memchr(s, '\n', room);
    const std::size_t len =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - s) + 1 : room;
    pos_ += len;
    *b = s;
    *e = s + len;
    if (hasNul_) {
      if (const void* z = std::memchr(s, 0, len)) *e = static_cast<const char*>(z);
    }
    return true;
  }
  std::size_t position() const { return pos_; }
  void seek(std::size_t pos) { pos_ = pos; }

 private:
  static constexpr std::size_t kLineMax = 1023;
  std::string_view text_;
  bool hasNul_;
  std::size_t pos_ = 0;
};

// The option line's words, searched as substrings of the upper-cased line.
// Every format found applies in this order, so the last one wins: "MA" with "RI" is RI.
constexpr std::array<format, 3> kFormatSearch{MA, DB, RI};
// The first unit found wins: "MHZ", "KHZ" and "GHZ" must be tried before "HZ".
constexpr std::array<std::string_view, 4> kUnitSearch{"MHz", "kHz", "GHz", "Hz"};

void readOptionLine(const char* b, const char* e, format* fmt, double* unit) {
  const std::string line = upperCase(std::string_view(b, static_cast<std::size_t>(e - b)));
  for (const format f : kFormatSearch)
    for (const PairFormat& t : kPairFormats)
      if (t.fmt == f && line.find(upperCase(t.name)) != std::string::npos) *fmt = f;
  for (const std::string_view name : kUnitSearch) {
    if (line.find(upperCase(name)) != std::string::npos) {
      *unit = unitNamed(name)->hertz;
      break;
    }
  }
}

// Largest n with n * n <= p.
long long floorSqrt(long long p) {
  if (p <= 0) return 0;
  auto n = static_cast<long long>(std::sqrt(static_cast<double>(p)));
  while (n > 0 && n * n > p) --n;
  while ((n + 1) * (n + 1) <= p) ++n;
  return n;
}

// An empty vector with room for n values, on huge pages where the kernel takes the
// hint (see reserveOnHugePages). The value pass appends to it, so no page is written
// twice.
template <typename T>
std::shared_ptr<std::vector<T>> reserved(std::size_t n) {
  auto v = std::make_shared<std::vector<T>>();
  brevo::io::reserveOnHugePages(*v, n);
  return v;
}

template <typename T>
std::shared_ptr<std::vector<T>> zeros(std::size_t n) {
  auto v = reserved<T>(n);
  v->resize(n);
  return v;
}

inline complex polarOf(double magnitude, double radians) {
  return {magnitude * std::cos(radians), magnitude * std::sin(radians)};
}

// The complex value a pair encodes, one function per format so that the value pass
// converts without a switch per value.
template <format F>
inline complex pairValue(double a, double b) {
  if constexpr (F == RI) return {a, b};
  if constexpr (F == MA) return polarOf(a, b * kRadiansPerDegree);
  if constexpr (F == DB) return polarOf(std::pow(10.0, 0.05 * a), b * kRadiansPerDegree);
  if constexpr (F == MR) return polarOf(a, b);
}

// The value pass over the lines after the option line: each record's frequency, then
// pairs filling the matrices row by row, column fastest, in file order; a pair whose
// second number is missing takes 0 for it. Values are appended to data, whose capacity
// holds them all. Returns the records completed.
template <format F>
int readValues(LineCutter& lines, const char* limit, double unit, int nFreq, int nPorts,
               double* freq, std::vector<complex>& data) {
  int k = 0;
  int r = 0;
  int c = 0;
  bool haveFrequency = false;
  const char* b;
  const char* e;
  while (k < nFreq && lines.next(&b, &e)) {
    const char* p = skipSpace(b, e);
    if (p == e || *p == '!') continue;
    // The next number after white space, the quick way where the line allows it; null
    // when there is none (p is then left alone).
    const bool quick = isSpace(e[-1]) && limit - e >= 8;
    auto number = [ quick, e, limit ](const char* from,
                                      double* x) __attribute__((always_inline))->const char* {
      const char* at = skipSpace(from, e);
      if (at == e) return nullptr;
      if (quick) {
        if (const char* end = quickDecimal(at, x)) return end;
      }
      const std::size_t used = scan<true>(at, e, limit, x);
      return used ? at + used : nullptr;
    };
    double x;
    if (!haveFrequency) {
      const char* end = number(p, &x);
      if (!end) continue;
      freq[k] = x * unit;
      haveFrequency = true;
      p = end;
    }
    for (;;) {
      const char* end = number(p, &x);
      if (!end) break;
      p = end;
      double y = 0.0;
      if ((end = number(p, &y))) p = end;
      data.push_back(pairValue<F>(x, y));
      if (++c < nPorts) continue;
      c = 0;
      if (++r < nPorts) continue;
      r = 0;
      ++k;
      haveFrequency = false;
      break;  // a new record always starts on a new line
    }
  }
  return k;
}

}  // namespace

complex Param(format fmt, double a, double b) {
  switch (fmt) {
    case RI:
      return pairValue<RI>(a, b);
    case MA:
      return pairValue<MA>(a, b);
    case DB:
      return pairValue<DB>(a, b);
    case MR:
      return pairValue<MR>(a, b);
  }
  return {0.0, 0.0};  // a value outside the enumeration encodes nothing
}

complex Param(format f, complex z) { return Param(f, z.real(), z.imag()); }

namespace {

using Comments = std::vector<std::shared_ptr<const std::string>>;

// "!" and a line feed alone say nothing and are dropped.
void keepComment(Comments& comments, const char* p, const char* e) {
  if (e - p > 2) comments.push_back(std::make_shared<const std::string>(p, e));
}

struct Header {
  format fmt = MA;
  double unit = 1e9;
  bool optionLine = false;
};

// Header: comments up to the option line; anything else before it is ignored.
Header readHeader(LineCutter& lines, Comments& comments, bool& touchstone2Keywords) {
  Header h;
  const char* b;
  const char* e;
  while (lines.next(&b, &e)) {
    const char* p = skipSpace(b, e);
    if (p == e) continue;
    if (*p == '!') {
      keepComment(comments, p, e);
    } else if (*p == '#') {
      readOptionLine(p, e, &h.fmt, &h.unit);
      h.optionLine = true;
      break;
    } else if (*p == '[') {
      touchstone2Keywords = true;
    }
  }
  return h;
}

struct Sizes {
  long long records = 0, ports = 0;
};

// Sizing: an odd item count starts a record (frequency plus whole pairs), an even one
// continues it; the port count comes from the first record alone.
Sizes sizeRecords(LineCutter& lines, const char* textEnd, Comments& comments,
                  bool& touchstone2Keywords) {
  Sizes z;
  long long values = 0;
  const char* b;
  const char* e;
  while (lines.next(&b, &e)) {
    const char* p = skipSpace(b, e);
    if (p == e) continue;
    if (*p == '!') {
      keepComment(comments, p, e);
      continue;
    }
    if (*p == '[') touchstone2Keywords = true;
    const long long n = countItems(p, e, textEnd);
    if (n % 2 == 1) {
      if (z.records == 1) z.ports = floorSqrt(values / 2);
      ++z.records;
      values = n - 1;
    } else {
      values += n;
    }
  }
  return z;
}

// Why a set of these sizes is not read.
std::string tooLargeMessage(const std::string& name, const Sizes& z, const char* why) {
  char line[512];
  const double gib = static_cast<double>(z.records) *
                     (8.0 + 16.0 * static_cast<double>(z.ports) * static_cast<double>(z.ports)) /
                     static_cast<double>(1LL << 30);
  std::snprintf(line, sizeof line, "%s: %lld ports at %lld frequencies would need %.1f GiB%s",
                name.c_str(), z.ports, z.records, gib, why);
  return line;
}

// True when a set of these counts is more than the reader allocates.
bool tooLarge(long long records, long long ports) {
  const long long perPoint = ports * ports;  // ports < 2^31 here: the text holds 2 p^2 items
  return records > INT_MAX || ports > INT_MAX ||
         (perPoint > 0 && records > kMaxSetValues / perPoint) ||
         records * 8 + records * perPoint * 16 > kMaxSetBytes;
}

struct OnePass {
  std::shared_ptr<std::vector<double>> freq = std::make_shared<std::vector<double>>();
  std::shared_ptr<std::vector<complex>> data = std::make_shared<std::vector<complex>>();
  long long records = 0, ports = 0;
};

// Sizing and values in one pass, for the usual file: every data line holds numbers only,
// each record is a line with the frequency and pairs followed by lines of pairs, and every
// record holds as many pairs as the first. The sizing pass would count the same records
// and ports and the value pass would fill every one of them with these values. False for
// any other text (the caller then reads it in two passes), or when the set would be too
// large; comments met are kept either way, as the sizing pass keeps them.
template <format F>
bool readInOnePass(LineCutter& lines, const char* limit, double unit, Comments& comments,
                   OnePass& out) {
  std::vector<double>& freq = *out.freq;
  std::vector<complex>& data = *out.data;
  long long records = 0, ports = 0, values = 0, perRecord = 0;  // perRecord: 2 ports^2
  const char* firstRecord = nullptr;
  constexpr int kMost = 1024;  // more numbers than a piece of 1023 characters can hold
  double numbers[kMost];
  const char* b;
  const char* e;
  while (lines.next(&b, &e)) {
    const char* p = skipSpace(b, e);
    if (p == e) continue;
    if (*p == '!') {
      keepComment(comments, p, e);
      continue;
    }
    const bool quick = isSpace(e[-1]) && limit - e >= 8;
    int n = 0;
    for (const char* at = skipSpace(p, e); at != e; at = skipSpace(at, e)) {
      const char* end = quick ? quickDecimal(at, &numbers[n]) : nullptr;
      if (!end) {
        const std::size_t used = scan<true>(at, e, limit, &numbers[n]);
        if (used == 0) return false;  // not a number
        end = at + used;
      }
      at = end;
      if (++n == kMost) return false;
    }
    int from = 0;
    if (n % 2 == 1) {  // a record begins
      if (records == 0) {
        firstRecord = b;
      } else if (records == 1) {
        ports = floorSqrt(values / 2);
        perRecord = 2 * ports * ports;
        if (ports == 0 || values != perRecord) return false;
        // The first record's length in bytes sizes the rest.
        const long long estimate =
            std::min<long long>((limit - b) / (b - firstRecord) + 2, INT_MAX);
        if (!tooLarge(estimate, ports)) {
          freq.reserve(static_cast<std::size_t>(estimate));
          brevo::io::reserveOnHugePages(data, static_cast<std::size_t>(estimate * ports * ports));
        }
      } else if (values != perRecord) {
        return false;
      }
      if (++records > 1 && tooLarge(records, ports)) return false;
      freq.push_back(numbers[0] * unit);
      values = 0;
      from = 1;
    } else if (records == 0) {
      return false;  // pairs before any frequency
    }
    values += n - from;
    if (perRecord && values > perRecord) return false;
    for (int i = from; i < n; i += 2) data.push_back(pairValue<F>(numbers[i], numbers[i + 1]));
  }
  if (records < 2 || values != perRecord) return false;
  out.records = records;
  out.ports = ports;
  return true;
}

}  // namespace

ReadResult parseTouchstone(std::string_view text, std::string fileName) {
  ReadResult result;
  Sparams& set = result.set;
  set.name = std::make_shared<const std::string>(std::move(fileName));

  LineCutter lines(text);
  const char* const textEnd = text.data() + text.size();
  const Header header = readHeader(lines, set.comments, result.touchstone2Keywords);
  if (!header.optionLine) {
    result.status = ReadStatus::noOptionLine;
    return result;
  }
  const std::size_t dataStart = lines.position();
  const std::size_t headerComments = set.comments.size();
  OnePass one;
  bool read = false;
  try {
    switch (header.fmt) {
      case RI:
        read = readInOnePass<RI>(lines, textEnd, header.unit, set.comments, one);
        break;
      case MA:
        read = readInOnePass<MA>(lines, textEnd, header.unit, set.comments, one);
        break;
      case DB:
        read = readInOnePass<DB>(lines, textEnd, header.unit, set.comments, one);
        break;
      case MR:
        read = readInOnePass<MR>(lines, textEnd, header.unit, set.comments, one);
        break;
    }
  } catch (const std::bad_alloc&) {
    read = false;
  }
  if (read) {
    set.freq = std::move(one.freq);
    set.data = std::move(one.data);
    set.nFreq = static_cast<int>(one.records);
    set.nPorts = static_cast<int>(one.ports);
    return result;
  }
  one = OnePass();
  set.comments.resize(headerComments);
  lines.seek(dataStart);
  const Sizes z = sizeRecords(lines, textEnd, set.comments, result.touchstone2Keywords);
  const long long records = z.records, ports = z.ports;

  // Refuse what would not fit before allocating anything.
  const long long perPoint = ports * ports;
  auto refuse = [&](const char* why) {
    result.message = tooLargeMessage(*set.name, z, why);
    result.status = ReadStatus::tooLarge;
    return result;
  };
  if (tooLarge(records, ports)) return refuse(", more than the 4 GiB a set may take; not read");
  try {
    set.freq = zeros<double>(static_cast<std::size_t>(records));
    set.data = reserved<complex>(static_cast<std::size_t>(records * perPoint));
  } catch (const std::bad_alloc&) {
    set.freq.reset();
    set.data.reset();
    return refuse(", more than this machine could allocate; not read");
  }
  set.nFreq = static_cast<int>(records);
  set.nPorts = static_cast<int>(ports);

  // Values, into storage of its final size; what was not read stays 0.
  result.status = ReadStatus::incomplete;
  if (set.nFreq > 0 && set.nPorts > 0) {  // else there is no place for any value
    lines.seek(dataStart);
    double* freq = set.freq->data();
    std::vector<complex>& data = *set.data;
    const double unit = header.unit;
    int k = 0;
    switch (header.fmt) {
      case RI:
        k = readValues<RI>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data);
        break;
      case MA:
        k = readValues<MA>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data);
        break;
      case DB:
        k = readValues<DB>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data);
        break;
      case MR:
        k = readValues<MR>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data);
        break;
    }
    if (k == set.nFreq) result.status = ReadStatus::ok;
  }
  set.data->resize(static_cast<std::size_t>(records * perPoint));
  return result;
}

}  // namespace brevo
