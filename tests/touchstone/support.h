// Shared helpers of the touchstone tests: a log stream read back as text, a scratch
// folder removed afterwards, whole-file text, matrix differences and table row names.
#pragma once

#include "memory_stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "TouchstoneCore.h"

using cplx = std::complex<double>;
inline constexpr double kPi = 3.14159265358979323846;
using CapturedLog = MemoryStream;

class ScratchDir {
 public:
  ScratchDir() {
    std::string p = (std::filesystem::temp_directory_path() / "brevo_touchstone_XXXXXX").string();
    if (mkdtemp(p.data())) path_ = p;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
    return file(name);
  }

 private:
  std::string path_;
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Largest entry difference of two matrices; infinity when their shapes differ.
inline double maxDifference(const cmatrix& a, const cmatrix& b) {
  if (a.Rows() != b.Rows() || a.Columns() != b.Columns()) return INFINITY;
  double worst = 0;
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Columns(); ++j)
      worst = std::max(worst, std::abs(a.value(i, j) - b.value(i, j)));
  return worst;
}

namespace {
// Failure messages show a table row by its name.
template <class Row>
  requires requires(const Row& r) { r.name; }
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }
}  // namespace

// TEST_P names: the row's name with anything but letters and digits turned into '_'.
inline constexpr auto rowName = [](const auto& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
};

// True when no singular value of S exceeds sqrt(1 + tol): (1 + tol) I - S^H S must be
// positive semidefinite, which its Cholesky factorisation finds out.
inline bool passive(const cmatrix& S, double tol) {
  const int n = S.Columns();
  std::vector<cplx> H(static_cast<std::size_t>(n * n)), L(H.size());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      H[i * n + j] = i == j ? 1 + tol : 0;
      for (int k = 0; k < S.Rows(); ++k) H[i * n + j] -= std::conj(S.value(k, i)) * S.value(k, j);
    }
  for (int j = 0; j < n; ++j) {
    double d = H[j * n + j].real();
    for (int k = 0; k < j; ++k) d -= std::norm(L[j * n + k]);
    if (d <= 0) return false;
    L[j * n + j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      cplx s = H[i * n + j];
      for (int k = 0; k < j; ++k) s -= L[i * n + k] * std::conj(L[j * n + k]);
      L[i * n + j] = s / L[j * n + j];
    }
  }
  return true;
}
