// The phasor sums shared by the short pulse sums and the period sums.
#include "phasorSums.h"

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>

namespace {

using cd = std::complex<double>;

// Consecutive blocks of samples sharing one phasor run. Four make advancing the phasor a
// quarter of the per-sample cost it would be, and the accumulators of two sums of four
// blocks still fit the vector registers of the baseline x86-64 machine.
constexpr int kBlocks = 4;
// Partial sums per accumulator: lane l sums the tile's frequencies m with m % kLanes == l,
// in increasing m, and the lanes are added in one fixed order. Every instruction set
// computes exactly these partial sums (it only groups the lanes into vectors of its own
// width), so the waveforms are the same to the last bit on every machine.
constexpr int kLanes = 8;
// Frequencies per tile: the tile's coefficients and phasors (20 arrays of 8 bytes per
// frequency for two sums) stay in the level-1 cache over the whole run of samples.
constexpr int kTile = 256;
static_assert(kTile % kLanes == 0);
// Distance between the tile's arrays: a little more than the tile, so that the arrays do
// not all fall on the same cache sets (a power-of-two distance would), and a whole number
// of 64-byte lines, so that every lane group's load is aligned to its width.
constexpr std::size_t kStride = kTile + 24;
static_assert(kStride % kLanes == 0);

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
constexpr std::size_t at(int array) { return static_cast<std::size_t>(array) * kStride; }

// W doubles in one vector register (W = 2: SSE2, 4: AVX2, 8: AVX-512).
template <int W>
struct Lanes {
  typedef double type __attribute__((vector_size(W * sizeof(double))));
};

// For b = 0 .. blockLength-1, adds sum s of block j at sample j*blockLength + b (when that
// is below samples) to out[s]; the phasor runs b times. width is a multiple of kLanes.
// Inlined into one function per instruction set, which gives the vectors their width.
template <int S, int W>
[[gnu::always_inline]] inline void tileSums(double* const tile, int width, int blockLength,
                                            int samples,
                                            double* const out[PhasorSpectra::kMaxSums]) {
  using V = typename Lanes<W>::type;
  for (int b = 0; b < blockLength; ++b) {
    double lanes[S][kBlocks][kLanes];
    for (int g = 0; g < kLanes; g += W) {  // one group of W lanes at a time
      V acc[S][kBlocks] = {};
      for (int m = g; m < width; m += kLanes) {
        double* const c = tile + m;
        V pr, pi, er, ei;
        std::memcpy(&pr, c + at(kRhoRe), sizeof pr);
        std::memcpy(&pi, c + at(kRhoIm), sizeof pi);
#pragma GCC unroll 16
        for (int s = 0; s < S; ++s) {
#pragma GCC unroll 16
          for (int j = 0; j < kBlocks; ++j) {
            V re, im;
            std::memcpy(&re, c + at(coefficientArray(s, j)), sizeof re);
            std::memcpy(&im, c + at(coefficientArray(s, j) + 1), sizeof im);
            acc[s][j] += re * pr - im * pi;  // Re(c * rho)
          }
        }
        std::memcpy(&er, c + at(kStepRe), sizeof er);
        std::memcpy(&ei, c + at(kStepIm), sizeof ei);
        const V nr = pr * er - pi * ei, ni = pr * ei + pi * er;  // rho *= E
        std::memcpy(c + at(kRhoRe), &nr, sizeof nr);
        std::memcpy(c + at(kRhoIm), &ni, sizeof ni);
      }
#pragma GCC unroll 16
      for (int s = 0; s < S; ++s)
#pragma GCC unroll 16
        for (int j = 0; j < kBlocks; ++j)
          std::memcpy(&lanes[s][j][g], &acc[s][j], sizeof acc[s][j]);
    }
    for (int j = 0; j < kBlocks; ++j) {
      const int n = j * blockLength + b;
      if (n >= samples) break;
      for (int s = 0; s < S; ++s) {
        const double* l = lanes[s][j];
        out[s][n] += ((l[0] + l[1]) + (l[2] + l[3])) + ((l[4] + l[5]) + (l[6] + l[7]));
      }
    }
  }
}

template <int W>
[[gnu::always_inline]] inline void tileSumsFor(int S, double* tile, int width, int blockLength,
                                               int samples,
                                               double* const out[PhasorSpectra::kMaxSums]) {
  switch (S) {
    case 1:
      tileSums<1, W>(tile, width, blockLength, samples, out);
      break;
    case 2:
      tileSums<2, W>(tile, width, blockLength, samples, out);
      break;
    default:
      tileSums<3, W>(tile, width, blockLength, samples, out);
      break;
  }
}

using TileSums = void (*)(int, double*, int, int, int, double* const*);

void tileSums2(int S, double* tile, int width, int blockLength, int samples, double* const* out) {
  tileSumsFor<2>(S, tile, width, blockLength, samples, out);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] void tileSums4(int S, double* tile, int width, int blockLength, int samples,
                                       double* const* out) {
  tileSumsFor<4>(S, tile, width, blockLength, samples, out);
}

[[gnu::target("avx512f")]] void tileSums8(int S, double* tile, int width, int blockLength,
                                          int samples, double* const* out) {
  tileSumsFor<8>(S, tile, width, blockLength, samples, out);
}
#endif

bool available(PhasorPath path) {
#if defined(__x86_64__) || defined(__i386__)
  switch (path) {
    case PhasorPath::vector128:
      return true;
    case PhasorPath::vector256:
      return __builtin_cpu_supports("avx2");
    case PhasorPath::vector512:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
#else
  return path == PhasorPath::vector128;
#endif
}

TileSums tileSumsOf(PhasorPath path) {
#if defined(__x86_64__) || defined(__i386__)
  if (path == PhasorPath::vector512) return tileSums8;
  if (path == PhasorPath::vector256) return tileSums4;
#endif
  return tileSums2;
}

}  // namespace

std::vector<PhasorPath> phasorPaths() {
  std::vector<PhasorPath> paths;
  for (PhasorPath p : {PhasorPath::vector128, PhasorPath::vector256, PhasorPath::vector512})
    if (available(p)) paths.push_back(p);
  return paths;
}

void sumPhasors(const PhasorSpectra& in, int samples, double* const out[PhasorSpectra::kMaxSums]) {
  static const PhasorPath widest = phasorPaths().back();
  sumPhasors(in, samples, out, widest);
}

void sumPhasors(const PhasorSpectra& in, int samples, double* const out[PhasorSpectra::kMaxSums],
                PhasorPath path) {
  const int S = std::clamp(in.sums, 0, PhasorSpectra::kMaxSums);
  if (samples <= 0 || S == 0) return;
  for (int s = 0; s < S; ++s) std::fill(out[s], out[s] + samples, 0.0);
  const int nF = in.frequencies;
  if (nF <= 0) return;
  const TileSums sums = tileSumsOf(available(path) ? path : PhasorPath::vector128);
  const int blockLength = (samples + kBlocks - 1) / kBlocks;

  // The tile on a 64-byte boundary, so that the arrays (a whole number of lines apart)
  // are too.
  std::vector<double> storage(at(kArrays) + kLanes, 0.0);
  const auto misalignment = reinterpret_cast<std::uintptr_t>(storage.data()) % 64;
  double* const tile = storage.data() + (misalignment ? (64 - misalignment) / sizeof(double) : 0);
  auto put = [tile](int array, int m) -> double& {
    return tile[at(array) + static_cast<std::size_t>(m)];
  };
  for (int m0 = 0; m0 < nF; m0 += kTile) {
    const int width = std::min(kTile, nF - m0);
    // The last tile is filled up to a whole number of lanes with zero coefficients and a
    // phasor that stays 1; they add exact zeros.
    const int padded = (width + kLanes - 1) / kLanes * kLanes;
    for (int m = 0; m < padded; ++m) {
      const bool real = m < width;
      const cd step = real ? cd(in.stepRe[m0 + m], in.stepIm[m0 + m]) : cd(1);
      const cd blockStep = power(step, blockLength);
      cd start = 1;  // E^(jL) of block j
      for (int j = 0; j < kBlocks; ++j) {
        for (int s = 0; s < S; ++s) {
          const cd c = real ? cd(in.re[s][m0 + m], in.im[s][m0 + m]) * start : cd(0);
          put(coefficientArray(s, j), m) = c.real();
          put(coefficientArray(s, j) + 1, m) = c.imag();
        }
        start *= blockStep;
      }
      put(kRhoRe, m) = 1;
      put(kRhoIm, m) = 0;
      put(kStepRe, m) = step.real();
      put(kStepIm, m) = step.imag();
    }
    sums(S, tile, padded, blockLength, samples, out);
  }
}
