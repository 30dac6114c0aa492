#!/usr/bin/env bash
# Rewrites the README's pictures from the bundled example lane: doc/report_page.png, a
# headless Chromium screenshot of brevo-report's page of the demo run (nrz.cf), and
# doc/nrz_run_pulse.png, brevo-plot's pulse picture of save.cf's side files.
# Usage: scripts/regenerate-pictures.sh [build folder]   (default: build, built first
# when brevo-report or Brevo is missing). Needs chromium and matplotlib (ensure-packages.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ ! -x "$build/tools/brevo-report" ] || [ ! -x "$build/driver/Brevo" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target brevo-report Brevo >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The runs start in a folder of links to the examples, so their side files stay there.
mkdir "$work/examples"
ln -s "$root"/examples/* "$work/examples/"
cd "$work/examples"

"$build/tools/brevo-report" "$work/page" nrz.cf
timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run \
  --user-data-dir="$work/profile" --window-size=1200,2000 \
  --screenshot="$root/doc/report_page.png" "file://$work/page/report.html" 2>/dev/null
echo "wrote $root/doc/report_page.png"

"$build/driver/Brevo" save.cf summary=nrz_run.json >/dev/null 2>&1   # the record gives brevo-plot the run's settings
"$root/tools/brevo-plot" size=640,400 out="$work/plots" nrz_run >/dev/null
cp "$work/plots/nrz_run_pulse.png" "$root/doc/nrz_run_pulse.png"
echo "wrote $root/doc/nrz_run_pulse.png"
