"""A campaign's data directory as one lazy xarray Dataset.

open_archive(DATA_DIR) lays out every dwell of the tree from the dwell journals
(dwells.jsonl, one line per dwell: file, beam, trigger start in UTC, record
period, records and gaps) and the 21 header lines of each data file; the
records themselves are read only when they are computed, one Dask chunk per
dwell. A data file without a journal is counted line by line instead, and its
times come from its time stamp in the zone given."""

import json
import os
import warnings

import numpy as np

from .geometry import Geometry
from .reader import HEADER_LINES, _header, read
from .timing import JOURNAL, _from_entry, _from_stamp, nearest_zone



def _journals(data_dir):
    """Per directory: its journal's lines, in the order they were written."""
    found = {}
    for root, _, names in os.walk(data_dir):
        if JOURNAL not in names:
            continue
        entries = []
        with open(os.path.join(root, JOURNAL), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if not line.strip():
                    continue
                try:
                    entries.append(json.loads(line))
                except json.JSONDecodeError:
                    warnings.warn(f"{root}/{JOURNAL}: line {number} is not JSON; skipped",
                                  stacklevel=3)
        found[root] = entries
    return found


def _head(path):
    """The first header of a data file, from its first 21 lines only."""
    with open(path, "rb") as f:
        lines = [f.readline() for _ in range(HEADER_LINES)]
    return _header([line.rstrip(b"\n") for line in lines], path)


class _Dwell:
    """One dwell's place in the archive: its file, block, beam, records and times."""

    def __init__(self, path, block, beam, header, times, geometry):
        self.path, self.block, self.beam, self.header = path, block, beam, header
        self.times, self.geometry = times, geometry

    @property
    def gates(self):
        return self.header["Gates"]

    def load(self):
        blocks = read(self.path)
        records = blocks[self.block][1] if self.block < len(blocks) else np.zeros((0, self.gates, 2))
        if records.shape[0] != len(self.times):
            # A file still being written: as many as the journal said, no more, no fewer.
            padded = np.zeros((len(self.times), self.gates, 2), dtype=np.int16)
            n = min(len(self.times), records.shape[0])
            padded[:n] = records[:n]
            records = padded
        return records


def _journaled(root, entries):
    dwells, blocks_seen = [], {}
    for entry in entries:
        path = os.path.join(root, entry.get("file", ""))
        if not os.path.exists(path):
            warnings.warn(f"{path}: in the journal but not on disk; left out", stacklevel=4)
            continue
        block = blocks_seen.get(path, 0)
        blocks_seen[path] = block + 1
        count = int(entry.get("records_written", 0))
        times = _from_entry(entry, count)
        times = times + np.timedelta64(round(entry["record_period_s"] * 5e8), "ns")
        try:
            header = _head(path)
        except (OSError, ValueError) as error:
            header = error  # said where the dwell is used: its day fails, the archive skips it
        dwells.append(_Dwell(path, block, int(entry.get("beam", 0)), header, times,
                             Geometry.from_journal(entry.get("radar"), entry.get("station"))))
    return dwells, set(blocks_seen)


def _unjournaled(path, tz, station, placed):
    """A data file without a journal line: its blocks counted by reading it once,
    placed in the zone tz or else in that of the station's nearest journal line
    (station: all its lines); those so placed are added to placed."""
    import datetime
    dwells = []
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        blocks = read(path)
    for index, (header, records) in enumerate(blocks):
        zone = tz if tz is not None else nearest_zone(header, station)
        if tz is None and zone is not None:
            placed.append(f"{os.path.basename(path)} ({zone})")
        times = _from_stamp(header, records.shape[0], zone if zone is not None
                            else datetime.timedelta(0))
        times = times + np.timedelta64(round(header["IPP"] * max(header.get("Integrations", 1), 1)
                                             * 500), "ns")
        dwells.append(_Dwell(path, index, header.get("Beam Direction", 0), header, times,
                             Geometry()))
    return dwells


def _dwells(data_dir, tz, placed=None):
    dwells = []
    placed = [] if placed is None else placed
    journals = _journals(data_dir)
    station = [entry for entries in journals.values() for entry in entries]
    for root, names_dirs, names in os.walk(data_dir):
        journaled, covered = _journaled(root, journals.get(root, []))
        dwells.extend(journaled)
        for name in sorted(names):
            path = os.path.join(root, name)
            if name.endswith(".txt") and "_beam" in name and path not in covered:
                if tz is None and not station:
                    warnings.warn(f"{path}: no dwell journal and no time zone given; its time "
                                  "stamp is taken as UTC", stacklevel=3)
                try:
                    dwells.extend(_unjournaled(path, tz, station, placed))
                except (OSError, ValueError) as error:
                    warnings.warn(f"left out: {error}", stacklevel=3)
    return sorted(dwells, key=lambda d: d.times[0] if len(d.times) else np.datetime64("NaT"))


def open_archive(data_dir, tz=None):
    """Every dwell under data_dir as one lazy xarray Dataset: ip and qp on (time,
    range or gate) as Dask arrays of one chunk per dwell, time in UTC (the middle
    of each record), beam and file of each record. Dwells of another number of
    gates than most are left out with a warning."""
    import dask
    import dask.array as da
    import xarray as xr

    placed = []
    dwells = [d for d in _dwells(data_dir, tz, placed) if len(d.times)]
    if placed:
        warnings.warn(f"{len(placed)} dwells without a journal line placed in the zone of the "
                      f"station's nearest journal line: {', '.join(placed)}", stacklevel=2)
    for broken in [d for d in dwells if isinstance(d.header, Exception)]:
        warnings.warn(f"left out: {broken.header}", stacklevel=2)
    dwells = [d for d in dwells if not isinstance(d.header, Exception)]
    if not dwells:
        raise ValueError(f"{data_dir}: no data files with records")
    gates = max({d.gates for d in dwells}, key=lambda g: sum(d.gates == g for d in dwells))
    odd = [d for d in dwells if d.gates != gates]
    if odd:
        warnings.warn(f"{len(odd)} dwells of other than {gates} gates left out "
                      f"(such as {odd[0].path})", stacklevel=2)
    dwells = [d for d in dwells if d.gates == gates]
    chunks = [da.from_delayed(dask.delayed(d.load)(), shape=(len(d.times), gates, 2),
                              dtype=np.int16) for d in dwells]
    records = da.concatenate(chunks, axis=0)
    geometry = next((d.geometry for d in reversed(dwells) if d.geometry.known), Geometry())
    header = dwells[0].header
    coords = {
        "time": ("time", np.concatenate([d.times for d in dwells]),
                 {"standard_name": "time", "long_name": "UTC time, middle of the record"}),
        "beam": ("time", np.concatenate([np.full(len(d.times), d.beam, np.int32)
                                         for d in dwells]), {"long_name": "beam direction",
                                                             "units": "1"}),
    }
    if geometry.known:
        dim = "range"
        coords["range"] = ("range", geometry.gate_range(header, gates),
                           {"long_name": "distance from the radar along the beam", "units": "m"})
        coords["gate"] = ("range", np.arange(1, gates + 1), {"long_name": "sample gate number"})
    else:
        dim = "gate"
        coords["gate"] = ("gate", np.arange(1, gates + 1), {"long_name": "sample gate number"})
    variables = {
        "ip": (("time", dim), records[..., 0], {"long_name": "in-phase average", "units": "1"}),
        "qp": (("time", dim), records[..., 1], {"long_name": "quadrature average", "units": "1"}),
    }
    attrs = {"dwells": len(dwells), "source": f"Zarv radar station data under {data_dir}"}
    if placed:
        attrs["dwells_placed_by_nearest_journal_zone"] = ", ".join(placed)
    if geometry.known:
        attrs["radar_frequency_hz"] = geometry.radar_frequency
    return xr.Dataset(variables, coords=coords, attrs=attrs)


def plan_days(data_dir, tz=None):
    """The dwells of each UTC day (of each dwell's first record), as plain dicts a
    worker elsewhere can take: path, block, beam and times."""
    days = {}
    for d in _dwells(data_dir, tz):
        if len(d.times):
            day = str(d.times[0].astype("datetime64[D]"))
            days.setdefault(day, []).append(
                {"path": os.path.abspath(d.path), "block": d.block, "beam": d.beam,
                 "times": d.times})
    return dict(sorted(days.items()))


def _client(scheduler, workers):
    from distributed import Client, LocalCluster
    if scheduler:
        return Client(scheduler, timeout=30)
    cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                           processes=True, dashboard_address=None)
    return Client(cluster)


