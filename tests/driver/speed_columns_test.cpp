// Side-file columns against printf itself, byte for byte: special and tie values, every
// bit pattern, values with few significant bits (binary ties), and the doubles next to
// decimal ties, the digit after the last printed one a 5 (d.dddddd5 * 10^e for "%.6e",
// ddd.dddddd5 for "%.6f").

#include "sideColumns.h"
#include "workspace.h"

namespace {

// The column as sideColumns writes it and as printf does; "" when they agree.
std::string differs(double v, int width, int precision, bool fixed) {
  char mine[512], theirs[512];
  const std::string got(mine, (fixed ? putFixed : putScientific)(mine, v, width, precision));
  std::snprintf(theirs, sizeof theirs, fixed ? "%*.*f" : "%*.*e", width, precision, v);
  return got == theirs ? "" : got + " vs printf " + theirs;
}

TEST(SpeedColumns, SpecialAndTieValuesAsPrintfWritesThem) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {0.0, -0.0, 1.0, -1.0, 12345675.0, 12345685.0, 0.5, 2.5e-7, 9.9999995e10,
                   9.99999949e10, 1e300, 1e-300, 4.9406564584124654e-324, 1.7976931348623157e308,
                   inf, -inf, std::nan(""), -std::nan(""), -1.2345675e-5})
    for (int width : {0, 14, 20})
      for (int precision : {0, 6, 12})
        for (bool fixed : {false, true}) EXPECT_EQ(differs(v, width, precision, fixed), "");
}

TEST(SpeedColumns, RandomDoublesAsPrintfWritesThem) {
  std::mt19937_64 rng(314);
  int failures = 0;
  for (int i = 0; i < 300000 && failures < 10; ++i)
    for (bool fixed : {false, true}) {
      double v = std::bit_cast<double>(rng());
      if (i % 3 == 0 && fixed && std::isfinite(v) && v != 0)
        v = std::ldexp(v, -std::ilogb(v) + static_cast<int>(rng() % 40) - 20);
      if (i % 3 == 1)
        v = std::ldexp(static_cast<double>(rng() % 100000000), static_cast<int>(rng() % 80) - 40);
      if (i % 3 == 2) {
        const double digits = static_cast<double>(1000000 + rng() % 9000000) + 0.5;
        const double tie = digits * (fixed ? 1e-7 * std::pow(10.0, static_cast<int>(rng() % 4))
                                           : std::pow(10.0, static_cast<int>(rng() % 60) - 36));
        const int side = static_cast<int>(rng() % 3);
        v = std::nextafter(tie, side == 0 ? 0.0 : side == 1 ? tie : 2 * tie);
      }
      for (int precision : {6, i % 5 == 0 ? 14 : 3})
        if (const std::string d = differs(v, 12, precision, fixed); !d.empty())
          ADD_FAILURE() << d, ++failures;
    }
}

}  // namespace
