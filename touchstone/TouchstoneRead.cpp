// The Touchstone reader as a pure function of the file's bytes, its number scanner, and
// the pair encodings shared with the writer.
//
// The reader sees the text exactly as a line reader with a 1024-byte buffer would: a
// line is cut after 1023 characters and the rest is handled as a line of its own, and
// a NUL byte ends what the line holds. The header is read up to the option line; the
// usual file then takes one pass that sizes the set and reads its values together. Any
// other text takes two: a sizing pass that only counts items, and the value pass that
// fills one block allocated at its final size.
#include "TouchstoneCore.h"
#include "detail/Digits.h"
#include "FileText.h"

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <new>
#include <string>
#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using complex = std::complex<double>;

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

// Character classes of the C locale, whatever locale the process runs in.
inline bool isSpace(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u == ' ' || (u >= '\t' && u <= '\r');
}
inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Powers of ten that are exact doubles.
constexpr std::array<double, 23> kPow10{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// strtod itself, in the C locale, on [b, e): the reference for the unusual forms (hex,
// inf, nan, leading "+", long mantissas, huge exponents). Returns characters consumed.
[[gnu::noinline]] std::size_t strtodC(const char* b, const char* e, double* value) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::size_t len = static_cast<std::size_t>(e - b);
  char stackBuffer[1024];
  std::string heapBuffer;
  char* text = stackBuffer;
  if (len < sizeof stackBuffer) {
    std::memcpy(stackBuffer, b, len);
    stackBuffer[len] = '\0';
  } else {
    heapBuffer.assign(b, len);
    text = heapBuffer.data();
  }
  const int savedErrno = errno;
  char* end = text;
  const double v = cLocale ? strtod_l(text, &end, cLocale) : std::strtod(text, &end);
  errno = savedErrno;
  if (end == text) return 0;
  if (value) *value = v;
  return static_cast<std::size_t>(end - text);
}

using touchstone_detail::digitRun;
using touchstone_detail::eightDigitValue;
using touchstone_detail::kPow10Int;
using touchstone_detail::kRoom;
using touchstone_detail::nonDigitBytes;
using touchstone_detail::quickDecimal;
using touchstone_detail::wideDecimal;

// A decimal number [start, end) the quick path cannot convert exactly (long mantissa,
// large exponent): std::from_chars where it takes the text, else strtod.
[[gnu::noinline]] std::size_t carefulDecimal(const char* b, const char* start, const char* end,
                                             const char* e, double* value) {
  if (*start != '+') {
    double v;
    const auto [ptr, ec] = std::from_chars(start, e, v, std::chars_format::general);
    if (ec == std::errc() && ptr == end) {  // range errors go to strtod
      *value = v;
      return static_cast<std::size_t>(end - b);
    }
  }
  return strtodC(b, e, value);
}

