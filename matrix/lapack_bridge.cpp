// The only place that declares Fortran symbols. gfortran passes the length of every
// character argument as a hidden trailing size_t; zgels_ has one (trans).
#include "lapack_bridge.h"

#include <cstddef>
#include <vector>

namespace brevo {

extern "C" {
void zgesv_(const int* n, const int* nrhs, std::complex<double>* a, const int* lda, int* ipiv,
            std::complex<double>* b, const int* ldb, int* info);
void zgels_(const char* trans, const int* m, const int* n, const int* nrhs, std::complex<double>* a,
            const int* lda, std::complex<double>* b, const int* ldb, std::complex<double>* work,
            const int* lwork, int* info, std::size_t transLength);
}

extern "C" void call_zgesv(int* n, int* nrhs, std::complex<double>* a, int* lda, int* ipiv,
                           std::complex<double>* b, int* ldb, int* info) {
  zgesv_(n, nrhs, a, lda, ipiv, b, ldb, info);
}

extern "C" void call_zgels(const char* trans, int* m, int* n, int* nrhs, std::complex<double>* a,
                           int* lda, std::complex<double>* b, int* ldb, int* info) {
  // Workspace query: with lwork = -1 LAPACK only writes the optimal size into work[0].
  std::vector<std::complex<double>> work(1);
  int lwork = -1;
  zgels_(trans, m, n, nrhs, a, lda, b, ldb, work.data(), &lwork, info, 1);
  if (*info != 0) return;
  lwork = static_cast<int>(work[0].real());  // truncated towards zero
  if (lwork < 1) lwork = 1;                  // never hand LAPACK an empty workspace
  work.assign(static_cast<std::size_t>(lwork), {});
  zgels_(trans, m, n, nrhs, a, lda, b, ldb, work.data(), &lwork, info, 1);
}

}  // namespace brevo
