#!/usr/bin/env bash
# Reading speed of Brevo's Touchstone reader against a widely used Python S-parameter
# library, side by side on the same generated files: a 16-port file of 10,000 points (MA
# and RI) and a 4-port file of 5,001 points (MA), written by bench_touchstone_read.
# Both sides are timed in CPU time (the machine may be shared); the table gives the best
# of the repetitions and, for Brevo, the median as well.
#
#   bench/compare-readers.sh [build-dir] [repetitions]
#
# The Python side needs python3-scikit-rf; it is installed here when missing, and skipped
# with a message when it cannot be.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build}
repetitions=${2:-5}
python=/usr/bin/python3

if [ ! -x "$build_dir/bench/bench_touchstone_read" ]; then
  cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" -j2 --target bench_touchstone_read >/dev/null
fi

files=$(mktemp -d "${TMPDIR:-/tmp}/brevo_compare_XXXXXX")
trap 'rm -rf "$files"' EXIT

# Brevo: the file constructor (open, read, both passes), files kept for the other side.
BREVO_BENCH_FILES=$files "$build_dir/bench/bench_touchstone_read" \
  --benchmark_filter='BM_ReadFile' --benchmark_repetitions="$repetitions" \
  --benchmark_format=json --benchmark_out="$files/brevo.json" >/dev/null 2>&1

# The Python library, when it can be had.
have_python=1
if ! "$python" -c 'import skrf' >/dev/null 2>&1; then
  if ! bash "$source_dir/scripts/ensure-packages.sh" python3-scikit-rf >/dev/null 2>&1 ||
     ! "$python" -c 'import skrf' >/dev/null 2>&1; then
    echo "python3-scikit-rf could not be installed: the Python side is skipped"
    have_python=0
  fi
fi

"$python" - "$files" "$repetitions" "$have_python" <<'EOF'
import json, os, resource, statistics, sys, warnings
folder, repetitions, have_python = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
warnings.filterwarnings("ignore")
cases = [("BM_ReadFile16PortMA", "sixteen_port_ma.s16p"),
         ("BM_ReadFile16PortRI", "sixteen_port_ri.s16p"),
         ("BM_ReadFile4PortMA", "four_port_ma.s4p")]

runs = {}
for b in json.load(open(os.path.join(folder, "brevo.json")))["benchmarks"]:
    if b.get("run_type") == "iteration":
        # cpu_time is per iteration, in the benchmark's unit (ms here)
        runs.setdefault(b["run_name"], []).append(b["cpu_time"] / 1e3)

def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime

python_times = {}
if have_python:
    import io, contextlib
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        import skrf
    for _, name in cases:
        path = os.path.join(folder, name)
        times = []
        for _ in range(max(1, min(repetitions, 3))):
            t = cpu()
            skrf.Network(path)
            times.append(cpu() - t)
        python_times[name] = times

print("%-22s %8s | %10s %10s %8s | %10s %8s | %7s" %
      ("file", "MB", "Brevo best", "median", "MB/s", "skrf best", "MB/s", "ratio"))
for bench, name in cases:
    path = os.path.join(folder, name)
    mb = os.path.getsize(path) / 1e6
    t = runs.get(bench)
    if not t:
        print("%-22s %8.1f | no Brevo figure" % (name, mb))
        continue
    best, median = min(t), statistics.median(t)
    line = "%-22s %8.1f | %8.1fms %8.1fms %8.0f |" % (name, mb, best * 1e3, median * 1e3, mb / best)
    if name in python_times:
        p = min(python_times[name])
        line += " %8.0fms %8.1f | %6.1fx" % (p * 1e3, mb / p, p / best)
    else:
        line += " %10s %8s | %7s" % ("-", "-", "-")
    print(line)
print("ratio: the Python library's best CPU time over Brevo's best on the same file")
EOF
