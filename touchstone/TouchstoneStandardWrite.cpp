// Touchstone text of a set, Version 1.0 or 2.0, with every number in its shortest form
// that reads back as the same double.
#include <charconv>
#include <cmath>
#include <numbers>

#include "TouchstoneStandard.h"

using complex = std::complex<double>;

namespace {

void append(std::string& out, double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

double unitScale(const std::string& unit) {
  return unit == "Hz" ? 1.0 : unit == "kHz" ? 1e3 : unit == "MHz" ? 1e6 : 1e9;
}

// The frequency in the file's unit: the double nearest hertz / scale, or one a few
// steps from it, whose product with the scale is hertz again, so the reader's
// multiplication restores the value written.
void appendFrequency(std::string& out, double hertz, double scale) {
  double x = hertz / scale;
  if (scale != 1.0) {
    double up = x, down = x;
    for (int step = 0; step < 8 && x * scale != hertz; ++step) {
      up = std::nextafter(up, INFINITY);
      down = std::nextafter(down, -INFINITY);
      if (up * scale == hertz) x = up;
      else if (down * scale == hertz) x = down;
    }
  }
  append(out, x);
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
  const double scale = unitScale(o.unit);
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
    appendFrequency(out, set.Freq(k), scale);
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