// One number as strtod reads it, from b (white space first) up to e. The common decimal
// form is scanned here; when its digits fit 53 bits and the power of ten is exact, one
// IEEE multiply or divide gives the correctly rounded result, the same bits as strtod,
// and up to 19 digits mostly convert by wideDecimal. Other decimals go to std::from_chars
// (correctly rounded too), and whatever that will not take to strtod. With Convert false only the extent is found (the sizing pass).
template <bool Convert>
[[gnu::always_inline]] inline std::size_t scan(const char* b, const char* e, const char* limit,
                                               double* value) {
  const char* p = b;
  while (p < e && isSpace(*p)) ++p;
  if (p == e) return 0;
  const char* start = p;
  const char sign = *p;
  if (sign == '-' || sign == '+') ++p;
  if (p == e) return 0;
  if (!isDigit(*p) && *p != '.') {
    const char c = upper(*p);
    if (c == 'I' || c == 'N') return strtodC(b, e, value);  // inf, infinity, nan(...)
    return 0;
  }
  if (*p == '0' && p + 1 < e && upper(p[1]) == 'X') return strtodC(b, e, value);

  // All digits, decimal point ignored, as one exact integer while it stays below 10^19;
  // beyond that the number goes the careful way.
  std::uint64_t mantissa = 0;
  bool exact = true;
  long long fraction = 0;  // digits after the decimal point
  const char* digitsStart = p;
  digitRun<Convert>(p, e, limit, mantissa, exact);
  bool anyDigit = p != digitsStart;
  if (p < e && *p == '.') {
    const char* fractionStart = ++p;
    digitRun<Convert>(p, e, limit, mantissa, exact);
    fraction = p - fractionStart;
    anyDigit = anyDigit || fraction > 0;
  }
  if (!anyDigit) return 0;  // ".", "-.", "+.e5": strtod converts nothing
  long long exponent = 0;
  if (p < e && upper(*p) == 'E') {
    const char* q = p + 1;
    bool negative = false;
    if (q < e && (*q == '+' || *q == '-')) negative = *q++ == '-';
    if (q < e && isDigit(*q)) {  // "1e" and "1e+" leave the "e" unread
      for (; q < e && isDigit(*q); ++q)
        if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
      if (negative) exponent = -exponent;
      p = q;
    }
  }
  const auto consumed = static_cast<std::size_t>(p - b);
  if constexpr (!Convert) {
    return consumed;
  } else {
    const long long e10 = exponent - fraction;
    double v;
    if (exact && mantissa == 0) {
      v = 0.0;
    } else if (exact && mantissa <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
      const auto m = static_cast<double>(mantissa);
      v = e10 < 0 ? m / kPow10[static_cast<std::size_t>(-e10)]
                  : m * kPow10[static_cast<std::size_t>(e10)];
    } else if (!exact || !wideDecimal(mantissa, e10, &v)) {
      return carefulDecimal(b, start, p, e, value);
    }
    *value = sign == '-' ? -v : v;
    return consumed;
  }
}

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

inline const char* skipSpace(const char* p, const char* e) {
  while (p < e && isSpace(*p)) ++p;
  return p;
}

// Items on a data line the plain way: numbers as strtod reads them, each with the white
// space after it, plus one for anything else met (and counting ends there).
long long countItemsOneByOne(const char* p, const char* e, const char* limit) {
  long long n = 0;
  while (p < e) {
    const std::size_t used = scan<false>(p, e, limit, nullptr);
    ++n;
    if (used == 0) break;
    p = skipSpace(p + used, e);
  }
  return n;
}

#if defined(__SSE2__)
// The common data line, counted 64 characters at a time: when every white-space separated
// token of the line is one whole decimal number,
//     sign? (digits (. digits?)? | . digits) ((e|E) sign? digits)?
// strtod consumes each token exactly and the line has as many items as tokens. The
// characters are classified into bit masks (bit i for character i); the token rules
// then become rules about neighbouring characters and about where digit runs end, and a
// digit run's end is found by one addition (a carry runs through the run). Anything else
// on the line (letters other than e, other punctuation, control characters, a token
// such as "1-2", "1.2.3", "1e5e3", ".", "e5") leaves the line to the plain count.
struct Classes {
  std::uint64_t space, digit, dot, sign, e;
};

// Set bits of a word, without relying on a population-count instruction.
inline int bitCount(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555;
  x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return static_cast<int>((x * 0x0101010101010101) >> 56);
}

// Masks of the 64 characters at q, of which the first n belong to the line (the rest
// count as white space). Reads 64 bytes at q.
inline Classes classify(const char* q, std::size_t n, bool* other) {
  Classes c{};
#pragma GCC unroll 4
  for (int part = 0; part < 4; ++part) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * part));
    auto in = [&v](char low, char count) {   // low <= byte < low + count, unsigned
      const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(low));
      return _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(static_cast<char>(count - 1))), t);
    };
    auto is = [&v](char ch) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(ch)); };
    const __m128i space = _mm_or_si128(is(' '), in('\t', 5));
    const __m128i digit = in('0', 10);
    const __m128i dot = is('.');
    const __m128i sign = _mm_or_si128(is('+'), is('-'));
    const __m128i e = _mm_or_si128(is('e'), is('E'));
    const int shift = 16 * part;
    auto bits = [shift](__m128i m) {
      return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))) << shift;
    };
    c.space |= bits(space);
    c.digit |= bits(digit);
    c.dot |= bits(dot);
    c.sign |= bits(sign);
    c.e |= bits(e);
  }
  const std::uint64_t inLine = n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
  c.digit &= inLine, c.dot &= inLine, c.sign &= inLine, c.e &= inLine;
  c.space |= ~inLine;
  *other = (c.space | c.digit | c.dot | c.sign | c.e) != ~std::uint64_t{0};
  return c;
}

