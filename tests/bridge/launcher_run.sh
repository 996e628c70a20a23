#!/usr/bin/env bash
# The station's main window, on the libftdi1 link as zarv has it, in its own
# process against zarv-bridge-emu: three dwells recorded, every record checked
# against the controller's waveform, and nothing overrun in the bridge.
# Usage: launcher_run.sh <zarv-bridge-emu> <zarv-bench-run> <zarv-soak-check> <demo config>
set -euo pipefail
emu="$1" run="$2" check="$3" config="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sed -e "s#^data_dir.*#data_dir = $work/data#" -e 's/^ipp.*/ipp = 200/' \
    -e 's/^dwell_time.*/dwell_time = 1/' "$config" > "$work/config.txt"
# Until three dwells are journaled, however slow the start: 60 s only bounds it.
export QT_QPA_PLATFORM=offscreen ZARV_BENCH_HARDWARE=1 ZARV_BENCH_DWELLS=3
"$emu" --trace "$work/trace.txt" -- "$run" "$work" 60 > "$work/run.txt" 2> "$work/emu.txt"
cat "$work/run.txt"
grep "zarv-bridge-emu" "$work/emu.txt"
grep -q "bridge Radar controller (simulated) \[SIM00001\]" "$work/emu.txt"
grep -q "^zarv-bridge-emu: 0 stream bytes overran" "$work/emu.txt"
grep -q "^data lost lines    0$" "$work/run.txt"
grep -q "^framing lines      0$" "$work/run.txt"
"$check" "$work/data" | tee "$work/check.txt"
dwells=$(awk '$1 == "dwells" && $2 ~ /^[0-9]+$/ {print $2}' "$work/check.txt")
grep -q "^records misplaced  0 " "$work/check.txt"
[ "$dwells" -ge 3 ] || { echo "only $dwells dwells recorded"; exit 1; }
