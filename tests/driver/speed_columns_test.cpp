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

std::string viaPrintf(double v, int width, int precision) {
  char text[128];
  std::snprintf(text, sizeof text, "%*.*e", width, precision, v);
  return text;
}

std::string viaColumns(double v, int width, int precision) {
  char text[128];
  char* end = putScientific(text, v, width, precision);
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
      for (int precision : {0, 6, 12}) EXPECT_EQ(viaColumns(v, width, precision), viaPrintf(v, width, precision));
}

TEST(SpeedColumns, RandomDoublesAsPrintfWritesThem) {
  std::mt19937_64 rng(314);
  int failures = 0;
  for (int i = 0; i < 600000 && failures < 10; ++i) {
    // Every bit pattern; values with few significant bits (binary ties); and the doubles
    // next to decimal ties d.dddddd5 * 10^e, where a rounding error would show.
    double v;
    if (i % 3 == 0) {
      v = std::bit_cast<double>(rng());
    } else if (i % 3 == 1) {
      v = std::ldexp(static_cast<double>(rng() % 100000000), static_cast<int>(rng() % 80) - 40);
    } else {
      const double tie = (static_cast<double>(1000000 + rng() % 9000000) + 0.5) *
                         std::pow(10.0, static_cast<int>(rng() % 60) - 36);
      v = std::nextafter(tie, (i / 3) % 3 == 0 ? 0.0 : (i / 3) % 3 == 1 ? tie : 2 * tie);
    }
    for (int precision : {6, i % 5 == 0 ? 14 : 3}) {
      if (viaColumns(v, 14, precision) != viaPrintf(v, 14, precision)) {
        ADD_FAILURE() << viaColumns(v, 14, precision) << " vs printf " << viaPrintf(v, 14, precision);
        ++failures;
      }
    }
  }
}

}  // namespace
