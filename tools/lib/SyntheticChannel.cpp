// Synthetic lane: coupled-stripline through channel and weak-coupling aggressors.
#include "SyntheticChannel.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>
#include <sstream>

#include "ReplaceFile.h"
#include "outputFile.h"

using complex = std::complex<double>;

namespace {

constexpr double kLightSpeed = 299792458.0;  // m/s
constexpr double kZ0 = 50.0;                 // reference impedance of every port, ohms
const complex kJ{0.0, 1.0};

// 2x2 chain (ABCD) matrix of a two-port.
struct Abcd {
  complex a{1.0}, b{0.0}, c{0.0}, d{1.0};
};

Abcd operator*(const Abcd& x, const Abcd& y) {
  return {x.a * y.a + x.b * y.c, x.a * y.b + x.b * y.d, x.c * y.a + x.d * y.c,
          x.c * y.b + x.d * y.d};
}

Abcd shunt(complex y) { return {1.0, 0.0, y, 1.0}; }

// A uniform line of impedance z whose total propagation over its length is gl.
Abcd line(double z, complex gl) {
  return {std::cosh(gl), z * std::sinh(gl), std::sinh(gl) / z, std::cosh(gl)};
}

// S-parameters of a reciprocal two-port, 50 ohm reference. AD - BC is 1 for every
// factor we use, so S12 = S21 = 2/den exactly and the result is symmetric.
struct TwoPort {
  complex s11, s21, s22;
};

TwoPort toS(const Abcd& m) {
  const complex bz = m.b / kZ0, cz = m.c * kZ0;
  const complex den = m.a + bz + cz + m.d;
  return {(m.a + bz - cz - m.d) / den, 2.0 / den, (-m.a + bz - cz + m.d) / den};
}

// Everything about the model that does not depend on frequency.
struct Model {
  double nyquist = 0;  // Hz
  double delay = 0;    // one-way line delay Td, seconds
  double share = 0;    // conductor share of the Nyquist attenuation
  double zOdd = 0, zEven = 0;
  double via = 0, connector = 0, connectorAt = 0;
};

Model modelOf(const LaneParams& s) {
  Model m;
  m.nyquist = 0.5 * s.rate;
  m.delay = s.length * std::sqrt(s.er) / kLightSpeed;
  m.share = s.conductorShare;
  m.zOdd = 0.5 * s.zdiff;
  m.zEven = 2.0 * s.zcomm;
  m.via = s.via;
  m.connector = s.connector;
  m.connectorAt = s.connectorAt;
  return m;
}

// Total propagation gamma*l of the whole line at f for an attenuation of `nepers` at
// the Nyquist frequency. The conductor term sqrt(j f) carries its own causal phase;
// the dielectric term a f carries -(2/pi) a f ln(f/fN), its Kramers-Kronig partner
// (constant loss tangent), so the line's impulse response is causal.
complex propagation(const Model& m, double nepers, double f) {
  if (f <= 0) return 0.0;
  const double x = f / m.nyquist;
  const double conductor = nepers * m.share * std::sqrt(x);
  const double dielectric = nepers * (1.0 - m.share) * x;
  return complex(conductor, conductor) +
         complex(dielectric, -(2.0 / std::numbers::pi) * dielectric * std::log(x)) +
         complex(0.0, 2.0 * std::numbers::pi * f * m.delay);
}

// One mode of the pair: via, line, connector, line, via.
TwoPort mode(const Model& m, double z, complex gl, double f) {
  const complex yVia = kJ * (2.0 * std::numbers::pi * f * m.via);
  const complex yConnector = kJ * (2.0 * std::numbers::pi * f * m.connector);
  const Abcd chain = shunt(yVia) * line(z, gl * m.connectorAt) * shunt(yConnector) *
                     line(z, gl * (1.0 - m.connectorAt)) * shunt(yVia);
  return toS(chain);
}

// The pair at one frequency, as its two modes.
struct PairPoint {
  TwoPort even, odd;
  complex gl;  // propagation of the whole line
};

PairPoint pairAt(const Model& m, double nepers, double f) {
  const complex gl = propagation(m, nepers, f);
  return {mode(m, m.zEven, gl, f), mode(m, m.zOdd, gl, f), gl};
}

// Single-ended 4-port of the pair, ports 1 (P in), 3 (N in), 2 (P out), 4 (N out), from
// its modes: a_even = (a_P + a_N)/sqrt 2, a_odd = (a_P - a_N)/sqrt 2 at each end.
using Matrix4 = std::array<std::array<complex, 4>, 4>;

Matrix4 pairMatrix(const PairPoint& p) {
  const complex in = 0.5 * (p.even.s11 + p.odd.s11), inX = 0.5 * (p.even.s11 - p.odd.s11);
  const complex out = 0.5 * (p.even.s22 + p.odd.s22), outX = 0.5 * (p.even.s22 - p.odd.s22);
  const complex thru = 0.5 * (p.even.s21 + p.odd.s21), thruX = 0.5 * (p.even.s21 - p.odd.s21);
  Matrix4 s{};
  // Indexes 0..3 are ports 1..4.
  s[0][0] = s[2][2] = in;
  s[0][2] = s[2][0] = inX;
  s[1][1] = s[3][3] = out;
  s[1][3] = s[3][1] = outX;
  s[0][1] = s[1][0] = s[2][3] = s[3][2] = thru;
  s[0][3] = s[3][0] = s[2][1] = s[1][2] = thruX;
  return s;
}

// Largest singular value of a 2x2 complex matrix, closed form.
double norm2(complex a, complex b, complex c, complex d) {
  const double fro = std::norm(a) + std::norm(b) + std::norm(c) + std::norm(d);
  const double det = std::norm(a * d - b * c);
  return std::sqrt(0.5 * (fro + std::sqrt(std::max(0.0, fro * fro - 4.0 * det))));
}

// Lines in the order P N P' N' (aggressor pair, then victim pair), coupling falling by
// a factor e per line of separation. kShape[i][j] couples aggressor line i (P, N) to
// victim line j (P', N'); its differential component 0.5 (PP' - PN' - NP' + NN') is
// kDifferential, negative because the nearest lines N and P' dominate.
const double kE1 = std::exp(-1.0), kE2 = std::exp(-2.0);
const double kShape[2][2] = {{kE1, kE2}, {1.0, kE1}};
const double kDifferential = 0.5 * (kE1 - kE2 - 1.0 + kE1);

// Aggressor 4-port: the aggressor pair's input block on ports 1,3, the victim pair's
// output block on ports 2,4, and between them single-ended couplings scaled so that
// the differential coupling (ports 1,3 => 2,4) is x.
Matrix4 aggressorMatrix(const Matrix4& pair, complex x) {
  Matrix4 s{};
  s[0][0] = pair[0][0];
  s[2][2] = pair[2][2];
  s[0][2] = s[2][0] = pair[0][2];
  s[1][1] = pair[1][1];
  s[3][3] = pair[3][3];
  s[1][3] = s[3][1] = pair[1][3];
  const int agg[2] = {0, 2}, vic[2] = {1, 3};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      const complex c = x * (kShape[i][j] / kDifferential);
      s[agg[i]][vic[j]] = s[vic[j]][agg[i]] = c;
    }
  return s;
}