def archive(data_dir, out_dir, scheduler=None, workers=None, tz=None, institution="not given",
            say=print):
    """One NetCDF-4 per UTC day of data_dir in out_dir, the days made in parallel on
    a Dask cluster (local unless a scheduler is named). Days whose inputs have not
    changed since their file was made are skipped. Returns the days that failed,
    with their causes; the others are made whatever happens to those."""
    from distributed import as_completed

    from .daily import fingerprint, make_day, up_to_date

    days = plan_days(data_dir, tz)
    if not days:
        raise ValueError(f"{data_dir}: no data files with records; nothing written")
    os.makedirs(out_dir, exist_ok=True)
    settings = {"institution": institution}
    todo = {}
    for day, dwells in days.items():
        out_path = os.path.join(out_dir, f"zarv-{day.replace('-', '')}.nc")
        print_ = fingerprint({d["path"] for d in dwells}, settings)
        if up_to_date(out_path, print_):
            say(f"{day}: unchanged, skipped")
        else:
            todo[day] = (dwells, out_path, print_)
    failed = {}
    if not todo:
        return failed
    with _client(scheduler, workers) as client:
        futures = {client.submit(make_day, day, dwells, out_path, print_, institution,
                                 pure=False): day
                   for day, (dwells, out_path, print_) in todo.items()}
        for done, future in enumerate(as_completed(futures), 1):
            day = futures[future]
            try:
                records = future.result()
                say(f"{day}: {records} records written [{done}/{len(futures)}]")
            except Exception as error:  # a worker's failure comes back as it was raised
                failed[day] = f"{type(error).__name__}: {error}"
                say(f"{day}: failed: {failed[day]} [{done}/{len(futures)}]")
    return failed


