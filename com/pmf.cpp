// Probability mass functions on a bin grid: symbol sums, Gaussians, linear convolutions
// whose support grows (nothing is cut or wrapped), and the level a tail probability
// is exceeded at.
#include <fftw3.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>

#include "comDetail.h"

namespace brevo::com::detail {

double Pmf::mean(double dy) const {
  double s = 0;
  for (std::size_t i = 0; i < p.size(); ++i)
    s += p[i] * static_cast<double>(lo + static_cast<long>(i));
  return s * dy;
}

double Pmf::rms(double dy) const {
  double s = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const double y = static_cast<double>(lo + static_cast<long>(i));
    s += p[i] * y * y;
  }
  return std::sqrt(s) * dy;
}

double Pmf::stddev(double dy) const {
  const double m = mean(dy), r = rms(dy);
  return std::sqrt(std::max(0.0, r * r - m * m));
}

std::mutex& fftwPlannerLock() {
  static std::mutex lock;
  return lock;
}

struct RealTransform::Parts {
  struct Free {
    void operator()(void* p) const { fftw_free(p); }
  };
  std::unique_ptr<double[], Free> x;
  std::unique_ptr<fftw_complex[], Free> X;
  fftw_plan fwd = nullptr, inv = nullptr;
};

RealTransform::RealTransform(std::size_t N) : n_(N), parts_(std::make_unique<Parts>()) {
  assert(N >= 2 && N % 2 == 0 && N <= static_cast<std::size_t>(std::numeric_limits<int>::max()) &&
         "RealTransform: an even length the planner takes");
  parts_->x.reset(fftw_alloc_real(N));
  parts_->X.reset(fftw_alloc_complex(N / 2 + 1));
  const std::lock_guard<std::mutex> hold(fftwPlannerLock());
  parts_->fwd =
      fftw_plan_dft_r2c_1d(static_cast<int>(N), parts_->x.get(), parts_->X.get(), FFTW_ESTIMATE);
  parts_->inv =
      fftw_plan_dft_c2r_1d(static_cast<int>(N), parts_->X.get(), parts_->x.get(), FFTW_ESTIMATE);
}

RealTransform::~RealTransform() {
  const std::lock_guard<std::mutex> hold(fftwPlannerLock());
  fftw_destroy_plan(parts_->fwd);
  fftw_destroy_plan(parts_->inv);
}

std::span<double> RealTransform::time() const { return {parts_->x.get(), n_}; }

// FFTW's complex type is laid out as std::complex<double>, as its manual allows.
std::span<cd> RealTransform::spectrum() const {
  return {reinterpret_cast<cd*>(parts_->X.get()), n_ / 2 + 1};
}

void RealTransform::forward() { fftw_execute(parts_->fwd); }
void RealTransform::inverse() { fftw_execute(parts_->inv); }