// Upper bound on the largest singular value of an aggressor matrix: the reflection
// blocks plus the coupling block (triangle inequality on the block split).
double aggressorBound(const Matrix4& s) {
  const double a = norm2(s[0][0], s[0][2], s[2][0], s[2][2]);
  const double c = norm2(s[1][1], s[1][3], s[3][1], s[3][3]);
  const double b = norm2(s[0][1], s[0][3], s[2][1], s[2][3]);
  return std::max(a, c) + b;
}

void store(Sparams& set, int k, const Matrix4& s) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) set.set(k, r + 1, c + 1, s[r][c]);
}

double lossAt(const Model& m, double nepers, double f) {
  return -20.0 * std::log10(std::abs(pairAt(m, nepers, f).odd.s21));
}

std::string describe(const LaneParams& s) {
  char text[512];
  std::snprintf(text, sizeof text,
                "rate=%.10g loss=%.6g length=%.6g er=%.6g zdiff=%.6g zcomm=%.6g "
                "conductor=%.6g via=%.6g connector=%.6g connector_at=%.6g",
                s.rate, s.lossDb, s.length, s.er, s.zdiff, s.zcomm, s.conductorShare, s.via,
                s.connector, s.connectorAt);
  return text;
}

// Why the parameters cannot make a lane, if they cannot.
brevo::Result<void> checkParams(const LaneParams& s) {
  struct Range {
    const char* name;
    double value, low, high;  // low < value <= high
  };
  const Range ranges[] = {
      {"rate", s.rate, 0, 1e13},
      {"loss", s.lossDb, 0, 300},
      {"length", s.length, 0, 100},
      {"er", s.er, 0.999, 100},
      {"zdiff", s.zdiff, 0, 1e4},
      {"zcomm", s.zcomm, 0, 1e4},
      {"conductor", s.conductorShare, -1e-300, 1},
      {"via", s.via, -1e-300, 1e-9},
      {"connector", s.connector, -1e-300, 1e-9},
      {"connector_at", s.connectorAt, 0, 0.999999},
      {"fstep", s.fstep, 0, 1e12},
      {"fstart", s.fstart, -1e-300, 1e13},
      {"fstop", s.fstop, s.fstart, 1e13},
  };
  for (const Range& r : ranges)
    if (!(r.value > r.low && r.value <= r.high)) {
      char text[200];
      std::snprintf(text, sizeof text, "%s=%g is out of range", r.name, r.value);
      return brevo::failure(text);
    }
  const double points = std::floor((s.fstop - s.fstart) / s.fstep + 0.5) + 1;
  if (points < 3 || points > 1e6)
    return brevo::failure(
        "the grid from fstart to fstop in steps of fstep must hold 3 to 1000000 points");
  for (double db : s.nextDb)
    if (!(db < 0)) return brevo::failure("every NEXT level must be a negative number of dB");
  for (double db : s.fextDb)
    if (!(db < 0)) return brevo::failure("every FEXT level must be a negative number of dB");
  return {};
}

}  // namespace

