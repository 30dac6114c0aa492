#!/usr/bin/env bash
# Reading speed of Brevo's two Touchstone readers beside the limit they run against and
# beside a widely used Python S-parameter library, on the same generated files: a 16-port
# file of 10,001 points in RI and in MA, every number in its shortest round-trip form,
# written by bench_read_once.
#
# Every measurement is one read in a fresh process, as Brevo reads a file: the CPU time
# from opening the file to holding its values. The yardstick is one std::from_chars pass
# over the same numbers (the file read the same way, every number converted and stored);
# for MA a second pass also turns each pair into a complex value with the same sin and cos
# the readers use, and the difference between the two is what that trigonometry costs.
# The programs run in turn, round after round (the machine may be shared); the table
# gives the best and the median of the rounds, and each reader's speed as a fraction of
# the from_chars pass (for MA, of the pass with sin and cos as well).
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

if [ ! -x "$build_dir/bench/bench_read_once" ]; then
  cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" -j2 --target bench_read_once >/dev/null
fi

files=$(mktemp -d "${TMPDIR:-/tmp}/brevo_compare_XXXXXX")
trap 'rm -rf "$files"' EXIT
"$build_dir/bench/bench_read_once" write "$files"

have_python=1
if ! "$python" -c 'import skrf' >/dev/null 2>&1; then
  if ! bash "$source_dir/scripts/ensure-packages.sh" python3-scikit-rf >/dev/null 2>&1 ||
     ! "$python" -c 'import skrf' >/dev/null 2>&1; then
    echo "python3-scikit-rf could not be installed: the Python side is skipped"
    have_python=0
  fi
fi

"$python" - "$build_dir/bench/bench_read_once" "$files" "$repetitions" "$have_python" <<'EOF'
import os, statistics, subprocess, sys
program, folder, repetitions, have_python = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == "1"
files = [("sixteen_port_ri.s16p", "RI"), ("sixteen_port_ma.s16p", "MA")]
# The Python library, one read in a fresh interpreter, timed after its import.
skrf_read = r'''
import contextlib, io, resource, sys, warnings
warnings.filterwarnings("ignore")
with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
    import skrf
def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime
t = cpu()
n = skrf.Network(sys.argv[1])
print(cpu() - t, len(n.f))
'''
def modes(fmt):
    m = [("from_chars", "from_chars pass")]
    if fmt != "RI":
        m.append(("polar", "from_chars + sin/cos"))
    m += [("longstanding", "long-standing reader"), ("standard", "standard reader")]
    if have_python:
        m.append(("skrf", "scikit-rf"))
    return m

times = {}
for round in range(repetitions):
    for name, fmt in files:
        path = os.path.join(folder, name)
        for mode, _ in modes(fmt):
            if mode == "skrf":
                if round >= 3:
                    continue   # seconds a read; three are enough
                cmd = [sys.executable, "-c", skrf_read, path]
            else:
                cmd = [program, mode, path]
            out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout.split()
            if int(out[1]) != 10001:
                sys.exit("%s read %s frequencies from %s" % (mode, out[1], name))
            times.setdefault((name, mode), []).append(float(out[0]))

print("%-21s %-21s %9s %9s %7s | %11s %13s" %
      ("file", "read by", "best", "median", "MB/s", "/ from_chars", "/ with sin+cos"))
for name, fmt in files:
    mb = os.path.getsize(os.path.join(folder, name)) / 1e6
    base = min(times[(name, "from_chars")])
    trig = min(times[(name, "polar")]) if fmt != "RI" else None
    for mode, label in modes(fmt):
        t = times[(name, mode)]
        best = min(t)
        line = "%-21s %-21s %7.1fms %7.1fms %7.0f |" % (
            name if mode == "from_chars" else "", label, best * 1e3, statistics.median(t) * 1e3, mb / best)
        if mode not in ("from_chars", "polar"):
            line += " %11.2f" % (base / best)
            if trig is not None:
                line += " %13.2f" % (trig / best)
        print(line)
    if trig is not None:
        print("%-21s sin and cos of the %d pairs: %.1f ms (%.0f%% of the pass with them)" %
              ("", 10001 * 256, (trig - base) * 1e3, 100 * (trig - base) / trig))
    if have_python:
        sk = min(times[(name, "skrf")])
        print("%-21s scikit-rf over the readers: %.1fx (long-standing), %.1fx (standard)" %
              ("", sk / min(times[(name, "longstanding")]), sk / min(times[(name, "standard")])))
print("CPU time of one read in a fresh process, best and median of %d rounds (scikit-rf: %d);"
      % (repetitions, min(repetitions, 3)))
print("'/ from_chars': the from_chars pass's best time over the reader's, 1.00 = as fast")
EOF
