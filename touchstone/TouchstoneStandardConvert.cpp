// The standard reader's last step, the data as single-ended S-parameters at the
// caller's reference, and the conversions it takes: Y, Z, H and G to S, renormalisation.
#include <algorithm>
#include <cmath>
#include <string>

#include "cmatrix.h"
#include "detail/StandardReader.h"

using complex = std::complex<double>;
using namespace touchstone_detail;

namespace {

// A X = B, both n x n in row-major order, by LU through the matrix library's LAPACK
// bridge; B becomes X. False when A is singular or X is not finite.
bool solve(const std::vector<complex>& a, std::vector<complex>& b, int n) {
  const auto N = static_cast<std::size_t>(n);
  cmatrix A(n, n, nullptr), B(n, n, nullptr);
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      A.set(static_cast<int>(i), static_cast<int>(j), a[i * N + j]);
      B.set(static_cast<int>(i), static_cast<int>(j), b[i * N + j]);
    }
  int status = 0;
  const cmatrix X = B.solve(A, nullptr, &status);
  if (status != 0 || X.Rows() != n || X.Columns() != n) return false;
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      const complex x = X.value(static_cast<int>(i), static_cast<int>(j));
      if (!std::isfinite(x.real()) || !std::isfinite(x.imag())) return false;
      b[i * N + j] = x;
    }
  return true;
}

// out = a b, or a^T b, for n x n matrices in row-major order.
template <typename A, typename B>
void multiply(const std::vector<A>& a, bool transposeA, const std::vector<B>& b, std::vector<complex>& out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      complex sum = 0;
      for (std::size_t c = 0; c < n; ++c) sum += (transposeA ? a[c * n + i] : a[i * n + c]) * b[c * n + j];
      out[i * n + j] = sum;
    }
}

}  // namespace

namespace touchstone_detail {

bool StandardReader::convert() {
  TouchstoneInfo& info = result_.info;
  const int n = ports_;
  const auto N = static_cast<std::size_t>(n);
  const std::vector<double> target(N, options_.reference);
  const bool version1 = info.version[0] == '1';
  const char p = info.parameter;
  std::vector<double> from = info.references;
  bool renormalising = false;
  for (std::size_t i = 0; i < N; ++i) renormalising |= from[i] != options_.reference;
  if (!(options_.reference > 0)) return fail(0, "the reference asked for must be positive");

  // Mixed-mode rows: T_W for S, T_V for Y, T_I for Z (descriptor k is row k).
  std::vector<double> mode;
  if (!modes_.empty()) {
    mode.assign(N * N, 0.0);
    const double h = p == 'S' ? std::sqrt(0.5) : 0;
    for (std::size_t k = 0; k < N; ++k) {
      const auto& m = modes_[k];
      const std::size_t a = static_cast<std::size_t>(m.p - 1);
      if (m.kind == 'S') {
        mode[k * N + a] = 1;
        continue;
      }
      const std::size_t b = static_cast<std::size_t>(m.q - 1);
      double plus = 0, minus = 0;
      if (m.kind == 'D') {
        plus = p == 'S' ? h : p == 'Y' ? 1.0 : 0.5;
        minus = -plus;
      } else {
        plus = minus = p == 'S' ? h : p == 'Y' ? 0.5 : 1.0;
      }
      mode[k * N + a] = plus;
      mode[k * N + b] = minus;
    }
    info.conversions.push_back("mixed-mode data converted to single-ended ports");
  }
  if (p != 'S') {
    info.conversions.push_back(std::string(version1 ? "normalised " : "") + p + " data converted to S");
  }
  if (p == 'S' ? renormalising : version1 && renormalising) {
    std::string refs;
    for (std::size_t i = 0; i < N; ++i) {
      if (i && std::all_of(from.begin(), from.end(), [&](double r) { return r == from[0]; })) break;
      refs += (i ? " " : "") + printed("%g", from[i]);
    }
    info.conversions.push_back("references " + refs + " ohm renormalised to " + printed("%g", options_.reference) + " ohm");
  }

  const std::vector<double> ones(N, 1.0);
  std::vector<complex> m(N * N), t(N * N);
  const bool asRead = mode.empty() && p == 'S' && !renormalising;
  for (std::size_t k = 0; k < (asRead ? 0 : freq_.size()); ++k) {
    complex* point = entries_.data() + k * N * N;
    std::copy(point, point + N * N, m.begin());
    if (!mode.empty()) {  // x_se = T^T x_mm T
      multiply(m, false, mode, t, N);
      multiply(mode, true, t, m, N);
    }
    bool ok = true;
    if (p == 'S') {
      if (renormalising) ok = renormalise(m, n, from, target);
    } else if (version1) {
      ok = toScattering(p, m, n, ones) && (!renormalising || renormalise(m, n, from, target));
    } else {
      ok = toScattering(p, m, n, target);
    }
    if (!ok)
      return fail(0, std::string(1, p) + " data at " + number(freq_[k]) + " Hz have no S-parameters (the matrix is singular)");
    std::copy(m.begin(), m.end(), point);
  }
  result_.set = Sparams::fromMatrices(result_.name, n, std::move(freq_), std::move(entries_));
  for (const auto& c : comments_) result_.set.setComment(c.c_str());
  return true;
}

}  // namespace touchstone_detail

