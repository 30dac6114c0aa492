// Character classes and case-blind text of the Touchstone readers and writer (not
// installed): those of the C locale, whatever locale the process runs in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brevo {

namespace touchstone_detail {

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
// White space as strtod skips it: blank, tab, line feed, vertical tab, form feed, return.
inline bool isSpace(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u == ' ' || (u >= '\t' && u <= '\r');
}
// What separates the tokens of a line: blank and tab.
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
// What may follow a number of the standard reader's data: a blank, a line end, a comment.
inline bool isDelimiter(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '!';
}
// A control character other than tab (DEL included).
inline bool isControl(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7F; }
inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline std::string upperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upper(c);
  return out;
}
inline std::string lowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

// The same text but for the case of its letters.
inline bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

inline const char* skipSpace(const char* p, const char* e) {
  while (p < e && isSpace(*p)) ++p;
  return p;
}

}  // namespace touchstone_detail

}  // namespace brevo
