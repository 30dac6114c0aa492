// Reading speed of the Touchstone reader on large multi-port files, in bytes per second.
// The files are written once, with the library's own writer, into a temporary folder:
// a 16-port file of 10,000 points and a 4-port file of 5,001 points in MA (the usual
// export format, with an angle per value), and the 16-port file again in RI.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "GlobalNames.h"

namespace {

struct BenchFile {
  std::string path;
  std::string text;
};

// A temporary folder that goes when the program ends; with BREVO_BENCH_FILES set, that
// folder instead, and the files stay (for another program to read them with another
// reader).
struct Scratch {
  std::string path;
  bool keep = false;
  Scratch() {
    if (const char* dir = std::getenv("BREVO_BENCH_FILES"); dir && *dir) {
      std::error_code ignored;
      std::filesystem::create_directories(dir, ignored);
      path = dir;
      keep = true;
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "brevo_bench_XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    if (!path.empty() && !keep) std::filesystem::remove_all(path, ignored);
  }
};

std::string scratchFolder() {
  static const Scratch folder;
  return folder.path.empty() ? std::string(".") : folder.path;
}

// A channel-like set: loss growing with frequency, phase falling with a delay, weaker
// coupling off the diagonal.
BenchFile makeFile(int ports, int points, format fmt, const char* name) {
  Sparams s(ports, points, name);
  const double step = 10e6;
  for (int k = 0; k < points; ++k) {
    const double f = k * step;
    s.setFreq(k, f);
    for (int i = 1; i <= ports; ++i)
      for (int j = 1; j <= ports; ++j) {
        const double loss = (i == j ? 0.3 : 0.9 / (1 + std::abs(i - j))) *
                            std::exp(-f * 1e-10 * (1 + 0.01 * i + 0.003 * j));
        const double phase = -2 * 3.141592653589793 * f * (1e-9 + 1e-12 * (i + j));
        s.set(k, i, j, std::polar(loss, phase));
      }
  }
  BenchFile b;
  b.path = scratchFolder() + "/" + name;
  s.print(b.path.c_str(), "benchmark channel", fmt, "%.9e %.4f ", stderr);
  std::ifstream in(b.path, std::ios::binary);
  b.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return b;
}

const BenchFile& sixteenPortMA() {
  static const BenchFile f = makeFile(16, 10000, MA, "sixteen_port_ma.s16p");
  return f;
}
const BenchFile& sixteenPortRI() {
  static const BenchFile f = makeFile(16, 10000, RI, "sixteen_port_ri.s16p");
  return f;
}
const BenchFile& fourPortMA() {
  static const BenchFile f = makeFile(4, 5001, MA, "four_port_ma.s4p");
  return f;
}

// Both passes on the text already in memory.
void parseText(benchmark::State& state, const BenchFile& file, int ports, int points) {
  for (auto _ : state) {
    ReadResult r = parseTouchstone(file.text, file.path);
    if (r.set.Size() != ports || r.set.Fcount() != points) state.SkipWithError("wrong counts");
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.text.size()));
}

// The file constructor: open, read into memory, both passes, the log line.
void readFile(benchmark::State& state, const BenchFile& file, int ports, int points) {
  FILE* log = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    std::string name = file.path;
    Sparams s(name.data(), log);
    if (s.Size() != ports || s.Fcount() != points) state.SkipWithError("wrong counts");
    benchmark::DoNotOptimize(s);
  }
  if (log) std::fclose(log);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.text.size()));
}

void BM_Parse16PortMA(benchmark::State& s) { parseText(s, sixteenPortMA(), 16, 10000); }
void BM_Parse16PortRI(benchmark::State& s) { parseText(s, sixteenPortRI(), 16, 10000); }
void BM_Parse4PortMA(benchmark::State& s) { parseText(s, fourPortMA(), 4, 5001); }
void BM_ReadFile16PortMA(benchmark::State& s) { readFile(s, sixteenPortMA(), 16, 10000); }
void BM_ReadFile16PortRI(benchmark::State& s) { readFile(s, sixteenPortRI(), 16, 10000); }
void BM_ReadFile4PortMA(benchmark::State& s) { readFile(s, fourPortMA(), 4, 5001); }

BENCHMARK(BM_Parse16PortMA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse16PortRI)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse4PortMA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile16PortMA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile16PortRI)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile4PortMA)->Unit(benchmark::kMillisecond);

}  // namespace
