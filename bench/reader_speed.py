#!/usr/bin/python3
"""How fast zarvdata.read turns the heaviest data files into arrays, against
numpy.loadtxt(path, dtype=int16) on the same file in the same run: CPU seconds
and their ratio to loadtxt's, MB of file a second, and the peak of memory numpy
and Python allocate (tracemalloc) against the arrays returned. zarvdata.read
runs with its compiled parser (when built: the build's python/ directory is
looked in) and with numpy's alone; the line-by-line reader too.

Usage: bench/reader_speed.py [MB] [build dir]   (a file of that size, 100 unless
given, at 36 gates: 339 bytes a record, as ipp 100 us and integrations 1 write
it; the build directory is build/ unless given)"""

import os
import sys
import tempfile
import time
import tracemalloc

import numpy as np

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "python"))
sys.path.insert(1, os.path.join(sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "build"),
                                "python"))
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


def measure(name, read, path, size, reference_cpu=None):
    tracemalloc.start()
    start, cpu = time.perf_counter(), time.process_time()
    arrays = read(path)
    seconds, cpu = time.perf_counter() - start, time.process_time() - cpu
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    returned = sum(a.nbytes for a in arrays)
    ratio = f"{cpu / reference_cpu:5.2f} x loadtxt" if reference_cpu else " (reference)  "
    print(f"{name:<26} CPU {cpu:6.2f} s {ratio}   {size / 1e6 / seconds:5.0f} MB/s   "
          f"peak {peak / 1e6:5.0f} MB = {peak / returned:4.2f} x the arrays ({returned / 1e6:.0f} MB)")
    return cpu


def main():
    megabytes = float(sys.argv[1]) if len(sys.argv) > 1 else 100
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "20261208120000_beam1.txt")
        make_file(path, megabytes)
        size = os.path.getsize(path)
        print(f"{size / 1e6:.0f} MB, {GATES} gates; load average {os.getloadavg()[0]:.2f}")
        loadtxt = measure("numpy.loadtxt",
                          lambda p: [np.loadtxt(p, dtype=np.int16, skiprows=21)], path, size)
        compiled = reader._native
        if compiled is None:
            print("zarvdata.read (compiled)   not built: run scripts/build")
        else:
            measure("zarvdata.read (compiled)", lambda p: [r for _, r in reader.read(p)], path,
                    size, loadtxt)
        reader._native = None
        measure("zarvdata.read (numpy)", lambda p: [r for _, r in reader.read(p)], path, size,
                loadtxt)
        reader._native = compiled
        if megabytes <= 20:  # it takes a minute at 100 MB
            measure("read_by_lines", lambda p: [r for _, r in reader.read_by_lines(p)], path,
                    size, loadtxt)


if __name__ == "__main__":
    main()
