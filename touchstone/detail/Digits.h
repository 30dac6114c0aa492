// Decimal digits eight at a time, for the readers of this library (not installed).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "detail/Characters.h"

namespace brevo {

namespace touchstone_detail {

// Where the first byte that is not an ASCII digit sits in a little-endian word: the high
// bit of that byte is set in the result, and no bit below it. (Bytes after it may be
// flagged too: a borrow or carry only runs towards later bytes.)
inline std::uint64_t nonDigitBytes(std::uint64_t w) {
  return ((w + 0x4646464646464646) | (w - 0x3030303030303030)) & 0x8080808080808080;
}

// The value of eight digit values (0..9, first byte most significant) in one word, by
// three multiplications instead of eight steps.
inline std::uint32_t eightDigitValue(std::uint64_t digits) {
  constexpr std::uint64_t kMask = 0x000000FF000000FF;
  constexpr std::uint64_t kMul1 = 100 + (1000000ULL << 32);
  constexpr std::uint64_t kMul2 = 1 + (10000ULL << 32);
  std::uint64_t w = (digits * 10) + (digits >> 8);
  return static_cast<std::uint32_t>((((w & kMask) * kMul1) + (((w >> 16) & kMask) * kMul2)) >> 32);
}

constexpr std::array<std::uint64_t, 9> kPow10Int{1,      10,      100,      1000,     10000,
                                                 100000, 1000000, 10000000, 100000000};
// mantissa * 10^n + (n digits) stays below 10^19 < 2^64 while mantissa < kRoom[n].
constexpr std::array<std::uint64_t, 9> kRoom{
    10000000000000000000ULL, 1000000000000000000ULL, 100000000000000000ULL,
    10000000000000000ULL,    1000000000000000ULL,    100000000000000ULL,
    10000000000000ULL,       1000000000000ULL,       100000000000ULL};

// Consumes a run of decimal digits at p (not beyond e), up to eight at a time, adding
// them to mantissa while that stays exact; exact turns false when it would not. Words
// are read only where the whole buffer, up to limit, holds them.
template <bool Convert>
inline void digitRun(const char*& p, const char* e, const char* limit, std::uint64_t& mantissa,
                     bool& exact) {
  if constexpr (std::endian::native == std::endian::little) {
    while (limit - p >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      const std::uint64_t flags = nonDigitBytes(w);
      auto n = static_cast<std::size_t>(flags ? std::countr_zero(flags) / 8 : 8);
      const bool cut = static_cast<std::size_t>(e - p) < n;
      if (cut) n = static_cast<std::size_t>(e - p);
      if constexpr (Convert) {
        if (n > 0) {
          // The n digits as the low end of an eight-digit number with leading zeros.
          const std::uint64_t digits = (w - 0x3030303030303030) << (8 * (8 - n));
          if (exact && mantissa < kRoom[n])
            mantissa = mantissa * kPow10Int[n] + eightDigitValue(digits);
          else
            exact = false;
        }
      }
      p += n;
      if (n < 8 || cut) return;
    }
  }
  for (; p < e && isDigit(*p); ++p) {
    if constexpr (Convert) {
      if (exact && mantissa < kRoom[1])
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
      else
        exact = false;
    }
  }
}

// m * 10^e10 as the nearest double (ties to even, as strtod rounds), for a mantissa of up
// to 19 digits that a double does not hold exactly or a power of ten that is not an exact
// double: true with *out set, or false when this way cannot tell (the caller then converts
// the text the careful way). Where long double carries a 64-bit significand, m is exact in
// it and so is 10^|e10| up to 10^27 (5^27 < 2^64); one multiplication or division rounds
// m * 10^e10 once to 64 bits, and rounding that to 53 bits gives the nearest double unless
// the 64-bit result lies exactly halfway between two doubles (its low 11 bits 10000000000):
// only then could the exact value have been on the other side of that halfway point.
inline bool wideDecimal(std::uint64_t m, long long e10, double* out) {
  if constexpr (std::numeric_limits<long double>::digits == 64 &&
                std::endian::native == std::endian::little) {
    static constexpr long double kPow10Wide[28] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                                   1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                                   1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                                   1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
    // Below 2^63 m converts as a signed integer, in one instruction.
    if (e10 < -27 || e10 > 27 || m >> 63) return false;
    const auto x = static_cast<long double>(static_cast<std::int64_t>(m));
    const long double r = e10 < 0 ? x / kPow10Wide[-e10] : x * kPow10Wide[e10];
    std::uint64_t significand;
    std::memcpy(&significand, &r, sizeof significand);  // the low eight bytes
    if ((significand & 0x7FF) == 0x400) return false;
    *out = static_cast<double>(r);
    return true;
  } else {
    (void)m, (void)e10, (void)out;
    return false;
  }
}

// Powers of ten that are exact doubles.
inline constexpr double kPow10Exact[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common decimal number at p (its first character, not white space) without bounds
// checks: every step stops at a character that is not part of the number, and no byte
// is read 40 or more bytes after p, nor eight or more after the first white space that
// follows p; the caller makes sure the buffer holds one of those. Up to seven integer digits and 19
// digits in all, an exponent of up to four digits; the value correctly rounded, as strtod
// gives it. Returns the end of the number (what follows is not looked at beyond an 'x'),
// or null for anything else (the caller then scans the careful way).
[[gnu::always_inline]] inline const char* quickDecimal(const char* p, double* value) {
  const char* q = p;
  const bool negative = *q == '-';
  q += (*q == '-') | (*q == '+');
  auto digitWord = [](const char* at, std::uint64_t* w) {
    std::memcpy(w, at, 8);
    const std::uint64_t flags = nonDigitBytes(*w);
    return flags ? std::countr_zero(flags) / 8 : 8;
  };
  auto valueOf = [](std::uint64_t w, int n) -> std::uint64_t {  // the first n digits, n > 0
    return eightDigitValue((w - 0x3030303030303030) << (8 * (8 - n)));
  };
  std::uint64_t w;
  const int whole = digitWord(q, &w);
  if (whole == 8) return nullptr;
  std::uint64_t mantissa = whole > 1 ? valueOf(w, whole) : whole == 1 ? (w & 0xF) : 0;
  q += whole;
  int fraction = 0;
  if (*q == '.') {
    ++q;
    for (int n = 8; n == 8;) {  // below 10^19 while there are at most 19 digits
      n = digitWord(q, &w);
      if (whole + fraction + n > 19) return nullptr;
      if (n > 0) mantissa = mantissa * kPow10Int[n] + valueOf(w, n);
      q += n;
      fraction += n;
    }
  }
  if (whole + fraction == 0) return nullptr;  // ".", "-", inf, nan, text
  if ((*q | 0x20) == 'x') return nullptr;     // hexadecimal, or "0x" read as 0
  int exponent = 0;
  if ((*q | 0x20) == 'e') {
    const char* r = q + 1;
    const bool negativeExponent = *r == '-';
    r += (*r == '-') | (*r == '+');
    if (isDigit(*r)) {  // "1e" and "1e+" leave the "e" unread
      int digits = 0;
      for (; isDigit(*r) && digits < 4; ++r, ++digits) exponent = exponent * 10 + (*r - '0');
      if (isDigit(*r)) return nullptr;
      if (negativeExponent) exponent = -exponent;
      q = r;
    }
  }
  const int e10 = exponent - fraction;
  double v;
  if (mantissa <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
    const auto m = static_cast<double>(mantissa);
    v = e10 < 0 ? m / kPow10Exact[-e10] : m * kPow10Exact[e10];
  } else if (!wideDecimal(mantissa, e10, &v)) {
    return nullptr;
  }
  *value = negative ? -v : v;
  return q;
}

}  // namespace touchstone_detail

}  // namespace brevo
