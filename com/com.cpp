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
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>

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
  const int half = static_cast<int>(X.size()) - 1;
  const int N = 2 * half;
  fftw_complex* in = fftw_alloc_complex(static_cast<std::size_t>(half + 1));
  double* out = fftw_alloc_real(static_cast<std::size_t>(N));
  fftw_plan plan;
  {
    const std::lock_guard<std::mutex> hold(fftwPlannerLock());
    plan = fftw_plan_dft_c2r_1d(N, in, out, FFTW_ESTIMATE);
  }
  for (int k = 0; k <= half; ++k) {
    in[k][0] = X[static_cast<std::size_t>(k)].real();
    in[k][1] = (k == 0 || k == half) ? 0.0 : X[static_cast<std::size_t>(k)].imag();
  }
  fftw_execute(plan);
  std::vector<double> h(out, out + N);
  for (double& v : h) v /= N;
  {
    const std::lock_guard<std::mutex> hold(fftwPlannerLock());
    fftw_destroy_plan(plan);
  }
  fftw_free(in);
  fftw_free(out);
  return h;
}

// ---------------------------------------------------------------- IIR (bilinear CTLE)

// y = H(x) for H(s) = (n0 + n1 s)/(d0 + d1 s + d2 s^2) by the bilinear transform with
// step T, output as long as the input.
std::vector<double> bilinear(const std::vector<double>& x, double T, double n0, double n1, double d0,
                             double d1, double d2) {
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
  const double a0 = d0 + d1 * K + d2 * K * K, a1 = 2 * d0 - 2 * d2 * K * K, a2 = d0 - d1 * K + d2 * K * K;
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
  int i1, i2;   // grid indices
};

struct TxCand {
  std::vector<double> c;   // K coefficients, offsets first..last
  std::vector<int> idx;    // grid index per column
};

struct ChannelGrid {
  ChannelKind kind;
  std::vector<cd> s11, s12, s21, s22;   // on the thru's points
};

// One channel of one package case, ready for the search.
struct CaseChannel {
  ChannelKind kind;
  double A = 0;
  std::vector<cd> vtf;                  // on the file points: terminated, receiver filter (and Tx edge)
  std::vector<double> raw;              // pulse without CTLE, volts
  std::vector<std::vector<double>> basis;   // CTLE basis pulses, volts
};

struct Engine {
  explicit Engine(const Params& params) : p(params) {}
  const Params& p;
  bool ref = true;
  int M = 32, L = 2, K = 1, first = 0, D = 0, nBasis = 2;
  double Tb = 0, dt = 0, sx2 = 1, txNoise = 0, aS = 1;
  std::vector<double> f;                // file points
  double dfFile = 0;
  std::size_t nSum = 0;                 // points of the averaged crosstalk sum
  int half = 0;                         // uniform grid 0..half
  double df = 0;
  std::vector<double> uf;
  std::vector<ChannelGrid> chans;
  std::vector<TxCand> tx;
  std::vector<Ctl> ctl;
  std::vector<std::string> warnings, log;
  int span = 0;                         // DFE span in UI (fixed or floating)
  std::vector<double> bmax, bmin;       // per tap 1..span
  double Q = 0;
};

