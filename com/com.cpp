// The COM computation: channels onto the transform grid, package cases, pulse responses,
// the equaliser search and the final margin from the probability mass functions.
//
// The search leans on three linearities. The CTLE is affine in its gains, so every CTLE'd
// pulse is a combination of two (one stage) or four (two stages) basis pulses. The Tx FFE
// is linear in its taps, so the energy of the baud-rate samples at one phase is a
// quadratic form with a Toeplitz matrix (the autocorrelation of that phase's samples),
// and so is the jitter energy. The averaged crosstalk of the figure of merit is linear in
// |H_ffe| and in the squared CTLE gains, so four sums per Tx setting give it for every
// CTLE setting.

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <type_traits>

#include "candidates.h"
#include "comDetail.h"

namespace brevo::com {

using namespace detail;

namespace {

constexpr double kPi = std::numbers::pi;
const cd kJ(0, 1);

std::string format(const char* fmt, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, fmt, args...);
  return buffer;
}

// ---------------------------------------------------------------- the transform

// The real impulse of a one-sided spectrum X[0..N/2] (DC and Nyquist taken real), scaled
// so that its samples sum to X[0].
std::vector<double> inverseReal(const std::vector<cd>& X) {
  const std::size_t half = X.size() - 1, N = 2 * half;
  RealTransform t(N);
  const std::span<cd> in = t.spectrum();
  for (std::size_t k = 0; k <= half; ++k)
    in[k] = cd(X[k].real(), (k == 0 || k == half) ? 0.0 : X[k].imag());
  t.inverse();
  std::vector<double> h(t.time().begin(), t.time().end());
  for (double& v : h) v /= static_cast<double>(N);
  return h;
}

// ---------------------------------------------------------------- IIR (bilinear CTLE)

// y = H(x) for H(s) = (n0 + n1 s)/(d0 + d1 s + d2 s^2) by the bilinear transform with
// step T, output as long as the input.
std::vector<double> bilinear(const std::vector<double>& x, double T, double n0, double n1,
                             double d0, double d1, double d2) {
  const double K = 2 / T;
  std::vector<double> y(x.size());
  if (d2 == 0) {
    const double b0 = n0 + n1 * K, b1 = n0 - n1 * K, a0 = d0 + d1 * K, a1 = d0 - d1 * K;
    double xm1 = 0, ym1 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double v = (b0 * x[i] + b1 * xm1 - a1 * ym1) / a0;
      xm1 = x[i], ym1 = y[i] = v;
    }
    return y;
  }
  const double b0 = n0 + n1 * K, b1 = 2 * n0, b2 = n0 - n1 * K;
  const double a0 = d0 + d1 * K + d2 * K * K, a1 = 2 * d0 - 2 * d2 * K * K,
               a2 = d0 - d1 * K + d2 * K * K;
  double xm1 = 0, xm2 = 0, ym1 = 0, ym2 = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double v = (b0 * x[i] + b1 * xm1 + b2 * xm2 - a1 * ym1 - a2 * ym2) / a0;
    xm2 = xm1, xm1 = x[i], ym2 = ym1, ym1 = y[i] = v;
  }
  return y;
}

// ---------------------------------------------------------------- the setup

struct Ctl {
  double gdc, gdc2, g1, g2;
  int i1, i2;  // grid indices
};

struct TxCand {
  std::vector<double> c;  // K coefficients, offsets first..last
  std::vector<int> idx;   // grid index per column
};

struct ChannelGrid {
  ChannelKind kind;
  std::vector<cd> s11, s12, s21, s22;  // on the thru's points
};

// One channel of one package case, ready for the search.
struct CaseChannel {
  ChannelKind kind;
  double A = 0;
  std::vector<cd> vtf;      // on the file points: terminated, receiver filter (and Tx edge)
  std::vector<double> raw;  // pulse without CTLE, volts
  std::vector<std::vector<double>> basis;  // CTLE basis pulses, volts
};

struct Engine {
  explicit Engine(const Params& params) : p(params) {}
  const Params& p;
  bool ref = true;
  int M = 32, L = 2, K = 1, first = 0, D = 0, nBasis = 2;
  double Tb = 0, dt = 0, sx2 = 1, txNoise = 0, aS = 1;
  std::vector<double> f;  // file points
  double dfFile = 0;
  std::size_t nSum = 0;  // points of the averaged crosstalk sum
  int half = 0;          // uniform grid 0..half
  double df = 0;
  std::vector<double> uf;
  std::vector<ChannelGrid> chans;
  std::vector<TxCand> tx;
  std::vector<Ctl> ctl;
  std::vector<std::string> warnings, log;
  int span = 0;                    // DFE span in UI (fixed or floating)
  std::vector<double> bmax, bmin;  // per tap 1..span
  double Q = 0;
  // A receiver FFE solved by MMSE: its taps, the cursor tap's index, the lags of the
  // phase autocorrelations it needs (taps plus Tx FFE span), and the thermal noise's
  // points with their weights (receiver power times step, GHz, times cos(2 pi f l Tb)).
  // txL1: the largest sum of the Tx taps' magnitudes over the grid, which bounds |C(f)|;
  // acLo, acHi: the range of each lag of the taps' autocorrelation over the grid.
  bool mmse = false;
  int Nw = 0, dw = 0, Dm = 0;
  double txL1 = 1;
  std::vector<double> acLo, acHi;
  std::vector<double> thermF, thermCos;  // thermCos: Dm rows of thermF.size()
  // For the bounds over boxes of Tx settings: the grid's columns (values ascending) and
  // the tap each sets; the folded baud-rate band 0..pi cut into nBins equal bins, with
  // the least and the largest cos(d theta) over each (nBins rows of K), and each thermal
  // point's bin.
  std::vector<std::vector<double>> cols;
  std::vector<int> colTap;
  int nBins = 0;
  std::vector<double> cosLo, cosHi;
  std::vector<int> thermBin;
};

// The bin of a frequency f (Hz) in the folded band: 2 pi f Tb taken modulo 2 pi onto 0..pi.
int foldedBin(const Engine& e, double f) {
  double x = f * e.Tb;
  x -= std::floor(x);
  if (x > 0.5) x = 1 - x;
  return std::min(e.nBins - 1, static_cast<int>(2 * x * e.nBins));
}

// Basis coefficients of a CTLE setting, matching the basis order.
std::array<double, 4> basisCoef(const Engine& e, const Ctl& g) {
  if (e.nBasis == 2) return {g.g1, 1, 0, 0};
  return {g.g1 * g.g2, g.g1, g.g2, 1};
}
// A channel's pulse through the CTLE setting of basis coefficients coef.
std::vector<double> ctled(const Engine& e, const CaseChannel& ch,
                          const std::array<double, 4>& coef) {
  std::vector<double> q(ch.raw.size(), 0.0);
  for (int b = 0; b < e.nBasis; ++b)
    for (std::size_t i = 0; i < q.size(); ++i)
      q[i] += coef[static_cast<std::size_t>(b)] * ch.basis[static_cast<std::size_t>(b)][i];
  return q;
}
// Coefficients of the squared-magnitude basis (|numerator|^2 terms).
std::array<double, 4> powerCoef(const Engine& e, const Ctl& g) {
  if (e.nBasis == 2) return {g.g1 * g.g1, 1, 0, 0};
  return {g.g1 * g.g1 * g.g2 * g.g2, g.g1 * g.g1, g.g2 * g.g2, 1};
}

// The full 2-port of channel k in one case.
TwoPort packaged(const Engine& e, const ChannelGrid& ch, std::size_t i, const PackageCase& pc) {
  const Params& p = e.p;
  const double fr = e.f[i];
  auto side = [&](const PackageSide& s, const std::vector<double>& len) {
    TwoPort t = identity();
    for (std::size_t k = 0; k < s.Cd.size(); ++k) {
      t = cascade(t, shuntC(fr, s.Cd[k], p.R0));
      if (k < s.Ls.size() && s.Ls[k] != 0) t = cascade(t, seriesL(fr, s.Ls[k], p.R0));
    }
    if (s.Cb != 0) t = cascade(t, shuntC(fr, s.Cb, p.R0));
    for (std::size_t k = 0; k < len.size(); ++k) {
      const double zc = k < p.Zc.size() ? p.Zc[k] : (p.Zc.empty() ? 2 * p.R0 : p.Zc.back());
      t = cascade(t, line(fr, len[k], zc, p.R0, p.gamma0, p.a1, p.a2, p.tau));
    }
    if (s.Cp != 0) t = cascade(t, shuntC(fr, s.Cp, p.R0));
    return t;
  };
  auto mirrored = [](TwoPort t) { return TwoPort{t.s22, t.s21, t.s12, t.s11}; };
  const std::vector<double>& txLen = ch.kind == ChannelKind::thru ? pc.tx
                                     : ch.kind == ChannelKind::next
                                         ? (pc.next.empty() ? pc.tx : pc.next)
                                         : (pc.fext.empty() ? pc.tx : pc.fext);
  const std::vector<double>& rxLen = pc.rx.empty() ? pc.tx : pc.rx;
  TwoPort t = side(p.pkgTx, txLen);
  TwoPort board = identity();
  if (p.includePcb) {
    board = cascade(shuntC(fr, p.C0, p.R0), cascade(line(fr, p.zbp, p.boardZc, p.R0, p.boardGamma0,
                                                         p.boardA1, p.boardA2, p.boardTau),
                                                    shuntC(fr, p.C1, p.R0)));
    t = cascade(t, board);
  }
  t = cascade(t, TwoPort{p.kappa1 * ch.s11[i], ch.s12[i], ch.s21[i], p.kappa2 * ch.s22[i]});
  if (p.includePcb) t = cascade(t, mirrored(board));
  return cascade(t, mirrored(side(p.pkgRx, rxLen)));
}

cd receiver(const Engine& e, double f) {
  const Params& p = e.p;
  cd h = rxFilter(f, p.fb, p.fr);
  if (p.raisedCosine)
    h *= raisedCosine(f, p.rcStart > 0 ? p.rcStart : p.fb / 2, p.rcEnd > 0 ? p.rcEnd : p.fr * p.fb);
  return h;
}

// The channel's pulses for one case, or why the response cannot be formed.
brevo::Result<CaseChannel> buildChannel(const Engine& e, const ChannelGrid& ch,
                                        const PackageCase& pc) {
  const Params& p = e.p;
  brevo::Result<CaseChannel> built;
  CaseChannel& out = built.value;
  out.kind = ch.kind;
  out.A = ch.kind == ChannelKind::thru ? p.Av : ch.kind == ChannelKind::next ? p.Ane : p.Afe;
  const std::size_t n = e.f.size();
  out.vtf.resize(n);
  std::vector<cd> h21(n);
  for (std::size_t i = 0; i < n; ++i) {
    h21[i] = terminated(packaged(e, ch, i, pc), p.RdTx, p.RdRx, p.R0);
    cd v = h21[i] * receiver(e, e.f[i]);
    if ((e.ref && p.forceTr) || (!e.ref && p.Tr > 0)) v *= riseTime(e.f[i], p.Tr);
    if (e.ref && p.forceTr) v *= std::polar(1.0, -2 * kPi * e.f[i] * 3 * p.Tr);
    out.vtf[i] = v;
  }
  auto resampled = resample(e.f, e.ref ? out.vtf : h21, e.uf, e.uf.back());
  if (!resampled) return brevo::failure<CaseChannel>(resampled.message);
  std::vector<cd> X = std::move(resampled.value);
  if (!e.ref)
    for (std::size_t k = 0; k < X.size(); ++k) {
      X[k] *= receiver(e, e.uf[k]);
      if (p.Tr > 0) X[k] *= riseTime(e.uf[k], p.Tr);
    }
  std::vector<double> imp = inverseReal(X);
  // Truncation after the last sample above the threshold.
  double peak = 0;
  for (double v : imp) peak = std::max(peak, std::fabs(v));
  std::size_t Lq = imp.size();
  if (p.impulseTruncation > 0) {
    while (Lq > 1 && std::fabs(imp[Lq - 1]) <= p.impulseTruncation * peak) --Lq;
  }
  // One UI more, so that the last impulse samples still make whole pulses.
  Lq = std::min(imp.size(), Lq + static_cast<std::size_t>(e.M));
  auto toPulse = [&](const std::vector<double>& im) {
    std::vector<double> q(Lq);
    double run = 0;
    for (std::size_t i = 0; i < Lq; ++i) {
      run += im[i];
      if (i >= static_cast<std::size_t>(e.M)) run -= im[i - static_cast<std::size_t>(e.M)];
      q[i] = out.A * run;
    }
    return q;
  };
  imp.resize(Lq);
  out.raw = toPulse(imp);
  const double wz = 2 * kPi * p.fz, wp1 = 2 * kPi * p.fp1, wp2 = p.fp2 > 0 ? 2 * kPi * p.fp2 : 0;
  const double wlf = 2 * kPi * p.fLF;
  out.basis.clear();
  if (e.ref) {
    const double d1 = 1 / wp1 + (wp2 > 0 ? 1 / wp2 : 0), d2 = wp2 > 0 ? 1 / (wp1 * wp2) : 0;
    const std::vector<double> a1 = bilinear(out.raw, e.dt, 1, 0, 1, d1, d2);
    const std::vector<double> a0 = bilinear(out.raw, e.dt, 0, 1 / wz, 1, d1, d2);
    if (e.nBasis == 2) {
      out.basis = {a1, a0};
    } else {
      out.basis = {
          bilinear(a1, e.dt, 1, 0, 1, 1 / wlf, 0), bilinear(a1, e.dt, 0, 1 / wlf, 1, 1 / wlf, 0),
          bilinear(a0, e.dt, 1, 0, 1, 1 / wlf, 0), bilinear(a0, e.dt, 0, 1 / wlf, 1, 1 / wlf, 0)};
    }
  } else {
    for (int b = 0; b < e.nBasis; ++b) {
      std::vector<cd> Y(X.size());
      for (std::size_t k = 0; k < X.size(); ++k) {
        const double fr = e.uf[k];
        cd den = (1.0 + kJ * (fr / p.fp1)) * (p.fp2 > 0 ? 1.0 + kJ * (fr / p.fp2) : cd(1));
        cd num = b == 0 ? cd(1) : kJ * (fr / p.fz);
        if (e.nBasis == 4) {
          num = ((b < 2) ? cd(1) : kJ * (fr / p.fz)) * ((b % 2 == 0) ? cd(1) : kJ * (fr / p.fLF));
          den *= 1.0 + kJ * (fr / p.fLF);
        }
        Y[k] = X[k] * num / den;
      }
      std::vector<double> im = inverseReal(Y);
      im.resize(Lq);
      out.basis.push_back(toPulse(im));
    }
  }
  return built;
}

// ---------------------------------------------------------------- per CTLE setting

// A pulse held with zero guards on both sides, so shifted reads need no checks.
struct Guarded {
  std::vector<double> v;
  long off = 0;  // v[off + t] is sample t
  long len = 0;
  double at(long t) const { return v[static_cast<std::size_t>(off + t)]; }
};

Guarded guarded(const std::vector<double>& q, long guard) {
  Guarded g;
  g.off = guard;
  g.len = static_cast<long>(q.size());
  g.v.assign(q.size() + 2 * static_cast<std::size_t>(guard), 0.0);
  std::copy(q.begin(), q.end(), g.v.begin() + guard);
  return g;
}

// R[phase][d] = sum over t of phase `phase` of x(t) x(t + d*M), d = 0..D.
std::vector<double> phaseGram(const Guarded& x, long from, long to, int M, int D) {
  std::vector<double> R(static_cast<std::size_t>(M * (D + 1)), 0.0);
  for (long t = from; t < to; ++t) {
    const long ph = ((t % M) + M) % M;
    const double a = x.at(t);
    if (a == 0) continue;
    for (int d = 0; d <= D; ++d)
      R[static_cast<std::size_t>(ph * (D + 1) + d)] += a * x.at(t + d * M);
  }
  return R;
}

struct MmseBound {
  long from = 0;
  std::vector<double> B;    // K x K per point from `from` on; empty rows (0) where N is singular
  std::vector<char> open;   // per point: no bound (N singular)
  std::vector<double> any;  // per point: a bound for every Tx setting at once (inf: none)
  std::size_t points() const { return open.size(); }
};

struct CtlData {
  Guarded q;               // victim pulse with this CTLE
  Guarded dq;              // its +-1 sample difference times M/2
  std::vector<double> qd;  // q by phase: row p holds q(p + uM), u from -qdPad
  long qdLen = 0, qdPad = 0;
  std::vector<double> R, RJ;  // phase Grams
  double qmax = 0, sN2 = 0;
  long Pc = 0;                           // h' coordinates of the expected peak
  std::vector<double> omax;              // per UI away from the peak window, per tap: bound of |q|
  std::array<double, 4> pc{};            // power coefficients
  double xtNext = 0;                     // crosstalk not depending on the Tx taps
  std::vector<std::vector<double>> xtR;  // text mode: FEXT Grams per aggressor
  // Receiver FFE: phase autocorrelations (lags 0..Dm) of the victim and of its jitter
  // difference; thermal and NEXT noise lags 0..Dm-1 (V^2); per FEXT aggressor its phase
  // autocorrelations, and the lags 0..Dm-1 of a floor of the FEXT at every phase it can
  // take, summed over the aggressors.
  std::vector<double> Rm, RJm, thermLag, nextLag, fextLeast;
  std::vector<std::vector<double>> fextRm;
  // For the bounds over boxes of Tx settings, lags 0..Dm-1 over sigma_X^2: per phase the
  // victim's autocorrelation plus its jitter's (sig, M rows); the thermal and NEXT noise
  // split by the bins of the folded band its power lies in (noiseBin, nBins rows), and
  // the Tx noise likewise per phase (txBin, M x nBins rows); per FEXT aggressor the
  // phases where it can be largest over the grid and a floor below all of them.
  std::vector<double> sig, noiseBin, txBin;
  std::vector<int> nextPhase;  // per NEXT aggressor, its largest-energy phase
  std::vector<std::vector<char>> fextMarks;
  std::vector<std::vector<double>> fextFloor;
  MmseBound bound;  // the search's bounds, when made
};

struct Eval {
  bool ok = false;
  double fom = -std::numeric_limits<double>::infinity();
  long ts = 0;
  double h0 = 0, isi2 = 0, j2 = 0, xt2 = 0, n2 = 0, tx2 = 0;
  std::vector<double> w, b;  // receiver FFE (its cursor sample 1) and DFE, when solved
};

