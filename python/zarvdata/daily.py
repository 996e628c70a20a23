"""One day of a campaign as one NetCDF-4 file: the samples of every dwell on
(time, range or gate), the moments of their spectra on (profile_time, ...), and
the consensus winds on (wind_time, height) when the journals know the radar's
geometry. Written dwell by dwell, so that a day needs the memory of one dwell,
to a temporary name that is renamed when the file is whole."""

import hashlib
import os
import warnings

import numpy as np

from .dataset import MOMENT_FLAG_ATTRS, geometry_of, moments_dataset
from .describe import SNR_ATTRS, describe_netcdf
from .archive import _head
from .reader import read

CHUNK_BYTES = 4 << 20  # the most one chunk of samples holds
EPOCH_UNITS = "seconds since {day} 00:00:00 +00:00"


def fingerprint(paths, settings):
    """What a day's file was made from: every input's name, size and time, and
    the settings; a day whose inputs keep it is not made again."""
    digest = hashlib.sha256(repr(sorted(settings.items())).encode())
    for path in sorted(paths):
        stat = os.stat(path)
        digest.update(f"{os.path.basename(path)}:{stat.st_size}:{stat.st_mtime_ns}\n".encode())
    return digest.hexdigest()


def up_to_date(out_path, print_):
    """True when out_path exists and was made from the inputs print_ describes."""
    if not os.path.exists(out_path):
        return False
    import netCDF4
    try:
        with netCDF4.Dataset(out_path) as nc:
            return getattr(nc, "zarv_inputs", None) == print_
    except OSError:
        return False


