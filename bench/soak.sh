#!/usr/bin/env bash
# Soak: the station records on the simulated controller at ipp 100 us, 36 gates,
# integrations 1, beams changing every 10 s; then every record written is checked
# against the simulator's waveform.
# Usage: bench/soak.sh [seconds, default 600]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-600}"
"$root/scripts/build" >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sed -e "s#^data_dir.*#data_dir=$work/data#" -e 's/^ipp.*/ipp=100/' -e 's/^gates.*/gates=36/' \
    -e 's/^integrations.*/integrations=1/' -e 's/^dwell_time.*/dwell_time=10/' \
    "$root/demo/config.txt" > "$work/config.txt"
export QT_QPA_PLATFORM=offscreen
echo "== station, ${seconds} s"
"$root/build/bench/zarv-bench-run" "$work" "$seconds" 2>/dev/null
echo "== check"
"$root/build/bench/zarv-soak-check" "$work/data"