const char* defaultValueFormat(format fmt) {
  switch (fmt) {
    case RI:
      return "%.6e %.6e ";
    case MA:
      return "%.5e %.3f ";
    case DB:
      return "%.3f %.2f ";
    default:
      return "%.5e %.3f ";
  }
}

double modelLossDb(const LaneParams& params, double nyquistNepers, double f) {
  return lossAt(modelOf(params), nyquistNepers, f);
}

namespace {

// Attenuation at Nyquist, nepers, that meets the requested differential loss there: the
// loss grows with the attenuation, so bisect between a lossless line and one that is
// lossy enough (the discontinuities alone already cost a little). Status 1 and why when the
// loss asked for is below what they cost.
brevo::Result<double> nyquistAttenuation(const LaneParams& params, const Model& m) {
  const double fN = m.nyquist;
  if (lossAt(m, 0.0, fN) >= params.lossDb) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "loss=%g dB is below the %.3f dB the impedances and discontinuities "
                  "alone cost at %g Hz",
                  params.lossDb, lossAt(m, 0.0, fN), fN);
    return brevo::failure<double>(text);
  }
  double low = 0.0, high = 1.0;
  while (lossAt(m, high, fN) < params.lossDb && high < 1e3) high *= 2;
  for (int i = 0; i < 200 && high - low > 1e-14 * high; ++i) {
    const double mid = 0.5 * (low + high);
    (lossAt(m, mid, fN) < params.lossDb ? low : high) = mid;
  }
  return brevo::success(0.5 * (low + high));
}

