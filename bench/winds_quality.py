"""The winds against a simulated atmosphere with birds and aircraft: records
zarv-sim --headless on the demo's three beams and 120 s consensus periods, with
echoes near -1 dB, then scores zarv-winds against the simulated wind.

For each run it prints, over the whole periods: the (period, height) cells with
a wind flagged good, how many of those lie within 0.5, 1 and 2 m/s of the truth
(the worst of u and v), and the largest error of a good wind; beside it, as the
reference, the same recording without the clutter rejection and with the
consensus of before (half the votes enough, ties to the lowest velocities).

Usage: python3 bench/winds_quality.py [seconds of the controller's time, default 1200]
(after scripts/build)."""

import os
import pathlib
import subprocess
import sys
import tempfile

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "python"))

from zarvdata import spectral, winds  # noqa: E402

WIND = (5.0, -3.0, 0.2)
NOISE = 600  # counts: echoes near -1 dB at the lowest gates
RUNS = [("aircraft in 10 % of (dwell, gate)", {"ZARV_SIM_OUTLIERS": "0.1"}),
        ("aircraft in 30 % of (dwell, gate)", {"ZARV_SIM_OUTLIERS": "0.3"}),
        ("birds through 50 % of (dwell, gate)", {"ZARV_SIM_BIRDS": "0.5"}),
        ("birds 50 %, aircraft 10 %, an interference line", {
            "ZARV_SIM_BIRDS": "0.5", "ZARV_SIM_OUTLIERS": "0.1",
            "ZARV_SIM_INTERFERENCE": "-31.25,100"})]


def record(directory, seconds, env_extra):
    config = (ROOT / "demo" / "config.txt").read_text()
    config = config.replace("data_dir = data", f"data_dir = {directory / 'data'}")
    config = "\n".join(line for line in config.splitlines()
                       if not line.startswith("snr_threshold")) + "\n"
    (directory / "config.txt").write_text(config)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZARV_SIM_CLOCK="virtual",
               ZARV_SIM_SPEED="32", ZARV_SIM_NOISE=str(NOISE),
               ZARV_SIM_WIND=",".join(map(str, WIND)),
               ZARV_SIM_FLASH=str(directory / "flash.bin"), **env_extra)
    subprocess.run([str(ROOT / "build" / "zarv-sim"), "--headless", "--duration", str(seconds)],
                   cwd=directory, env=env, check=True, capture_output=True, timeout=3 * seconds)
    return directory / "data"


def score(ds):
    """(cells, good, within 0.5, 1, 2 m/s, largest error) over the whole periods."""
    u = ds.eastward_wind.values[1:-1]
    v = ds.northward_wind.values[1:-1]
    flags = ds.wind_quality_flag.values[1:-1] if "wind_quality_flag" in ds else np.where(
        np.isfinite(u), 0, 4)
    good = (flags == 0) & np.isfinite(u)
    error = np.maximum(np.abs(u - WIND[0]), np.abs(v - WIND[1]))[good]
    return (u.size, int(good.sum()), *(int((error <= e).sum()) for e in (0.5, 1, 2)),
            float(error.max()) if error.size else float("nan"))


def as_before(data):
    """No spectrum left out, and the consensus of before: half the votes enough,
    a tie broken towards the lowest velocities."""
    saved = (spectral.CLUTTER_RATIO, winds.consensus)

    def old_consensus(values, window, min_fraction, total=None):
        values = np.asarray(values, dtype=float)
        finite = np.sort(values[np.isfinite(values)])
        if not finite.size:
            return np.nan, 0, np.nan
        counts = np.searchsorted(finite, finite + window, side="right") - np.arange(finite.size)
        first = int(np.argmax(counts))
        best = counts[first]
        if best < min_fraction * values.size:
            return np.nan, int(best), np.nan
        return float(finite[first:first + best].mean()), int(best), np.nan

    spectral.CLUTTER_RATIO, winds.consensus = np.inf, old_consensus
    try:
        return winds.wind_profiles(data)
    finally:
        spectral.CLUTTER_RATIO, winds.consensus = saved


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 1200
    print(f"{seconds} s of the controller's time per run, 120 s periods, noise {NOISE}")
    print("run | cells | good | within 0.5 | within 1 | within 2 m/s | largest error (m/s)")
    for title, env in RUNS:
        with tempfile.TemporaryDirectory() as work:
            data = record(pathlib.Path(work), seconds, env)
            for name, ds in (("now", winds.wind_profiles(data)), ("before", as_before(data))):
                cells, good, half, one, two, worst = score(ds)
                share = (lambda n: f"{n} ({100 * n / max(good, 1):.0f} %)")
                print(f"{title}, {name} | {cells} | {good} ({100 * good / cells:.0f} %) | "
                      f"{share(half)} | {share(one)} | {share(two)} | {worst:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