struct CaseData {
  std::vector<CaseChannel> ch;
  long Pu = 0;  // h' coordinates of the unequalised peak
  long guard = 0;
  // Averaged crosstalk (reference): per Tx candidate four sums, and per basis the NEXT sums.
  std::vector<std::array<double, 4>> E;
  std::array<double, 4> nextSum{};
  std::vector<std::array<double, 4>> Wf;  // per file point up to nSum: FEXT weights per basis
  double xtScale = 0;
  // The transform that splits baud-rate sequences by the bins of the folded band: fftN
  // points (at least a phase's samples plus Dm - 1, so that its mean of the power times
  // cos(theta l) is lag l exactly), the bin of each of its points 0..fftN/2 and their
  // cos(theta_k l), Dm to a point.
  int fftN = 0;
  std::vector<int> binN;
  std::vector<double> cosN;
  std::shared_ptr<std::remove_pointer_t<fftw_plan>> plan;  // real to complex, run on other arrays
  // The phase Grams (lags 0..Dm) of each channel's pulse are quadratic in the CTLE's basis
  // coefficients: per channel and pair of basis pulses a <= b, the Gram of a with b plus
  // that of b with a (once when a = b), M x (Dm + 1) values; crossJ likewise for the
  // victim's +-1 sample difference (times M/2), whose sample -1 has phase M - 1.
  int pairs = 0;
  std::vector<double> cross, crossJ;
};

// The cross Grams of one channel (x: its basis pulses) or of their differences.
void crossGrams(const Engine& e, const std::vector<std::vector<double>>& x, bool difference,
                double* out) {
  const int M = e.M, D = e.Dm, nb = static_cast<int>(x.size());
  const std::size_t per = static_cast<std::size_t>(M * (D + 1));
  const long len = static_cast<long>(x[0].size());
  std::vector<std::vector<double>> y;
  long first = 0;
  if (difference) {
    first = -1;
    for (const auto& v : x) {
      std::vector<double> d(static_cast<std::size_t>(len + 2));
      auto at = [&](long t) { return t >= 0 && t < len ? v[static_cast<std::size_t>(t)] : 0.0; };
      for (long t = -1; t <= len; ++t)
        d[static_cast<std::size_t>(t + 1)] = (at(t + 1) - at(t - 1)) * M / 2;
      y.push_back(std::move(d));
    }
  }
  const std::vector<std::vector<double>>& z = difference ? y : x;
  const long n = static_cast<long>(z[0].size());
  int pair = 0;
  for (int a = 0; a < nb; ++a)
    for (int b = a; b < nb; ++b, ++pair) {
      double* R = out + static_cast<std::size_t>(pair) * per;
      std::fill(R, R + per, 0.0);
      const double* xa = z[static_cast<std::size_t>(a)].data();
      const double* xb = z[static_cast<std::size_t>(b)].data();
      for (long i = 0; i < n; ++i) {
        const long ph = (((i + first) % M) + M) % M;
        double* r = R + ph * (D + 1);
        for (int d = 0; d <= D && i + d * M < n; ++d) {
          const long j = i + d * M;
          r[d] += a == b ? xa[i] * xa[j] : xa[i] * xb[j] + xb[i] * xa[j];
        }
      }
    }
}

// A channel's phase Grams (lags 0..Dm) for the CTLE's basis coefficients, from its cross Grams.
std::vector<double> gramOf(const Engine& e, const CaseData& c, const double* cross,
                           const std::array<double, 4>& coef) {
  const std::size_t per = static_cast<std::size_t>(e.M * (e.Dm + 1));
  std::vector<double> R(per, 0.0);
  int pair = 0;
  for (int a = 0; a < e.nBasis; ++a)
    for (int b = a; b < e.nBasis; ++b, ++pair) {
      const double w = coef[static_cast<std::size_t>(a)] * coef[static_cast<std::size_t>(b)];
      const double* x = cross + static_cast<std::size_t>(pair) * per;
      for (std::size_t i = 0; i < per; ++i) R[i] += w * x[i];
    }
  (void)c;
  return R;
}

// Arrays for the case's transform, aligned as its plan wants them.
struct FftArrays {
  std::unique_ptr<double, decltype(&fftw_free)> in;
  std::unique_ptr<fftw_complex, decltype(&fftw_free)> out;
  explicit FftArrays(int N)
      : in(fftw_alloc_real(static_cast<std::size_t>(N)), &fftw_free),
        out(fftw_alloc_complex(static_cast<std::size_t>(N / 2 + 1)), &fftw_free) {}
};

// Lags 0..Dm-1 of a floor of the baud-rate autocorrelations of x at the phases marked: the
// autocorrelation of the pointwise least of those phases' power spectra on the case's
// transform. A form g'Tg with Dm taps is exactly the mean of the spectrum times |G|^2
// over its points, so the floor's form is below every marked phase's.
template <class Fill>
std::vector<double> leastPhaseLags(const Engine& e, const CaseData& c, Fill fill,
                                   const std::vector<char>& marked, FftArrays& a) {
  const int N = c.fftN, n = e.Dm;
  std::vector<double> least(static_cast<std::size_t>(N / 2 + 1),
                            std::numeric_limits<double>::infinity());
  double* in = a.in.get();
  fftw_complex* X = a.out.get();
  for (int ph = 0; ph < e.M; ++ph) {
    if (!marked[static_cast<std::size_t>(ph)]) continue;
    std::fill(in, in + N, 0.0);
    fill(ph, in);
    fftw_execute_dft_r2c(c.plan.get(), in, X);
    for (int k = 0; k <= N / 2; ++k)
      least[static_cast<std::size_t>(k)] =
          std::min(least[static_cast<std::size_t>(k)], X[k][0] * X[k][0] + X[k][1] * X[k][1]);
  }
  std::vector<double> r(static_cast<std::size_t>(n), 0.0);
  for (int k = 0; k <= N / 2; ++k) {
    const double w = ((k == 0 || k == N / 2) ? 1.0 : 2.0) * least[static_cast<std::size_t>(k)] / N;
    const double* cs = &c.cosN[static_cast<std::size_t>(k) * static_cast<std::size_t>(n)];
    for (int l = 0; l < n; ++l) r[static_cast<std::size_t>(l)] += w * cs[l];
  }
  return r;
}

// Adds scale times the lags 0..Dm-1 of the baud-rate samples x[ph + u M], bin by bin
// (rows of Dm in out): the share of the power spectrum of the case's transform that lies
// in each bin. The rows sum to the lags.
template <class Fill>
void binnedLags(const Engine& e, const CaseData& c, Fill fill, int ph, double scale, double* out,
                FftArrays& a) {
  const int N = c.fftN, n = e.Dm;
  double* in = a.in.get();
  fftw_complex* X = a.out.get();
  std::fill(in, in + N, 0.0);
  fill(ph, in);
  fftw_execute_dft_r2c(c.plan.get(), in, X);
  for (int k = 0; k <= N / 2; ++k) {
    const double w =
        scale * ((k == 0 || k == N / 2) ? 1.0 : 2.0) * (X[k][0] * X[k][0] + X[k][1] * X[k][1]) / N;
    double* o = out + static_cast<std::size_t>(c.binN[static_cast<std::size_t>(k)]) *
                          static_cast<std::size_t>(n);
    const double* cs = &c.cosN[static_cast<std::size_t>(k) * static_cast<std::size_t>(n)];
    for (int l = 0; l < n; ++l) o[l] += w * cs[l];
  }
}

double ctlePower(const Engine& e, double f, const Ctl& g) {
  const cd h = ctle(f, e.p, g.g1, g.g2);
  return std::norm(h);
}

// The phases at which an aggressor (phase Grams R, lags 0..Dm) can be largest for some
// Tx setting of the grid or of a box of it. Its energy at a phase is linear in the taps'
// autocorrelation, whose lags stay within acLo..acHi; a phase is left out when another's
// energy is larger for every autocorrelation in that range, by more than rounding. With
// `among`, only the phases marked there are weighed (the others are left out).
std::vector<char> widestPhases(const Engine& e, const std::vector<double>& R, const double* acLo,
                               const double* acHi, const std::vector<char>* among = nullptr) {
  const int M = e.M, stride = e.Dm + 1;
  std::vector<char> out(static_cast<std::size_t>(M), 1);
  if (among) out = *among;
  for (int a = 0; a < M; ++a)
    for (int b = 0; b < M && out[static_cast<std::size_t>(a)]; ++b) {
      if (b == a || (among && !(*among)[static_cast<std::size_t>(b)])) continue;
      // The least over the box of E_b - E_a.
      double lo = 0, size = 0;
      for (int d = 0; d <= e.D; ++d) {
        const double k = (d == 0 ? 1 : 2) * (R[static_cast<std::size_t>(b * stride + d)] -
                                             R[static_cast<std::size_t>(a * stride + d)]);
        lo += std::min(k * acLo[d], k * acHi[d]);
        size += std::fabs(R[static_cast<std::size_t>(b * stride + d)]) +
                std::fabs(R[static_cast<std::size_t>(a * stride + d)]);
      }
      if (lo > 1e-9 * size) out[static_cast<std::size_t>(a)] = 0;
    }
  return out;
}

void prepareCtl(const Engine& e, const CaseData& cd_, const Ctl& g, CtlData& out) {
  const CaseChannel& v = cd_.ch[0];
  const auto coef = basisCoef(e, g);
  const std::vector<double> q = ctled(e, v, coef);
  const long Lq = static_cast<long>(q.size());
  out.q = guarded(q, cd_.guard);
  std::vector<double> dq(q.size() + 2);
  for (long t = -1; t <= Lq; ++t)
    dq[static_cast<std::size_t>(t + 1)] = (out.q.at(t + 1) - out.q.at(t - 1)) * e.M / 2;
  out.dq = guarded(dq, cd_.guard);
  out.dq.off += 1;  // sample -1 sits at index 0 of the copy
  if (!e.mmse) out.R = phaseGram(out.q, 0, Lq, e.M, e.D);
  out.qdPad = static_cast<long>(e.K + 30 + e.Nw);
  out.qdLen = (Lq + e.M - 1) / e.M + 2 * out.qdPad + e.span + 8;
  out.qd.assign(static_cast<std::size_t>(e.M) * static_cast<std::size_t>(out.qdLen), 0.0);
  for (long t = 0; t < Lq; ++t)
    out.qd[static_cast<std::size_t>((t % e.M) * out.qdLen + out.qdPad + t / e.M)] = out.q.at(t);
  if (!e.mmse) out.RJ = phaseGram(out.dq, -1, Lq + 1, e.M, e.D);
  if (e.mmse) {
    out.Rm = gramOf(e, cd_, cd_.cross.data(), coef);
    out.RJm = gramOf(e, cd_, cd_.crossJ.data(), coef);
  }
  long pk = 0;
  out.qmax = 0;
  double best = -std::numeric_limits<double>::infinity();
  // The peak of this CTLE's pulse within the reference window (cursor tap's frame).
  const long off0 = static_cast<long>(-e.first) * e.M;
  const long wlo = std::max(0L, cd_.Pu - off0 - 20L * e.M),
             whi = std::min(Lq - 1, cd_.Pu - off0 + 20L * e.M);
  for (long t = wlo; t <= whi; ++t)
    if (out.q.at(t) > best) best = out.q.at(t), pk = t;
  for (long t = 0; t < Lq; ++t) out.qmax = std::max(out.qmax, std::fabs(out.q.at(t)));
  out.Pc = pk + off0;
  // Bounds of |q(s - jM)| over each UI of the reference window outside +-2 UI of Pc:
  // in one UI only one tap meets the main lobe, so the sum over taps stays low.
  out.omax.clear();
  const long rlo = cd_.Pu - 20L * e.M, rhi = cd_.Pu + 20L * e.M;
  for (long b0 = rlo; b0 <= rhi; b0 += e.M) {
    const long b1 = std::min(rhi, b0 + e.M - 1);
    if (b1 >= out.Pc - 2L * e.M && b0 <= out.Pc + 2L * e.M) {
      // Only the part outside the inner window.
      if (b0 < out.Pc - 2L * e.M || b1 > out.Pc + 2L * e.M) {
        // A straddling block: taken whole, a looser bound.
      } else {
        continue;
      }
    }
    for (int j = 0; j < e.K; ++j) {
      double m = 0;
      for (long s = b0; s <= b1; ++s) {
        if (s >= out.Pc - 2L * e.M && s <= out.Pc + 2L * e.M) continue;
        const long t = s - static_cast<long>(j) * e.M;
        if (t >= 0 && t < Lq) m = std::max(m, std::fabs(out.q.at(t)));
      }
      out.omax.push_back(m);
    }
  }
  // Thermal noise.
  double s = 0;
  if (e.ref) {
    for (std::size_t i = 1; i < e.f.size(); ++i)
      s += std::norm(receiver(e, e.f[i])) * ctlePower(e, e.f[i], g) * (e.f[i] - e.f[i - 1]) * 1e-9;
  } else {
    for (std::size_t k = 0; k < e.uf.size(); ++k) {
      const double w = (k == 0 || k + 1 == e.uf.size()) ? 0.5 : 1.0;
      s += w * std::norm(receiver(e, e.uf[k])) * ctlePower(e, e.uf[k], g) * e.df * 1e-9;
    }
  }
  out.sN2 = e.p.eta0 * s;
  if (e.mmse) {
    const std::size_t n = e.thermF.size();
    std::vector<double> pw(n);
    for (std::size_t k = 0; k < n; ++k) pw[k] = ctlePower(e, e.thermF[k], g);
    out.thermLag.assign(static_cast<std::size_t>(e.Dm), 0.0);
    for (int l = 0; l < e.Dm; ++l) {
      const double* w = &e.thermCos[static_cast<std::size_t>(l) * n];
      double x = 0;
      for (std::size_t k = 0; k < n; ++k) x += w[k] * pw[k];
      out.thermLag[static_cast<std::size_t>(l)] = e.p.eta0 * x;
    }
    const std::size_t nb = static_cast<std::size_t>(e.nBins), dm = static_cast<std::size_t>(e.Dm);
    out.noiseBin.assign(nb * dm, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
      double* o = &out.noiseBin[static_cast<std::size_t>(e.thermBin[k]) * dm];
      for (std::size_t l = 0; l < dm; ++l) o[l] += e.p.eta0 * e.thermCos[l * n + k] * pw[k] / e.sx2;
    }
    out.fextMarks.clear(), out.fextFloor.clear(), out.nextPhase.clear();
    FftArrays fa(cd_.fftN);
    // Crosstalk at each aggressor's largest-energy phase: NEXT fixed, FEXT per Tx setting.
    out.nextLag.assign(static_cast<std::size_t>(e.Dm), 0.0);
    out.fextRm.clear();
    out.fextLeast.assign(static_cast<std::size_t>(e.Dm), 0.0);
    for (std::size_t k = 1; k < cd_.ch.size(); ++k) {
      const CaseChannel& a = cd_.ch[k];
      // The aggressor's samples at one phase, combined from its basis pulses.
      auto phaseOf = [&](int ph, double* in) {
        const std::size_t len = a.raw.size();
        std::size_t u = 0;
        for (std::size_t i = static_cast<std::size_t>(ph);
             i < len && u < static_cast<std::size_t>(cd_.fftN);
             i += static_cast<std::size_t>(e.M), ++u) {
          double x = 0;
          for (int b = 0; b < e.nBasis; ++b)
            x += coef[static_cast<std::size_t>(b)] * a.basis[static_cast<std::size_t>(b)][i];
          in[u] = x;
        }
      };
      std::vector<double> R = gramOf(e, cd_,
                                     &cd_.cross[k * static_cast<std::size_t>(cd_.pairs) *
                                                static_cast<std::size_t>(e.M * (e.Dm + 1))],
                                     coef);
      if (a.kind == ChannelKind::next) {
        int m = 0;
        for (int ph = 1; ph < e.M; ++ph)
          if (R[static_cast<std::size_t>(ph * (e.Dm + 1))] >
              R[static_cast<std::size_t>(m * (e.Dm + 1))])
            m = ph;
        for (int l = 0; l < e.Dm; ++l)
          out.nextLag[static_cast<std::size_t>(l)] +=
              e.sx2 * R[static_cast<std::size_t>(m * (e.Dm + 1) + l)];
        binnedLags(e, cd_, phaseOf, m, 1.0, out.noiseBin.data(), fa);
        out.nextPhase.push_back(m);
      } else {
        out.fextRm.push_back(std::move(R));
        out.fextMarks.push_back(widestPhases(e, out.fextRm.back(), e.acLo.data(), e.acHi.data()));
        out.fextFloor.push_back(leastPhaseLags(e, cd_, phaseOf, out.fextMarks.back(), fa));
        for (int l = 0; l < e.Dm; ++l)
          out.fextLeast[static_cast<std::size_t>(l)] +=
              out.fextFloor.back()[static_cast<std::size_t>(l)];
      }
    }
    out.txBin.assign(static_cast<std::size_t>(e.M) * nb * dm, 0.0);
    out.sig.assign(static_cast<std::size_t>(e.M) * dm, 0.0);
    const double jit = e.p.ADD * e.p.ADD + e.p.sigmaRJ * e.p.sigmaRJ;
    for (int ph = 0; ph < e.M; ++ph) {
      auto victim = [&](int phase, double* in) {
        std::size_t u = 0;
        for (std::size_t i = static_cast<std::size_t>(phase);
             i < q.size() && u < static_cast<std::size_t>(cd_.fftN);
             i += static_cast<std::size_t>(e.M), ++u)
          in[u] = q[i];
      };
      binnedLags(e, cd_, victim, ph, e.txNoise, &out.txBin[static_cast<std::size_t>(ph) * nb * dm],
                 fa);
      for (std::size_t l = 0; l < dm; ++l)
        out.sig[static_cast<std::size_t>(ph) * dm + l] =
            out.Rm[static_cast<std::size_t>(ph * (e.Dm + 1)) + l] +
            jit * out.RJm[static_cast<std::size_t>(ph * (e.Dm + 1)) + l];
    }
  }
  out.pc = powerCoef(e, g);
  // Crosstalk parts that do not depend on the Tx taps.
  out.xtNext = 0;
  out.xtR.clear();
  if (e.mmse) {
  } else if (e.ref) {
    double x = 0;
    for (int b = 0; b < 4; ++b)
      x += out.pc[static_cast<std::size_t>(b)] * cd_.nextSum[static_cast<std::size_t>(b)];
    out.xtNext = x;
  } else {
    for (std::size_t k = 1; k < cd_.ch.size(); ++k) {
      const CaseChannel& a = cd_.ch[k];
      const std::vector<double> qa = ctled(e, a, coef);
      const Guarded ga = guarded(qa, cd_.guard);
      const std::vector<double> R = phaseGram(ga, 0, static_cast<long>(qa.size()), e.M, e.D);
      if (a.kind == ChannelKind::next) {
        double m = 0;
        for (int ph = 0; ph < e.M; ++ph)
          m = std::max(m, R[static_cast<std::size_t>(ph * (e.D + 1))]);
        out.xtNext += e.sx2 * m;
      } else {
        out.xtR.push_back(R);
      }
    }
  }
}

