// The phasor sums shared by the short pulse sums and the period sums.
#include "phasorSums.h"

#include <algorithm>
#include <complex>

namespace {

using cd = std::complex<double>;

// Consecutive blocks of samples sharing one phasor run. Four make advancing the phasor a
// quarter of the per-sample cost it would be, and the accumulators of two sums of four
// blocks still fit the vector registers of the baseline x86-64 machine.
constexpr int kBlocks = 4;
// Frequencies per tile: the tile's coefficients and phasors (20 arrays of 8 bytes per
// frequency for two sums) stay in the level-1 cache over the whole run of samples.
constexpr int kTile = 256;
// Distance between the tile's arrays: a little more than the tile, so that the arrays do
// not all fall on the same cache sets (a power-of-two distance would).
constexpr std::size_t kStride = kTile + 24;

// e^p by repeated squaring: a few roundings instead of the p of a running product.
cd power(cd e, int p) {
  cd r = 1;
  while (p > 0) {
    if (p & 1) r *= e;
    p >>= 1;
    if (p > 0) e *= e;
  }
  return r;
}

// One tile of frequencies in one buffer of kArrays arrays, kStride apart, so that the
// sample loop addresses all of them from one register: for sum s and block j the
// coefficient c_s,m * E_m^(jL) (real part in array 2(sK+j), imaginary part in the next),
// then the tile's running phasor E_m^b (real, imaginary) and its step E_m.
constexpr int coefficientArray(int s, int j) { return 2 * (s * kBlocks + j); }
constexpr int kRhoRe = coefficientArray(PhasorSpectra::kMaxSums, 0);
constexpr int kRhoIm = kRhoRe + 1;
constexpr int kStepRe = kRhoRe + 2;
constexpr int kStepIm = kRhoRe + 3;
constexpr int kArrays = kRhoRe + 4;
// Where the real part of coefficient (s, j) of frequency 0 sits in the tile.
constexpr std::size_t offset(int s, int j) {
  return static_cast<std::size_t>(coefficientArray(s, j)) * kStride;
}

// For b = 0 .. blockLength-1, adds sum s of block j at sample j*blockLength + b (when that
// is below samples) to out[s]; the phasor runs b times. S sums, named accumulators so
// that the reduction vectorises (an array section would not).
template <int S>
void tileSums(double* const tile, int width, int blockLength, int samples,
              double* const out[PhasorSpectra::kMaxSums]) {
  constexpr std::size_t kRe = std::size_t{kRhoRe} * kStride, kIm = std::size_t{kRhoIm} * kStride;
  constexpr std::size_t kER = std::size_t{kStepRe} * kStride, kEI = std::size_t{kStepIm} * kStride;
  for (int b = 0; b < blockLength; ++b) {
    double a00 = 0, a01 = 0, a02 = 0, a03 = 0, a10 = 0, a11 = 0, a12 = 0, a13 = 0;
    double a20 = 0, a21 = 0, a22 = 0, a23 = 0;
#pragma omp simd reduction(+ : a00, a01, a02, a03, a10, a11, a12, a13, a20, a21, a22, a23)
    for (int m = 0; m < width; ++m) {
      const double* const c = tile + m;   // c[offset(s, j)] is c_s,m E_m^(jL), real part
      const double pr = c[kRe], pi = c[kIm];
      a00 += c[offset(0, 0)] * pr - c[offset(0, 0) + kStride] * pi;   // Re(c * rho)
      a01 += c[offset(0, 1)] * pr - c[offset(0, 1) + kStride] * pi;
      a02 += c[offset(0, 2)] * pr - c[offset(0, 2) + kStride] * pi;
      a03 += c[offset(0, 3)] * pr - c[offset(0, 3) + kStride] * pi;
      if constexpr (S >= 2) {
        a10 += c[offset(1, 0)] * pr - c[offset(1, 0) + kStride] * pi;
        a11 += c[offset(1, 1)] * pr - c[offset(1, 1) + kStride] * pi;
        a12 += c[offset(1, 2)] * pr - c[offset(1, 2) + kStride] * pi;
        a13 += c[offset(1, 3)] * pr - c[offset(1, 3) + kStride] * pi;
      }
      if constexpr (S >= 3) {
        a20 += c[offset(2, 0)] * pr - c[offset(2, 0) + kStride] * pi;
        a21 += c[offset(2, 1)] * pr - c[offset(2, 1) + kStride] * pi;
        a22 += c[offset(2, 2)] * pr - c[offset(2, 2) + kStride] * pi;
        a23 += c[offset(2, 3)] * pr - c[offset(2, 3) + kStride] * pi;
      }
      const double er = c[kER], ei = c[kEI];
      tile[kRe + m] = pr * er - pi * ei;   // rho *= E
      tile[kIm + m] = pr * ei + pi * er;
    }
    const double sums[PhasorSpectra::kMaxSums][kBlocks] = {
        {a00, a01, a02, a03}, {a10, a11, a12, a13}, {a20, a21, a22, a23}};
    for (int j = 0; j < kBlocks; ++j) {
      const int n = j * blockLength + b;
      if (n >= samples) break;
      for (int s = 0; s < S; ++s) out[s][n] += sums[s][j];
    }
  }
}

}  // namespace

void sumPhasors(const PhasorSpectra& in, int samples, double* const out[PhasorSpectra::kMaxSums]) {
  const int S = std::clamp(in.sums, 0, PhasorSpectra::kMaxSums);
  if (samples <= 0 || S == 0) return;
  for (int s = 0; s < S; ++s) std::fill(out[s], out[s] + samples, 0.0);
  const int nF = in.frequencies;
  if (nF <= 0) return;
  const int blockLength = (samples + kBlocks - 1) / kBlocks;

  std::vector<double> tile(static_cast<std::size_t>(kArrays) * kStride, 0.0);
  auto at = [&tile](int array, int m) -> double& {
    return tile[static_cast<std::size_t>(array) * kStride + static_cast<std::size_t>(m)];
  };
  for (int m0 = 0; m0 < nF; m0 += kTile) {
    const int width = std::min(kTile, nF - m0);
    for (int m = 0; m < width; ++m) {
      const cd step(in.stepRe[m0 + m], in.stepIm[m0 + m]);
      const cd blockStep = power(step, blockLength);
      cd start = 1;   // E^(jL) of block j
      for (int j = 0; j < kBlocks; ++j) {
        for (int s = 0; s < S; ++s) {
          const cd c = cd(in.re[s][m0 + m], in.im[s][m0 + m]) * start;
          at(coefficientArray(s, j), m) = c.real();
          at(coefficientArray(s, j) + 1, m) = c.imag();
        }
        start *= blockStep;
      }
      at(kRhoRe, m) = 1;
      at(kRhoIm, m) = 0;
      at(kStepRe, m) = step.real();
      at(kStepIm, m) = step.imag();
    }
    switch (S) {
      case 1: tileSums<1>(tile.data(), width, blockLength, samples, out); break;
      case 2: tileSums<2>(tile.data(), width, blockLength, samples, out); break;
      default: tileSums<3>(tile.data(), width, blockLength, samples, out); break;
    }
  }
}
