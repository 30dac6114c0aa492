// Joining channel elements: channel lines, port checks, the element matrices in pair
// order, the star product and the walk over the first element's frequency grid.
#include "Cascade.h"
#include "GlobalNames.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

__attribute__((format(printf, 1, 2))) std::string printed(const char* fmt, ...) {
  char buffer[1024];
  std::va_list args;
  va_start(args, fmt);
  std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return buffer;
}

std::vector<std::string> words(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const std::size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) out.emplace_back(line.substr(start, i - start));
  }
  return out;
}

// A whole word as a non-negative int in the given base (0: C notation); false otherwise.
bool portNumber(const std::string& word, int base, int* value) {
  if (word.empty() || word[0] == '-' || word[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(word.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v < 0 || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

// The element's ports in pair order: inputs first, then outputs.
std::vector<int> pairOrder(const ElementPorts& p) {
  if (p.singleEnded()) return {p.inP, p.outP};
  return {p.inP, p.inM, p.outP, p.outM};
}

// Copy of the rows x cols block of M starting at (r0, c0).
cmatrix block(const cmatrix& M, int r0, int c0, int rows, int cols) {
  cmatrix out(rows, cols, nullptr);
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) out.set(i, j, M.value(r0 + i, c0 + j));
  return out;
}

void putBlock(cmatrix* M, int r0, int c0, const cmatrix& B) {
  for (int j = 0; j < B.Columns(); ++j)
    for (int i = 0; i < B.Rows(); ++i) M->set(r0 + i, c0 + j, B.value(i, j));
}

bool allFinite(const cmatrix& M) {
  for (int j = 0; j < M.Columns(); ++j)
    for (int i = 0; i < M.Rows(); ++i) {
      const std::complex<double> z = M.value(i, j);
      if (!std::isfinite(z.real()) || !std::isfinite(z.imag())) return false;
    }
  return true;
}

// Largest absolute column sum.
double norm1(const cmatrix& M) {
  double worst = 0;
  for (int j = 0; j < M.Columns(); ++j) {
    double sum = 0;
    for (int i = 0; i < M.Rows(); ++i) sum += std::abs(M.value(i, j));
    worst = std::max(worst, sum);
  }
  return worst;
}

// Within the relative tolerance of the bound, on either side.
bool near(double f, double bound) {
  return std::fabs(f - bound) <= kCoverTolerance * std::max(std::fabs(f), std::fabs(bound));
}

// Empty when the element covers [lo, hi] (the first element's grid); otherwise the
// sentence naming the file, its range and what is missing.
std::string coverage(const Sparams& s, double lo, double hi) {
  const double F0 = s.Freq(0), Fmax = s.fmax();
  const bool below = lo < F0 && !near(lo, F0);
  const bool above = hi > Fmax && !near(hi, Fmax);
  if (!below && !above) return {};
  std::string missing;
  if (below) missing = printed("%.9g Hz to %.9g Hz", lo, F0);
  if (above) {
    if (below) missing += " and ";
    missing += printed("%.9g Hz to %.9g Hz", Fmax, hi);
  }
  return printed(
      "%s covers %.9g Hz to %.9g Hz only; the first element's grid needs "
      "%.9g Hz to %.9g Hz, missing %s",
      s.fileName().c_str(), F0, Fmax, lo, hi, missing.c_str());
}

}  // namespace

brevo::Result<ElementLine> parseElementLine(std::string_view line) {
  const std::vector<std::string> w = words(line);
  ElementLine e;
  if (w.empty()) return brevo::failure<ElementLine>("empty channel line");
  e.file = w[0];
  auto bad = [&](const std::string& word) {
    return brevo::failure<ElementLine>(printed("port \"%s\" is not a port number", word.c_str()));
  };
  switch (w.size()) {
    case 1:
      break;
    case 2: {  // two hexadecimal digits, as input_ports writes them
      int v = 0;
      if (!portNumber(w[1], 16, &v) || v > 0xff) return bad(w[1]);
      e.ports.inP = v / 16;
      e.ports.inM = v % 16;
      break;
    }
    case 3:
      if (!portNumber(w[1], 10, &e.ports.inP)) return bad(w[1]);
      if (!portNumber(w[2], 10, &e.ports.inM)) return bad(w[2]);
      break;
    case 5: {
      int* ports[4] = {&e.ports.inP, &e.ports.inM, &e.ports.outP, &e.ports.outM};
      for (int i = 0; i < 4; ++i)
        if (!portNumber(w[i + 1], 0, ports[i])) return bad(w[i + 1]);
      break;
    }
    default:
      return brevo::failure<ElementLine>(
          printed("expected a file name and the four ports inP inM outP outM, "
                  "got %d words",
                  static_cast<int>(w.size())));
  }
  return brevo::success(std::move(e));
}

brevo::Result<void> checkElementPorts(const ElementPorts& p, int ports) {
  if ((p.inM == 0) != (p.outM == 0))
    return brevo::failure(
        printed("ports %d %d %d %d: the minus ports must both be 0 (single-ended) "
                "or both be ports",
                p.inP, p.inM, p.outP, p.outM));
  const std::vector<int> order = pairOrder(p);
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] < 1 || order[i] > ports)
      return brevo::failure(
          printed("port %d is outside the file's ports 1 to %d", order[i], ports));
    for (std::size_t j = 0; j < i; ++j)
      if (order[j] == order[i]) return brevo::failure(printed("port %d is named twice", order[i]));
  }
  return {};
}

