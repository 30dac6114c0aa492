// printf's "%<width>.<precision>e": a quick path in double arithmetic where its rounding
// is certain, std::to_chars for everything else.
#include "sideColumns.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Powers of ten that doubles hold exactly.
constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExact = 22;
// "00" to "99".
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
// Digits the quick path gives: below 10^15 the scaled value's rounding error (half a unit
// in its last place) stays far below the distance that matters, 1/2.
constexpr int kMaxQuickPrecision = 14;

// text (length characters) right-aligned in width, blanks in front; returns the end.
char* placeRight(char* at, const char* text, int length, int width) {
  for (int pad = width - length; pad > 0; --pad) *at++ = ' ';
  std::memcpy(at, text, static_cast<std::size_t>(length));
  return at + length;
}

char* putByToChars(char* at, double v, int width, int precision,
                   std::chars_format form = std::chars_format::scientific) {
  char digits[400];  // fixed notation of the largest double with a few decimals
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v, form, precision);
  return placeRight(at, digits, ec == std::errc() ? static_cast<int>(end - digits) : 0, width);
}

// |v| * 10^k with at most two roundings, or -1 where that would take more.
double scaled(double magnitude, int k) {
  if (k >= 0) {
    if (k <= kMaxExact) return magnitude * kExact[k];
    return k <= 2 * kMaxExact ? magnitude * kExact[k - kMaxExact] * kExact[kMaxExact] : -1;
  }
  k = -k;
  if (k <= kMaxExact) return magnitude / kExact[k];
  return k <= 2 * kMaxExact ? magnitude / kExact[k - kMaxExact] / kExact[kMaxExact] : -1;
}

// The quick path: |v| rounded to precision+1 significant digits, and its decimal
// exponent, when the rounding is certain. The scaled value s is within one unit in its
// last place of the exact |v| * 10^k; only a fraction that close to one half could
// round the other way, and such values go to std::to_chars, which rounds the exact
// value (ties to even).
bool quickDigits(double magnitude, int precision, std::uint64_t& digits, int& exponent) {
  if (magnitude == 0) {
    digits = 0, exponent = 0;
    return true;
  }
  if (!(magnitude >= 1e-300 && magnitude <= 1e300)) return false;  // tiny, huge, NaN
  // floor(log2 |v|) from the bits, times log10(2): the decimal exponent or one below it.
  const int binary =
      static_cast<int>((std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7ff) - 1023;
  exponent = (binary * 78913) >> 18;  // floor(binary * log10(2)) for |binary| < 1100
  const double low = kExact[precision], high = kExact[precision + 1];
  double s = scaled(magnitude, precision - exponent);
  if (s >= high) s = scaled(magnitude, precision - ++exponent);
  if (!(s >= low && s < high)) return false;
  const auto whole = static_cast<std::uint64_t>(s);        // s is positive: its floor
  const double fraction = s - static_cast<double>(whole);  // exact: the fraction bits of s
  const double margin = s * 0x1p-50;                       // four units in the last place of s
  if (std::fabs(fraction - 0.5) <= margin) return false;
  digits = whole + (fraction > 0.5 ? 1 : 0);
  if (digits == static_cast<std::uint64_t>(high)) {  // 9.99..95 rounds up to 10.0..0
    digits /= 10;
    ++exponent;
  }
  return true;
}

}  // namespace

char* putScientific(char* at, double v, int width, int precision) {
  std::uint64_t digits;
  int exponent;
  if (precision < 0 || precision > kMaxQuickPrecision ||
      !quickDigits(std::fabs(v), precision, digits, exponent))
    return putByToChars(at, v, width, precision);
  // Written in place: the blanks in front, the sign, the digits (backwards, two at a
  // time), the point among them, and the exponent (two digits at least, with its sign).
  const bool negative = std::signbit(v);
  const int e = exponent < 0 ? -exponent : exponent;
  const int mantissa = 1 + (precision > 0 ? 1 + precision : 0);
  const int length = (negative ? 1 : 0) + mantissa + 2 + (e >= 100 ? 3 : 2);
  for (int pad = width - length; pad > 0; --pad) *at++ = ' ';
  if (negative) *at++ = '-';
  char* p = at + mantissa;
  int left = precision;
  for (; left >= 2; left -= 2) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * (digits % 100), 2);
    digits /= 100;
  }
  if (left) {
    *--p = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  if (precision > 0) *--p = '.';
  *--p = static_cast<char>('0' + digits);
  at += mantissa;
  *at++ = 'e';
  *at++ = exponent < 0 ? '-' : '+';
  if (e >= 100) *at++ = static_cast<char>('0' + e / 100);
  std::memcpy(at, kPairs + 2 * (e % 100), 2);
  return at + 2;
}

char* putFixed(char* at, double v, int width, int precision) {
  // The quick path: |v| * 10^precision below 10^15, rounded as in quickDigits.
  const double magnitude = std::fabs(v);
  const double s =
      precision >= 0 && precision <= kMaxQuickPrecision ? magnitude * kExact[precision] : -1;
  if (!(s >= 0 && s < 1e15)) return putByToChars(at, v, width, precision, std::chars_format::fixed);
  const auto whole = static_cast<std::uint64_t>(s);
  const double fraction = s - static_cast<double>(whole);
  if (s > 0 && std::fabs(fraction - 0.5) <= s * 0x1p-50)
    return putByToChars(at, v, width, precision, std::chars_format::fixed);
  std::uint64_t digits = whole + (fraction > 0.5 ? 1 : 0);
  char text[40];
  char* const end = text + sizeof text;
  char* p = end;
  for (int i = 0; i < precision; ++i) {
    *--p = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  if (precision > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + digits % 10);
    digits /= 10;
  } while (digits > 0);
  if (std::signbit(v)) *--p = '-';
  return placeRight(at, p, static_cast<int>(end - p), width);
}
