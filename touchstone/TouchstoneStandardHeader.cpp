// The standard reader's header layer: the option line of every version, the port count
// of a Version 1.x file, and the Version 2.x keywords from [Version] to [Network Data]
// and after the data ([Noise Data], [End]).
#include <cmath>
#include <cstring>
#include <string>

#include "detail/StandardReader.h"

namespace brevo {

using complex = std::complex<double>;
using namespace touchstone_detail;

namespace touchstone_detail {

// The port count a 1.x file's name gives: ".s4p", ".Y2P" and so on; 0 without one.
int portsFromName(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return 0;
  const std::string_view ext = std::string_view(name).substr(dot + 1);
  if (ext.size() < 3 || !isParameter(ext[0]) || upper(ext.back()) != 'P') return 0;
  long long n = 0;
  if (!parseCount(ext.substr(1, ext.size() - 2), &n) || n < 1 || n > 100000) return 0;
  return static_cast<int>(n);
}

// The option line and the first comment after numbers of a Version 1.x text.
Version1Declarations StandardReader::declarations() {
  Version1Declarations d;
  Line l;
  while (nextContent(l))
    if (l.trimmed()[0] == '#') break;
  if (failed_ || l.trimmed().empty() || l.trimmed()[0] != '#') return d;
  d.optionLine = true;
  failed_ = false;
  if (optionLine(l, false)) {
    d.parameter = result_.info.parameter;
    d.R = optionR_;
  }
  failed_ = false;
  // A '!' with numbers before it on its line.
  const char* b = text_.data();
  const char* e = b + text_.size();
  const char* p = b + pos_;
  int line = line_;
  const char* lineStart = p;
  while (p < e) {
    const char* bang =
        static_cast<const char*>(std::memchr(p, '!', static_cast<std::size_t>(e - p)));
    if (!bang) break;
    // Lines between p and the '!'.
    for (const char* q = p; q < bang; ++q)
      if (*q == '\n' || (*q == '\r' && (q + 1 == e || q[1] != '\n'))) {
        ++line;
        lineStart = q + 1;
      }
    const char* q = lineStart;
    while (q < bang && isBlank(*q)) ++q;
    if (q < bang && *q != '#' && *q != '[') {
      d.commentAfterData = line;
      break;
    }
    p = bang + 1;
    while (p < e && *p != '\n' && *p != '\r') ++p;
  }
  return d;
}

bool StandardReader::optionLine(const Line& l, bool version2) {
  TouchstoneInfo& info = result_.info;
  bool unit = false, parameter = false, fmt = false, r = false;
  const auto items = tokens(l.trimmed().substr(1));
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string_view t = items[i];
    auto twice = [&](const char* what) {
      return fail(l.number, std::string("the option line gives the ") + what + " twice");
    };
    if (const FrequencyUnit* u = unitNamed(t)) {
      if (unit) return twice("frequency unit");
      unit = true;
      info.unit = std::string(u->name);
    } else if (t.size() == 1 && isParameter(t[0])) {
      if (parameter) return twice("parameter");
      parameter = true;
      info.parameter = upper(t[0]);
    } else if (const PairFormat* f = formatNamed(t)) {
      if (fmt) return twice("format");
      fmt = true;
      info.dataFormat = f->fmt;
    } else if (sameText(t, kResistance)) {
      if (r) return twice("reference resistance");
      r = true;
      double v = 0;
      while (i + 1 < items.size() && parseNumber(items[i + 1], &v)) {
        if (!(v > 0))
          return fail(l.number,
                      "R on the option line must be positive, not " + std::string(items[i + 1]));
        optionR_.push_back(v);
        ++i;
      }
      if (optionR_.empty())
        return fail(l.number, "R on the option line needs a positive resistance");
      if (optionR_.size() > 1 && i + 1 < items.size()) {
        if (version2)
          return fail(l.number,
                      "a Version 2.x option line takes a single R value (per-port references go in "
                      "[Reference])");
        return fail(l.number, "per-port R values must end the option line");
      }
    } else {
      return fail(l.number, "unknown item '" + std::string(t) + "' on the option line");
    }
  }
  if (!optionR_.empty()) info.optionR = optionR_.front();
  const FrequencyUnit* given = unitNamed(info.unit);
  unitScale_ = given->hertz;
  unitDigits_ = given->digits;
  if (version2 && optionR_.size() > 1 &&
      !deviate(l.number,
               "a Version 2.x option line takes a single R value (per-port references go in "
               "[Reference])",
               "read as the port references"))
    return false;
  return true;
}

// The keyword a content line starts with (kKeywordCount with the error set when the
// bracket holds no keyword of the standard); args receives the rest of the line.
Keyword StandardReader::keyword(const Line& l, std::string_view* args) {
  const std::string_view t = l.trimmed();
  const std::size_t close = t.find(']');
  if (close == std::string_view::npos) {
    fail(l.number, "'[' without ']'");
    return kKeywordCount;
  }
  const std::string_view name = t.substr(1, close - 1);
  for (int k = 0; k < kKeywordCount; ++k) {
    if (sameText(name, kKeywords[k])) {
      const std::string_view rest = t.substr(close + 1);
      if (!rest.empty() && !isBlank(rest[0])) {
        fail(l.number, "[" + std::string(kKeywords[k]) + "] needs a blank before its arguments");
        return kKeywordCount;
      }
      *args = rest;
      return static_cast<Keyword>(k);
    }
  }
  fail(l.number, "unknown keyword [" + std::string(name) + "]");
  return kKeywordCount;
}

std::string StandardReader::bracket(Keyword k) { return "[" + std::string(kKeywords[k]) + "]"; }

bool StandardReader::noArguments(Keyword k, std::string_view args, int line) {
  if (!tokens(args).empty()) return fail(line, bracket(k) + " takes no arguments");
  return true;
}

bool StandardReader::count(Keyword k, std::string_view args, int line, long long* n) {
  const auto t = tokens(args);
  if (t.size() != 1 || !parseCount(t[0], n) || *n < 1 || *n > 0x7FFFFFFF)
    return fail(line, bracket(k) + " needs an integer greater than 0, not " +
                          (t.empty() ? std::string("nothing")
                                     : std::string(args.substr(args.find_first_not_of(" \t")))));
  return true;
}

// Values of [Reference] or [Mixed-Mode Order]: from the keyword line on, over
// further lines, until N are found.
bool StandardReader::collect(Keyword k, std::string_view args, int line,
                             std::vector<std::string>& out) {
  const auto n = static_cast<std::size_t>(ports_);
  auto take = [&](std::string_view text, int at) {
    for (const auto t : tokens(text)) {
      if (out.size() == n)
        return fail(at, bracket(k) + " holds more than " + std::to_string(n) + " values");
      out.emplace_back(t);
    }
    return true;
  };
  if (!take(args, line)) return false;
  Line l;
  while (out.size() < n) {
    const std::size_t save = pos_;
    const int saveLine = line_;
    if (!nextContent(l)) {
      if (failed_) return false;
      return fail(lastLine(), bracket(k) + " needs " + std::to_string(n) + " values, found " +
                                  std::to_string(out.size()));
    }
    const std::string_view t = l.trimmed();
    if (t[0] == '[' || t[0] == '#') {
      pos_ = save;
      line_ = saveLine;
      return fail(l.number, bracket(k) + " needs " + std::to_string(n) + " values, found " +
                                std::to_string(out.size()));
    }
    if (!take(t, l.number)) return false;
  }
  return true;
}

bool StandardReader::references(std::string_view args, int line) {
  std::vector<std::string> values;
  if (!collect(kReference, args, line, values)) return false;
  for (const auto& v : values) {
    double r = 0;
    if (!parseNumber(v, &r)) return fail(line, "[Reference] value '" + v + "' is not a number");
    if (!(r > 0)) return fail(line, "[Reference] values must be positive, not " + v);
    reference_.push_back(r);
  }
  return true;
}

bool StandardReader::mixedModeOrder(std::string_view args, int line) {
  std::vector<std::string> list;
  if (!collect(kMixedMode, args, line, list)) return false;
  const char p = result_.info.parameter;
  if (p == 'H' || p == 'G')
    return fail(line, std::string(1, p) + "-parameters cannot be mixed-mode data (only S, Y or Z)");
  std::vector<int> use(static_cast<std::size_t>(ports_) + 1, 0);
  struct Pair {
    int p, q;
    bool d;
  };
  std::vector<Pair> pairs;
  for (const auto& d : list) {
    const char kind = upper(d[0]);
    auto bad = [&] {
      return fail(line,
                  "[Mixed-Mode Order] descriptor '" + d + "' is not S<p>, D<p>,<q> or C<p>,<q>");
    };
    if (kind != 'S' && kind != 'D' && kind != 'C') return bad();
    const std::string_view body = std::string_view(d).substr(1);
    const std::size_t comma = body.find(',');
    long long a = 0, b = 0;
    if (kind == 'S') {
      if (comma != std::string_view::npos || !parseCount(body, &a) || body[0] == '+') return bad();
    } else {
      if (comma == std::string_view::npos || !parseCount(body.substr(0, comma), &a) ||
          !parseCount(body.substr(comma + 1), &b) || body[0] == '+' || body[comma + 1] == '+')
        return bad();
    }
    const long long named[2] = {a, b};
    for (int c = 0; c < (kind == 'S' ? 1 : 2); ++c) {
      const long long v = named[c];
      if (v < 1 || v > ports_)
        return fail(line, "[Mixed-Mode Order] descriptor '" + d + "' names a port outside 1.." +
                              std::to_string(ports_));
    }
    if (kind != 'S' && a == b)
      return fail(line, "[Mixed-Mode Order] descriptor '" + d + "' pairs a port with itself");
    if (kind == 'S') {
      if (use[static_cast<std::size_t>(a)]++)
        return fail(line, "port " + std::to_string(a) + " appears twice in [Mixed-Mode Order]");
    } else {
      pairs.push_back({static_cast<int>(a), static_cast<int>(b), kind == 'D'});
    }
    modes_.push_back({kind, static_cast<int>(a), static_cast<int>(b)});
    result_.info.mixedModeOrder.push_back(std::string(1, kind) + std::string(body));
  }
  // Every D needs its C over the same two ports (in either order), once.
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!pairs[i].d) continue;
    int partners = 0;
    for (const auto& c : pairs)
      if (!c.d &&
          ((c.p == pairs[i].p && c.q == pairs[i].q) || (c.p == pairs[i].q && c.q == pairs[i].p)))
        ++partners;
    if (partners != 1)
      return fail(line,
                  "D" + std::to_string(pairs[i].p) + "," + std::to_string(pairs[i].q) +
                      " needs exactly one common mode of the same ports in [Mixed-Mode Order]");
    for (int v : {pairs[i].p, pairs[i].q})
      if (use[static_cast<std::size_t>(v)]++)
        return fail(line, "port " + std::to_string(v) + " appears twice in [Mixed-Mode Order]");
  }
  for (const auto& c : pairs) {
    if (c.d) continue;
    bool found = false;
    for (const auto& d : pairs)
      if (d.d && ((c.p == d.p && c.q == d.q) || (c.p == d.q && c.q == d.p))) found = true;
    if (!found)
      return fail(line, "C" + std::to_string(c.p) + "," + std::to_string(c.q) +
                            " has no differential mode D" + std::to_string(c.p) + "," +
                            std::to_string(c.q) + " in [Mixed-Mode Order]");
  }
  for (int v = 1; v <= ports_; ++v)
    if (!use[static_cast<std::size_t>(v)])
      return fail(line, "port " + std::to_string(v) + " is missing from [Mixed-Mode Order]");
  return true;
}

