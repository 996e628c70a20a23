#!/usr/bin/env bash
# The hardware program (zarv --headless) through the emulated bridge at a given
# stream rate, run after run: what overran in the bridge, the records missing by
# the dwell journal, and whether every record sits at its journal time.
# Usage: bench/bridge_rate.sh [ipp_us] [seconds] [runs] [gates] [integrations]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
ipp="${1:-10}" seconds="${2:-60}" runs="${3:-3}" gates="${4:-36}" integrations="${5:-1}"
build="${BUILD_DIR:-$root/build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
rate=$(awk -v ipp="$ipp" 'BEGIN { printf "%.2f", 148 / ipp }')
echo "ipp $ipp us, $gates gates, integrations $integrations: $rate MB/s of stream, $seconds s a run"
for run in $(seq "$runs"); do
  rm -rf "$work/data" "$work/log"
  sed -e "s#^data_dir.*#data_dir = $work/data#" -e "s/^ipp.*/ipp = $ipp/" \
      -e "s/^gates.*/gates = $gates/" -e "s/^integrations.*/integrations = $integrations/" \
      -e 's/^dwell_time.*/dwell_time = 10/' -e 's/^relay_swith_time.*/relay_swith_time = 10/' \
      "$root/demo/config.txt" > "$work/config.txt"
  start=$(date +%s.%N)
  ( cd "$work" && /usr/bin/time -f "%U %S" -o "$work/time.txt" \
      "$build/zarv-bridge-emu" -- "$build/zarv" --headless --duration "$seconds" \
      > "$work/out.txt" 2> "$work/emu.txt" )
  end=$(date +%s.%N)
  "$build/bench/zarv-soak-check" "$work/data" > "$work/check.txt" || true
  overran=$(sed -n 's/^zarv-bridge-emu: \([0-9]*\) stream bytes overran.*/\1/p' "$work/emu.txt")
  missing=$(awk '/^records missing/ {print $3}' "$work/check.txt")
  records=$(awk '$1 == "records" && $2 ~ /^[0-9]+$/ {print $2}' "$work/check.txt")
  misplaced=$(awk '/^records misplaced/ {print $3}' "$work/check.txt")
  cpu=$(awk -v s="$start" -v e="$end" '{ printf "%.2f", ($1 + $2) / (e - s) }' "$work/time.txt")
  echo "run $run: $records records, $missing missing, $misplaced misplaced," \
       "$overran bytes overran, $cpu CPU s per s (station and bridge)," \
       "load average $(cut -d' ' -f1-3 /proc/loadavg)"
  sed -n 's/^zarv-bridge-emu: holes /  holes: /p' "$work/emu.txt"
done