// The comment lines of the written files: what each holds, and the settings.
void commentFiles(const LaneParams& params, double fN, Sparams& thru, std::vector<Sparams>& next,
                  std::vector<Sparams>& fext) {
  const std::string settings = describe(params);
  thru.setComment("! differential through channel: input pair ports 1,3, output pair ports 2,4");
  thru.setComment(("! " + settings).c_str());
  for (std::size_t a = 0; a < next.size(); ++a) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "! NEXT aggressor %zu: aggressor in on ports 1,3, victim out on ports 2,4, "
                  "%.6g dB at high frequency",
                  a + 1, params.nextDb[a]);
    next[a].setComment(text);
    next[a].setComment(("! " + settings).c_str());
  }
  for (std::size_t a = 0; a < fext.size(); ++a) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "! FEXT aggressor %zu: aggressor in on ports 1,3, victim out on ports 2,4, "
                  "%.6g dB below the thru at %.10g Hz",
                  a + 1, -params.fextDb[a], fN);
    fext[a].setComment(text);
    fext[a].setComment(("! " + settings).c_str());
  }
}

}  // namespace

ChannelBuild buildChannels(const LaneParams& params, const std::string& base) {
  if (const auto checked = checkParams(params); !checked)
    return brevo::failure<ChannelSet>(checked.message);
  const Model m = modelOf(params);

  const double fN = m.nyquist;
  const auto attenuation = nyquistAttenuation(params, m);
  if (!attenuation) return brevo::failure<ChannelSet>(attenuation.message);
  const double nepers = attenuation.value;
  ChannelSet out;
  out.nyquistNepers = nepers;

  const int n =
      static_cast<int>(std::floor((params.fstop - params.fstart) / params.fstep + 0.5)) + 1;
  const std::string thruName = base + "_thru.s4p";
  Sparams thru(4, n, thruName.c_str());
  std::vector<Sparams> next, fext;
  for (std::size_t a = 0; a < params.nextDb.size(); ++a)
    next.emplace_back(4, n, (base + "_next" + std::to_string(a + 1) + ".s4p").c_str());
  for (std::size_t a = 0; a < params.fextDb.size(); ++a)
    fext.emplace_back(4, n, (base + "_fext" + std::to_string(a + 1) + ".s4p").c_str());

  std::string error;  // the first aggressor point that could not stay passive
  for (int k = 0; k < n; ++k) {
    const double f = params.fstart + k * params.fstep;
    const PairPoint p = pairAt(m, nepers, f);
    const Matrix4 pair = pairMatrix(p);
    thru.setFreq(k, f);
    store(thru, k, pair);

    auto addAggressor = [&](Sparams& set, complex x, const char* kind, double db) {
      const Matrix4 s = aggressorMatrix(pair, x);
      if (aggressorBound(s) > 1.0 && error.empty()) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "%s coupling of %g dB is too strong for a passive file at %g Hz", kind, db,
                      f);
        error = text;
      }
      set.setFreq(k, f);
      store(set, k, s);
    };
    // NEXT: backward coupling over the whole line, Kb (1 - e^{-2 gamma l}).
    for (std::size_t a = 0; a < next.size(); ++a) {
      const double kb = std::pow(10.0, params.nextDb[a] / 20.0);
      addAggressor(next[a], kb * (1.0 - std::exp(-2.0 * p.gl)), "NEXT", params.nextDb[a]);
    }
    // FEXT: forward coupling -j Kf 2 pi f Td times the victim's own transfer, with Kf set
    // so that |FEXT / thru| at Nyquist is the requested ratio.
    for (std::size_t a = 0; a < fext.size(); ++a) {
      const double kf =
          std::pow(10.0, params.fextDb[a] / 20.0) / (2.0 * std::numbers::pi * fN * m.delay);
      addAggressor(fext[a], -kJ * (kf * 2.0 * std::numbers::pi * f * m.delay) * p.odd.s21, "FEXT",
                   params.fextDb[a]);
    }
  }
  if (!error.empty()) return brevo::failure<ChannelSet>(error);

  commentFiles(params, fN, thru, next, fext);
  out.thru = thru;
  out.next = std::move(next);
  out.fext = std::move(fext);
  return brevo::success(std::move(out));
}

