#!/usr/bin/python3
"""The stream decoder's speed per 131072-byte chunk, as zarv-bench-stream
measures it in one run: the least pipeline that writes the station's bytes, the
station's decoder bare (the file only) and with the outlets every run has (the
graph capturing a million points, the radar view's feed), and memchr over the
same bytes. Medians of the repetitions, run in random order, with the load
average beside them.

Usage: bench/stream_speed.py [build dir] [repetitions]   (build/ and 9 unless given)"""

import json
import os
import statistics
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SETTINGS = [(36, 1), (36, 10), (36, 100), (2, 1)]
GOAL = 1.25  # the outlets' cost: attached against the least of minimal and bare


def run(build, repetitions):
    out = subprocess.run(
        [os.path.join(build, "bench", "zarv-bench-stream"), "--benchmark_format=json",
         f"--benchmark_repetitions={repetitions}", "--benchmark_min_time=0.2",
         # Repetitions in random order: the disk's writeback and the machine's
         # other work drift over a run, and so fall on every pipeline alike.
         "--benchmark_enable_random_interleaving=true"],
        check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        if b.get("error_occurred"):
            sys.exit(f"{b['name']}: {b.get('error_message')}")
        times.setdefault(b["run_name"], []).append(b["real_time"])
    return {name: statistics.median(values) for name, values in times.items()}


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    load = os.getloadavg()[0]
    t = run(build, repetitions)
    memchr = t["BM_Memchr"]
    print(f"load average {load:.2f} before, {os.getloadavg()[0]:.2f} after; medians of "
          f"{repetitions}; memchr over the same bytes {memchr:.1f} us a chunk")
    print("gates/integr.  minimal      bare (ratio)      attached (ratio)   attached/bare  "
          f"goal {GOAL}  memchr/attached")
    worst = 0.0
    for gates, n in SETTINGS:
        arg = f"/gates:{gates}/integrations:{n}"
        minimal = t["BM_MinimalPipeline" + arg]
        bare = t["BM_ProcessChunk" + arg]
        attached = t["BM_ProcessChunkAttached" + arg]
        ratio = attached / min(minimal, bare)
        worst = max(worst, ratio)
        print(f"{gates:>5} / {n:<5} {minimal:7.1f} us  {bare:7.1f} us ({bare / minimal:4.2f})  "
              f"{attached:7.1f} us ({attached / minimal:4.2f})   {ratio:10.2f}    "
              f"{'met' if ratio <= GOAL else 'NOT met':>7}   {memchr / attached:10.2f}")
    print(f"worst attached against the least of minimal and bare: {worst:.2f} (goal {GOAL})")


if __name__ == "__main__":
    main()
