// The standard reader's records: the numbers of network data, Version 1.x records until
// the frequency falls (and the noise lines after it), Version 2.x records as counted,
// noise data, and where each pair of a record goes in its matrix.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <string>

#include "detail/StandardReader.h"
#include "FileText.h"

namespace brevo {

using complex = std::complex<double>;
using namespace touchstone_detail;

namespace touchstone_detail {

// Every number from the current line on, until a line that starts with '[' (left
// unread) or the end of the text. take(value, firstOnLine, offset) returns false to
// stop.
template <typename Take>
bool StandardReader::numbers(bool version1, Take&& take) {
  const char* b = text_.data();
  const char* p = b + pos_;
  const char* e = b + text_.size();
  const char* lineBegin = p;
  bool lineStart = true;
  bool inComment = false;
  while (p < e) {
    const char c = *p;
    if (c == '\n' || c == '\r') {
      if (c == '\r' && p + 1 < e && p[1] == '\n') ++p;
      ++p;
      ++line_;
      lineStart = true;
      inComment = false;
      lineBegin = p;
      continue;
    }
    if (inComment || c == '!') {
      inComment = true;
      const auto u = static_cast<unsigned char>(c);
      if (isControl(u)) return badCharacter(u);
      ++p;
      continue;
    }
    if (isBlank(c)) {
      ++p;
      continue;
    }
    if (lineStart && c == '[') {
      if (version1)
        return fail(
            line_,
            "keywords are not allowed in a Version 1.x file (it begins with an option line)");
      pos_ = static_cast<std::size_t>(lineBegin - b);
      return true;
    }
    if (lineStart && c == '#') {  // a later option line: ignored
      inComment = true;
      ++p;
      continue;
    }
    double v;
    const char* q = strictNumber(p, e, &v);
    if (!q) {
      const char* t = p;
      while (t < e && !isDelimiter(*t)) {
        const auto u = static_cast<unsigned char>(*t);
        if ((u < 0x20 && u != '\t') || u > 0x7E) return badCharacter(u);
        ++t;
      }
      return fail(line_,
                  "'" + std::string(p, std::min<std::ptrdiff_t>(t - p, 40)) + "' is not a number");
    }
    if (!take(v, lineStart, static_cast<std::size_t>(p - b))) return false;
    lineStart = false;
    p = q;
  }
  pos_ = text_.size();
  return true;
}

bool StandardReader::version1Records(int optionAt) {
  TouchstoneInfo& info = result_.info;
  const std::size_t record = recordSize_;
  std::size_t counted = 0;
  double previous = 0;
  bool noise = false;
  int noiseCount = 0;  // numbers on the current noise line
  int noiseLine = 0;
  double noiseValues[5] = {};
  int startLine = line_;
  bool midLine = false;
  int midLineAt = 0;
  auto endNoiseLine = [&]() {
    if (noiseCount == 0) return true;
    if (noiseCount != 5)
      return fail(noiseLine, "a noise line holds 5 numbers, not " + std::to_string(noiseCount));
    return addNoise(noiseValues, noiseLine);
  };
  std::size_t firstRecordAt = 0;
  std::size_t inRecord = 0;  // where the next number sits in its record
  // The first record's numbers line by line, and the first later line that departs from
  // that layout: a line a number short puts every record after it out of step, which is
  // what to say rather than the falling frequency it leads to.
  std::vector<std::pair<std::size_t, int>> layoutLines;  // (where in the record, numbers)
  bool layoutKnown = false;
  std::size_t lineFrom = 0;
  int lineNumbers = 0, lineNumber = 0;
  int offLine = 0, offHeld = 0, offWanted = 0;
  auto endLine = [&]() {
    if (lineNumbers == 0) return;
    if (!layoutKnown) {
      layoutLines.emplace_back(lineFrom, lineNumbers);
      layoutKnown = lineFrom + static_cast<std::size_t>(lineNumbers) >= record;
    } else if (offLine == 0) {
      for (const auto& [from, numbers] : layoutLines)
        if (from == lineFrom && numbers != lineNumbers) {
          offLine = lineNumber, offHeld = lineNumbers, offWanted = numbers;
          break;
        }
    }
    lineNumbers = 0;
  };
  // A rule the numbers broke at line, said from the line that put them out of step.
  auto outOfStep = [&](int line, const std::string& rule) {
    if (offLine == 0 || offLine >= line) return fail(line, rule);
    return fail(offLine, "the line holds " + std::to_string(offHeld) + " numbers where " +
                             std::to_string(offWanted) +
                             " were expected, which puts the records after it out of step (line " +
                             std::to_string(line) + ": " + rule + ")");
  };
  const bool ok = numbers(true, [&](double v, bool first, std::size_t at) {
    if (!noise) {
      if (first) {
        endLine();
        lineFrom = inRecord;
        lineNumber = line_;
      }
      ++lineNumbers;
    }
    if (noise) {
      if (first) {
        if (!endNoiseLine()) return false;
        noiseCount = 0;
        noiseLine = line_;
      }
      if (noiseCount < 5) noiseValues[noiseCount] = v;
      ++noiseCount;
      return true;
    }
    const std::size_t r = inRecord;
    if (++inRecord == record) inRecord = 0;
    if (r == 0) {
      const double hz = hertz(at, v);
      if (!std::isfinite(hz)) return tooLargeFrequency(v);
      if (!freq_.empty() && !(hz > previous)) {
        if (ports_ == 2) {
          if (!first) return outOfStep(line_, "a noise line must begin a line");
          noise = true;
          noiseCount = 1;
          noiseLine = line_;
          noiseValues[0] = v;
          return true;
        }
        return outOfStep(line_, "frequencies must increase: " + number(v) + " follows " +
                                    number(previous / unitScale_));
      }
      if (!first && !midLine) {
        midLine = true;
        midLineAt = line_;
      }
      previous = hz;
      if (freq_.size() == 1) {
        // The first record's length in bytes sizes the rest: one allocation instead
        // of a series of copies for a long file.
        const std::size_t length = std::max<std::size_t>(at - firstRecordAt, 1);
        const std::size_t estimate =
            std::min<std::size_t>((text_.size() - at) / length + 2,
                                  kMaxEntries / (static_cast<std::size_t>(ports_) * ports_));
        try {
          freq_.reserve(estimate + 1);
          brevo::io::reserveOnHugePages(
              entries_,
              (estimate + 1) * static_cast<std::size_t>(ports_) * static_cast<std::size_t>(ports_));
        } catch (const std::bad_alloc&) {
        }
      } else if (freq_.empty()) {
        firstRecordAt = at;
      }
      freq_.push_back(hz);
      const std::size_t n2 = static_cast<std::size_t>(ports_) * static_cast<std::size_t>(ports_);
      // Room for a record only where the rest of the text can hold its numbers (a
      // digit and a blank each) and the set stays within the library's limit.
      if (record / 2 > text_.size() - at)
        return fail(line_, "the rest of the file cannot hold a record of " +
                               std::to_string(record) + " numbers");
      if (entries_.size() + n2 > kMaxEntries)
        return fail(line_, "the data need more memory than this reader allows");
    } else {
      place(r, v);
    }
    ++counted;
    return true;
  });
  if (!ok) return false;
  if (noise && !endNoiseLine()) return false;
  if (counted == 0) return fail(optionAt, "no network data after the option line");
  if (!noise) endLine();
  if (counted % record != 0)
    return outOfStep(lastLine(),
                     "the data end inside a record: " + std::to_string(counted % record) + " of " +
                         std::to_string(record) + " numbers");
  if (midLine) return outOfStep(midLineAt, "a frequency must begin a line");
  (void)startLine;
  info.points = static_cast<int>(freq_.size());
  info.ports = ports_;
  return true;
}

bool StandardReader::version2Records(int networkLine, long long frequencies) {
  TouchstoneInfo& info = result_.info;
  // The data: exactly [Number of Frequencies] records, each from the start of a line.
  const auto n2 = static_cast<std::size_t>(ports_) * static_cast<std::size_t>(ports_);
  const auto points = static_cast<std::size_t>(frequencies);
  const std::size_t needed = points * recordSize_;
  // Values the rest of the text can hold at most (a digit and a blank each): more
  // records than that are not allocated, only counted.
  const bool store = points <= kMaxEntries / n2 && needed / 2 <= text_.size() - pos_ + 1;
  if (store) {
    freq_.reserve(points);
    brevo::io::reserveOnHugePages(entries_, points * n2);
  }
  std::size_t counted = 0;
  int problemLine = 0;
  std::string problem;
  std::size_t inRecord = 0, record = 0;  // where the next number sits
  const bool ok = numbers(false, [&](double v, bool first, std::size_t at) {
    const std::size_t r = inRecord;
    const std::size_t k = record;
    if (++inRecord == recordSize_) {
      inRecord = 0;
      ++record;
    }
    ++counted;
    if (k >= points || !store) return true;
    if (r == 0) {
      const double hz = hertz(at, v);
      if (!std::isfinite(hz)) return tooLargeFrequency(v);
      if (problem.empty()) {
        if (!first) {
          problem = "a frequency must begin a line";
          problemLine = line_;
        } else if (k > 0 && !(hz > freq_[k - 1])) {
          problem = "frequencies must increase: " + number(v) + " follows " +
                    number(freq_[k - 1] / unitScale_);
          problemLine = line_;
        }
      }
      freq_.push_back(hz);
    } else {
      place(r, v);
    }
    return true;
  });
  if (!ok) return false;
  if (counted != needed)
    return fail(networkLine, "the network data holds " + std::to_string(counted) +
                                 " numbers; [Number of Frequencies] " + std::to_string(points) +
                                 " with " + std::to_string(recordSize_) +
                                 " numbers per point needs " + std::to_string(needed));
  if (!store)
    return fail(networkLine, "[Number of Frequencies] " + std::to_string(points) + " with " +
                                 std::to_string(ports_) +
                                 " ports needs more memory than this reader allows");
  if (!problem.empty()) return fail(problemLine, problem);
  info.points = static_cast<int>(points);
  info.ports = ports_;
  return true;
}

bool StandardReader::readNoise(std::size_t expected, int keywordLine) {
  Line l;
  std::size_t lines = 0;
  while (true) {
    const std::size_t save = pos_;
    const int saveLine = line_;
    if (!nextContent(l)) break;
    const std::string_view t = l.trimmed();
    if (t[0] == '[') {
      pos_ = save;
      line_ = saveLine;
      break;
    }
    if (t[0] == '#') continue;
    const auto items = tokens(t);
    if (items.size() != 5)
      return fail(l.number, "a noise line holds 5 numbers, not " + std::to_string(items.size()));
    double v[5];
    for (int i = 0; i < 5; ++i)
      if (!parseNumber(items[static_cast<std::size_t>(i)], &v[i]))
        return fail(l.number,
                    "'" + std::string(items[static_cast<std::size_t>(i)]) + "' is not a number");
    if (!addNoise(v, l.number)) return false;
    ++lines;
  }
  if (failed_) return false;
  if (lines != expected)
    return fail(keywordLine, "the noise data holds " + std::to_string(lines) +
                                 " lines; [Number of Noise Frequencies] needs " +
                                 std::to_string(expected));
  return true;
}

// The frequency whose text starts at offset at (value v in the file's unit) in hertz:
// the decimal the text writes times the unit's power of ten, rounded once, so
// "1.025" GHz is 1025000000 Hz exactly.
double StandardReader::hertz(std::size_t at, double v) const {
  if (unitDigits_ == 0) return v;
  const char* p = text_.data() + at;
  const char* e = text_.data() + text_.size();
  const char* q = p;
  while (q < e && !isDelimiter(*q) && *q != 'e' && *q != 'E') ++q;
  std::string shifted(*p == '+' ? p + 1 : p, q);
  long long exponent = unitDigits_;
  if (q < e && (*q == 'e' || *q == 'E')) {
    const char* x = ++q;
    while (q < e && !isDelimiter(*q)) ++q;
    long long written = 0;
    const std::size_t digits = static_cast<std::size_t>(q - x) - (*x == '+' || *x == '-');
    if (digits > 6) return v * unitScale_;
    const auto [end, ec] = std::from_chars(*x == '+' ? x + 1 : x, q, written);
    if (ec != std::errc() || end != q) return v * unitScale_;
    exponent += written;
  }
  shifted += "e" + std::to_string(exponent);
  double hz = 0;
  const auto [end, ec] = std::from_chars(shifted.data(), shifted.data() + shifted.size(), hz);
  if (ec != std::errc()) return v * unitScale_;
  return hz;
}

bool StandardReader::tooLargeFrequency(double v) {
  return fail(line_, "the frequency " + number(v) + " " + result_.info.unit +
                         " is beyond the range of a double in hertz");
}

bool StandardReader::addNoise(const double* v, int line) {
  const double hz = v[0] * unitScale_;
  auto& noise = result_.info.noise;
  if (!noise.empty() && !(hz > noise.back().hertz))
    return fail(line, "noise frequencies must increase: " + number(v[0]) + " follows " +
                          number(noise.back().hertz / unitScale_));
  if (noise.empty() && !freq_.empty() && hz > freq_.back())
    return fail(
        line, "the first noise frequency " + number(v[0]) + " is above the last network frequency");
  // Rn: normalised to port 1's R in 1.x, ohms in 2.x.
  const double rn = result_.info.version[0] == '1' ? v[4] * result_.info.references.front() : v[4];
  noise.push_back({hz, v[1], v[2], v[3], rn});
  return true;
}

// Where each pair of a record goes: pair q to entries at index target_[q] (and its
// mirror for a triangle).
// Sizes the record; builds the tables only when the rest of the text can hold one
// record (a digit and a blank per number), so a file that claims a huge matrix costs
// nothing before its numbers are counted.
void StandardReader::layout() {
  const auto n = static_cast<std::size_t>(ports_);
  const std::string& m = result_.info.matrixFormat;
  recordSize_ = 1 + (m == "Full" ? 2 * n * n : n * (n + 1));
  target_.clear();
  mirror_.clear();
  if (recordSize_ / 2 > text_.size() - pos_ + 1) return;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t from = m == "Upper" ? i : 0;
    const std::size_t to = m == "Lower" ? i + 1 : n;
    for (std::size_t j = from; j < to; ++j) {
      target_.push_back(i * n + j);
      mirror_.push_back(m == "Full" || i == j ? static_cast<std::size_t>(-1) : j * n + i);
    }
  }
  if (n == 2 && m == "Full" && order2112_) std::swap(target_[1], target_[2]);  // N11 N21 N12 N22
  record_.assign(n * n, complex());
}

// Number r (1..) of the current record, into the record's matrix; the last one
// appends the matrix to the set's entries (written once, in order).
void StandardReader::place(std::size_t r, double v) {
  if (r % 2 == 1) {
    pending_ = v;
    return;
  }
  const std::size_t q = r / 2 - 1;
  const complex z = result_.info.dataFormat == RI ? complex(pending_, v)
                                                  : Param(result_.info.dataFormat, pending_, v);
  record_[target_[q]] = z;
  if (mirror_[q] != static_cast<std::size_t>(-1)) record_[mirror_[q]] = z;
  if (r + 1 == recordSize_) entries_.insert(entries_.end(), record_.begin(), record_.end());
}

}  // namespace touchstone_detail

}  // namespace brevo
