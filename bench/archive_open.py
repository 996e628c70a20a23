#!/usr/bin/python3
"""How long zarvdata.open_archive takes to lay out a tree of many dwells from
their journals and headers, and how long computing it then takes, against
reading the same files with zarvdata.read in the same run.

Usage: bench/archive_open.py [DWELLS]   (2000 unless given: 36 gates, 100
records each, ten hours of 10 s dwells in hour directories)"""

import json
import os
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build",
                                "python"))  # the compiled parser, when built
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reader_speed import GATES, HEADER  # noqa: E402
from zarvdata import open_archive, read  # noqa: E402
from zarvdata.reader import data_files  # noqa: E402


def make_tree(root, dwells):
    rng = np.random.default_rng(1)
    rows = rng.integers(-2048, 2048, size=(100, 2 * GATES))
    body = "".join(" ".join(map(str, r)) + "  \r\n" for r in rows).encode()
    start = np.datetime64("2026-12-08T00:00:00", "s")
    for n in range(dwells):
        at = start + np.timedelta64(10 * n, "s")
        stamp = str(at).replace("-", "").replace("T", "").replace(":", "")
        hour = os.path.join(root, stamp[:4], stamp[4:6], stamp[6:8], stamp[8:10])
        os.makedirs(hour, exist_ok=True)
        name = f"{stamp}_beam{n % 3 + 1}.txt"
        with open(os.path.join(hour, name), "wb") as f:
            f.write(HEADER.format(path=name).encode() + body)
        line = {"file": name, "beam": n % 3 + 1, "trigger_start": str(at) + ".000Z",
                "record_period_s": 0.0001, "records_written": 100, "records_implied": 100,
                "discontinuities": []}
        with open(os.path.join(hour, "dwells.jsonl"), "a") as f:
            f.write(json.dumps(line) + "\n")


def main():
    dwells = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    with tempfile.TemporaryDirectory() as root:
        make_tree(root, dwells)
        load = os.getloadavg()[0]
        start = time.perf_counter()
        reference = sum(int(r[..., 0].sum(dtype=np.int64)) for p in data_files(root)
                        for _, r in read(p))
        read_s = time.perf_counter() - start
        start = time.perf_counter()
        ds = open_archive(root)
        opened = time.perf_counter() - start
        start = time.perf_counter()
        total = int(ds.ip.sum().compute())
        computed = time.perf_counter() - start
        assert total == reference, (total, reference)
        print(f"{dwells} dwells, load average {load:.2f}: opened in {opened:.2f} s "
              f"({ds.time.size} records, {ds.ip.data.numblocks[0]} chunks); computed in "
              f"{computed:.2f} s; together {(opened + computed) / read_s:.1f} x reading "
              f"and summing them with zarvdata.read ({read_s:.2f} s)")


if __name__ == "__main__":
    main()
