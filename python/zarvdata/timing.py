"""When each record was made. Records carry no time stamp: the station keeps,
beside the data files of each hour, a dwell journal (dwells.jsonl) with one JSON
line per dwell: the trigger start in UTC, the record period, the records
written and the records the time implies, and every gap (the file's record
after it, the records missing, that record's UTC time). Data without a journal
still reads: its records are placed from the file's time stamp, taken in a time
zone the caller names, a record period apart."""

import datetime
import json
import os
import warnings
import zoneinfo

import numpy as np

from .reader import read, record_period

JOURNAL = "dwells.jsonl"


def _utc(text):
    """A journal time ("2026-12-08T07:15:32.123Z") as numpy datetime64[ns]."""
    return np.datetime64(text.rstrip("Z"), "ns")


def journal(path):
    """The journal lines of the data file at path, in the order they were written
    (one per dwell the file holds); empty when there is no journal."""
    directory, name = os.path.split(os.path.abspath(path))
    journal_path = os.path.join(directory, JOURNAL)
    if not os.path.exists(journal_path):
        return []
    entries = []
    with open(journal_path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if not line.strip():
                continue
            try:
                entry = json.loads(line)
            except json.JSONDecodeError:
                warnings.warn(f"{journal_path}: line {number} is not JSON; skipped", stacklevel=2)
                continue
            if entry.get("file") == name:
                entries.append(entry)
    return entries


def gaps(path):
    """Per dwell of the file, its gaps: dicts with record (the file's record after
    the gap, counted in that dwell from 0), missing (records) and at (UTC,
    datetime64[ns]), and cause ("overrun", "queue", "framing", "start", "end",
    or "pause" in older journals); a gap whose count the bridge left open also
    has missing_min and missing_max, the fewest and most records it can be."""
    return [[dict(g, at=_utc(g["at"])) for g in entry.get("discontinuities", [])]
            for entry in journal(path)]


def stamp_utc(header, tz):
    """The data file's local time stamp in UTC (datetime64[ns]) for the time zone
    tz: a zone name ("Asia/Kolkata"), a tzinfo, or a timedelta east of UTC."""
    local = datetime.datetime.strptime(header["Time Stamp"], "%Y%m%d%H%M%S")
    if isinstance(tz, datetime.timedelta):
        tz = datetime.timezone(tz)
    elif isinstance(tz, str):
        tz = zoneinfo.ZoneInfo(tz)
    utc = local.replace(tzinfo=tz).astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return np.datetime64(utc, "ns")


def _from_stamp(header, count, tz):
    start = stamp_utc(header, tz)
    step = np.timedelta64(round(record_period(header) * 1e9), "ns")
    return start + np.arange(count) * step


def _from_entry(entry, count):
    period_ns = entry["record_period_s"] * 1e9
    anchors_record = [0] + [g["record"] for g in entry.get("discontinuities", [])]
    anchors_time = [_utc(entry["trigger_start"])] + [
        _utc(g["at"]) for g in entry.get("discontinuities", [])]
    index = np.arange(count)
    which = np.searchsorted(np.array(anchors_record), index, side="right") - 1
    since = (index - np.array(anchors_record)[which]) * period_ns
    return np.array(anchors_time)[which] + np.round(since).astype("timedelta64[ns]")


def _entry_zone(entry):
    """The station's zone as a journal line gives it: its zone name where this
    machine knows it, else its UTC offset ("+05:30"); None when it gives neither."""
    name = entry.get("time_zone")
    if name:
        try:
            return zoneinfo.ZoneInfo(name)
        except (zoneinfo.ZoneInfoNotFoundError, ValueError):
            pass
    offset = entry.get("utc_offset", "")
    if len(offset) == 6 and offset[0] in "+-" and offset[3] == ":":
        minutes = int(offset[1:3]) * 60 + int(offset[4:6])
        return datetime.timezone(datetime.timedelta(minutes=minutes if offset[0] == "+" else -minutes))
    return None


def _station_root(directory):
    """The data directory of a station: four levels above an hour directory
    (yyyy/mm/dd/hh), or the directory itself."""
    parts = os.path.abspath(directory).split(os.sep)
    if len(parts) > 4 and all(p.isdigit() for p in parts[-4:]):
        return os.sep.join(parts[:-4]) or os.sep
    return directory


def _journal_lines(directory):
    path = os.path.join(directory, JOURNAL)
    lines = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            try:
                lines.append(json.loads(line))
            except json.JSONDecodeError:
                continue
    return lines


def station_entries(path):
    """The journal lines of the station a data file belongs to: those of its own
    hour directory when there are any, else every one under its data directory."""
    directory = os.path.dirname(os.path.abspath(path))
    if os.path.exists(os.path.join(directory, JOURNAL)):
        lines = _journal_lines(directory)
        if lines:
            return lines
    lines = []
    for root, _, names in os.walk(_station_root(directory)):
        if JOURNAL in names:
            lines.extend(_journal_lines(root))
    return lines


def nearest_zone(header, entries):
    """For a dwell without its journal line (cut by a power loss): the zone of the
    station's journal line nearest in time to its file's time stamp, or None."""
    local = datetime.datetime.strptime(header["Time Stamp"], "%Y%m%d%H%M%S")
    best, best_distance = None, None
    for entry in entries:
        zone = _entry_zone(entry)
        if zone is None or "trigger_start" not in entry:
            continue
        utc = datetime.datetime.strptime(entry["trigger_start"].rstrip("Z")[:19], "%Y-%m-%dT%H:%M:%S")
        there = utc.replace(tzinfo=datetime.timezone.utc).astimezone(zone).replace(tzinfo=None)
        distance = abs((there - local).total_seconds())
        if best_distance is None or distance < best_distance:
            best, best_distance = zone, distance
    return best


def record_times(path, tz=None, at="start", assume_offset=None, blocks=None):
    """Each record of a data file at its UTC time: numpy datetime64[ns], one per
    record, in file order (an appended file's dwells one after the other).

    at="start" gives the time of the record's first pulse, at="middle" the middle
    of its integration (half a record period later), as products show it.
    Gaps are marked, not closed up: the record after a gap is placed at its own
    time, so the step before it is the gap's length and not a record period.
    A dwell without its journal line is placed from the file's time stamp, local
    time in the zone tz (a zone name such as "Europe/Oslo", a tzinfo or a
    timedelta east of UTC); without tz, in the zone of the station's journal line
    nearest to it (a dwell cut by a power loss), with a warning; with no journal
    at all it is taken as UTC, with a warning. assume_offset is tz's older name;
    blocks, what read(path) gave, when the caller has it already.
    """
    if at not in ("start", "middle"):
        raise ValueError(f"at must be 'start' or 'middle', not {at!r}")
    tz = tz if tz is not None else assume_offset
    blocks = read(path) if blocks is None else blocks
    entries = journal(path)
    station = station_entries(path) if tz is None and len(entries) < len(blocks) else []
    if not entries and tz is None and not station:
        warnings.warn(f"{path}: no dwell journal and no time zone given; the file's time stamp "
                      "is taken as UTC", stacklevel=2)
    parts = []
    for i, (header, records) in enumerate(blocks):
        count = records.shape[0]
        if i < len(entries):
            entry = entries[i]
            if entry.get("records_written") != count:
                warnings.warn(f"{path}: dwell {i + 1} holds {count} records, its journal line "
                              f"says {entry.get('records_written')}", stacklevel=2)
            parts.append(_from_entry(entry, count))
        else:
            zone = tz if tz is not None else nearest_zone(header, station)
            if tz is None and zone is not None:
                warnings.warn(f"{path}: dwell {i + 1} has no journal line; placed in {zone}, "
                              "the zone of the station's nearest journal line", stacklevel=2)
            parts.append(_from_stamp(header, count, zone if zone is not None
                                     else datetime.timedelta(0)))
        if at == "middle":
            parts[-1] = parts[-1] + np.timedelta64(round(record_period(header) * 5e8), "ns")
    return np.concatenate(parts) if parts else np.zeros(0, dtype="datetime64[ns]")
