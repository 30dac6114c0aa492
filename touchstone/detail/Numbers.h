// The number scanner of both Touchstone readers (not installed). scanDecimal takes the
// common decimal form apart and decimalValue converts it where that is exact; each
// reader wraps them with its own rules: the long-standing reader reads a number as
// strtod does in the C locale, to the same bits (white space first; hexadecimal, inf and
// nan through strtod itself), the standard reader a number as the standard writes one,
// ending at a delimiter and finite.
#pragma once

#include <cstddef>
#include <cstdint>

#include "detail/Characters.h"
#include "detail/Digits.h"

namespace brevo {

namespace touchstone_detail {

// A decimal number taken apart: sign? digits (. digits?)? ((e|E) sign? digits)?, or with
// the digits after the point alone. An 'e' without exponent digits after it is not part
// of the number ("1e" and "1e+" end before the 'e').
struct Decimal {
  const char* end;             // after the number
  std::uint64_t mantissa = 0;  // every digit, the point left out, while they stay below 10^19
  long long power = 0;         // the exponent less the digits after the point
  bool exact = true;           // mantissa holds every digit
  bool negative = false;
  bool digits = false;  // a digit before or after the point
};

// The decimal number at p (its sign or first digit), not reading at or beyond e; words
// of eight bytes are read only where the buffer holds them up to limit. With Convert
// false only the extent is found.
template <bool Convert>
[[gnu::always_inline]] inline Decimal scanDecimal(const char* p, const char* e, const char* limit) {
  Decimal d;
  d.negative = p < e && *p == '-';
  if (p < e && (*p == '+' || *p == '-')) ++p;
  const char* integer = p;
  digitRun<Convert>(p, e, limit, d.mantissa, d.exact);
  d.digits = p != integer;
  long long fraction = 0;
  if (p < e && *p == '.') {
    const char* first = ++p;
    digitRun<Convert>(p, e, limit, d.mantissa, d.exact);
    fraction = p - first;
    d.digits = d.digits || fraction > 0;
  }
  long long exponent = 0;
  if (d.digits && p < e && upper(*p) == 'E') {
    const char* q = p + 1;
    const bool down = q < e && *q == '-';
    if (q < e && (*q == '+' || *q == '-')) ++q;
    if (q < e && isDigit(*q)) {
      for (; q < e && isDigit(*q); ++q)
        if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
      if (down) exponent = -exponent;
      p = q;
    }
  }
  d.power = exponent - fraction;
  d.end = p;
  return d;
}

// The correctly rounded value of d, as strtod gives it, where one exact operation or
// wideDecimal yields it: true with *value set; false when only a careful conversion of
// the text can tell (a mantissa of more than 19 digits, an exponent far out).
[[gnu::always_inline]] inline bool decimalValue(const Decimal& d, double* value) {
  double v;
  if (d.exact && d.mantissa == 0) {
    v = 0.0;
  } else if (d.exact && d.mantissa <= (std::uint64_t{1} << 53) && d.power >= -22 && d.power <= 22) {
    const auto m = static_cast<double>(d.mantissa);
    v = d.power < 0 ? m / kPow10Exact[-d.power] : m * kPow10Exact[d.power];
  } else if (!d.exact || !wideDecimal(d.mantissa, d.power, &v)) {
    return false;
  }
  *value = d.negative ? -v : v;
  return true;
}

// ---- the long-standing reader: numbers as strtod reads them ----

// strtod itself, in the C locale, on [b, e): the reference for the unusual forms (hex,
// inf, nan, leading "+", long mantissas, huge exponents). Returns characters consumed.
[[gnu::noinline]] std::size_t strtodC(const char* b, const char* e, double* value);
// A decimal number [start, end) the quick path cannot convert exactly (long mantissa,
// large exponent): std::from_chars where it takes the text, else strtod.
[[gnu::noinline]] std::size_t carefulDecimal(const char* b, const char* start, const char* end,
                                             const char* e, double* value);

// One number as strtod reads it, from b (white space first) up to e: the characters
// consumed, white space included, or 0. The common decimal form is scanned and converted
// by scanDecimal and decimalValue; other decimals go to std::from_chars (correctly rounded
// too), and whatever that will not take to strtod. With Convert false only the extent is
// found (the sizing pass).
template <bool Convert>
[[gnu::always_inline]] inline std::size_t scan(const char* b, const char* e, const char* limit,
                                               double* value) {
  const char* p = skipSpace(b, e);
  if (p == e) return 0;
  const char* start = p;
  if (*p == '-' || *p == '+') ++p;
  if (p == e) return 0;
  if (!isDigit(*p) && *p != '.') {
    const char c = upper(*p);
    if (c == 'I' || c == 'N') return strtodC(b, e, value);  // inf, infinity, nan(...)
    return 0;
  }
  if (*p == '0' && p + 1 < e && upper(p[1]) == 'X') return strtodC(b, e, value);
  const Decimal d = scanDecimal<Convert>(start, e, limit);
  if (!d.digits) return 0;  // ".", "-.", "+.e5": strtod converts nothing
  const auto consumed = static_cast<std::size_t>(d.end - b);
  if constexpr (Convert) {
    if (!decimalValue(d, value)) return carefulDecimal(b, start, d.end, e, value);
  }
  return consumed;
}

// Items on a data line whose first character (not white space) is at p: numbers as
// strtod reads them, each with the white space after it, plus one for anything else met.
long long countItems(const char* p, const char* e, const char* limit);

// ---- the standard reader: numbers as the standard writes them ----

// [p, q), a number the exact conversions leave, by std::from_chars: its value, or false
// when it is too large for a double (underflow reads as the nearest double, zero or
// subnormal, as strtod gives it).
[[gnu::noinline]] bool strictCareful(const char* p, const char* q, double* value);

// A number from p (not white space) to the next delimiter: its end, or null when the
// token is not such a number or is too large for a double. The common short forms go by
// quickDecimal where the text holds 40 more bytes, without bounds checks.
[[gnu::always_inline]] inline const char* strictNumber(const char* p, const char* e,
                                                       double* value) {
  if (double v; e - p >= 40) {  // far enough from the end for the quick scan's reads
    if (const char* q = quickDecimal(p, &v)) {
      if (!isDelimiter(*q)) return nullptr;
      *value = v;
      return q;
    }
  }
  const Decimal d = scanDecimal<true>(p, e, e);
  if (!d.digits || (d.end < e && !isDelimiter(*d.end))) return nullptr;
  if (decimalValue(d, value)) return d.end;
  return strictCareful(p, d.end, value) ? d.end : nullptr;
}

}  // namespace touchstone_detail

}  // namespace brevo
