// The two LAPACK routines the solver uses, behind plain external names. Every
// argument is a pointer, as LAPACK's reference interface takes them.
#pragma once

#include <complex>

namespace brevo {

extern "C" {
// LU solve of a square system; passes its arguments unchanged to zgesv_.
void call_zgesv(int* n, int* nrhs, std::complex<double>* a, int* lda, int* ipiv,
                std::complex<double>* b, int* ldb, int* info);
// Least squares by QR; asks zgels_ for its workspace size first, then solves.
void call_zgels(const char* trans, int* m, int* n, int* nrhs, std::complex<double>* a, int* lda,
                std::complex<double>* b, int* ldb, int* info);
}

}  // namespace brevo