// The phase Grams the receiver FFE is solved with, summed from the CTLE'd pulses
// themselves as the search always summed them (the cross Grams give the bounds the same
// values to rounding); each NEXT aggressor stays at the phase its bounds took.
void exactGrams(const Engine& e, const CaseData& cd_, const Ctl& g, CtlData& out) {
  const long Lq = out.q.len;
  out.Rm = phaseGram(out.q, 0, Lq, e.M, e.Dm);
  out.RJm = phaseGram(out.dq, -1, Lq + 1, e.M, e.Dm);
  const auto coef = basisCoef(e, g);
  out.nextLag.assign(static_cast<std::size_t>(e.Dm), 0.0);
  std::size_t fext = 0, next = 0;
  for (std::size_t k = 1; k < cd_.ch.size(); ++k) {
    const CaseChannel& a = cd_.ch[k];
    const std::vector<double> qa = ctled(e, a, coef);
    std::vector<double> R =
        phaseGram(guarded(qa, cd_.guard), 0, static_cast<long>(qa.size()), e.M, e.Dm);
    if (a.kind == ChannelKind::next) {
      const int m = out.nextPhase[next++];
      for (int l = 0; l < e.Dm; ++l)
        out.nextLag[static_cast<std::size_t>(l)] +=
            e.sx2 * R[static_cast<std::size_t>(m * (e.Dm + 1) + l)];
    } else {
      out.fextRm[fext++] = std::move(R);
    }
  }
}

// The Toeplitz quadratic form c' G c from the autocorrelation row R (D+1 values).
inline double quad(const double* R, const double* ac, int D) {
  double s = R[0] * ac[0];
  for (int d = 1; d <= D; ++d) s += 2 * R[d] * ac[d];
  return s;
}

// The sampling point on h' (values on [lo, lo + w.size())), REF or text rule.
// Returns false when no cursor is found.
// `need(a, b)` is called before h is read on [a, b].
template <class Need>
bool cursor(const Engine& e, const std::vector<double>& w, long lo, long P, long& ts, Need need) {
  const Params& p = e.p;
  const int M = e.M;
  auto h = [&](long s) { return w[static_cast<std::size_t>(s - lo)]; };
  need(P - 2L * M, P + 2L * M);
  const double bmax1 = p.Nb > 0 && !e.bmax.empty() ? e.bmax[0] : 0;
  if (p.tsAnchor == 1) {
    ts = P;
    need(P - 2L * M, P + 2L * M);
    return true;
  }
  if (p.tsAnchor == 2) {
    double best = -std::numeric_limits<double>::infinity();
    for (long t = P - M; t <= P + M; ++t)
      if (h(t) - h(t - M) > best) best = h(t) - h(t - M), ts = t;
    return true;
  }
  if (e.ref) {
    const double thr = 0.01 * h(P);
    long z = -1;
    for (long s = P; s > P - 4L * M; --s) {
      if ((P - s) % M == 0) need(s - M - 1, s);
      if (h(s - 1) - thr < 0 && h(s) - thr >= 0) {
        z = s;
        break;
      }
    }
    if (z < 0) return false;
    need(z - M, z + 3L * M);
    double best = std::numeric_limits<double>::infinity();
    for (long t = z; t <= z + 2L * M; ++t) {
      const double m = p.cursorRule == CursorRule::mm
                           ? std::fabs(h(t - M) - std::max(h(t + M) - bmax1 * h(t), 0.0))
                           : std::fabs(h(t + M) - bmax1 * h(t));
      if (m < best) best = m, ts = t;
    }
    return true;
  }
  // Text: the root of h(t - Tb) = h(t + Tb) - b(1) h(t) closest to the peak from the left.
  const double bmin1 = p.Nb > 0 && !e.bmin.empty() ? e.bmin[0] : 0;
  need(P - 3L * M, P + M);
  auto r = [&](long t) {
    double b1 = 0;
    if (p.Nb > 0 && h(t) != 0) b1 = std::min(bmax1, std::max(bmin1, h(t + M) / h(t)));
    return h(t - M) - h(t + M) + b1 * h(t);
  };
  double rNext = r(P);
  for (long t = P - 1; t >= P - 2L * M; --t) {
    const double rt = r(t);
    if ((rt <= 0 && rNext >= 0) || (rt >= 0 && rNext <= 0)) {
      ts = std::fabs(rt) <= std::fabs(rNext) ? t : t + 1;
      return true;
    }
    rNext = rt;
  }
  double best = std::numeric_limits<double>::infinity();
  for (long t = P - 2L * M; t <= P; ++t)
    if (std::fabs(r(t)) < best) best = std::fabs(r(t)), ts = t;
  return true;
}

// DFE taps for the post-cursor samples hn[0..span-1] (n = 1..span) and cursor h0:
// fixed taps, floating banks, tail RSS limit. b holds span values.
void dfeTaps(const Engine& e, const double* hn, double h0, double* b) {
  const Params& p = e.p;
  const int span = e.span;
  for (int n = 0; n < span; ++n) b[n] = 0;
  for (int n = 0; n < std::min(p.Nb, span); ++n)
    b[n] = std::min(e.bmax[static_cast<std::size_t>(n)],
                    std::max(e.bmin[static_cast<std::size_t>(n)], hn[n] / h0));
  const int nStarts = span - p.Nb - p.Nbf + 1;  // starts Nb+1 .. Nf-Nbf+1
  if (p.Nbg > 0 && p.Nbf > 0 && nStarts > 0) {
    constexpr int kMax = 256;
    double E[kMax];
    int order[kMax], rank[kMax], chosen[kMax];
    const int ns = std::min(nStarts, kMax);
    // Energy a bank starting at s would remove; starts ranked by it (ties: the earlier).
    double part[kMax + 64];
    const int nPart = std::min(ns + p.Nbf - 1, kMax + 63);
    for (int i = 0; i < nPart; ++i) {
      const double v = hn[p.Nb + i];
      const double r = std::max(0.0, std::fabs(v) - p.bmaxg * h0);
      part[i] = v * v - r * r;
    }
    for (int s = 0; s < ns; ++s) {
      double x = 0;
      for (int i = 0; i < p.Nbf && s + i < nPart; ++i) x += part[s + i];
      E[s] = x;
    }
    int nChosen = 0;
    const int top = std::min(ns, (p.Nbg - 1) * p.Nbf + 1);
    // The best `top` starts are the first ones when none after them ranks higher.
    bool contiguous = p.Nbg * p.Nbf <= span - p.Nb;
    if (contiguous) {
      double low = std::numeric_limits<double>::infinity(),
             high = -std::numeric_limits<double>::infinity();
      for (int k = 0; k < top; ++k) low = std::min(low, E[k]);
      for (int k = top; k < ns; ++k) high = std::max(high, E[k]);
      contiguous = low >= high;
    }
    if (contiguous) {
      for (int g = 0; g < p.Nbg; ++g) chosen[nChosen++] = g * p.Nbf;
    } else {
      for (int s = 0; s < ns; ++s) {
        int k = s;
        while (k > 0 && E[order[k - 1]] < E[s]) order[k] = order[k - 1], --k;
        order[k] = s;
      }
      for (int k = 0; k < ns; ++k) rank[order[k]] = k;
      auto overlaps = [&](int s) {
        for (int i = 0; i < nChosen; ++i)
          if (std::abs(chosen[i] - s) < p.Nbf) return true;
        return false;
      };
      for (int k = 0; k < ns && nChosen < p.Nbg; ++k) {
        const int s = order[k];
        if (!overlaps(s)) {
          chosen[nChosen++] = s;
          continue;
        }
        // The adjacent start one bank earlier, when it ranks above the next best.
        const int adj = s - p.Nbf;
        if (adj >= 0 && !overlaps(adj) && k + 1 < ns && rank[adj] < rank[order[k + 1]])
          chosen[nChosen++] = adj;
      }
    }
    for (int c = 0; c < nChosen; ++c)
      for (int i = 0; i < p.Nbf; ++i) {
        const int n = p.Nb + chosen[c] + i;
        const double v = hn[n] / h0;
        b[n] = std::copysign(std::min(std::fabs(v), p.bmaxg), v);
      }
  }
  if (p.bFloatRssMax > 0 && p.nTailStart > 0 && span >= p.nTailStart) {
    double r = 0;
    for (int n = p.nTailStart - 1; n < span; ++n) r += b[n] * b[n];
    r = std::sqrt(r);
    if (r >= p.bFloatRssMax && r > 0)
      for (int n = p.nTailStart - 1; n < span; ++n) b[n] *= p.bFloatRssMax / r;
  }
}

double fomOf(double As, double n2) { return 10 * std::log10(As * As / n2); }

// Scratch of one search thread.
struct Scratch {
  std::vector<double> w, hn, b, wide;
  double ac[32];
  std::vector<double> base, lag, hs, A, x, y, wf, bf;  // receiver FFE
  // Per sampling point of the search's bounds, the bound of the box of Tx settings being
  // solved (below every threshold where it was ruled out); null: none.
  const double* live = nullptr;
};

// ---------------------------------------------------------------- receiver FFE (MMSE)

// Lags 0..n-1 of the autocorrelation of Tx-equalised baud-rate samples, from those of the
// unequalised ones (r, lags 0..D+n-1) and the taps' own autocorrelation ac (lags 0..D).
inline void lagsOf(const double* r, const double* ac, int D, int n, double* out) {
  for (int l = 0; l < n; ++l) {
    double x = ac[0] * r[l];
    for (int d = 1; d <= D; ++d) x += ac[d] * (r[l + d] + r[std::abs(l - d)]);
    out[l] = x;
  }
}

// The lower Cholesky factor of the symmetric n x n matrix a (row-major), in place, its
// diagonal held as reciprocals (the solves multiply); false when a is not positive definite.
bool cholesky(double* a, int n) {
  for (int j = 0; j < n; ++j) {
    double d = a[j * n + j];
    for (int k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
    if (!(d > 0)) return false;
    const double inv = 1 / std::sqrt(d);
    a[j * n + j] = inv;
    for (int i = j + 1; i < n; ++i) {
      double v = a[i * n + j];
      for (int k = 0; k < j; ++k) v -= a[i * n + k] * a[j * n + k];
      a[i * n + j] = v * inv;
    }
  }
  return true;
}
void forward(const double* L, int n, double* x) {
  for (int i = 0; i < n; ++i) {
    double v = x[i];
    for (int k = 0; k < i; ++k) v -= L[i * n + k] * x[k];
    x[i] = v * L[i * n + i];
  }
}
void cholSolve(const double* L, int n, double* x) {
  forward(L, n, x);
  for (int i = n - 1; i >= 0; --i) {
    double v = x[i];
    for (int k = i + 1; k < n; ++k) v -= L[k * n + i] * x[k];
    x[i] = v * L[i * n + i];
  }
}

// The MMSE receiver for one sampling point: R's lags (H'H plus the noise over sigma_X^2),
// h0 (the samples the taps meet at the cursor, h(dw - j)) and Hb (row n: h(dw + n + 1 - j)).
// The taps w minimise the mean square error with h0 w = 1 and the DFE taps b free; b
// beyond its limits is clipped and w solved again for it; taps beyond their limits
// (relative to the cursor tap) are clipped, w scaled back to h0 w = 1 and b taken again.
// Returns the error over sigma_X^2, or a negative number when R is singular. When the
// error with nothing clipped (a floor of the clipped ones) is already above `above`, that
// floor is returned without w or b and `solved` is false.
double mmseSolve(const Engine& e, const double* lag, const double* h0, const double* Hb, Scratch& s,
                 double above = std::numeric_limits<double>::infinity(), bool* solved = nullptr) {
  if (solved) *solved = true;
  const int n = e.Nw, Nb = e.p.Nb;
  s.A.resize(static_cast<std::size_t>(n * n));
  s.x.resize(static_cast<std::size_t>(n)), s.y.resize(static_cast<std::size_t>(n));
  s.wf.resize(static_cast<std::size_t>(n)), s.bf.resize(static_cast<std::size_t>(std::max(Nb, 1)));
  double* A = s.A.data();
  double* w = s.wf.data();
  double* b = s.bf.data();
  auto toeplitz = [&](bool lessDfe) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j) {
        double v = lag[i - j];
        if (lessDfe)
          for (int k = 0; k < Nb; ++k) v -= Hb[k * n + i] * Hb[k * n + j];
        A[i * n + j] = A[j * n + i] = v;
      }
    return cholesky(A, n);
  };
  auto dot = [n](const double* a, const double* c) {
    double v = 0;
    for (int i = 0; i < n; ++i) v += a[i] * c[i];
    return v;
  };
  auto clipB = [&](int k, double v) {
    return std::min(e.bmax[static_cast<std::size_t>(k)],
                    std::max(e.bmin[static_cast<std::size_t>(k)], v));
  };
  // With b free, b = Hb w and w solves (R - Hb'Hb) w = h0' (scaled to h0 w = 1).
  if (!toeplitz(true)) return -1;
  std::copy(h0, h0 + n, w);
  forward(A, n, w);
  const double g0 = dot(w, w);  // h0 A^-1 h0'
  if (!(g0 > 0)) return -1;
  if (1 / g0 - 1 > above) {
    if (solved) *solved = false;
    return 1 / g0 - 1;
  }
  for (int i = n - 1; i >= 0; --i) {  // the back substitution of A^-1 h0'
    double v = w[i];
    for (int k = i + 1; k < n; ++k) v -= A[k * n + i] * w[k];
    w[i] = v * A[i * n + i];
  }
  for (int i = 0; i < n; ++i) w[i] /= g0;
  bool clipped = false, any = false;
  for (int k = 0; k < Nb; ++k) {
    const double v = dot(Hb + k * n, w);
    b[k] = clipB(k, v);
    clipped = clipped || b[k] != v;
  }
  if (clipped) {
    // b held at its limits: w = R^-1 (Hb'b) + a R^-1 h0', a from h0 w = 1.
    if (!toeplitz(false)) return -1;
    double* y1 = s.x.data();
    double* y2 = s.y.data();
    std::copy(h0, h0 + n, y1);
    for (int i = 0; i < n; ++i) {
      double v = 0;
      for (int k = 0; k < Nb; ++k) v += Hb[k * n + i] * b[k];
      y2[i] = v;
    }
    cholSolve(A, n, y1), cholSolve(A, n, y2);
    const double g = dot(h0, y1);
    if (!(g > 0)) return -1;
    const double a = (1 - dot(h0, y2)) / g;
    for (int i = 0; i < n; ++i) w[i] = y2[i] + a * y1[i];
  }
  if (e.p.rxffeWmax > e.p.rxffeWmin) {
    const double wc = w[e.dw];
    for (int j = 0; j < n; ++j) {
      if (j == e.dw) continue;
      const double v = std::min(e.p.rxffeWmax * wc, std::max(e.p.rxffeWmin * wc, w[j]));
      any = any || v != w[j];
      w[j] = v;
    }
    if (any) {
      const double g = dot(h0, w);
      if (!(g != 0)) return -1;
      for (int i = 0; i < n; ++i) w[i] /= g;
      for (int k = 0; k < Nb; ++k) b[k] = clipB(k, dot(Hb + k * n, w));
    }
  }
  // w'Rw + 1 + b'b - 2 w'h0' - 2 w'Hb'b; with nothing clipped, b = Hb w and h0 w = 1 make
  // it w'Aw - 1 = 1/(h0 A^-1 h0') - 1.
  if (!clipped && !any) return 1 / g0 - 1;
  double q = 1;
  for (int i = 0; i < n; ++i) {
    double ri = 0;
    for (int j = 0; j < n; ++j) ri += lag[std::abs(i - j)] * w[j];
    q += w[i] * ri - 2 * w[i] * h0[i];
  }
  for (int k = 0; k < Nb; ++k) q += b[k] * b[k] - 2 * b[k] * dot(Hb + k * n, w);
  return q;
}

// Noise lags 0..Nw-1 (V^2) that do not depend on the sampling phase: thermal, NEXT, and
// FEXT with the Tx taps (ac their autocorrelation) at each aggressor's largest-energy phase.
void fixedNoiseLags(const Engine& e, const CtlData& g, const double* ac, double* out, double* tmp) {
  const int n = e.Nw, stride = e.Dm + 1;
  for (int l = 0; l < n; ++l)
    out[l] = g.thermLag[static_cast<std::size_t>(l)] + g.nextLag[static_cast<std::size_t>(l)];
  for (const auto& R : g.fextRm) {
    int m = 0;
    double best = -1;
    for (int ph = 0; ph < e.M; ++ph) {
      const double v = quad(&R[static_cast<std::size_t>(ph * stride)], ac, e.D);
      if (v > best) best = v, m = ph;
    }
    lagsOf(&R[static_cast<std::size_t>(m * stride)], ac, e.D, n, tmp);
    for (int l = 0; l < n; ++l) out[l] += e.sx2 * tmp[l];
  }
}

