// Reads a 1-port Touchstone file with the installed library and prints, per point,
// the frequency and the impedance Z11 = S2Z(S, 50 ohm) as "f re im". The library is in
// namespace brevo.
#include <cstdio>
#include <string>

#include <brevo/TouchstoneCore.h>
#include <brevo/cmatrix.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer FILE.s1p\n");
    return 2;
  }
  const brevo::Sparams set(std::string(argv[1]), stderr);
  if (set.Fcount() == 0 || set.Size() != 1) return 1;
  for (int k = 0; k < set.Fcount(); ++k) {
    const brevo::cmatrix z = brevo::S2Z(set.Value(k), 50.0);
    const std::complex<double> z11 = z.value(0, 0);
    std::printf("%g %.6f %.6f\n", set.Freq(k), z11.real(), z11.imag());
  }
  return 0;
}
