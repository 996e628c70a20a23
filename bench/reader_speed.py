#!/usr/bin/python3
"""How fast zarvdata.read turns the heaviest data files into arrays, against
numpy.loadtxt and the line-by-line reader: MB of file a second, and the peak of
memory numpy and Python allocate (tracemalloc) against the arrays returned.

Usage: bench/reader_speed.py [MB]   (a file of that size, 170 unless given, at
36 gates: 339 bytes a record, as ipp 100 us and integrations 1 write it)"""

import io
import os
import sys
import tempfile
import time
import tracemalloc

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from zarvdata import reader  # noqa: E402

GATES = 36
HEADER = ("File Path = {path}\r\nTime Stamp = 20261208120000\r\nIPP = 100\r\nResolution = 150\r\n"
          "Pulse length = 1000\r\nStart time = 3000\r\nGates = 36\r\nIntegrations = 1\r\n"
          "Beam Direction = 1\r\nDwell time = 300\r\nTx enable = 1\r\nLO gate length = 1200\r\n"
          "Audio enable = 0\r\nDAC CH0 = 2048\r\nDAC CH1 = 2048\r\nReference Level = 4095\r\n"
          "Ip Level = 2048\r\nQp Level = 2048\r\nTest Level = 1024\r\nTest Gate Length = 500\r\n"
          "Test Gate Delay = 2000\r\n")


def make_file(path, megabytes):
    rng = np.random.default_rng(1)
    block = rng.integers(-2048, 2048, size=(10000, 2 * GATES))
    lines = "".join(" ".join(map(str, row)) + "  \r\n" for row in block).encode()
    with open(path, "wb") as f:
        f.write(HEADER.format(path=path).encode())
        for _ in range(max(1, int(megabytes * 1e6) // len(lines))):
            f.write(lines)


def measure(name, read, path, size):
    tracemalloc.start()
    start = time.perf_counter()
    arrays = read(path)
    seconds = time.perf_counter() - start
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    returned = sum(a.nbytes for a in arrays)
    print(f"{name:<18} {size / 1e6 / seconds:7.0f} MB/s   peak {peak / 1e6:7.0f} MB "
          f"= {peak / returned:5.2f} x the arrays returned ({returned / 1e6:.0f} MB)")


def main():
    megabytes = float(sys.argv[1]) if len(sys.argv) > 1 else 170
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "20261208120000_beam1.txt")
        make_file(path, megabytes)
        size = os.path.getsize(path)
        print(f"{size / 1e6:.0f} MB, {GATES} gates")

        def by_loadtxt(p):
            with open(p, "rb") as f:
                return [np.loadtxt(io.BytesIO(f.read()), dtype=np.int16, skiprows=21)]

        measure("zarvdata.read", lambda p: [r for _, r in reader.read(p)], path, size)
        measure("numpy.loadtxt", by_loadtxt, path, size)
        if megabytes <= 200:
            measure("read_by_lines", lambda p: [r for _, r in reader.read_by_lines(p)], path, size)


if __name__ == "__main__":
    main()