def _create(nc, day, gates, geometry, header, hour_records, scalars):
    """The day's dimensions and variables; scalars: the position and station,
    which every data variable names among its coordinates."""
    dim = "range" if geometry.known else "gate"
    where = " ".join(scalars)
    nc.createDimension("time", None)
    nc.createDimension(dim, gates)
    nc.createDimension("profile_time", None)
    units = EPOCH_UNITS.format(day=day)
    for name, long_name in (("time", "UTC time, middle of the record"),
                            ("profile_time", "UTC time, middle of the spectra")):
        var = nc.createVariable(name, "f8", (name,))
        var.setncatts({"standard_name": "time", "long_name": long_name, "units": units,
                       "calendar": "standard"})
    gate = nc.createVariable("gate", "i4", (dim,))
    gate.setncatts({"long_name": "sample gate number", "units": "1"})
    gate[:] = np.arange(1, gates + 1)
    if geometry.known:
        rng = nc.createVariable("range", "f8", ("range",))
        rng.setncatts({"long_name": "distance from the radar along the beam", "units": "m"})
        rng[:] = geometry.gate_range(header, gates)
    beam = nc.createVariable("beam", "i1", ("time",), zlib=True)
    beam.setncatts({"long_name": "beam direction of the record", "units": "1"})
    chunk = max(1, min(hour_records, CHUNK_BYTES // max(2 * gates, 1)))
    for name, long_name in (("ip", "in-phase average"), ("qp", "quadrature average")):
        var = nc.createVariable(name, "i2", ("time", dim), zlib=True, complevel=4,
                                chunksizes=(chunk, gates))
        var.setncatts({"long_name": long_name, "units": "1",
                       "coordinates": f"beam gate {where}".strip()})
    moments = {"snr": {"long_name": "echo power over the noise of the band", **SNR_ATTRS},
               "mean_doppler": {"long_name": "mean Doppler frequency", "units": "Hz"},
               "spectral_width": {"long_name": "Doppler spectral width", "units": "Hz"},
               "power": {"long_name": "echo power above the noise", "units": "1"},
               "noise": {"long_name": "noise level per Doppler bin", "units": "1"}}
    if geometry.known:
        moments["radial_velocity"] = {
            "standard_name": "radial_velocity_of_scatterers_away_from_instrument",
            "long_name": "radial velocity, positive away from the radar", "units": "m s-1"}
    profile_coordinates = f"profile_beam gate {where}".strip()
    for name, attrs in moments.items():
        var = nc.createVariable(name, "f4", ("profile_time", dim), zlib=True, fill_value=np.nan)
        var.setncatts({**attrs, "coordinates": profile_coordinates,
                       "ancillary_variables": "quality_flag"})
    flag = nc.createVariable("quality_flag", "i1", ("profile_time", dim), zlib=True)
    flag.setncatts({**MOMENT_FLAG_ATTRS, "coordinates": profile_coordinates})
    nc.createVariable("profile_beam", "i1", ("profile_time",)).setncatts(
        {"long_name": "beam direction of the profile", "units": "1"})
    return dim


def _seconds(times, day):
    return (times - np.datetime64(day, "ns")) / np.timedelta64(1, "s")


def _append_samples(nc, dwell, records, day):
    start = nc.dimensions["time"].size
    n = len(dwell["times"])
    records = records[:n]
    nc["time"][start:start + n] = _seconds(dwell["times"], day)
    nc["beam"][start:start + n] = dwell["beam"]
    nc["ip"][start:start + n] = records[..., 0]
    nc["qp"][start:start + n] = records[..., 1]
    return n


def _append_moments(nc, path, day, blocks):
    """The file's moments of that day appended; all of them returned for the winds."""
    m = moments_dataset(path, file_blocks=blocks)
    keep = (m.time.values >= np.datetime64(day)) & (
        m.time.values < np.datetime64(day) + np.timedelta64(1, "D"))
    start = nc.dimensions["profile_time"].size
    n = int(keep.sum())
    if not n:
        return m
    nc["profile_time"][start:start + n] = _seconds(m.time.values[keep], day)
    nc["profile_beam"][start:start + n] = m.beam.values[keep]
    for name in ("snr", "mean_doppler", "spectral_width", "power", "noise", "radial_velocity",
                 "quality_flag"):
        if name in m and name in nc.variables:
            nc[name][start:start + n] = m[name].values[keep]
    return m


WIND_VARIABLES = ("eastward_wind", "northward_wind", "upward_air_velocity", "wind_speed",
                  "wind_from_direction", "eastward_wind_error", "northward_wind_error",
                  "upward_air_velocity_error")
PER_BEAM = ("consensus_count", "snr", "spectra_kept_fraction")
# The moments have an snr of their own: the winds' is named apart here.
DAILY_NAMES = {"snr": "wind_snr"}


def _add_winds(nc, paths, day, scalars):
    """The day's consensus winds on (wind_time, height) with what qualifies them;
    True when the journals allowed winds."""
    from .winds import wind_profiles
    try:
        winds = wind_profiles(paths)
    except ValueError:
        return False  # no geometry: no winds, as the file's comment says
    keep = (winds.time.values >= np.datetime64(day)) & (
        winds.time.values < np.datetime64(day) + np.timedelta64(1, "D"))
    winds = winds.isel(time=keep)
    nc.createDimension("wind_time", winds.time.size)
    nc.createDimension("height", winds.height.size)
    if "nv" not in nc.dimensions:
        nc.createDimension("nv", 2)
    var = nc.createVariable("wind_time", "f8", ("wind_time",))
    var.setncatts({"standard_name": "time", "units": EPOCH_UNITS.format(day=day),
                   "long_name": "UTC time, middle of the consensus period",
                   "bounds": "wind_time_bnds"})
    var[:] = _seconds(winds.time.values, day)
    var = nc.createVariable("wind_time_bnds", "f8", ("wind_time", "nv"))
    var[:] = _seconds(winds.time_bnds.values, day)
    var = nc.createVariable("height", "f8", ("height",))
    var.setncatts({"standard_name": "height", "units": "m", "positive": "up",
                   "long_name": "height above the radar"})
    var[:] = winds.height.values
    where = " ".join(scalars)

    def copy(name, dims, kind="f4"):
        var = nc.createVariable(DAILY_NAMES.get(name, name), kind, dims,
                                fill_value=np.nan if kind == "f4" else None)
        attrs = {k: v for k, v in winds[name].attrs.items() if k != "ancillary_variables"}
        ancillaries = winds[name].attrs.get("ancillary_variables")
        if ancillaries:
            attrs["ancillary_variables"] = " ".join(DAILY_NAMES.get(a, a)
                                                    for a in ancillaries.split())
        var.setncatts({**attrs, "coordinates": where} if where else attrs)
        var[:] = winds[name].values

    for name in WIND_VARIABLES:
        copy(name, ("wind_time", "height"))
    copy("wind_quality_flag", ("wind_time", "height"), "i1")
    for name in PER_BEAM:
        copy(name, ("wind_time", "height", "beam_direction"),
             "i4" if name == "consensus_count" else "f4")
    return True


def make_day(day, dwells, out_path, print_, institution="not given"):
    """Writes the day's file from its dwells (dicts: path, block, beam, times in
    UTC) and returns how many records it holds. Raises with the cause when a
    file of the day cannot be read; nothing is left under out_path then."""
    import netCDF4

    paths = sorted({d["path"] for d in dwells})
    first = _head(paths[0])
    geometry = geometry_of(paths[0])
    gates = first["Gates"]
    period = first["IPP"] * 1e-6 * max(first.get("Integrations", 1), 1)
    part = f"{out_path}.part-{os.getpid()}"
    records = 0
    try:
        with netCDF4.Dataset(part, "w", format="NETCDF4") as nc:
            scalars = describe_netcdf(
                nc, "beam_direction", tool="zarv-archive", geometry=geometry,
                title=f"Zarv radar data of {day} (UTC)", institution=institution,
                source="Zarv radar station data files", inputs=f"{len(paths)} files")
            _create(nc, day, gates, geometry, first, int(3600 / period), scalars)
            for path in paths:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    blocks = read(path)
                for dwell in (d for d in dwells if d["path"] == path):
                    block = blocks[dwell["block"]][1]
                    if block.shape[1] != gates:
                        raise ValueError(f"{path}: {block.shape[1]} gates, the day's are {gates}")
                    records += _append_samples(nc, dwell, block, day)
                _append_moments(nc, path, day, blocks)
            if _add_winds(nc, paths, day, scalars):
                nc.featureType = "timeSeriesProfile"  # of its winds
            nc.zarv_inputs = print_
        os.replace(part, out_path)
    finally:
        if os.path.exists(part):
            os.remove(part)
    return records
