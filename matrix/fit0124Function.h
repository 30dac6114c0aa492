// Weighted least-squares fits of ln S21(f) ~ a0 + a1 sqrt(f) + a2 f + a4 f^2.
#pragma once

#include <complex>
#include <cstdio>

namespace brevo {

// coef receives a0, a1, a2, a4. Frequencies in hertz, unscaled. Returns 0. The solver's
// status line, and the line saying there are too few points, go to `messages`.
int fitW0124(const double* f, const std::complex<double>* data, const std::complex<double>* weight,
             int n, std::complex<double>* coef, FILE* messages = stderr);
// Three terms: coef[0..2] = a0, a1, a2 and coef[3] = 0. Returns 0.
int fitW012(const double* f, const std::complex<double>* data, const std::complex<double>* weight,
            int n, std::complex<double>* coef, FILE* messages = stderr);
// fitW0124 with the weight of each point exp(data[i]). Returns 0.
int fitC0124(const double* f, const std::complex<double>* data, int n, std::complex<double>* coef,
             FILE* messages = stderr);

}  // namespace brevo
