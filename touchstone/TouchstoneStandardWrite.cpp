// Touchstone text of a set, Version 1.0 or 2.0, with every number in its shortest form
// that reads back as the same double.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "TouchstoneStandard.h"

using complex = std::complex<double>;

namespace {

void append(std::string& out, double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

int unitDigits(const std::string& unit) { return unit == "Hz" ? 0 : unit == "kHz" ? 3 : unit == "MHz" ? 6 : 9; }

// The frequency in the file's unit: the digits of the shortest form of hertz with the
// point moved by the unit's digits (3, 6 or 9). The reader moves it back on the decimal
// text, so it gets hertz again.
void appendFrequency(std::string& out, double hertz, int unitDigits) {
  if (unitDigits == 0 || hertz == 0) return append(out, hertz);
  char text[40];
  const auto r = std::to_chars(text, text + sizeof text, hertz, std::chars_format::scientific);
  const std::string_view s(text, static_cast<std::size_t>(r.ptr - text));
  const std::size_t e = s.find('e');
  std::string digits;  // d1 d2 ... dn, the value d1.d2...dn x 10^exponent
  for (char c : s.substr(0, e))
    if (c >= '0' && c <= '9') digits.push_back(c);
  const int exponent = std::atoi(std::string(s.substr(e + 1)).c_str()) - unitDigits;
  if (s[0] == '-') out.push_back('-');
  if (exponent < -5 || exponent > 16) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "e" + std::to_string(exponent);
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto point = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() < point) digits.append(point - digits.size(), '0');
    out += digits.substr(0, point);
    if (digits.size() > point) out += "." + digits.substr(point);
  }
}

void appendPair(std::string& out, complex z, format f) {
  out.push_back(' ');
  if (f == RI) {
    append(out, z.real());
    out.push_back(' ');
    append(out, z.imag());
    return;
  }
  const double magnitude = std::abs(z);
  append(out, f == DB ? 20 * std::log10(magnitude) : magnitude);
  out.push_back(' ');
  append(out, std::arg(z) * 180 / std::numbers::pi);
}

}  // namespace

std::string formatTouchstone(const Sparams& set, const TouchstoneWriteOptions& o) {
  std::string out;
  const int n = set.Size();
  const int points = set.Fcount();
  const int digits = unitDigits(o.unit);
  for (const auto& c : set.Comments()) {
    if (c->empty() || c->front() != '!') out.push_back('!');
    out += *c;
    if (out.back() != '\n') out.push_back('\n');
  }
  const char* fmt = o.dataFormat == RI ? "RI" : o.dataFormat == DB ? "DB" : "MA";
  char option[96];
  std::snprintf(option, sizeof option, "# %s S %s R ", o.unit.c_str(), fmt);
  std::string r;
  append(r, o.reference);
  if (o.version == 2) {
    out += "[Version] 2.0\n";
    out += option + r + "\n";
    out += "[Number of Ports] " + std::to_string(n) + "\n";
    if (n == 2) out += "[Two-Port Data Order] 12_21\n";
    out += "[Number of Frequencies] " + std::to_string(points) + "\n";
    if (o.matrixFormat != "Full") out += "[Matrix Format] " + o.matrixFormat + "\n";
    out += "[Network Data]\n";
  } else {
    out += option + r + "\n";
  }
  out.reserve(out.size() + static_cast<std::size_t>(points) * static_cast<std::size_t>(n * n) * 48);
  for (int k = 0; k < points; ++k) {
    appendFrequency(out, set.Freq(k), digits);
    if (o.version != 2 && n == 2) {  // N11 N21 N12 N22 on one line
      for (const auto& [i, j] : {std::pair{1, 1}, {2, 1}, {1, 2}, {2, 2}}) appendPair(out, set.Value(k, i, j), o.dataFormat);
      out.push_back('\n');
      continue;
    }
    for (int i = 1; i <= n; ++i) {
      const int from = o.version == 2 && o.matrixFormat == "Upper" ? i : 1;
      const int to = o.version == 2 && o.matrixFormat == "Lower" ? i : n;
      int onLine = 0;
      for (int j = from; j <= to; ++j) {
        // Version 1 rows of five ports and more wrap after four pairs.
        if (o.version != 2 && n > 4 && onLine == 4) {
          out += "\n ";
          onLine = 0;
        }
        appendPair(out, set.Value(k, i, j), o.dataFormat);
        ++onLine;
      }
      out.push_back('\n');
      if (i < n && (o.version == 2 || n > 2)) out.push_back(' ');
    }
  }
  if (o.version == 2) out += "[End]\n";
  return out;
}
