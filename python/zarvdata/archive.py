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
from .timing import JOURNAL, _from_entry, _from_stamp



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
        dwells.append(_Dwell(path, block, int(entry.get("beam", 0)), _head(path), times,
                             Geometry.from_journal(entry.get("radar"))))
    return dwells, set(blocks_seen)


def _unjournaled(path, tz):
    """A data file without a journal line: its blocks counted by reading it once."""
    import datetime
    dwells = []
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        blocks = read(path)
    for index, (header, records) in enumerate(blocks):
        times = _from_stamp(header, records.shape[0], tz if tz is not None
                            else datetime.timedelta(0))
        times = times + np.timedelta64(round(header["IPP"] * max(header.get("Integrations", 1), 1)
                                             * 500), "ns")
        dwells.append(_Dwell(path, index, header.get("Beam Direction", 0), header, times,
                             Geometry()))
    return dwells


def _dwells(data_dir, tz):
    dwells = []
    journals = _journals(data_dir)
    for root, names_dirs, names in os.walk(data_dir):
        journaled, covered = _journaled(root, journals.get(root, []))
        dwells.extend(journaled)
        for name in sorted(names):
            path = os.path.join(root, name)
            if name.endswith(".txt") and "_beam" in name and path not in covered:
                if tz is None:
                    warnings.warn(f"{path}: no dwell journal and no time zone given; its time "
                                  "stamp is taken as UTC", stacklevel=3)
                dwells.extend(_unjournaled(path, tz))
    return sorted(dwells, key=lambda d: d.times[0] if len(d.times) else np.datetime64("NaT"))


def open_archive(data_dir, tz=None):
    """Every dwell under data_dir as one lazy xarray Dataset: ip and qp on (time,
    range or gate) as Dask arrays of one chunk per dwell, time in UTC (the middle
    of each record), beam and file of each record. Dwells of another number of
    gates than most are left out with a warning."""
    import dask
    import dask.array as da
    import xarray as xr

    dwells = [d for d in _dwells(data_dir, tz) if len(d.times)]
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
    if geometry.known:
        attrs["radar_frequency_hz"] = geometry.radar_frequency
    return xr.Dataset(variables, coords=coords, attrs=attrs)
