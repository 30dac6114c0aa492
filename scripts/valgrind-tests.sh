#!/usr/bin/env bash
# Runs every test program of the normal build under valgrind's memcheck; any memory
# error or leak fails it. Not part of CI (it takes long); run by hand:
#   bash scripts/valgrind-tests.sh [build folder, default build/]
# The black-box tests start Brevo as a child: it is checked too (--trace-children),
# with a longer deadline per run (BREVO_RUN_DEADLINE). Each program's full valgrind
# output goes to <build>/valgrind/<program>.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bash "$root/scripts/ensure-packages.sh" valgrind
[ -x "$build/driver/Brevo" ] || bash "$root/scripts/build.sh"
mkdir -p "$build/valgrind"
export BREVO_RUN_DEADLINE=600
failed=()
for program in "$build"/tests/*_tests "$build"/fuzz/brevo_replay_*; do
  [ -x "$program" ] || continue
  name=$(basename "$program")
  args=()
  case $name in
    brevo_replay_*) # the replay test's own arguments: the seed folders
      args=($(ctest --test-dir "$build" -N -V -R "^fuzz_replay_${name#brevo_replay_}\$" |
              sed -n 's/^[0-9]*: Test command: [^ ]* //p' | tr -d '"')) ;;
  esac
  echo "== $name"
  rm -f "$build/valgrind/$name".*.log
  if (cd "$(dirname "$program")" &&
      valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --suppressions="$root/scripts/valgrind.supp" \
        --trace-children=yes --trace-children-skip='*/sh,*/bash,*/cmake' \
        --log-file="$build/valgrind/$name.%p.log" "$program" "${args[@]}" >/dev/null 2>&1) &&
     # Children (Brevo started by a test) report in their own logs.
     ! grep -lE 'ERROR SUMMARY: [1-9]' "$build/valgrind/$name".*.log; then
    echo "   clean"
  else
    echo "   FAILED: see $build/valgrind/$name.*.log"
    failed+=("$name")
  fi
done
if ((${#failed[@]})); then
  echo "valgrind found errors in: ${failed[*]}"
  exit 1
fi
echo "valgrind: every test program clean"
