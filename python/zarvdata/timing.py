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
    datetime64[ns]), and cause."""
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


def record_times(path, tz=None, at="start", assume_offset=None, blocks=None):
    """Each record of a data file at its UTC time: numpy datetime64[ns], one per
    record, in file order (an appended file's dwells one after the other).

    at="start" gives the time of the record's first pulse, at="middle" the middle
    of its integration (half a record period later), as products show it.
    Gaps are marked, not closed up: the record after a gap is placed at its own
    time, so the step before it is the gap's length and not a record period.
    Without a journal the file's time stamp is local time in the zone tz (a zone
    name such as "Europe/Oslo", a tzinfo or a timedelta east of UTC); without tz
    it is taken as UTC, with a warning. assume_offset is tz's older name; blocks,
    what read(path) gave, when the caller has it already.
    """
    if at not in ("start", "middle"):
        raise ValueError(f"at must be 'start' or 'middle', not {at!r}")
    tz = tz if tz is not None else assume_offset
    blocks = read(path) if blocks is None else blocks
    entries = journal(path)
    if not entries and tz is None:
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
            parts.append(_from_stamp(header, count, tz if tz is not None else datetime.timedelta(0)))
        if at == "middle":
            parts[-1] = parts[-1] + np.timedelta64(round(record_period(header) * 5e8), "ns")
    return np.concatenate(parts) if parts else np.zeros(0, dtype="datetime64[ns]")
