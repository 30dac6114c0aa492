// The long-standing reader's number scanner: numbers as strtod reads them in the C
// locale, to the same bits (not installed).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "detail/Digits.h"

namespace touchstone_detail {

// Character classes of the C locale, whatever locale the process runs in.
inline bool isSpace(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u == ' ' || (u >= '\t' && u <= '\r');
}
inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Powers of ten that are exact doubles.
inline constexpr std::array<double, 23> kPow10{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// strtod itself, in the C locale, on [b, e): the reference for the unusual forms (hex,
// inf, nan, leading "+", long mantissas, huge exponents). Returns characters consumed.
[[gnu::noinline]] std::size_t strtodC(const char* b, const char* e, double* value);
// A decimal number [start, end) the quick path cannot convert exactly (long mantissa,
// large exponent): std::from_chars where it takes the text, else strtod.
[[gnu::noinline]] std::size_t carefulDecimal(const char* b, const char* start, const char* end,
                                             const char* e, double* value);

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

inline const char* skipSpace(const char* p, const char* e) {
  while (p < e && isSpace(*p)) ++p;
  return p;
}

// Items on a data line whose first character (not white space) is at p: numbers as
// strtod reads them, each with the white space after it, plus one for anything else met.
long long countItems(const char* p, const char* e, const char* limit);

}  // namespace touchstone_detail
