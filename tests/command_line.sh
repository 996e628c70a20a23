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
# Firmware from a script: an image is checked without a controller, and a
# verify says by its status whether the controller holds it.
hex_record() {  # address (4 hex digits), type, data (hex): one Intel HEX line
  python3 -c 'import sys
a, t, d = int(sys.argv[1], 16), int(sys.argv[2], 16), bytes.fromhex(sys.argv[3])
b = bytes([len(d), a >> 8, a & 255, t]) + d
print(":" + (b + bytes([-sum(b) & 255])).hex().upper())' "$@"
}
{ hex_record 0000 04 003E; hex_record 8000 00 12345678; hex_record 0000 04 003F
  hex_record 7FF6 00 00419000; hex_record 0000 01 ""; } >image.hex
out="$("$program" --check-image image.hex)" || fail "a good image was refused: $out"
[[ "$out" == "image.hex: accepted; main sectors H; code start 0x0041 0x9000; SHA-256 $(sha256sum image.hex | cut -c1-64)" ]] ||
  fail "--check-image printed '$out'"
sed -i '2s/.$/0/' image.hex
"$program" --check-image image.hex 2>err.txt
status=$?
[ "$status" -eq 6 ] || fail "a broken image gave status $status"
grep -q "line 2 has a wrong checksum" err.txt || fail "$(cat err.txt)"
if [[ "$name" == zarv-sim ]]; then
  sed -i '2d' image.hex
  hex_record 8000 00 12345678 >>image.hex.tmp
  { head -1 image.hex; cat image.hex.tmp; tail -n +2 image.hex; } >fixed.hex
  ZARV_SIM_FLASH="$work/flash.bin" "$program" --verify-firmware fixed.hex >out.txt 2>&1
  status=$?
  [ "$status" -eq 1 ] || fail "a verify against other firmware gave status $status: $(cat out.txt)"
  grep -q "Verify fixed.hex: Sector H differs" out.txt || fail "$(cat out.txt)"
  grep -q "Image fixed.hex: SHA-256 $(sha256sum fixed.hex | cut -c1-64)" out.txt || fail "no hash: $(cat out.txt)"
fi
echo "ok: $name"