Pmf convolveAll(std::span<const Pmf* const> parts) {
  if (parts.empty()) return Pmf();
  std::size_t n = 1;
  long lo = 0;
  for (const Pmf* q : parts) {
    assert(q && !q->p.empty() && "convolveAll: every part holds at least one bin");
    n += q->p.size() - 1, lo += q->lo;
  }
  std::size_t N = 1;
  while (N < n) N *= 2;
  RealTransform t(N);
  const std::span<double> x = t.time();
  const std::span<cd> X = t.spectrum();
  std::vector<cd> product(X.size(), cd(1.0 / static_cast<double>(N), 0));
  for (const Pmf* q : parts) {
    std::fill(x.begin(), x.end(), 0.0);
    std::copy(q->p.begin(), q->p.end(), x.begin());
    t.forward();
    for (std::size_t k = 0; k < X.size(); ++k) {
      const cd a = X[k], b = product[k];
      product[k] =
          cd(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
    }
  }
  std::copy(product.begin(), product.end(), X.begin());
  t.inverse();
  Pmf r;
  r.lo = lo;
  r.p.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
  for (double& v : r.p) v = std::max(v, 0.0);
  return r;
}

Pmf convolve(const Pmf& a, const Pmf& b) {
  if (static_cast<double>(a.p.size()) * static_cast<double>(b.p.size()) > 1e8) {
    const Pmf* both[] = {&a, &b};
    return convolveAll(both);
  }
  Pmf r;
  r.lo = a.lo + b.lo;
  r.p.assign(a.p.size() + b.p.size() - 1, 0.0);
  const Pmf& small = a.p.size() < b.p.size() ? a : b;
  const Pmf& large = a.p.size() < b.p.size() ? b : a;
  for (std::size_t i = 0; i < small.p.size(); ++i) {
    const double w = small.p[i];
    if (w == 0) continue;
    double* out = r.p.data() + i;
    const double* in = large.p.data();
    for (std::size_t j = 0; j < large.p.size(); ++j) out[j] += w * in[j];
  }
  return r;
}

namespace {
// The L atoms of one sample, in bins.
void atoms(double h, int L, double dy, std::vector<long>& bins) {
  bins.resize(static_cast<std::size_t>(L));
  for (int l = 0; l < L; ++l)
    bins[static_cast<std::size_t>(l)] = std::lround(h * (2.0 * l / (L - 1) - 1) / dy);
}
}  // namespace

Pmf symbolsPmf(std::vector<double> samples, int L, double dy) {
  std::stable_sort(samples.begin(), samples.end(),
                   [](double x, double y) { return std::fabs(x) > std::fabs(y); });
  Pmf acc;
  std::vector<long> bins;
  const double w = 1.0 / L;
  for (double h : samples) {
    if (!(std::fabs(h) >= dy)) continue;
    atoms(h, L, dy, bins);
    const long lo = *std::min_element(bins.begin(), bins.end());
    const long hi = *std::max_element(bins.begin(), bins.end());
    Pmf r;
    r.lo = acc.lo + lo;
    r.p.assign(acc.p.size() + static_cast<std::size_t>(hi - lo), 0.0);
    for (long b : bins) {
      double* out = r.p.data() + (b - lo);
      for (std::size_t j = 0; j < acc.p.size(); ++j) out[j] += w * acc.p[j];
    }
    acc = std::move(r);
  }
  return acc;
}

double symbolsMeanSquare(std::span<const double> samples, int L, double dy) {
  std::vector<long> bins;
  double s = 0;
  for (double h : samples) {
    if (!(std::fabs(h) >= dy)) continue;
    atoms(h, L, dy, bins);
    double m = 0, q = 0;
    for (long b : bins)
      m += static_cast<double>(b), q += static_cast<double>(b) * static_cast<double>(b);
    m /= L, q /= L;
    s += q - m * m + m * m;  // the atoms are symmetric: the mean square of each is its variance
  }
  return s * dy * dy;
}

Pmf gaussianPmf(double sigma, double cut, double dy) {
  Pmf g;
  if (!(sigma > 0)) return g;
  const long k = std::max(1L, static_cast<long>(std::floor(cut / dy)));
  g.lo = -k;
  g.p.resize(static_cast<std::size_t>(2 * k + 1));
  double sum = 0;
  for (long i = -k; i <= k; ++i) {
    const double y = static_cast<double>(i) * dy / sigma;
    sum += g.p[static_cast<std::size_t>(i + k)] = std::exp(-0.5 * y * y);
  }
  for (double& x : g.p) x /= sum;
  return g;
}

double firstAbove(const Pmf& p, double dy, double der) {
  double c = 0;
  for (std::size_t i = 0; i < p.p.size(); ++i) {
    c += p.p[i];
    if (c > der) return static_cast<double>(p.lo + static_cast<long>(i)) * dy;
  }
  return static_cast<double>(p.lo + static_cast<long>(p.p.size()) - 1) * dy;
}

double lastAbove(const Pmf& p, double dy, double der) {
  double c = 0;
  for (std::size_t i = p.p.size(); i-- > 0;) {
    c += p.p[i];
    if (c > der) return static_cast<double>(p.lo + static_cast<long>(i)) * dy;
  }
  return static_cast<double>(p.lo) * dy;
}

void lowerTail(const Pmf& p, double dy, double floor, std::vector<double>& amplitude,
               std::vector<double>& probability) {
  amplitude.clear(), probability.clear();
  std::vector<double> cdf(p.p.size());
  double c = 0;
  for (std::size_t i = 0; i < p.p.size(); ++i) cdf[i] = c += p.p[i];
  const long top = p.lo + static_cast<long>(p.p.size()) - 1;
  auto at = [&](long b) {
    return b < p.lo ? 0.0 : b > top ? c : cdf[static_cast<std::size_t>(b - p.lo)];
  };
  amplitude.push_back(0), probability.push_back(at(0));
  for (long b = -1; b >= p.lo && at(b) >= floor; --b) {
    amplitude.push_back(-static_cast<double>(b) * dy);
    probability.push_back(at(b));
  }
}

double erfcInverse(double y) {
  // Newton on erfc from a rough start; erfc is smooth and monotonic.
  if (!(y > 0 && y < 2)) return std::nan("");
  double x = 0;
  if (y < 1) {
    const double t = std::sqrt(-std::log(y / 2));
    x = t - 0.5 * std::log(t) / t;  // asymptotic start, refined below
    if (!(x > 0)) x = 0.5;
  } else {
    x = -erfcInverse(2 - y);
    return x;
  }
  for (int i = 0; i < 60; ++i) {
    const double e = std::erfc(x) - y;
    const double d = -2 / std::sqrt(std::numbers::pi) * std::exp(-x * x);
    const double step = e / d;
    x -= step;
    if (std::fabs(step) < 1e-15 * std::max(1.0, std::fabs(x))) break;
  }
  return x;
}

}  // namespace brevo::com::detail
