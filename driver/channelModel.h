// Stateless models of the parts of the link that are not S-parameters.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

extern const std::complex<double> I;   // the imaginary unit
extern const std::complex<double> _I;  // the imaginary unit

double pulseWeight(double f, double T);          // spectrum of a one-UI rectangle, 1 at DC
double dibitWeight(double f, double T);          // real weight of a pulse and its negative
double butterworth(int n, double f, double t);   // |H| of an n-th order low-pass, t = 1/f3dB
double deviceRL(double f, double g0, double p);  // device reflection magnitude
double tau(double rise, double bandwidth, double rate);  // 1/f3dB in seconds, 0 unlimited
void interpretTau(double* v, double scale);

// The weights a channel's transfer takes at each frequency of one grid: the one-UI
// pulse spectrum, the receiver's fourth-order filter and a transmitter's second-order
// filter (corner 1/txTau). Every stage that weights a spectrum takes them from here.
struct GridWeights {
  std::vector<double> freq, pulse, rx, tx;
  double UI = 0, rxTau = 0, txTau = 0;
  // The noise weight: the pulse spectrum through both filters, multiplied in that order.
  double noise(std::size_t i) const { return pulse[i] * rx[i] * tx[i]; }
  double filters(std::size_t i) const { return rx[i] * tx[i]; }
  bool isFor(std::span<const double> f, double ui, double rTau, double tTau) const;
};
GridWeights gridWeights(std::span<const double> freq, double UI, double rxTau, double txTau);

// What a first point stands for in a one-sided sum: the band from -f0 to f0, or, for
// the loss fit's sums, half the next point's frequency when it lies at 0 Hz.
enum class FirstPoint { band, halfNextAtZero };
// Width, hertz, that point i of a one-sided sum stands for: f(i+1) - f(i-1) inside the
// grid, 2*f0 for the first (as the rule says at 0 Hz); the last point has none.
double integrationWidth(std::span<const double> freq, std::size_t i, FirstPoint rule);
std::complex<double> fit(const std::complex<double>* a, double f);  // exp of the loss model
double Q(double ber, int pam);
double BER(double q, int pam);
