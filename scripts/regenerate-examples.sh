#!/usr/bin/env bash
# Writes the bundled example lane (examples/lane_*.s4p) with brevo-channel. Running it
# again gives the same bytes. Usage: scripts/regenerate-examples.sh [output folder]
# The generator is taken from $BREVO_TOOLS_DIR when set, else from build/tools (built
# first when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/examples}
tools=${BREVO_TOOLS_DIR:-$root/build/tools}
if [ ! -x "$tools/brevo-channel" ]; then
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build" -j2 --target brevo-channel >/dev/null
fi
mkdir -p "$out"
# A 30 cm stripline pair at 25.78125 GBd: 25 dB loss at 12.890625 GHz, 90 ohm
# differential, 80 fF vias at both ends and a 50 fF connector at 37 % of the length;
# two NEXT and two FEXT aggressors, the second of each kind 6 dB weaker.
# 25 MHz to 50 GHz in steps of 25 MHz, decibels and degrees.
"$tools/brevo-channel" out="$out/lane" \
  rate=25.78125g loss=25 length=300m er=3.7 zdiff=90 zcomm=30 conductor=0.4 \
  via=80f connector=50f connector_at=0.37 \
  next=-44,-50 fext=-32,-38 \
  fstart=25meg fstop=50g fstep=25meg format=DB unit=MHz
