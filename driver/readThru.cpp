// Reading the through channel: its file, and its three responses on the file's points.
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#include "stages.h"

namespace {

// "ports 2,4", or "port 2" for a single-ended side.
std::string portsText(int plus, int minus) {
  return minus ? "ports " + std::to_string(plus) + "," + std::to_string(minus)
               : "port " + std::to_string(plus);
}

// One warning when the thru's transmission differs between its two directions by more
// than 10% at a point up to the Nyquist frequency where either direction is above -30 dB
// (measured passive channels stay within 2%): the analysis takes one direction only.
void warnAboutOneWayThru(const RunGiven& given, RunIO& io, const Sparams& thru,
                         const ThruPoints& points) {
  const std::vector<std::complex<double>>& taken = points.Sdd21;
  const std::vector<std::complex<double>> back =
      thru.aParam(given.outP, given.inP, given.outM, given.inM, 0, 0, nullptr);
  if (back.size() != taken.size()) return;
  const double nyquist = given.settings.data_rate / 2, floor = std::pow(10.0, -30.0 / 20);
  double worst = 0, first = 0;
  for (std::size_t k = 0; k < taken.size(); ++k) {
    const double f = thru.Freq(static_cast<int>(k));
    if (!(f <= nyquist)) break;
    const double larger = std::max(std::abs(taken[k]), std::abs(back[k]));
    if (!(larger > floor)) continue;
    const double d = std::abs(taken[k] - back[k]) / larger;
    if (d > 0.1 && !(worst > 0.1)) first = f;
    worst = std::max(worst, d);
  }
  if (!(worst > 0.1)) return;
  // The stored entry (inP, outP) is the matrix entry (row, column) with the wave leaving
  // at the row's port for one entering at the column's.
  const Sparams::Position m = Sparams::stored(thru.Size(), given.inP, given.outP);
  const bool forward = m.i == given.outP;
  const std::string in = portsText(given.inP, given.inM), out = portsText(given.outP, given.outM);
  char text[1400];
  std::snprintf(text, sizeof text,
                "%s is not reciprocal: its transmission differs between the two directions by up "
                "to %.0f%% up to "
                "the Nyquist frequency where it is above -30 dB, by more than 10%% from %.6g GHz; "
                "the analysis "
                "takes its transmission from %s to %s",
                given.thruList.front().name.c_str(), 100 * worst, first * 1e-9,
                (forward ? in : out).c_str(), (forward ? out : in).c_str());
  warn(io, text);
}

}  // namespace

int readThru(const RunGiven& given, RunIO& io, ChannelCache& channels, ThruRead& thru,
             ThruPoints& points, ComChannels& com) {
  const std::string& name = given.thruList.front().name;
  std::fprintf(io.log, "thru channel=%s\n", name.c_str());
  // A file read before the run (channels.readChannels) need not be there any more.
  const std::shared_ptr<const ReadChannel> held = heldChannel(given, channels, name);
  if (!channels.readChannels.contains(name) && held->status == TouchstoneReadStatus::cannotOpen) {
    std::fprintf(io.log, "cannot open %s\n", name.c_str());
    std::fputs("cannot open a thru file\n", io.result);
    return 1;
  }
  std::fflush(io.log);

  brevo::Result<ChannelFile> read = channelRead(io, *held);
  thru.set = std::move(read.value.set);
  thru.reading = std::move(read.value.how);
  if (!read.ok()) {  // a Version 2.x file that breaks the standard
    std::fprintf(io.result, "%s\n", read.message.c_str());
    return 1;
  }
  if (thru.set.Size() == 0) return noThru(io);
  // Every later stage takes one value per point of the file. The lookups give that only
  // for ascending frequencies: with a frequency below the one before it they answer on
  // a grid of another length, or nothing. Such a file is refused here, with the point
  // that breaks the order named on the log.
  const int n = thru.set.Fcount();
  if (const int k = thru.set.firstPointOutOfOrder()) {
    std::fprintf(io.log, "%s: frequency %d (%g Hz) is below the one before it (%g Hz)\n",
                 name.c_str(), k + 1, thru.set.Freq(k), thru.set.Freq(k - 1));
    std::fputs("cannot properly read Thru file\n", io.log);
    return 1;
  }
  ThruPoints& p = points;
  p.Sdd21 = thru.set.aParam(given.inP, given.outP, given.inM, given.outM, 0, 0, nullptr);
  p.Sdd11 = thru.set.aParam(given.inP, given.inP, given.inM, given.inM, 0, 0, nullptr);
  p.Sdd22 = thru.set.aParam(given.outP, given.outP, given.outM, given.outM, 0, 0, nullptr);
  const auto count = static_cast<std::size_t>(n);
  if (p.Sdd21.size() != count || p.Sdd11.size() != count || p.Sdd22.size() != count) {
    std::fputs("cannot properly read Thru file\n", io.log);
    return 1;
  }
  keepComChannel(given, com, thru.set, name, brevo::com::ChannelKind::thru, given.inP, given.inM,
                 given.outP, given.outM);
  // A value that is not a finite number (NaN or infinity in the file) spreads through
  // every sum it enters. The run goes on with the file as it stands; the first such
  // point is named on the log and in the report so the "nan" figures are explained.
  auto finite = [](std::complex<double> z) {
    return std::isfinite(z.real()) && std::isfinite(z.imag());
  };
  for (std::size_t k = 0; k < count; ++k) {
    const double f = thru.set.Freq(static_cast<int>(k));
    if (std::isfinite(f) && finite(p.Sdd21[k]) && finite(p.Sdd11[k]) && finite(p.Sdd22[k]))
      continue;
    char warning[1200];
    std::snprintf(warning, sizeof warning,
                  "warning:  %s holds a value that is not a finite number at point %zu (%g Hz)\n",
                  name.c_str(), k + 1, f);
    std::fputs(warning, io.log);
    std::fputs(warning, io.result);
    break;
  }
  warnAboutThruBand(given, io, thru.set);
  warnAboutThruPorts(given, io, thru.set);
  warnAboutOneWayThru(given, io, thru.set, points);
  return 0;
}
