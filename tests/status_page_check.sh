#!/usr/bin/env bash
# The status page in a real browser: zarv-sim --headless serves it while it
# records, headless Chromium loads it, and the page says what the station does.
# Usage: status_page_check.sh <zarv-sim> <config.txt to start from> [screenshot.png]
set -uo pipefail
program="$1"
work="$(mktemp -d)"
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
browser="$(command -v chromium || command -v chromium-browser)" || fail "no chromium"
port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
sed -e "s|^data_dir *=.*|data_dir=$work/data|" -e 's|^dwell_time *=.*|dwell_time=30|' "$2" > config.txt
QT_QPA_PLATFORM=offscreen "$program" --headless --duration 60 --status-listen "$port" > out.txt 2>&1 &
pid=$!
# Until the station says it records (or 20 s).
recording=0
for _ in $(seq 200); do
  if /usr/bin/python3 - "$port" <<'PY' 2>/dev/null; then recording=1; break; fi
import json, sys, urllib.request
with urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/status.json", timeout=5) as reply:
    state = json.load(reply)
assert state["recording"] and state["dwell"]["beam"] == 1
assert any("Starting trigger" in line for line in state["last_log_lines"])
PY
  sleep 0.1
done
[ "$recording" = 1 ] || fail "the station did not say it records: $(cat out.txt)"
chrome() {
  timeout 60 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/profile" "$@" 2>/dev/null
}
dom="$(chrome --dump-dom "http://127.0.0.1:$port/")" || fail "chromium could not load the page"
grep -q 'id="glance">recording<' <<<"$dom" || fail "the page does not say recording: $dom"
grep -q '<th>Beam</th><td>1</td>' <<<"$dom" || fail "the page shows no beam: $dom"
grep -q 'Starting trigger on beam direction: 1' <<<"$dom" || fail "the page shows no log"
# The range-time picture comes within its five seconds and is a PNG.
picture_seen=0
for _ in $(seq 40); do
  if /usr/bin/python3 - "$port" <<'PY' 2>/dev/null; then picture_seen=1; break; fi
import sys, urllib.request
with urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/rti.png", timeout=5) as reply:
    assert reply.status == 200 and reply.read(8) == b"\x89PNG\r\n\x1a\n"
PY
  sleep 0.5
done
[ "$picture_seen" = 1 ] || fail "no range-time picture at /rti.png"
dom="$(chrome --dump-dom "http://127.0.0.1:$port/")" || fail "chromium could not load the page again"
grep -q '<img src="rti.png?' <<<"$dom" || fail "the page shows no picture"
if [ $# -ge 3 ]; then
  chrome --screenshot="$work/page.png" --window-size=900,1150 --hide-scrollbars \
    "http://127.0.0.1:$port/" >/dev/null || fail "no screenshot"
  cp "$work/page.png" "$3"
fi
echo "ok: the page loads in Chromium and says what the station does"
