// The variable table, the assignment parser and the engineering-number reader.
#include "equal.h"

#include <array>
#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// How a type code turns a value text into stored bits.
enum class Conversion { Text, Decimal, Hex, Engineering, Double, Float, ClampedInt, None };

// What a "%" reference to a variable of this code reads from its storage.
enum class Number { None, Int, Float, Double };

struct TypeCode {
  char code;
  Conversion conversion;
  Number number;  // how a reference reads the current value
  bool array;     // the address moves on after each converted text
};

// Every code that accepts an assignment. Upper-case X is an array of hexadecimal
// integers, but a reference to it reads no number (it stores nothing).
constexpr std::array<TypeCode, 13> kTypeCodes{{
    {'s', Conversion::Text, Number::None, false},
    {'i', Conversion::Decimal, Number::Int, false},
    {'x', Conversion::Hex, Number::Int, false},
    {'e', Conversion::Engineering, Number::Double, false},
    {'d', Conversion::Double, Number::Double, false},
    {'f', Conversion::Float, Number::Float, false},
    {'p', Conversion::ClampedInt, Number::Int, false},
    {'I', Conversion::Decimal, Number::Int, true},
    {'X', Conversion::Hex, Number::None, true},
    {'E', Conversion::Engineering, Number::Double, true},
    {'D', Conversion::Double, Number::Double, true},
    {'F', Conversion::Float, Number::Float, true},
    {'P', Conversion::ClampedInt, Number::Int, true},
}};

// Codes not in the table (upper-case S among them) find the name and store nothing.
constexpr TypeCode kAcceptsNothing{0, Conversion::None, Number::None, false};

const TypeCode& typeOf(char code) {
  for (const TypeCode& t : kTypeCodes)
    if (t.code == code) return t;
  return kAcceptsNothing;
}

// Bytes of one element: 32-bit integers and floats, 64-bit doubles.
std::size_t elementSize(Conversion c) {
  return (c == Conversion::Engineering || c == Conversion::Double) ? sizeof(double)
                                                                   : sizeof(std::int32_t);
}

// A suffix letter and its factor; "meg" is 'm' followed by "eg" (see eng_strtod).
struct EngSuffix {
  char letter;
  double factor;
};
constexpr std::array<EngSuffix, 9> kEngSuffixes{{
    {'a', 1e-18},
    {'f', 1e-15},
    {'p', 1e-12},
    {'n', 1e-9},
    {'u', 1e-6},
    {'m', 1e-3},
    {'k', 1e3},
    {'g', 1e9},
    {'t', 1e12},
}};

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The name of an assignment: from the first non-blank up to the first "=", with
// its trailing blanks removed. A "#" does not cut it.
std::string_view nameOf(std::string_view text) { return trimmed(text.substr(0, text.find('='))); }

// The value text after "=": blanks skipped, unquoted blanks dropped, the value
// ended by a newline or "#" outside quotes, and a quoted run (quote characters
// dropped) kept whole up to its matching quote, which ends the value.
std::string cleanValue(std::string_view rest) {
  std::string value;
  std::size_t i = 0;
  while (i < rest.size() && isBlank(rest[i])) ++i;
  for (; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '\n' || c == '#') break;
    if (c == '\'' || c == '"') {
      const std::size_t close = rest.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? rest.size() : close;
      value.append(rest.substr(i + 1, end - i - 1));
      break;
    }
    if (!isBlank(c)) value.push_back(c);
  }
  return value;
}

// Walks from the given node to (not into) the sentinel; the earlier node wins.
variable_def* find(variable_def* table, std::string_view name) {
  for (variable_def* n = table; n != nullptr && n->next != nullptr; n = n->next.get())
    if (n->name == name) return n;
  return nullptr;
}

// Fills the sentinel at the end of the table and puts a fresh sentinel behind it.
variable_def* appendNode(variable_def* table, std::string_view name, void* address, char type) {
  variable_def* node = table;
  while (node->next != nullptr) node = node->next.get();
  node->address = address;
  node->name.assign(name);
  node->type = type;
  node->next = std::make_unique<variable_def>();
  return node;
}

