#!/usr/bin/env bash
# Runs atspi_check.py in a session bus of its own and on an X server of its own,
# as a screen reader's desktop would be.
# Usage: accessibility.sh <zarv-sim> <config.txt to start from>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
exec dbus-run-session -- xvfb-run -a -s "-screen 0 1600x1000x24" \
  /usr/bin/python3 "$here/atspi_check.py" "$@"
