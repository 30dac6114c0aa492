// Dense matrix of double-precision complex values, column-major, value semantics.
#pragma once

#include <complex>
#include <cstdio>
#include <vector>

namespace brevo {

class cmatrix {
 public:
  cmatrix();                                                         // empty
  explicit cmatrix(int n);                                           // n x n identity
  cmatrix(int rows, int columns, const std::complex<double>* data);  // null data: zeros

  int Rows() const { return rows; }
  int Columns() const { return columns; }

  // Entry (i, j) from 0; (+inf, 0) outside.
  std::complex<double> value(int i, int j) const;
  // Stores z and returns 0; 1 and nothing stored outside.
  int set(int i, int j, std::complex<double> z);

  cmatrix operator*(double x) const;
  cmatrix operator*(std::complex<double> z) const;
  cmatrix operator+(cmatrix b) const;
  cmatrix operator-(cmatrix b) const;
  cmatrix operator*(cmatrix b) const;
  cmatrix operator|(cmatrix b) const;  // horizontal concatenation
  cmatrix operator/(cmatrix b) const;  // X with b * X = *this (LU or least squares)
  // The same, with the solver's status line on `messages` instead of standard error
  // (none when messages is null); status, when given, receives LAPACK's info (0 solved,
  // above 0 a singular b), or -1 for shapes that cannot be solved.
  cmatrix solve(cmatrix b, FILE* messages, int* status = nullptr) const;
  cmatrix operator++() const;  // transpose, not conjugated
  cmatrix t() const;           // the same transpose

  cmatrix stretch(int k) const;
  void ripple(const cmatrix& v, int a, int b, int c);

  void dump(FILE* f, const char* format, int flags) const;
  // The same into the file DIRECTORY NAME (joined as they are), its path first on standard
  // error. 0; or 1 after "cannot open PATH" or "could not write PATH: REASON" there.
  int dump(const char* directory, const char* name, const char* format, int flags) const;

  // For the LAPACK bridge and fast fills: column-major elements.
  std::complex<double>* data() { return elements.data(); }
  const std::complex<double>* data() const { return elements.data(); }

 private:
  int columns = 0;
  int rows = 0;
  std::vector<std::complex<double>> elements;  // entry (i, j) at j * rows + i
};

}  // namespace brevo
