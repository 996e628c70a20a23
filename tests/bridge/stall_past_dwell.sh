#!/usr/bin/env bash
# The hardware program through the emulated bridge beside two busy loops, the
# station process stopped for 5 s one second into a 3 s dwell: longer than the
# rest of the dwell. What waited in the link is recorded right after the
# records before the stop, the frames the bridge dropped are journaled missing
# after them, and every record sits within 10 ms of its frame's time, trigger
# start included.
# Usage: stall_past_dwell.sh <zarv-bridge-emu> <zarv> <zarv-soak-check> <demo config>
set -uo pipefail
emu="$1" zarv="$2" check="$3" config="$4"
work="$(mktemp -d)"
busy=()
child="" station=""
trap 'kill -CONT "$child" 2>/dev/null; kill "${busy[@]}" $station 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -20 "$work/out.txt" >&2; exit 1; }
cd "$work"
sed -e "s#^data_dir.*#data_dir = $work/data#" -e 's/^ipp.*/ipp = 100/' -e 's/^gates.*/gates = 36/' \
    -e 's/^integrations.*/integrations = 1/' -e 's/^dwell_time.*/dwell_time = 3/' \
    -e 's/^relay_swith_time.*/relay_swith_time = 10/' "$config" | grep -v '^consensus_' > config.txt
for _ in 1 2; do sh -c 'while :; do :; done' & busy+=("$!"); done

"$emu" --trace trace.txt -- "$zarv" --headless --duration 12 > out.txt 2> emu.txt &
station=$!
for _ in $(seq 400); do
  child="$(pgrep -P "$station" || true)"
  [ -n "$child" ] && grep -q "utc_us=" trace.txt 2>/dev/null && break
  sleep 0.05
done
[ -n "$child" ] || fail "the station did not start"
sleep 1
kill -STOP "$child"
sleep 5
kill -CONT "$child"
wait "$station"
status=$?
[ "$status" -eq 0 ] || fail "the run ended with status $status: $(cat emu.txt)"

"$check" data trace.txt | tee check.txt
grep -q "^records misplaced  0 " check.txt || fail "records are not at their time"
grep -q "^dwells miscounted  0$" check.txt || fail "the journal miscounts"
read -r lost said < <(awk '/^records lost/ {print $3, $7}' check.txt)
[ "$lost" = "$said" ] || fail "$lost records lost before the last ones, the journal says $said"
awk '/^trigger starts/ { exit !($4 < 10) }' check.txt || fail "a trigger start is 10 ms or more off"
awk "/^records' times/ { exit !(\$4 < 10) }" check.txt || fail "a record is 10 ms or more off"
# The first dwell: at least the second before the stop, then the gap of what
# the bridge dropped while the station stood still.
first="$(find data -name dwells.jsonl | sort | head -1)"
python3 - "$first" <<'PY' || fail "the first dwell's gap is not where the stop was"
import json, sys
entry = json.loads(open(sys.argv[1]).readline())
[gap] = entry["discontinuities"]
assert gap["record"] >= 9000, gap
assert gap["record"] == entry["records_written"], (gap, entry["records_written"])
assert gap["missing"] >= 35000, gap
print(f"first dwell: {entry['records_written']} records, then {gap['missing']} missing"
      f" ({gap['cause']})")
PY