// The count of the line [p, e) when all its tokens are plain numbers; false otherwise.
// p is the line's first character that is not white space.
bool countPlainNumbers(const char* p, const char* e, const char* limit, long long* count) {
  const auto length = static_cast<std::size_t>(e - p);
  // Words to look at: one past the last character, so that what follows the line's last
  // character is seen as white space.
  const std::size_t words = length / 64 + 1;
  if (words > 17) return false;   // longer than a line can be
  char padded[17 * 64];
  const char* q = p;
  if (static_cast<std::size_t>(limit - p) < words * 64) {   // near the end of the text
    std::memset(padded, ' ', words * 64);
    std::memcpy(padded, p, length);
    q = padded;
  }
  // Carries between words: the previous word's last character (a line starts after
  // white space) and the three running digit-run additions.
  std::uint64_t prevSpace = 1, prevDigit = 0, prevDot = 0, prevSign = 0, prevE = 0;
  std::uint64_t prevLeadSign = 0, prevExponentSign = 0, prevLooseDot = 0;
  bool carryInt = false, carryFraction = false, carryExponent = false;
  std::uint64_t bad = 0;
  long long tokens = 0;
  for (std::size_t i = 0; i < words; ++i) {
    const std::size_t left = length > 64 * i ? length - 64 * i : 0;
    bool other = false;
    const Classes c = classify(q + 64 * i, left, &other);
    if (other) return false;
    // before(m): bit i set when character i-1 is in m (carrying the previous word's last).
    auto before = [](std::uint64_t m, std::uint64_t carried) { return (m << 1) | carried; };
    const std::uint64_t afterSpace = before(c.space, prevSpace);
    const std::uint64_t afterDigit = before(c.digit, prevDigit);
    const std::uint64_t afterDot = before(c.dot, prevDot);
    const std::uint64_t afterSign = before(c.sign, prevSign);
    const std::uint64_t afterE = before(c.e, prevE);
    tokens += bitCount(~c.space & afterSpace);

    const std::uint64_t leadSign = c.sign & afterSpace;   // a number's sign
    const std::uint64_t exponentSign = c.sign & afterE;   // an exponent's sign
    const std::uint64_t looseDot = c.dot & ~afterDigit;   // a dot with no digit before it
    bad |= c.sign & ~(leadSign | exponentSign);
    bad |= afterSign & ~(c.digit | c.dot);                // a sign goes before digits or a dot
    bad |= before(exponentSign, prevExponentSign) & ~c.digit;
    bad |= c.e & ~(afterDigit | afterDot);                // "1e5", "1.e5"
    bad |= afterE & ~(c.digit | c.sign);
    bad |= before(looseDot, prevLooseDot) & ~c.digit;     // ".5", not "."

    // Where each digit run ends (the character after it): integer runs must end at a
    // dot, an e or white space, fraction runs (possibly empty) at an e or white space,
    // exponent runs at white space.
    const std::uint64_t intStart =
        c.digit & ~afterDigit & (afterSpace | before(leadSign, prevLeadSign));
    const std::uint64_t fractionStart = afterDot;
    const std::uint64_t exponentStart =
        c.digit & (afterE | before(exponentSign, prevExponentSign));
    auto runEnds = [&c](std::uint64_t starts, bool& carry) {
      std::uint64_t sum;
      const bool out1 = __builtin_add_overflow(c.digit, starts, &sum);
      const bool out2 = __builtin_add_overflow(sum, static_cast<std::uint64_t>(carry), &sum);
      carry = out1 || out2;
      return sum & ~c.digit;
    };
    bad |= runEnds(intStart, carryInt) & ~(c.dot | c.e | c.space);
    bad |= runEnds(fractionStart, carryFraction) & ~(c.e | c.space);
    bad |= runEnds(exponentStart, carryExponent) & ~c.space;
    if (bad) return false;

    prevSpace = c.space >> 63, prevDigit = c.digit >> 63, prevDot = c.dot >> 63;
    prevSign = c.sign >> 63, prevE = c.e >> 63;
    prevLeadSign = leadSign >> 63, prevExponentSign = exponentSign >> 63;
    prevLooseDot = looseDot >> 63;
  }
  *count = tokens;
  return true;
}
#endif

