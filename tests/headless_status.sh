#!/usr/bin/env bash
# What an unattended station's exit status says, so that systemd restarts what a
# restart can mend and only that: 4 for a bad config.txt (never restarted), 5
# for a controller that is not there after the wait for it (restarted), 0 for
# a signal during that wait.
# Usage: headless_status.sh <zarv> <zarv-sim> <config.txt to start from>
set -uo pipefail
zarv="$1" sim="$2" config="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
expect() {  # status, program, what
  local want="$1" program="$2" what="$3"
  "$program" --headless --duration 3 > out.txt 2> err.txt
  local got=$?
  [ "$got" -eq "$want" ] || fail "$what: status $got, not $want: $(tail -3 out.txt err.txt)"
}
sed -e "s|^data_dir *=.*|data_dir=$work/data|" "$config" > good.txt

cp good.txt config.txt
expect 5 "$zarv" "no bridge attached"
grep -q ": No controller yet: waiting up to 3 s for it$" out.txt || fail "the wait was not said"
grep -q ": Zarv not found!$" out.txt || fail "no bridge was not said"

# A signal while it waits for the controller ends it as it ends a run: 0.
"$zarv" --headless --duration 600 > out.txt 2> err.txt &
pid=$!
for _ in $(seq 100); do grep -q "No controller yet" out.txt && break; sleep 0.1; done
kill -TERM "$pid"
wait "$pid"
got=$?
[ "$got" -eq 0 ] || fail "SIGTERM during the wait: status $got: $(tail -3 out.txt err.txt)"
grep -q "received: ending$" out.txt || fail "the signal was not said"
grep -q "Zarv not found" out.txt && fail "a run was started after the signal"

sed -e 's/^gates.*/gates = four/' good.txt > config.txt
expect 4 "$sim" "a value that is not a number"
grep -q "'four' is not a valid integer value" err.txt || fail "the bad value was not said"

sed -e 's/^dwell_time.*/dwell_time = 1e10/' good.txt > config.txt
expect 4 "$sim" "a refused setting"
grep -q ": Settings refused: dwell_time must be at most 9000000000 s (what the station's clock counts)$" out.txt ||
  fail "the refused setting was not named"

rm config.txt
expect 4 "$sim" "no config.txt"
echo "ok"
