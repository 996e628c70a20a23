"""zarv-quicklook DATA_DIR OUT_DIR: one PNG per UTC hour of recorded data, with
the range-time power of each beam and each beam's SNR and mean Doppler profiles
(in km and m/s when the dwell journal knows the radar's geometry)."""

import argparse
import collections
import os
import sys
import warnings

import numpy as np

from .dataset import geometry_of
from .reader import data_files, read, record_period
from .spectral import BLOCKS, POINTS, moments, spectra
from .timing import journal, record_times

BEAMS = (1, 2, 3)
SECOND = np.timedelta64(1, "s")


def _power_per_second(header, records, times):
    """(UTC times of whole seconds, power in dB per second and gate) of one block."""
    per = max(1, int(round(1.0 / record_period(header))))
    whole = records.shape[0] // per * per
    if whole == 0:
        return np.zeros(0, dtype="datetime64[s]"), np.zeros((0, records.shape[1]))
    values = records[:whole].astype(np.float64)
    power = (values ** 2).sum(axis=2).reshape(-1, per, records.shape[1]).mean(axis=1)
    return times[:whole:per].astype("datetime64[s]"), 10 * np.log10(np.maximum(power, 1e-12))


def _hour_key(time):
    return str(time.astype("datetime64[h]")).replace("-", "").replace("T", "")


def _empty_hour():
    hour = {b: {"times": [], "power": [], "moments": [], "geometry": None, "header": None}
            for b in BEAMS}
    hour["paths"] = []
    return hour


def _add_file(hours, path, tz):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # a file being written ends torn; no journal is said below
        blocks = read(path)
        times = record_times(path, tz=tz, at="middle")
    geometry = geometry_of(path)
    if len(times):
        hours[_hour_key(times[0])]["paths"].append(path)
    start = 0
    for header, records in blocks:
        block_times = times[start:start + records.shape[0]]
        start += records.shape[0]
        beam_no = header.get("Beam Direction")
        if beam_no not in BEAMS or not len(block_times):
            continue
        seconds, power = _power_per_second(header, records, block_times)
        for t, p in zip(seconds, power):
            beam = hours[_hour_key(t)][beam_no]
            beam["times"].append(t)
            beam["power"].append(p)
        beam = hours[_hour_key(block_times[-1])][beam_no]
        beam["geometry"], beam["header"] = geometry, header
        s = spectra(records, record_period(header), POINTS, BLOCKS)
        if s.blocks:
            threshold = {} if geometry.snr_threshold is None else {
                "snr_threshold": geometry.snr_threshold}
            beam["moments"].append(moments(s, dc_notch=geometry.dc_notch, **threshold))


def collect(data, tz=None):
    """By UTC hour (yyyymmddhh): per beam the power columns and the dwells' moments,
    of a data directory or a list of data files."""
    hours = collections.defaultdict(_empty_hour)
    paths = data_files(data) if isinstance(data, (str, os.PathLike)) else data
    for path in paths:
        try:
            _add_file(hours, path, tz)
        except (OSError, ValueError) as error:
            print(f"zarv-quicklook: skipped {error}", file=sys.stderr)
    return hours


def _median(rows):
    """Per gate, the median of the finite values; NaN where there are none."""
    width = max((r.size for r in rows), default=0)
    table = np.full((len(rows), width), np.nan)
    for i, r in enumerate(rows):
        table[i, :r.size] = r
    out = np.full(width, np.nan)
    some = np.isfinite(table).any(axis=0)
    out[some] = np.nanmedian(table[:, some], axis=0)
    return out


def _gate_axis(data):
    """Each gate's place on the vertical axis, and its label."""
    geometry, header = data["geometry"], data["header"]
    gates = max((len(p) for p in data["power"]), default=0)
    if header is None or not geometry.known:
        return np.arange(1, gates + 1), "gate"
    return geometry.gate_range(header, gates) / 1000, "range (km)"


def _doppler(data, values):
    """Mean Doppler in m/s when the carrier is known (with the Nyquist value), else Hz."""
    geometry, header = data["geometry"], data["header"]
    nyquist_hz = 1 / (2 * record_period(header))
    if geometry.known:
        return (geometry.radial_velocity(values), geometry.nyquist_velocity(record_period(header)),
                "radial velocity (m/s)")
    return values, nyquist_hz, "mean Doppler (Hz)"


def _draw_profile(axes, values, heights, fold):
    """Points joined only between neighbours that do not straddle the folding value."""
    axes.plot(values, heights, "o", markersize=3, color="C0")
    for i in range(len(values) - 1):
        pair = values[i:i + 2]
        if np.isfinite(pair).all() and abs(pair[1] - pair[0]) < fold:
            axes.plot(pair, heights[i:i + 2], "-", color="C0")


