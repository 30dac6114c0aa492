// printf's "%<width>.<precision>e": a quick path in double arithmetic where its rounding
// is certain, std::to_chars for everything else.
#include "sideColumns.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Powers of ten that doubles hold exactly.
constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExact = 22;
// Digits the quick path gives: below 10^15 the scaled value's rounding error (half a unit
// in its last place) stays far below the distance that matters, 1/2.
constexpr int kMaxQuickPrecision = 14;

char* putByToChars(char* at, double v, int width, int precision) {
  char digits[64];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, v, std::chars_format::scientific, precision);
  const auto length = ec == std::errc() ? static_cast<int>(end - digits) : 0;
  for (int pad = width - length; pad > 0; --pad) *at++ = ' ';
  std::memcpy(at, digits, static_cast<std::size_t>(length));
  return at + length;
}

// |v| * 10^(precision - exponent) with one rounding, or -1 where the power of ten is
// not exact.
double scaled(double magnitude, int precision, int exponent) {
  const int k = precision - exponent;
  if (k >= 0) return k <= kMaxExact ? magnitude * kExact[k] : -1;
  return -k <= kMaxExact ? magnitude / kExact[-k] : -1;
}

// The quick path: |v| rounded to precision+1 significant digits, and its decimal
// exponent, when the rounding is certain. The scaled value s is within half a unit in
// its last place of the exact |v| * 10^k; only a fraction that close to one half could
// round the other way, and such values go to std::to_chars, which rounds the exact
// value (ties to even).
bool quickDigits(double magnitude, int precision, std::uint64_t& digits, int& exponent) {
  if (!(magnitude >= 1e-300 && magnitude <= 1e300)) return false;   // zero, tiny, huge, NaN
  exponent = static_cast<int>(std::floor(std::log10(magnitude)));
  const double low = kExact[precision], high = kExact[precision + 1];
  double s = scaled(magnitude, precision, exponent);
  // log10 may land one off next to a power of ten.
  if (s >= 0 && s < low)
    s = scaled(magnitude, precision, --exponent);
  else if (s >= high)
    s = scaled(magnitude, precision, ++exponent);
  if (!(s >= low && s < high)) return false;
  const double whole = std::floor(s);
  const double fraction = s - whole;   // exact: the fraction bits of s
  const double margin = s * 0x1p-52;   // at least one unit in the last place of s
  if (std::fabs(fraction - 0.5) <= margin) return false;
  digits = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
  if (digits == static_cast<std::uint64_t>(high)) {   // 9.99..95 rounds up to 10.0..0
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
  // Written backwards: exponent (two digits at least, with its sign), the digits after
  // the point, the point, the leading digit, the sign.
  char text[32];
  char* const end = text + sizeof text;
  char* p = end;
  int e = exponent < 0 ? -exponent : exponent;
  do {
    *--p = static_cast<char>('0' + e % 10);
    e /= 10;
  } while (e > 0);
  if (exponent > -10 && exponent < 10) *--p = '0';
  *--p = exponent < 0 ? '-' : '+';
  *--p = 'e';
  for (int i = 0; i < precision; ++i) {
    *--p = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  if (precision > 0) *--p = '.';
  *--p = static_cast<char>('0' + digits);
  if (std::signbit(v)) *--p = '-';
  const int length = static_cast<int>(end - p);
  for (int pad = width - length; pad > 0; --pad) *at++ = ' ';
  std::memcpy(at, p, static_cast<std::size_t>(length));
  return at + length;
}
