// printf's "%<width>.<precision>e" by std::to_chars.
#include "sideColumns.h"

#include <charconv>
#include <cstring>

char* putScientific(char* at, double v, int width, int precision) {
  char digits[64];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, v, std::chars_format::scientific, precision);
  const auto length = ec == std::errc() ? static_cast<int>(end - digits) : 0;
  for (int pad = width - length; pad > 0; --pad) *at++ = ' ';
  std::memcpy(at, digits, static_cast<std::size_t>(length));
  return at + length;
}
