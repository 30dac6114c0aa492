// The sums as a chirp convolution, by the transforms of the FFTW library.
#include "chirpSums.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <mutex>
#include <numbers>

namespace {

using cd = std::complex<double>;

struct FftwFree {
  void operator()(fftw_complex* p) const { fftw_free(p); }
};
using Buffer = std::unique_ptr<fftw_complex[], FftwFree>;

struct PlanDestroy {
  void operator()(fftw_plan_s* p) const;
};
using Plan = std::unique_ptr<fftw_plan_s, PlanDestroy>;

// FFTW's planner is not safe for threads running at once (runs may run in threads);
// executing a plan is.
std::mutex& plannerLock() {
  static std::mutex lock;
  return lock;
}

void PlanDestroy::operator()(fftw_plan_s* p) const {
  const std::lock_guard<std::mutex> hold(plannerLock());
  fftw_destroy_plan(p);
}

Plan plan(int length, fftw_complex* data, int sign) {
  const std::lock_guard<std::mutex> hold(plannerLock());
  return Plan(fftw_plan_dft_1d(length, data, data, sign, FFTW_ESTIMATE));
}

// The smallest length of at least n whose only prime factors are 2, 3, 5 and 7, the
// lengths the transforms take fastest.
int transformLength(long n) {
  long best = 1;
  while (best < n) best *= 2;
  for (long p7 = 1; p7 < best; p7 *= 7)
    for (long p5 = p7; p5 < best; p5 *= 5)
      for (long p3 = p5; p3 < best; p3 *= 3) {
        long l = p3;
        while (l < n) l *= 2;
        if (l < best) best = l;
      }
  return static_cast<int>(best);
}

// exp(2*pi*j*a*b): the product is split into its rounded value and its exact error; the
// whole turns of the rounded value go exactly, leaving a phase under one turn with one
// rounding.
cd turn(double a, double b) {
  const double p = a * b;
  const double error = std::fma(a, b, -p);
  const double angle = 2 * std::numbers::pi * ((p - std::nearbyint(p)) + error);
  return {std::cos(angle), std::sin(angle)};
}

// exp(j*pi*turns*k^2) for k = 0 .. count-1 (k^2 is exact below 2^53).
std::vector<cd> chirp(double turns, int count) {
  std::vector<cd> w(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k)
    w[static_cast<std::size_t>(k)] = turn(0.5 * turns, static_cast<double>(k) * k);
  return w;
}

// The buffers and plans of one transform length.
struct Transforms {
  int length = 0;
  Buffer kernel, work;
  Plan forwardKernel, forward, backward;
  explicit Transforms(int L)
      : length(L),
        kernel(fftw_alloc_complex(static_cast<std::size_t>(L))),
        work(fftw_alloc_complex(static_cast<std::size_t>(L))),
        forwardKernel(plan(L, kernel.get(), FFTW_FORWARD)),
        forward(plan(L, work.get(), FFTW_FORWARD)),
        backward(plan(L, work.get(), FFTW_BACKWARD)) {}
};

// Each thread keeps the transforms of the last few lengths it used (a run takes two:
// the short pulse's and the period's), so a batch of runs on one grid plans once.
Transforms& transformsOf(int L) {
  constexpr std::size_t kKept = 4;
  thread_local std::vector<std::unique_ptr<Transforms>> kept;
  for (std::size_t i = 0; i < kept.size(); ++i)
    if (kept[i]->length == L) {
      std::rotate(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(i),
                  kept.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return *kept.front();
    }
  if (kept.size() == kKept) kept.pop_back();
  kept.insert(kept.begin(), std::make_unique<Transforms>(L));
  return *kept.front();
}

cd at(const fftw_complex* b, int i) { return cd(b[i][0], b[i][1]); }
void put(fftw_complex* b, int i, cd v) { b[i][0] = v.real(), b[i][1] = v.imag(); }

}  // namespace

std::vector<std::vector<double>> chirpSums(std::span<const ChirpSpectrum> spectra, double turns,
                                           int samples, double startTurns) {
  std::vector<std::vector<double>> out(spectra.size(),
                                       std::vector<double>(samples > 0 ? samples : 0, 0.0));
  if (spectra.empty() || samples <= 0 || spectra[0].re.empty()) return out;
  const int M = static_cast<int>(spectra[0].re.size()), N = samples;
  const int L = transformLength(static_cast<long>(M) + N - 1);
  const std::vector<cd> w = chirp(turns, std::max(M, N));

  // The kernel exp(-j*pi*turns*k^2) for k = -(M-1) .. N-1, wrapped, transformed once;
  // the 1/L of the inverse transform goes into it.
  Transforms& t = transformsOf(L);
  fftw_complex* const kernel = t.kernel.get();
  fftw_complex* const work = t.work.get();
  const double scale = 1.0 / L;
  for (int i = 0; i < L; ++i) put(kernel, i, 0);
  for (int k = 0; k < N; ++k) put(kernel, k, std::conj(w[k]) * scale);
  for (int k = 1; k < M; ++k) put(kernel, L - k, std::conj(w[k]) * scale);
  fftw_execute(t.forwardKernel.get());
  std::vector<cd> start;  // with a first frequency above 0: w_n * exp(2*pi*j*startTurns*n)

  for (std::size_t s = 0; s < spectra.size(); ++s) {
    const ChirpSpectrum& c = spectra[s];
    for (int m = 0; m < M; ++m) put(work, m, cd(c.re[m], c.im[m]) * w[m]);
    for (int i = M; i < L; ++i) put(work, i, 0);
    fftw_execute(t.forward.get());
    for (int i = 0; i < L; ++i) put(work, i, at(work, i) * at(kernel, i));
    fftw_execute(t.backward.get());
    double* o = out[s].data();
    if (startTurns == 0) {
      for (int n = 0; n < N; ++n) o[n] = std::real(w[n] * at(work, n));
    } else {
      if (start.empty())
        for (int n = 0; n < N; ++n) start.push_back(w[n] * turn(startTurns, n));
      for (int n = 0; n < N; ++n) o[n] = std::real(start[n] * at(work, n));
    }
  }
  return out;
}