// Basis coefficients of a CTLE setting, matching the basis order.
std::array<double, 4> basisCoef(const Engine& e, const Ctl& g) {
  if (e.nBasis == 2) return {g.g1, 1, 0, 0};
  return {g.g1 * g.g2, g.g1, g.g2, 1};
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
  const std::vector<double>& txLen =
      ch.kind == ChannelKind::thru ? pc.tx : ch.kind == ChannelKind::next ? (pc.next.empty() ? pc.tx : pc.next)
                                                                        : (pc.fext.empty() ? pc.tx : pc.fext);
  const std::vector<double>& rxLen = pc.rx.empty() ? pc.tx : pc.rx;
  TwoPort t = side(p.pkgTx, txLen);
  TwoPort board = identity();
  if (p.includePcb) {
    board = cascade(shuntC(fr, p.C0, p.R0),
                    cascade(line(fr, p.zbp, p.boardZc, p.R0, p.boardGamma0, p.boardA1, p.boardA2, p.boardTau),
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

// The channel's pulses for one case; false with why when the response cannot be formed.
bool buildChannel(const Engine& e, const ChannelGrid& ch, const PackageCase& pc, CaseChannel& out,
                  std::string& why) {
  const Params& p = e.p;
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
  std::vector<cd> X;
  if (!resample(e.f, e.ref ? out.vtf : h21, e.uf, e.uf.back(), X, why)) return false;
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
      out.basis = {bilinear(a1, e.dt, 1, 0, 1, 1 / wlf, 0), bilinear(a1, e.dt, 0, 1 / wlf, 1, 1 / wlf, 0),
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
  return true;
}

// ---------------------------------------------------------------- per CTLE setting

// A pulse held with zero guards on both sides, so shifted reads need no checks.
struct Guarded {
  std::vector<double> v;
  long off = 0;   // v[off + t] is sample t
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
    for (int d = 0; d <= D; ++d) R[static_cast<std::size_t>(ph * (D + 1) + d)] += a * x.at(t + d * M);
  }
  return R;
}

struct CtlData {
  Guarded q;                     // victim pulse with this CTLE
  Guarded dq;                    // its +-1 sample difference times M/2
  std::vector<double> qd;        // q by phase: row p holds q(p + uM), u from -qdPad
  long qdLen = 0, qdPad = 0;
  std::vector<double> R, RJ;     // phase Grams
  double qmax = 0, sN2 = 0;
  long Pc = 0;                   // h' coordinates of the expected peak
  std::vector<double> omax;      // per UI away from the peak window, per tap: bound of |q|
  std::array<double, 4> pc{};    // power coefficients
  double xtNext = 0;             // crosstalk not depending on the Tx taps
  std::vector<std::vector<double>> xtR;   // text mode: FEXT Grams per aggressor
};

struct Eval {
  bool ok = false;
  double fom = -std::numeric_limits<double>::infinity();
  long ts = 0;
  double h0 = 0, isi2 = 0, j2 = 0, xt2 = 0, n2 = 0, tx2 = 0;
};

struct CaseData {
  std::vector<CaseChannel> ch;
  long Pu = 0;                   // h' coordinates of the unequalised peak
  long guard = 0;
  // Averaged crosstalk (reference): per Tx candidate four sums, and per basis the NEXT sums.
  std::vector<std::array<double, 4>> E;
  std::array<double, 4> nextSum{};
  std::vector<std::array<double, 4>> Wf;   // per file point up to nSum: FEXT weights per basis
  double xtScale = 0;
};

double ctlePower(const Engine& e, double f, const Ctl& g) {
  const cd h = ctle(f, e.p, g.g1, g.g2);
  return std::norm(h);
}

void prepareCtl(const Engine& e, const CaseData& cd_, const Ctl& g, CtlData& out) {
  const CaseChannel& v = cd_.ch[0];
  const auto coef = basisCoef(e, g);
  std::vector<double> q(v.raw.size(), 0.0);
  for (int b = 0; b < e.nBasis; ++b)
    for (std::size_t i = 0; i < q.size(); ++i) q[i] += coef[static_cast<std::size_t>(b)] * v.basis[static_cast<std::size_t>(b)][i];
  const long Lq = static_cast<long>(q.size());
  out.q = guarded(q, cd_.guard);
  std::vector<double> dq(q.size() + 2);
  for (long t = -1; t <= Lq; ++t)
    dq[static_cast<std::size_t>(t + 1)] = (out.q.at(t + 1) - out.q.at(t - 1)) * e.M / 2;
  out.dq = guarded(dq, cd_.guard);
  out.dq.off += 1;   // sample -1 sits at index 0 of the copy
  out.R = phaseGram(out.q, 0, Lq, e.M, e.D);
  out.qdPad = static_cast<long>(e.K + 30);
  out.qdLen = (Lq + e.M - 1) / e.M + 2 * out.qdPad + e.span + 8;
  out.qd.assign(static_cast<std::size_t>(e.M) * static_cast<std::size_t>(out.qdLen), 0.0);
  for (long t = 0; t < Lq; ++t)
    out.qd[static_cast<std::size_t>((t % e.M) * out.qdLen + out.qdPad + t / e.M)] = out.q.at(t);
  out.RJ = phaseGram(out.dq, -1, Lq + 1, e.M, e.D);
  long pk = 0;
  out.qmax = 0;
  double best = -std::numeric_limits<double>::infinity();
  // The peak of this CTLE's pulse within the reference window (cursor tap's frame).
  const long off0 = static_cast<long>(-e.first) * e.M;
  const long wlo = std::max(0L, cd_.Pu - off0 - 20L * e.M), whi = std::min(Lq - 1, cd_.Pu - off0 + 20L * e.M);
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
  out.pc = powerCoef(e, g);
  // Crosstalk parts that do not depend on the Tx taps.
  out.xtNext = 0;
  out.xtR.clear();
  if (e.ref) {
    double x = 0;
    for (int b = 0; b < 4; ++b) x += out.pc[static_cast<std::size_t>(b)] * cd_.nextSum[static_cast<std::size_t>(b)];
    out.xtNext = x;
  } else {
    for (std::size_t k = 1; k < cd_.ch.size(); ++k) {
      const CaseChannel& a = cd_.ch[k];
      std::vector<double> qa(a.raw.size(), 0.0);
      for (int b = 0; b < e.nBasis; ++b)
        for (std::size_t i = 0; i < qa.size(); ++i) qa[i] += coef[static_cast<std::size_t>(b)] * a.basis[static_cast<std::size_t>(b)][i];
      const Guarded ga = guarded(qa, cd_.guard);
      const std::vector<double> R = phaseGram(ga, 0, static_cast<long>(qa.size()), e.M, e.D);
      if (a.kind == ChannelKind::next) {
        double m = 0;
        for (int ph = 0; ph < e.M; ++ph) m = std::max(m, R[static_cast<std::size_t>(ph * (e.D + 1))]);
        out.xtNext += e.sx2 * m;
      } else {
        out.xtR.push_back(R);
      }
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
      const double m = p.cursorRule == CursorRule::mm ? std::fabs(h(t - M) - std::max(h(t + M) - bmax1 * h(t), 0.0))
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
    b[n] = std::min(e.bmax[static_cast<std::size_t>(n)], std::max(e.bmin[static_cast<std::size_t>(n)], hn[n] / h0));
  const int nStarts = span - p.Nb - p.Nbf + 1;   // starts Nb+1 .. Nf-Nbf+1
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
      double low = std::numeric_limits<double>::infinity(), high = -std::numeric_limits<double>::infinity();
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
        if (adj >= 0 && !overlaps(adj) && k + 1 < ns && rank[adj] < rank[order[k + 1]]) chosen[nChosen++] = adj;
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
};

// The averaged (reference) or worst-phase (text) crosstalk of the figure of merit.
double crosstalk2(const Engine& e, const CaseData& c, const CtlData& g, std::size_t t, const double* ac) {
  if (e.ref) {
    double x = g.xtNext;
    const auto& E = c.E[t];
    for (int b = 0; b < 4; ++b) x += g.pc[static_cast<std::size_t>(b)] * E[static_cast<std::size_t>(b)];
    return c.xtScale * x;
  }
  double x = g.xtNext;
  for (const auto& R : g.xtR) {
    double m = 0;
    for (int ph = 0; ph < e.M; ++ph) m = std::max(m, quad(&R[static_cast<std::size_t>(ph * (e.D + 1))], ac, e.D));
    x += e.sx2 * m;
  }
  return x;
}

// One candidate; `best` prunes (a candidate whose bound is below it cannot win). The
// DFE taps are left in s.b.
Eval evaluate(const Engine& e, const CaseData& c, const CtlData& g, std::size_t t, double best, Scratch& s,
              long long& full) {
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
  const double xt2 = crosstalk2(e, c, g, t, ac);
  const double base = g.sN2 + xt2;
  auto bound = [&](double hm) { return fomOf(e.aS * hm, hm * hm * e.txNoise + base); };
  double sumAbs = 0;
  for (int j = 0; j < K; ++j) sumAbs += std::fabs(cc[j]);
  if (bound(g.qmax * sumAbs) < best - 1e-9) return r;
  // h' around the expected peak, h'(s) = sum_j c_j q(s - jM), filled on demand from the
  // middle of a 12 UI window outwards.
  const long lo = g.Pc - 7L * M, hi = g.Pc + 5L * M;
  s.w.resize(static_cast<std::size_t>(hi - lo + 1));
  long clo = 0, chi = -1;   // the filled part, window indices
  auto fill = [&](long a, long b) {   // window indices, inclusive
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
  auto need = [&](long a, long b) {   // window coordinates of h'
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
    if (s.w[static_cast<std::size_t>(t2 - lo)] > hp) hp = s.w[static_cast<std::size_t>(t2 - lo)], P = t2;
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
      if (s.wide[static_cast<std::size_t>(t2 - wlo)] > hp) hp = s.wide[static_cast<std::size_t>(t2 - wlo)], P = t2;
    win = &s.wide;
  }
  if (!(hp > 0) || bound(hp) < best - 1e-9) return r;
  long ts = 0;
  if (!(win == &s.w ? cursor(e, *win, wlo, P, ts, need) : cursor(e, *win, wlo, P, ts, [](long, long) {}))) return r;
  ++full;
  const double h0 = (*win)[static_cast<std::size_t>(ts - wlo)];
  if (!(h0 > 0)) return r;
  const long ph = ((ts % M) + M) % M;
  // Post-cursor samples for the DFE, from this phase's row of baud-rate samples.
  s.hn.resize(static_cast<std::size_t>(e.span) + 1);
  s.b.resize(static_cast<std::size_t>(e.span) + 1);
  double* hn = s.hn.data();
  {
    const long n0 = (ts - ph) / M;
    const double* row = g.qd.data() + static_cast<std::size_t>(ph) * static_cast<std::size_t>(g.qdLen) + g.qdPad + n0;
    for (int n = 1; n <= e.span; ++n) hn[n - 1] = cc[0] * row[n];
    for (int j = 1; j < K; ++j) {
      const double cj = cc[j];
      const double* r = row - j;
      for (int n = 1; n <= e.span; ++n) hn[n - 1] += cj * r[n];
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
  r.j2 = e.sx2 * (e.p.ADD * e.p.ADD + e.p.sigmaRJ * e.p.sigmaRJ) * quad(&g.RJ[static_cast<std::size_t>(ph * (D + 1))], ac, D);
  r.tx2 = h0 * h0 * e.txNoise;
  r.xt2 = xt2;
  r.n2 = g.sN2;
  r.h0 = h0;
  r.ts = ts;
  r.fom = fomOf(e.aS * h0, r.tx2 + r.isi2 + r.j2 + r.xt2 + r.n2);
  r.ok = std::isfinite(r.fom);
  return r;
}

// ---------------------------------------------------------------- views of the chosen equaliser

// The pulses, responses, bathtub and eye contour of the chosen equaliser. hv is the
// equalised victim pulse (Tx FFE and CTLE), raw the unequalised one (sample i of raw is
// sample i - first*M of hv), ts the sampling point, dfe its taps; total is the distribution
// the margin came from, pXt and pG its crosstalk and Gaussian parts, on bins of dy.
CaseViews caseViews(const Engine& e, const Ctl& g, const TxCand& c, const std::vector<double>& hv,
                    const std::vector<double>& raw, long ts, const std::vector<double>& dfe, double dy,
                    const Pmf& total, const Pmf& pXt, const Pmf& pG, unsigned threads) {
  const Params& p = e.p;
  const long M = e.M, Lh = static_cast<long>(hv.size());
  auto H = [&](long t) { return t >= 0 && t < Lh ? hv[static_cast<std::size_t>(t)] : 0.0; };
  const double h0 = H(ts);
  CaseViews v;
  // Pulses: 10 UI before the sampling point to 10 UI after the DFE span.
  const long from = std::max(0L, ts - 10 * M), to = std::min(Lh - 1, ts + (std::max(e.span, 10) + 10) * M);
  const long shift = static_cast<long>(e.first) * M;
  v.samplesPerUi = e.M;
  v.firstUi = static_cast<double>(from - ts) / static_cast<double>(M);
  for (long t = from; t <= to; ++t) {
    const long r = t + shift;
    v.equalised.push_back(H(t));
    v.unequalised.push_back(r >= 0 && r < static_cast<long>(raw.size()) ? raw[static_cast<std::size_t>(r)] : 0.0);
  }
  v.cursor = static_cast<int>(ts - from);
  if (!dfe.empty()) v.dfeFirst = v.cursor + e.M, v.dfeLast = v.cursor + static_cast<int>(dfe.size()) * e.M;
  // Responses from DC to the symbol rate.
  constexpr int kPoints = 200;
  for (int k = 0; k <= kPoints; ++k) {
    const double f = p.fb * k / kPoints;
    v.f.push_back(f);
    v.txFfeDb.push_back(20 * std::log10(std::abs(txFfe(f, e.Tb, c.c, e.first))));
    v.ctleDb.push_back(20 * std::log10(std::abs(ctle(f, p, g.g1, g.g2))));
  }
  // The bathtub, every bin down to far below the error ratio; long ones keep every n-th bin,
  // counted from the bin of Ani so that the crossing stays exact.
  lowerTail(total, dy, std::min(1e-15, p.DER0 * 1e-3), v.amplitude, v.probability);
  if (v.amplitude.size() > 1000) {
    const std::size_t n = (v.amplitude.size() + 999) / 1000;
    const std::size_t at = static_cast<std::size_t>(std::lround(-firstAbove(total, dy, p.DER0) / dy));
    std::vector<double> a, pr;
    for (std::size_t i = at % n; i < v.amplitude.size(); i += n) a.push_back(v.amplitude[i]), pr.push_back(v.probability[i]);
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
      for (long t = t0 - (t0 / M) * M - M; t < Lh + 1; t += M) dd.push_back(p.ADD * (H(t + 1) - H(t - 1)) * e.M / 2);
      for (long t = t0 - (t0 / M) * M; t < Lh; t += M) {
        if (t == t0) continue;
        const long n = (t - t0) / M;
        isi.push_back(H(t) - (n >= 1 && n <= e.span ? dfe[static_cast<std::size_t>(n - 1)] * h0 : 0.0));
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

std::string checkParams(const Params& p) {
  if (!(p.fb > 0) || !std::isfinite(p.fb)) return "the symbol rate is not positive";
  if (p.L < 2 || p.L > 16) return "the number of levels must be 2 to 16";
  if (p.M < 4 || p.M > 1024) return "the samples per UI must be 4 to 1024";
  if (!(p.DER0 > 0 && p.DER0 < 0.5)) return "the detector error ratio must lie between 0 and 0.5";
  if (!(p.Av > 0)) return "the thru amplitude is not positive";
  if (!(p.fz > 0 && p.fp1 > 0)) return "the CTLE zero and first pole must be positive";
  if (p.twoStage && !(p.fLF > 0)) return "the second CTLE stage needs its pole-zero frequency";
  if (!(p.fr > 0)) return "the receiver bandwidth must be positive";
  if (p.cases.empty()) return "no package case";
  if (p.Nb < 0 || p.Nb > 1000) return "the number of DFE taps is out of range";
  if (static_cast<int>(p.bmax.size()) < p.Nb) return "fewer DFE limits than DFE taps";
  if (!p.bmin.empty() && static_cast<int>(p.bmin.size()) < p.Nb) return "fewer lower DFE limits than DFE taps";
  if (p.Nbg > 0 && (p.Nbf <= 0 || p.Nf <= p.Nb)) return "floating DFE taps need a bank size and a span beyond the fixed taps";
  if (p.rxffePre + p.rxffePost > 0) return "a receiver FFE (MMSE) is not supported by this engine";
  for (const TxTap& t : p.txTaps)
    if (t.index == 0 || t.index < -8 || t.index > 8) return "a Tx tap index must be -8..-1 or 1..8";
  if (p.pkgTx.Cd.size() > 8 || p.pkgRx.Cd.size() > 8) return "too many die ladder stages";
  return {};
}

}  // namespace

Outcome computeCom(const Params& p, const std::vector<Channel>& channels) {
  Outcome out;
  auto fail = [&](std::string why) {
    out.ok = false;
    out.reason = std::move(why);
    return out;
  };
  const auto start = std::chrono::steady_clock::now();
  if (std::string why = checkParams(p); !why.empty()) return fail(why);
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

  // Channels: sizes, order, finiteness, one grid.
  const Channel& thru = channels[0];
  for (std::size_t k = 0; k < channels.size(); ++k) {
    const Channel& c = channels[k];
    const std::size_t n = c.f.size();
    const std::string name = c.name.empty() ? format("channel %zu", k + 1) : c.name;
    if (n < 3) return fail(name + ": fewer than 3 frequency points");
    if (c.sdd21.size() != n || c.sdd11.size() != n || c.sdd22.size() != n || (!c.sdd12.empty() && c.sdd12.size() != n))
      return fail(name + ": parameters and frequencies differ in number");
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isfinite(c.f[i]) || c.f[i] < 0) return fail(name + ": a frequency is not a finite non-negative number");
      if (i > 0 && !(c.f[i] > c.f[i - 1])) return fail(format("%s: frequency %zu (%g Hz) is not above the one before it", name.c_str(), i + 1, c.f[i]));
    }
    if (!finiteAll(c.sdd21) || !finiteAll(c.sdd11) || !finiteAll(c.sdd22) || !finiteAll(c.sdd12))
      return fail(name + ": a parameter value is not a finite number");
    if (k == 0 && c.kind != ChannelKind::thru) return fail("the first channel must be the thru");
    if (k > 0 && c.kind == ChannelKind::thru) return fail(name + ": a second thru among the aggressors");
  }
  e.f = thru.f;
  const std::size_t nf = e.f.size();
  e.dfFile = e.f[2] - e.f[1];
  if (e.f.back() < p.fb)
    e.warnings.push_back(format("%s ends at %.4g GHz, below the symbol rate %.4g GBd: the response above is extrapolated",
                                thru.name.c_str(), e.f.back() * 1e-9, p.fb * 1e-9));
  if (e.f.front() > p.fMin && p.fMin > 0)
    e.warnings.push_back(format("%s starts at %.4g GHz, above %.4g GHz: the response below is extrapolated",
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
      std::string why;
      auto onto = [&](const std::vector<cd>& v, std::vector<cd>& o) {
        return resample(c.f, v, e.f, p.M * p.fb / 2, o, why) || (o.assign(nf, cd(0)), false);
      };
      // Reflections need not be causal: they are taken magnitude and phase all the same.
      if (!onto(c.sdd21, g.s21)) return fail(c.name + ": " + why);
      onto(s12, g.s12), onto(c.sdd11, g.s11), onto(c.sdd22, g.s22);
      if (g.s12.size() != nf) g.s12 = g.s21;
      e.warnings.push_back(format("%s is on other frequencies than the thru (%zu points to %.4g GHz): interpolated onto the thru's",
                                  c.name.c_str(), c.f.size(), c.f.back() * 1e-9));
    }
    if (&c != &thru && c.f.back() < p.fb)
      e.warnings.push_back(format("%s ends at %.4g GHz, below the symbol rate: extrapolated", c.name.c_str(), c.f.back() * 1e-9));
    e.chans.push_back(std::move(g));
  }
  // The transform grid.
  const double top = p.M * p.fb / 2;
  const double halfD = std::round(top / e.dfFile);
  if (!(halfD >= 1)) return fail("the frequency step is larger than the transform's top frequency");
  if (halfD > 2e6)
    return fail(format("the transform grid would have %.0f points (step %.4g MHz to %.4g GHz); at most 4 million are handled",
                       2 * halfD, e.dfFile * 1e-6, top * 1e-9));
  e.half = static_cast<int>(halfD);
  e.df = top / e.half;
  e.uf.resize(static_cast<std::size_t>(e.half) + 1);
  for (int k = 0; k <= e.half; ++k) e.uf[static_cast<std::size_t>(k)] = k * e.df;
  const double spanUi = 1 / (e.df * e.Tb);
  e.span = p.Nbg > 0 ? std::max(p.Nb, p.Nf) : p.Nb;
  if (spanUi < e.span + 30)
    return fail(format("the thru's frequency step of %.4g MHz gives a time span of %.1f UI, shorter than the %d UI the pulse needs",
                       e.dfFile * 1e-6, spanUi, e.span + 30));
  e.nSum = 0;
  while (e.nSum < nf && (e.nSum == 0 || e.f[e.nSum - 1] <= p.fb)) ++e.nSum;
  // DFE limits over the whole span (floating positions get their limit when chosen).
  e.bmax.assign(static_cast<std::size_t>(e.span), 0.0);
  e.bmin.assign(static_cast<std::size_t>(e.span), 0.0);
  for (int n = 0; n < p.Nb; ++n) {
    e.bmax[static_cast<std::size_t>(n)] = p.bmax[static_cast<std::size_t>(n)];
    e.bmin[static_cast<std::size_t>(n)] = p.bmin.empty() ? -p.bmax[static_cast<std::size_t>(n)] : p.bmin[static_cast<std::size_t>(n)];
  }

  // Sweeps so long the search would run for minutes are refused before they are made.
  auto count = [](const Sweep& w) {
    return w.step == 0 || w.min == w.max ? 1.0 : std::floor((w.max - w.min) / w.step + 1e-9) + 1;
  };
  {
    double txCount = 1, ctlCount = count(p.gDC) * (p.twoStage ? count(p.gDC2) : 1);
    for (const TxTap& t : p.txTaps) txCount *= count(t.values);
    if (!std::isfinite(txCount * ctlCount) || ctlCount > 20000 || txCount * ctlCount * static_cast<double>(p.cases.size()) > 1e9)
      return fail(format("the search grid has %.4g Tx x %.4g CTLE settings in %zu package cases; that would take over a minute",
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
  long long rows = 1;
  for (const auto& c : cols) rows *= static_cast<long long>(c.size());
  if (rows > 50'000'000) return fail(format("the Tx FFE grid has %lld settings; at most 50 million are searched", rows));
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
      const bool valid = e.ref ? !(c0 < p.c0min) : 1'000'000'000LL - isum >= std::llround(p.c0min * 1e9);
      if (valid) {
        c.c[static_cast<std::size_t>(-lo)] = e.ref ? c0 : static_cast<double>(1'000'000'000LL - isum) * 1e-9;
        c.idx = idx;
        e.tx.push_back(std::move(c));
      }
      for (int j = static_cast<int>(cols.size()) - 1; j >= 0; --j) {
        if (++idx[static_cast<std::size_t>(j)] < static_cast<int>(cols[static_cast<std::size_t>(j)].size())) break;
        idx[static_cast<std::size_t>(j)] = 0;
      }
    }
  }
  if (e.tx.empty()) return fail("no Tx FFE setting meets the cursor tap's minimum");
  // CTLE settings in the reference order: gDC outer, gDC2 inner.
  {
    const std::vector<double> g1v = sweepValues(p.gDC, colon);
    const std::vector<double> g2v = p.twoStage ? sweepValues(p.gDC2, colon) : std::vector<double>{0.0};
    std::vector<std::pair<double, std::vector<double>>> qual;
    for (std::size_t k = 0; k < p.g2Qual.size() && k < p.gQual.size(); ++k) qual.emplace_back(p.g2Qual[k], p.gQual[k]);
    std::stable_sort(qual.begin(), qual.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t a = 0; a < g1v.size(); ++a)
      for (std::size_t b = 0; b < g2v.size(); ++b) {
        const double x = g1v[a], y = g2v[b];
        if (!qual.empty()) {
          int row = -1;
          if (y == qual[0].first) row = 0;
          for (std::size_t k = 1; k < qual.size() && row < 0; ++k)
            if (y >= qual[k].first && y < qual[k - 1].first) row = static_cast<int>(k);
          if (row < 0 || qual[static_cast<std::size_t>(row)].second.size() < 2) continue;
          const double ghi = qual[static_cast<std::size_t>(row)].second[0], glo = qual[static_cast<std::size_t>(row)].second[1];
          if (!(x >= glo && x < ghi)) continue;
        }
        if (p.gdcMin != 0 && x + y > p.gdcMin) continue;
        e.ctl.push_back({x, y, std::pow(10.0, x / 20), std::pow(10.0, y / 20), static_cast<int>(a), static_cast<int>(b)});
      }
  }
  if (e.ctl.empty()) return fail("no CTLE setting is allowed");
  const long long grid = static_cast<long long>(e.tx.size()) * static_cast<long long>(e.ctl.size());
  const long long totalWork = grid * static_cast<long long>(p.cases.size());
  if (totalWork > 40'000'000)
    return fail(format("the search grid has %lld candidates (%zu Tx x %zu CTLE settings) in %zu package cases; "
                       "that would take over a minute",
                       grid, e.tx.size(), e.ctl.size(), p.cases.size()));
  if (p.sampleAdjustMin != 0 || p.sampleAdjustMax != 0)
    e.warnings.push_back("the sampling-point sweep (sample adjustment) is not applied: the cursor rule alone sets it");

  const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 64u));
  const unsigned threads = p.threads > 0 ? std::min(static_cast<unsigned>(p.threads), cores) : cores;
  out.result.log.push_back(format("COM %s convention, %s search; grid %zu Tx x %zu CTLE = %lld candidates per case; "
                                  "transform %d points, step %.4g MHz; %u threads",
                                  e.ref ? "reference" : "ieee", p.search == Search::local && p.localSearch > 0 ? "local" : "exhaustive",
                                  e.tx.size(), e.ctl.size(), grid, 2 * e.half, e.df * 1e-6, threads));

  out.result.setupSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Cosines of the crosstalk sum's points, shared by the cases.
  std::vector<double> cosTable;   // (D+1) x nSum, only for the reference convention
  for (std::size_t ci = 0; ci < p.cases.size(); ++ci) {
    const PackageCase& pcase = p.cases[ci];
    const auto t0 = std::chrono::steady_clock::now();
    CaseData cdat;
    cdat.ch.resize(e.chans.size());
    {
      // The channels' pulses, each on its own (their transforms are independent).
      std::vector<std::string> whys(e.chans.size());
      std::vector<char> built(e.chans.size(), 0);
      std::atomic<std::size_t> nextChannel{0};
      auto build = [&] {
        for (std::size_t k; (k = nextChannel.fetch_add(1)) < e.chans.size();)
          built[k] = buildChannel(e, e.chans[k], pcase, cdat.ch[k], whys[k]) ? 1 : 0;
      };
      std::vector<std::thread> pool;
      for (unsigned w = 1; w < threads; ++w) pool.emplace_back(build);
      build();
      for (auto& th : pool) th.join();
      for (std::size_t k = 0; k < e.chans.size(); ++k)
        if (!built[k]) return fail(channels[k].name + ": " + whys[k]);
    }
    const std::vector<double>& raw = cdat.ch[0].raw;
    long Pu = 0;
    for (long t = 0; t < static_cast<long>(raw.size()); ++t)
      if (raw[static_cast<std::size_t>(t)] > raw[static_cast<std::size_t>(Pu)]) Pu = t;
    if (Pu < 4L * e.M + 1)
      return fail("the thru's pulse peaks within its first 4 UI: the response is too short or not causal");
    cdat.Pu = Pu - static_cast<long>(e.first) * e.M;
    cdat.guard = static_cast<long>(e.K + 30 + e.span) * e.M;
    const auto t1 = std::chrono::steady_clock::now();
    // Averaged crosstalk: per-basis weights and the per-Tx sums.
    if (e.ref) {
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
        double den = std::norm((1.0 + kJ * (fr / p.fp1)) * (p.fp2 > 0 ? 1.0 + kJ * (fr / p.fp2) : cd(1)));
        if (p.twoStage) den *= std::norm(1.0 + kJ * (fr / p.fLF));
        const double a = (fr / p.fz) * (fr / p.fz), b = p.twoStage ? (fr / p.fLF) * (fr / p.fLF) : 0;
        const std::array<double, 4> pw = p.twoStage ? std::array<double, 4>{1, b, a, a * b} : std::array<double, 4>{1, a, 0, 0};
        const double w = sinc * sinc / den;
        for (int q = 0; q < 4; ++q) {
          cdat.Wf[i][static_cast<std::size_t>(q)] = w * p.Afe * p.Afe * fext * pw[static_cast<std::size_t>(q)];
          cdat.nextSum[static_cast<std::size_t>(q)] += w * p.Ane * p.Ane * next * pw[static_cast<std::size_t>(q)];
        }
      }
      // |H_ffe|^2 = ac(0) + 2 sum_d ac(d) cos(2 pi f d Tb), ac the taps' autocorrelation.
      if (cosTable.empty()) {
        cosTable.resize(static_cast<std::size_t>(e.D + 1) * e.nSum);
        for (int d = 0; d <= e.D; ++d)
          for (std::size_t i = 0; i < e.nSum; ++i)
            cosTable[static_cast<std::size_t>(d) * e.nSum + i] = d == 0 ? 1.0 : 2 * std::cos(2 * kPi * e.f[i] * d * e.Tb);
      }
      std::vector<double> wf(4 * e.nSum);   // per basis, contiguous
      for (std::size_t i = 0; i < e.nSum; ++i)
        for (int q = 0; q < 4; ++q) wf[static_cast<std::size_t>(q) * e.nSum + i] = cdat.Wf[i][static_cast<std::size_t>(q)];
      cdat.E.assign(e.tx.size(), {0, 0, 0, 0});
      auto work = [&](std::size_t from, std::size_t to) {
        std::vector<double> mag(e.nSum);
        for (std::size_t t = from; t < to; ++t) {
          const std::vector<double>& c = e.tx[t].c;
          std::fill(mag.begin(), mag.end(), 0.0);
          for (int d = 0; d <= e.D; ++d) {
            double ac = 0;
            for (int j = 0; j + d < e.K; ++j) ac += c[static_cast<std::size_t>(j)] * c[static_cast<std::size_t>(j + d)];
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
        pool.emplace_back(work, std::min(e.tx.size(), w * per), std::min(e.tx.size(), (w + 1) * per));
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
    auto worker = [&]() {
      Scratch s;
      long long full = 0;
      for (;;) {
        const std::size_t gi = next.fetch_add(1);
        if (gi >= e.ctl.size()) break;
        prepareCtl(e, cdat, e.ctl[gi], gdat[gi]);
        double bestHere = -std::numeric_limits<double>::infinity();
        for (std::size_t t = 0; t < e.tx.size(); ++t) {
          const double cut = shared.load(std::memory_order_relaxed);
          Eval r = evaluate(e, cdat, gdat[gi], t, std::max(cut, bestHere), s, full);
          if (r.ok && r.fom > bestPer[gi].fom) {
            bestPer[gi] = r;
            bestT[gi] = t;
            bestHere = bestPer[gi].fom;
            double seen = shared.load(std::memory_order_relaxed);
            while (seen < bestHere && !shared.compare_exchange_weak(seen, bestHere)) {
            }
          }
        }
        gdat[gi] = CtlData();   // made again for the final step or the local search
      }
      fullCount += full;
    };
    {
      std::vector<std::thread> pool;
      for (unsigned w = 1; w < threads; ++w) pool.emplace_back(worker);
      worker();
      for (auto& th : pool) th.join();
    }
    std::size_t bg = e.ctl.size(), bt = 0;
    double bf = -std::numeric_limits<double>::infinity();
    for (std::size_t gi = 0; gi < e.ctl.size(); ++gi)
      if (bestPer[gi].ok && bestPer[gi].fom > bf) bf = bestPer[gi].fom, bg = gi, bt = bestT[gi];
    if (bg == e.ctl.size()) return fail("equalisation failed: no candidate gives a sampling point");
    bool localDiffers = false;
    long long localCount = 0;
    if (p.search == Search::local && p.localSearch > 0) {
      // The reference's local search, in its loop order, from the first finite best.
      const int LS = p.localSearch;
      std::size_t lg = e.ctl.size(), lt = 0;
      double lf = -std::numeric_limits<double>::infinity();
      Scratch s;
      long long full = 0;
      for (std::size_t gi = 0; gi < e.ctl.size(); ++gi) {
        const Ctl& g = e.ctl[gi];
        if (lg < e.ctl.size() && g.i1 > 0 && std::abs(g.i2 - e.ctl[lg].i2) > LS) continue;
        CtlData gl;
        prepareCtl(e, cdat, g, gl);
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
          Eval r = evaluate(e, cdat, gl, t, lf, s, full);
          if (r.ok && r.fom > lf) lf = r.fom, lg = gi, lt = t;
        }
      }
      if (lg == e.ctl.size()) return fail("equalisation failed: the local search found no sampling point");
      localDiffers = lg != bg || lt != bt;
      out.result.log.push_back(format("case %zu: the local search evaluated %lld candidates and keeps FOM %.3f dB; the grid's "
                                      "optimum is %.3f dB, %s",
                                      ci + 1, localCount, lf, bf, localDiffers ? "another equaliser" : "the same equaliser"));
      bg = lg, bt = lt;
    }
    const auto t2 = std::chrono::steady_clock::now();

    // ---- the final margin for the chosen equaliser
    const Ctl& g = e.ctl[bg];
    const TxCand& c = e.tx[bt];
    CtlData& gd = gdat[bg];
    if (gd.q.v.empty()) prepareCtl(e, cdat, g, gd);
    const auto coef = basisCoef(e, g);
    auto combine = [&](const CaseChannel& ch, bool ffe) {
      std::vector<double> q(ch.raw.size(), 0.0);
      for (int b = 0; b < e.nBasis; ++b)
        for (std::size_t i = 0; i < q.size(); ++i) q[i] += coef[static_cast<std::size_t>(b)] * ch.basis[static_cast<std::size_t>(b)][i];
      if (!ffe) return q;
      std::vector<double> h(q.size() + static_cast<std::size_t>(e.D * e.M), 0.0);
      for (int j = 0; j < e.K; ++j)
        for (std::size_t i = 0; i < q.size(); ++i) h[i + static_cast<std::size_t>(j * e.M)] += c.c[static_cast<std::size_t>(j)] * q[i];
      return h;
    };
    const std::vector<double> hv = combine(cdat.ch[0], true);
    const long Lh = static_cast<long>(hv.size());
    auto H = [&](long t) { return t >= 0 && t < Lh ? hv[static_cast<std::size_t>(t)] : 0.0; };
    // Everything again from the explicit pulse, not from the search's shortcuts: the peak
    // over the whole window, the cursor, the DFE and every sum.
    Scratch s;
    long long dummy = 0;
    const Eval ev = evaluate(e, cdat, gd, bt, -std::numeric_limits<double>::infinity(), s, dummy);
    long P = cdat.Pu - 20L * e.M;
    for (long t = cdat.Pu - 20L * e.M; t <= cdat.Pu + 20L * e.M; ++t)
      if (H(t) > H(P)) P = t;
    std::vector<double> hx(static_cast<std::size_t>(Lh) + 64L * e.M, 0.0);
    const long hxLo = -32L * e.M;
    for (long t = 0; t < Lh; ++t) hx[static_cast<std::size_t>(t - hxLo)] = H(t);
    long ts = ev.ts;
    if (!cursor(e, hx, hxLo, P, ts, [](long, long) {}))
      return fail(format("case %zu: equalisation failed: the chosen equaliser gives no sampling point", ci + 1));
    const double h0 = H(ts);
    const double As = e.aS * h0;
    std::vector<double> hn(static_cast<std::size_t>(e.span) + 1), dfe(static_cast<std::size_t>(e.span) + 1);
    for (int n = 1; n <= e.span; ++n) hn[static_cast<std::size_t>(n - 1)] = H(ts + static_cast<long>(n) * e.M);
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
    for (long t = ts - ((ts) / e.M) * e.M - e.M; t < Lh + 1; t += e.M) hj.push_back((H(t + 1) - H(t - 1)) * e.M / 2);
    double hj2 = 0;
    for (double v : hj) hj2 += v * v;
    double xtDirect = 0;
    if (e.ref) {
      double x = gd.xtNext;
      for (std::size_t i = 0; i < e.nSum; ++i) {
        double w = 0;
        for (int b = 0; b < 4; ++b) w += gd.pc[static_cast<std::size_t>(b)] * cdat.Wf[i][static_cast<std::size_t>(b)];
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
        const std::vector<double> ha = combine(cdat.ch[k], cdat.ch[k].kind == ChannelKind::fext);
        double m = 0;
        for (int ph = 0; ph < e.M; ++ph) {
          double x = 0;
          for (std::size_t t = static_cast<std::size_t>(ph); t < ha.size(); t += static_cast<std::size_t>(e.M)) x += std::fabs(ha[t]);
          m = std::max(m, x);
        }
        extent += m;
      }
      const double sG0 = std::sqrt(h0 * h0 * e.txNoise + p.sigmaRJ * p.sigmaRJ * e.sx2 * hj2 + gd.sN2);
      extent += (e.ref ? e.Q : 9) * sG0;
      if (2 * extent / dy > 3e4) {
        dy = 2 * extent / 3e4;
        e.warnings.push_back(format("case %zu: the eye is nearly closed; the noise distributions use %.3g uV bins", ci + 1, dy * 1e6));
      }
    }
    const Pmf pIsi = symbolsPmf(isi, e.L, dy);
    // Crosstalk: per aggressor the phase with the largest spread.
    Pmf pNext, pFext;
    for (std::size_t k = 1; k < cdat.ch.size(); ++k) {
      const CaseChannel& a = cdat.ch[k];
      const std::vector<double> ha = combine(a, a.kind == ChannelKind::fext);
      std::vector<double> smp;
      double bestV = -1;
      int bestPh = 0;
      for (int ph = 0; ph < e.M; ++ph) {
        smp.clear();
        for (std::size_t t = static_cast<std::size_t>(ph); t < ha.size(); t += static_cast<std::size_t>(e.M)) smp.push_back(ha[t]);
        double v = 0;
        if (e.ref)
          v = symbolsMeanSquare(smp, e.L, dy);
        else
          for (double x : smp) v += x * x;
        if (v > bestV) bestV = v, bestPh = ph;
      }
      if (!e.ref) {
        double v = 0;
        for (std::size_t t = static_cast<std::size_t>(bestPh); t < ha.size(); t += static_cast<std::size_t>(e.M)) v += ha[t] * ha[t];
        xtDirect += e.sx2 * v;
      }
      smp.clear();
      for (std::size_t t = static_cast<std::size_t>(bestPh); t < ha.size(); t += static_cast<std::size_t>(e.M)) smp.push_back(ha[t]);
      Pmf pa = symbolsPmf(smp, e.L, dy);
      (a.kind == ChannelKind::next ? pNext : pFext) = convolve(a.kind == ChannelKind::next ? pNext : pFext, pa);
    }
    const Pmf pXt = convolve(pNext, pFext);
    std::vector<double> dd;
    for (double v : hj) dd.push_back(p.ADD * v);
    const Pmf pDd = symbolsPmf(dd, e.L, dy);
    const double sTx2 = h0 * h0 * e.txNoise, sRj2 = p.sigmaRJ * p.sigmaRJ * e.sx2 * hj2;
    const double sG = std::sqrt(sTx2 + sRj2 + gd.sN2);
    const double cut = e.ref ? e.Q * sG : 9 * sG;
    const Pmf pG = gaussianPmf(sG, cut, dy);
    const Pmf pN = convolve(pG, pDd);
    const Pmf total = convolve(convolve(pIsi, pXt), pN);
    const double y0 = firstAbove(total, dy, p.DER0);
    const double Ani = std::fabs(y0);
    if (y0 >= 0 || !(Ani > 0))
      return fail(format("case %zu: the noise distribution does not reach the error ratio below zero", ci + 1));

    CaseResult cr;
    cr.As = As, cr.Ani = Ani;
    cr.com = 20 * std::log10(As / Ani);
    cr.fom = fomOf(As, sTx2 + e.sx2 * isi2 + e.sx2 * (p.ADD * p.ADD + p.sigmaRJ * p.sigmaRJ) * hj2 + xtDirect + gd.sN2);
    cr.searchFom = ev.fom;
    cr.sigmaIsi = pIsi.stddev(dy), cr.sigmaXt = pXt.stddev(dy), cr.sigmaDd = pDd.stddev(dy);
    cr.sigmaG = sG, cr.sigmaTx = std::sqrt(sTx2), cr.sigmaN = std::sqrt(gd.sN2), cr.sigmaRj = std::sqrt(sRj2);
    cr.unequalisedPeak = raw[static_cast<std::size_t>(Pu)];
    cr.cursorSample = static_cast<int>(ts);
    cr.gDC = g.gdc, cr.gDC2 = g.gdc2;
    cr.txTaps = c.c;
    cr.txCursor = -e.first;
    cr.dfeTaps = dfe;
    cr.candidates = fullCount.load() + localCount;
    cr.gridSize = grid;
    cr.localDiffers = localDiffers;
    cr.views = caseViews(e, g, c, hv, raw, ts, dfe, dy, total, pXt, pG, threads);
    const auto t3 = std::chrono::steady_clock::now();
    cr.seconds = std::chrono::duration<double>(t3 - t0).count();
    cr.pulseSeconds = std::chrono::duration<double>(t1 - t0).count();
    cr.searchSeconds = std::chrono::duration<double>(t2 - t1).count();
    cr.marginSeconds = std::chrono::duration<double>(t3 - t2).count();
    auto ms = [](auto a, auto b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
    out.result.log.push_back(format("case %zu: COM %.3f dB, FOM %.3f dB at gDC %g gDC2 %g; %lld of %lld candidates evaluated in full; "
                                    "thru pulse %zu UI; pulses %.1f ms, search %.1f ms, margin %.1f ms%s",
                                    ci + 1, cr.com, cr.searchFom, g.gdc, g.gdc2, cr.candidates, grid, raw.size() / static_cast<std::size_t>(e.M), ms(t0, t1), ms(t1, t2),
                                    ms(t2, t3), localDiffers ? "; the local search's choice differs from the grid's optimum" : ""));
    out.result.cases.push_back(std::move(cr));
  }
  out.result.com = std::numeric_limits<double>::infinity();
  out.result.pass = true;
  for (const CaseResult& cr : out.result.cases) {
    out.result.com = std::min(out.result.com, cr.com);
    if (!(cr.com >= p.passThreshold)) out.result.pass = false;
  }
  out.result.warnings = e.warnings;
  out.result.log.push_back(format("COM took %.3f s", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()));
  out.ok = true;
  return out;
}

}  // namespace brevo::com
