// The building blocks of the COM computation, open to the tests: element responses,
// filters, resampling onto the transform grid, the probability mass functions.
#pragma once

#include <complex>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "Result.h"
#include "com.h"

namespace brevo::com::detail {

using cd = std::complex<double>;

// A symmetric-or-not 2-port in the 50 ohm single-ended frame.
struct TwoPort {
  cd s11, s12, s21, s22;
};

TwoPort identity();
TwoPort shuntC(double f, double C, double R0);
TwoPort seriesL(double f, double L, double R0);
// A line of z mm, differential impedance Zc; gamma0 1/mm, a1 1/(mm sqrt GHz), a2 and tau ns/mm.
TwoPort line(double f, double zmm, double Zc, double R0, double gamma0, double a1, double a2,
             double tau);
TwoPort cascade(const TwoPort& a, const TwoPort& b);
// Transfer from the Tx die to the Rx die with the two terminations.
cd terminated(const TwoPort& s, double RdTx, double RdRx, double R0);

cd rxFilter(double f, double fb, double fr);              // 4th-order Butterworth at fr*fb
double raisedCosine(double f, double start, double end);  // 1, taper, 0
double riseTime(double f, double Tr);                     // Gaussian with 20-80 % time Tr
// CTLE at f for gains g1 and g2 (linear), one or two stages.
cd ctle(double f, const Params& p, double g1, double g2);
// Tx FFE at f: taps[j] at UI offset first + j.
cd txFfe(double f, double Tb, std::span<const double> taps, int first);

// The receiver FFE at one sampling point, solved as the search solves it: R's lags (one a
// tap), h0 (the samples the taps meet at the cursor, h(dw - j)), Hb (a row a DFE tap,
// h(dw + n + 1 - j)), the DFE taps' limits, the cursor tap's index and the other taps'
// limits relative to it (both 0: none). w and b receive the solution; returns the mean
// square error over sigma_X^2, or a negative number when R is singular.
double solveMmse(std::span<const double> lag, std::span<const double> h0,
                 std::span<const double> Hb, std::span<const double> bmax,
                 std::span<const double> bmin, int dw, double wmax, double wmin,
                 std::vector<double>& w, std::vector<double>& b);

// Values of a sweep the way a colon operator makes them (float arithmetic) or from
// integer step indices (exact), ascending.
std::vector<double> sweepValues(const Sweep& s, bool colonArithmetic);

// The response at every point of `to` from the points (f, h): magnitude and unwrapped
// phase interpolated linearly; below the first point the magnitude follows a line fitted
// to the first ten points and the phase a robust low-frequency delay; above the last
// point the magnitude runs linearly to a line fit over the upper half (taken at fTop and
// kept between eps and the last magnitude) and the phase follows the robust
// high-frequency delay. Fails (status 1, every value 0) when there are no points or the
// mean phase slope is positive.
brevo::Result<std::vector<cd>> resample(std::span<const double> f, std::span<const cd> h,
                                        std::span<const double> to, double fTop);

// A probability mass function on the bins lo*dy, (lo+1)*dy, ...
struct Pmf {
  long lo = 0;
  std::vector<double> p{1.0};
  double mean(double dy) const;
  double rms(double dy) const;  // about 0
  double stddev(double dy) const;
};
// Linear convolution; long supports go through transforms.
Pmf convolve(const Pmf& a, const Pmf& b);
// The linear convolution of all parts at once, by transforms (round-off near 1e-16 of the
// peak; none below zero).
Pmf convolveAll(std::span<const Pmf* const> parts);
// The lock every FFTW planner call of this library holds (the planner is not reentrant).
std::mutex& fftwPlannerLock();
// A real transform of length N and its inverse, planned once (under the planner's lock)
// on buffers of its own and released with the object: time() holds N reals, spectrum()
// N/2 + 1 complex values. forward() takes time() to spectrum(); inverse() takes
// spectrum() back to time() unscaled (N times the inverse).
class RealTransform {
 public:
  explicit RealTransform(std::size_t N);
  ~RealTransform();
  RealTransform(const RealTransform&) = delete;
  RealTransform& operator=(const RealTransform&) = delete;
  std::size_t size() const { return n_; }
  std::span<double> time() const;
  std::span<cd> spectrum() const;
  void forward();
  void inverse();

 private:
  struct Parts;
  std::size_t n_;
  std::unique_ptr<Parts> parts_;
};
// The sum of L-level symbols times each sample, samples below dy dropped, the atoms
// rounded to bins; the samples are taken by decreasing magnitude.
Pmf symbolsPmf(std::vector<double> samples, int L, double dy);
// Mean square (about 0) of that sum, from the rounded atoms, without building it.
double symbolsMeanSquare(std::span<const double> samples, int L, double dy);
// A Gaussian of sigma on the bins, cut at +-cut (volts) and normalised.
Pmf gaussianPmf(double sigma, double cut, double dy);
// The first bin (from the most negative) where the cumulative sum exceeds der; its value.
double firstAbove(const Pmf& p, double dy, double der);
// The same from the most positive bin down: the last bin where the sum from the top exceeds der.
double lastAbove(const Pmf& p, double dy, double der);
// The lower tail as a bathtub: for amplitudes a = 0, dy, 2 dy, ... the probability that a
// sample lies at or below -a (summed from the most negative bin, as firstAbove sums it),
// until it falls below floor.
void lowerTail(const Pmf& p, double dy, double floor, std::vector<double>& amplitude,
               std::vector<double>& probability);
double erfcInverse(double y);

}  // namespace brevo::com::detail
