"""zarv-convert FILE OUT: a data file to NetCDF-4 (OUT ending in .nc) or to a
numpy array (.npy, shaped (time, gate, 2) with ip at [..., 0])."""

import argparse
import datetime
import sys

import numpy as np

from .reader import read, record_period
from .timing import journal, record_times


def _joined(path):
    """The file's records as one series: an appended file's blocks follow each other."""
    blocks = read(path)
    header = blocks[0][0]
    shapes = {records.shape[1] for _, records in blocks}
    if len(shapes) > 1:
        raise ValueError(f"{path}: its blocks have different numbers of gates {sorted(shapes)}")
    return header, np.concatenate([records for _, records in blocks]), len(blocks)


def _start(header):
    return datetime.datetime.strptime(header["Time Stamp"], "%Y%m%d%H%M%S")


def write_netcdf(path, out):
    import netCDF4

    header, records, blocks = _joined(path)
    period = record_period(header)
    with netCDF4.Dataset(out, "w", format="NETCDF4") as nc:
        nc.createDimension("time", records.shape[0])
        nc.createDimension("gate", records.shape[1])
        time = nc.createVariable("time", "f8", ("time",))
        time.standard_name = "time"
        time.calendar = "standard"
        if journal(path):
            # Each record at its UTC time from the dwell journal, gaps left open.
            times = record_times(path)
            start = times[0].astype("datetime64[ms]") if len(times) else np.datetime64(
                _start(header), "ms")
            time.units = "seconds since " + str(start).replace("T", " ") + " +00:00"
            time.long_name = "UTC time of the record's first pulse, from the dwell journal"
            time[:] = (times - start).astype(np.int64) / 1e9
        else:
            time.units = "seconds since " + _start(header).strftime("%Y-%m-%d %H:%M:%S")
            time.long_name = "time of the record: file time stamp + record index x record period"
            time[:] = np.arange(records.shape[0]) * period
        gate = nc.createVariable("gate", "i4", ("gate",))
        gate.long_name = "sample gate number"
        gate[:] = np.arange(1, records.shape[1] + 1)
        for index, name, long_name in ((0, "ip", "in-phase average"), (1, "qp", "quadrature average")):
            var = nc.createVariable(name, "i2", ("time", "gate"), zlib=True)
            var.long_name = long_name
            var.units = "counts"
            var[:] = records[..., index]
        for label, value in header.items():
            nc.setncattr(label, value)
        nc.setncattr("record_period_s", period)
        nc.setncattr("header_blocks", blocks)
        nc.Conventions = "CF-1.8"
        nc.source = "Zarv radar station data file " + str(path)


def convert(path, out):
    if out.endswith(".nc"):
        write_netcdf(path, out)
    elif out.endswith(".npy"):
        np.save(out, _joined(path)[1])
    else:
        raise ValueError(f"{out}: the output must end in .nc or .npy")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zarv-convert", description=__doc__)
    parser.add_argument("file", help="a data file the station recorded")
    parser.add_argument("out", help="the output: OUT.nc (NetCDF-4) or OUT.npy")
    args = parser.parse_args(argv)
    try:
        convert(args.file, args.out)
    except (OSError, ValueError) as error:
        print(f"zarv-convert: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
