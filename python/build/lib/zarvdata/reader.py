"""Data files: 21 header lines, then one line per record of 2 x gates averages
(ip of gate 1, qp of gate 1, ip of gate 2, ...), lines ended by CR LF. A dwell
that gets the same file name appends its own header and records."""

import warnings

import numpy as np

HEADER_LINES = 21
FIRST_LABEL = b"File Path = "
TEXT_LABELS = {"File Path", "Time Stamp"}
FLOAT_LABELS = {"Dwell time"}


def _typed(label, text):
    if label in TEXT_LABELS:
        return text
    if label in FLOAT_LABELS:
        return float(text)
    return int(text)


def _header(lines, path):
    header = {}
    for raw in lines:
        text = raw.decode("latin-1").rstrip("\r")
        label, sep, value = text.partition(" = ")
        if not sep:
            raise ValueError(f"{path}: header line without ' = ': {text!r}")
        try:
            header[label] = _typed(label, value.strip())
        except ValueError:
            raise ValueError(f"{path}: header {label!r} is not a number: {value!r}") from None
    return header


def _records(lines, words):
    """The whole record lines from the start of lines, and how many were taken."""
    values = []
    taken = 0
    for raw in lines:
        if raw.startswith(FIRST_LABEL):
            break
        fields = raw.split()
        if len(fields) != words:
            break
        values.extend(fields)
        taken += 1
    array = np.array(values, dtype=np.int64) if values else np.zeros(0, dtype=np.int64)
    return array, taken


def read(path):
    """Every (header, records) pair of a data file, in file order.

    header: a dict keyed by the file's labels ("Gates", "IPP", ...), numbers as
    int (float for "Dwell time"). records: an int16 array shaped (records,
    gates, 2), ip at [..., 0] and qp at [..., 1]. A last line cut short, as a
    file being written or a power cut leaves it, is dropped with a warning.
    """
    with open(path, "rb") as f:
        data = f.read()
    lines = data.split(b"\n")
    torn = lines.pop()  # empty when the file ends with a whole line
    if torn:
        warnings.warn(f"{path}: dropped a last line cut short ({len(torn)} bytes)", stacklevel=2)
    blocks = []
    i = 0
    while i < len(lines):
        if not lines[i].startswith(FIRST_LABEL) or i + HEADER_LINES > len(lines):
            i += 1
            continue
        header = _header(lines[i:i + HEADER_LINES], path)
        i += HEADER_LINES
        gates = header.get("Gates", 0)
        if gates < 0:
            raise ValueError(f"{path}: header 'Gates' is negative: {gates}")
        values, taken = _records(lines[i:], 2 * gates)
        i += taken
        records = values.clip(-32768, 32767).astype(np.int16).reshape(taken, gates, 2)
        blocks.append((header, records))
    if not blocks:
        raise ValueError(f"{path}: not a Zarv data file (no 'File Path = ' header)")
    return blocks


def record_period(header):
    """Seconds from one record to the next: IPP (microseconds) x Integrations."""
    return header["IPP"] * 1e-6 * max(header.get("Integrations", 1), 1)


def series(records, gate):
    """Gate (1-based) as complex ip + j qp, one value per record."""
    return records[:, gate - 1, 0].astype(np.float64) + 1j * records[:, gate - 1, 1]
