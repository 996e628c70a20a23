#!/usr/bin/env bash
# The GUI thread's answer time (how late a 20 ms timer fires) during the
# heaviest stream the controller sends (ipp 10 us, 36 gates, integrations 1:
# 14.8 MB/s from the simulated controller, in the same process), with every
# window a run can have open: the graph capturing 1,000,000 points, the radar
# view at 1024 points x 16 spectra with its waterfall, the Winds window, and a
# screen reader on the accessibility bus reading every event
# (bench/screen_reader.py); against the same run with the main and graph
# windows alone (100 points, no reader), measured right before on the same X
# server (Xvfb) and session bus. Load average beside each.
# Usage: bench/gui_answer.sh [seconds per run, default 30] [runs, default 1]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}" runs="${2:-1}"
if [ -z "${ZARV_GUI_ANSWER_INSIDE:-}" ]; then
  export ZARV_GUI_ANSWER_INSIDE=1
  exec dbus-run-session -- xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi
build="${BUILD_DIR:-$root/build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
sed -e "s#^data_dir.*#data_dir = $work/data#" -e "s/^ipp.*/ipp = 10/" -e "s/^gates.*/gates = 36/" \
    -e "s/^integrations.*/integrations = 1/" -e 's/^dwell_time.*/dwell_time = 10/' \
    "$root/demo/config.txt" > "$work/config.txt"
run() {  # title, graph points, reader (yes/no), then the environment of the run
  local title="$1" points="$2" reader="$3"; shift 3
  echo "== $title, ${seconds} s; load average $(cut -d' ' -f1-3 /proc/loadavg)"
  local listener=""
  if [ "$reader" = yes ]; then
    /usr/bin/python3 "$root/bench/screen_reader.py" "$((seconds + 5))" &
    listener=$!
    sleep 1
  fi
  env "$@" "$build/bench/zarv-bench-run" "$work" "$seconds" "$points" 2>/dev/null |
    grep -E "gui answer|records written|cpu seconds"
  [ -z "$listener" ] || wait "$listener"
  rm -rf "$work/data"
}
for _ in $(seq "$runs"); do
  run "reference: the main and graph windows, 100 points" 100 no ZARV_BENCH_NONE=1
  run "everything open, a screen reader listening" 1000000 yes ZARV_BENCH_RADAR=1024,16 \
    ZARV_BENCH_WINDS=1
done
