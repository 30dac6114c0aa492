// Reading the through channel: its file, and its three responses on the file's points.
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#include "stages.h"

int readThru(RunState& rs) {
  const std::string& name = rs.thruList.front().name;
  std::fprintf(rs.log, "thru channel=%s\n", name.c_str());
  // A file read before the run (rs.readChannels) need not be there any more.
  if (!rs.readChannels.contains(name)) {
    FILE* probe = std::fopen(name.c_str(), "r");
    if (!probe) {
      std::fprintf(rs.log, "cannot open %s\n", name.c_str());
      std::fputs("cannot open a thru file\n", rs.result);
      return 1;
    }
    std::fclose(probe);
  }
  std::fflush(rs.log);

  std::string error;
  rs.thru = readChannelFile(rs, name, &error, &rs.thruReading);
  if (!error.empty()) {  // a Version 2.x file that breaks the standard
    std::fprintf(rs.result, "%s\n", error.c_str());
    return 1;
  }
  if (rs.thru.Size() == 0) return noThru(rs);
  // Every later stage takes one value per point of the file. The lookups give that only
  // for ascending frequencies: with a frequency below the one before it they answer on
  // a grid of another length, or nothing. Such a file is refused here, with the point
  // that breaks the order named on the log.
  const int n = rs.thru.Fcount();
  if (const int k = rs.thru.firstPointOutOfOrder()) {
    std::fprintf(rs.log, "%s: frequency %d (%g Hz) is below the one before it (%g Hz)\n",
                 name.c_str(), k + 1, rs.thru.Freq(k), rs.thru.Freq(k - 1));
    std::fputs("cannot properly read Thru file\n", rs.log);
    return 1;
  }
  ThruPoints& p = rs.points;
  p.Sdd21 = rs.thru.aParam(rs.inP, rs.outP, rs.inM, rs.outM, 0, 0, nullptr);
  p.Sdd11 = rs.thru.aParam(rs.inP, rs.inP, rs.inM, rs.inM, 0, 0, nullptr);
  p.Sdd22 = rs.thru.aParam(rs.outP, rs.outP, rs.outM, rs.outM, 0, 0, nullptr);
  const auto points = static_cast<std::size_t>(n);
  if (p.Sdd21.size() != points || p.Sdd11.size() != points || p.Sdd22.size() != points) {
    std::fputs("cannot properly read Thru file\n", rs.log);
    return 1;
  }
  keepComChannel(rs, rs.thru, name, brevo::com::ChannelKind::thru, rs.inP, rs.inM, rs.outP, rs.outM);
  // A value that is not a finite number (NaN or infinity in the file) spreads through
  // every sum it enters. The run goes on with the file as it stands; the first such
  // point is named on the log and in the report so the "nan" figures are explained.
  auto finite = [](std::complex<double> z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); };
  for (std::size_t k = 0; k < points; ++k) {
    const double f = rs.thru.Freq(static_cast<int>(k));
    if (std::isfinite(f) && finite(p.Sdd21[k]) && finite(p.Sdd11[k]) && finite(p.Sdd22[k])) continue;
    char warning[1200];
    std::snprintf(warning, sizeof warning,
                  "warning:  %s holds a value that is not a finite number at point %zu (%g Hz)\n",
                  name.c_str(), k + 1, f);
    std::fputs(warning, rs.log);
    std::fputs(warning, rs.result);
    break;
  }
  warnAboutThruBand(rs);
  warnAboutThruPorts(rs);
  return 0;
}
