// Joining channel elements, against transmission-line physics: lines of lengths a and b
// joined are the line of length a + b, an ideal thru changes nothing, passive reciprocal
// elements give a passive reciprocal chain, and the port order an element is written in
// does not matter.
#include <functional>
#include <random>

#include "Cascade.h"
#include "../touchstone/support.h"

namespace {

// A line of impedance Zc and length l between 50 ohm ports, per metre a skin loss growing with
// sqrt(f), a dielectric loss growing with f and a speed v. With G = (Zc - 50)/(Zc + 50) and
// P = exp(-gamma l): S11 = G (1 - P^2)/(1 - G^2 P^2), S21 = P (1 - G^2)/(1 - G^2 P^2).
std::pair<cplx, cplx> line(cplx Zc, double f, double l, double skin, double dielectric, double v) {
  const cplx gamma(skin * std::sqrt(f) + dielectric * f, 2 * kPi * f / v);
  const cplx G = (Zc - 50.0) / (Zc + 50.0), P = std::exp(-gamma * l);
  return {G * (1.0 - P * P) / (1.0 - G * G * P * P), P * (1.0 - G * G) / (1.0 - G * G * P * P)};
}

using MatrixAt = std::function<cmatrix(double f)>;
const ElementPorts kDiff{1, 3, 2, 4}, kSingle{1, 0, 2, 0};

// A set of `ports` ports holding M(f) (pair order) on the element ports p, other entries 0.
// A 2-port set holds S21 at its position (1, 2), as the reader stores it.
Sparams makeSet(const std::vector<double>& grid, int ports, const ElementPorts& p,
                const MatrixAt& M, const char* name = "element") {
  const std::vector<int> order =
      p.singleEnded() ? std::vector{p.inP, p.outP} : std::vector{p.inP, p.inM, p.outP, p.outM};
  Sparams s(ports, static_cast<int>(grid.size()), name);
  for (int k = 0; k < static_cast<int>(grid.size()); ++k) {
    s.setFreq(k, grid[k]);
    const cmatrix m = M(grid[k]);
    for (std::size_t r = 0; r < order.size(); ++r)
      for (std::size_t c = 0; c < order.size(); ++c)
        ports == 2 ? s.set(k, order[c], order[r], m.value(r, c))
                   : s.set(k, order[r], order[c], m.value(r, c));
  }
  return s;
}

cmatrix idealThru(int n) {
  cmatrix T(n, n, nullptr);
  for (int i = 0; i < n / 2; ++i) T.set(i, i + n / 2, 1), T.set(i + n / 2, i, 1);
  return T;
}

std::vector<double> grid(double f0, double step, int n) {
  std::vector<double> g;
  for (int k = 0; k < n; ++k) g.push_back(f0 + k * step);
  return g;
}

// A single line of impedance zOdd, or coupled lines in pair order (in+, in-, out+, out-) whose
// odd and even modes are separate lines of zOdd and zEven: with the modal waves (P -+ M)/sqrt 2,
// S = Q^T Smodal Q.
MatrixAt lineOf(bool differential, double l, cplx zOdd, cplx zEven) {
  return [=](double f) {
    const auto [d11, d21] = line(zOdd, f, l, 2e-5, 1e-10, 1.6e8);
    const cplx two[4] = {d11, d21, d21, d11};
    if (!differential) return cmatrix(2, 2, two);
    const auto [c11, c21] = line(zEven, f, l, 1.5e-5, 0.8e-10, 1.7e8);
    const cplx modal[16] = {d11, 0, d21, 0, 0, c11, 0, c21, d21, 0, d11, 0, 0, c21, 0, c11};
    const double h = 1 / std::sqrt(2.0);
    const cplx q[16] = {h, h, 0, 0, -h, h, 0, 0, 0, 0, h, h, 0, 0, -h, h};
    return cmatrix(4, 4, q).t() * cmatrix(4, 4, modal) * cmatrix(4, 4, q);
  };
}

struct LineCase {
  const char* name;
  bool differential;
  cplx zOdd, zEven;  // zOdd is the single line's impedance
};

const LineCase kLines[] = {
    {"matched_single", false, 50, 0},
    {"mismatched_single_75", false, 75, 0},
    {"lossy_complex_impedance_single", false, cplx(62, -4), 0},
    {"matched_pair", true, 50, 50},
    {"mismatched_coupled_pair", true, 42, 65},
    {"strongly_coupled_pair", true, cplx(38, -2), 90},
};

class LineLengths : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineLengths, JoinedLinesAreOneLongerLine) {
  const LineCase& t = GetParam();
  const std::vector<double> g = grid(10e6, 2.5e9, 9);  // 10 MHz to 20 GHz
  const ElementPorts p = t.differential ? kDiff : kSingle;
  std::vector<CascadeElement> chain;
  double total = 0;
  for (double l : {0.05, 0.13, 0.21}) {  // a + b, then a + b + c
    chain.push_back(
        {makeSet(g, t.differential ? 4 : 2, p, lineOf(t.differential, l, t.zOdd, t.zEven)), p});
    total += l;
    if (chain.size() < 2) continue;
    const CascadeResult r = cascade(chain);
    ASSERT_EQ(r.status, 0) << r.message;
    ASSERT_EQ(r.value.S.size(), g.size());
    for (std::size_t k = 0; k < g.size(); ++k) {
      EXPECT_EQ(r.value.freq[k], g[k]);
      EXPECT_LT(maxDifference(r.value.S[k], lineOf(t.differential, total, t.zOdd, t.zEven)(g[k])),
                1e-9)
          << chain.size() << " elements, " << g[k] << " Hz";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Physics, LineLengths, ::testing::ValuesIn(kLines), rowName);

TEST(Cascade, IdealThruOnEitherSideChangesNothing) {
  const std::vector<double> g = grid(0, 1e9, 12);  // includes 0 Hz
  for (bool differential : {false, true}) {
    const int n = differential ? 4 : 2;
    const ElementPorts p = differential ? kDiff : kSingle;
    const MatrixAt channel = lineOf(differential, 0.3, differential ? 44 : 80, 70);
    const Sparams c = makeSet(g, n, p, channel),
                  t = makeSet(g, n, p, [n](double) { return idealThru(n); });
    for (const auto& sets :
         std::vector<std::vector<const Sparams*>>{{&t, &c}, {&c, &t}, {&t, &c, &t}}) {
      std::vector<CascadeElement> chain;
      for (const Sparams* s : sets) chain.push_back({*s, p});
      const CascadeResult r = cascade(chain);
      ASSERT_EQ(r.status, 0) << r.message;
      for (std::size_t k = 0; k < g.size(); ++k)
        EXPECT_LT(maxDifference(r.value.S[k], channel(g[k])), 1e-14)
            << n << " ports, " << sets.size() << " elements";
    }
  }
}

// Random reciprocal scatterers (Frobenius norm 0.999, so passive) between lossy coupled lines.
TEST(Cascade, PassiveReciprocalElementsGivePassiveReciprocalChain) {
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> u(-1, 1);
  const std::vector<double> g = grid(1e8, 1e9, 6);
  std::vector<CascadeElement> chain;
  for (int e = 0; e < 3; ++e) {
    cmatrix A(4, 4, nullptr);
    double frob = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j <= i; ++j) {
        const cplx z(u(random), u(random));
        A.set(i, j, z), A.set(j, i, z), frob += (i == j ? 1 : 2) * std::norm(z);
      }
    chain.push_back(
        {makeSet(g, 4, kDiff, [&](double) { return A * (0.999 / std::sqrt(frob)); }), kDiff});
    chain.push_back({makeSet(g, 4, kDiff, lineOf(true, 0.1, 40, 70)), kDiff});
  }
  const CascadeResult r = cascade(chain);
  ASSERT_EQ(r.status, 0) << r.message;
  for (std::size_t k = 0; k < g.size(); ++k) {
    EXPECT_TRUE(passive(r.value.S[k], 1e-12)) << g[k];
    EXPECT_LT(maxDifference(r.value.S[k], r.value.S[k].t()), 1e-12) << g[k];
  }
  cmatrix amplifier(2, 2, nullptr);  // the check itself tells gain from loss
  amplifier.set(1, 0, 1.01);
  EXPECT_FALSE(passive(amplifier, 1e-12));
}

struct OrderCase {
  const char* name;
  int ports;  // of the file the element is written to
  ElementPorts p;
};

const OrderCase kOrders[] = {
    {"sequential_1_2_3_4", 4, {1, 2, 3, 4}},      {"swapped_2_1_4_3", 4, {2, 1, 4, 3}},
    {"scrambled_4_2_3_1", 4, {4, 2, 3, 1}},       {"inside_a_6_port_5_2_6_3", 6, {5, 2, 6, 3}},
    {"single_reversed_2_0_1_0", 2, {2, 0, 1, 0}}, {"single_on_3_port_3_0_1_0", 3, {3, 0, 1, 0}},
};

class PortOrders : public ::testing::TestWithParam<OrderCase> {};

TEST_P(PortOrders, SameChainAsPairOrder) {
  const OrderCase& t = GetParam();
  const std::vector<double> g = grid(5e7, 3e9, 7);
  const bool single = t.p.singleEnded();
  const ElementPorts plain = single ? kSingle : kDiff;
  const int n = single ? 2 : 4;
  const MatrixAt first = lineOf(!single, 0.07, 45, 90), second = lineOf(!single, 0.11, 58, 116);
  const CascadeResult want =
      cascade({{makeSet(g, n, plain, first), plain}, {makeSet(g, n, plain, second), plain}});
  const CascadeResult early =
      cascade({{makeSet(g, t.ports, t.p, first), t.p}, {makeSet(g, n, plain, second), plain}});
  const CascadeResult late =
      cascade({{makeSet(g, n, plain, first), plain}, {makeSet(g, t.ports, t.p, second), t.p}});
  ASSERT_EQ(want.status + early.status + late.status, 0) << early.message << late.message;
  for (std::size_t k = 0; k < g.size(); ++k) {
    EXPECT_LT(maxDifference(early.value.S[k], want.value.S[k]), 1e-14) << "first, " << g[k];
    EXPECT_LT(maxDifference(late.value.S[k], want.value.S[k]), 1e-14) << "second, " << g[k];
  }
}

INSTANTIATE_TEST_SUITE_P(Elements, PortOrders, ::testing::ValuesIn(kOrders), rowName);

// A 2-port record holds 11 21 12 22; the element matrix undoes that order.
TEST(Cascade, TwoPortFileOrderAndWrittenSet) {
  const Sparams two =
      parseTouchstone("# GHz RI\n1 11 0 21 0 12 0 22 0\n2 0 0 0 0 0 0 0 0\n", "t").set;
  const cplx forward[4] = {11, 21, 12, 22}, reversed[4] = {22, 12, 21, 11};  // column-major
  EXPECT_EQ(maxDifference(elementMatrix(two, kSingle, 0), cmatrix(2, 2, forward)), 0);
  EXPECT_EQ(maxDifference(elementMatrix(two, {2, 0, 1, 0}, 0), cmatrix(2, 2, reversed)), 0);
  const Sparams written = cascadeToSparams({1e9}, {cmatrix(2, 2, forward)}, "joined");
  EXPECT_EQ(written.Value(0, 1, 2), cplx(21, 0));
}

// The second element must cover the first one's grid within a relative 1e-9; chains that
// cannot be joined say why (the joining tool's tests cover the port and word refusals).
TEST(Cascade, RangesAndRefusals) {
  const std::vector<double> g = grid(1e9, 1e9, 10);
  const MatrixAt thru = [](double) { return idealThru(4); };
  auto covering = [&](double f0, double fmax) {
    return makeSet({f0, (f0 + fmax) / 2, fmax}, 4, kDiff, thru, "b.s4p");
  };
  Sparams backwards = makeSet(g, 4, kDiff, thru, "backwards.s4p");
  backwards.setFreq(2, 1.5e9);
  // Full reflections facing each other across the junction, with transmission (only an active
  // element could do that): the loop gain is 1 and nothing settles.
  const cplx d[4] = {1, 0.5, 0.5, 1};
  const Sparams facing = makeSet(
      g, 2, kSingle, [&](double) { return cmatrix(2, 2, d); }, "right.s2p");
  const Sparams a = makeSet(g, 4, kDiff, thru);
  const struct {
    std::vector<CascadeElement> chain;
    const char* message;  // "" when joined
  } cases[] = {
      {{{a, kDiff}, {covering(1e9 * (1 + 0.5e-9), 10e9 * (1 - 0.5e-9)), kDiff}}, ""},
      {{{a, kDiff}, {covering(2e9, 8e9), kDiff}},
       "missing 1e+09 Hz to 2e+09 Hz and 8e+09 Hz to 1e+10 Hz"},
      {{{a, kDiff}, {covering(1e9, 10e9 * (1 - 3e-9)), kDiff}},
       "missing 9.99999997e+09 Hz to 1e+10 Hz"},
      {{{a, kDiff}, {backwards, kDiff}}, "backwards.s4p: frequencies do not ascend at point 2"},
      {{{facing, kSingle}, {facing, kSingle}},
       "the junction before right.s2p cannot be solved at 1e+09 Hz"},
  };
  for (const auto& c : cases) {
    const CascadeResult r = cascade(c.chain);
    EXPECT_EQ(r.status, c.message[0] ? 1 : 0) << c.message << ": " << r.message;
    EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
    EXPECT_EQ(r.value.S.empty(), r.status == 1);
    for (const cmatrix& S : r.value.S) EXPECT_LT(maxDifference(S, idealThru(4)), 1e-15);
  }
}

}  // namespace
