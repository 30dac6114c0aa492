// One read of one file in a fresh process, as Brevo reads it, and the CPU time it took:
// the long-standing reader (the file constructor), the standard reader, or, as the
// yardstick, one std::from_chars pass over the same numbers (the file read the same
// way, every number converted and stored), alone or with each pair turned into a complex
// value by the same sin and cos the readers use for MA. bench/compare-readers.sh starts
// it once per measurement, so every read meets a fresh heap and fresh pages.
//
//   bench_read_once write FOLDER            the 16-port 10,001-point RI and MA files
//   bench_read_once MODE FILE               MODE: longstanding, standard, from_chars, polar
//
// A read prints its CPU seconds, then what it read (points, and a sum of the values so
// that every conversion counts).
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "cpuTime.h"
#include "GlobalNames.h"
#include "FileText.h"

namespace {

using complex = std::complex<double>;

// A channel-like set: loss growing with frequency, phase falling with a delay, weaker
// coupling off the diagonal; every number written in its shortest round-trip form.
int writeFiles(const std::string& folder) {
  constexpr int kPorts = 16, kPoints = 10001;
  Sparams s(kPorts, kPoints, "bench");
  for (int k = 0; k < kPoints; ++k) {
    const double f = k * 5e6;
    s.setFreq(k, f);
    for (int i = 1; i <= kPorts; ++i)
      for (int j = 1; j <= kPorts; ++j) {
        const double loss =
            (i == j ? 0.3 : 0.9 / (1 + std::abs(i - j))) * std::exp(-f * 1e-10 * (1 + 0.01 * i));
        s.set(k, i, j, std::polar(loss, -2 * std::numbers::pi * f * (1e-9 + 1e-12 * (i + j))));
      }
  }
  for (format f : {RI, MA}) {
    const std::string path = folder + (f == RI ? "/sixteen_port_ri.s16p" : "/sixteen_port_ma.s16p");
    std::ofstream out(path, std::ios::binary);
    out << formatTouchstone(s, {1, f, "Hz", 50, "Full"});
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}

// The ports a name ending in .sNp gives; 0 for any other.
int portsOf(const std::string& path) {
  const std::size_t dot = path.rfind(".s");
  if (dot == std::string::npos) return 0;
  return std::atoi(path.c_str() + dot + 2);
}

struct Yardstick {
  std::vector<double> freq;
  std::vector<double> numbers;  // from_chars: every number after the frequency
  std::vector<complex> values;  // polar: the pairs as values
};

// Every number of the text after the header by std::from_chars: white space skipped,
// comment and option lines passed over; with Polar each record's pairs become values.
template <bool Polar>
bool fromCharsPass(std::string_view text, int ports, Yardstick& y) {
  const std::size_t record =
      1 + 2 * static_cast<std::size_t>(ports) * static_cast<std::size_t>(ports);
  const std::size_t room = text.size() / 2;  // no number is shorter than a digit and a blank
  if constexpr (Polar)
    brevo::io::reserveOnHugePages(y.values, room / 2);
  else
    brevo::io::reserveOnHugePages(y.numbers, room);
  y.freq.reserve(room / record + 1);
  const char* p = text.data();
  const char* const e = p + text.size();
  std::size_t inRecord = 0;
  double pending = 0;
  while (p < e) {
    const char c = *p;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++p;
      continue;
    }
    if (c == '!' || c == '#') {
      const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(e - p));
      p = lf ? static_cast<const char*>(lf) : e;
      continue;
    }
    double v;
    const auto [end, ec] = std::from_chars(p, e, v);
    if (ec != std::errc()) return false;
    p = end;
    const std::size_t at = inRecord;
    if (++inRecord == record) inRecord = 0;
    if (at == 0) {
      y.freq.push_back(v);
    } else if (!Polar) {
      y.numbers.push_back(v);
    } else if (at % 2 == 1) {
      pending = v;
    } else {
      const double radians = v * (std::numbers::pi / 180.0);
      y.values.emplace_back(pending * std::cos(radians), pending * std::sin(radians));
    }
  }
  return true;
}

int readOnce(const std::string& mode, const std::string& path) {
  double sum = 0;
  long long points = 0;
  double seconds = 0;
  if (mode == "longstanding") {
    FILE* log = std::fopen("/dev/null", "w");
    const double start = cpuSeconds();
    const Sparams s(path, log);
    seconds = cpuSeconds() - start;
    points = s.Fcount();
    for (int k = 0; k < s.Fcount(); ++k) sum += s.Freq(k) + s.Value(k, s.Size(), s.Size()).real();
  } else if (mode == "standard") {
    const double start = cpuSeconds();
    const TouchstoneFile f = readTouchstone(path);
    seconds = cpuSeconds() - start;
    if (!f.ok) {
      std::fprintf(stderr, "%s\n", f.message().c_str());
      return 1;
    }
    points = f.set.Fcount();
    for (int k = 0; k < f.set.Fcount(); ++k)
      sum += f.set.Freq(k) + f.set.Value(k, f.set.Size(), f.set.Size()).real();
  } else if (mode == "from_chars" || mode == "polar") {
    const double start = cpuSeconds();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "cannot open %s\n", path.c_str());
      return 1;
    }
    Yardstick y;
    bool ok;
    {
      const brevo::io::FileText contents(fd);
      close(fd);
      ok = mode == "polar" ? fromCharsPass<true>(contents.text(), portsOf(path), y)
                           : fromCharsPass<false>(contents.text(), portsOf(path), y);
    }
    seconds = cpuSeconds() - start;
    if (!ok) {
      std::fprintf(stderr, "%s: not a number where one was expected\n", path.c_str());
      return 1;
    }
    points = static_cast<long long>(y.freq.size());
    for (double v : y.freq) sum += v;
    for (double v : y.numbers) sum += v;
    for (complex v : y.values) sum += v.real();
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  std::printf("%.6f %lld %.17g\n", seconds, points, sum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s write FOLDER | longstanding|standard|from_chars|polar FILE\n",
                 argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  return mode == "write" ? writeFiles(argv[2]) : readOnce(mode, argv[2]);
}
