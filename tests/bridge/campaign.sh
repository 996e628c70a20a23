#!/usr/bin/env bash
# An unattended campaign through the emulated bridge, as systemd would run the
# hardware program: the bridge is pulled and plugged in again, the station
# process is stopped for 2 s, and the controller falls silent. The campaign
# goes on through all of it, the trigger is stopped first after the replug and
# last of all, and every record sits at the time the dwell journal gives it.
# Usage: campaign.sh <zarv-bridge-emu> <zarv> <zarv-soak-check> <demo config>
set -uo pipefail
emu="$1" zarv="$2" check="$3" config="$4"
work="$(mktemp -d)"
trap 'kill -CONT "$child" 2>/dev/null; kill %1 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -40 "$work/out.txt" >&2; exit 1; }
cd "$work"
sed -e "s#^data_dir.*#data_dir = $work/data#" -e 's/^ipp.*/ipp = 100/' -e 's/^gates.*/gates = 8/' \
    -e 's/^integrations.*/integrations = 1/' -e 's/^dwell_time.*/dwell_time = 5/' \
    -e 's/^relay_swith_time.*/relay_swith_time = 10/' "$config" > config.txt

# From the first StartTrigger: pulled at 2 s, back at 4 s (the station finds it
# on its third attempt, about 5 s, and records beam 2 until about 10 s); silent
# from 12 s, in the dwell of beam 3.
ZARV_SIM_FAULTS="unplug-at=2,replug-at=4,silent-at=12" \
  "$emu" --trace trace.txt -- "$zarv" --headless --duration 19 > out.txt 2> emu.txt &
# The station process is the launcher's child; it is stopped 1.5 s into the
# dwell of beam 2, the first after the replug.
for _ in $(seq 400); do
  child="$(pgrep -P $! || true)"
  [ -n "$child" ] && grep -q "Starting trigger on beam direction: 2" out.txt && break
  sleep 0.05
done
[ -n "$child" ] || fail "the station did not start"
sleep 1.5
kill -STOP "$child"
sleep 2
kill -CONT "$child"
wait %1
status=$?
[ "$status" -eq 0 ] || fail "the campaign ended with status $status: $(cat emu.txt)"

grep -q ": Stream lost: reading from the controller failed$" out.txt || fail "the unplug was not seen"
grep -q ": The trigger could not be stopped: " out.txt || fail "the unreachable trigger was not said"
grep -q ": Recovering: the link to the controller was lost" out.txt || fail "no recovery from the unplug"
grep -q ": Dwell beam 2: .* missing after record " out.txt || fail "the stall's gap was not named"
grep -q ": The controller has sent nothing for 2.0 s$" out.txt || fail "the silence was not seen"
grep -q ": Recovering: the stream stopped" out.txt || fail "no recovery from the silence"
[ "$(grep -c ': Recovered: recording goes on with the next beam$' out.txt)" -eq 2 ] ||
  fail "not recovered twice"
grep -q ": Recording time is over: ending$" out.txt || fail "the campaign did not run to its end"

# The trace holds what reached the controller: nothing while the bridge was
# away; the first frame after that is StopTrigger, and so is the last.
awk 'NR > 1 && $1 - last > 1500 { print $3, $4, $5; exit } { last = $1 }' trace.txt > after_gap.txt
[ "$(cat after_gap.txt)" = "02 03 00" ] || fail "the first frame after the replug is $(cat after_gap.txt)"
[ "$(tail -1 trace.txt | cut -d' ' -f3-5)" = "02 03 00" ] || fail "the last frame is not StopTrigger"

"$check" data | tee check.txt
grep -q "^records misplaced  0 " check.txt || fail "records are not at their time"
grep -q "^dwells miscounted  0$" check.txt || fail "the journal miscounts"
missing=$(awk '/^records missing/ {print $3}' check.txt)
[ "$missing" -gt 0 ] || fail "the stall and the silence cost no records?"
grep -q "Last run: .*, $missing records lost, " out.txt || fail "the summary does not count $missing lost"
echo "ok"
