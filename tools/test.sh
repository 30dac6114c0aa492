#!/usr/bin/env bash
# Builds Brevo and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh"
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"
