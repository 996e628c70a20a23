#!/usr/bin/python3
"""How zarv-archive scales: a synthetic archive of the heaviest settings (36
gates, 339 bytes a record; the simulated controller's waveform, one file per
10 s dwell, beams 1 to 3 in turn) over several UTC days, made into daily files
with 1 and 2 local workers, and through a dask-scheduler and dask-workers
started as processes on this machine, as on a cluster. MB of text a second.

Usage: bench/archive_scaling.py [DAYS [MB_PER_DAY]]   (4 and 60 unless given)"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
# The package from this checkout, with the build's compiled parser when built.
PYTHON = os.pathsep.join([os.path.join(HERE, "..", "python"),
                          os.path.join(HERE, "..", "build", "python")])
sys.path[0:0] = PYTHON.split(os.pathsep)
sys.path.insert(0, HERE)
from reader_speed import GATES, HEADER  # noqa: E402
from zarvdata.archive import archive  # noqa: E402

PERIOD_S = 0.0001  # ipp 100 us, integrations 1


def waveform_lines(records, beam):
    """The simulated controller's gates: a tone of 2000 - 50 g counts at 2 g Hz."""
    t = np.arange(records)[:, None] * PERIOD_S
    g = np.arange(1, GATES + 1)[None, :]
    angle = 2 * np.pi * 2.0 * g * t + (beam - 1) * np.pi / 3
    values = np.empty((records, 2 * GATES), dtype=np.int64)
    values[:, 0::2] = np.round((2000 - 50 * g) * np.cos(angle))
    values[:, 1::2] = np.round((2000 - 50 * g) * np.sin(angle))
    return "".join(" ".join(map(str, row)) + "  \r\n" for row in values).encode()


def make_archive(root, days, mb_per_day):
    per_dwell = 10000  # 1 s of records: 3.4 MB
    bodies = {b: waveform_lines(per_dwell, b) for b in (1, 2, 3)}
    dwells_per_day = max(1, int(mb_per_day * 1e6 // len(bodies[1])))
    for day in range(days):
        start = np.datetime64("2026-12-01T00:00:00", "s") + np.timedelta64(day, "D")
        for n in range(dwells_per_day):
            at = start + np.timedelta64(10 * n, "s")
            stamp = str(at).replace("-", "").replace("T", "").replace(":", "")
            hour = os.path.join(root, stamp[:4], stamp[4:6], stamp[6:8], stamp[8:10])
            os.makedirs(hour, exist_ok=True)
            beam = n % 3 + 1
            name = f"{stamp}_beam{beam}.txt"
            with open(os.path.join(hour, name), "wb") as f:
                f.write(HEADER.format(path=name).encode() + bodies[beam])
            line = {"file": name, "beam": beam, "trigger_start": str(at) + ".000Z",
                    "record_period_s": PERIOD_S, "records_written": per_dwell,
                    "records_implied": per_dwell, "discontinuities": []}
            with open(os.path.join(hour, "dwells.jsonl"), "a") as f:
                f.write(json.dumps(line) + "\n")


def text_bytes(root):
    return sum(os.path.getsize(os.path.join(r, n)) for r, _, names in os.walk(root)
               for n in names if n.endswith(".txt"))


def timed(label, data, out, size, reference=None, **how):
    """Seconds to archive data; printed with the speed against the reference's."""
    shutil.rmtree(out, ignore_errors=True)
    load = os.getloadavg()[0]
    start = time.perf_counter()
    failed = archive(data, out, say=lambda line: None, **how)
    seconds = time.perf_counter() - start
    assert not failed, failed
    against = f"{reference / seconds:4.2f} x one worker" if reference else "(reference)     "
    print(f"{label:<44} {seconds:6.1f} s  {size / 1e6 / seconds:6.1f} MB/s  {against}"
          f"  load average {load:.2f}")
    return seconds


def separate_processes(workers):
    """A scheduler and workers as their own processes; its address and the processes."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    env = dict(os.environ, PYTHONPATH=PYTHON)
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    address = f"tcp://127.0.0.1:{port}"
    processes = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler",
                                   "--host", "127.0.0.1", "--port", str(port),
                                   "--dashboard-address", ":0"], **quiet)]
    processes.append(subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker",
                                       address, "--nworkers", str(workers), "--nthreads", "1",
                                       "--no-dashboard"], **quiet))
    from distributed import Client
    with Client(address, timeout=60) as client:
        client.wait_for_workers(workers, timeout=60)
    return address, processes


def main():
    days = int(sys.argv[1]) if len(sys.argv) > 1 else 4
    mb_per_day = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    with tempfile.TemporaryDirectory() as root:
        data, out = os.path.join(root, "data"), os.path.join(root, "days")
        make_archive(data, days, mb_per_day)
        size = text_bytes(data)
        print(f"{days} days, {size / 1e6:.0f} MB of text, {GATES} gates, {os.cpu_count()} cores")
        one = timed("local cluster, 1 worker", data, out, size, workers=1)
        timed("local cluster, 2 workers", data, out, size, one, workers=2)
        address, processes = separate_processes(2)
        try:
            timed("dask-scheduler and 2 dask-workers as processes", data, out, size, one,
                  scheduler=address)
        finally:
            for p in processes:
                p.terminate()
                p.wait(timeout=30)


if __name__ == "__main__":
    main()