// The receiver FFE solved at every sampling point ts0 + sample adjustment; the best
// (first on ties) goes to r. A point whose bound is below `best` (dB) is not solved: the
// result is then exact only when it reaches best. The bounds: the search's per-point
// c'Bc and bound for every Tx setting when made, and the error with nothing clipped,
// which no clipping lowers.
void mmseSweep(const Engine& e, const CtlData& g, const double* cc, const double* ac, long ts0,
               double best, Scratch& s, Eval& r) {
  const Params& p = e.p;
  const int n = e.Nw, Nb = p.Nb, M = e.M, K = e.K, stride = e.Dm + 1;
  s.base.resize(static_cast<std::size_t>(4 * n));
  double* base = s.base.data();
  double* hh = base + n;
  double* jj = base + 2 * n;
  double* tmp = base + 3 * n;
  bool made = false;  // the noise lags, made at the first point solved
  const int kLo = e.dw - (n - 1), kHi = e.dw + Nb;  // UI offsets of the samples used
  s.hs.resize(static_cast<std::size_t>(kHi - kLo + 1));
  s.lag.resize(static_cast<std::size_t>(n + n + Nb * n));
  double* lag = s.lag.data();
  double* h0 = lag + n;
  double* Hb = h0 + n;
  const double jit = p.ADD * p.ADD + p.sigmaRJ * p.sigmaRJ;
  double bestQ = std::numeric_limits<double>::infinity();
  const double T = std::isfinite(best) ? std::pow(10.0, (best - 1e-6) / 10) / (e.aS * e.aS) : -1;
  // Errors (over sigma_X^2) above this give a figure of merit below best.
  const double qCut = T > 0 ? 1 / (e.sx2 * T) : std::numeric_limits<double>::infinity();
  for (int d = p.sampleAdjustMin; d <= p.sampleAdjustMax; ++d) {
    const long t = ts0 + d;
    if (T > 0 && !g.bound.open.empty() && t >= g.bound.from &&
        t - g.bound.from < static_cast<long>(g.bound.points())) {
      const std::size_t at = static_cast<std::size_t>(t - g.bound.from);
      if (g.bound.any[at] < T || (s.live && s.live[at] < T)) continue;
      if (!g.bound.open[at]) {
        const double* B = &g.bound.B[at * static_cast<std::size_t>(K * K)];
        double v = 0;
        for (int i = 0; i < K; ++i) {
          double x = 0;
          for (int j = 0; j < K; ++j) x += B[i * K + j] * cc[j];
          v += cc[i] * x;
        }
        if (v < T) continue;
      }
    }
    if (!made) fixedNoiseLags(e, g, ac, base, tmp), made = true;
    const long ph = ((t % M) + M) % M, n0 = (t - ph) / M;
    const double* row = g.qd.data() +
                        static_cast<std::size_t>(ph) * static_cast<std::size_t>(g.qdLen) + g.qdPad +
                        n0;
    for (int k = kLo; k <= kHi; ++k) {
      double v = 0;
      for (int j = 0; j < K; ++j) v += cc[j] * row[k - j];
      s.hs[static_cast<std::size_t>(k - kLo)] = v;
    }
    auto h = [&](int k) { return s.hs[static_cast<std::size_t>(k - kLo)]; };
    const double* rq = &g.Rm[static_cast<std::size_t>(ph * stride)];
    lagsOf(rq, ac, e.D, n, hh);
    lagsOf(&g.RJm[static_cast<std::size_t>(ph * stride)], ac, e.D, n, jj);
    for (int l = 0; l < n; ++l)
      lag[l] = hh[l] + (base[l] + e.sx2 * e.txNoise * rq[l] + e.sx2 * jit * jj[l]) / e.sx2;
    for (int j = 0; j < n; ++j) {
      h0[j] = h(e.dw - j);
      for (int k = 0; k < Nb; ++k) Hb[k * n + j] = h(e.dw + k + 1 - j);
    }
    bool solved = true;
    const double q = mmseSolve(e, lag, h0, Hb, s, std::min(bestQ, qCut), &solved);
    if (!solved || !(q > 0) || !(q < bestQ)) continue;
    bestQ = q;
    r.ts = t;
    r.h0 = h(0);
    r.w.assign(s.wf.begin(), s.wf.begin() + n);
    r.b.assign(s.bf.begin(), s.bf.begin() + Nb);
  }
  if (!std::isfinite(bestQ)) return;
  r.fom = fomOf(e.aS, e.sx2 * bestQ);
  r.ok = std::isfinite(r.fom);
}

// The averaged (reference) or worst-phase (text) crosstalk of the figure of merit.
double crosstalk2(const Engine& e, const CaseData& c, const CtlData& g, std::size_t t,
                  const double* ac) {
  if (e.ref) {
    double x = g.xtNext;
    const auto& E = c.E[t];
    for (int b = 0; b < 4; ++b)
      x += g.pc[static_cast<std::size_t>(b)] * E[static_cast<std::size_t>(b)];
    return c.xtScale * x;
  }
  double x = g.xtNext;
  for (const auto& R : g.xtR) {
    double m = 0;
    for (int ph = 0; ph < e.M; ++ph)
      m = std::max(m, quad(&R[static_cast<std::size_t>(ph * (e.D + 1))], ac, e.D));
    x += e.sx2 * m;
  }
  return x;
}

// One candidate; `best` prunes (a candidate whose bound is below it cannot win). The
// DFE taps are left in s.b.
Eval evaluate(const Engine& e, const CaseData& c, const CtlData& g, std::size_t t, double best,
              Scratch& s, long long& full) {
  Eval r;
  const TxCand& cand = e.tx[t];
  const int K = e.K, M = e.M, D = e.D;
  const double* cc = cand.c.data();
  double* ac = s.ac;
  for (int d = 0; d <= D; ++d) {
    double x = 0;
    for (int j = 0; j + d < K; ++j) x += cc[j] * cc[j + d];
    ac[d] = x;
  }
  const double xt2 = e.mmse ? 0 : crosstalk2(e, c, g, t, ac);
  const double base = g.sN2 + xt2;
  auto bound = [&](double hm) { return fomOf(e.aS * hm, hm * hm * e.txNoise + base); };
  double sumAbs = 0;
  for (int j = 0; j < K; ++j) sumAbs += std::fabs(cc[j]);
  if (!e.mmse && bound(g.qmax * sumAbs) < best - 1e-9) return r;
  // h' around the expected peak, h'(s) = sum_j c_j q(s - jM), filled on demand from the
  // middle of a 12 UI window outwards.
  const long lo = g.Pc - 7L * M, hi = g.Pc + 5L * M;
  s.w.resize(static_cast<std::size_t>(hi - lo + 1));
  long clo = 0, chi = -1;            // the filled part, window indices
  auto fill = [&](long a, long b) {  // window indices, inclusive
    double* dst = s.w.data();
    const double* src0 = g.q.v.data() + (g.q.off + lo);
    const double c0 = cc[0];
    for (long i = a; i <= b; ++i) dst[i] = c0 * src0[i];
    for (int j = 1; j < K; ++j) {
      const double cj = cc[j];
      if (cj == 0) continue;
      const double* src = src0 - static_cast<long>(j) * M;
      for (long i = a; i <= b; ++i) dst[i] += cj * src[i];
    }
  };
  auto need = [&](long a, long b) {  // window coordinates of h'
    a = std::max(a - lo, 0L), b = std::min(b - lo, hi - lo);
    if (chi < clo) {
      fill(a, b), clo = a, chi = b;
      return;
    }
    if (a < clo) fill(a, clo - 1), clo = a;
    if (b > chi) fill(chi + 1, b), chi = b;
  };
  need(g.Pc - 3L * M, g.Pc + 3L * M);
  const long rlo = c.Pu - 20L * M, rhi = c.Pu + 20L * M;
  long P = -1;
  double hp = -std::numeric_limits<double>::infinity();
  for (long t2 = std::max(g.Pc - 2L * M, rlo); t2 <= std::min(g.Pc + 2L * M, rhi); ++t2)
    if (s.w[static_cast<std::size_t>(t2 - lo)] > hp)
      hp = s.w[static_cast<std::size_t>(t2 - lo)], P = t2;
  double outer = 0;
  for (std::size_t b = 0; b < g.omax.size(); b += static_cast<std::size_t>(K)) {
    double x = 0;
    for (int j = 0; j < K; ++j) x += std::fabs(cc[j]) * g.omax[b + static_cast<std::size_t>(j)];
    outer = std::max(outer, x);
  }
  const std::vector<double>* win = &s.w;
  long wlo = lo;
  if (!(outer < hp)) {
    // The peak may lie anywhere in the reference window: evaluate it all.
    wlo = rlo - 5L * M;
    const long whi = rhi + 5L * M;
    s.wide.assign(static_cast<std::size_t>(whi - wlo + 1), 0.0);
    for (int j = 0; j < K; ++j)
      for (long t2 = wlo; t2 <= whi; ++t2) {
        const long u = t2 - static_cast<long>(j) * M;
        if (u >= 0 && u < g.q.len) s.wide[static_cast<std::size_t>(t2 - wlo)] += cc[j] * g.q.at(u);
      }
    hp = -std::numeric_limits<double>::infinity();
    for (long t2 = rlo; t2 <= rhi; ++t2)
      if (s.wide[static_cast<std::size_t>(t2 - wlo)] > hp)
        hp = s.wide[static_cast<std::size_t>(t2 - wlo)], P = t2;
    win = &s.wide;
  }
  if (!(hp > 0) || (!e.mmse && bound(hp) < best - 1e-9)) return r;
  long ts = 0;
  if (!(win == &s.w ? cursor(e, *win, wlo, P, ts, need)
                    : cursor(e, *win, wlo, P, ts, [](long, long) {})))
    return r;
  ++full;
  const double h0 = (*win)[static_cast<std::size_t>(ts - wlo)];
  if (!(h0 > 0)) return r;
  if (e.mmse) {
    mmseSweep(e, g, cc, ac, ts, best, s, r);
    return r;
  }
  const long ph = ((ts % M) + M) % M;
  // Post-cursor samples for the DFE, from this phase's row of baud-rate samples.
  s.hn.resize(static_cast<std::size_t>(e.span) + 1);
  s.b.resize(static_cast<std::size_t>(e.span) + 1);
  double* hn = s.hn.data();
  {
    const long n0 = (ts - ph) / M;
    const double* row = g.qd.data() +
                        static_cast<std::size_t>(ph) * static_cast<std::size_t>(g.qdLen) + g.qdPad +
                        n0;
    for (int n = 1; n <= e.span; ++n) hn[n - 1] = cc[0] * row[n];
    for (int j = 1; j < K; ++j) {
      const double cj = cc[j];
      const double* rj = row - j;
      for (int n = 1; n <= e.span; ++n) hn[n - 1] += cj * rj[n];
    }
  }
  dfeTaps(e, hn, h0, s.b.data());
  const double total = quad(&g.R[static_cast<std::size_t>(ph * (D + 1))], ac, D);
  double isi = total - h0 * h0;
  for (int n = 0; n < e.span; ++n) {
    const double v = hn[n], res = v - s.b[static_cast<std::size_t>(n)] * h0;
    isi += res * res - v * v;
  }
  r.isi2 = e.sx2 * std::max(0.0, isi);
  r.j2 = e.sx2 * (e.p.ADD * e.p.ADD + e.p.sigmaRJ * e.p.sigmaRJ) *
         quad(&g.RJ[static_cast<std::size_t>(ph * (D + 1))], ac, D);
  r.tx2 = h0 * h0 * e.txNoise;
  r.xt2 = xt2;
  r.n2 = g.sN2;
  r.h0 = h0;
  r.ts = ts;
  r.fom = fomOf(e.aS * h0, r.tx2 + r.isi2 + r.j2 + r.xt2 + r.n2);
  r.ok = std::isfinite(r.fom);
  return r;
}

void anyTxBound(const Engine& e, const CtlData& g, MmseBound& out);

// Bounds of the MMSE figure of merit. The noise that does not depend on the Tx taps
// (thermal, NEXT, Tx) alone bounds the error from below: with N its Toeplitz matrix and h0
// the samples the receiver taps meet, the error is at least 1/(h0 N^-1 h0'), so the figure
// of merit is at most 10 log10(aS^2 c'Bc) with B = Qw' N^-1 Qw, Qw the map from the Tx taps
// c to h0. B is kept for every sampling point any Tx setting can take: the peak lies
// within +-20 UI of the unequalised one, the cursor rule moves it by at most 4 UI back and
// 2 UI on, the sweep adds its offsets.

void mmseBound(const Engine& e, const CaseData& cd_, const CtlData& g, MmseBound& out) {
  const Params& p = e.p;
  const int n = e.Nw, K = e.K, M = e.M, stride = e.Dm + 1;
  out.from = cd_.Pu - 24L * M + p.sampleAdjustMin;
  const long to = cd_.Pu + 22L * M + p.sampleAdjustMax;
  std::vector<double> L(static_cast<std::size_t>(M * n * n));
  std::vector<char> ok(static_cast<std::size_t>(M));
  for (int ph = 0; ph < M; ++ph) {
    double* a = &L[static_cast<std::size_t>(ph * n * n)];
    const double* rq = &g.Rm[static_cast<std::size_t>(ph * stride)];
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const int l = std::abs(i - j);
        a[i * n + j] = g.thermLag[static_cast<std::size_t>(l)] +
                       g.nextLag[static_cast<std::size_t>(l)] + e.sx2 * e.txNoise * rq[l];
      }
    ok[static_cast<std::size_t>(ph)] = cholesky(a, n) ? 1 : 0;
  }
  const std::size_t np = static_cast<std::size_t>(to - out.from + 1);
  out.B.assign(np * static_cast<std::size_t>(K * K), 0.0);
  out.open.assign(np, 0);
  std::vector<double> Y(static_cast<std::size_t>(n * K));
  for (long t = out.from; t <= to; ++t) {
    const long ph = ((t % M) + M) % M, n0 = (t - ph) / M;
    const std::size_t at = static_cast<std::size_t>(t - out.from);
    if (!ok[static_cast<std::size_t>(ph)]) {
      out.open[at] = 1;
      continue;
    }
    const double* row = g.qd.data() +
                        static_cast<std::size_t>(ph) * static_cast<std::size_t>(g.qdLen) + g.qdPad +
                        n0;
    for (int i = 0; i < K; ++i) {
      double* col = &Y[static_cast<std::size_t>(i * n)];
      for (int j = 0; j < n; ++j) col[j] = row[e.dw - j - i];
      forward(&L[static_cast<std::size_t>(ph * n * n)], n, col);
    }
    double* B = &out.B[at * static_cast<std::size_t>(K * K)];
    for (int i = 0; i < K; ++i)
      for (int j = 0; j <= i; ++j) {
        double v = 0;
        for (int k = 0; k < n; ++k)
          v += Y[static_cast<std::size_t>(i * n + k)] * Y[static_cast<std::size_t>(j * n + k)];
        B[i * K + j] = B[j * K + i] = v;
      }
  }
  anyTxBound(e, g, out);
}

// A box of Tx settings: per column of the grid a range of value indices.
struct TxBox {
  std::array<int, 16> lo{}, hi{};
};

// A sampling point of the search's bounds and the last bound found for it.
struct LivePoint {
  std::uint32_t at = 0;
  double bound = 0;
};

