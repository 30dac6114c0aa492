#!/usr/bin/env bash
# Builds Brevo and runs it on the bundled example channel, printing the report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh" >/dev/null
cd "$root/examples"
exec "$root/build/driver/Brevo" nrz.cf 2>/dev/null
