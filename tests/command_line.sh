#!/usr/bin/env bash
# The program's command line as a user meets it: help and version print and exit
# before any window or directory is made; mistakes and a missing display are
# said in words, with a failing status.
# Usage: command_line.sh <zarv or zarv-sim>
set -uo pipefail
program="$1"
name="$(basename "$program")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

out="$("$program" --version)" || fail "--version failed"
[[ "$out" =~ ^$name\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed '$out'"
out="$("$program" --help)" || fail "--help failed"
[[ "$out" == "Usage: $name [--station-dir DIR]"* ]] || fail "--help printed '$out'"
[ -z "$(ls -A "$work")" ] || fail "help or version made $(ls -A "$work")"

"$program" --bogus 2>err.txt && fail "an unknown option was accepted"
grep -q "unknown option --bogus" err.txt || fail "the unknown option was not named"
"$program" --station-dir "$work/missing" 2>err.txt && fail "a missing station directory was accepted"
grep -q "cannot start in station directory $work/missing" err.txt || fail "$(cat err.txt)"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>err.txt
status=$?
[ "$status" -eq 3 ] || fail "without a display the status was $status"
grep -q "no display" err.txt || fail "$(cat err.txt)"
rm -f err.txt
[ -z "$(ls -A "$work")" ] || fail "a refused start made $(ls -A "$work")"
echo "ok: $name"
