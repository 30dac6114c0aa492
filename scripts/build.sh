#!/usr/bin/env bash
# Configures and builds Brevo (Release) into build/ and installs what it needs first.
# Arguments go to the configuration (the test script makes every warning an error).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/ensure-packages.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$root/build" -j "$(nproc)"