bool toScattering(char parameter, std::vector<complex>& m, int n, const std::vector<double>& ref) {
  const auto N = static_cast<std::size_t>(n);
  if (parameter == 'S') return true;
  // The data as C_V V + C_I I = 0.
  std::vector<complex> cv(N * N), ci(N * N);
  auto at = [&](std::size_t i, std::size_t j) { return i * N + j; };
  switch (parameter) {
    case 'Z':
      for (std::size_t i = 0; i < N; ++i) {
        cv[at(i, i)] = 1;
        for (std::size_t j = 0; j < N; ++j) ci[at(i, j)] = -m[at(i, j)];
      }
      break;
    case 'Y':
      for (std::size_t i = 0; i < N; ++i) {
        ci[at(i, i)] = 1;
        for (std::size_t j = 0; j < N; ++j) cv[at(i, j)] = -m[at(i, j)];
      }
      break;
    case 'H':
      if (n != 2) return false;
      cv = {1, -m[1], 0, -m[3]};
      ci = {-m[0], 0, -m[2], 1};
      break;
    case 'G':
      if (n != 2) return false;
      cv = {-m[0], 0, -m[2], 1};
      ci = {1, -m[1], 0, -m[3]};
      break;
    default:
      return false;
  }
  // S = -(C_V D - C_I D^-1)^-1 (C_V D + C_I D^-1), D = diag(sqrt(ref)).
  std::vector<complex> a(N * N), b(N * N);
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      const double d = std::sqrt(ref[j]);
      a[at(i, j)] = cv[at(i, j)] * d - ci[at(i, j)] / d;
      b[at(i, j)] = cv[at(i, j)] * d + ci[at(i, j)] / d;
    }
  if (!solve(a, b, n)) return false;
  for (std::size_t i = 0; i < N * N; ++i) m[i] = -b[i];
  return true;
}

bool renormalise(std::vector<complex>& s, int n, const std::vector<double>& from,
                 const std::vector<double>& to) {
  const auto N = static_cast<std::size_t>(n);
  std::vector<double> gamma(N), p(N);
  for (std::size_t i = 0; i < N; ++i) {
    gamma[i] = (from[i] - to[i]) / (from[i] + to[i]);
    p[i] = (from[i] + to[i]) / (2 * std::sqrt(from[i] * to[i]));
  }
  // M = (G + S)(I + G S)^-1, solved as (I + G S)^T M^T = (G + S)^T.
  std::vector<complex> a(N * N), b(N * N);
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      a[j * N + i] = (i == j ? 1.0 : 0.0) + gamma[i] * s[i * N + j];
      b[j * N + i] = (i == j ? gamma[i] : 0.0) + s[i * N + j];
    }
  if (!solve(a, b, n)) return false;
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) s[i * N + j] = p[i] * b[j * N + i] / p[j];
  return true;
}