bool ownsText(const variable_def& v) { return v.type == 's' && v.address == nullptr; }

// The text of an 's' variable; a caller's buffer is read no further than its size.
std::string textOf(const variable_def& v) {
  if (ownsText(v)) return v.ownedText;
  const char* buffer = static_cast<const char*>(v.address);
  return std::string(buffer, strnlen(buffer, kStringStorage));
}

// The current value of a referenced numeric variable.
struct RefValue {
  Number kind = Number::None;
  std::int32_t i = 0;
  double d = 0;  // float values are widened exactly
};

RefValue readNumber(const variable_def& v) {
  RefValue r;
  if (v.address == nullptr) return r;
  r.kind = typeOf(v.type).number;
  switch (r.kind) {
    case Number::Int:
      std::memcpy(&r.i, v.address, sizeof r.i);
      break;
    case Number::Float: {
      float f;
      std::memcpy(&f, v.address, sizeof f);
      r.d = f;
      break;
    }
    case Number::Double:
      std::memcpy(&r.d, v.address, sizeof r.d);
      break;
    case Number::None:
      break;
  }
  return r;
}

// Truncation toward zero into 32 bits. Our choice beyond the range, where a plain
// cast is undefined: the nearest end of the range, and 0 for NaN.
std::int32_t truncatedInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

// Double to float, rounded to nearest; beyond the float range an infinity.
float nearestFloat(double v) {
  if (v > FLT_MAX) return HUGE_VALF;
  if (v < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(v);
}

template <typename T>
void put(void* address, T value) {
  std::memcpy(address, &value, sizeof value);
}

// How a referenced number is written as the text of an 's' variable.
std::string numberText(const RefValue& r) {
  char buffer[64];
  if (r.kind == Number::Int)
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(r.i));
  else
    std::snprintf(buffer, sizeof buffer, "%11.3e", r.d);
  return buffer;
}

int storeText(variable_def& target, const std::string& value, FILE* log) {
  if (ownsText(target)) {
    target.ownedText = value;
    return 0;
  }
  if (value.size() > static_cast<std::size_t>(kStringStorage - 1)) {
    // A value that does not fit is refused whole rather than cut: a cut file
    // name would silently name another file.
    if (log != nullptr)
      std::fprintf(log,
                   "value of %s is %zu characters, longer than the 999 it may hold; not assigned\n",
                   target.name.c_str(), value.size());
    return 3;
  }
  std::memcpy(target.address, value.c_str(), value.size() + 1);
  return 0;
}

