#!/usr/bin/env bash
# Builds Brevo and runs it on the bundled example channel, printing the report and
# then any warning lines of its log (the rest of the log, diagnostics, is left out).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh" >/dev/null
cd "$root/examples"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$root/build/driver/Brevo" nrz.cf 2>"$log" || status=$?
grep '^warning: ' "$log" || :
exit "$status"
