// The time-domain sums of the pulse stage and of the equalised ILD: for every time
// sample n, the sum over frequencies m of Re(c_m * E_m^n), for up to three spectra c
// sharing one step phasor E_m per frequency.
#pragma once

#include <vector>

struct PhasorSpectra {
  static constexpr int kMaxSums = 3;
  int sums = 0;                     // spectra in use, 1 to kMaxSums
  int frequencies = 0;              // entries of every array below
  const double* re[kMaxSums] = {};  // c_m of each spectrum, real and imaginary parts
  const double* im[kMaxSums] = {};
  const double* stepRe = nullptr;  // E_m, the phasor's step per time sample
  const double* stepIm = nullptr;
};

// out[s][n] = sum over m of Re(c_s,m * E_m^n) for n = 0 .. samples-1; every out[s] has
// room for samples values and is overwritten.
//
// Frequencies run innermost over structure-of-arrays storage, in eight interleaved
// partial sums that vector registers of two, four or eight lanes compute alike, and the
// phasor is advanced by one complex multiplication per sample. The
// samples are taken as a few consecutive blocks that share one phasor run: block j starts
// at sample j*L, and its start phasor E_m^(jL), raised by repeated squaring, is folded
// into the coefficients once per frequency. Frequencies are taken in tiles that stay in
// the cache for the whole run of samples. Each sample differs from the plain loop (one
// frequency at a time, E^n by n multiplications) only by the rounding of a reordered sum.
// The widest vectors the processor has are used; every width gives the same bits.
void sumPhasors(const PhasorSpectra& in, int samples, double* const out[PhasorSpectra::kMaxSums]);

// The vector widths, in lanes of doubles: 2 on every x86-64 processor, 4 with AVX2,
// 8 with AVX-512. A path the processor lacks is replaced by the 2-lane one.
enum class PhasorPath { vector128, vector256, vector512 };
std::vector<PhasorPath> phasorPaths();  // those this processor has, narrowest first
void sumPhasors(const PhasorSpectra& in, int samples, double* const out[PhasorSpectra::kMaxSums],
                PhasorPath path);