bool StandardReader::keywordIs(std::string_view t, std::string_view name) {
  const std::size_t close = t.find(']');
  return close != std::string_view::npos && sameText(t.substr(1, close - 1), name);
}

bool StandardReader::read() {
  Line l;
  keepComments_ = true;
  if (!nextContent(l)) {
    if (failed_) return false;
    return fail(lastLine(), "no option line and no [Version]: not a Touchstone file");
  }
  const std::string_view t = l.trimmed();
  if (t[0] == '#') return readVersion1(l);
  if (t[0] == '[') {
    std::string_view args;
    const Keyword k = keyword(l, &args);
    if (k == kKeywordCount) return false;
    if (k != kVersion)
      return fail(l.number,
                  "a Touchstone file begins with an option line or [Version], not " + bracket(k));
    const auto v = tokens(args);
    if (v.size() != 1 || (v[0] != "2.0" && v[0] != "2.1"))
      return fail(l.number, "[Version] takes one argument, 2.0 or 2.1");
    result_.info.version = std::string(v[0]);
    return readVersion2();
  }
  return fail(l.number, "a Touchstone file begins with an option line or [Version]");
}

bool StandardReader::readVersion1(const Line& option) {
  TouchstoneInfo& info = result_.info;
  if (!optionLine(option, false)) return false;
  const int fromName = portsFromName(result_.name);
  const int fromR = optionR_.size() > 1 ? static_cast<int>(optionR_.size()) : 0;
  if (fromName && fromR && fromName != fromR)
    return fail(option.number, "the option line gives " + std::to_string(fromR) +
                                   " R values for a " + std::to_string(fromName) + "-port file");
  ports_ = fromName ? fromName : fromR;
  info.version = fromR ? "1.1" : "1.0";
  if (!ports_ && !portsFromFirstRecord(option.number)) return false;
  const char p = info.parameter;
  if ((p == 'H' || p == 'G') && ports_ != 2)
    return fail(option.number, std::string(1, p) +
                                   "-parameters exist only for 2-port networks, not " +
                                   std::to_string(ports_) + " ports");
  if (optionR_.empty()) optionR_.push_back(50.0);
  info.optionR = optionR_.front();
  info.references.assign(static_cast<std::size_t>(ports_), optionR_.front());
  if (optionR_.size() > 1) info.references = optionR_;
  info.twoPortOrder = ports_ == 2 ? "21_12" : "";
  order2112_ = ports_ == 2;
  layout();
  keepComments_ = false;
  return records({.openedAt = option.number, .noiseFollows = ports_ == 2});
}

