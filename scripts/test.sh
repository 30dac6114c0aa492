#!/usr/bin/env bash
# Builds Brevo and runs the whole test suite; then builds the same suite with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ and runs it again.
# Any sanitizer report fails the run. Both builds replay the fuzz seeds and the kept
# crash reproducers (tests fuzz_replay_*).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# The tests check every run record they write against its schema with Debian's validator.
bash "$root/scripts/ensure-packages.sh" python3-jsonschema
bash "$root/scripts/build.sh" -DBREVO_WERROR=ON
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

# In the fresh system of scripts/fresh-box.sh the outer run has just done the sanitizer
# half on the same tree, so it is skipped there.
if [ -n "${BREVO_FRESH_BOX:-}" ]; then
  echo "== sanitizer build skipped in the fresh box (the outer run does it)"
  exit 0
fi
echo "== sanitizer build (build-asan/)"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Release -DBREVO_SANITIZE=ON \
  -DBREVO_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
