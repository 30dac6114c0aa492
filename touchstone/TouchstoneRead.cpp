// The Touchstone reader as a pure function of the file's bytes, its number scanner, and
// the pair encodings shared with the writer.
//
// The reader sees the text exactly as a line reader with a 1024-byte buffer would: a
// line is cut after 1023 characters and the rest is handled as a line of its own, and
// a NUL byte ends what the line holds. Three passes run over one buffer: the header up
// to the option line, a sizing pass that only counts items, and the value pass that
// fills one block allocated at its final size.
#include "TouchstoneCore.h"

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <new>
#include <string>
#include <sys/mman.h>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadiansPerDegree = kPi / 180.0;

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

// Eight ASCII digits in one little-endian word: all digits?
inline bool eightDigits(std::uint64_t w) {
  return (((w + 0x4646464646464646) | (w - 0x3030303030303030)) & 0x8080808080808080) == 0;
}

// Their value, by three multiplications instead of eight steps.
inline std::uint32_t eightDigitValue(std::uint64_t w) {
  constexpr std::uint64_t kMask = 0x000000FF000000FF;
  constexpr std::uint64_t kMul1 = 100 + (1000000ULL << 32);
  constexpr std::uint64_t kMul2 = 1 + (10000ULL << 32);
  w -= 0x3030303030303030;
  w = (w * 10) + (w >> 8);
  return static_cast<std::uint32_t>((((w & kMask) * kMul1) + (((w >> 16) & kMask) * kMul2)) >> 32);
}

// Consumes a run of decimal digits at p, eight at a time where it can, adding them to
// mantissa while that stays exact (below 10^18); exact turns false when it would not.
template <bool Convert>
inline void digitRun(const char*& p, const char* e, std::uint64_t& mantissa, bool& exact) {
  constexpr std::uint64_t kRoom8 = 10000000000ULL;        // m * 10^8 + 99999999 < 10^18
  constexpr std::uint64_t kRoom1 = 100000000000000000ULL;  // m * 10 + 9 < 10^18
  if constexpr (std::endian::native == std::endian::little) {
    while (e - p >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      if (!eightDigits(w)) break;
      if constexpr (Convert) {
        if (exact && mantissa < kRoom8)
          mantissa = mantissa * 100000000 + eightDigitValue(w);
        else
          exact = false;
      }
      p += 8;
    }
  }
  for (; p < e && isDigit(*p); ++p) {
    if constexpr (Convert) {
      if (exact && mantissa < kRoom1)
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
      else
        exact = false;
    }
  }
}

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
// form is scanned here; when its digits fit 64 bits and the power of ten is exact, one
// IEEE multiply or divide gives the correctly rounded result, the same bits as strtod.
// Other decimals go to std::from_chars (correctly rounded too), and whatever that will
// not take to strtod. With Convert false only the extent is found (the sizing pass).
template <bool Convert>
[[gnu::always_inline]] inline std::size_t scan(const char* b, const char* e, double* value) {
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

  // All digits, decimal point ignored, as one exact integer while it stays below 10^18;
  // beyond that the number goes the careful way.
  std::uint64_t mantissa = 0;
  bool exact = true;
  long long fraction = 0;  // digits after the decimal point
  const char* digitsStart = p;
  digitRun<Convert>(p, e, mantissa, exact);
  bool anyDigit = p != digitsStart;
  if (p < e && *p == '.') {
    const char* fractionStart = ++p;
    digitRun<Convert>(p, e, mantissa, exact);
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
    } else {
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

// Items on a data line: numbers as strtod reads them, each with the white space after
// it, plus one for anything else met (and counting ends there).
long long countItems(const char* p, const char* e) {
  long long n = 0;
  while (p < e) {
    const std::size_t used = scan<false>(p, e, nullptr);
    ++n;
    if (used == 0) break;
    p = skipSpace(p + used, e);
  }
  return n;
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

// A vector of n zeros whose pages the kernel may back with huge pages: a 16-port file of
// 10,000 points needs 41 MB of matrices, and faulting that in 4 KiB pages costs more
// than parsing it. The advice is only a hint; where it is refused nothing changes.
template <typename T>
std::shared_ptr<std::vector<T>> zeros(std::size_t n) {
  auto v = std::make_shared<std::vector<T>>();
  v->reserve(n);
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(v->data());
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + n * sizeof(T)) & ~(kHuge - 1);
  if (n * sizeof(T) >= 2 * kHuge && last > first)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
  v->resize(n);
  return v;
}

inline complex polarOf(double magnitude, double radians) {
  return {magnitude * std::cos(radians), magnitude * std::sin(radians)};
}

}  // namespace

std::size_t scanNumber(std::string_view text, double* value) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (const void* z = std::memchr(b, 0, text.size())) e = static_cast<const char*>(z);
  double v = 0;
  const std::size_t used = scan<true>(b, e, &v);
  if (used != 0 && value) *value = v;
  return used;
}

