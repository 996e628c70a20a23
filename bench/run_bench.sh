#!/usr/bin/env bash
# Whole-station figures on the simulated controller (graph window shown):
#   1. ipp 100 us, 36 gates, integrations 1, the graph capturing 1,000,000 points:
#      records lost, GUI answer time, CPU;
#   2. the same with the GUI thread blocked for 2 s in every dwell;
#   3. ipp 1000 us, integrations 10: CPU seconds per second of run while waiting;
#   4. 1 s dwells: the gap from StopTrigger to the next SetBeamDirection;
#   5. the heaviest stream without and with the radar view shown: what the view costs.
# Usage: bench/run_bench.sh [seconds per run, default 60]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
"$root/scripts/build" >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
config() {  # ipp gates integrations
  cat <<CFG
tx_enable=1
integrations=$3
dwell_time=10
data_dir=$work/data
relay_swith_time=100
ipp=$1
pulse_length=1000
lo_gate_length=1200
start_time=3000
resolution=150
test_gate_length=500
test_gate_delay=2000
gates=$2
audio_enable=0
dac_channel0=2048
dac_channel1=2048
reference_frequency=100000000
IP_frequency=30000000
QP_frequency=30000000
test_frequency=50000000
reference_level=4095
ip_level=2048
qp_level=2048
test_level=1024
CFG
}
export QT_QPA_PLATFORM=offscreen
run() {  # title, ipp, gates, integrations, dwell, points, stall ms
  echo "== $1, ${seconds} s"
  config "$2" "$3" "$4" | sed "s/^dwell_time=.*/dwell_time=$5/" > "$work/config.txt"
  "$root/build/bench/zarv-bench-run" "$work" "$seconds" "$6" "$7" 2>/dev/null
  "$root/build/bench/zarv-soak-check" "$work/data" | grep -E "records (mismatched|misplaced|missing)|full dwells" || true
  rm -rf "$work/data"
}
run "ipp 100 us, 36 gates, integrations 1, graph 1000000 points" 100 36 1 10 1000000 0
run "the same, GUI thread stalled 2 s in every dwell" 100 36 1 10 1000000 2000
run "ipp 1000 us, 8 gates, integrations 10" 1000 8 10 10 100 0
run "beam changes: ipp 100 us, 36 gates, integrations 1, 1 s dwells" 100 36 1 1 100 0
# What the radar view adds at the heaviest settings, against the same run without it.
run "ipp 100 us, 36 gates, integrations 1, graph 100 points, no radar view" 100 36 1 10 100 0
ZARV_BENCH_RADAR=1024,16 run "the same with the radar view at 1024 points x 16 spectra" \
  100 36 1 10 100 0