// 1.x without a port count in its name: the first record's lines give it, a first
// line of a frequency and pairs, then lines of pairs only.
bool StandardReader::portsFromFirstRecord(int optionLine) {
  const std::size_t save = pos_;
  const int saveLine = line_;
  Line l;
  long long values = -1;
  while (nextContent(l)) {
    const std::string_view t = l.trimmed();
    if (t[0] == '#') continue;
    if (t[0] == '[') break;
    const auto n = static_cast<long long>(tokens(t).size());
    if (values < 0) {
      values = n - 1;
      if (n % 2 == 0) break;
    } else if (n % 2 == 0) {
      values += n;
    } else {
      break;
    }
  }
  if (failed_) return false;
  pos_ = save;
  line_ = saveLine;
  if (values < 0) return fail(optionLine, "no network data after the option line");
  const auto n = static_cast<long long>(std::llround(std::sqrt(static_cast<double>(values) / 2)));
  if (n < 1 || 2 * n * n != values)
    return fail(
        optionLine,
        "cannot tell the number of ports: the name has no .sNp and the first record holds " +
            std::to_string(values) + " values, not 2 N^2");
  ports_ = static_cast<int>(n);
  return true;
}

bool StandardReader::readVersion2() {
  TouchstoneInfo& info = result_.info;
  Line l;
  if (!nextContent(l))
    return failed_ ? false : fail(lastLine(), "the option line must follow [Version]");
  if (l.trimmed()[0] != '#') return fail(l.number, "the option line must follow [Version]");
  const int optionAt = l.number;
  if (!optionLine(l, true)) return false;

  bool seen[kKeywordCount] = {};
  seen[kVersion] = true;
  long long frequencies = 0, noiseFrequencies = 0;
  int networkLine = 0;
  std::string_view args;
  bool inInformation = false;
  while (true) {
    if (!nextContent(l)) {
      if (failed_) return false;
      if (inInformation) return fail(lastLine(), "[Begin Information] without [End Information]");
      if (!seen[kPorts]) return fail(lastLine(), "[Number of Ports] is missing");
      return fail(lastLine(), "[Network Data] is missing");
    }
    const std::string_view t = l.trimmed();
    if (inInformation) {
      if (t[0] == '[' && keywordIs(t, "End Information")) {
        inInformation = false;
        seen[kEndInformation] = true;
        continue;
      }
      info.information.emplace_back(l.content);
      comment("!" + std::string(l.content) + std::string(l.comment));
      continue;
    }
    if (t[0] == '#') continue;  // a later option line: ignored
    if (t[0] != '[') {
      double v;
      const std::string_view first = tokens(t)[0];
      if (parseNumber(first, &v)) return fail(l.number, "data before [Network Data]");
      return fail(l.number, "unexpected text '" + std::string(first) + "' in the keyword section");
    }
    const Keyword k = keyword(l, &args);
    if (k == kKeywordCount) return false;
    if (seen[k]) return fail(l.number, bracket(k) + " may appear only once");
    if (!seen[kPorts] && k != kPorts)
      return fail(l.number, "[Number of Ports] must be the first keyword after the option line");
    seen[k] = true;
    switch (k) {
      case kPorts: {
        long long n = 0;
        if (!count(k, args, l.number, &n)) return false;
        if (n > 16384)
          return fail(l.number, "[Number of Ports] " + std::to_string(n) +
                                    " is more than this reader allows (16384)");
        ports_ = static_cast<int>(n);
        const char p = info.parameter;
        if ((p == 'H' || p == 'G') && ports_ != 2)
          return fail(optionAt, std::string(1, p) +
                                    "-parameters exist only for 2-port networks, not " +
                                    std::to_string(ports_) + " ports");
        if (optionR_.size() > 1 && optionR_.size() != static_cast<std::size_t>(ports_))
          return fail(optionAt, "the option line gives " + std::to_string(optionR_.size()) +
                                    " R values for " + std::to_string(ports_) + " ports");
        break;
      }
      case kTwoPortOrder: {
        if (ports_ != 2)
          return fail(l.number, "[Two-Port Data Order] is allowed only in a 2-port file");
        const auto a = tokens(args);
        if (a.size() != 1 || (a[0] != "12_21" && a[0] != "21_12"))
          return fail(l.number, "[Two-Port Data Order] takes 12_21 or 21_12");
        info.twoPortOrder = std::string(a[0]);
        break;
      }
      case kFrequencies:
        if (!count(k, args, l.number, &frequencies)) return false;
        break;
      case kNoiseFrequencies:
        if (!count(k, args, l.number, &noiseFrequencies)) return false;
        if (ports_ != 2) return fail(l.number, "noise data are allowed only in 2-port files");
        break;
      case kReference:
        if (!references(args, l.number)) return false;
        break;
      case kMatrixFormat: {
        const auto a = tokens(args);
        if (a.size() != 1 ||
            !(sameText(a[0], "Full") || sameText(a[0], "Lower") || sameText(a[0], "Upper")))
          return fail(l.number, "[Matrix Format] takes Full, Lower or Upper");
        info.matrixFormat = sameText(a[0], "Full")    ? "Full"
                            : sameText(a[0], "Lower") ? "Lower"
                                                      : "Upper";
        break;
      }
      case kMixedMode:
        if (!mixedModeOrder(args, l.number)) return false;
        break;
      case kBeginInformation:
        if (!noArguments(k, args, l.number)) return false;
        inInformation = true;
        break;
      case kEndInformation:
        return fail(l.number, "[End Information] without [Begin Information]");
      case kNetworkData:
        if (!noArguments(k, args, l.number)) return false;
        networkLine = l.number;
        break;
      case kNoiseData:
      case kEnd:
        return fail(l.number, bracket(k) + " before [Network Data]");
      default:
        return fail(l.number, bracket(k) + " is out of place");
    }
    if (k == kNetworkData) break;
  }
  if (!frequencies) return fail(networkLine, "[Number of Frequencies] is missing");
  if (ports_ == 2 && info.twoPortOrder.empty()) {
    if (!deviate(networkLine, "[Two-Port Data Order] is required in a 2-port Version 2.x file",
                 "read as 21_12"))
      return false;
    info.twoPortOrder = "21_12";
  }
  // The references the data hold: [Reference], else the option line's.
  if (reference_.empty()) {
    if (optionR_.size() > 1)
      reference_ = optionR_;
    else
      reference_.assign(static_cast<std::size_t>(ports_),
                        optionR_.empty() ? 50.0 : optionR_.front());
  } else if (optionR_.size() > 1 && optionR_ != reference_) {
    return fail(optionAt, "the option line's R values differ from [Reference]");
  }
  if (optionR_.empty()) optionR_.push_back(50.0);
  info.optionR = optionR_.front();
  info.references = reference_;
  for (const auto& m : modes_)
    if (m.kind != 'S' && reference_[static_cast<std::size_t>(m.p - 1)] !=
                             reference_[static_cast<std::size_t>(m.q - 1)])
      return fail(networkLine, "ports " + std::to_string(m.p) + " and " + std::to_string(m.q) +
                                   " of a mixed-mode pair need equal references");
  order2112_ = info.twoPortOrder == "21_12";
  layout();
  keepComments_ = false;
  // The data: exactly [Number of Frequencies] records, each from the start of a line.
  if (!records({.points = static_cast<std::size_t>(frequencies),
                .openedAt = networkLine,
                .keywordsEnd = true}))
    return false;

  // After the data: [Noise Data] when counted, then [End].
  bool noiseRead = false;
  while (true) {
    if (!nextContent(l)) {
      if (failed_) return false;
      if (noiseFrequencies && !noiseRead)
        return fail(lastLine(),
                    "[Number of Noise Frequencies] is given but [Noise Data] is missing");
      return deviate(lastLine(), "[End] is missing", "read to the end of the file");
    }
    const std::string_view t = l.trimmed();
    if (t[0] == '#') continue;
    if (t[0] != '[') return fail(l.number, "unexpected text after the network data");
    const Keyword k = keyword(l, &args);
    if (k == kKeywordCount) return false;
    if (k == kNoiseData && !noiseRead) {
      if (!noArguments(k, args, l.number)) return false;
      if (!noiseFrequencies)
        return fail(l.number, "[Noise Data] needs [Number of Noise Frequencies]");
      if (!readNoise(static_cast<std::size_t>(noiseFrequencies), l.number)) return false;
      noiseRead = true;
      continue;
    }
    if (k == kEnd) {
      if (!noArguments(k, args, l.number)) return false;
      if (noiseFrequencies && !noiseRead)
        return fail(l.number, "[Number of Noise Frequencies] is given but [Noise Data] is missing");
      while (nextContent(l)) {
        if (l.trimmed()[0] == '#') continue;
        return fail(l.number, "only comments may follow [End]");
      }
      return !failed_;
    }
    return fail(l.number, bracket(k) + " is not allowed after [Network Data]");
  }
}

}  // namespace touchstone_detail

}  // namespace brevo
