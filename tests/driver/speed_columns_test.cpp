// Side-file columns against printf itself, byte for byte.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "sideColumns.h"

namespace {

std::string viaPrintf(double v, int width, int precision, bool fixed = false) {
  char text[512];
  std::snprintf(text, sizeof text, fixed ? "%*.*f" : "%*.*e", width, precision, v);
  return text;
}

std::string viaColumns(double v, int width, int precision, bool fixed = false) {
  char text[512];
  char* end = (fixed ? putFixed : putScientific)(text, v, width, precision);
  return std::string(text, end);
}

TEST(SpeedColumns, SpecialAndTieValuesAsPrintfWritesThem) {
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {0.0, -0.0, 1.0, -1.0, 12345675.0, 12345685.0, 0.5, 2.5e-7,
                           9.9999995e10, 9.99999949e10, 1e300, 1e-300, 4.9406564584124654e-324,
                           1.7976931348623157e308, inf, -inf, std::nan(""), -std::nan(""),
                           -1.2345675e-5};
  for (double v : values)
    for (int width : {0, 14, 20})
      for (int precision : {0, 6, 12})
        for (bool fixed : {false, true})
          EXPECT_EQ(viaColumns(v, width, precision, fixed), viaPrintf(v, width, precision, fixed));
}

// Every bit pattern; values with few significant bits (binary ties); and the doubles next
// to decimal ties, the digit after the last printed one a 5: d.dddddd5 * 10^e for "%.6e",
// ddd.dddddd5 for "%.6f".
double randomValue(std::mt19937_64& rng, int family, bool fixed) {
  const int side = static_cast<int>(rng() % 3);
  switch (family) {
    case 0: {
      const double v = std::bit_cast<double>(rng());
      return fixed && std::isfinite(v) && v != 0 ? std::ldexp(v, -std::ilogb(v) + static_cast<int>(rng() % 40) - 20) : v;
    }
    case 1: return std::ldexp(static_cast<double>(rng() % 100000000), static_cast<int>(rng() % 80) - 40);
    default: {
      const double digits = static_cast<double>(1000000 + rng() % 9000000) + 0.5;
      const double tie = fixed ? digits * 1e-7 * std::pow(10.0, static_cast<int>(rng() % 4))
                               : digits * std::pow(10.0, static_cast<int>(rng() % 60) - 36);
      return std::nextafter(tie, side == 0 ? 0.0 : side == 1 ? tie : 2 * tie);
    }
  }
}

TEST(SpeedColumns, RandomDoublesAsPrintfWritesThem) {
  std::mt19937_64 rng(314);
  int failures = 0;
  for (int i = 0; i < 300000 && failures < 10; ++i) {
    for (bool fixed : {false, true}) {
      const double v = randomValue(rng, i % 3, fixed);
      for (int precision : {6, i % 5 == 0 ? 14 : 3}) {
        if (viaColumns(v, 12, precision, fixed) != viaPrintf(v, 12, precision, fixed)) {
          ADD_FAILURE() << viaColumns(v, 12, precision, fixed) << " vs printf " << viaPrintf(v, 12, precision, fixed);
          ++failures;
        }
      }
    }
  }
}

}  // namespace