// The bound over a box of Tx settings, at the sampling points listed (grouped by phase);
// those reaching T are kept in `out` with their bound. It is the bound for every Tx
// setting at once made tighter by what the box tells of the Tx taps c.
//
// The noise that does not pass the taps (thermal, NEXT, Tx) is the sum over the bins of
// the folded band of its power there times |W|^2 = |G|^2 / |C|^2, and within a bin |C|
// is at most U, the largest over the box and the bin: so it is at least the sum of each
// bin's share over U^2, a form in g = c * w. |C|^2 = ac(0) + 2 sum ac(d) cos(d theta) is
// convex in c where no tap changes sign (c(0) = 1 - sum |c(k)| is then linear too), so
// its largest over the box is at a corner (each column's ends, and 0 where it changes
// sign); over the bin each cos term is bounded by its own range there. The FEXT
// aggressor is taken at its largest-energy phase for c: where the box's range of the
// taps' autocorrelation leaves one phase that can be largest, that phase's lags are
// exact in g; otherwise the floor below every phase the grid allows stands in. The
// signal, the DFE samples and the jitter are exact forms in g. So the least error over
// g (with the taps of g that c * w cannot reach held at 0, and the DFE tap within its
// limits) is below every setting's in the box, and a smaller box only raises it.
void boxBound(const Engine& e, const CtlData& g, long from, const TxBox& box,
              const std::vector<LivePoint>& in, double T, std::vector<LivePoint>& out) {
  const Params& p = e.p;
  const int n = e.Dm, K = e.K, M = e.M, Nb = p.Nb, B = e.nBins,
            nc = static_cast<int>(e.cols.size());
  const int cur = -e.first;
  out.clear();
  thread_local std::vector<double> buf;
  buf.resize(static_cast<std::size_t>(2 * B + 8 * K + 4 * n + 2 * n * n));
  double* U2 = buf.data();  // |C|^2 bounds per bin, from the corners
  double* u = U2 + B;
  double* lo1 = u + B;  // the taps' ranges
  double* hi1 = lo1 + K;
  double* c = hi1 + K;
  double* ac = c + K;
  double* acLo = ac + K;
  double* acHi = acLo + K;
  double* common = acHi + K;
  double* lag = common + n;
  double* z1 = lag + n;
  double* z2 = z1 + n;
  double* L = z2 + n;
  double* A = L + n * n;
  std::fill(U2, U2 + B, 0.0);
  std::fill(lo1, lo1 + 2 * K, 0.0);
  std::fill(common, common + n, 0.0);
  std::array<std::array<double, 3>, 16> vals{};
  std::array<int, 16> nv{}, at{};
  for (int j = 0; j < K; ++j) lo1[j] = hi1[j] = 0;
  double c0lo = 1, c0hi = 1;
  for (int j = 0; j < nc; ++j) {
    const double a = e.cols[static_cast<std::size_t>(j)]
                           [static_cast<std::size_t>(box.lo[static_cast<std::size_t>(j)])];
    const double b = e.cols[static_cast<std::size_t>(j)]
                           [static_cast<std::size_t>(box.hi[static_cast<std::size_t>(j)])];
    int k = 0;
    vals[static_cast<std::size_t>(j)][static_cast<std::size_t>(k++)] = a;
    if (b != a) vals[static_cast<std::size_t>(j)][static_cast<std::size_t>(k++)] = b;
    if (a < 0 && b > 0) vals[static_cast<std::size_t>(j)][static_cast<std::size_t>(k++)] = 0;
    nv[static_cast<std::size_t>(j)] = k;
    const int tap = e.colTap[static_cast<std::size_t>(j)];
    lo1[tap] += a, hi1[tap] += b;
    c0lo -= std::max(std::fabs(a), std::fabs(b));
    c0hi -= (a < 0 && b > 0) ? 0.0 : std::min(std::fabs(a), std::fabs(b));
  }
  lo1[cur] = c0lo, hi1[cur] = c0hi;
  for (;;) {
    std::fill(c, c + K, 0.0);
    double sum = 0;
    for (int j = 0; j < nc; ++j) {
      const double v = vals[static_cast<std::size_t>(j)]
                           [static_cast<std::size_t>(at[static_cast<std::size_t>(j)])];
      c[e.colTap[static_cast<std::size_t>(j)]] += v, sum += std::fabs(v);
    }
    c[cur] = 1 - sum;
    for (int d = 0; d < K; ++d) {
      double x = 0;
      for (int j = 0; j + d < K; ++j) x += c[j] * c[j + d];
      ac[d] = d == 0 ? x : 2 * x;
    }
    for (int b = 0; b < B; ++b) {
      const double* cl = &e.cosLo[static_cast<std::size_t>(b * K)];
      const double* ch = &e.cosHi[static_cast<std::size_t>(b * K)];
      double v = ac[0];
      for (int d = 1; d < K; ++d) v += ac[d] >= 0 ? ac[d] * ch[d] : ac[d] * cl[d];
      U2[b] = std::max(U2[b], v);
    }
    int j = 0;
    while (j < nc && ++at[static_cast<std::size_t>(j)] == nv[static_cast<std::size_t>(j)])
      at[static_cast<std::size_t>(j++)] = 0;
    if (j == nc) break;
  }
  const double cap = e.txL1 * e.txL1;
  for (int b = 0; b < B; ++b) {
    const double v = std::min(U2[b], cap) * (1 + 1e-9) + 1e-15;
    u[b] = v > 0 ? 1 / v : 0;
  }
  // The lags common to every phase: noise over U^2 and the FEXT.
  for (int b = 0; b < B; ++b) {
    const double* r = &g.noiseBin[static_cast<std::size_t>(b * n)];
    for (int l = 0; l < n; ++l) common[l] += u[b] * r[l];
  }
  // The range of each lag of the taps' autocorrelation over the box, interval products.
  for (int d = 0; d < K; ++d) {
    double x = 0, y = 0;
    for (int j = 0; j + d < K; ++j) {
      double l, h;
      if (d == 0) {
        const double a = std::fabs(lo1[j]), b = std::fabs(hi1[j]);
        l = (lo1[j] <= 0 && hi1[j] >= 0) ? 0.0 : std::min(a, b) * std::min(a, b),
        h = std::max(a, b) * std::max(a, b);
      } else {
        const double q1 = lo1[j] * lo1[j + d], q2 = lo1[j] * hi1[j + d], q3 = hi1[j] * lo1[j + d],
                     q4 = hi1[j] * hi1[j + d];
        l = std::min(std::min(q1, q2), std::min(q3, q4)),
        h = std::max(std::max(q1, q2), std::max(q3, q4));
      }
      x += l, y += h;
    }
    acLo[d] = x - 1e-12, acHi[d] = y + 1e-12;
  }
  const int stride = e.Dm + 1;
  for (std::size_t a = 0; a < g.fextRm.size(); ++a) {
    const std::vector<char>& marks = g.fextMarks[a];
    int one = -1, count = 0;
    for (int ph = 0; ph < M; ++ph)
      if (marks[static_cast<std::size_t>(ph)]) one = ph, ++count;
    if (count > 1) {
      const std::vector<char> here = widestPhases(e, g.fextRm[a], acLo, acHi, &marks);
      count = 0;
      for (int ph = 0; ph < M; ++ph)
        if (here[static_cast<std::size_t>(ph)]) one = ph, ++count;
    }
    const double* r =
        count == 1 ? &g.fextRm[a][static_cast<std::size_t>(one * stride)] : g.fextFloor[a].data();
    for (int l = 0; l < n; ++l) common[l] += r[l];
  }
  // g = c * w is 0 outside taps i0 .. i1 + Nw - 1 when the box holds every tap before i0
  // and after i1 at 0: only those of g are free (a block of the Toeplitz matrix).
  int i0 = 0, i1 = K - 1;
  while (i0 < cur && lo1[i0] == 0 && hi1[i0] == 0) ++i0;
  while (i1 > cur && lo1[i1] == 0 && hi1[i1] == 0) --i1;
  const int m = e.Nw + i1 - i0;
  // Per phase: the Toeplitz matrix of the lags, factored once; per point the DFE rows
  // taken off by the matrix inversion lemma (or, when that is ill-conditioned or the DFE
  // has more taps, the matrix less them factored on its own).
  long lastPh = -1;
  bool factored = false;
  for (const LivePoint& lp : in) {
    const long t = from + static_cast<long>(lp.at);
    const long ph = ((t % M) + M) % M, n0 = (t - ph) / M;
    if (ph != lastPh) {
      lastPh = ph;
      const double* sg = &g.sig[static_cast<std::size_t>(ph * n)];
      const double* tb = &g.txBin[static_cast<std::size_t>(ph) * static_cast<std::size_t>(B * n)];
      for (int l = 0; l < m; ++l) lag[l] = sg[l] + common[l];
      for (int b = 0; b < B; ++b) {
        const double* r = tb + b * n;
        for (int l = 0; l < m; ++l) lag[l] += u[b] * r[l];
      }
      for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j) L[i * m + j] = L[j * m + i] = lag[i - j];
      factored = cholesky(L, m);
    }
    double v = std::numeric_limits<double>::infinity();
    const double* row = g.qd.data() +
                        static_cast<std::size_t>(ph) * static_cast<std::size_t>(g.qdLen) + g.qdPad +
                        n0;
    double g0 = -1;
    if (factored) {
      for (int j = 0; j < m; ++j) z1[j] = row[e.dw - i0 - j];
      forward(L, m, z1);
      double s11 = 0;
      for (int j = 0; j < m; ++j) s11 += z1[j] * z1[j];
      if (Nb == 0) {
        g0 = s11;
      } else if (Nb == 1) {
        for (int j = 0; j < m; ++j) z2[j] = row[e.dw + 1 - i0 - j];
        forward(L, m, z2);
        double s12 = 0, s22 = 0;
        for (int j = 0; j < m; ++j) s12 += z1[j] * z2[j], s22 += z2[j] * z2[j];
        // With a = h0 T^-1 h0', c = h0 T^-1 hb', d = hb T^-1 hb' the least error at a
        // given DFE tap b is phi(b) = 1/a - 1 + b^2 (1 - d + c^2/a) - 2 b c/a, convex in b:
        // its least over the tap's range is at the free optimum clipped to the range.
        if (s11 > 0 && 1 - s22 > 1e-3) {
          const double k2 = 1 - s22 + s12 * s12 / s11, k1 = s12 / s11;
          const double b = std::min(e.bmax[0], std::max(e.bmin[0], k1 / k2));
          const double q = 1 / s11 - 1 + b * b * k2 - 2 * b * k1;
          g0 = q > -1 ? 1 / (1 + q) : 2;
        }
      }
    }
    if (g0 < 0 && factored) {  // directly: R - Hb'Hb
      for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j) {
          double x = lag[i - j];
          for (int k = 0; k < Nb; ++k) x -= row[e.dw + k + 1 - i0 - i] * row[e.dw + k + 1 - i0 - j];
          A[i * m + j] = A[j * m + i] = x;
        }
      if (cholesky(A, m)) {
        for (int j = 0; j < m; ++j) z1[j] = row[e.dw - i0 - j];
        forward(A, m, z1);
        g0 = 0;
        for (int j = 0; j < m; ++j) g0 += z1[j] * z1[j];
      }
    }
    // A hair above, so that rounding never puts the bound below a figure it bounds.
    if (g0 > 0 && g0 < 1) v = (1 + 1e-8) / (e.sx2 * (1 / g0 - 1));
    if (v >= T) out.push_back({lp.at, v});
  }
}

// The bound for every Tx setting at once. The Tx FFE c and the receiver FFE w commute,
// so with g = c * w (Nw + K - 1 taps) the signal, the cursor and the DFE samples are
// those of g applied to the CTLE'd pulse without Tx taps, and so is the jitter: their
// forms in w are forms in g. The noise that does not pass the Tx taps (thermal, NEXT,
// Tx) is the integral of a spectrum S(f) >= 0 times |W(f)|^2, and |G(f)| = |C(f)||W(f)|
// <= txL1 |W(f)|, so it is at least that of g over txL1^2. The FEXT passes the Tx taps
// but is taken at the phase where it is largest for c: a floor below every phase it can
// take stands in for it. So the least error over g, with its cursor sample 1 and the DFE
// taps free (a single one held within its limits), is below the error of every Tx
// setting's receiver, clipped or not: one solve per sampling point bounds the whole Tx
// grid. It is made as the bound over the box of the whole grid (above), whose U never
// exceeds txL1.
void anyTxBound(const Engine& e, const CtlData& g, MmseBound& out) {
  const std::size_t np = out.points();
  out.any.assign(np, std::numeric_limits<double>::infinity());
  TxBox all;
  for (std::size_t j = 0; j < e.cols.size(); ++j)
    all.hi[j] = static_cast<int>(e.cols[j].size()) - 1;
  std::vector<LivePoint> in, kept;
  for (int ph = 0; ph < e.M; ++ph)
    for (std::size_t at = 0; at < np; ++at)
      if ((((out.from + static_cast<long>(at)) % e.M) + e.M) % e.M == ph)
        in.push_back({static_cast<std::uint32_t>(at), 0});
  boxBound(e, g, out.from, all, in, -1, kept);
  for (const LivePoint& lp : kept) out.any[lp.at] = lp.bound;
}

// The largest c'Bc over the points listed (all when pts is null) and the corners given.
double cornerBound(const MmseBound& b, int K, const std::vector<std::vector<double>>& corners,
                   const std::vector<std::size_t>* pts) {
  double m = 0;
  const std::size_t np = pts ? pts->size() : b.points();
  for (std::size_t k = 0; k < np; ++k) {
    const std::size_t at = pts ? (*pts)[k] : k;
    if (b.open[at]) return std::numeric_limits<double>::infinity();
    const double* B = &b.B[at * static_cast<std::size_t>(K * K)];
    for (const auto& c : corners) {
      double v = 0;
      for (int i = 0; i < K; ++i) {
        double r = 0;
        for (int j = 0; j < K; ++j) r += B[i * K + j] * c[static_cast<std::size_t>(j)];
        v += c[static_cast<std::size_t>(i)] * r;
      }
      m = std::max(m, v);
    }
  }
  return m;
}

// ---------------------------------------------------------------- views of the chosen equaliser

// The pulses, responses, bathtub and eye contour of the chosen equaliser. hv is the
// equalised victim pulse (Tx FFE, CTLE and the receiver FFE rx, its cursor tap 1, when
// there is one), raw the unequalised one (sample i of raw is sample i - (first - dw)*M of
// hv), ts the sampling point, dfe its taps; total is the distribution
// the margin came from, pXt and pG its crosstalk and Gaussian parts, on bins of dy.
CaseViews caseViews(const Engine& e, const Ctl& g, const TxCand& c, const std::vector<double>& rx,
                    const std::vector<double>& hv, const std::vector<double>& raw, long ts,
                    const std::vector<double>& dfe, double dy, const Pmf& total, const Pmf& pXt,
                    const Pmf& pG, unsigned threads) {
  const Params& p = e.p;
  const long M = e.M, Lh = static_cast<long>(hv.size());
  auto H = [&](long t) { return t >= 0 && t < Lh ? hv[static_cast<std::size_t>(t)] : 0.0; };
  const double h0 = H(ts);
  CaseViews v;
  // Pulses: 10 UI before the sampling point to 10 UI after the DFE span.
  const long from = std::max(0L, ts - 10 * M),
             to = std::min(Lh - 1, ts + (std::max(e.span, 10) + 10) * M);
  const long shift = static_cast<long>(e.first - (rx.empty() ? 0 : e.dw)) * M;
  v.samplesPerUi = e.M;
  v.firstUi = static_cast<double>(from - ts) / static_cast<double>(M);
  for (long t = from; t <= to; ++t) {
    const long r = t + shift;
    v.equalised.push_back(H(t));
    v.unequalised.push_back(
        r >= 0 && r < static_cast<long>(raw.size()) ? raw[static_cast<std::size_t>(r)] : 0.0);
  }
  v.cursor = static_cast<int>(ts - from);
  if (!dfe.empty())
    v.dfeFirst = v.cursor + e.M, v.dfeLast = v.cursor + static_cast<int>(dfe.size()) * e.M;
  // Responses from DC to the symbol rate.
  constexpr int kPoints = 200;
  for (int k = 0; k <= kPoints; ++k) {
    const double f = p.fb * k / kPoints;
    v.f.push_back(f);
    v.txFfeDb.push_back(20 * std::log10(std::abs(txFfe(f, e.Tb, c.c, e.first))));
    v.ctleDb.push_back(20 * std::log10(std::abs(ctle(f, p, g.g1, g.g2))));
    if (!rx.empty()) {
      std::complex<double> w = 0;
      for (std::size_t j = 0; j < rx.size(); ++j)
        w += rx[j] *
             std::polar(1.0, -2 * std::numbers::pi * f * e.Tb * (static_cast<double>(j) - e.dw));
      v.rxFfeDb.push_back(20 * std::log10(std::abs(w)));
    }
  }
  // The bathtub, every bin down to far below the error ratio; long ones keep every n-th bin,
  // counted from the bin of Ani so that the crossing stays exact.
  lowerTail(total, dy, std::min(1e-15, p.DER0 * 1e-3), v.amplitude, v.probability);
  if (v.amplitude.size() > 1000) {
    const std::size_t n = (v.amplitude.size() + 999) / 1000;
    const std::size_t at =
        static_cast<std::size_t>(std::lround(-firstAbove(total, dy, p.DER0) / dy));
    std::vector<double> a, pr;
    for (std::size_t i = at % n; i < v.amplitude.size(); i += n)
      a.push_back(v.amplitude[i]), pr.push_back(v.probability[i]);
    v.amplitude = std::move(a), v.probability = std::move(pr);
  }
  // The eye contour: at each phase the residual interference (the DFE cancelling its
  // taps times the cursor it was set for) and the jitter term at that phase, with the
  // crosstalk and Gaussian parts of the sampling point; phases 1/16 UI apart (or a sample,
  // when coarser) from -1/2 to 1/2 UI, shared among the search's threads.
  const long step = std::max(1L, M / 16), half = M / 2 / step, phases = 2 * half + 1;
  std::vector<double> low(static_cast<std::size_t>(phases)), high(static_cast<std::size_t>(phases));
  std::atomic<long> next{0};
  auto work = [&] {
    for (long k; (k = next.fetch_add(1)) < phases;) {
      const long d = (k - half) * step, t0 = ts + d;
      const std::size_t i = static_cast<std::size_t>(k);
      if (d == 0) {
        low[i] = firstAbove(total, dy, p.DER0), high[i] = lastAbove(total, dy, p.DER0);
        continue;
      }
      std::vector<double> isi, dd;
      for (long t = t0 - (t0 / M) * M - M; t < Lh + 1; t += M)
        dd.push_back(p.ADD * (H(t + 1) - H(t - 1)) * e.M / 2);
      for (long t = t0 - (t0 / M) * M; t < Lh; t += M) {
        if (t == t0) continue;
        const long n = (t - t0) / M;
        isi.push_back(H(t) -
                      (n >= 1 && n <= e.span ? dfe[static_cast<std::size_t>(n - 1)] * h0 : 0.0));
      }
      const Pmf pIsi = symbolsPmf(isi, e.L, dy), pDd = symbolsPmf(dd, e.L, dy);
      const Pmf* parts[] = {&pIsi, &pDd, &pXt, &pG};
      const Pmf at = convolveAll(parts);
      low[i] = firstAbove(at, dy, p.DER0), high[i] = lastAbove(at, dy, p.DER0);
    }
  };
  std::vector<std::thread> pool;
  for (unsigned w = 1; w < threads; ++w) pool.emplace_back(work);
  work();
  for (auto& th : pool) th.join();
  for (long k = 0; k < phases; ++k) {
    const long d = (k - half) * step;
    const double As = e.aS * H(ts + d);
    v.phaseUi.push_back(static_cast<double>(d) / static_cast<double>(M));
    v.upper.push_back(As + low[static_cast<std::size_t>(k)]);
    v.lower.push_back(-As + high[static_cast<std::size_t>(k)]);
  }
  return v;
}

// ---------------------------------------------------------------- setup and checks

bool finiteAll(const std::vector<cd>& v) {
  for (const cd& z : v)
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag())) return false;
  return true;
}

// Why the parameters cannot be computed with, if they cannot.
brevo::Result<void> checkParams(const Params& p) {
  if (!(p.fb > 0) || !std::isfinite(p.fb)) return brevo::failure("the symbol rate is not positive");
  if (p.L < 2 || p.L > 16) return brevo::failure("the number of levels must be 2 to 16");
  if (p.M < 4 || p.M > 1024) return brevo::failure("the samples per UI must be 4 to 1024");
  if (!(p.DER0 > 0 && p.DER0 < 0.5))
    return brevo::failure("the detector error ratio must lie between 0 and 0.5");
  if (!(p.Av > 0)) return brevo::failure("the thru amplitude is not positive");
  if (!(p.fz > 0 && p.fp1 > 0))
    return brevo::failure("the CTLE zero and first pole must be positive");
  if (p.twoStage && !(p.fLF > 0))
    return brevo::failure("the second CTLE stage needs its pole-zero frequency");
  if (!(p.fr > 0)) return brevo::failure("the receiver bandwidth must be positive");
  if (p.cases.empty()) return brevo::failure("no package case");
  if (p.Nb < 0 || p.Nb > 1000) return brevo::failure("the number of DFE taps is out of range");
  if (static_cast<int>(p.bmax.size()) < p.Nb)
    return brevo::failure("fewer DFE limits than DFE taps");
  if (!p.bmin.empty() && static_cast<int>(p.bmin.size()) < p.Nb)
    return brevo::failure("fewer lower DFE limits than DFE taps");
  if (p.Nbg > 0 && (p.Nbf <= 0 || p.Nf <= p.Nb))
    return brevo::failure("floating DFE taps need a bank size and a span beyond the fixed taps");
  if (p.rxffePre < 0 || p.rxffePost < 0 || p.rxffePre + p.rxffePost > 63)
    return brevo::failure("the receiver FFE must have 0 to 63 taps besides its cursor");
  if (p.rxffePre + p.rxffePost > 0 && p.Nbg > 0)
    return brevo::failure("floating DFE taps are not taken with a receiver FFE");
  if (p.rxffePre + p.rxffePost > 0 && p.Nb > 64)
    return brevo::failure("at most 64 DFE taps are taken with a receiver FFE");
  for (const TxTap& t : p.txTaps)
    if (t.index == 0 || t.index < -8 || t.index > 8)
      return brevo::failure("a Tx tap index must be -8..-1 or 1..8");
  if (p.pkgTx.Cd.size() > 8 || p.pkgRx.Cd.size() > 8)
    return brevo::failure("too many die ladder stages");
  return {};
}

}  // namespace

double detail::solveMmse(std::span<const double> lag, std::span<const double> h0,
                         std::span<const double> Hb, std::span<const double> bmax,
                         std::span<const double> bmin, int dw, double wmax, double wmin,
                         std::vector<double>& w, std::vector<double>& b) {
  assert(h0.size() == lag.size() && bmin.size() == bmax.size() &&
         Hb.size() == bmax.size() * lag.size() &&
         "solveMmse: a sample per tap, a limit pair and a row per DFE tap");
  assert(dw >= 0 && static_cast<std::size_t>(dw) < lag.size() &&
         "solveMmse: the cursor tap is one of the taps");
  Params p;
  p.Nb = static_cast<int>(bmax.size());
  p.rxffeWmax = wmax, p.rxffeWmin = wmin;
  Engine e(p);
  e.Nw = static_cast<int>(lag.size()), e.dw = dw;
  e.bmax.assign(bmax.begin(), bmax.end()), e.bmin.assign(bmin.begin(), bmin.end());
  Scratch s;
  const double q = mmseSolve(e, lag.data(), h0.data(), Hb.data(), s);
  w.assign(s.wf.begin(), s.wf.begin() + e.Nw);
  b.assign(s.bf.begin(), s.bf.begin() + p.Nb);
  return q;
}

