// Touchstone text of a set, Version 1.0 or 2.0, with every number in its shortest form
// that reads back as the same double.
#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

#include "TouchstoneStandard.h"
#include "detail/Vocabulary.h"

namespace brevo {

using complex = std::complex<double>;
using namespace touchstone_detail;

namespace {

void append(std::string& out, double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

int unitDigits(const std::string& unit) {
  for (const FrequencyUnit& u : kFrequencyUnits)
    if (unit == u.name) return u.digits;
  return 9;
}

// The frequency in the file's unit: the shortest decimal of the hertz value with its
// point moved by the unit's digits, so the reader, which moves it back before it rounds,
// gets the same double.
void appendFrequency(std::string& out, double hertz, int unitDigits) {
  if (unitDigits == 0 || !std::isfinite(hertz) || hertz == 0) return append(out, hertz);
  char text[40];
  const auto r = std::to_chars(text, text + sizeof text, hertz, std::chars_format::scientific);
  const std::string_view s(text, static_cast<std::size_t>(r.ptr - text));
  const std::size_t e = s.find('e');
  std::string digits;
  for (char c : s.substr(0, e))
    if (c >= '0' && c <= '9') digits.push_back(c);
  const bool negative = s[0] == '-';
  int exponent = 0;
  std::from_chars(s.data() + e + 1 + (s[e + 1] == '+'), s.data() + s.size(), exponent);
  exponent -= unitDigits;  // value = 0.d1 d2 ... x 10^(exponent + 1)
  if (negative) out.push_back('-');
  const int point = exponent + 1;  // digits before the decimal point
  if (point > 15 || point < -5) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "e" + std::to_string(exponent);
  } else if (point <= 0) {
    out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    out += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
           digits.substr(static_cast<std::size_t>(point));
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
  const bool twoPort2112 = o.twoPortOrder == "21_12";
  for (const auto& c : set.Comments()) {
    if (c->empty() || c->front() != '!') out.push_back('!');
    out += *c;
    if (out.back() != '\n') out.push_back('\n');
  }
  const char* fmt = o.dataFormat == RI ? "RI" : o.dataFormat == DB ? "DB" : "MA";
  const char parameter = o.parameter == 'Y' || o.parameter == 'Z' ? o.parameter : 'S';
  char option[96];
  std::snprintf(option, sizeof option, "# %s %c %s R ", o.unit.c_str(), parameter, fmt);
  std::string r;
  append(r, o.reference);
  if (o.version == 2) {
    out += "[Version] 2.0\n";
    out += option + r + "\n";
    out += "[Number of Ports] " + std::to_string(n) + "\n";
    if (n == 2)
      out += "[Two-Port Data Order] " + std::string(twoPort2112 ? "21_12" : "12_21") + "\n";
    out += "[Number of Frequencies] " + std::to_string(points) + "\n";
    if (o.matrixFormat != "Full") out += "[Matrix Format] " + o.matrixFormat + "\n";
    out += "[Network Data]\n";
  } else {
    out += option + r + "\n";
  }
  out.reserve(out.size() + static_cast<std::size_t>(points) * static_cast<std::size_t>(n * n) * 48);
  cmatrix m(n);
  // The matrix of point k as the file holds it: S, or Z or Y (normalised in Version 1).
  auto matrixOf = [&](int k) {
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) m.set(i - 1, j - 1, set.matrixEntry(k, i, j));
    if (parameter == 'S') return;
    // Z = R (I - S)^-1 (I + S), Y = (I + S)^-1 (I - S) / R; normalised: z = Z / R, y = Y R.
    const cmatrix I(n);
    const cmatrix plus = I + m, minus = I - m;
    if (parameter == 'Z')
      m = plus.solve(minus, nullptr) * (o.version == 2 ? o.reference : 1.0);
    else
      m = minus.solve(plus, nullptr) * (o.version == 2 ? 1.0 / o.reference : 1.0);
  };
  auto entry = [&](int i, int j) {
    return m.Rows() == n ? m.value(i - 1, j - 1) : complex(NAN, NAN);
  };
  for (int k = 0; k < points; ++k) {
    appendFrequency(out, set.Freq(k), digits);
    matrixOf(k);
    if (n == 2 && (o.version != 2 || twoPort2112) &&
        o.matrixFormat == "Full") {  // N11 N21 N12 N22 on one line
      for (const auto& [i, j] : {std::pair{1, 1}, {2, 1}, {1, 2}, {2, 2}})
        appendPair(out, entry(i, j), o.dataFormat);
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
        appendPair(out, entry(i, j), o.dataFormat);
        ++onLine;
      }
      out.push_back('\n');
      if (i < n && (o.version == 2 || n > 2)) out.push_back(' ');
    }
  }
  if (o.version == 2) out += "[End]\n";
  return out;
}

std::string setWriteOption(std::string_view arg, TouchstoneWriteOptions& w) {
  const std::size_t eq = arg.find('=');
  if (eq == std::string_view::npos) return "'" + std::string(arg) + "' is not a name=value option";
  const std::string name = lowerCase(arg.substr(0, eq)), value = lowerCase(arg.substr(eq + 1));
  const std::string bad = "bad value in '" + std::string(arg) + "': ";
  if (name == "version") {
    if (value != "1" && value != "2") return bad + "version is 1 or 2";
    w.version = value[0] - '0';
  } else if (name == "format") {
    const PairFormat* f = formatNamed(value);
    if (!f) return bad + "format is RI, MA or DB";
    w.dataFormat = f->fmt;
  } else if (name == "unit") {
    const FrequencyUnit* u = unitNamed(value);
    if (!u) return bad + "unit is Hz, kHz, MHz or GHz";
    w.unit = std::string(u->name);
  } else if (name == "r") {
    const std::string text(arg.substr(eq + 1));
    char* end = nullptr;
    const double r = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(r) || !(r > 0))
      return bad + "R is a positive number of ohms";
    w.reference = r;
  } else if (name == "order") {
    if (value != "12_21" && value != "21_12") return bad + "order is 12_21 or 21_12";
    w.twoPortOrder = value;
  } else if (name == "parameter") {
    if (value != "s" && value != "y" && value != "z") return bad + "parameter is S, Y or Z";
    w.parameter = upperCase(value)[0];
  } else if (name == "reciprocity_tolerance") {
    const std::string text(value);
    char* end = nullptr;
    const double t = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(t) || t < 0)
      return bad + "reciprocity_tolerance is a number of 0 or more";
    w.reciprocityTolerance = t;
  } else if (name == "matrix") {
    if (value == "full")
      w.matrixFormat = "Full";
    else if (value == "upper")
      w.matrixFormat = "Upper";
    else if (value == "lower")
      w.matrixFormat = "Lower";
    else
      return bad + "matrix is full, upper or lower";
  } else {
    return "unknown option '" + std::string(arg) + "'";
  }
  return "";
}

std::string nonReciprocal(const Sparams& set, double tolerance) {
  for (int k = 0; k < set.Fcount(); ++k)
    for (int i = 1; i <= set.Size(); ++i)
      for (int j = i + 1; j <= set.Size(); ++j) {
        const std::complex<double> a = set.matrixEntry(k, i, j), b = set.matrixEntry(k, j, i);
        const double d = std::abs(a - b);
        if (!(d <= tolerance * std::max(std::abs(a), std::abs(b)))) {
          char text[200];
          std::snprintf(text, sizeof text,
                        "|S%d%d - S%d%d| is %.3g at %.10g Hz, %.3g of the larger", i, j, j, i, d,
                        set.Freq(k), d / std::max(std::abs(a), std::abs(b)));
          return text;
        }
      }
  return "";
}

}  // namespace brevo
