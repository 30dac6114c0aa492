// The standard reader's records: the numbers of network data, one walk over the records
// of every version (Version 1.x until the frequency falls, with the noise lines after
// it; Version 2.x as counted), [Noise Data], and where each pair of a record goes in its
// matrix.
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
bool StandardReader::numbers(bool keywordsEnd, Take&& take) {
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
      if (!keywordsEnd)
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

namespace {

// The first record's numbers line by line, and the first later line that departs from
// that layout: a line a number short puts every record after it out of step, which is
// what to say rather than the falling frequency it leads to.
class StepWatch {
 public:
  explicit StepWatch(std::size_t record) : record_(record) {}
  // A number at place `at` of its record, on line `line`; `first` there or not.
  void number(bool first, std::size_t at, int line) {
    if (first) {
      end();
      from_ = at;
      at_ = line;
    }
    ++numbers_;
  }
  // The current line is done.
  void end() {
    if (numbers_ == 0) return;
    if (!known_) {
      layout_.emplace_back(from_, numbers_);
      known_ = from_ + static_cast<std::size_t>(numbers_) >= record_;
    } else if (off_ == 0) {
      for (const auto& [from, numbers] : layout_)
        if (from == from_ && numbers != numbers_) {
          off_ = at_, held_ = numbers_, wanted_ = numbers;
          break;
        }
    }
    numbers_ = 0;
  }
  // A rule the numbers broke at line `broken`: the line to say it from, and what to say
  // there.
  int from(int broken) const { return off_ != 0 && off_ < broken ? off_ : broken; }
  std::string said(int broken, const std::string& rule) const {
    if (from(broken) == broken) return rule;
    return "the line holds " + std::to_string(held_) + " numbers where " + std::to_string(wanted_) +
           " were expected, which puts the records after it out of step (line " +
           std::to_string(broken) + ": " + rule + ")";
  }

 private:
  std::size_t record_;
  std::vector<std::pair<std::size_t, int>> layout_;  // (where in the record, numbers)
  bool known_ = false;
  std::size_t from_ = 0;
  int numbers_ = 0, at_ = 0;
  int off_ = 0, held_ = 0, wanted_ = 0;
};

}  // namespace

// The network data of either version: each record a frequency that must begin its line
// and rise, then its pairs. A known count ([Number of Frequencies]) sizes the storage
// first and every number is counted, the count said before any other problem; without
// one the records run until the frequency stops rising, and the walk stops at the first
// problem but a frequency inside a line, said last (a short line that puts the records
// out of step is said as the cause).
bool StandardReader::records(const RecordRules& rules) {
  const std::size_t record = recordSize_;
  const auto n2 = static_cast<std::size_t>(ports_) * static_cast<std::size_t>(ports_);
  const bool known = rules.points > 0;
  const std::size_t needed = rules.points * record;
  // Records that have a place; those after them are only counted. A known count gets
  // its places when the rest of the text can hold the values (a digit and a blank each)
  // and the set stays within the library's limit.
  std::size_t stored = static_cast<std::size_t>(-1);
  if (known) {
    const bool store = rules.points <= kMaxEntries / n2 && needed / 2 <= text_.size() - pos_ + 1;
    stored = store ? rules.points : 0;
    if (store) reserveRecords(rules.points);
  }
  std::size_t counted = 0;   // numbers of network data
  std::size_t inRecord = 0;  // where the next number sits in its record
  std::size_t begun = 0;     // records begun
  bool placing = false;      // the numbers of this record have a place
  std::size_t firstRecordAt = 0;
  int problemLine = 0;  // the first problem said after the count
  std::string problem;
  StepWatch steps(record);
  auto outOfStep = [&](int line, const std::string& rule) {
    return fail(steps.from(line), steps.said(line, rule));
  };
  // The noise lines after a 1.x 2-port's records: 5 numbers a line.
  bool noise = false;
  std::size_t noiseHeld = 0;
  int noiseLine = 0;
  double noiseValues[5] = {};
  auto endNoiseLine = [&]() {
    return noiseHeld == 0 || addNoise(noiseValues, noiseHeld, noiseLine);
  };
  auto noiseNumber = [&](double v, bool first) {
    if (first) {
      if (!endNoiseLine()) return false;
      noiseHeld = 0;
      noiseLine = line_;
    }
    if (noiseHeld < 5) noiseValues[noiseHeld] = v;
    ++noiseHeld;
    return true;
  };
  // A record's frequency: its order, then its place.
  auto frequency = [&](double v, bool first, std::size_t at) {
    const double hz = hertz(at, v);
    if (!std::isfinite(hz)) return tooLargeFrequency(v);
    const bool rises = freq_.empty() || hz > freq_.back();
    if (!rises && !known) {  // where the records end
      if (!rules.noiseFollows)
        return outOfStep(line_, "frequencies must increase: " + number(v) + " follows " +
                                    number(freq_.back() / unitScale_));
      if (!first) return outOfStep(line_, "a noise line must begin a line");
      noise = true;
      return noiseNumber(v, first);
    }
    if (problem.empty() && !(first && rises)) {
      problemLine = line_;
      problem = !first ? "a frequency must begin a line"
                       : "frequencies must increase: " + number(v) + " follows " +
                             number(freq_.back() / unitScale_);
    }
    if (!known) {
      if (freq_.size() == 1) {
        // The first record's length in bytes sizes the rest: one allocation instead
        // of a series of copies for a long file.
        const std::size_t length = std::max<std::size_t>(at - firstRecordAt, 1);
        const std::size_t estimate =
            std::min<std::size_t>((text_.size() - at) / length + 2, kMaxEntries / n2);
        try {
          reserveRecords(estimate + 1);
        } catch (const std::bad_alloc&) {
        }
      } else if (freq_.empty()) {
        firstRecordAt = at;
      }
    }
    freq_.push_back(hz);
    if (!known) {
      // Room for a record only where the rest of the text can hold its numbers (a
      // digit and a blank each) and the set stays within the library's limit.
      if (record / 2 > text_.size() - at)
        return fail(line_, "the rest of the file cannot hold a record of " +
                               std::to_string(record) + " numbers");
      if (entries_.size() + n2 > kMaxEntries)
        return fail(line_, "the data need more memory than this reader allows");
    }
    ++counted;
    return true;
  };
  // Every number, inlined into the walk (a long file has millions); a frequency, once a
  // record, goes to the step above.
  auto take = [&](double v, bool first, std::size_t at) __attribute__((always_inline)) {
    if (noise) return noiseNumber(v, first);
    if (!known) steps.number(first, inRecord, line_);
    const std::size_t r = inRecord;
    if (++inRecord == record) inRecord = 0;
    if (r != 0) {
      if (placing) place(r, v);
      ++counted;
      return true;
    }
    placing = begun++ < stored;
    if (!placing) {
      ++counted;
      return true;
    }
    return frequency(v, first, at);
  };
  if (!numbers(rules.keywordsEnd, take)) return false;
  if (noise) {
    if (!endNoiseLine()) return false;
  } else {
    steps.end();
  }
  if (known) {
    if (counted != needed)
      return fail(rules.openedAt, "the network data holds " + std::to_string(counted) +
                                      " numbers; [Number of Frequencies] " +
                                      std::to_string(rules.points) + " with " +
                                      std::to_string(record) + " numbers per point needs " +
                                      std::to_string(needed));
    if (stored < rules.points)
      return fail(rules.openedAt, "[Number of Frequencies] " + std::to_string(rules.points) +
                                      " with " + std::to_string(ports_) +
                                      " ports needs more memory than this reader allows");
  } else {
    if (counted == 0) return fail(rules.openedAt, "no network data after the option line");
    if (counted % record != 0)
      return outOfStep(
          lastLine(), "the data end inside a record: " + std::to_string(counted % record) + " of " +
                          std::to_string(record) + " numbers");
  }
  if (!problem.empty()) return outOfStep(problemLine, problem);
  result_.info.points = static_cast<int>(freq_.size());
  result_.info.ports = ports_;
  return true;
}

// Places for `points` records, each allocated once (the entries on huge pages).
void StandardReader::reserveRecords(std::size_t points) {
  freq_.reserve(points);
  brevo::io::reserveOnHugePages(
      entries_, points * static_cast<std::size_t>(ports_) * static_cast<std::size_t>(ports_));
}

// The lines of [Noise Data], to the next keyword or the end of the text.
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
    double v[5] = {};
    if (items.size() == 5)
      for (std::size_t i = 0; i < 5; ++i)
        if (!parseNumber(items[i], &v[i]))
          return fail(l.number, "'" + std::string(items[i]) + "' is not a number");
    if (!addNoise(v, items.size(), l.number)) return false;
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

// A noise line of `held` numbers, v its first five.
bool StandardReader::addNoise(const double* v, std::size_t held, int line) {
  if (held != 5) return fail(line, "a noise line holds 5 numbers, not " + std::to_string(held));
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