def draw_hour(hour, beams, out_path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.dates as mdates
    import matplotlib.pyplot as plt

    figure = plt.figure(figsize=(14, 11.5), layout="constrained")
    grid = figure.add_gridspec(4, 3, width_ratios=(4, 1, 1))
    start = np.datetime64(f"{hour[:4]}-{hour[4:6]}-{hour[6:8]}T{hour[8:10]}", "s")
    every = [t for b in BEAMS for t in beams[b]["times"]]
    first, last = (min(every), max(every) + SECOND) if every else (start, start + 3600 * SECOND)
    image = None
    for row, b in enumerate(BEAMS):
        axes = figure.add_subplot(grid[row, 0])
        data = beams[b]
        heights, label = _gate_axis(data)
        if data["power"]:
            seconds = np.full((heights.size, 3600), np.nan)  # a column per second of the hour
            for t, p in zip(data["times"], data["power"]):
                seconds[:len(p), int((t - start) / SECOND)] = p
            half = (heights[1] - heights[0]) / 2 if heights.size > 1 else 0.5
            extent = (mdates.date2num(start), mdates.date2num(start + 3600 * SECOND),
                      heights[0] - half, heights[-1] + half)
            image = axes.imshow(seconds, origin="lower", aspect="auto", cmap="viridis", vmin=0,
                                vmax=70, extent=extent, interpolation="nearest")
        time_axis(axes, (first, last), mdates)
        axes.set_ylabel(f"beam {b} {label}")
        if row == 2:
            axes.set_xlabel(f"UTC on {str(start)[:10]}")
        snr_axes = figure.add_subplot(grid[row, 1])
        doppler_axes = figure.add_subplot(grid[row, 2])
        if data["moments"]:
            snr = _median([m["snr_db"] for m in data["moments"]])
            mean = _median([m["mean_hz"] for m in data["moments"]])
            values, fold, doppler_label = _doppler(data, mean)
            snr_axes.plot(snr, heights[:snr.size], "o-", markersize=3, color="C3")
            _draw_profile(doppler_axes, values, heights[:values.size], fold)
            doppler_axes.set_xlim(-fold, fold)
            doppler_axes.set_xlabel(doppler_label)
        snr_axes.set_xlabel("SNR (dB)")
        for profile in (snr_axes, doppler_axes):
            profile.grid(alpha=0.3)
    if image is not None:
        figure.colorbar(image, ax=figure.axes[0:9:3], label="power (dB)", shrink=0.8)
    _draw_winds(figure, grid, beams["paths"], (first, last), mdates)
    figure.suptitle(f"Zarv {str(start)[:10]} {hour[8:10]}:00 to {hour[8:10]}:59 UTC")
    figure.savefig(out_path, dpi=90)
    plt.close(figure)


# Tick steps in seconds, so that a span of any length gets a handful of round times.
TICK_STEPS = (1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600)
MOST_TICKS = 8


def tick_step(span):
    """The smallest round step in seconds that puts at most MOST_TICKS on the span."""
    seconds = (span[1] - span[0]) / SECOND
    return next((step for step in TICK_STEPS if seconds / step <= MOST_TICKS), TICK_STEPS[-1])


def time_axis(axes, span, mdates):
    """The span on the x axis, ticked at regular round times."""
    axes.set_xlim(mdates.date2num(span[0]), mdates.date2num(span[1]))
    step = tick_step(span)
    if step < 60:
        locator = mdates.SecondLocator(bysecond=range(0, 60, step))
    elif step < 3600:
        locator = mdates.MinuteLocator(byminute=range(0, 60, step // 60))
    else:
        locator = mdates.HourLocator()
    axes.xaxis.set_major_locator(locator)
    axes.xaxis.set_major_formatter(mdates.DateFormatter("%H:%M:%S" if step < 60 else "%H:%M"))


def latest_with_winds(winds):
    """The index of the last consensus period with a wind at some height, or None."""
    has = np.nonzero(np.isfinite(winds.wind_speed.values).any(axis=1))[0]
    return int(has[-1]) if has.size else None


def _draw_winds(figure, grid, paths, span, mdates):
    """The hour's consensus winds: arrows on time and height coloured by speed,
    and the latest profile's speed and direction; or why there are none."""
    from .winds import wind_profiles

    axes = figure.add_subplot(grid[3, 0])
    speed_axes = figure.add_subplot(grid[3, 1])
    direction_axes = figure.add_subplot(grid[3, 2])
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            winds = wind_profiles(sorted(paths))
    except ValueError as error:
        axes.text(0.5, 0.5, str(error), ha="center", va="center", transform=axes.transAxes)
        axes.set_axis_off()
        speed_axes.set_axis_off()
        direction_axes.set_axis_off()
        return
    km = winds.height.values / 1000
    times = mdates.date2num(winds.time.values)
    u, v = winds.eastward_wind.values, winds.northward_wind.values
    speed = np.hypot(u, v)
    x, y = np.meshgrid(times, km, indexing="ij")
    every = max(1, km.size // 16)  # at most some sixteen arrows up a profile
    arrows = axes.quiver(x[:, ::every], y[:, ::every], u[:, ::every], v[:, ::every],
                         speed[:, ::every], cmap="viridis", clim=(0, 30), pivot="middle",
                         scale_units="inches", scale=25, width=0.003)
    figure.colorbar(arrows, ax=axes, label="wind speed (m/s)", shrink=0.8)
    time_axis(axes, span, mdates)
    axes.set_ylabel("wind height (km)")
    axes.set_xlabel("UTC, one arrow per consensus period (pointing where the wind blows)")
    index = latest_with_winds(winds)
    if index is None:
        speed_axes.text(0.5, 0.5, "no period\nhas a wind", ha="center", va="center",
                        transform=speed_axes.transAxes)
        speed_axes.set_axis_off()
        direction_axes.set_axis_off()
        return
    latest = winds.isel(time=index)
    when = np.datetime_as_string(latest.time.values, unit="m")[11:]
    speed_axes.plot(latest.wind_speed.values, km, "o-", markersize=3, color="C0")
    speed_axes.set_xlabel("speed (m/s)")
    speed_axes.set_title(f"profile of {when} UTC", fontsize="medium")
    direction_axes.plot(latest.wind_from_direction.values, km, "o", markersize=3, color="C3")
    direction_axes.set_xlim(0, 360)
    direction_axes.set_xticks([0, 90, 180, 270, 360])
    direction_axes.set_xlabel("from (degrees)")
    for profile in (speed_axes, direction_axes):
        profile.grid(alpha=0.3)


def file_hours(path, tz=None):
    """The UTC hours (yyyymmddhh) a data file's records fall in: from its journal
    lines when it has them, else by reading it."""
    entries = journal(path)
    if entries:
        ends = [(e["trigger_start"], e.get("end", e["trigger_start"])) for e in entries]
        spans = [(np.datetime64(a.rstrip("Z"), "h"), np.datetime64(b.rstrip("Z"), "h"))
                 for a, b in ends]
    else:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            times = record_times(path, tz=tz)
        spans = [(times[0].astype("datetime64[h]"), times[-1].astype("datetime64[h]"))] \
            if len(times) else []
    return {_hour_key(first + np.timedelta64(k, "h")) for first, last in spans
            for k in range(int((last - first) / np.timedelta64(1, "h")) + 1)}


def plan_hours(data_dir, tz=None):
    """By UTC hour, the data files that hold some of its records."""
    hours = collections.defaultdict(list)
    for path in data_files(data_dir):
        try:
            for hour in file_hours(path, tz):
                hours[hour].append(path)
        except (OSError, ValueError) as error:
            print(f"zarv-quicklook: skipped {error}", file=sys.stderr)
    return dict(sorted(hours.items()))


def quicklook(data_dir, out_dir, tz=None, hours=None, force=False, say=lambda line: None):
    """One picture per UTC hour (those named in hours, or all), skipping a picture
    newer than every data file of its hour unless forced; the pictures made.
    OUT_DIR is made only when there is an hour to draw."""
    plan = {h: p for h, p in plan_hours(data_dir, tz).items() if not hours or h in hours}
    if plan:
        os.makedirs(out_dir, exist_ok=True)
    written = []
    for done, (hour, paths) in enumerate(plan.items(), 1):
        out_path = os.path.join(out_dir, f"zarv-{hour}.png")
        if not force and os.path.exists(out_path) and os.path.getmtime(out_path) >= max(
                os.path.getmtime(p) for p in paths):
            say(f"{out_path}: unchanged, skipped [{done}/{len(plan)}]")
            continue
        beams = collect(paths, tz).get(hour)
        if beams is None:
            continue
        draw_hour(hour, beams, out_path)
        written.append(out_path)
        say(f"{out_path} [{done}/{len(plan)}]")
    return written


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zarv-quicklook", description=__doc__)
    parser.add_argument("data_dir", help="the station's data directory (data_dir of config.txt)")
    parser.add_argument("out_dir", help="where the pictures go, made as needed")
    parser.add_argument("--tz", help="the station's time zone (for example Europe/Oslo) for "
                                     "data without a dwell journal; UTC when not given")
    parser.add_argument("--hour", action="append", metavar="YYYYMMDDHH",
                        help="only this UTC hour (may be given again)")
    parser.add_argument("--force", action="store_true",
                        help="draw again pictures newer than their data")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.data_dir):
        print(f"zarv-quicklook: {args.data_dir}: no such directory", file=sys.stderr)
        return 1
    said = []

    def say(line):
        said.append(line)
        print(line, flush=True)

    quicklook(args.data_dir, args.out_dir, args.tz, args.hour, args.force, say)
    if not said:
        what = f"for hour {', '.join(args.hour)} " if args.hour else ""
        print(f"zarv-quicklook: no data files {what}under {args.data_dir}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
