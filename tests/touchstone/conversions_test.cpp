// S, Y and Z conversions with a real reference impedance: one-ports by hand and refused
// arguments.

#include "support.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
cmatrix y2z(cmatrix m, double) { return Y2Z(m); }
cmatrix z2y(cmatrix m, double) { return Z2Y(m); }

// One-ports by hand, Z = z0 (1 + S) / (1 - S) and Y = 1 / Z; refused arguments (a reference
// that is not positive, shapes that are not square) give the empty matrix. Every solve
// says so on standard error.
TEST(Conversions, OnePortsByHandAndRefusedArguments) {
  const struct {
    cmatrix (*convert)(cmatrix, double);
    int size;  // 0: a 2x3 matrix
    cplx in;
    double z0;
    cplx out;
    const char* said;
  } cases[] = {
      {S2Y, 1, 0.0, 50, 0.02, "return from dgesv 0\n"},
      {Z2S, 1, 50.0, 50, 0.0, "return from dgesv 0\n"},
      {S2Z, 1, 0.5, 50, 150.0, "return from dgesv 0\n"},
      {S2Y, 1, -0.5, 50, 0.06, "return from dgesv 0\n"},
      {S2Z, 1, cplx(0, 1), 75, cplx(0, 75), "return from dgesv 0\n"},  // (1 + j)/(1 - j) = j
      {Y2S, 1, cplx(0, 1.0 / 75), 75, cplx(0, -1), "return from dgesv 0\n"},
      {y2z, 1, cplx(0, 0.5), 0, cplx(0, -2), "return from dgesv 0\n"},
      {z2y, 1, cplx(3, 4), 0, cplx(0.12, -0.16), "return from dgesv 0\n"},
      {S2Y, 1, 0.25, 0.0, NAN, ""},
      {Y2S, 1, 0.25, -50.0, NAN, ""},
      {Z2S, 1, 0.25, NAN, NAN, ""},
      {S2Z, 0, 0.25, 50.0, NAN, ""},
      {y2z, 0, 0.25, 0, NAN, "cannot solve (2x2)/(2x3)\n"}};
  for (const auto& c : cases) {
    cmatrix m = c.size ? cmatrix(1, 1, &c.in) : cmatrix(2, 3, nullptr);
    CaptureStderr();
    const cmatrix r = c.convert(m, c.z0);
    EXPECT_EQ(GetCapturedStderr(), c.said) << c.in;
    if (std::isnan(c.out.real()))
      EXPECT_EQ(r.Rows() + r.Columns(), 0) << c.in << ", z0 " << c.z0;
    else
      EXPECT_LT(maxDifference(r, cmatrix(1, 1, &c.out)), 1e-13 * std::max(1.0, std::abs(c.out)))
          << c.in;
  }
}

}  // namespace
