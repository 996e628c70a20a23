"""Winds from the three beams: Doppler-beam-swinging with consensus averaging.

Each dwell gives one radial velocity per range gate: its records are cut into
stretches of `points` from its first record, one Hann-windowed spectrum each;
a spectrum in which a passing target (a bird, an aircraft) dominates some bin,
above CLUTTER_RATIO times that bin's median over the dwell's spectra, is left
out, and the moments are taken of the mean of the rest. The live station does
the same with the same numbers.

For each consensus period, per beam and gate, the dwells' radial velocities
vote once each: the largest set that fits inside a window of `window` m/s is
kept when it holds more than `min_fraction` of the period's dwells of that beam
(invalid ones counted), and its mean is the beam's velocity; two such sets with
nothing in common are a tie and keep neither. The beams are brought to one
height grid (z = r cos(zenith)), and u, v, w follow by least squares from each
beam's direction:

    v_r = u sin(zenith) sin(azimuth) + v sin(zenith) cos(azimuth) + w cos(zenith)

(radial velocity positive away from the radar, azimuth from north towards
east). Three beams determine the wind exactly; more are solved in the least
squares sense. A height where fewer than three independent beams have a
consensus has no wind.

python3 -m zarvdata.winds DATA_DIR OUT.nc (also zarv-winds) writes the profiles
as a CF-1.8 timeSeriesProfile NetCDF."""

import argparse
import os
import sys
import warnings

import numpy as np

from .dataset import geometry_of
from .describe import SNR_ATTRS, describe_dataset
from .geometry import BEAMS
from .reader import data_files, read, record_period
from .spectral import CLUTTER_RATIO, dwell_moments, dwell_spectrum
from .timing import record_times

# A wind's quality, as the live station flags it.
GOOD, BELOW_THRESHOLD, CONSENSUS_FAILED, CONTAMINATION_SUSPECTED, NOT_DETERMINED = range(5)
FLAG_MEANINGS = "good below_threshold consensus_failed contamination_suspected not_determined"
CONTINUITY_LIMIT = 2.0  # m/s, beyond the neighbours' own spread
CONTINUITY_SPREADS = 3.0
CONTINUITY_HEIGHTS = 2
FEWEST_NEIGHBOURS = 3

PERIOD_S = 1800.0  # consensus_period
WINDOW_M_S = 4.0  # consensus_window, the full width
MIN_FRACTION = 0.5  # consensus_min_fraction


def consensus(values, window=WINDOW_M_S, min_fraction=MIN_FRACTION, total=None):
    """(value, count, standard error) of the largest subset of the finite values
    that fits within `window`, when it holds more than min_fraction of `total`
    votes (all the values, NaN included, unless given); (NaN, count, NaN) when it
    does not. The value is the subset's median, which an aircraft inside the
    window by chance barely moves; the error the subset's spread over the root
    of its count. Of equally large subsets that share values the one with the
    least spread wins; two with nothing in common are a tie, and a tie keeps
    neither."""
    values = np.asarray(values, dtype=float)
    total = values.size if total is None else total
    finite = np.sort(values[np.isfinite(values)])
    if not finite.size or total == 0:
        return np.nan, 0, np.nan
    ends = np.searchsorted(finite, finite + window, side="right")
    counts = ends - np.arange(finite.size)
    best = counts.max()
    starts = np.nonzero(counts == best)[0]
    spreads = finite[starts + best - 1] - finite[starts]
    first = starts[np.argmin(spreads)]
    kept = finite[first:first + best]
    apart = (starts + best <= first) | (starts >= first + best)
    if best <= min_fraction * total or apart.any():
        return np.nan, int(best), np.nan
    error = kept.std(ddof=1) / np.sqrt(best) if best > 1 else np.nan
    return float(np.median(kept)), int(best), float(error)


def beam_matrix(zenith, azimuth):
    """Rows (sin z sin a, sin z cos a, cos z): what u, v, w add to each beam's
    radial velocity."""
    z = np.radians(np.asarray(zenith, dtype=float))
    a = np.radians(np.asarray(azimuth, dtype=float))
    return np.stack([np.sin(z) * np.sin(a), np.sin(z) * np.cos(a), np.cos(z)], axis=-1)


