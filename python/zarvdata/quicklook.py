"""zarv-quicklook DATA_DIR OUT_DIR: one PNG per hour of recorded data, with the
range-time power of each beam and each beam's SNR and mean Doppler profiles."""

import argparse
import collections
import datetime
import os
import sys
import warnings

import numpy as np

from .reader import read, record_period
from .spectral import BLOCKS, POINTS, moments, spectra

BEAMS = (1, 2, 3)


def data_files(data_dir):
    for root, _, names in os.walk(data_dir):
        for name in sorted(names):
            if name.endswith(".txt") and "_beam" in name:
                yield os.path.join(root, name)


def _power_per_second(header, records):
    """(start times, power in dB per second and gate) of one block."""
    period = record_period(header)
    per = max(1, int(round(1.0 / period)))
    whole = records.shape[0] // per * per
    if whole == 0:
        return [], np.zeros((0, records.shape[1]))
    values = records[:whole].astype(np.float64)
    power = (values ** 2).sum(axis=2).reshape(-1, per, records.shape[1]).mean(axis=1)
    start = datetime.datetime.strptime(header["Time Stamp"], "%Y%m%d%H%M%S")
    times = [start + datetime.timedelta(seconds=i * per * period) for i in range(power.shape[0])]
    return times, 10 * np.log10(np.maximum(power, 1e-12))


def collect(data_dir):
    """By hour (yyyymmddhh): per beam the power columns and the dwells' moments."""
    hours = collections.defaultdict(lambda: {b: {"times": [], "power": [], "moments": []}
                                             for b in BEAMS})
    for path in data_files(data_dir):
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # a file being written ends torn
                blocks = read(path)
        except (OSError, ValueError) as error:
            print(f"zarv-quicklook: skipped {error}", file=sys.stderr)
            continue
        for header, records in blocks:
            beam = hours[header["Time Stamp"][:10]].get(header.get("Beam Direction"))
            if beam is None:
                continue
            times, power = _power_per_second(header, records)
            beam["times"].extend(times)
            beam["power"].extend(power)
            period = record_period(header)
            spectrum = spectra(records, period, POINTS, BLOCKS)
            if spectrum.blocks:
                beam["moments"].append(moments(spectrum))
    return hours


def draw_hour(hour, beams, out_path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure = plt.figure(figsize=(14, 9), layout="constrained")
    grid = figure.add_gridspec(3, 3, width_ratios=(4, 1, 1))
    start = datetime.datetime.strptime(hour, "%Y%m%d%H")
    # The time axis covers the minutes that hold data: all of a whole hour.
    minutes = [(t - start).total_seconds() / 60 for b in BEAMS for t in beams[b]["times"]]
    span = (np.floor(min(minutes)), np.ceil(max(minutes) + 1 / 60)) if minutes else (0, 60)
    image = None
    for row, b in enumerate(BEAMS):
        axes = figure.add_subplot(grid[row, 0])
        data = beams[b]
        if data["power"]:
            gates = max(len(p) for p in data["power"])
            seconds = np.full((gates, 3600), np.nan)  # a column per second of the hour
            for t, p in zip(data["times"], data["power"]):
                second = int((t - start).total_seconds())
                if 0 <= second < 3600:
                    seconds[:len(p), second] = p
            image = axes.imshow(seconds, origin="lower", aspect="auto", cmap="viridis", vmin=0,
                                vmax=70, extent=(0, 60, 0.5, gates + 0.5), interpolation="nearest")
        axes.set_xlim(*span)
        axes.set_ylabel(f"beam {b} gate")
        if row == 2:
            axes.set_xlabel(f"minutes after {start:%Y-%m-%d %H}:00")
        for column, key, label in ((1, "snr_db", "SNR (dB)"), (2, "mean_hz", "mean Doppler (Hz)")):
            profile_axes = figure.add_subplot(grid[row, column])
            if data["moments"]:
                values = np.nanmedian(np.array([m[key] for m in data["moments"]]), axis=0)
                profile_axes.plot(values, np.arange(1, values.size + 1), "o-", markersize=3)
            profile_axes.set_xlabel(label)
            profile_axes.grid(alpha=0.3)
    if image is not None:
        figure.colorbar(image, ax=figure.axes[0::3], label="power (dB)", shrink=0.8)
    figure.suptitle(f"Zarv {start:%Y-%m-%d %H}:00 to {start:%H}:59")
    figure.savefig(out_path, dpi=90)
    plt.close(figure)


def quicklook(data_dir, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    written = []
    for hour, beams in sorted(collect(data_dir).items()):
        out_path = os.path.join(out_dir, f"zarv-{hour}.png")
        draw_hour(hour, beams, out_path)
        written.append(out_path)
    return written


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zarv-quicklook", description=__doc__)
    parser.add_argument("data_dir", help="the station's data directory (data_dir of config.txt)")
    parser.add_argument("out_dir", help="where the pictures go, made as needed")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.data_dir):
        print(f"zarv-quicklook: {args.data_dir}: no such directory", file=sys.stderr)
        return 1
    written = quicklook(args.data_dir, args.out_dir)
    for path in written:
        print(path)
    if not written:
        print(f"zarv-quicklook: no data files under {args.data_dir}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