namespace {

struct UnitScale {
  const char* name;
  double perMHz;    // multiply a frequency in MHz by this
  int extraDigits;  // decimals to add (or remove) so no digit is lost
};
constexpr std::array<UnitScale, 4> kUnits{
    {{"Hz", 1e6, -6}, {"kHz", 1e3, -3}, {"MHz", 1.0, 0}, {"GHz", 1e-3, 3}}};

bool hasZeroEntry(const Sparams& s) {
  for (int k = 0; k < s.Fcount(); ++k)
    for (int r = 1; r <= s.Size(); ++r)
      for (int c = 1; c <= s.Size(); ++c)
        if (std::abs(s.Value(k, r, c)) == 0.0) return true;
  return false;
}

// The writer puts frequencies in MHz; rewrite the option line and the leading number
// of every record for another unit. Continuation lines start with blanks and are kept.
// Success, or the errno value of a failed write with its text.
FileStatus rewriteUnit(const std::string& file, const UnitScale& unit) {
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  in.close();
  std::istringstream lines(text.str());
  std::string rewritten, l;
  while (std::getline(lines, l)) {
    if (!l.empty() && l[0] == '#') {
      const std::size_t at = l.find("MHz");
      if (at != std::string::npos) l.replace(at, 3, unit.name);
    } else if (!l.empty() && l[0] != '!') {
      // A record starts on a line with an odd count of numbers (frequency and pairs).
      std::istringstream words(l);
      std::string w;
      int count = 0;
      while (words >> w) ++count;
      const std::size_t first = l.find_first_not_of(' ');
      if (count % 2 == 1 && first != std::string::npos) {
        const std::size_t end = std::min(l.find(' ', first), l.size());
        const std::string number = l.substr(first, end - first);
        const std::size_t dot = number.find('.');
        const int decimals =
            dot == std::string::npos ? 0 : static_cast<int>(number.size() - dot - 1);
        char field[64];
        std::snprintf(field, sizeof field, "%*.*f", static_cast<int>(end),
                      std::max(0, decimals + unit.extraDigits),
                      std::strtod(number.c_str(), nullptr) * unit.perMHz);
        l.replace(0, end, field);
      }
    }
    rewritten += l;
    rewritten += '\n';
  }
  FILE* out = std::fopen(file.c_str(), "w");
  if (!out) return fileStatus(errno);
  std::fwrite(rewritten.data(), 1, rewritten.size(), out);
  return finishOutput(out, true);
}

}  // namespace

int writeChannels(const ChannelSet& set, format fmt, const char* valueFormat,
                  const std::string& unit, FILE* log) {
  const UnitScale* scale = nullptr;
  for (const UnitScale& u : kUnits)
    if (unit == u.name) scale = &u;
  if (!scale) {
    std::fprintf(log, "unit=%s: use Hz, kHz, MHz or GHz\n", unit.c_str());
    return 1;
  }
  std::vector<const Sparams*> all{&set.thru};
  for (const Sparams& s : set.next) all.push_back(&s);
  for (const Sparams& s : set.fext) all.push_back(&s);
  // A magnitude of exactly 0 has no decibel value the reader could take back; refuse
  // before any file is written.
  for (const Sparams* s : all)
    if (fmt == DB && hasZeroEntry(*s)) {
      std::fprintf(log, "%s holds an entry of magnitude 0, which DB cannot write; use MA or RI\n",
                   s->fileName().c_str());
      return 1;
    }
  for (const Sparams* s : all) {
    const std::string& name = s->fileName();
    // The header names the file alone, so the bytes do not depend on where it was written.
    const std::size_t slash = name.rfind('/');
    const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
    char header[300];
    std::snprintf(header, sizeof header, "!%s: synthetic channel written by brevo-channel",
                  leaf.c_str());
    const FileStatus written = replaceFile(name, [&](const char* path) {
      if (s->print(path, header, fmt, valueFormat, nullptr)) return fileStatus(errno);
      return scale->perMHz != 1.0 ? rewriteUnit(path, *scale) : FileStatus{};
    });
    if (!written.ok()) {
      sayNotWritten(log, nullptr, name.c_str(), written);
      return 1;
    }
  }
  return 0;
}
