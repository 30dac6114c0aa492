// COM on real channels: the published calibration set at the 100GBASE-KR4 settings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "TouchstoneCore.h"
#include "com.h"

using namespace brevo::com;

namespace {

// Through pair 1,3 => 2,4 differential parameters of a 4-port file.
bool load(const std::string& path, ChannelKind kind, Channel& c) {
  if (!std::filesystem::exists(path)) return false;
  Sparams s(path, nullptr);
  if (s.Fcount() < 3) return false;
  c.name = std::filesystem::path(path).filename().string();
  c.kind = kind;
  for (int k = 0; k < s.Fcount(); ++k) c.f.push_back(s.Freq(k));
  c.sdd21 = s.aParam(1, 2, 3, 4, 0, 0, nullptr);
  c.sdd12 = s.aParam(2, 1, 4, 3, 0, 0, nullptr);
  c.sdd11 = s.aParam(1, 1, 3, 3, 0, 0, nullptr);
  c.sdd22 = s.aParam(2, 2, 4, 4, 0, 0, nullptr);
  return c.sdd21.size() == c.f.size();
}

Params kr4() {
  Params p;
  p.preset = "KR4";
  p.fb = 25.78125e9, p.L = 2, p.M = 32, p.DER0 = 1e-5;
  p.Av = 0.4, p.Afe = 0.4, p.Ane = 0.6, p.RLM = 1, p.snrTx = 27, p.eta0 = 5.2e-8;
  p.sigmaRJ = 0.01, p.ADD = 0.05, p.Tr = 8e-12, p.forceTr = false, p.fr = 0.75;
  p.c0min = 0.62;
  p.txTaps = {{-1, {-0.18, 0.02, 0}}, {1, {-0.38, 0.02, 0}}};
  p.gDC = {-12, 1, 0};
  p.fz = p.fb / 4, p.fp1 = p.fb / 4, p.fp2 = p.fb;
  p.Nb = 14, p.bmax.assign(14, 1.0);
  p.R0 = 50, p.RdTx = 55, p.RdRx = 55;
  p.pkgTx.Cd = {2.5e-13}, p.pkgTx.Cp = 1.8e-13;
  p.pkgRx = p.pkgTx;
  p.Zc = {78.2};
  p.gamma0 = 0, p.a1 = 1.734e-3, p.a2 = 1.455e-4, p.tau = 6.141e-3;
  p.cases = {{{12}, {12}, {12}, {12}}, {{30}, {12}, {30}, {30}}};
  return p;
}

}  // namespace

TEST(ComCalibration, Kr4Example2) {
  const std::string dir = std::string(BREVO_CHANNELS_DIR) + "/com/";
  std::vector<Channel> ch(6);
  const char* names[] = {"THRU", "FEXT1", "FEXT2", "NEXT1", "NEXT2", "NEXT3"};
  const ChannelKind kinds[] = {ChannelKind::thru, ChannelKind::fext, ChannelKind::fext,
                               ChannelKind::next, ChannelKind::next, ChannelKind::next};
  for (int i = 0; i < 6; ++i)
    if (!load(dir + "example2_" + names[i] + ".s4p", kinds[i], ch[static_cast<std::size_t>(i)]))
      GTEST_SKIP() << "calibration channels absent from " << dir;
  const Outcome o = computeCom(kr4(), ch);
  ASSERT_TRUE(o.ok) << o.reason;
  for (const auto& l : o.result.log) std::printf("%s\n", l.c_str());
  for (const auto& c : o.result.cases)
    std::printf("COM %.3f FOM %.3f As %.3f Ani %.3f peak %.2f gDC %g taps %g %g %g dfe %.3f %.3f %.3f %.3f isi %.2f xt %.2f G %.2f tx %.2f rj %.2f N %.3f\n",
                c.com, c.fom, c.As * 1e3, c.Ani * 1e3, c.unequalisedPeak * 1e3, c.gDC, c.txTaps[0], c.txTaps[1], c.txTaps[2],
                c.dfeTaps[0], c.dfeTaps[1], c.dfeTaps[2], c.dfeTaps[3], c.sigmaIsi * 1e3, c.sigmaXt * 1e3,
                c.sigmaG * 1e3, c.sigmaTx * 1e3, c.sigmaRj * 1e3, c.sigmaN * 1e3);
}