// Converts a value text for the target's type code; 3 when nothing could be scanned.
int storeConverted(variable_def& target, const std::string& value, FILE* log) {
  const TypeCode& t = typeOf(target.type);
  if (t.conversion == Conversion::None) return 0;
  if (t.conversion == Conversion::Text) return storeText(target, value, log);
  if (target.address == nullptr) return 0;  // a number with nowhere to live: nothing stored

  const char* start = value.c_str();
  char* end = nullptr;
  switch (t.conversion) {
    case Conversion::Decimal: {
      // As "%d"; a number beyond 32 bits is held at the nearest end of the range
      // (our choice; scanf leaves that case undefined).
      const long long v = std::strtoll(start, &end, 10);
      if (end == start) return 3;
      put<std::int32_t>(target.address, static_cast<std::int32_t>(v > INT32_MAX   ? INT32_MAX
                                                                  : v < INT32_MIN ? INT32_MIN
                                                                                  : v));
      break;
    }
    case Conversion::Hex: {
      // As "%x" into a 32-bit word: an optional sign and "0x", then hex digits;
      // the low 32 bits are kept, so ffffffff stores -1.
      const unsigned long long v = std::strtoull(start, &end, 16);
      if (end == start) return 3;
      put<std::int32_t>(target.address, static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
      break;
    }
    case Conversion::Engineering:
      put<double>(target.address, eng_strtod(start));  // never fails: no number is 0
      break;
    case Conversion::Double: {
      const double v = std::strtod(start, &end);
      if (end == start) return 3;
      put<double>(target.address, v);
      break;
    }
    case Conversion::Float: {
      const float v = std::strtof(start, &end);
      if (end == start) return 3;
      put<float>(target.address, v);
      break;
    }
    case Conversion::ClampedInt: {
      const double v = std::strtod(start, &end);
      if (end == start) return 3;
      put<std::int32_t>(target.address, truncatedInt(v));
      break;
    }
    case Conversion::Text:
    case Conversion::None:
      break;
  }
  if (t.array) target.address = static_cast<char*>(target.address) + elementSize(t.conversion);
  return 0;
}

// Stores a referenced number converted to the target's type; never advances.
int storeNumber(variable_def& target, const RefValue& r, FILE* log) {
  if (r.kind == Number::None) return 0;
  const TypeCode& t = typeOf(target.type);
  if (t.conversion == Conversion::Text) return storeText(target, numberText(r), log);
  if (t.conversion == Conversion::None || target.address == nullptr) return 0;
  const bool fromInt = r.kind == Number::Int;
  switch (t.conversion) {
    case Conversion::Decimal:
    case Conversion::Hex:
    case Conversion::ClampedInt:
      put<std::int32_t>(target.address, fromInt ? r.i : truncatedInt(r.d));
      break;
    case Conversion::Engineering:
    case Conversion::Double:
      put<double>(target.address, fromInt ? static_cast<double>(r.i) : r.d);
      break;
    case Conversion::Float:
      put<float>(target.address, fromInt ? static_cast<float>(r.i) : nearestFloat(r.d));
      break;
    case Conversion::Text:
    case Conversion::None:
      break;
  }
  return 0;
}

int apply(variable_def* table, std::string_view text, FILE* log) {
  if (table == nullptr) return 1;
  text = text.substr(0, text.find('\0'));  // a NUL ends the text, as in a C string
  if (text.find('=') == std::string_view::npos) return 1;
  const std::string_view name = nameOf(text);
  if (name.empty()) return 1;
  std::string value = cleanValue(text.substr(text.find('=') + 1));

  if (!value.empty() && value.front() == '$') {
    const char* env = std::getenv(value.c_str() + 1);
    if (env == nullptr) {  // said, so that a file named by it is not merely "not found"
      if (log != nullptr)
        std::fprintf(log, "%.*s: environment variable %s is not set; not assigned\n",
                     static_cast<int>(name.size()), name.data(), value.c_str() + 1);
      return 2;
    }
    value = env;
  }

  bool haveNumber = false;
  RefValue number;
  if (!value.empty() && value.front() == '%') {
    std::string_view refName(value);
    refName.remove_prefix(1);
    std::size_t stop = 0;
    while (stop < refName.size() && !isBlank(refName[stop]) && refName[stop] != '#') ++stop;
    const variable_def* ref = find(table, refName.substr(0, stop));
    if (ref == nullptr) return 1;
    if (ref->type == 's') {
      value = textOf(*ref);
    } else {
      haveNumber = true;
      number = readNumber(*ref);
    }
  }

  variable_def* target = find(table, name);
  if (target == nullptr) {
    // An unknown name is kept as a string variable the table owns. A referenced
    // number is written as it would be into any string variable (our choice),
    // and a reference that reads no number leaves the new text empty.
    variable_def* node = appendNode(table, name, nullptr, 's');
    if (!haveNumber)
      node->ownedText = std::move(value);
    else if (number.kind != Number::None)
      node->ownedText = numberText(number);
    return 1;
  }
  return haveNumber ? storeNumber(*target, number, log) : storeConverted(*target, value, log);
}

}  // namespace

variable_def& variable_def::operator=(variable_def&& other) noexcept {
  if (this == &other) return *this;
  // The old chain is detached first: the source may live inside it.
  std::unique_ptr<variable_def> old = std::move(next);
  address = other.address;
  name = std::move(other.name);
  type = other.type;
  next = std::move(other.next);
  ownedText = std::move(other.ownedText);
  while (old) old = std::move(old->next);
  return *this;
}