namespace {

// Entry (r, c) as a scattering matrix: r the receiving port, c the driving one.
template <typename Lookup>
cmatrix permuted(const ElementPorts& p, Lookup lookup) {
  const std::vector<int> order = pairOrder(p);
  assert(std::all_of(order.begin(), order.end(), [](int port) { return port >= 1; }) &&
         "elementMatrix: ports pass checkElementPorts first");
  const int n = static_cast<int>(order.size());
  cmatrix M(n, n, nullptr);
  for (int c = 0; c < n; ++c)
    for (int r = 0; r < n; ++r) M.set(r, c, lookup(order[r], order[c]));
  return M;
}

}  // namespace

cmatrix elementMatrix(const Sparams& s, const ElementPorts& p, int k) {
  return permuted(p, [&](int i, int j) { return s.matrixEntry(k, i, j); });
}

cmatrix elementMatrix(const Sparams& s, const ElementPorts& p, double f) {
  return permuted(p, [&](int i, int j) { return s.matrixEntry(f, i, j, 2); });
}

// With the waves x leaving A's output pair into B and y leaving B's input pair into A:
//   x = A21 a1 + A22 y,  y = B11 x + B12 a2,  so (I - A22 B11) x = A21 a1 + A22 B12 a2.
// One left division gives [Z1 Z2] = (I - A22 B11) \ [A21, A22 B12], and then
//   C11 = A11 + A12 B11 Z1    C12 = A12 (B12 + B11 Z2)
//   C21 = B21 Z1              C22 = B22 + B21 Z2
cmatrix starProduct(const cmatrix& A, const cmatrix& B) {
  const int n = A.Rows();
  if (n < 2 || n % 2 != 0 || A.Columns() != n || B.Rows() != n || B.Columns() != n) return {};
  const int m = n / 2;
  const cmatrix A11 = block(A, 0, 0, m, m), A12 = block(A, 0, m, m, m);
  const cmatrix A21 = block(A, m, 0, m, m), A22 = block(A, m, m, m, m);
  const cmatrix B11 = block(B, 0, 0, m, m), B12 = block(B, 0, m, m, m);
  const cmatrix B21 = block(B, m, 0, m, m), B22 = block(B, m, m, m, m);

  const cmatrix D = cmatrix(m) - A22 * B11;
  const cmatrix R = A21 | (A22 * B12);
  const cmatrix Z = R.solve(D, nullptr);  // quietly: a join says nothing per frequency
  // A singular junction (a loop gain of 1 between the facing reflections) leaves the
  // right-hand side unsolved; the residual shows it, and the caller gets no matrix.
  if (Z.Rows() != m || !allFinite(Z)) return {};
  if (norm1(D * Z - R) > 1e-9 * (norm1(R) + norm1(D) * norm1(Z))) return {};
  const cmatrix Z1 = block(Z, 0, 0, m, m), Z2 = block(Z, 0, m, m, m);

  cmatrix C(n, n, nullptr);
  putBlock(&C, 0, 0, A11 + A12 * (B11 * Z1));
  putBlock(&C, 0, m, A12 * (B12 + B11 * Z2));
  putBlock(&C, m, 0, B21 * Z1);
  putBlock(&C, m, m, B22 + B21 * Z2);
  return C;
}

