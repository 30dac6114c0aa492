// The standard Touchstone reader: its entry points, and the lexical layer every other
// part reads through: lines with their comments split off, characters a line may hold,
// blank-separated tokens, numbers and counts.
#include "TouchstoneStandard.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "detail/StandardReader.h"

namespace brevo {

using complex = std::complex<double>;
using namespace touchstone_detail;

namespace touchstone_detail {

std::string printed(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}
std::string number(double v) { return printed("%.10g", v); }

std::vector<std::string_view> tokens(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && isBlank(s[i])) ++i;
    const std::size_t b = i;
    while (i < s.size() && !isBlank(s[i])) ++i;
    if (i > b) out.push_back(s.substr(b, i - b));
  }
  return out;
}

bool parseNumber(std::string_view t, double* v) {
  return strictNumber(t.data(), t.data() + t.size(), v) == t.data() + t.size();
}

bool parseCount(std::string_view t, long long* v) {
  if (t.empty() || t.size() > 12) return false;
  std::size_t i = t[0] == '+' ? 1 : 0;
  if (i == t.size()) return false;
  long long n = 0;
  for (; i < t.size(); ++i) {
    if (!isDigit(t[i])) return false;
    n = n * 10 + (t[i] - '0');
  }
  *v = n;
  return true;
}

StandardReader::StandardReader(std::string_view text, const std::string& name,
                               const TouchstoneReadOptions& options)
    : text_(text), options_(options) {
  result_.name = name;
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;  // a UTF-8 byte-order mark
}

TouchstoneFile StandardReader::run() {
  try {
    if (read() && convert()) result_.ok = true;
  } catch (const std::bad_alloc&) {
    fail(0, "too large to hold in memory");
  }
  if (!result_.ok) result_.set = Sparams();
  return std::move(result_);
}

int StandardReader::lastLine() const {
  if (text_.empty()) return 1;
  const char c = text_.back();
  return (c == '\n' || c == '\r') ? line_ - 1 : line_;
}

// The next line with its comment split off; false at the end of the text or when a
// character is not allowed (the error is then set).
bool StandardReader::next(Line& l) {
  if (atEnd() || failed_) return false;
  const char* b = text_.data();
  const char* p = b + pos_;
  const char* e = b + text_.size();
  const char* start = p;
  const char* commentAt = nullptr;
  for (; p < e; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\n' || c == '\r') break;
    if (c == '!' && !commentAt) commentAt = p;
    if (isControl(c)) return badCharacter(c);
    if (c > 0x7E && !commentAt) return badCharacter(c);
  }
  l.number = line_;
  l.content =
      std::string_view(start, static_cast<std::size_t>((commentAt ? commentAt : p) - start));
  l.comment = commentAt ? std::string_view(commentAt, static_cast<std::size_t>(p - commentAt))
                        : std::string_view();
  if (p < e) {
    if (*p == '\r' && p + 1 < e && p[1] == '\n') ++p;
    ++p;
    ++line_;
  }
  pos_ = static_cast<std::size_t>(p - b);
  return true;
}

bool StandardReader::badCharacter(unsigned c) {
  char text[96];
  std::snprintf(text, sizeof text,
                c > 0x7E ? "byte 0x%02X is allowed only in a comment"
                         : "control character 0x%02X is not allowed",
                c);
  return fail(line_, text);
}

// The next line that holds more than a comment; comments met on the way are kept
// while the header is read.
bool StandardReader::nextContent(Line& l) {
  while (next(l)) {
    if (!l.trimmed().empty()) return true;
    if (keepComments_ && l.comment.size() > 1) comment(l.comment);
  }
  return false;
}

void StandardReader::comment(std::string_view text) {
  std::string c(text);
  c.push_back('\n');
  comments_.push_back(std::move(c));
}

bool StandardReader::fail(int line, std::string rule) {
  if (!failed_) {
    failed_ = true;
    result_.error = {line, std::move(rule), {}};
  }
  return false;
}

// A deviation the lenient reading accepts: noted, or the error in strict reading.
bool StandardReader::deviate(int line, std::string rule, std::string taken) {
  if (!options_.lenient) return fail(line, std::move(rule));
  result_.info.deviations.push_back({line, std::move(rule), std::move(taken)});
  return true;
}

}  // namespace touchstone_detail

std::string TouchstoneFile::message(const TouchstoneProblem& p) const {
  if (p.line > 0) return name + ":" + std::to_string(p.line) + ": " + p.rule;
  return name + ": " + p.rule;
}

std::string TouchstoneFile::message() const { return message(error); }

std::string TouchstoneFile::summary() const {
  std::string s = name + ": Touchstone " + info.version + ", " + std::to_string(info.ports) +
                  (info.ports == 1 ? " port, " : " ports, ") + std::to_string(info.points) +
                  (info.points == 1 ? " frequency" : " frequencies");
  for (const auto& c : info.conversions) s += "; " + c;
  return s;
}

TouchstoneFile parseTouchstoneStandard(std::string_view text, const std::string& name,
                                       const TouchstoneReadOptions& options) {
  return StandardReader(text, name, options).run();
}

Version1Declarations declarationsOf(std::string_view text, const std::string& path) {
  try {
    return StandardReader(text, path, {}).declarations();
  } catch (const std::bad_alloc&) {
    return {};
  }
}

int touchstoneVersionOf(std::string_view text) {
  constexpr std::size_t kLine = 4095;  // a line buffer of 4096 bytes
  std::size_t pos = 0;
  // The next piece of at most kLine characters through its line feed, as a C string.
  auto next = [&]() {
    const std::size_t room = std::min(kLine, text.size() - pos);
    const std::string_view rest = text.substr(pos, room);
    const std::size_t lf = rest.find('\n');
    const std::string_view piece = rest.substr(0, lf == std::string_view::npos ? room : lf + 1);
    pos += piece.size();
    return piece.substr(0, piece.find('\0'));
  };
  bool first = true;
  while (pos < text.size()) {
    const std::string_view line = next();
    std::size_t p = first && line.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    first = false;
    while (p < line.size() && isBlank(line[p])) ++p;
    if (p == line.size() || line[p] == '\n' || line[p] == '\r' || line[p] == '!') {
      // A comment or blank line; a line longer than the buffer continues below.
      for (std::string_view more = line;
           more.find('\n') == std::string_view::npos && pos < text.size();)
        more = next();
      continue;
    }
    if (line[p] == '#') return 1;
    if (line[p] == '[' && sameText(line.substr(p, 9), "[Version]")) return 2;
    return 0;
  }
  return 0;
}

}  // namespace brevo