variable_def::~variable_def() {
  std::unique_ptr<variable_def> rest = std::move(next);
  while (rest) rest = std::move(rest->next);
}

std::unique_ptr<variable_def> create_variable_def() { return std::make_unique<variable_def>(); }

int add_variable(variable_def* table, void* address, const char* definition, char type) {
  if (table == nullptr) return 1;
  const std::string_view text =
      definition == nullptr ? std::string_view{} : std::string_view(definition);
  const std::string_view name = nameOf(text);
  variable_def* node = appendNode(table, name, address, type);
  // Applied to the new node alone: its next is the fresh sentinel, so neither the
  // target nor a "%" reference can reach any other variable.
  if (text.find('=') != std::string_view::npos) apply(node, text, nullptr);
  return 0;
}

int equal(variable_def* table, const char* text) {
  if (text == nullptr) return 1;
  return apply(table, text, nullptr);
}

int equal(variable_def* table, std::string_view text) { return apply(table, text, nullptr); }

int equal(variable_def* table, std::string_view text, FILE* log) { return apply(table, text, log); }

AssignmentView inspectAssignment(const variable_def* table, std::string_view text) {
  AssignmentView v;
  text = text.substr(0, text.find('\0'));
  if (table == nullptr || text.find('=') == std::string_view::npos) return v;
  v.name = std::string(nameOf(text));
  if (v.name.empty()) return v;
  v.value = cleanValue(text.substr(text.find('=') + 1));
  v.indirect = !v.value.empty() && (v.value.front() == '$' || v.value.front() == '%');
  const variable_def* target = nullptr;
  for (const variable_def* n = table; n != nullptr && n->next != nullptr; n = n->next.get())
    if (n->name == v.name) {
      target = n;
      break;
    }
  v.known = target != nullptr && !ownsText(*target);
  v.type = target ? target->type : 0;
  v.used = v.value.size();
  const Conversion c = typeOf(v.type).conversion;
  if (!v.known || v.indirect || c == Conversion::Text || c == Conversion::None) return v;
  const char* start = v.value.c_str();
  char* end = nullptr;
  switch (c) {
    case Conversion::Decimal:
      std::strtoll(start, &end, 10);
      break;
    case Conversion::Hex:
      std::strtoull(start, &end, 16);
      break;
    case Conversion::Float:
      std::strtof(start, &end);
      break;
    default:
      std::strtod(start, &end);
      break;
  }
  v.used = static_cast<std::size_t>(end - start);
  if (c == Conversion::Engineering && v.used > 0 && v.used < v.value.size()) {
    const char letter = lower(v.value[v.used]);
    for (const EngSuffix& e : kEngSuffixes)
      if (e.letter == letter) {
        const bool meg = letter == 'm' && v.value.size() >= v.used + 3 &&
                         lower(v.value[v.used + 1]) == 'e' && lower(v.value[v.used + 2]) == 'g';
        v.used += meg ? 3 : 1;
        break;
      }
  }
  return v;
}

std::vector<std::string> registeredNames(const variable_def* table) {
  std::vector<std::string> names;
  for (const variable_def* n = table; n != nullptr && n->next != nullptr; n = n->next.get())
    if (!ownsText(*n)) names.push_back(n->name);
  return names;
}

double eng_strtod(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text) value = 0;  // no number: the suffix is looked for at the start
  const char* suffix = end;
  const char letter = lower(*suffix);
  for (const EngSuffix& s : kEngSuffixes) {
    if (s.letter != letter) continue;
    value *= s.factor;
    // Upper-case M is milli too; only "meg" in any case means mega, done as a
    // second multiplication (1meg is 1 * 0.001 * 1e9).
    if (letter == 'm' && lower(suffix[1]) == 'e' && lower(suffix[2]) == 'g') value *= 1e9;
    break;
  }
  return value;
}
