// Sums over a uniform grid of frequencies at a uniform grid of times taken as one
// convolution: for every time sample n the sum over frequencies m of
// Re(c_m * exp(2*pi*j*(startTurns + turns*m)*n)), for one or more spectra c.
#pragma once

#include <span>
#include <vector>

struct ChirpSpectrum {
  std::span<const double> re, im;  // c_m, one entry per frequency
};

// out[s][n] for n = 0 .. samples-1, one vector per spectrum. `turns` is the phase, in
// whole turns, of one frequency step over one time step (df * dt), `startTurns` that of
// the first frequency (f0 * dt); any values are taken, not only the inverse of a whole
// number of samples.
//
// With m*n = (m^2 + n^2 - (n-m)^2) / 2 the sums become a convolution with the chirp
// exp(-j*pi*turns*k^2), done by fast transforms of a length of at least
// frequencies + samples - 1. Every chirp phase is reduced to under one turn exactly
// before its sine and cosine are taken, so the only roundings are those of the
// transforms: each sample is within a few units in the last place of the largest term
// times the square root of the number of terms, where stepping a phasor from sample to
// sample would let the phase error grow with n.
std::vector<std::vector<double>> chirpSums(std::span<const ChirpSpectrum> spectra, double turns,
                                           int samples, double startTurns = 0);