brevo::Result<Margins> computeCom(const Params& p, const std::vector<Channel>& channels) {
  brevo::Result<Margins> out;  // succeeds unless fail says why
  auto fail = [&](std::string why) {
    out.status = 1;
    out.message = std::move(why);
    return out;
  };
  const auto start = std::chrono::steady_clock::now();
  if (const auto checked = checkParams(p); !checked) return fail(checked.message);
  if (channels.empty()) return fail("no thru channel");
  Engine e(p);
  e.ref = p.convention == Convention::reference;
  e.M = p.M, e.L = p.L;
  e.Tb = 1 / p.fb, e.dt = e.Tb / p.M;
  e.sx2 = (p.L * p.L - 1.0) / (3.0 * (p.L - 1) * (p.L - 1));
  e.txNoise = std::pow(10.0, -p.snrTx / 10);
  e.aS = p.RLM / (p.L - 1);
  e.nBasis = p.twoStage ? 4 : 2;
  e.Q = std::sqrt(2.0) * erfcInverse(2 * p.DER0);
  e.mmse = p.rxffePre + p.rxffePost > 0;
  e.Nw = e.mmse ? p.rxffePre + p.rxffePost + 1 : 0;
  e.dw = p.rxffePre;

  // Channels: sizes, order, finiteness, one grid.
  const Channel& thru = channels[0];
  for (std::size_t k = 0; k < channels.size(); ++k) {
    const Channel& c = channels[k];
    const std::size_t n = c.f.size();
    const std::string name = c.name.empty() ? format("channel %zu", k + 1) : c.name;
    if (n < 3) return fail(name + ": fewer than 3 frequency points");
    if (c.sdd21.size() != n || c.sdd11.size() != n || c.sdd22.size() != n ||
        (!c.sdd12.empty() && c.sdd12.size() != n))
      return fail(name + ": parameters and frequencies differ in number");
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isfinite(c.f[i]) || c.f[i] < 0)
        return fail(name + ": a frequency is not a finite non-negative number");
      if (i > 0 && !(c.f[i] > c.f[i - 1]))
        return fail(format("%s: frequency %zu (%g Hz) is not above the one before it", name.c_str(),
                           i + 1, c.f[i]));
    }
    if (!finiteAll(c.sdd21) || !finiteAll(c.sdd11) || !finiteAll(c.sdd22) || !finiteAll(c.sdd12))
      return fail(name + ": a parameter value is not a finite number");
    if (k == 0 && c.kind != ChannelKind::thru) return fail("the first channel must be the thru");
    if (k > 0 && c.kind == ChannelKind::thru)
      return fail(name + ": a second thru among the aggressors");
  }
  e.f = thru.f;
  const std::size_t nf = e.f.size();
  e.dfFile = e.f[2] - e.f[1];
  if (e.f.back() < p.fb)
    e.warnings.push_back(format(
        "%s ends at %.4g GHz, below the symbol rate %.4g GBd: the response above is extrapolated",
        thru.name.c_str(), e.f.back() * 1e-9, p.fb * 1e-9));
  if (e.f.front() > p.fMin && p.fMin > 0)
    e.warnings.push_back(
        format("%s starts at %.4g GHz, above %.4g GHz: the response below is extrapolated",
               thru.name.c_str(), e.f.front() * 1e-9, p.fMin * 1e-9));
  for (const Channel& c : channels) {
    ChannelGrid g;
    g.kind = c.kind;
    const bool same = c.f.size() == nf && [&] {
      for (std::size_t i = 0; i < nf; ++i)
        if (std::fabs(c.f[i] - e.f[i]) > 1) return false;
      return true;
    }();
    const std::vector<cd> s12 = c.sdd12.empty() ? c.sdd21 : c.sdd12;
    if (same) {
      g.s11 = c.sdd11, g.s12 = s12, g.s21 = c.sdd21, g.s22 = c.sdd22;
    } else {
      auto onto = [&](const std::vector<cd>& v) { return resample(c.f, v, e.f, p.M * p.fb / 2); };
      auto s21 = onto(c.sdd21);
      if (!s21) return fail(c.name + ": " + s21.message);
      g.s21 = std::move(s21.value);
      // Reflections need not be causal: they are taken magnitude and phase all the same.
      g.s12 = onto(s12).value, g.s11 = onto(c.sdd11).value, g.s22 = onto(c.sdd22).value;
      if (g.s12.size() != nf) g.s12 = g.s21;
      e.warnings.push_back(
          format("%s is on other frequencies than the thru (%zu points to %.4g GHz): interpolated "
                 "onto the thru's",
                 c.name.c_str(), c.f.size(), c.f.back() * 1e-9));
    }
    if (&c != &thru && c.f.back() < p.fb)
      e.warnings.push_back(format("%s ends at %.4g GHz, below the symbol rate: extrapolated",
                                  c.name.c_str(), c.f.back() * 1e-9));
    e.chans.push_back(std::move(g));
  }
  // The transform grid.
  const double top = p.M * p.fb / 2;
  const double halfD = std::round(top / e.dfFile);
  if (!(halfD >= 1)) return fail("the frequency step is larger than the transform's top frequency");
  if (halfD > 2e6)
    return fail(
        format("the transform grid would have %.0f points (step %.4g MHz to %.4g GHz); at most 4 "
               "million are handled",
               2 * halfD, e.dfFile * 1e-6, top * 1e-9));
  e.half = static_cast<int>(halfD);
  e.df = top / e.half;
  e.uf.resize(static_cast<std::size_t>(e.half) + 1);
  for (int k = 0; k <= e.half; ++k) e.uf[static_cast<std::size_t>(k)] = k * e.df;
  const double spanUi = 1 / (e.df * e.Tb);
  e.span = p.Nbg > 0 ? std::max(p.Nb, p.Nf) : p.Nb;
  if (spanUi < e.span + 30)
    return fail(
        format("the thru's frequency step of %.4g MHz gives a time span of %.1f UI, shorter than "
               "the %d UI the pulse needs",
               e.dfFile * 1e-6, spanUi, e.span + 30));
  e.nSum = 0;
  while (e.nSum < nf && (e.nSum == 0 || e.f[e.nSum - 1] <= p.fb)) ++e.nSum;
  // DFE limits over the whole span (floating positions get their limit when chosen).
  e.bmax.assign(static_cast<std::size_t>(e.span), 0.0);
  e.bmin.assign(static_cast<std::size_t>(e.span), 0.0);
  for (int n = 0; n < p.Nb; ++n) {
    e.bmax[static_cast<std::size_t>(n)] = p.bmax[static_cast<std::size_t>(n)];
    e.bmin[static_cast<std::size_t>(n)] =
        p.bmin.empty() ? -p.bmax[static_cast<std::size_t>(n)] : p.bmin[static_cast<std::size_t>(n)];
  }

  // Sweeps so long the search would run for minutes are refused before they are made.
  auto count = [](const Sweep& w) {
    return w.step == 0 || w.min == w.max ? 1.0 : std::floor((w.max - w.min) / w.step + 1e-9) + 1;
  };
  {
    double txCount = 1, ctlCount = count(p.gDC) * (p.twoStage ? count(p.gDC2) : 1);
    for (const TxTap& t : p.txTaps) txCount *= count(t.values);
    if (!std::isfinite(txCount * ctlCount) || ctlCount > 20000 ||
        txCount * ctlCount * static_cast<double>(p.cases.size()) > 1e9)
      return fail(
          format("the search grid has %.4g Tx x %.4g CTLE settings in %zu package cases; that "
                 "would take over a minute",
                 txCount, ctlCount, p.cases.size()));
  }
  // Tx grid in the reference order: columns in sheet order, the last fastest.
  const bool colon = e.ref;
  std::vector<std::vector<double>> cols;
  int lo = 0, hi = 0;
  for (const TxTap& t : p.txTaps) {
    cols.push_back(sweepValues(t.values, colon));
    lo = std::min(lo, t.index), hi = std::max(hi, t.index);
  }
  e.first = lo, e.K = hi - lo + 1, e.D = e.K - 1;
  e.Dm = e.Nw + e.D;
  if (e.mmse) {
    // The thermal noise's lags: on the file's points above DC (reference) or the
    // transform's grid (trapezoid), as its variance is summed.
    std::vector<double> wt;
    if (e.ref) {
      for (std::size_t i = 1; i < nf; ++i)
        e.thermF.push_back(e.f[i]), wt.push_back((e.f[i] - e.f[i - 1]) * 1e-9);
    } else {
      for (std::size_t k = 0; k < e.uf.size(); ++k)
        e.thermF.push_back(e.uf[k]),
            wt.push_back(((k == 0 || k + 1 == e.uf.size()) ? 0.5 : 1.0) * e.df * 1e-9);
    }
    const std::size_t n = e.thermF.size();
    e.thermCos.resize(static_cast<std::size_t>(e.Dm) * n);
    for (std::size_t k = 0; k < n; ++k) wt[k] *= std::norm(receiver(e, e.thermF[k]));
    for (int l = 0; l < e.Dm; ++l)
      for (std::size_t k = 0; k < n; ++k)
        e.thermCos[static_cast<std::size_t>(l) * n + k] =
            wt[k] * (l == 0 ? 1.0 : std::cos(2 * kPi * e.thermF[k] * l * e.Tb));
  }
  long long rows = 1;
  for (const auto& c : cols) rows *= static_cast<long long>(c.size());
  if (rows > 50'000'000)
    return fail(format("the Tx FFE grid has %lld settings; at most 50 million are searched", rows));
  {
    std::vector<int> idx(cols.size(), 0);
    for (long long r = 0; r < rows; ++r) {
      double sum = 0;
      long long isum = 0;
      TxCand c;
      c.c.assign(static_cast<std::size_t>(e.K), 0.0);
      for (std::size_t j = 0; j < cols.size(); ++j) {
        const double v = cols[j][static_cast<std::size_t>(idx[j])];
        sum += std::fabs(v);
        isum += std::llabs(std::llround(v * 1e9));
        c.c[static_cast<std::size_t>(p.txTaps[j].index - lo)] += v;
      }
      const double c0 = 1 - sum;
      const bool valid =
          e.ref ? !(c0 < p.c0min) : 1'000'000'000LL - isum >= std::llround(p.c0min * 1e9);
      if (valid) {
        c.c[static_cast<std::size_t>(-lo)] =
            e.ref ? c0 : static_cast<double>(1'000'000'000LL - isum) * 1e-9;
        c.idx = idx;
        e.tx.push_back(std::move(c));
      }
      for (int j = static_cast<int>(cols.size()) - 1; j >= 0; --j) {
        if (++idx[static_cast<std::size_t>(j)] <
            static_cast<int>(cols[static_cast<std::size_t>(j)].size()))
          break;
        idx[static_cast<std::size_t>(j)] = 0;
      }
    }
  }
  if (e.tx.empty()) return fail("no Tx FFE setting meets the cursor tap's minimum");
  if (e.mmse && cols.size() > 16)
    return fail("with a receiver FFE at most 16 Tx FFE taps are searched");
  if (e.mmse) {
    e.cols = cols;
    for (const TxTap& t : p.txTaps) e.colTap.push_back(t.index - lo);
    e.nBins = 64;
    e.cosLo.resize(static_cast<std::size_t>(e.nBins * e.K)),
        e.cosHi.resize(static_cast<std::size_t>(e.nBins * e.K));
    for (int b = 0; b < e.nBins; ++b)
      for (int d = 0; d < e.K; ++d) {
        // cos(d theta) over the bin: its ends, and +-1 where d theta passes a multiple of pi.
        const double a = d * kPi * b / e.nBins, z = d * kPi * (b + 1) / e.nBins;
        double l = std::min(std::cos(a), std::cos(z)), h = std::max(std::cos(a), std::cos(z));
        for (long j = static_cast<long>(std::ceil(a / kPi - 1e-12));
             j <= static_cast<long>(std::floor(z / kPi + 1e-12)); ++j)
          (j % 2 == 0 ? h : l) = j % 2 == 0 ? 1.0 : -1.0;
        e.cosLo[static_cast<std::size_t>(b * e.K + d)] = l - 1e-12,
                                                   e.cosHi[static_cast<std::size_t>(b * e.K + d)] =
                                                       h + 1e-12;
      }
    for (const double fr : e.thermF) e.thermBin.push_back(foldedBin(e, fr));
  }
  e.acLo.assign(static_cast<std::size_t>(e.K), std::numeric_limits<double>::infinity());
  e.acHi.assign(static_cast<std::size_t>(e.K), -std::numeric_limits<double>::infinity());
  if (e.mmse) {
    e.txL1 = 0;
    for (const TxCand& c : e.tx) {
      double x = 0;
      for (const double v : c.c) x += std::fabs(v);
      e.txL1 = std::max(e.txL1, x);
      for (int d = 0; d < e.K; ++d) {
        double a = 0;
        for (int j = 0; j + d < e.K; ++j)
          a += c.c[static_cast<std::size_t>(j)] * c.c[static_cast<std::size_t>(j + d)];
        e.acLo[static_cast<std::size_t>(d)] = std::min(e.acLo[static_cast<std::size_t>(d)], a);
        e.acHi[static_cast<std::size_t>(d)] = std::max(e.acHi[static_cast<std::size_t>(d)], a);
      }
    }
  }
  // CTLE settings in the reference order: gDC outer, gDC2 inner.
  {
    const std::vector<double> g1v = sweepValues(p.gDC, colon);
    const std::vector<double> g2v =
        p.twoStage ? sweepValues(p.gDC2, colon) : std::vector<double>{0.0};
    std::vector<std::pair<double, std::vector<double>>> qual;
    for (std::size_t k = 0; k < p.g2Qual.size() && k < p.gQual.size(); ++k)
      qual.emplace_back(p.g2Qual[k], p.gQual[k]);
    std::stable_sort(qual.begin(), qual.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t a = 0; a < g1v.size(); ++a)
      for (std::size_t b = 0; b < g2v.size(); ++b) {
        const double x = g1v[a], y = g2v[b];
        if (!qual.empty()) {
          int row = -1;
          if (y == qual[0].first) row = 0;
          for (std::size_t k = 1; k < qual.size() && row < 0; ++k)
            if (y >= qual[k].first && y < qual[k - 1].first) row = static_cast<int>(k);
          if (row < 0 || qual[static_cast<std::size_t>(row)].second.size() < 2) continue;
          const double ghi = qual[static_cast<std::size_t>(row)].second[0],
                       glo = qual[static_cast<std::size_t>(row)].second[1];
          if (!(x >= glo && x < ghi)) continue;
        }
        if (p.gdcMin != 0 && x + y > p.gdcMin) continue;
        e.ctl.push_back({x, y, std::pow(10.0, x / 20), std::pow(10.0, y / 20), static_cast<int>(a),
                         static_cast<int>(b)});
      }
  }
  if (e.ctl.empty()) return fail("no CTLE setting is allowed");
  // For the receiver FFE's bounds: the corners of the whole grid's box: each column's
  // extremes, and 0 when it changes sign within.
  std::vector<std::vector<double>> boxCorners;
  if (e.mmse) {
    const std::size_t nc = cols.size();
    auto cornersOf = [&](std::size_t from, std::size_t to) {
      std::vector<std::vector<double>> sets(nc);
      for (std::size_t j = 0; j < nc; ++j) {
        double a = std::numeric_limits<double>::infinity(), b = -a;
        for (std::size_t t = from; t < to; ++t) {
          const double v = e.tx[t].c[static_cast<std::size_t>(p.txTaps[j].index - lo)];
          a = std::min(a, v), b = std::max(b, v);
        }
        sets[j] = {a};
        if (b != a) sets[j].push_back(b);
        if (a < 0 && b > 0) sets[j].push_back(0);
      }
      std::vector<std::vector<double>> corners;
      std::vector<std::size_t> at(nc, 0);
      for (;;) {
        std::vector<double> c(static_cast<std::size_t>(e.K), 0.0);
        double sum = 0;
        for (std::size_t j = 0; j < nc; ++j) {
          const double v = sets[j][at[j]];
          c[static_cast<std::size_t>(p.txTaps[j].index - lo)] = v, sum += std::fabs(v);
        }
        c[static_cast<std::size_t>(-lo)] = 1 - sum;
        corners.push_back(std::move(c));
        std::size_t j = 0;
        while (j < nc && ++at[j] == sets[j].size()) at[j++] = 0;
        if (j == nc) break;
      }
      return corners;
    };
    boxCorners = cornersOf(0, e.tx.size());
  }
  const long long grid = static_cast<long long>(e.tx.size()) * static_cast<long long>(e.ctl.size());
  const long long totalWork = grid * static_cast<long long>(p.cases.size());
  if (totalWork > (e.mmse ? 400'000'000 : 40'000'000))
    return fail(format(
        "the search grid has %lld candidates (%zu Tx x %zu CTLE settings) in %zu package cases; "
        "that would take over a minute",
        grid, e.tx.size(), e.ctl.size(), p.cases.size()));
  if (!e.mmse && (p.sampleAdjustMin != 0 || p.sampleAdjustMax != 0))
    e.warnings.push_back(
        "the sampling-point sweep (sample adjustment) is not applied: the cursor rule alone sets "
        "it");

  const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 64u));
  const unsigned threads =
      p.threads > 0 ? std::min(static_cast<unsigned>(p.threads), cores) : cores;
  out.value.log.push_back(
      format("COM %s convention, %s search; grid %zu Tx x %zu CTLE = %lld candidates per case; "
             "transform %d points, step %.4g MHz; %u threads",
             e.ref ? "reference" : "ieee",
             p.search == Search::local && p.localSearch > 0 ? "local" : "exhaustive", e.tx.size(),
             e.ctl.size(), grid, 2 * e.half, e.df * 1e-6, threads));

  out.value.setupSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Cosines of the crosstalk sum's points, shared by the cases.
  std::vector<double> cosTable;  // (D+1) x nSum, only for the reference convention
  for (std::size_t ci = 0; ci < p.cases.size(); ++ci) {
    const PackageCase& pcase = p.cases[ci];
    const auto t0 = std::chrono::steady_clock::now();
    CaseData cdat;
    cdat.ch.resize(e.chans.size());
    {
      // The channels' pulses, each on its own (their transforms are independent).
      std::vector<brevo::Result<CaseChannel>> built(e.chans.size());
      std::atomic<std::size_t> nextChannel{0};
      auto build = [&] {
        for (std::size_t k; (k = nextChannel.fetch_add(1)) < e.chans.size();)
          built[k] = buildChannel(e, e.chans[k], pcase);
      };
      std::vector<std::thread> pool;
      for (unsigned w = 1; w < threads; ++w) pool.emplace_back(build);
      build();
      for (auto& th : pool) th.join();
      for (std::size_t k = 0; k < e.chans.size(); ++k) {
        if (!built[k]) return fail(channels[k].name + ": " + built[k].message);
        cdat.ch[k] = std::move(built[k].value);
      }
    }
    const std::vector<double>& raw = cdat.ch[0].raw;
    long Pu = 0;
    for (long t = 0; t < static_cast<long>(raw.size()); ++t)
      if (raw[static_cast<std::size_t>(t)] > raw[static_cast<std::size_t>(Pu)]) Pu = t;
    if (Pu < 4L * e.M + 1)
      return fail(
          "the thru's pulse peaks within its first 4 UI: the response is too short or not causal");
    cdat.Pu = Pu - static_cast<long>(e.first) * e.M;
    cdat.guard = static_cast<long>(e.K + 30 + e.span) * e.M;
    if (e.mmse) {
      std::size_t per = 0;
      for (const CaseChannel& ch : cdat.ch)
        per = std::max(per, (ch.raw.size() + static_cast<std::size_t>(e.M) - 1) /
                                static_cast<std::size_t>(e.M));
      cdat.fftN = 64;
      while (static_cast<std::size_t>(cdat.fftN) < per + static_cast<std::size_t>(e.Dm))
        cdat.fftN *= 2;
      const int N = cdat.fftN;
      cdat.binN.resize(static_cast<std::size_t>(N / 2 + 1));
      cdat.cosN.resize(static_cast<std::size_t>(N / 2 + 1) * static_cast<std::size_t>(e.Dm));
      for (int k = 0; k <= N / 2; ++k) {
        cdat.binN[static_cast<std::size_t>(k)] = std::min(e.nBins - 1, 2 * k * e.nBins / N);
        for (int l = 0; l < e.Dm; ++l)
          cdat.cosN[static_cast<std::size_t>(k * e.Dm + l)] =
              std::cos(2 * kPi * static_cast<double>(k) * l / N);
      }
      cdat.pairs = e.nBasis * (e.nBasis + 1) / 2;
      const std::size_t per1 =
          static_cast<std::size_t>(cdat.pairs) * static_cast<std::size_t>(e.M * (e.Dm + 1));
      cdat.cross.assign(per1 * cdat.ch.size(), 0.0);
      cdat.crossJ.assign(per1, 0.0);
      {
        std::atomic<std::size_t> nextGram{0};
        auto grams = [&] {
          for (std::size_t k; (k = nextGram.fetch_add(1)) <= cdat.ch.size();) {
            if (k == cdat.ch.size())
              crossGrams(e, cdat.ch[0].basis, true, cdat.crossJ.data());
            else
              crossGrams(e, cdat.ch[k].basis, false, &cdat.cross[k * per1]);
          }
        };
        std::vector<std::thread> pool;
        for (unsigned w = 1; w < threads; ++w) pool.emplace_back(grams);
        grams();
        for (auto& th : pool) th.join();
      }
      FftArrays fa(N);
      const std::lock_guard<std::mutex> hold(fftwPlannerLock());
      cdat.plan = std::shared_ptr<std::remove_pointer_t<fftw_plan>>(
          fftw_plan_dft_r2c_1d(N, fa.in.get(), fa.out.get(), FFTW_ESTIMATE), [](fftw_plan pl) {
            const std::lock_guard<std::mutex> h(fftwPlannerLock());
            fftw_destroy_plan(pl);
          });
    }
    const auto t1 = std::chrono::steady_clock::now();
    // Averaged crosstalk: per-basis weights and the per-Tx sums.
    if (e.ref && !e.mmse) {
      const double F = p.f2 > 0 ? p.f2 : p.fb;
      cdat.xtScale = e.sx2 * 2 * e.dfFile / F;
      cdat.Wf.assign(e.nSum, {0, 0, 0, 0});
      for (std::size_t i = 0; i < e.nSum; ++i) {
        const double fr = e.f[i];
        const double x = fr * e.Tb, sinc = x == 0 ? 1 : std::sin(kPi * x) / (kPi * x);
        double fext = 0, next = 0;
        for (std::size_t k = 1; k < cdat.ch.size(); ++k) {
          const double m = std::norm(cdat.ch[k].vtf[i]);
          (cdat.ch[k].kind == ChannelKind::next ? next : fext) += m;
        }
        double den =
            std::norm((1.0 + kJ * (fr / p.fp1)) * (p.fp2 > 0 ? 1.0 + kJ * (fr / p.fp2) : cd(1)));
        if (p.twoStage) den *= std::norm(1.0 + kJ * (fr / p.fLF));
        const double a = (fr / p.fz) * (fr / p.fz),
                     b = p.twoStage ? (fr / p.fLF) * (fr / p.fLF) : 0;
        const std::array<double, 4> pw =
            p.twoStage ? std::array<double, 4>{1, b, a, a * b} : std::array<double, 4>{1, a, 0, 0};
        const double w = sinc * sinc / den;
        for (int q = 0; q < 4; ++q) {
          cdat.Wf[i][static_cast<std::size_t>(q)] =
              w * p.Afe * p.Afe * fext * pw[static_cast<std::size_t>(q)];
          cdat.nextSum[static_cast<std::size_t>(q)] +=
              w * p.Ane * p.Ane * next * pw[static_cast<std::size_t>(q)];
        }
      }
      // |H_ffe|^2 = ac(0) + 2 sum_d ac(d) cos(2 pi f d Tb), ac the taps' autocorrelation.
      if (cosTable.empty()) {
        cosTable.resize(static_cast<std::size_t>(e.D + 1) * e.nSum);
        for (int d = 0; d <= e.D; ++d)
          for (std::size_t i = 0; i < e.nSum; ++i)
            cosTable[static_cast<std::size_t>(d) * e.nSum + i] =
                d == 0 ? 1.0 : 2 * std::cos(2 * kPi * e.f[i] * d * e.Tb);
      }
      std::vector<double> wf(4 * e.nSum);  // per basis, contiguous
      for (std::size_t i = 0; i < e.nSum; ++i)
        for (int q = 0; q < 4; ++q)
          wf[static_cast<std::size_t>(q) * e.nSum + i] = cdat.Wf[i][static_cast<std::size_t>(q)];
      cdat.E.assign(e.tx.size(), {0, 0, 0, 0});
      auto work = [&](std::size_t from, std::size_t to) {
        std::vector<double> mag(e.nSum);
        for (std::size_t t = from; t < to; ++t) {
          const std::vector<double>& c = e.tx[t].c;
          std::fill(mag.begin(), mag.end(), 0.0);
          for (int d = 0; d <= e.D; ++d) {
            double ac = 0;
            for (int j = 0; j + d < e.K; ++j)
              ac += c[static_cast<std::size_t>(j)] * c[static_cast<std::size_t>(j + d)];
            const double* ct = &cosTable[static_cast<std::size_t>(d) * e.nSum];
            for (std::size_t i = 0; i < e.nSum; ++i) mag[i] += ac * ct[i];
          }
          for (std::size_t i = 0; i < e.nSum; ++i) mag[i] = std::sqrt(std::max(mag[i], 0.0));
          for (int q = 0; q < e.nBasis; ++q) {
            const double* w = &wf[static_cast<std::size_t>(q) * e.nSum];
            double x = 0;
            for (std::size_t i = 0; i < e.nSum; ++i) x += w[i] * mag[i];
            cdat.E[t][static_cast<std::size_t>(q)] = x;
          }
        }
      };
      std::vector<std::thread> pool;
      const std::size_t per = (e.tx.size() + threads - 1) / threads;
      for (unsigned w = 1; w < threads; ++w)
        pool.emplace_back(work, std::min(e.tx.size(), w * per),
                          std::min(e.tx.size(), (w + 1) * per));
      work(0, std::min(e.tx.size(), per));
      for (auto& th : pool) th.join();
    }
    // The search, over CTLE settings in parallel; the first maximum in loop order wins.
    std::vector<CtlData> gdat(e.ctl.size());
    std::vector<Eval> bestPer(e.ctl.size());
    std::vector<std::size_t> bestT(e.ctl.size(), 0);
    std::atomic<std::size_t> next{0};
    std::atomic<long long> fullCount{0};
    std::atomic<double> shared{-std::numeric_limits<double>::infinity()};
    const std::size_t listed = static_cast<std::size_t>(std::max(p.reportCandidates, 0));
    CandidateList kept(listed);
    std::mutex topLock;
    // With a receiver FFE: first, at every CTLE setting, the Tx setting with the largest
    // cursor tap (no Tx FFE when the grid has it) is solved, which gives a figure to beat.
    // Then CTLE settings are taken by falling bound, and within one the Tx grid is cut into
    // boxes (halved along the longest column, the half with the higher bound first) until
    // a box's bound is below the best figure so far (or the listed settings' floor, when
    // listing) at every sampling point it left, or the box holds one setting: that is
    // solved at those points only, where its own c'Bc reaches the figure too. A bound
    // never falls below the figure it bounds, so nothing that could win or tie is left
    // out, and the winner is the first maximum in loop order whatever the threads.
    std::vector<double> ctlBound, anyBound;
    std::vector<std::size_t> ctlOrder;
    auto toT = [&](double b) {
      return std::isfinite(b) ? std::pow(10.0, (b - 1e-6) / 10) / (e.aS * e.aS) : -1.0;
    };
    if (e.mmse) {
      ctlBound.assign(e.ctl.size(), 0.0);
      anyBound.assign(e.ctl.size(), 0.0);
      std::size_t plain = 0;
      for (std::size_t t = 1; t < e.tx.size(); ++t)
        if (e.tx[t].c[static_cast<std::size_t>(-e.first)] >
            e.tx[plain].c[static_cast<std::size_t>(-e.first)])
          plain = t;
      auto boundWorker = [&] {
        Scratch s;
        long long full = 0;
        for (std::size_t gi; (gi = next.fetch_add(1)) < e.ctl.size();) {
          CtlData& gl = gdat[gi];  // kept for the search
          prepareCtl(e, cdat, e.ctl[gi], gl);
          MmseBound& mb = gl.bound;
          mmseBound(e, cdat, gl, mb);
          double anyMax = 0;
          for (const double v : mb.any) anyMax = std::max(anyMax, v);
          anyBound[gi] = anyMax;
          ctlBound[gi] = std::min(cornerBound(mb, e.K, boxCorners, nullptr), anyMax);
          // Only a figure to beat: the search solves it again with the Grams it keeps.
          const Eval r =
              evaluate(e, cdat, gl, plain, -std::numeric_limits<double>::infinity(), s, full);
          if (r.ok) {
            const double f = r.fom;
            double seen = shared.load(std::memory_order_relaxed);
            while (seen < f && !shared.compare_exchange_weak(seen, f)) {
            }
          }
        }
      };
      std::vector<std::thread> pool;
      for (unsigned w = 1; w < threads; ++w) pool.emplace_back(boundWorker);
      boundWorker();
      for (auto& th : pool) th.join();
      next = 0;
      ctlOrder.resize(e.ctl.size());
      for (std::size_t gi = 0; gi < e.ctl.size(); ++gi) ctlOrder[gi] = gi;
      std::stable_sort(ctlOrder.begin(), ctlOrder.end(),
                       [&](std::size_t a, std::size_t b) { return ctlBound[a] > ctlBound[b]; });
    }
    std::atomic<long long> ctlRuled{0}, boxesRuled{0}, boxCount{0};
    // The Tx setting at a box of one setting (e.tx is in loop order); e.tx.size() when it is
    // not valid.
    auto txAt = [&](const TxBox& b) {
      const std::size_t nc = e.cols.size();
      const auto it =
          std::lower_bound(e.tx.begin(), e.tx.end(), b, [&](const TxCand& c, const TxBox& x) {
            for (std::size_t j = 0; j < nc; ++j)
              if (c.idx[j] != x.lo[j]) return c.idx[j] < x.lo[j];
            return false;
          });
      if (it == e.tx.end()) return e.tx.size();
      for (std::size_t j = 0; j < nc; ++j)
        if (it->idx[j] != b.lo[j]) return e.tx.size();
      return static_cast<std::size_t>(it - e.tx.begin());
    };
    // Whether a box can hold a setting whose cursor tap meets its minimum.
    auto mayHoldValid = [&](const TxBox& b) {
      double c0 = 1;
      for (std::size_t j = 0; j < e.cols.size(); ++j) {
        const double x = e.cols[j][static_cast<std::size_t>(b.lo[j])],
                     y = e.cols[j][static_cast<std::size_t>(b.hi[j])];
        c0 -= (x < 0 && y > 0) ? 0.0 : std::min(std::fabs(x), std::fabs(y));
      }
      return c0 >= p.c0min - 1e-6;
    };
    auto mmseWorker = [&]() {
      Scratch s;
      long long full = 0, bRuled = 0, boxes = 0;
      std::vector<double> liveArr;
      CandidateList mine(listed);  // pruned at its own floor, so that it holds its n best
      auto cut = [&] {
        const double b = shared.load(std::memory_order_relaxed);
        return mine.on() ? std::min(b, mine.floor()) : b;
      };
      auto threshold = [&] { return toT(cut()); };
      for (std::size_t k; (k = next.fetch_add(1)) < e.ctl.size();) {
        const std::size_t gi = ctlOrder[k];
        if (ctlBound[gi] < threshold()) {
          ++ctlRuled;
          gdat[gi] = CtlData();
          continue;
        }
        exactGrams(e, cdat, e.ctl[gi], gdat[gi]);
        const CtlData& gl = gdat[gi];
        const MmseBound& mb = gl.bound;
        // Branch and bound over the Tx grid: a box is halved along its longest column until
        // its bound falls below the best so far at every sampling point left, or it holds
        // one setting, which is solved at the points its box left.
        struct Node {
          TxBox box;
          std::vector<LivePoint> live;
          double top = 0;
        };
        std::vector<Node> stack;
        {
          Node root;
          for (std::size_t j = 0; j < e.cols.size(); ++j)
            root.box.hi[j] = static_cast<int>(e.cols[j].size()) - 1;
          const double T = threshold();
          for (int ph = 0; ph < e.M; ++ph)
            for (std::size_t at = 0; at < mb.points(); ++at)
              if ((((mb.from + static_cast<long>(at)) % e.M) + e.M) % e.M == ph && mb.any[at] >= T)
                root.live.push_back({static_cast<std::uint32_t>(at), mb.any[at]});
          if (!root.live.empty()) stack.push_back(std::move(root));
        }
        liveArr.assign(mb.points(), -std::numeric_limits<double>::infinity());
        while (!stack.empty()) {
          Node nd = std::move(stack.back());
          stack.pop_back();
          const double T = threshold();
          std::erase_if(nd.live, [&](const LivePoint& lp) { return lp.bound < T; });
          if (nd.live.empty()) {
            ++bRuled;
            continue;
          }
          int wj = -1, wide = 0;
          for (std::size_t j = 0; j < e.cols.size(); ++j)
            if (nd.box.hi[j] - nd.box.lo[j] > wide)
              wide = nd.box.hi[j] - nd.box.lo[j], wj = static_cast<int>(j);
          if (wj < 0) {
            const std::size_t t = txAt(nd.box);
            if (t == e.tx.size()) continue;
            for (const LivePoint& lp : nd.live) liveArr[lp.at] = lp.bound;
            s.live = liveArr.data();
            Eval r = evaluate(e, cdat, gl, t, cut(), s, full);
            s.live = nullptr;
            for (const LivePoint& lp : nd.live)
              liveArr[lp.at] = -std::numeric_limits<double>::infinity();
            if (r.ok) mine.offer(r.fom, gi, t);
            if (r.ok && (r.fom > bestPer[gi].fom || (r.fom == bestPer[gi].fom && t < bestT[gi]))) {
              bestPer[gi] = std::move(r);
              bestT[gi] = t;
              const double f = bestPer[gi].fom;
              double seen = shared.load(std::memory_order_relaxed);
              while (seen < f && !shared.compare_exchange_weak(seen, f)) {
              }
            }
            continue;
          }
          Node kids[2];
          kids[0].box = kids[1].box = nd.box;
          const int mid =
              (nd.box.lo[static_cast<std::size_t>(wj)] + nd.box.hi[static_cast<std::size_t>(wj)]) /
              2;
          kids[0].box.hi[static_cast<std::size_t>(wj)] = mid,
          kids[1].box.lo[static_cast<std::size_t>(wj)] = mid + 1;
          for (Node& kid : kids) {
            if (!mayHoldValid(kid.box)) continue;
            bool single = true;
            for (std::size_t j = 0; j < e.cols.size(); ++j)
              single = single && kid.box.hi[j] == kid.box.lo[j];
            if (single) {  // solved at once: its own bound would cost about as much
              kid.live = nd.live;
            } else {
              ++boxes;
              boxBound(e, gl, mb.from, kid.box, nd.live, T, kid.live);
            }
            for (const LivePoint& lp : kid.live) kid.top = std::max(kid.top, lp.bound);
            if (kid.live.empty()) ++bRuled;
          }
          const int first = kids[0].top >= kids[1].top ? 1 : 0;  // the higher popped first
          for (int q : {first, 1 - first})
            if (!kids[q].live.empty()) stack.push_back(std::move(kids[q]));
        }
        gdat[gi] = CtlData();
      }
      fullCount += full;
      boxesRuled += bRuled;
      boxCount += boxes;
      const std::lock_guard<std::mutex> hold(topLock);
      kept.merge(mine);
    };
    auto worker = [&]() {
      Scratch s;
      long long full = 0;
      CandidateList mine(listed);  // pruned at its own floor, so that it holds its n best
      for (;;) {
        const std::size_t gi = next.fetch_add(1);
        if (gi >= e.ctl.size()) break;
        prepareCtl(e, cdat, e.ctl[gi], gdat[gi]);
        double bestHere = -std::numeric_limits<double>::infinity();
        for (std::size_t t = 0; t < e.tx.size(); ++t) {
          const double cut = shared.load(std::memory_order_relaxed);
          Eval r = evaluate(e, cdat, gdat[gi], t,
                            mine.on() ? mine.floor() : std::max(cut, bestHere), s, full);
          if (r.ok) mine.offer(r.fom, gi, t);
          if (r.ok && r.fom > bestPer[gi].fom) {
            bestPer[gi] = r;
            bestT[gi] = t;
            bestHere = bestPer[gi].fom;
            double seen = shared.load(std::memory_order_relaxed);
            while (seen < bestHere && !shared.compare_exchange_weak(seen, bestHere)) {
            }
          }
        }
        gdat[gi] = CtlData();  // made again for the final step or the local search
      }
      fullCount += full;
      const std::lock_guard<std::mutex> hold(topLock);
      kept.merge(mine);
    };
    {
      std::vector<std::thread> pool;
      for (unsigned w = 1; w < threads; ++w)
        pool.emplace_back(e.mmse ? std::function<void()>(mmseWorker)
                                 : std::function<void()>(worker));
      if (e.mmse)
        mmseWorker();
      else
        worker();
      for (auto& th : pool) th.join();
    }
    std::size_t bg = e.ctl.size(), bt = 0;
    double bf = -std::numeric_limits<double>::infinity();
    for (std::size_t gi = 0; gi < e.ctl.size(); ++gi)
      if (bestPer[gi].ok && bestPer[gi].fom > bf) bf = bestPer[gi].fom, bg = gi, bt = bestT[gi];
    if (bg == e.ctl.size()) return fail("equalisation failed: no candidate gives a sampling point");
    if (e.mmse) {
      std::size_t below = 0;
      double most = 0;
      for (const double v : anyBound) most = std::max(most, v), below += toT(bf) > v ? 1 : 0;
      out.value.log.push_back(format(
          "case %zu: the bound for every Tx setting at once is %.6f dB at most; %zu CTLE settings "
          "have it below the optimum",
          ci + 1, 10 * std::log10(e.aS * e.aS * most), below));
    }
    if (e.mmse)
      out.value.log.push_back(format(
          "case %zu: the bounds ruled out %lld of %zu CTLE settings and %lld of %lld boxes of Tx "
          "settings bounded within the others; %lld candidates solved",
          ci + 1, ctlRuled.load(), e.ctl.size(), boxesRuled.load(), boxCount.load(),
          fullCount.load()));
    bool localDiffers = false;
    long long localCount = 0;
    if (p.search == Search::local && p.localSearch > 0) {
      // The reference's local search, in its loop order, from the first finite best.
      const int LS = p.localSearch;
      std::size_t lg = e.ctl.size(), lt = 0;
      double lf = -std::numeric_limits<double>::infinity();
      Scratch s;
      long long full = 0;
      kept = CandidateList(listed);  // the local search lists what it evaluated
      for (std::size_t gi = 0; gi < e.ctl.size(); ++gi) {
        const Ctl& g = e.ctl[gi];
        if (lg < e.ctl.size() && g.i1 > 0 && std::abs(g.i2 - e.ctl[lg].i2) > LS) continue;
        CtlData gl;
        prepareCtl(e, cdat, g, gl);
        if (e.mmse) exactGrams(e, cdat, g, gl);
        for (std::size_t t = 0; t < e.tx.size(); ++t) {
          if (lg < e.ctl.size()) {
            bool skip = false;
            for (std::size_t j = 0; j < cols.size() && !skip; ++j) {
              if (cols[j].size() < 2) continue;
              const int prev = j == 0 ? g.i2 : e.tx[t].idx[j - 1];
              if (prev > 0 && std::abs(e.tx[t].idx[j] - e.tx[lt].idx[j]) > LS) skip = true;
            }
            if (skip) continue;
          }
          ++localCount;
          Eval r = evaluate(e, cdat, gl, t, kept.on() ? std::min(lf, kept.floor()) : lf, s, full);
          if (r.ok) kept.offer(r.fom, gi, t);
          if (r.ok && r.fom > lf) lf = r.fom, lg = gi, lt = t;
        }
      }
      if (lg == e.ctl.size())
        return fail("equalisation failed: the local search found no sampling point");
      localDiffers = lg != bg || lt != bt;
      out.value.log.push_back(format(
          "case %zu: the local search evaluated %lld candidates and keeps FOM %.3f dB; the grid's "
          "optimum is %.3f dB, %s",
          ci + 1, localCount, lf, bf, localDiffers ? "another equaliser" : "the same equaliser"));
      bg = lg, bt = lt;
    }
    const auto t2 = std::chrono::steady_clock::now();

    // ---- the final margin for the chosen equaliser
    const Ctl& g = e.ctl[bg];
    const TxCand& c = e.tx[bt];
    CtlData& gd = gdat[bg];
    if (gd.q.v.empty()) {
      prepareCtl(e, cdat, g, gd);
      if (e.mmse) exactGrams(e, cdat, g, gd);
    }
    const auto coef = basisCoef(e, g);
    auto combine = [&](const CaseChannel& ch, bool ffe) {
      std::vector<double> q = ctled(e, ch, coef);
      if (!ffe) return q;
      std::vector<double> h(q.size() + static_cast<std::size_t>(e.D * e.M), 0.0);
      for (int j = 0; j < e.K; ++j)
        for (std::size_t i = 0; i < q.size(); ++i)
          h[i + static_cast<std::size_t>(j * e.M)] += c.c[static_cast<std::size_t>(j)] * q[i];
      return h;
    };
    Scratch s;
    long long dummy = 0;
    const Eval ev = evaluate(e, cdat, gd, bt, -std::numeric_limits<double>::infinity(), s, dummy);
    // The receiver FFE, its cursor tap made 1, applied at the symbol spacing.
    std::vector<double> wn;
    if (e.mmse) {
      if (!ev.ok || ev.w.size() != static_cast<std::size_t>(e.Nw) ||
          !(ev.w[static_cast<std::size_t>(e.dw)] > 0))
        return fail(format(
            "case %zu: equalisation failed: the chosen equaliser gives no receiver FFE", ci + 1));
      wn = ev.w;
      for (double& v : wn) v /= ev.w[static_cast<std::size_t>(e.dw)];
    }
    auto equalised = [&](const CaseChannel& ch, bool ffe) {
      std::vector<double> h = combine(ch, ffe);
      if (!e.mmse) return h;
      std::vector<double> y(h.size() + static_cast<std::size_t>((e.Nw - 1) * e.M), 0.0);
      for (int j = 0; j < e.Nw; ++j)
        for (std::size_t i = 0; i < h.size(); ++i)
          y[i + static_cast<std::size_t>(j * e.M)] += wn[static_cast<std::size_t>(j)] * h[i];
      return y;
    };
    const std::vector<double> hv = equalised(cdat.ch[0], true);
    const long Lh = static_cast<long>(hv.size());
    auto H = [&](long t) { return t >= 0 && t < Lh ? hv[static_cast<std::size_t>(t)] : 0.0; };
    // Everything again from the explicit pulse, not from the search's shortcuts: the peak
    // over the whole window, the cursor, the DFE and every sum.
    long P = cdat.Pu - 20L * e.M;
    for (long t = cdat.Pu - 20L * e.M; t <= cdat.Pu + 20L * e.M; ++t)
      if (H(t) > H(P)) P = t;
    std::vector<double> hx(static_cast<std::size_t>(Lh) + 64L * e.M, 0.0);
    const long hxLo = -32L * e.M;
    for (long t = 0; t < Lh; ++t) hx[static_cast<std::size_t>(t - hxLo)] = H(t);
    long ts = ev.ts;
    if (e.mmse)
      ts = ev.ts + static_cast<long>(e.dw) * e.M;  // the sweep's point, through the taps' delay
    else if (!cursor(e, hx, hxLo, P, ts, [](long, long) {}))
      return fail(format(
          "case %zu: equalisation failed: the chosen equaliser gives no sampling point", ci + 1));
    const double h0 = H(ts);
    const double As = e.aS * h0;
    std::vector<double> hn(static_cast<std::size_t>(e.span) + 1),
        dfe(static_cast<std::size_t>(e.span) + 1);
    for (int n = 1; n <= e.span; ++n)
      hn[static_cast<std::size_t>(n - 1)] = H(ts + static_cast<long>(n) * e.M);
    if (e.mmse)
      std::copy(ev.b.begin(), ev.b.end(), dfe.begin());
    else
      dfeTaps(e, hn.data(), h0, dfe.data());
    dfe.resize(static_cast<std::size_t>(e.span));
    // Residual ISI samples (every UI but the cursor, less the DFE's part).
    std::vector<double> isi;
    double isi2 = 0;
    for (long t = ts - ((ts) / e.M) * e.M; t < Lh; t += e.M) {
      if (t == ts) continue;
      const long n = (t - ts) / e.M;
      double v = H(t);
      if (n >= 1 && n <= e.span) v -= dfe[static_cast<std::size_t>(n - 1)] * h0;
      isi.push_back(v);
      isi2 += v * v;
    }
    std::vector<double> hj;
    for (long t = ts - ((ts) / e.M) * e.M - e.M; t < Lh + 1; t += e.M)
      hj.push_back((H(t + 1) - H(t - 1)) * e.M / 2);
    double hj2 = 0;
    for (double v : hj) hj2 += v * v;
    // With a receiver FFE, the noises at its input filtered by it: Tx noise from the victim
    // without Tx FFE at the cursor phase, thermal from its lags, crosstalk from each
    // aggressor at its largest-energy phase; the figure of merit from these, the residual
    // ISI and the jitter of the equalised pulse.
    double sTx2 = h0 * h0 * e.txNoise, sN2 = gd.sN2, mmseFom = 0;
    if (e.mmse) {
      auto filtered = [&](const std::vector<double>& x, long ph) {
        std::vector<double> u;
        for (std::size_t t = static_cast<std::size_t>(ph); t < x.size();
             t += static_cast<std::size_t>(e.M))
          u.push_back(x[t]);
        double en = 0;
        for (std::size_t n = 0; n + 1 < u.size() + static_cast<std::size_t>(e.Nw); ++n) {
          double v = 0;
          for (std::size_t j = 0; j < wn.size(); ++j)
            if (n >= j && n - j < u.size()) v += wn[j] * u[n - j];
          en += v * v;
        }
        return en;
      };
      const long ph = ((ts % e.M) + e.M) % e.M;
      sTx2 = e.sx2 * e.txNoise * filtered(combine(cdat.ch[0], false), ph);
      sN2 = 0;
      for (int i = 0; i < e.Nw; ++i)
        for (int j = 0; j < e.Nw; ++j)
          sN2 += wn[static_cast<std::size_t>(i)] * wn[static_cast<std::size_t>(j)] *
                 gd.thermLag[static_cast<std::size_t>(std::abs(i - j))];
      double xt = 0;
      for (std::size_t k = 1; k < cdat.ch.size(); ++k) {
        const std::vector<double> ha = combine(cdat.ch[k], cdat.ch[k].kind == ChannelKind::fext);
        long m = 0;
        double best = -1;
        for (int q = 0; q < e.M; ++q) {
          double x = 0;
          for (std::size_t t = static_cast<std::size_t>(q); t < ha.size();
               t += static_cast<std::size_t>(e.M))
            x += ha[t] * ha[t];
          if (x > best) best = x, m = q;
        }
        xt += e.sx2 * filtered(ha, m);
      }
      mmseFom = fomOf(As, e.sx2 * isi2 + sTx2 + sN2 + xt +
                              e.sx2 * (p.ADD * p.ADD + p.sigmaRJ * p.sigmaRJ) * hj2);
    }
    double xtDirect = 0;
    if (e.ref && !e.mmse) {
      double x = gd.xtNext;
      for (std::size_t i = 0; i < e.nSum; ++i) {
        double w = 0;
        for (int b = 0; b < 4; ++b)
          w += gd.pc[static_cast<std::size_t>(b)] * cdat.Wf[i][static_cast<std::size_t>(b)];
        x += w * std::abs(txFfe(e.f[i], e.Tb, c.c, e.first));
      }
      xtDirect = cdat.xtScale * x;
    }
    double dy = std::min(As / 1000, 1e-5);
    {
      // The supports' extent; a bin so fine that they would span over 30,000 bins is
      // widened (only a nearly closed eye gets there).
      double extent = 0;
      for (double v : isi) extent += std::fabs(v);
      for (double v : hj) extent += p.ADD * std::fabs(v);
      for (std::size_t k = 1; k < cdat.ch.size(); ++k) {
        const std::vector<double> ha = equalised(cdat.ch[k], cdat.ch[k].kind == ChannelKind::fext);
        double m = 0;
        for (int ph = 0; ph < e.M; ++ph) {
          double x = 0;
          for (std::size_t t = static_cast<std::size_t>(ph); t < ha.size();
               t += static_cast<std::size_t>(e.M))
            x += std::fabs(ha[t]);
          m = std::max(m, x);
        }
        extent += m;
      }
      const double sG0 = std::sqrt(sTx2 + p.sigmaRJ * p.sigmaRJ * e.sx2 * hj2 + sN2);
      extent += (e.ref ? e.Q : 9) * sG0;
      if (2 * extent / dy > 3e4) {
        dy = 2 * extent / 3e4;
        e.warnings.push_back(
            format("case %zu: the eye is nearly closed; the noise distributions use %.3g uV bins",
                   ci + 1, dy * 1e6));
      }
    }
    const Pmf pIsi = symbolsPmf(isi, e.L, dy);
    // Crosstalk: per aggressor the phase with the largest spread.
    Pmf pNext, pFext;
    for (std::size_t k = 1; k < cdat.ch.size(); ++k) {
      const CaseChannel& a = cdat.ch[k];
      const std::vector<double> ha = equalised(a, a.kind == ChannelKind::fext);
      std::vector<double> smp;
      double bestV = -1;
      int bestPh = 0;
      for (int ph = 0; ph < e.M; ++ph) {
        smp.clear();
        for (std::size_t t = static_cast<std::size_t>(ph); t < ha.size();
             t += static_cast<std::size_t>(e.M))
          smp.push_back(ha[t]);
        double v = 0;
        if (e.ref)
          v = symbolsMeanSquare(smp, e.L, dy);
        else
          for (double x : smp) v += x * x;
        if (v > bestV) bestV = v, bestPh = ph;
      }
      if (!e.ref && !e.mmse) {
        double v = 0;
        for (std::size_t t = static_cast<std::size_t>(bestPh); t < ha.size();
             t += static_cast<std::size_t>(e.M))
          v += ha[t] * ha[t];
        xtDirect += e.sx2 * v;
      }
      smp.clear();
      for (std::size_t t = static_cast<std::size_t>(bestPh); t < ha.size();
           t += static_cast<std::size_t>(e.M))
        smp.push_back(ha[t]);
      Pmf pa = symbolsPmf(smp, e.L, dy);
      (a.kind == ChannelKind::next ? pNext : pFext) =
          convolve(a.kind == ChannelKind::next ? pNext : pFext, pa);
    }
    const Pmf pXt = convolve(pNext, pFext);
    std::vector<double> dd;
    for (double v : hj) dd.push_back(p.ADD * v);
    const Pmf pDd = symbolsPmf(dd, e.L, dy);
    const double sRj2 = p.sigmaRJ * p.sigmaRJ * e.sx2 * hj2;
    const double sG = std::sqrt(sTx2 + sRj2 + sN2);
    const double cut = e.ref ? e.Q * sG : 9 * sG;
    const Pmf pG = gaussianPmf(sG, cut, dy);
    const Pmf pN = convolve(pG, pDd);
    const Pmf total = convolve(convolve(pIsi, pXt), pN);
    const double y0 = firstAbove(total, dy, p.DER0);
    const double Ani = std::fabs(y0);
    if (y0 >= 0 || !(Ani > 0))
      return fail(format(
          "case %zu: the noise distribution does not reach the error ratio below zero", ci + 1));

    CaseResult cr;
    cr.As = As, cr.Ani = Ani;
    cr.com = 20 * std::log10(As / Ani);
    cr.fom = e.mmse ? mmseFom
                    : fomOf(As, sTx2 + e.sx2 * isi2 +
                                    e.sx2 * (p.ADD * p.ADD + p.sigmaRJ * p.sigmaRJ) * hj2 +
                                    xtDirect + gd.sN2);
    cr.searchFom = ev.fom;
    cr.sigmaIsi = pIsi.stddev(dy), cr.sigmaXt = pXt.stddev(dy), cr.sigmaDd = pDd.stddev(dy);
    cr.sigmaG = sG, cr.sigmaTx = std::sqrt(sTx2), cr.sigmaN = std::sqrt(sN2),
    cr.sigmaRj = std::sqrt(sRj2);
    cr.unequalisedPeak = raw[static_cast<std::size_t>(Pu)];
    cr.cursorSample = static_cast<int>(ts);
    cr.gDC = g.gdc, cr.gDC2 = g.gdc2;
    cr.txTaps = c.c;
    cr.txCursor = -e.first;
    cr.dfeTaps = dfe;
    cr.rxffeTaps = wn;
    cr.rxffeCursor = e.mmse ? e.dw : 0;
    cr.candidates = fullCount.load() + localCount;
    cr.gridSize = grid;
    cr.localDiffers = localDiffers;
    for (const CandidateList::Entry& k : kept.entries())
      cr.topCandidates.push_back({e.tx[k.tx].c, e.ctl[k.ctl].gdc, e.ctl[k.ctl].gdc2, k.fom});
    cr.views = caseViews(e, g, c, wn, hv, raw, ts, dfe, dy, total, pXt, pG, threads);
    const auto t3 = std::chrono::steady_clock::now();
    cr.seconds = std::chrono::duration<double>(t3 - t0).count();
    cr.pulseSeconds = std::chrono::duration<double>(t1 - t0).count();
    cr.searchSeconds = std::chrono::duration<double>(t2 - t1).count();
    cr.marginSeconds = std::chrono::duration<double>(t3 - t2).count();
    auto ms = [](auto a, auto b) {
      return std::chrono::duration<double, std::milli>(b - a).count();
    };
    out.value.log.push_back(
        format("case %zu: COM %.3f dB, FOM %.3f dB at gDC %g gDC2 %g; %lld of %lld candidates "
               "evaluated in full; "
               "thru pulse %zu UI; pulses %.1f ms, search %.1f ms, margin %.1f ms%s",
               ci + 1, cr.com, cr.searchFom, g.gdc, g.gdc2, cr.candidates, grid,
               raw.size() / static_cast<std::size_t>(e.M), ms(t0, t1), ms(t1, t2), ms(t2, t3),
               localDiffers ? "; the local search's choice differs from the grid's optimum" : ""));
    if (listed > 0)
      for (const std::string& line : neighbourLines(p, channels, ci, cr))
        out.value.log.push_back(line);
    out.value.cases.push_back(std::move(cr));
  }
  out.value.com = std::numeric_limits<double>::infinity();
  out.value.pass = true;
  for (const CaseResult& cr : out.value.cases) {
    out.value.com = std::min(out.value.com, cr.com);
    if (!(cr.com >= p.passThreshold)) out.value.pass = false;
  }
  out.value.warnings = e.warnings;
  out.value.log.push_back(
      format("COM took %.3f s",
             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()));
  return out;
}

}  // namespace brevo::com
