#!/usr/bin/env bash
# Unattended recording as systemd would run it: --headless --duration ends by
# itself, SIGTERM ends a run cleanly, the log goes to standard output and to the
# daily log alike, and the data files end with whole records.
# Usage: headless.sh <zarv-sim> <config.txt to start from>
set -uo pipefail
program="$1"
work="$(mktemp -d)"
trap 'kill %1 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
# The controller's time is virtual, at up to five times the wall clock (unless
# the suite's rate is set); the station, its --duration and its file names keep
# that time.
export ZARV_SIM_CLOCK=virtual ZARV_SIM_SPEED="${ZARV_TEST_CLOCK_RATE:-5}"
sed -e "s|^data_dir *=.*|data_dir=$work/data|" -e 's|^dwell_time *=.*|dwell_time=0.5|' \
    -e 's|^relay_swith_time *=.*|relay_swith_time=10|' "$2" > config.txt

"$program" --headless --duration 1.3 > out.txt 2> err.txt
status=$?
[ "$status" -eq 0 ] || fail "--duration ended with status $status: $(cat err.txt)"
grep -q ": Starting trigger on beam direction: 2$" out.txt || fail "no second dwell: $(cat out.txt)"
grep -q ": Recording time is over: ending$" out.txt || fail "the duration was not said"
grep -q "Last run: [0-9]* dwells, [1-9][0-9]* records" out.txt || fail "no summary"
day_log="$(ls log/zarv-*.log)" || fail "no daily log"
# A station with a name begins each day's log with it; the rest is what was printed.
name="$(sed -n 's/^station_name *= *//p' config.txt | head -1)"
if [ -n "$name" ]; then
  head -1 "$day_log" | grep -q "^Station $name (WIGOS " ||
    fail "the daily log does not begin with the station's name: $(head -1 "$day_log")"
  diff <(grep -v '^Last run:' out.txt) <(tail -n +2 "$day_log") >/dev/null ||
    fail "the daily log differs from the output"
else
  diff <(grep -v '^Last run:' out.txt) "$day_log" >/dev/null || fail "the daily log differs from the output"
fi
for f in data/*/*/*/*/*_beam*.txt; do
  [ "$(tail -c 3 "$f" | od -An -tx1 | tr -d ' ')" = "200d0a" ] || fail "$f does not end with a whole record"
done

rm -rf data log out.txt
"$program" --headless > out.txt 2> err.txt &
# SIGTERM once records are on disk (a minute at most: only a hung station takes that).
for _ in $(seq 1200); do
  [ -n "$(find data -name '*_beam*.txt' -size +2k 2>/dev/null)" ] && break
  sleep 0.05
done
[ -n "$(find data -name '*_beam*.txt' -size +2k 2>/dev/null)" ] || fail "no records after a minute"
kill -TERM %1
wait %1
status=$?
[ "$status" -eq 0 ] || fail "SIGTERM ended with status $status"
grep -q ": Signal 15 (.*) received: ending$" out.txt || fail "the signal was not said"
grep -q ": Stopping trigger$" out.txt || fail "the trigger was not stopped"
echo "ok"
