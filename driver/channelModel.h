// Stateless models of the parts of the link that are not S-parameters.
#pragma once

#include <complex>

extern const std::complex<double> I;   // the imaginary unit
extern const std::complex<double> _I;   // the imaginary unit

double pulseWeight(double f, double T);          // spectrum of a one-UI rectangle, 1 at DC
double dibitWeight(double f, double T);          // real weight of a pulse and its negative
double butterworth(int n, double f, double t);   // |H| of an n-th order low-pass, t = 1/f3dB
double deviceRL(double f, double g0, double p);  // device reflection magnitude
double tau(double rise, double bandwidth, double rate);  // 1/f3dB in seconds, 0 unlimited
void interpretTau(double* v, double scale);
std::complex<double> fit(const std::complex<double>* a, double f);  // exp of the loss model
double Q(double ber, int pam);
double BER(double q, int pam);
