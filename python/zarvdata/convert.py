"""zarv-convert FILE OUT: a data file to CF-1.8 NetCDF-4 (OUT ending in .nc:
the samples on (time, range or gate) and the moments of their Doppler spectra on
(profile_time, range or gate), times in UTC) or to a numpy array (.npy, shaped
(time, gate, 2) with ip at [..., 0])."""

import argparse
import datetime
import sys
import warnings

import numpy as np

from .dataset import geometry_of, moments_dataset, open_dataset
from .describe import describe_dataset
from .reader import read
from .spectral import BLOCKS, POINTS
from .timing import journal, stamp_utc

_PROFILE_NAMES = {"time": "profile_time", "beam": "profile_beam", "height": "profile_height"}


def _joined(path):
    """The file's records as one series: an appended file's blocks follow each other."""
    blocks = read(path)
    shapes = {records.shape[1] for _, records in blocks}
    if len(shapes) > 1:
        raise ValueError(f"{path}: its blocks have different numbers of gates {sorted(shapes)}")
    return blocks[0][0], np.concatenate([records for _, records in blocks])


def _time_origin(path, header, tz):
    """The reference of the time axes: the trigger start from the journal, else
    the file's time stamp in UTC."""
    entries = journal(path)
    if entries:
        return np.datetime64(entries[0]["trigger_start"].rstrip("Z"), "ms")
    return stamp_utc(header, tz if tz is not None else datetime.timedelta(0)).astype(
        "datetime64[ms]")


def product(path, tz=None, institution="not given", points=POINTS, blocks=BLOCKS):
    """The samples and their moments as one CF-1.8 Dataset, with the encoding the
    NetCDF needs (time units in UTC, compressed samples)."""
    samples = open_dataset(path, tz=tz)
    profiles = moments_dataset(path, points=points, blocks=blocks, tz=tz)
    profiles = profiles.rename({k: v for k, v in _PROFILE_NAMES.items() if k in profiles.variables})
    merged = samples.merge(profiles.drop_vars([v for v in ("range", "gate")
                                               if v in profiles.coords]), compat="override")
    header = read(path)[0][0]
    geometry = geometry_of(path)
    beam = header.get("Beam Direction", 0)
    origin = _time_origin(path, header, tz)
    when = str(origin).replace("T", " ")
    merged.attrs = {**samples.attrs, **profiles.attrs}
    merged.attrs["comment"] = ("Radial velocity is positive away from the radar."
                               if geometry.known else
                               "Without the radar's carrier frequency: gates and hertz.")
    describe_dataset(
        merged, "beam_direction", tool="zarv-convert", geometry=geometry,
        title=f"Zarv radar samples and Doppler moments, beam {beam}, from {when} UTC",
        source=f"Zarv radar station data file {path}", institution=institution, inputs=path)
    units = f"seconds since {when} +00:00"
    encoding = {name: {"units": units, "calendar": "standard", "dtype": "f8"}
                for name in ("time", "profile_time")}
    for name in ("ip", "qp"):
        encoding[name] = {"zlib": True, "dtype": "i2"}
    for name in merged.coords:  # coordinates are never missing
        if merged[name].dtype.kind == "f" or name in encoding:
            encoding.setdefault(name, {})["_FillValue"] = None
    return merged, encoding


def write_netcdf(path, out, tz=None, institution="not given"):
    dataset, encoding = product(path, tz=tz, institution=institution)
    dataset.to_netcdf(out, format="NETCDF4", encoding=encoding)


def convert(path, out, tz=None, institution="not given"):
    if not sum(records.shape[0] for _, records in read(path)):
        raise ValueError(f"{path}: holds no records; nothing written")
    if out.endswith(".nc"):
        write_netcdf(path, out, tz=tz, institution=institution)
    elif out.endswith(".npy"):
        np.save(out, _joined(path)[1])
    else:
        raise ValueError(f"{out}: the output must end in .nc or .npy")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zarv-convert", description=__doc__)
    parser.add_argument("file", help="a data file the station recorded")
    parser.add_argument("out", help="the output: OUT.nc (NetCDF-4) or OUT.npy")
    parser.add_argument("--tz", help="the station's time zone (for example Europe/Oslo) for a "
                                     "file without a dwell journal; UTC when not given")
    parser.add_argument("--institution", default="not given",
                        help="who runs the station, for the NetCDF's attributes")
    args = parser.parse_args(argv)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("once")
            convert(args.file, args.out, tz=args.tz, institution=args.institution)
    except (OSError, ValueError, KeyError) as error:
        print(f"zarv-convert: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
