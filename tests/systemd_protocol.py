"""zarv --headless as systemd runs it: the notify socket hears READY=1 and then
STOPPING=1 when the station ends, and standard output and error, when they are
the journal (JOURNAL_STREAM), carry a priority on every line: a refused start
at error level, each line of a box at its box's.
Usage: systemd_protocol.py <zarv-sim> <config.txt to start from>"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

program, config = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp()
text = open(config).read()


def fail(why):
    print("FAIL:", why)
    sys.exit(1)


def run(config_text, wait_for_ready):
    """Starts the station with a notify socket and a journal stream; on READY=1
    sends SIGTERM. Returns its status, the messages, the journal lines."""
    with open(os.path.join(work, "config.txt"), "w") as f:
        f.write(config_text)
    path = os.path.join(work, "notify.sock")
    if os.path.exists(path):
        os.remove(path)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    listener.bind(path)
    listener.settimeout(0.1)
    journal = open(os.path.join(work, "journal"), "w+")
    st = os.fstat(journal.fileno())
    env = dict(os.environ, NOTIFY_SOCKET=path, JOURNAL_STREAM=f"{st.st_dev}:{st.st_ino}",
               QT_QPA_PLATFORM="offscreen")
    station = subprocess.Popen([program, "--headless", "--duration", "60"], cwd=work, env=env,
                               stdout=journal, stderr=journal)
    messages = []
    deadline = time.monotonic() + 30
    while station.poll() is None and time.monotonic() < deadline:
        try:
            messages += listener.recv(4096).decode().split("\n")
        except socket.timeout:
            continue
        if wait_for_ready and "READY=1" in messages and station.poll() is None:
            station.send_signal(signal.SIGTERM)
            wait_for_ready = False
    if station.poll() is None:
        station.kill()
        fail("the station did not end")
    status = station.wait()
    try:
        while True:
            messages += listener.recv(4096).decode().split("\n")
    except socket.timeout:
        pass
    journal.seek(0)
    return status, messages, journal.read().splitlines()


data = re.sub(r"(?m)^data_dir *=.*", f"data_dir={work}/data", text)
data = re.sub(r"(?m)^dwell_time *=.*", "dwell_time=1", data)

status, messages, lines = run(data, True)
if status != 0:
    fail(f"a station ended by SIGTERM gave {status}: {lines[-3:]}")
if "READY=1" not in messages or "STOPPING=1" not in messages:
    fail(f"no READY=1 then STOPPING=1: {messages}")
if messages.index("STOPPING=1") < messages.index("READY=1"):
    fail(f"STOPPING=1 before READY=1: {messages}")
unmarked = [line for line in lines if not re.match(r"^<[3-6]>", line)]
if unmarked:
    fail(f"lines without a priority: {unmarked[:3]}")
if not any(line.startswith("<5>") and "received: ending" in line for line in lines):
    fail("the signal's ending is no notice")

status, _, lines = run(re.sub(r"(?m)^dwell_time *=.*", "dwell_time = 1e10", data), False)
if status != 4:
    fail(f"a refused setting gave {status}")
refusal = [line for line in lines if "Settings refused" in line]
if not refusal or not refusal[0].startswith("<3>"):
    fail(f"the refusal is not at error level: {refusal}")

status, _, lines = run(re.sub(r"(?m)^gates *=.*", "gates = four", data), False)
if status != 4:
    fail(f"a bad value gave {status}")
start = [i for i, line in enumerate(lines) if "Error: 'four' is not a valid integer" in line]
box = lines[start[0]:] if start else []
if len(box) < 2 or not all(line.startswith("<3>") for line in box):
    fail(f"a box's lines are not all at error level: {box}")
print("ok")
