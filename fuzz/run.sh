#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs one of them.
#   bash fuzz/run.sh TARGET [SECONDS] [extra libFuzzer flags...]
# TARGET is touchstone_reader, standard_reader, equal, arguments, preset or com_stage. The corpus grows in
# build-fuzz/corpus/TARGET (seeded from the same folders the replay test uses); a
# finding is written to build-fuzz/findings/ and should be kept, minimised, under
# tests/hardening/crashes/TARGET/ so the test suite replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?target: touchstone_reader, standard_reader, equal, arguments, preset or com_stage}
seconds=${2:-300}
shift $(( $# > 1 ? 2 : 1 ))
bash "$root/scripts/ensure-packages.sh" clang
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang -DBREVO_SANITIZE=ON -DBREVO_FUZZ=ON -DBREVO_BENCH=OFF \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j 2 --target "brevo_fuzz_$target"
case $target in
  touchstone_reader) max_len=65536
    seeds=("$root/tests/touchstone/bad" "$root/tests/hardening/bad" "$root/tests/tools/cascade") ;;
  standard_reader) max_len=65536
    seeds=("$root/tests/touchstone/bad")
    for d in "$root"/../shared/channels/ts2/*/; do [ -d "$d" ] && seeds+=("$d"); done ;;
  equal) max_len=4096; seeds=("$root/tests/control/bad" "$root/tests/hardening/bad") ;;
  arguments) max_len=16384; seeds=("$root/tests/control/bad" "$root/tests/hardening/bad") ;;
  preset) max_len=16384; seeds=("$root/com/presets" "$root/tests/hardening/presets") ;;
  com_stage) max_len=16384; seeds=("$root/tests/hardening/com_stage") ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
[ -d "$root/examples" ] && seeds+=("$root/examples")
[ -d "$root/tests/hardening/crashes/$target" ] && seeds+=("$root/tests/hardening/crashes/$target")
corpus="$build/corpus/$target"
mkdir -p "$corpus" "$build/findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
exec "$build/fuzz/brevo_fuzz_$target" "$corpus" "${seeds[@]}" -max_total_time="$seconds" \
  -rss_limit_mb=2048 -max_len="$max_len" -close_fd_mask=1 -print_final_stats=1 \
  -artifact_prefix="$build/findings/$target-" "$@"