CascadeResult cascade(const std::vector<CascadeElement>& chain) {
  auto fail = [](std::string text) { return brevo::failure<Joined>(std::move(text)); };
  if (chain.size() < 2) return fail("a chain needs at least two elements");

  for (const CascadeElement& e : chain) {
    const char* name = e.set.fileName().c_str();
    if (e.set.Size() < 1 || e.set.Fcount() < 1) return fail(printed("%s holds no data", name));
    if (const auto checked = checkElementPorts(e.ports, e.set.Size()); !checked)
      return fail(printed("%s: %s", name, checked.message.c_str()));
    if (e.ports.singleEnded() != chain.front().ports.singleEnded())
      return fail(printed("%s is %s but %s is %s: elements of different kinds cannot be joined",
                          name, e.ports.singleEnded() ? "single-ended" : "differential",
                          chain.front().set.fileName().c_str(),
                          chain.front().ports.singleEnded() ? "single-ended" : "differential"));
    // Interpolation looks for neighbours in an ascending list.
    if (const int k = e.set.firstPointOutOfOrder(true))
      return fail(printed("%s: frequencies do not ascend at point %d (%.9g Hz after %.9g Hz)", name,
                          k, e.set.Freq(k), e.set.Freq(k - 1)));
  }

  const Sparams& first = chain.front().set;
  const double lo = first.Freq(0), hi = first.fmax();
  for (std::size_t e = 1; e < chain.size(); ++e) {
    std::string gap = coverage(chain[e].set, lo, hi);
    if (!gap.empty()) return fail(std::move(gap));
  }

  const int nf = first.Fcount();
  CascadeResult r;
  r.value.freq.reserve(static_cast<std::size_t>(nf));
  r.value.S.reserve(static_cast<std::size_t>(nf));
  for (int k = 0; k < nf; ++k) {
    const double f = first.Freq(k);
    cmatrix M = elementMatrix(first, chain.front().ports, k);
    for (std::size_t e = 1; e < chain.size(); ++e) {
      const Sparams& s = chain[e].set;
      // Grid points within the tolerance outside the range are taken at its end.
      const double fe = std::clamp(f, s.Freq(0), s.fmax());
      M = starProduct(M, elementMatrix(s, chain[e].ports, fe));
      if (M.Rows() == 0 || !allFinite(M))
        return fail(
            printed("the junction before %s cannot be solved at %.9g Hz "
                    "(the reflections facing each other there do not die out)",
                    s.fileName().c_str(), f));
    }
    r.value.freq.push_back(f);
    r.value.S.push_back(std::move(M));
  }
  return r;
}

Sparams cascadeToSparams(const std::vector<double>& freq, const std::vector<cmatrix>& S,
                         const char* name) {
  const int nf = static_cast<int>(std::min(freq.size(), S.size()));
  const int n = nf > 0 ? S.front().Rows() : 0;
  if (n != 2 && n != 4) return Sparams();
  // Pair-order index to file port: the input pair on 1 and 3, the output pair on 2 and 4.
  constexpr std::array<int, 4> kFourPort{1, 3, 2, 4};
  const auto N = static_cast<std::size_t>(n);
  std::vector<std::complex<double>> matrices(static_cast<std::size_t>(nf) * N * N);
  for (std::size_t k = 0; k < static_cast<std::size_t>(nf); ++k) {
    const cmatrix& M = S[k];
    if (M.Rows() != n || M.Columns() != n) return Sparams();
    for (int c = 0; c < n; ++c)
      for (int r = 0; r < n; ++r) {
        const auto i =
            static_cast<std::size_t>(n == 4 ? kFourPort[static_cast<std::size_t>(r)] : r + 1);
        const auto j =
            static_cast<std::size_t>(n == 4 ? kFourPort[static_cast<std::size_t>(c)] : c + 1);
        matrices[(k * N + i - 1) * N + j - 1] = M.value(r, c);
      }
  }
  return Sparams::fromMatrices(name ? name : "", n,
                               std::vector<double>(freq.begin(), freq.begin() + nf),
                               std::move(matrices));
}

brevo::Result<CascadeElement> readElement(const ElementLine& line) {
  const std::string& file = line.file;
  auto fail = [](std::string text) { return brevo::failure<CascadeElement>(std::move(text)); };
  const TouchstoneRead reading = readTouchstoneFile(file);
  const TouchstoneReading& r = reading.value;
  using enum TouchstoneReadStatus;
  if (reading.status == cannotOpen || reading.status == folder)
    return fail("cannot read " + file + ": " + reading.message);
  // A Version 2.x file that breaks a rule.
  if (reading.status == refused) return fail(reading.message);
  if (reading.status == tooLarge) return fail(file + ": " + reading.message);
  if (r.keywordLines)
    return fail(file +
                " holds keyword lines ([Version] and the like) after its option line, which a "
                "Version 1.x file may not");
  if (r.set.Size() < 1 || r.set.Fcount() < 1)
    return fail(file + " holds no data (" +
                (reading.status == noOptionLine ? "no option line" : "fewer than two records") +
                ")");
  // A short read leaves zeros in place of the missing values: joined, they would pass
  // for a real channel, so it is refused here.
  if (!reading.ok())
    return fail(file +
                printed(" ends inside its data: %d frequencies of %d ports counted, not all read",
                        r.set.Fcount(), r.set.Size()));
  return brevo::success(CascadeElement{r.set, line.ports});
}

Sparams joinedSet(const Joined& joined, const std::vector<ElementLine>& lines, const char* name) {
  Sparams out = cascadeToSparams(joined.freq, joined.S, name);
  for (std::size_t e = 0; e < lines.size(); ++e) {
    const ElementPorts& p = lines[e].ports;
    char comment[1200];
    std::snprintf(comment, sizeof comment, "element %d: %s  ports %d %d %d %d",
                  static_cast<int>(e + 1), lines[e].file.c_str(), p.inP, p.inM, p.outP, p.outM);
    out.setComment(comment);
  }
  return out;
}
