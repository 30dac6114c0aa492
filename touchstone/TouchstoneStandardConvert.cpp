// The standard reader's last step: the data as single-ended S-parameters at the caller's
// reference, point by point, by the network conversions of NetworkParams.cpp.
#include <algorithm>
#include <cmath>
#include <string>

#include "cmatrix.h"
#include "detail/StandardReader.h"

namespace brevo {

using complex = std::complex<double>;
using namespace touchstone_detail;

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
  cmatrix mode;
  if (!modes_.empty()) {
    mode = cmatrix(n, n, nullptr);
    const double h = p == 'S' ? std::sqrt(0.5) : 0;
    for (int k = 0; k < n; ++k) {
      const auto& m = modes_[static_cast<std::size_t>(k)];
      const int a = m.p - 1;
      if (m.kind == 'S') {
        mode.set(k, a, 1.0);
        continue;
      }
      const int b = m.q - 1;
      double plus = 0, minus = 0;
      if (m.kind == 'D') {
        plus = p == 'S' ? h : p == 'Y' ? 1.0 : 0.5;
        minus = -plus;
      } else {
        plus = minus = p == 'S' ? h : p == 'Y' ? 0.5 : 1.0;
      }
      mode.set(k, a, plus);
      mode.set(k, b, minus);
    }
    info.conversions.push_back("mixed-mode data converted to single-ended ports");
  }
  if (p != 'S') {
    info.conversions.push_back(std::string(version1 ? "normalised " : "") + p +
                               " data converted to S");
  }
  if (p == 'S' ? renormalising : version1 && renormalising) {
    std::string refs;
    for (std::size_t i = 0; i < N; ++i) {
      if (i && std::all_of(from.begin(), from.end(), [&](double r) { return r == from[0]; })) break;
      refs += (i ? " " : "") + printed("%g", from[i]);
    }
    info.conversions.push_back("references " + refs + " ohm renormalised to " +
                               printed("%g", options_.reference) + " ohm");
  }

  const std::vector<double> ones(N, 1.0);
  const bool asRead = mode.Rows() == 0 && p == 'S' && !renormalising;
  for (std::size_t k = 0; k < (asRead ? 0 : freq_.size()); ++k) {
    complex* point = entries_.data() + k * N * N;  // row by row
    cmatrix m(n, n, nullptr);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        m.set(i, j, point[static_cast<std::size_t>(i) * N + static_cast<std::size_t>(j)]);
    if (mode.Rows() > 0) m = singleEnded(m, mode);
    if (p == 'S') {
      if (renormalising) m = renormalised(m, from, target);
    } else if (version1) {
      m = toScattering(p, m, ones);
      if (m.Rows() > 0 && renormalising) m = renormalised(m, from, target);
    } else {
      m = toScattering(p, m, target);
    }
    if (m.Rows() == 0)
      return fail(0, std::string(1, p) + " data at " + number(freq_[k]) +
                         " Hz have no S-parameters (the matrix is singular)");
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        point[static_cast<std::size_t>(i) * N + static_cast<std::size_t>(j)] = m.value(i, j);
  }
  result_.set = Sparams::fromMatrices(result_.name, n, std::move(freq_), std::move(entries_));
  for (const auto& c : comments_) result_.set.setComment(c.c_str());
  return true;
}

}  // namespace touchstone_detail

}  // namespace brevo
