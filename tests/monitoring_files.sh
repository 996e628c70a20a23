#!/usr/bin/env bash
# The shipped alerting rules and dashboard: the rules pass promtool's checks and
# their own unit tests (each alert fires and clears); every query of the
# dashboard parses; and every metric either names is one a recording zarv-sim
# serves, echo health and the process figures among them.
# Usage: monitoring_files.sh <zarv-sim> <packaging/monitoring> <config.txt to start from>
set -uo pipefail
program="$1" files="$2" config="$3"
work="$(mktemp -d)"
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v promtool >/dev/null || fail "no promtool (Debian's prometheus package)"

promtool check rules "$files/zarv-alerts.yml" || fail "promtool check rules"
(cd "$files" && promtool test rules zarv-alerts.test.yml) || fail "promtool test rules"

# The dashboard's queries, as recording rules promtool parses.
/usr/bin/python3 - "$files/zarv-dashboard.json" "$work/queries.yml" "$work/names.txt" <<'PY' || fail "the dashboard"
import json, re, sys
dash = json.load(open(sys.argv[1]))
assert dash["uid"] and dash["title"], "no uid or title"
ids = [p["id"] for p in dash["panels"]]
assert len(ids) == len(set(ids)), "panel ids repeat"
exprs = [t["expr"] for p in dash["panels"] for t in p.get("targets", [])]
assert exprs, "no queries"
with open(sys.argv[2], "w") as out:
    out.write("groups:\n  - name: dashboard\n    rules:\n")
    for i, e in enumerate(exprs):
        e = e.replace("$instance", ".*")
        out.write(f"      - record: dashboard:query{i}\n        expr: {json.dumps(e)}\n")
names = set()
for e in exprs + [open(sys.argv[1].replace("zarv-dashboard.json", "zarv-alerts.yml")).read()]:
    names |= set(re.findall(r"\b((?:zarv|process)_[a-z_]+)\b", e))
open(sys.argv[3], "w").write("\n".join(sorted(names)) + "\n")
PY
promtool check rules "$work/queries.yml" >/dev/null || fail "a dashboard query does not parse: $(promtool check rules "$work/queries.yml" 2>&1)"

# A recording station's metrics hold every name the files use.
cd "$work"
port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
sed -e "s|^data_dir *=.*|data_dir=$work/data|" -e 's|^dwell_time *=.*|dwell_time=1|' "$config" > config.txt
QT_QPA_PLATFORM=offscreen "$program" --headless --duration 60 --status-listen "$port" > out.txt 2>&1 &
pid=$!
seen=0
for _ in $(seq 300); do
  if curl -sf "http://127.0.0.1:$port/metrics" -o metrics.txt &&
     grep -q '^zarv_echo_gates_trusted_ratio{beam="3"}' metrics.txt; then seen=1; break; fi
  sleep 0.1
done
[ "$seen" = 1 ] || fail "no echo health in 30 s: $(tail -5 out.txt)"
promtool check metrics < metrics.txt || fail "promtool check metrics"
while read -r name; do
  [ -z "$name" ] && continue
  grep -q "^$name[{ ]" metrics.txt || fail "the station serves no $name"
done < names.txt
# The page's picture: every beam with its axes and colour bar, as the window draws it.
for _ in $(seq 150); do
  curl -sf "http://127.0.0.1:$port/rti.png" -o rti.png && break
  sleep 0.1
done
[ -s rti.png ] || fail "no picture in 15 s"
/usr/bin/python3 - rti.png <<'PY' || fail "the picture"
import struct, sys
head = open(sys.argv[1], "rb").read(24)
assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
width, height = struct.unpack(">II", head[16:24])
assert (width, height) == (960, 540), (width, height)
PY
echo "ok: $(wc -l < names.txt) metric names"