complex Param(format fmt, double a, double b) {
  switch (fmt) {
    case RI: return {a, b};
    case MA: return polarOf(a, b * kRadiansPerDegree);
    case DB: return polarOf(std::pow(10.0, 0.05 * a), b * kRadiansPerDegree);
    case MR: return polarOf(a, b);
  }
  return {0.0, 0.0};  // a value outside the enumeration encodes nothing
}

complex Param(format f, complex z) { return Param(f, z.real(), z.imag()); }

ReadResult parseTouchstone(std::string_view text, std::string fileName) {
  ReadResult result;
  Sparams& set = result.set;
  set.name = std::make_shared<const std::string>(std::move(fileName));

  auto keepComment = [&set](const char* p, const char* e) {
    // "!" and a line feed alone say nothing and are dropped.
    if (e - p > 2) set.comments.push_back(std::make_shared<const std::string>(p, e));
  };

  // Header: comments up to the option line; anything else before it is ignored.
  format fmt = MA;
  double unit = 1e9;
  LineCutter lines(text);
  const char* b;
  const char* e;
  bool optionLine = false;
  while (lines.next(&b, &e)) {
    const char* p = skipSpace(b, e);
    if (p == e) continue;
    if (*p == '!') {
      keepComment(p, e);
    } else if (*p == '#') {
      readOptionLine(p, e, &fmt, &unit);
      optionLine = true;
      break;
    } else if (*p == '[') {
      result.touchstone2Keywords = true;
    }
  }
  if (!optionLine) {
    result.status = ReadStatus::noOptionLine;
    return result;
  }
  const std::size_t dataStart = lines.position();

  // Sizing: an odd item count starts a record (frequency plus whole pairs), an even one
  // continues it; the port count comes from the first record alone.
  long long records = 0;
  long long values = 0;
  long long ports = 0;
  while (lines.next(&b, &e)) {
    const char* p = skipSpace(b, e);
    if (p == e) continue;
    if (*p == '!') {
      keepComment(p, e);
      continue;
    }
    if (*p == '[') result.touchstone2Keywords = true;
    const long long n = countItems(p, e);
    if (n % 2 == 1) {
      if (records == 1) ports = floorSqrt(values / 2);
      ++records;
      values = n - 1;
    } else {
      values += n;
    }
  }

  // Refuse what would not fit before allocating anything.
  const long long perPoint = ports * ports;  // ports < 2^31 here: the text holds 2 p^2 items
  const bool tooLarge = records > INT_MAX || ports > INT_MAX ||
                        (perPoint > 0 && records > kMaxSetValues / perPoint) ||
                        records * 8 + records * perPoint * 16 > kMaxSetBytes;
  auto refuse = [&](const char* why) {
    char line[512];
    const double gib = static_cast<double>(records) *
                       (8.0 + 16.0 * static_cast<double>(ports) * static_cast<double>(ports)) /
                       static_cast<double>(1LL << 30);
    std::snprintf(line, sizeof line, "%s: %lld ports at %lld frequencies would need %.1f GiB%s",
                  set.name->c_str(), ports, records, gib, why);
    result.message = line;
    result.status = ReadStatus::tooLarge;
  };
  if (tooLarge) {
    refuse(", more than the 4 GiB a set may take; not read");
    return result;
  }
  try {
    set.freq = zeros<double>(static_cast<std::size_t>(records));
    set.data = zeros<complex>(static_cast<std::size_t>(records * perPoint));
  } catch (const std::bad_alloc&) {
    set.freq.reset();
    set.data.reset();
    refuse(", more than this machine could allocate; not read");
    return result;
  }
  set.nFreq = static_cast<int>(records);
  set.nPorts = static_cast<int>(ports);

  // Values: each record's frequency, then pairs filling the matrix row by row, column
  // fastest, in file order; a pair whose second number is missing takes 0 for it.
  result.status = ReadStatus::incomplete;
  if (set.nFreq == 0 || set.nPorts == 0) return result;  // no place for any value
  lines.seek(dataStart);
  double* freq = set.freq->data();
  complex* entry = set.data->data();
  const int n = set.nPorts;
  int k = 0;
  int r = 0;
  int c = 0;
  bool haveFrequency = false;
  while (k < set.nFreq && lines.next(&b, &e)) {
    const char* p = skipSpace(b, e);
    if (p == e || *p == '!') continue;
    double x;
    if (!haveFrequency) {
      const std::size_t used = scan<true>(p, e, &x);
      if (used == 0) continue;
      freq[k] = x * unit;
      haveFrequency = true;
      p += used;
    }
    for (;;) {
      std::size_t used = scan<true>(p, e, &x);
      if (used == 0) break;
      p += used;
      double y = 0.0;
      used = scan<true>(p, e, &y);
      p += used;
      *entry++ = Param(fmt, x, y);
      if (++c < n) continue;
      c = 0;
      if (++r < n) continue;
      r = 0;
      ++k;
      haveFrequency = false;
      break;  // a new record always starts on a new line
    }
  }
  if (k == set.nFreq) result.status = ReadStatus::ok;
  return result;
}
