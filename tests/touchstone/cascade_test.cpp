// Joining channel elements, checked against transmission-line physics: lines of lengths
// a and b joined equal a line of length a + b, an ideal thru changes nothing, passive
// and reciprocal elements give a passive and reciprocal chain, and the port order in
// which an element is written does not matter.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "Cascade.h"
#include "TouchstoneCore.h"
#include "test_support.h"

namespace {

using cx = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;
constexpr double kZ0 = 50.0;

// Propagation constant of a lossy line, per metre: skin loss grows with sqrt(f),
// dielectric loss with f, and the wave travels at v.
struct Medium {
  double skin = 2e-5;      // neper / (m sqrt(Hz))
  double dielectric = 1e-10;  // neper / (m Hz)
  double v = 1.6e8;        // m/s
  cx gamma(double f) const {
    return {skin * std::sqrt(f) + dielectric * f, 2 * kPi * f / v};
  }
};

// A uniform line of characteristic impedance Zc and length l between 50 ohm ports:
//   G = (Zc - Z0)/(Zc + Z0), P = exp(-gamma l),
//   S11 = S22 = G (1 - P^2)/(1 - G^2 P^2),  S21 = S12 = P (1 - G^2)/(1 - G^2 P^2).
struct LineS {
  cx s11, s21;
};
LineS line(cx Zc, cx gamma, double l) {
  const cx G = (Zc - kZ0) / (Zc + kZ0);
  const cx P = std::exp(-gamma * l);
  const cx d = 1.0 - G * G * P * P;
  return {G * (1.0 - P * P) / d, P * (1.0 - G * G) / d};
}

// A pair of coupled lines in pair order (in+, in-, out+, out-): the odd mode sees Zodd
// per line against 50 ohm, the even mode Zeven; the modes do not mix. Modal waves are
// d = (P - M)/sqrt2, c = (P + M)/sqrt2 on each side, so S = Q^T Smodal Q.
cmatrix coupledLine(double f, cx Zodd, cx Zeven, const Medium& odd, const Medium& even,
                    double l) {
  const LineS d = line(Zodd, odd.gamma(f), l);
  const LineS c = line(Zeven, even.gamma(f), l);
  cmatrix modal(4, 4, nullptr);
  modal.set(0, 0, d.s11), modal.set(2, 2, d.s11), modal.set(0, 2, d.s21), modal.set(2, 0, d.s21);
  modal.set(1, 1, c.s11), modal.set(3, 3, c.s11), modal.set(1, 3, c.s21), modal.set(3, 1, c.s21);
  const double h = 1 / std::sqrt(2.0);
  cmatrix Q(4, 4, nullptr);
  for (int side = 0; side < 4; side += 2) {
    Q.set(side, side, h), Q.set(side, side + 1, -h);
    Q.set(side + 1, side, h), Q.set(side + 1, side + 1, h);
  }
  return Q.t() * modal * Q;
}

cmatrix singleLine(double f, cx Zc, const Medium& m, double l) {
  const LineS s = line(Zc, m.gamma(f), l);
  cmatrix M(2, 2, nullptr);
  M.set(0, 0, s.s11), M.set(1, 1, s.s11), M.set(0, 1, s.s21), M.set(1, 0, s.s21);
  return M;
}

using MatrixAt = std::function<cmatrix(double f)>;

// A set of `ports` ports holding M (pair order) on the element ports p, every other
// entry 0. For 2 ports the reader's storage order holds S21 at position (1, 2).
Sparams makeSet(const std::vector<double>& grid, int ports, const ElementPorts& p,
                const MatrixAt& M, const char* name) {
  const std::vector<int> order = p.singleEnded() ? std::vector<int>{p.inP, p.outP}
                                                 : std::vector<int>{p.inP, p.inM, p.outP, p.outM};
  const int n = static_cast<int>(order.size());
  Sparams s(ports, static_cast<int>(grid.size()), name);
  for (int k = 0; k < static_cast<int>(grid.size()); ++k) {
    s.setFreq(k, grid[k]);
    const cmatrix m = M(grid[k]);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        if (ports == 2)
          s.set(k, order[c], order[r], m.value(r, c));
        else
          s.set(k, order[r], order[c], m.value(r, c));
      }
  }
  return s;
}

