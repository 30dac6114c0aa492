// Channels and parameter sets shared by the COM tests and the COM benchmark: the
// loader of a 4-port file's differential parameters and the KR4 and 802.3ck KR sets.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "GlobalNames.h"
#include "com.h"

namespace comcases {

using namespace brevo::com;

// Through pair 1,3 => 2,4 differential parameters of a 4-port file.
inline bool load(const std::string& path, ChannelKind kind, Channel& c) {
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

inline Params kr4() {
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

// The 802.3ck KR set (two-stage CTLE, four Tx taps, floating DFE taps, tail limit).
inline Params ckKr() {
  Params p;
  p.preset = "3ck KR";
  p.fb = 53.125e9, p.L = 4, p.M = 32, p.DER0 = 1e-4;
  p.Av = 0.413, p.Afe = 0.413, p.Ane = 0.608, p.RLM = 0.95, p.snrTx = 33, p.eta0 = 8.2e-9;
  p.sigmaRJ = 0.01, p.ADD = 0.02, p.Tr = 7.5e-12, p.forceTr = true, p.fr = 0.75;
  p.c0min = 0.54;
  p.txTaps = {
      {-3, {-0.06, 0.02, 0}}, {-2, {0, 0.02, 0.12}}, {-1, {-0.34, 0.02, 0}}, {1, {-0.2, 0.02, 0}}};
  p.gDC = {-20, 1, 0};
  p.twoStage = true, p.gDC2 = {-6, 1, 0};
  p.fz = 21.25e9, p.fp1 = 21.25e9, p.fp2 = 53.125e9, p.fLF = 0.6640625e9;
  p.Nb = 12;
  p.bmax = {0.85, 0.3, 0.2, 0.2, 0.2, 0.2, 0.2, 0.1, 0.1, 0.1, 0.1, 0.1};
  p.bmin = {0.3, 0.05, -0.03, -0.03, -0.03, -0.03, -0.03, -0.03, -0.03, -0.03, -0.03, -0.03};
  p.Nbg = 3, p.Nbf = 3, p.Nf = 40, p.bmaxg = 0.05;
  p.bFloatRssMax = 0.02, p.nTailStart = 25;
  p.f2 = 40e9;
  p.R0 = 50, p.RdTx = 50, p.RdRx = 50;
  p.pkgTx.Cd = {1.2e-13}, p.pkgTx.Ls = {0.12e-9}, p.pkgTx.Cb = 0.3e-13, p.pkgTx.Cp = 0.87e-13;
  p.pkgRx = p.pkgTx;
  p.Zc = {87.5, 92.5};
  p.gamma0 = 0, p.a1 = 9.909e-4, p.a2 = 2.772e-4, p.tau = 6.141e-3;
  p.cases = {{{12, 1.8}, {12, 1.8}, {12, 1.8}, {12, 1.8}},
             {{31, 1.8}, {29, 1.8}, {31, 1.8}, {29, 1.8}}};
  return p;
}

// The draft 802.3dj KR set: 106.25 GBd, a 16-tap receiver FFE solved by MMSE with one
// DFE tap, the sampling point swept +-16 samples about the peak, a Tx grid of 0.005 steps.
inline Params djKr() {
  Params p;
  p.preset = "dj KR";
  p.fb = 106.25e9, p.L = 4, p.M = 32, p.DER0 = 2e-4, p.fMin = 0;
  p.Av = 0.413, p.Afe = 0.413, p.Ane = 0.45, p.RLM = 0.95, p.snrTx = 33, p.eta0 = 6e-9;
  p.sigmaRJ = 0.01, p.ADD = 0.02, p.Tr = 4e-12, p.forceTr = true, p.fr = 0.58,
  p.raisedCosine = true;
  p.c0min = 0.5;
  p.txTaps = {{-3, {-0.06, 0.005, 0}},
              {-2, {0, 0.005, 0.12}},
              {-1, {-0.34, 0.005, 0}},
              {1, {-0.2, 0.005, 0}}};
  p.gDC = {-15, 1, 0};
  p.twoStage = true, p.gDC2 = {-5, 0.5, 0};
  p.fz = 42.5e9, p.fp1 = 42.5e9, p.fp2 = 106.25e9, p.fLF = 1.328125e9;
  p.Nb = 1, p.bmax = {0.85}, p.bmin = {0};
  p.rxffePre = 5, p.rxffePost = 10, p.rxffeWmax = 0.7, p.rxffeWmin = -0.7;
  p.tsAnchor = 1, p.sampleAdjustMin = -16, p.sampleAdjustMax = 16;
  p.R0 = 50, p.RdTx = 50, p.RdRx = 50;
  p.pkgTx.Cd = {0.4e-13, 0.9e-13, 1.1e-13}, p.pkgTx.Ls = {0.13e-9, 0.15e-9, 0.14e-9};
  p.pkgTx.Cb = 0.3e-13, p.pkgTx.Cp = 0.4e-13;
  p.pkgRx = p.pkgTx;
  p.Zc = {87.5, 92.5};
  p.gamma0 = 5e-4, p.a1 = 8.9e-4, p.a2 = 2e-4, p.tau = 6.141e-3;
  p.cases = {{{33, 1.8}, {33, 1.8}, {33, 1.8}, {33, 1.8}}};
  return p;
}

// The calibration set (thru, FEXT1-2, NEXT1-3); empty when the files are absent.
inline std::vector<Channel> example2(const std::string& channelsDir) {
  std::vector<Channel> ch(6);
  const char* names[] = {"THRU", "FEXT1", "FEXT2", "NEXT1", "NEXT2", "NEXT3"};
  const ChannelKind kinds[] = {ChannelKind::thru, ChannelKind::fext, ChannelKind::fext,
                               ChannelKind::next, ChannelKind::next, ChannelKind::next};
  for (std::size_t i = 0; i < 6; ++i)
    if (!load(channelsDir + "/com/example2_" + names[i] + ".s4p", kinds[i], ch[i])) return {};
  return ch;
}

// A 5,001-point thru with eight aggressors: the seven of its set and its first FEXT
// file a second time.
inline std::vector<Channel> c2mEight(const std::string& channelsDir) {
  const std::string d = channelsDir + "/c2m_IL14_WC/C2M__Z100_IL14_WC_BOR_H_L_H_";
  const char* names[] = {"THRU",  "FEXT1", "FEXT2", "FEXT3", "NEXT1",
                         "NEXT2", "NEXT3", "NEXT4", "FEXT1"};
  std::vector<Channel> ch(9);
  for (std::size_t i = 0; i < 9; ++i) {
    const ChannelKind k = i == 0               ? ChannelKind::thru
                          : names[i][0] == 'N' ? ChannelKind::next
                                               : ChannelKind::fext;
    if (!load(d + names[i] + ".s4p", k, ch[i])) return {};
  }
  ch[8].name += " (again)";
  return ch;
}

}  // namespace comcases