def main(argv=None):
    import argparse
    import sys

    parser = argparse.ArgumentParser(
        prog="zarv-archive",
        description="One CF NetCDF-4 per UTC day of a station's data (samples, moments and, "
                    "with the geometry, winds), the days made in parallel on a Dask cluster.")
    parser.add_argument("data_dir", help="the station's data directory (data_dir of config.txt)")
    parser.add_argument("out_dir", help="where the daily files go, made as needed")
    parser.add_argument("--scheduler", help="the address of a running Dask scheduler "
                        "(tcp://HOST:PORT); without it, a local cluster")
    parser.add_argument("--workers", type=int, help="workers of the local cluster (the cores)")
    parser.add_argument("--tz", help="the station's time zone for files without a journal")
    parser.add_argument("--institution", default="not given", help="who runs the station")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.data_dir):
        print(f"zarv-archive: {args.data_dir}: no such directory", file=sys.stderr)
        return 1
    try:
        failed = archive(args.data_dir, args.out_dir, args.scheduler, args.workers, args.tz,
                         args.institution, say=lambda line: print(line, flush=True))
    except (OSError, ValueError) as error:
        print(f"zarv-archive: {error}", file=sys.stderr)
        return 1
    for day, cause in failed.items():
        print(f"zarv-archive: {day} failed: {cause}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    raise SystemExit(main())