std::vector<double> grid(double f0, double step, int n) {
  std::vector<double> g;
  for (int k = 0; k < n; ++k) g.push_back(f0 + k * step);
  return g;
}

double maxDifference(const cmatrix& a, const cmatrix& b) {
  if (a.Rows() != b.Rows() || a.Columns() != b.Columns()) return INFINITY;
  double worst = 0;
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Columns(); ++j) worst = std::max(worst, std::abs(a.value(i, j) - b.value(i, j)));
  return worst;
}

const ElementPorts kDiff{1, 3, 2, 4};
const ElementPorts kSingle{1, 0, 2, 0};

// ---------------------------------------------------------------------------------------
// Lines of lengths a and b, joined, are the line of length a + b.

struct LineCase {
  const char* name;
  bool differential;
  cx zOdd;   // the single line's Zc when not differential
  cx zEven;
};

const LineCase kLines[] = {
    {"matched_single", false, 50, 0},
    {"mismatched_single_75", false, 75, 0},
    {"lossy_complex_impedance_single", false, cx(62, -4), 0},
    {"matched_pair", true, 50, 50},
    {"mismatched_coupled_pair", true, 42, 65},
    {"strongly_coupled_pair", true, cx(38, -2), 90},
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineLengths : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineLengths, JoinedLinesAreOneLongerLine) {
  const LineCase& t = GetParam();
  const Medium odd, even{1.5e-5, 0.8e-10, 1.7e8};
  const std::vector<double> g = grid(10e6, 2.5e9, 9);  // 10 MHz to 20 GHz
  auto element = [&](double l) -> MatrixAt {
    if (!t.differential) return [=](double f) { return singleLine(f, t.zOdd, odd, l); };
    return [=](double f) { return coupledLine(f, t.zOdd, t.zEven, odd, even, l); };
  };
  const int ports = t.differential ? 4 : 2;
  const ElementPorts p = t.differential ? kDiff : kSingle;
  const double lengths[] = {0.05, 0.13, 0.21};

  // Two elements, then three: a + b and a + b + c.
  for (int count = 2; count <= 3; ++count) {
    std::vector<CascadeElement> chain;
    double total = 0;
    for (int e = 0; e < count; ++e) {
      chain.push_back({makeSet(g, ports, p, element(lengths[e]), "line"), p});
      total += lengths[e];
    }
    const CascadeResult r = cascade(chain);
    ASSERT_EQ(r.status, 0) << r.message;
    ASSERT_EQ(r.S.size(), g.size());
    const MatrixAt whole = element(total);
    for (std::size_t k = 0; k < g.size(); ++k) {
      EXPECT_EQ(r.freq[k], g[k]);
      EXPECT_LT(maxDifference(r.S[k], whole(g[k])), 1e-9)
          << t.name << ", " << count << " elements, " << g[k] << " Hz";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Physics, LineLengths, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// An ideal thru before, after or on both sides of a channel returns the channel.

TEST(Cascade, IdealThruOnEitherSideChangesNothing) {
  const std::vector<double> g = grid(0, 1e9, 12);  // includes 0 Hz
  const Medium m;
  for (bool differential : {false, true}) {
    const int n = differential ? 4 : 2, half = n / 2;
    const ElementPorts p = differential ? kDiff : kSingle;
    const MatrixAt channel = [&](double f) {
      return differential ? coupledLine(f, 44, 70, m, m, 0.3) : singleLine(f, 80, m, 0.3);
    };
    const MatrixAt thru = [&](double) {
      cmatrix T(n, n, nullptr);
      for (int i = 0; i < half; ++i) T.set(i, i + half, 1), T.set(i + half, i, 1);
      return T;
    };
    const Sparams c = makeSet(g, n, p, channel, "channel");
    const Sparams t = makeSet(g, n, p, thru, "thru");
    const std::vector<std::vector<const Sparams*>> chains = {{&t, &c}, {&c, &t}, {&t, &c, &t}};
    for (const auto& sets : chains) {
      std::vector<CascadeElement> chain;
      for (const Sparams* s : sets) chain.push_back({*s, p});
      const CascadeResult r = cascade(chain);
      ASSERT_EQ(r.status, 0) << r.message;
      for (std::size_t k = 0; k < g.size(); ++k)
        EXPECT_LT(maxDifference(r.S[k], channel(g[k])), 1e-14)
            << (differential ? "pair" : "single") << ", " << sets.size() << " elements, " << g[k];
    }
  }
}

// ---------------------------------------------------------------------------------------
// Passive elements give a passive chain; reciprocal elements a reciprocal one.

// True when no singular value of S exceeds 1 + tol: (1 + tol) I - S^H S must be positive
// semidefinite, which a Cholesky factorisation finds out.
bool passive(const cmatrix& S, double tol) {
  const int n = S.Columns();
  std::vector<cx> H(static_cast<std::size_t>(n * n)), L(static_cast<std::size_t>(n * n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      cx h = i == j ? 1 + tol : 0;
      for (int k = 0; k < S.Rows(); ++k) h -= std::conj(S.value(k, i)) * S.value(k, j);
      H[i * n + j] = h;
    }
  for (int j = 0; j < n; ++j) {
    double d = H[j * n + j].real();
    for (int k = 0; k < j; ++k) d -= std::norm(L[j * n + k]);
    if (d <= 0) return false;
    L[j * n + j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      cx s = H[i * n + j];
      for (int k = 0; k < j; ++k) s -= L[i * n + k] * std::conj(L[j * n + k]);
      L[i * n + j] = s / L[j * n + j];
    }
  }
  return true;
}

double asymmetry(const cmatrix& S) { return maxDifference(S, S.t()); }

TEST(Cascade, PassiveCheckTellsGainFromLoss) {
  cmatrix attenuator(2, 2, nullptr), amplifier(2, 2, nullptr);
  attenuator.set(1, 0, 0.5), attenuator.set(0, 1, 0.5);
  amplifier.set(1, 0, 1.01), amplifier.set(0, 1, 0.5);
  EXPECT_TRUE(passive(attenuator, 1e-12));
  EXPECT_FALSE(passive(amplifier, 1e-12));
  EXPECT_GT(asymmetry(amplifier), 0.5);
}

TEST(Cascade, PassiveReciprocalElementsGivePassiveReciprocalChain) {
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> u(-1, 1);
  const std::vector<double> g = grid(1e8, 1e9, 6);
  // Random reciprocal scatterers, scaled below the Frobenius norm so every singular value
  // is below 1, one fixed matrix per element and frequency; between them lossy lines.
  auto scatterer = [&]() {
    std::vector<cmatrix> perPoint;
    for (std::size_t k = 0; k < g.size(); ++k) {
      cmatrix A(4, 4, nullptr);
      double frob = 0;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j <= i; ++j) {
          const cx z(u(random), u(random));
          A.set(i, j, z), A.set(j, i, z);
        }
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) frob += std::norm(A.value(i, j));
      perPoint.push_back(A * (0.999 / std::sqrt(frob)));
    }
    return perPoint;
  };
  auto atPoints = [&](std::vector<cmatrix> m) {
    return [m, &g](double f) {
      for (std::size_t k = 0; k < g.size(); ++k)
        if (g[k] == f) return m[k];
      return cmatrix();
    };
  };
  const Medium medium;
  std::vector<CascadeElement> chain;
  for (int e = 0; e < 3; ++e) {
    chain.push_back({makeSet(g, 4, kDiff, atPoints(scatterer()), "scatterer"), kDiff});
    chain.push_back({makeSet(g, 4, kDiff,
                             [&](double f) { return coupledLine(f, 40, 70, medium, medium, 0.1); },
                             "line"),
                     kDiff});
  }
  const CascadeResult r = cascade(chain);
  ASSERT_EQ(r.status, 0) << r.message;
  for (std::size_t k = 0; k < g.size(); ++k) {
    EXPECT_TRUE(passive(r.S[k], 1e-12)) << g[k];
    EXPECT_LT(asymmetry(r.S[k]), 1e-12) << g[k];
  }
}

// ---------------------------------------------------------------------------------------
// The same elements written with other port orders give the same chain.

struct OrderCase {
  const char* name;
  int ports;          // of the file the element is written to
  ElementPorts p;
};

const OrderCase kOrders[] = {
    {"pair_1_3_2_4", 4, {1, 3, 2, 4}},
    {"sequential_1_2_3_4", 4, {1, 2, 3, 4}},
    {"swapped_2_1_4_3", 4, {2, 1, 4, 3}},
    {"scrambled_4_2_3_1", 4, {4, 2, 3, 1}},
    {"inside_a_6_port_5_2_6_3", 6, {5, 2, 6, 3}},
    {"single_1_0_2_0", 2, {1, 0, 2, 0}},
    {"single_reversed_2_0_1_0", 2, {2, 0, 1, 0}},
    {"single_on_4_port_3_0_4_0", 4, {3, 0, 4, 0}},
    {"single_on_3_port_3_0_1_0", 3, {3, 0, 1, 0}},
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }

class PortOrders : public ::testing::TestWithParam<OrderCase> {};

TEST_P(PortOrders, SameChainAsPairOrder) {
  const OrderCase& t = GetParam();
  const Medium m;
  const std::vector<double> g = grid(5e7, 3e9, 7);
  const bool single = t.p.singleEnded();
  auto element = [&](double l, cx z) -> MatrixAt {
    if (single) return [=](double f) { return singleLine(f, z, m, l); };
    return [=](double f) { return coupledLine(f, z, 2.0 * z, m, m, l); };
  };
  const ElementPorts plain = single ? kSingle : kDiff;
  const int plainPorts = single ? 2 : 4;
  const MatrixAt first = element(0.07, 45), second = element(0.11, 58);

  const CascadeResult expected =
      cascade({{makeSet(g, plainPorts, plain, first, "a"), plain},
               {makeSet(g, plainPorts, plain, second, "b"), plain}});
  // The reordered element in either place of the chain.
  const CascadeResult early = cascade({{makeSet(g, t.ports, t.p, first, "a"), t.p},
                                       {makeSet(g, plainPorts, plain, second, "b"), plain}});
  const CascadeResult late = cascade({{makeSet(g, plainPorts, plain, first, "a"), plain},
                                      {makeSet(g, t.ports, t.p, second, "b"), t.p}});
  ASSERT_EQ(expected.status, 0) << expected.message;
  ASSERT_EQ(early.status, 0) << early.message;
  ASSERT_EQ(late.status, 0) << late.message;
  for (std::size_t k = 0; k < g.size(); ++k) {
    EXPECT_LT(maxDifference(early.S[k], expected.S[k]), 1e-14) << t.name << " first, " << g[k];
    EXPECT_LT(maxDifference(late.S[k], expected.S[k]), 1e-14) << t.name << " second, " << g[k];
  }
}

INSTANTIATE_TEST_SUITE_P(Elements, PortOrders, ::testing::ValuesIn(kOrders),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Element matrices straight from Touchstone text whose numbers say where they belong:
// a 2-port record holds 11 21 12 22 (S21 second), a 4-port record 10 r + c.

struct PlacementCase {
  const char* name;
  const char* text;
  ElementPorts p;
  std::vector<double> expected;  // pair-order matrix, row by row
};

const PlacementCase kPlacements[] = {
    {"two_port_forward", "# GHz S RI R 50\n1 11 0 21 0 12 0 22 0\n2 0 0 0 0 0 0 0 0\n",
     {1, 0, 2, 0}, {11, 12, 21, 22}},
    {"two_port_reversed", "# GHz S RI R 50\n1 11 0 21 0 12 0 22 0\n2 0 0 0 0 0 0 0 0\n",
     {2, 0, 1, 0}, {22, 21, 12, 11}},
    {"four_port_pairs",
     "# GHz S RI R 50\n"
     "1 11 0 12 0 13 0 14 0\n21 0 22 0 23 0 24 0\n31 0 32 0 33 0 34 0\n41 0 42 0 43 0 44 0\n"
     "2 0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n",
     {1, 3, 2, 4}, {11, 13, 12, 14, 31, 33, 32, 34, 21, 23, 22, 24, 41, 43, 42, 44}},
    {"four_port_single_3_to_4",
     "# GHz S RI R 50\n"
     "1 11 0 12 0 13 0 14 0\n21 0 22 0 23 0 24 0\n31 0 32 0 33 0 34 0\n41 0 42 0 43 0 44 0\n"
     "2 0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n",
     {3, 0, 4, 0}, {33, 34, 43, 44}},
};

void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.name; }

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, ElementMatrixHoldsSOfTheNamedPorts) {
  const PlacementCase& t = GetParam();
  const ReadResult r = parseTouchstone(t.text, t.name);
  ASSERT_EQ(r.status, ReadStatus::ok);
  const cmatrix M = elementMatrix(r.set, t.p, 0);
  const int n = M.Rows();
  ASSERT_EQ(static_cast<std::size_t>(n * n), t.expected.size());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      EXPECT_EQ(M.value(i, j), cx(t.expected[i * n + j], 0)) << t.name << " (" << i << "," << j << ")";
  // At the stored frequency the interpolated lookup gives the same matrix.
  EXPECT_LT(maxDifference(elementMatrix(r.set, t.p, 1e9), M), 1e-12) << t.name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Placement, ::testing::ValuesIn(kPlacements),
                         [](const auto& info) { return std::string(info.param.name); });

// The written set has the input pair on 1, 3 and the output pair on 2, 4 (or 1 -> 2), and
// reading the file back returns every entry.
TEST(Cascade, WrittenSetReadsBackInPortOrder1324) {
  ScratchDir dir;
  for (int n : {2, 4}) {
    std::vector<cmatrix> S;
    std::vector<double> f = {1e9, 2e9};
    for (int k = 0; k < 2; ++k) {
      cmatrix M(n, n, nullptr);
      // 100 k + 10 r + c in pair order, plus an imaginary part with digits to lose.
      for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) M.set(r, c, cx(100 * k + 10 * (r + 1) + c + 1, 1.0 / 3 + r - c));
      S.push_back(M);
    }
    const Sparams set = cascadeToSparams(f, S, "joined");
    ASSERT_EQ(set.Size(), n);
    if (n == 4) {
      EXPECT_EQ(set.Value(0, 2, 1).real(), 31);  // out+ from in+: pair order (3, 1)
      EXPECT_EQ(set.Value(0, 4, 3).real(), 42);  // out- from in-
      EXPECT_EQ(set.Value(1, 1, 3).real(), 112); // in+ from in-
    } else {
      EXPECT_EQ(set.Value(0, 1, 2).real(), 21);  // S21 held at (1, 2), as the reader does
    }
    const std::string file = dir.file("joined.s" + std::to_string(n) + "p");
    ASSERT_EQ(set.print(file.c_str(), "test", RI, "%.16e %.16e  ", stderr), 0);
    CapturedLog log;
    const Sparams back(file, log.get());
    ASSERT_EQ(back.Size(), n);
    ASSERT_EQ(back.Fcount(), 2);
    const ElementPorts p = n == 4 ? kDiff : kSingle;
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(back.Freq(k), f[k]);
      EXPECT_EQ(maxDifference(elementMatrix(back, p, k), S[k]), 0) << n << " ports, point " << k;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Other grids: interpolation inside, the ends within a relative 1e-9, refusal beyond.

TEST(Cascade, OtherGridIsInterpolatedOntoTheFirst) {
  // Magnitude and phase both linear in f, so the lookup's interpolation is exact.
  const double tau = 1e-10;
  auto linear = [&](double f) {
    cmatrix M(2, 2, nullptr);
    const cx s21 = std::polar(1 - f / 1e11, -2 * kPi * f * tau);
    M.set(1, 0, s21), M.set(0, 1, s21);
    return M;
  };
  const Medium m;
  const std::vector<double> fine = grid(1e8, 0.37e9, 50);  // 0.1 to 18.23 GHz
  const std::vector<double> coarse = grid(1e8, 1e9, 20);   // 0.1 to 19.1 GHz
  const CascadeResult r =
      cascade({{makeSet(fine, 2, kSingle, [&](double f) { return singleLine(f, 50, m, 0.2); }, "a"), kSingle},
               {makeSet(coarse, 2, kSingle, linear, "b"), kSingle}});
  ASSERT_EQ(r.status, 0) << r.message;
  for (std::size_t k = 0; k < fine.size(); ++k) {
    const cx want = singleLine(fine[k], 50, m, 0.2).value(1, 0) * linear(fine[k]).value(1, 0);
    EXPECT_LT(std::abs(r.S[k].value(1, 0) - want), 1e-12) << fine[k];
    EXPECT_LT(std::abs(r.S[k].value(0, 0)), 1e-15) << fine[k];
  }
}

struct RangeCase {
  const char* name;
  double f0, fmax;    // of the second element; the first runs from 1 GHz to 10 GHz
  const char* message; // empty: joined
};

const RangeCase kRanges[] = {
    {"same_range", 1e9, 10e9, ""},
    {"wider", 0, 20e9, ""},
    {"ends_within_tolerance", 1e9 * (1 + 0.5e-9), 10e9 * (1 - 0.5e-9), ""},
    {"starts_late", 1.5e9, 10e9,
     "b.s4p covers 1.5e+09 Hz to 1e+10 Hz only; the first element's grid needs 1e+09 Hz to "
     "1e+10 Hz, missing 1e+09 Hz to 1.5e+09 Hz"},
    {"ends_early", 1e9, 9e9, "missing 9e+09 Hz to 1e+10 Hz"},
    {"short_both_ends", 2e9, 8e9, "missing 1e+09 Hz to 2e+09 Hz and 8e+09 Hz to 1e+10 Hz"},
    {"ends_just_beyond_tolerance", 1e9, 10e9 * (1 - 3e-9), "missing 9.99999997e+09 Hz to 1e+10 Hz"},
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class Ranges : public ::testing::TestWithParam<RangeCase> {};

TEST_P(Ranges, SecondElementMustCoverFirstGrid) {
  const RangeCase& t = GetParam();
  const MatrixAt thru = [](double) {
    cmatrix T(4, 4, nullptr);
    T.set(2, 0, 1), T.set(0, 2, 1), T.set(3, 1, 1), T.set(1, 3, 1);
    return T;
  };
  const std::vector<double> g = grid(1e9, 1e9, 10);
  const std::vector<double> other = {t.f0, (t.f0 + t.fmax) / 2, t.fmax};
  const CascadeResult r = cascade({{makeSet(g, 4, kDiff, thru, "a.s4p"), kDiff},
                                   {makeSet(other, 4, kDiff, thru, "b.s4p"), kDiff}});
  if (t.message[0] == '\0') {
    ASSERT_EQ(r.status, 0) << t.name << ": " << r.message;
    for (const cmatrix& S : r.S) EXPECT_LT(maxDifference(S, thru(0)), 1e-15) << t.name;
  } else {
    EXPECT_EQ(r.status, 1) << t.name;
    EXPECT_NE(r.message.find(t.message), std::string::npos) << t.name << ": " << r.message;
    EXPECT_TRUE(r.S.empty()) << t.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Grids, Ranges, ::testing::ValuesIn(kRanges),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Chains that cannot be joined.

TEST(Cascade, RefusedChainsSayWhy) {
  const std::vector<double> g = grid(1e9, 1e9, 3);
  const MatrixAt zero2 = [](double) { return cmatrix(2, 2, nullptr); };
  const MatrixAt zero4 = [](double) { return cmatrix(4, 4, nullptr); };
  const Sparams two = makeSet(g, 2, kSingle, zero2, "two.s2p");
  const Sparams four = makeSet(g, 4, kDiff, zero4, "four.s4p");
  Sparams backwards = makeSet(g, 4, kDiff, zero4, "backwards.s4p");
  backwards.setFreq(2, 1.5e9);
  // Full reflections facing each other across the junction, with transmission into both
  // (possible only for active elements): the loop gain is 1 and nothing settles.
  const MatrixAt facing = [](double) {
    cmatrix M(2, 2, nullptr);
    M.set(1, 1, 1), M.set(0, 0, 1), M.set(1, 0, 0.5), M.set(0, 1, 0.5);
    return M;
  };
  const struct {
    const char* name;
    std::vector<CascadeElement> chain;
    const char* message;
  } cases[] = {
      {"one_element", {{two, kSingle}}, "at least two elements"},
      {"empty_set", {{two, kSingle}, {Sparams(), kSingle}}, "holds no data"},
      {"kinds_differ", {{four, kDiff}, {four, kSingle}},
       "four.s4p is single-ended but four.s4p is differential"},
      {"port_outside", {{four, kDiff}, {two, kDiff}}, "two.s2p: port 3 is outside the file's ports 1 to 2"},
      {"port_twice", {{four, kDiff}, {four, {1, 3, 2, 1}}}, "four.s4p: port 1 is named twice"},
      {"half_single", {{four, kDiff}, {four, {1, 0, 2, 4}}}, "minus ports must both be 0"},
      {"not_ascending", {{four, kDiff}, {backwards, kDiff}},
       "backwards.s4p: frequencies do not ascend at point 2"},
      {"resonant_junction",
       {{makeSet(g, 2, kSingle, facing, "left.s2p"), kSingle},
        {makeSet(g, 2, kSingle, facing, "right.s2p"), kSingle}},
       "the junction before right.s2p cannot be solved at 1e+09 Hz"},
  };
  for (const auto& c : cases) {
    const CascadeResult r = cascade(c.chain);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.message.find(c.message), std::string::npos) << c.name << ": " << r.message;
  }
}

// ---------------------------------------------------------------------------------------
// Channel lines as control files write them.

TEST(Cascade, ChannelLines) {
  const struct {
    const char* line;
    int ok;  // 0 read, 1 refused
    const char* file;
    ElementPorts p;
    const char* message;
  } cases[] = {
      {"a.s4p", 0, "a.s4p", {1, 3, 2, 4}, ""},
      {"  a.s4p\t1 3 2 4  ", 0, "a.s4p", {1, 3, 2, 4}, ""},
      {"a.s4p 0x2 0x1 4 3", 0, "a.s4p", {2, 1, 4, 3}, ""},
      {"a.s8p 010 7 6 5", 0, "a.s8p", {8, 7, 6, 5}, ""},  // C notation: 010 is octal 8
      {"a.s2p 1 0 2 0", 0, "a.s2p", {1, 0, 2, 0}, ""},
      {"a.s4p 31", 0, "a.s4p", {3, 1, 2, 4}, ""},
      {"a.s4p 3 1", 0, "a.s4p", {3, 1, 2, 4}, ""},
      {"", 1, "", {}, "empty channel line"},
      {"   ", 1, "", {}, "empty channel line"},
      {"a.s4p 1 3 2", 1, "", {}, "got 4 words"},
      {"a.s4p 1 3 2 4 5", 1, "", {}, "got 6 words"},
      {"a.s4p 1 x 2 4", 1, "", {}, "port \"x\" is not a port number"},
      {"a.s4p -1 3 2 4", 1, "", {}, "port \"-1\""},
      {"a.s4p 1 3 2 4x", 1, "", {}, "port \"4x\""},
      {"a.s4p 99999999999 3 2 4", 1, "", {}, "port \"99999999999\""},
      {"a.s4p 1g", 1, "", {}, "port \"1g\""},
      {"a.s4p 123", 1, "", {}, "port \"123\""},
  };
  for (const auto& c : cases) {
    ElementLine e;
    std::string why;
    EXPECT_EQ(parseElementLine(c.line, &e, &why), c.ok) << "\"" << c.line << "\"";
    if (c.ok == 0) {
      EXPECT_EQ(e.file, c.file) << c.line;
      EXPECT_EQ(e.ports.inP, c.p.inP) << c.line;
      EXPECT_EQ(e.ports.inM, c.p.inM) << c.line;
      EXPECT_EQ(e.ports.outP, c.p.outP) << c.line;
      EXPECT_EQ(e.ports.outM, c.p.outM) << c.line;
    } else {
      EXPECT_NE(why.find(c.message), std::string::npos) << "\"" << c.line << "\": " << why;
    }
  }
}

// ---------------------------------------------------------------------------------------
// A measured channel joined with an ideal thru is the measured channel.

TEST(Cascade, MeasuredChannelThroughIdealThruIsUnchanged) {
  const std::string path =
      std::string(BREVO_CHANNELS_DIR) + "/thru_only/peters_01_0605_B1_thru.s4p";
  if (!std::ifstream(path)) GTEST_SKIP() << "channel folder absent: " << path;
  CapturedLog log;
  const Sparams measured(path, log.get());
  ASSERT_EQ(measured.Size(), 4);
  const MatrixAt thru = [](double) {
    cmatrix T(4, 4, nullptr);
    T.set(2, 0, 1), T.set(0, 2, 1), T.set(3, 1, 1), T.set(1, 3, 1);
    return T;
  };
  const Sparams ideal = makeSet({0, 1e12}, 4, kDiff, thru, "thru");
  const CascadeResult r = cascade({{measured, kDiff}, {ideal, kDiff}});
  ASSERT_EQ(r.status, 0) << r.message;
  ASSERT_EQ(static_cast<int>(r.S.size()), measured.Fcount());
  double worst = 0;
  for (int k = 0; k < measured.Fcount(); ++k)
    worst = std::max(worst, maxDifference(r.S[k], elementMatrix(measured, kDiff, k)));
  EXPECT_LT(worst, 1e-14);
}

}  // namespace