def solve_wind(radial, zenith, azimuth, errors=None):
    """u, v, w (m/s) and their standard errors from one height's radial velocities
    (one per beam, NaN for a beam without consensus). The errors propagate the
    beams' own (1 m/s each when not given) through the geometry. NaN when the
    beams with values do not determine all three components."""
    radial = np.asarray(radial, dtype=float)
    have = np.isfinite(radial)
    matrix = beam_matrix(zenith, azimuth)[have]
    if have.sum() < 3 or np.linalg.matrix_rank(matrix) < 3:
        return np.full(3, np.nan), np.full(3, np.nan)
    sigma = np.ones(have.sum()) if errors is None else np.asarray(errors, dtype=float)[have]
    sigma = np.where(np.isfinite(sigma) & (sigma > 0), sigma, 1.0)
    weighted = matrix / sigma[:, None]
    wind, *_ = np.linalg.lstsq(weighted, radial[have] / sigma, rcond=None)
    covariance = np.linalg.inv(weighted.T @ weighted)
    return wind, np.sqrt(np.diag(covariance))


def _dwell_rows(path, points, geometry):
    """One row per dwell of a data file, as the live station takes it: (time at
    the middle of the spectra used, beam, ranges, radial velocity and snr per
    gate, spectra kept per gate, spectra looked at)."""
    blocks = read(path)
    starts = record_times(path, at="start", blocks=blocks)
    threshold = geometry.snr_threshold  # None: by the noise of each gate's spectra
    rows, at = [], 0
    for header, records in blocks:
        first_time, at = (starts[at] if records.shape[0] else None), at + records.shape[0]
        period = record_period(header)
        spectrum = dwell_spectrum(records, period, points)
        if not spectrum["stretches"]:
            continue
        m = dwell_moments(spectrum, period, threshold, geometry.dc_notch)
        middle = first_time + np.timedelta64(int(round(spectrum["middle_s"] * 1e9)), "ns")
        ranges = geometry.gate_range(header, records.shape[1])
        radial = np.where(m["valid"], geometry.radial_velocity(m["mean_hz"]), np.nan)
        rows.append((middle, int(header.get("Beam Direction", 0)), ranges, radial, m["snr_db"],
                     spectrum["kept"], spectrum["stretches"]))
    return rows


def _profiles(paths, points):
    """Every dwell of every data file (see _dwell_rows) and the geometry of the
    last file."""
    rows, geometry = [], None
    for path in paths:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # torn last lines of files being written
                here = geometry_of(path)
                if here.known:
                    rows.extend(_dwell_rows(path, points, here))
        except (OSError, ValueError) as error:
            print(f"zarv-winds: skipped {error}", file=sys.stderr)
            continue
        geometry = here
    return rows, geometry


def _why_no_wind(geometry):
    if geometry is None:
        return "no data files"
    if not geometry.known:
        return "the dwell journals give no radar_frequency"
    missing = [b for b in BEAMS if b not in geometry.zenith or b not in geometry.azimuth]
    if missing:
        return "no zenith and azimuth for beam " + ", ".join(map(str, missing))
    if np.linalg.matrix_rank(beam_matrix([geometry.zenith[b] for b in BEAMS],
                                         [geometry.azimuth[b] for b in BEAMS])) < 3:
        return "the three beams' directions do not determine u, v and w"
    return None


def _height_grid(ranges, geometry):
    """The heights of the most nearly vertical beam's gates."""
    steepest = min(BEAMS, key=lambda b: geometry.zenith[b])
    return ranges * np.cos(np.radians(geometry.zenith[steepest]))


