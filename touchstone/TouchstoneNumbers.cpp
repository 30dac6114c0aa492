// The readers' number scanner where it leaves the quick path (strtod in the C locale,
// std::from_chars), and the long-standing reader's count of the items on a data line, 64
// characters at a time where the line holds plain numbers only.
#include "TouchstoneCore.h"
#include "detail/Numbers.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace brevo {

#endif

namespace touchstone_detail {

std::size_t strtodC(const char* b, const char* e, double* value) {
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

std::size_t carefulDecimal(const char* b, const char* start, const char* end, const char* e,
                           double* value) {
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

bool strictCareful(const char* p, const char* q, double* value) {
  const char* start = *p == '+' ? p + 1 : p;
  const auto [end, ec] = std::from_chars(start, q, *value);
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as the nearest double (zero or subnormal), as strtod gives it;
    // overflow is no value at all.
    const std::string copy(start, q);
    *value = std::strtod(copy.c_str(), nullptr);
    return std::isfinite(*value);
  }
  return ec == std::errc() && end == q;
}

namespace {

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
    auto in = [&v](char low, char count) {  // low <= byte < low + count, unsigned
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
  if (words > 17) return false;  // longer than a line can be
  char padded[17 * 64];
  const char* q = p;
  if (static_cast<std::size_t>(limit - p) < words * 64) {  // near the end of the text
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

    const std::uint64_t leadSign = c.sign & afterSpace;  // a number's sign
    const std::uint64_t exponentSign = c.sign & afterE;  // an exponent's sign
    const std::uint64_t looseDot = c.dot & ~afterDigit;  // a dot with no digit before it
    bad |= c.sign & ~(leadSign | exponentSign);
    bad |= afterSign & ~(c.digit | c.dot);  // a sign goes before digits or a dot
    bad |= before(exponentSign, prevExponentSign) & ~c.digit;
    bad |= c.e & ~(afterDigit | afterDot);  // "1e5", "1.e5"
    bad |= afterE & ~(c.digit | c.sign);
    bad |= before(looseDot, prevLooseDot) & ~c.digit;  // ".5", not "."

    // Where each digit run ends (the character after it): integer runs must end at a
    // dot, an e or white space, fraction runs (possibly empty) at an e or white space,
    // exponent runs at white space.
    const std::uint64_t intStart =
        c.digit & ~afterDigit & (afterSpace | before(leadSign, prevLeadSign));
    const std::uint64_t fractionStart = afterDot;
    const std::uint64_t exponentStart = c.digit & (afterE | before(exponentSign, prevExponentSign));
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

}  // namespace

long long countItems(const char* p, const char* e, const char* limit) {
#if defined(__SSE2__)
  long long n;
  if (countPlainNumbers(p, e, limit, &n)) return n;
#endif
  return countItemsOneByOne(p, e, limit);
}

}  // namespace touchstone_detail

using namespace touchstone_detail;

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

}  // namespace brevo
