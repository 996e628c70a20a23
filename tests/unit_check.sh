#!/usr/bin/env bash
# The shipped systemd unit as systemd reads it: it verifies clean, and its
# exposure (systemd-analyze security) stays below 5.
# Usage: unit_check.sh <zarv-headless.service> <a program to stand for /usr/bin/zarv>
set -uo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
unit="$work/zarv-headless.service"
sed "s|/usr/bin/zarv |$2 |" "$1" > "$unit"
grep -q '^Type=notify$' "$unit" || fail "the unit is not Type=notify"
grep -q '^WatchdogSec=' "$unit" || fail "the unit has no watchdog"
# A restart mends neither a missing station directory (2) nor a bad config.txt (4).
grep -q '^RestartPreventExitStatus=2 4$' "$unit" || fail "2 and 4 are restarted"
grep -q '^User=zarv$' "$unit" || fail "the unit does not run as the package's user"
# Documentation= names the package's man page: verify finds it where the
# package puts it, whether or not the package is installed on this machine.
mkdir -p "$work/man/man1"
cp "$(dirname "$1")/zarv.1" "$work/man/man1/" || fail "no zarv.1 beside the unit"
MANPATH="$work/man" systemd-analyze verify "$unit" > "$work/verify.txt" 2>&1 ||
  fail "verify: $(cat "$work/verify.txt")"
[ -s "$work/verify.txt" ] && fail "verify: $(cat "$work/verify.txt")"
systemd-analyze security --offline=true --no-pager "$unit" > "$work/security.txt" 2>&1 \
  || fail "security: $(cat "$work/security.txt")"
level="$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$work/security.txt")"
[ -n "$level" ] || fail "no exposure level in: $(tail -3 "$work/security.txt")"
awk -v l="$level" 'BEGIN { exit !(l < 5) }' || fail "exposure $level is 5 or more"
echo "ok: verified, exposure $level"