// Items on a data line whose first character (not white space) is at p: numbers as
// strtod reads them, each with the white space after it, plus one for anything else met.
long long countItems(const char* p, const char* e, const char* limit) {
#if defined(__SSE2__)
  long long n;
  if (countPlainNumbers(p, e, limit, &n)) return n;
#endif
  return countItemsOneByOne(p, e, limit);
}

// Option-line vocabularies, searched as substrings of the upper-cased line.
struct FormatToken {
  std::string_view text;
  format fmt;
};
// Every match applies in this order, so the last one found wins: "MA" with "RI" is RI.
constexpr std::array<FormatToken, 3> kFormats{{{"MA", MA}, {"DB", DB}, {"RI", RI}}};

struct UnitToken {
  std::string_view text;
  double factor;
};
// The first match wins: "MHZ", "KHZ" and "GHZ" must be tried before "HZ".
constexpr std::array<UnitToken, 4> kUnits{{{"MHZ", 1e6}, {"KHZ", 1e3}, {"GHZ", 1e9}, {"HZ", 1.0}}};

void readOptionLine(const char* b, const char* e, format* fmt, double* unit) {
  std::string line(b, e);
  for (char& c : line) c = upper(c);
  for (const FormatToken& t : kFormats)
    if (line.find(t.text) != std::string::npos) *fmt = t.fmt;
  for (const UnitToken& t : kUnits) {
    if (line.find(t.text) != std::string::npos) {
      *unit = t.factor;
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
    auto number = [quick, e, limit](const char* from, double* x) __attribute__((always_inline)) -> const char* {
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

std::size_t scanNumber(std::string_view text, double* value) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (const void* z = std::memchr(b, 0, text.size())) e = static_cast<const char*>(z);
  double v = 0;
  const std::size_t used = scan<true>(b, e, b + text.size(), &v);
  if (used != 0 && value) *value = v;
  return used;
}

long long countLineItems(std::string_view line) {
  const char* b = line.data();
  const char* e = b + line.size();
  if (const void* z = std::memchr(b, 0, line.size())) e = static_cast<const char*>(z);
  const char* p = skipSpace(b, e);
  return p == e ? 0 : countItems(p, e, b + line.size());
}

complex Param(format fmt, double a, double b) {
  switch (fmt) {
    case RI: return pairValue<RI>(a, b);
    case MA: return pairValue<MA>(a, b);
    case DB: return pairValue<DB>(a, b);
    case MR: return pairValue<MR>(a, b);
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
Sizes sizeRecords(LineCutter& lines, const char* textEnd, Comments& comments, bool& touchstone2Keywords) {
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
  return records > INT_MAX || ports > INT_MAX || (perPoint > 0 && records > kMaxSetValues / perPoint) ||
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
bool readInOnePass(LineCutter& lines, const char* limit, double unit, Comments& comments, OnePass& out) {
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
        const long long estimate = std::min<long long>((limit - b) / (b - firstRecord) + 2, INT_MAX);
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
      case RI: read = readInOnePass<RI>(lines, textEnd, header.unit, set.comments, one); break;
      case MA: read = readInOnePass<MA>(lines, textEnd, header.unit, set.comments, one); break;
      case DB: read = readInOnePass<DB>(lines, textEnd, header.unit, set.comments, one); break;
      case MR: read = readInOnePass<MR>(lines, textEnd, header.unit, set.comments, one); break;
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
      case RI: k = readValues<RI>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data); break;
      case MA: k = readValues<MA>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data); break;
      case DB: k = readValues<DB>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data); break;
      case MR: k = readValues<MR>(lines, textEnd, unit, set.nFreq, set.nPorts, freq, data); break;
    }
    if (k == set.nFreq) result.status = ReadStatus::ok;
  }
  set.data->resize(static_cast<std::size_t>(records * perPoint));
  return result;
}