def _period_profile(rows, geometry, heights, window, min_fraction):
    """One period's consensus per beam on the height grid, and its wind."""
    per_beam = {}
    for beam in BEAMS:
        mine = [r for r in rows if r[1] == beam]
        shape = (len(heights),)
        result = {k: np.full(shape, np.nan) for k in ("velocity", "error", "snr")}
        result["count"] = np.zeros(shape, dtype=np.int32)
        result["kept"] = np.full(shape, np.nan)
        result["flag"] = np.full(shape, NOT_DETERMINED, dtype=np.int8)
        if mine:
            ranges = mine[0][2]
            radial = np.stack([r[3] for r in mine if r[2].size == ranges.size])
            snr = np.stack([r[4] for r in mine if r[2].size == ranges.size])
            gate = [consensus(radial[:, g], window, min_fraction) for g in range(ranges.size)]
            own = ranges * np.cos(np.radians(geometry.zenith[beam]))
            for key, index in (("velocity", 0), ("error", 2)):
                result[key] = np.interp(heights, own, [c[index] for c in gate],
                                        left=np.nan, right=np.nan)
            # Counts and SNR belong to gates: each height takes its nearest gate's.
            nearest = np.abs(own[None, :] - heights[:, None]).argmin(axis=1)
            inside = (heights >= own[0] - 1e-6) & (heights <= own[-1] + 1e-6)
            result["count"] = np.where(inside, [gate[n][1] for n in nearest], 0)
            trusted = np.isfinite(radial).sum(axis=0)
            result["flag"] = np.where(
                ~inside, NOT_DETERMINED, np.where(
                    np.isfinite(result["velocity"]), GOOD,
                    np.where(trusted[nearest] == 0, BELOW_THRESHOLD, CONSENSUS_FAILED)))
            kept = np.stack([r[5] for r in mine if r[2].size == ranges.size]).sum(axis=0)
            looked = sum(r[6] for r in mine if r[2].size == ranges.size)
            result["kept"] = np.where(inside, kept[nearest] / looked, np.nan)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", RuntimeWarning)  # gates never valid
                result["snr"] = np.where(inside, np.nanmedian(snr, axis=0)[nearest], np.nan)
        per_beam[beam] = result
    zenith = [geometry.zenith[b] for b in BEAMS]
    azimuth = [geometry.azimuth[b] for b in BEAMS]
    wind = np.full((len(heights), 3), np.nan)
    error = np.full((len(heights), 3), np.nan)
    flags = np.empty(len(heights), dtype=np.int8)
    for h in range(len(heights)):
        wind[h], error[h] = solve_wind([per_beam[b]["velocity"][h] for b in BEAMS], zenith,
                                       azimuth, [per_beam[b]["error"][h] for b in BEAMS])
        flags[h] = GOOD if np.isfinite(wind[h]).all() else _windless_flag(
            [per_beam[b]["flag"][h] for b in BEAMS])
    return per_beam, wind, error, flags


def _windless_flag(beams):
    """Why a height has no wind: the first cause found of not determined, below
    threshold and consensus failed, in that order."""
    for cause in (NOT_DETERMINED, BELOW_THRESHOLD, CONSENSUS_FAILED):
        if cause in beams:
            return cause
    return NOT_DETERMINED  # every beam had a value, yet they fix no wind


def flag_discontinuities(wind, flags, before=None):
    """Continuity in the manner of Weber and Wuertz: a wind whose u or v lies
    further from the median of its valid neighbours (two heights up and down in
    its period, and the same heights in `before`, the period just before, when
    given) than CONTINUITY_LIMIT m/s plus CONTINUITY_SPREADS times their own
    spread (1.4826 times their median absolute deviation) is flagged
    contamination suspected; at least FEWEST_NEIGHBOURS are needed to judge.
    wind: (heights, 3); flags changed in place."""
    valid = np.isfinite(wind).all(axis=1)
    valid_before = None if before is None else np.isfinite(before).all(axis=1)
    for h in np.nonzero(valid)[0]:
        span = slice(max(h - CONTINUITY_HEIGHTS, 0), h + CONTINUITY_HEIGHTS + 1)
        around = [k for k in range(wind.shape[0])[span] if k != h and valid[k]]
        neighbours = [wind[k, :2] for k in around]
        if before is not None:
            neighbours += [before[k, :2] for k in range(before.shape[0])[span]
                           if valid_before[k]]
        if len(neighbours) < FEWEST_NEIGHBOURS:
            continue
        neighbours = np.array(neighbours)
        median = np.median(neighbours, axis=0)
        spread = 1.4826 * np.median(np.abs(neighbours - median), axis=0)
        if (np.abs(wind[h, :2] - median) > CONTINUITY_LIMIT + CONTINUITY_SPREADS * spread).any():
            flags[h] = CONTAMINATION_SUSPECTED


def wind_profiles(data, period=None, window=None, min_fraction=None, points=64, blocks=None,
                  moments=None):
    """The winds of a data directory or files as an xarray Dataset (see
    profiles_and_geometry)."""
    del blocks, moments
    return profiles_and_geometry(data, period, window, min_fraction, points)[0]


