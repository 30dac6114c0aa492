#!/usr/bin/env bash
# The Python module against the usual Python route, side by side:
#  1. brevo.read against skrf.Network on one 16-port file of 10,001 points, written in a
#     temporary folder by brevo.write (MA, Hz; every number with its 17 digits);
#  2. a sweep of 200 settings cases on the example lane, brevo.run in threads on
#     networks read once, against the same cases through the program with brevo-sweep
#     (GNU parallel), both at jobs=JOBS.
# Reads are timed in CPU time, best of REPETITIONS; sweeps in wall time (both run in
# parallel), best of two. Prints both ratios.
#
#   bench/compare-python.sh [build-dir] [repetitions] [jobs]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:-$source_dir/build}" && pwd)
repetitions=${2:-3}
jobs=${3:-2}
python=/usr/bin/python3

if [ ! -e "$build_dir"/python/brevo*.so ] || [ ! -x "$build_dir/driver/Brevo" ]; then
  echo "build the module and the program first: cmake --build $build_dir -j2" >&2
  exit 2
fi
if ! "$python" -c 'import skrf' >/dev/null 2>&1; then
  bash "$source_dir/scripts/ensure-packages.sh" python3-scikit-rf >/dev/null 2>&1 || true
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/brevo_python_XXXXXX")
trap 'rm -rf "$work"' EXIT
ln -s "$source_dir"/examples/* "$work/"

PYTHONPATH=$build_dir/python "$python" - "$work" "$repetitions" "$jobs" "$source_dir" "$build_dir" <<'EOF'
import concurrent.futures, contextlib, io, os, resource, subprocess, sys, time, warnings
import numpy as np
import brevo

work, repetitions, jobs, source, build = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
os.chdir(work)
warnings.filterwarnings("ignore")


def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def best(f, n, clock):
    times = []
    for _ in range(n):
        t = clock()
        f()
        times.append(clock() - t)
    return min(times)


# 1. One 16-port file of 10,001 points.
rng = np.random.default_rng(20)
f = np.linspace(0, 50e9, 10001)
s = (rng.uniform(0.001, 1, (10001, 16, 16)) * np.exp(1j * rng.uniform(-np.pi, np.pi, (10001, 16, 16))))
path = os.path.join(work, "sixteen.s16p")
brevo.write(path, brevo.Network(f, s, name="sixteen.s16p"), format="MA")
mb = os.path.getsize(path) / 1e6
ours = best(lambda: brevo.read(path), repetitions, cpu)
print("read %s: %.1f MB, 16 ports, 10,001 points (MA, Hz)" % (os.path.basename(path), mb))
print("  brevo.read    %8.0f ms  %6.0f MB/s" % (ours * 1e3, mb / ours))
try:
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        import skrf
except ImportError:
    print("  skrf.Network  python3-scikit-rf is not installed: no ratio")
else:
    theirs = best(lambda: skrf.Network(path), max(1, min(repetitions, 2)), cpu)
    assert np.allclose(skrf.Network(path).s, brevo.read(path).s, rtol=1e-12, atol=1e-15)
    print("  skrf.Network  %8.0f ms  %6.0f MB/s" % (theirs * 1e3, mb / theirs))
    print("  ratio: skrf.Network CPU time / brevo.read CPU time = %.1f" % (theirs / ours))

# 2. 200 settings cases on the example lane.
lane = '"lane_thru.s4p 1 3 2 4" NEXT=lane_next1.s4p NEXT=lane_next2.s4p FEXT=lane_fext1.s4p FEXT=lane_fext2.s4p'
cases = [dict(N_DFE=n, PAM=p, target_BER=b) for n in range(25) for p in (2, 4) for b in (1e-12, 1e-9, 1e-6, 1e-5)]
with open("sweep_cases.txt", "w") as out:
    for c in cases:
        out.write("Thru=%s N_DFE=%d PAM=%d target_BER=%r\n" % (lane, c["N_DFE"], c["PAM"], c["target_BER"]))


def threads():
    thru = brevo.read("lane_thru.s4p")
    nexts = [brevo.read("lane_next%d.s4p" % k) for k in (1, 2)]
    fexts = [brevo.read("lane_fext%d.s4p" % k) for k in (1, 2)]
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        return list(pool.map(lambda c: brevo.run("link.cf", thru=(thru, "1 3 2 4"), next=nexts, fext=fexts, **c), cases))


def sweep():
    subprocess.run([os.path.join(source, "tools/brevo-sweep"), "out=sweep", "jobs=%d" % jobs, "progress=none",
                    "exe=" + os.path.join(build, "driver/Brevo"), "cases=sweep_cases.txt", "link.cf"],
                   check=True, stdout=subprocess.DEVNULL)


results = threads()
sweep()
programs = [open("sweep/%04d.report" % (k + 1)).read() for k in range(len(cases))]
assert [r.report for r in results] == programs, "the threads' reports differ from the program's"
ours = best(threads, 2, time.perf_counter)
theirs = best(sweep, 2, time.perf_counter)
print("sweep of %d cases on the example lane, %d at a time (the reports equal)" % (len(cases), jobs))
print("  brevo.run in threads  %7.2f s  %6.1f ms a case" % (ours, ours / len(cases) * 1e3))
print("  brevo-sweep           %7.2f s  %6.1f ms a case" % (theirs, theirs / len(cases) * 1e3))
print("  ratio: brevo-sweep wall time / threads wall time = %.1f" % (theirs / ours))
EOF
