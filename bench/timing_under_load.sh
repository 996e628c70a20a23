#!/usr/bin/env bash
# Record times and loss counts with the machine loaded: the hardware program
# (zarv --headless) through the emulated bridge, 36 gates, integrations 1,
# 10 s dwells. A quiet run first, as the reference of the same session; then
# beside busy loops at several pulse periods; then at ipp 100 us with the whole
# station stopped (kill -STOP) three seconds into its first dwell for several
# lengths of time. Every record is checked against the frames it holds and the
# controller's traced trigger starts (zarv-soak-check with the trace).
# Usage: bench/timing_under_load.sh [seconds a run] [busy loops] [ipps] [stalls]
#   ("" for no ipps or no stalls)
#   ZARV_BENCH_NO_RT=1 runs the station without CAP_SYS_NICE: no real-time reader.
#   ZARV_BENCH_LOAD=TEXT names the load in the rows, for load started outside
#   (a parallel build beside it, with 0 busy loops).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}" loops="${2:-4}" ipps="${3-100 50 25}" stalls="${4-0.5 2 5 20}"
build="${BUILD_DIR:-$root/build}"
work="$(mktemp -d)"
busy=()
stop_busy() { for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done; busy=(); }
trap 'stop_busy; rm -rf "$work"' EXIT
# Programs of their own, not subshells: a subshell killed at once could run this
# script's EXIT trap before it drops it.
start_busy() { for _ in $(seq "$1"); do sh -c 'while :; do :; done' & busy+=("$!"); done; }
launch=()
[ -n "${ZARV_BENCH_NO_RT:-}" ] && launch=(setpriv --inh-caps=-sys_nice --bounding-set=-sys_nice --)

# run NAME IPP DURATION [STALL]: one recording, one line of figures.
run() {
  local name="$1" ipp="$2" duration="$3" stall="${4:-}"
  rm -rf "$work/data" "$work/log" "$work/trace.txt"
  sed -e "s#^data_dir.*#data_dir = $work/data#" -e "s/^ipp.*/ipp = $ipp/" \
      -e 's/^gates.*/gates = 36/' -e 's/^integrations.*/integrations = 1/' \
      -e 's/^dwell_time.*/dwell_time = 10/' -e 's/^relay_swith_time.*/relay_swith_time = 10/' \
      "$root/demo/config.txt" | grep -v '^consensus_' > "$work/config.txt"
  ( cd "$work" && "${launch[@]}" "$build/zarv-bridge-emu" --trace "$work/trace.txt" -- \
      "$build/zarv" --headless --duration "$duration" > "$work/out.txt" 2> "$work/emu.txt" ) &
  local emu=$!
  if [ -n "$stall" ]; then
    local zarv=""
    for _ in $(seq 200); do zarv=$(pgrep -n -x zarv || true); [ -n "$zarv" ] && break; sleep 0.05; done
    # Three seconds into the first dwell: the trigger start is in the trace.
    for _ in $(seq 400); do grep -q utc_us= "$work/trace.txt" 2>/dev/null && break; sleep 0.05; done
    sleep 3
    kill -STOP "$zarv"; sleep "$stall"; kill -CONT "$zarv"
  fi
  # Bash may forget a background job after many short children: poll it too.
  while kill -0 "$emu" 2>/dev/null; do sleep 0.2; done
  wait "$emu" 2>/dev/null || true
  local load; load=$(cut -d' ' -f1 /proc/loadavg)
  "$build/bench/zarv-soak-check" "$work/data" "$work/trace.txt" > "$work/check.txt" || true
  [ -n "${ZARV_BENCH_KEEP:-}" ] && cat "$work"/data/*/*/*/*/dwells.jsonl >> "$ZARV_BENCH_KEEP"
  local overran records misplaced worst_ms trig_ms lost_true lost_said
  overran=$(sed -n 's/^zarv-bridge-emu: \([0-9]*\) stream bytes overran.*/\1/p' "$work/emu.txt")
  records=$(awk '$1 == "records" && $2 ~ /^[0-9]+$/ {print $2}' "$work/check.txt")
  misplaced=$(awk '/^records misplaced/ {print $3}' "$work/check.txt")
  lost_true=$(awk '/^records lost/ {print $3}' "$work/check.txt")
  lost_said=$(awk '/^records lost/ {print $7}' "$work/check.txt")
  trig_ms=$(awk '/^trigger starts/ {print $4}' "$work/check.txt")
  worst_ms=$(awk "/^records' times/ {print \$4}" "$work/check.txt")
  printf '%-22s %9s %9s %9s %10s %11s %9s %12s %5s\n' "$name" "$records" "$lost_true" \
    "$lost_said" "${misplaced:-?}" "${worst_ms:-?} ms" "${trig_ms:-?} ms" "${overran:-?}" "$load"
}

echo "zarv --headless through zarv-bridge-emu, 36 gates, integrations 1, 10 s dwells," \
     "$(nproc) cores${ZARV_BENCH_NO_RT:+, without CAP_SYS_NICE}"
printf '%-22s %9s %9s %9s %10s %11s %9s %12s %5s\n' run records "lost" "journal" misplaced \
  "worst time" trigger "bytes overran" load
run "quiet, ipp 100" 100 "$seconds"
if [ -n "$ipps" ]; then
  start_busy "$loops"
  for ipp in $ipps; do run "${ZARV_BENCH_LOAD:-$loops busy loops}, ipp $ipp" "$ipp" "$seconds"; done
  stop_busy
fi
for stall in $stalls; do
  run "stopped $stall s, ipp 100" 100 "$(awk -v s="$stall" -v d="$seconds" 'BEGIN { print s + d }')" "$stall"
done
echo "lost: records missing before each dwell's last record, by the frames the records hold;"
echo "journal: the same as the dwell journal counts them; worst time: the worst record's"
echo "time against its frame's (trigger start and place together); trigger: the worst"
echo "journaled trigger start against the controller's."