def profiles_and_geometry(data, period=None, window=None, min_fraction=None, points=64):
    """The winds of a data directory (or of a list of data files) as an xarray
    Dataset on (time, height), one profile per consensus period that holds data;
    the settings come from the arguments, else the dwell journal's config.txt
    keys, else the defaults. Raises ValueError saying why when the geometry does
    not allow winds.

    Each dwell gives one radial velocity per gate, from the mean of its spectra
    of `points` records without those a passing target dominates, and casts one
    vote in its period's consensus: the live station's computation. Returns the
    Dataset and the Geometry (with the station's identity) the journals gave."""
    paths = list(data_files(data)) if isinstance(data, (str, os.PathLike)) else list(data)
    rows, geometry = _profiles(paths, points)
    why = _why_no_wind(geometry)
    if why:
        raise ValueError(f"{data}: no winds: {why}" if isinstance(data, (str, os.PathLike))
                         else f"no winds: {why}")
    settings = geometry.consensus or {}
    period = period or settings.get("consensus_period", PERIOD_S)
    window = window or settings.get("consensus_window", WINDOW_M_S)
    min_fraction = min_fraction if min_fraction is not None else settings.get(
        "consensus_min_fraction", MIN_FRACTION)
    heights = _height_grid(rows[0][2], geometry)
    step = np.timedelta64(int(round(period * 1e9)), "ns")
    epoch = np.datetime64("1970-01-01T00:00:00", "ns")
    periods = {}
    for row in rows:
        periods.setdefault((row[0] - epoch) // step, []).append(row)
    times, winds, errors, counts, snrs, kept, flags = [], [], [], [], [], [], []
    for index in sorted(periods):
        per_beam, wind, error, flag = _period_profile(periods[index], geometry, heights, window,
                                                      min_fraction)
        flag_discontinuities(wind, flag, winds[-1] if index - 1 in periods else None)
        flags.append(flag)
        times.append(epoch + index * step + step // 2)
        winds.append(wind)
        errors.append(error)
        counts.append(np.stack([per_beam[b]["count"] for b in BEAMS], axis=-1))
        snrs.append(np.stack([per_beam[b]["snr"] for b in BEAMS], axis=-1))
        kept.append(np.stack([per_beam[b]["kept"] for b in BEAMS], axis=-1))
    ds = _dataset(np.array(times), heights, np.array(winds), np.array(errors),
                  np.array(counts), np.array(snrs), geometry,
                  dict(consensus_period_s=float(period), consensus_window_m_s=float(window),
                       consensus_min_fraction=float(min_fraction), fft_points=points,
                       clutter_ratio=CLUTTER_RATIO))
    ds["wind_quality_flag"] = (("time", "height"), np.array(flags, dtype=np.int8), {
        "long_name": "quality of the wind", "flag_values": np.arange(5, dtype=np.int8),
        "flag_meanings": FLAG_MEANINGS, "valid_range": np.array([0, 4], dtype=np.int8)})
    ds["spectra_kept_fraction"] = (("time", "height", "beam"), np.array(kept), {
        "long_name": "share of the period's spectra kept after intermittent clutter "
                     "(birds, aircraft) was left out", "units": "1"})
    _qualify(ds, period)
    describe_dataset(ds, "beam", tool="zarv-winds", geometry=geometry, feature_type=
                     "timeSeriesProfile", title="Zarv radar wind profiles (Doppler beam "
                     "swinging, consensus averaged)", institution="not given",
                     source=f"Zarv radar station data under {data}"
                     if isinstance(data, (str, os.PathLike)) else "Zarv radar station data files")
    ds.attrs["comment"] = ("u, v, w by least squares from each beam's consensus radial "
                           "velocity (positive away from the radar)")
    return ds, geometry


def _dataset(times, heights, wind, error, counts, snr, geometry, settings):
    import xarray as xr

    u, v, w = wind[..., 0], wind[..., 1], wind[..., 2]
    both = ("time", "height")
    per_beam = ("time", "height", "beam")
    speed = np.hypot(u, v)
    direction = np.degrees(np.arctan2(-u, -v)) % 360  # where the wind comes from
    variables = {
        "eastward_wind": (both, u, {"standard_name": "eastward_wind", "units": "m s-1"}),
        "northward_wind": (both, v, {"standard_name": "northward_wind", "units": "m s-1"}),
        "upward_air_velocity": (both, w, {"standard_name": "upward_air_velocity",
                                          "units": "m s-1"}),
        "wind_speed": (both, speed, {"standard_name": "wind_speed", "units": "m s-1"}),
        "wind_from_direction": (both, direction, {"standard_name": "wind_from_direction",
                                                  "units": "degree"}),
        "eastward_wind_error": (both, error[..., 0], {
            "long_name": "standard error of eastward_wind from the beams' geometry",
            "units": "m s-1"}),
        "northward_wind_error": (both, error[..., 1], {
            "long_name": "standard error of northward_wind from the beams' geometry",
            "units": "m s-1"}),
        "upward_air_velocity_error": (both, error[..., 2], {
            "long_name": "standard error of upward_air_velocity from the beams' geometry",
            "units": "m s-1"}),
        "consensus_count": (per_beam, counts.astype(np.int32), {
            "long_name": "dwells whose radial velocities the consensus kept", "units": "1"}),
        "snr": (per_beam, snr, {"long_name": "median signal-to-noise ratio of the dwells",
                                "cell_methods": "time: median", **SNR_ATTRS}),
        "beam_zenith": ("beam", [geometry.zenith[b] for b in BEAMS], {
            "long_name": "beam angle from the vertical", "units": "degree"}),
        "beam_azimuth": ("beam", [geometry.azimuth[b] for b in BEAMS], {
            "long_name": "beam azimuth from north towards east", "units": "degree"}),
    }
    coords = {
        "time": ("time", times.astype("datetime64[ns]"), {
            "standard_name": "time", "long_name": "UTC time, middle of the consensus period",
            "axis": "T"}),
        "height": ("height", heights, {"standard_name": "height", "long_name":
                                       "height above the radar", "units": "m",
                                       "positive": "up", "axis": "Z"}),
        "beam": ("beam", np.array(BEAMS, dtype=np.int32), {"long_name": "beam direction",
                                                           "units": "1"}),
    }
    return xr.Dataset(variables, coords=coords, attrs=settings)


# Which variables qualify each wind, and how a period's dwells made it.
WIND_CELL_METHODS = ("time: median (comment: each beam's consensus of the period's dwells, "
                     "then least squares)")
_SUPPORT = "consensus_count snr wind_quality_flag"
WIND_ANCILLARIES = {"eastward_wind": "eastward_wind_error " + _SUPPORT,
                    "northward_wind": "northward_wind_error " + _SUPPORT,
                    "upward_air_velocity": "upward_air_velocity_error " + _SUPPORT,
                    "wind_speed": _SUPPORT, "wind_from_direction": _SUPPORT}


def _qualify(ds, period):
    """Time bounds of each consensus period, cell methods and ancillary variables."""
    half = np.timedelta64(int(round(period * 5e8)), "ns")
    ds["time_bnds"] = (("time", "nv"), np.stack([ds.time.values - half, ds.time.values + half],
                                                axis=-1))
    ds.time.attrs["bounds"] = "time_bnds"
    for name, ancillaries in WIND_ANCILLARIES.items():
        ds[name].attrs.update(cell_methods=WIND_CELL_METHODS, ancillary_variables=ancillaries)


def write_netcdf(dataset, out, source, institution="not given"):
    """The profiles as a CF-1.8 timeSeriesProfile file of one station."""
    ds = dataset.copy()
    ds.attrs.update(institution=institution, source=f"Zarv radar station data under {source}")
    epoch = {"units": "seconds since 1970-01-01 00:00:00 +00:00", "calendar": "standard",
             "dtype": "f8", "_FillValue": None}
    encoding = {"time": epoch, "time_bnds": epoch,
                "height": {"_FillValue": None}}
    ds.to_netcdf(out, format="NETCDF4", encoding=encoding)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zarv-winds", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("data_dir", help="the station's data directory (data_dir of config.txt)")
    parser.add_argument("out", help="the NetCDF file to write (OUT.nc)")
    parser.add_argument("--period", type=float, help="consensus period in s (default: the "
                        "journal's consensus_period, else 1800)")
    parser.add_argument("--window", type=float, help="consensus window in m/s, the full width "
                        "(default: consensus_window, else 4)")
    parser.add_argument("--min-fraction", type=float, help="the share of a period's values the "
                        "consensus must keep, 0 to 1 (default: consensus_min_fraction, else 0.5)")
    parser.add_argument("--institution", default="not given", help="who runs the station")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.data_dir):
        print(f"zarv-winds: {args.data_dir}: no such directory", file=sys.stderr)
        return 1
    try:
        profiles = wind_profiles(args.data_dir, args.period, args.window, args.min_fraction)
        write_netcdf(profiles, args.out, args.data_dir, args.institution)
    except (OSError, ValueError) as error:
        print(f"zarv-winds: {error}", file=sys.stderr)
        return 1
    print(f"{args.out}: {profiles.time.size} profiles, {profiles.height.size} heights")
    return 0


if __name__ == "__main__":
    sys.exit(main())
