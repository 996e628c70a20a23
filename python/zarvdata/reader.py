"""Data files: 21 header lines, then one line per record of 2 x gates averages
(ip of gate 1, qp of gate 1, ip of gate 2, ...), lines ended by CR LF. A dwell
that gets the same file name appends its own header and records.

The file is mapped rather than read, and its record lines are parsed straight
into the int16 array returned, so that a file of hundreds of megabytes needs
little more memory than its records: by the compiled parser the station's
package installs (_zarvdata_parse), or else by numpy a slice at a time
(ZARVDATA_PURE=1 chooses numpy). A block whose lines are not all as the station
writes them is read line by line instead, which gives the same result as the
mapped path on every file."""

import mmap
import os
import warnings

import numpy as np

try:
    import _zarvdata_parse as _native
except ImportError:
    _native = None
if os.environ.get("ZARVDATA_PURE"):
    _native = None

HEADER_LINES = 21
FIRST_LABEL = b"File Path = "
TEXT_LABELS = {"File Path", "Time Stamp"}
FLOAT_LABELS = {"Dwell time"}
SLICE = 1 << 20  # bytes of record lines parsed at once
_WHITE = np.zeros(256, dtype=bool)
_WHITE[[9, 10, 11, 12, 13, 32]] = True  # what bytes.split() splits on


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


def _as_records(values, taken, gates):
    return values.clip(-32768, 32767).astype(np.int16).reshape(taken, gates, 2)


def read_by_lines(path):
    """The same as read(), one line at a time: the reference the mapped path keeps to."""
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
        blocks.append((header, _as_records(values, taken, gates)))
    if not blocks:
        raise ValueError(f"{path}: not a Zarv data file (no 'File Path = ' header)")
    return blocks


class _Mapped:
    """A mapped file's whole lines, [0, end), and its headers and records."""

    def __init__(self, mm, path):
        self.mm, self.path = mm, path
        self.end = mm.rfind(b"\n") + 1  # past the last whole line

    def next_label(self, start):
        """Where the next line that begins with the header's first label starts."""
        if start == 0 and self.mm[:len(FIRST_LABEL)] == FIRST_LABEL:
            return 0
        found = self.mm.find(b"\n" + FIRST_LABEL, max(start - 1, 0), self.end)
        return self.end if found < 0 else found + 1

    def line_end(self, start, count):
        """Past the count-th line from start, or None when fewer lines are left."""
        at = start
        for _ in range(count):
            found = self.mm.find(b"\n", at, self.end)
            if found < 0:
                return None
            at = found + 1
        return at

    def slices(self, start, stop):
        """[start, stop) in pieces of whole lines of about SLICE bytes."""
        while start < stop:
            cut = stop if stop - start <= SLICE else self.mm.rfind(b"\n", start, start + SLICE) + 1
            if cut <= start:
                cut = self.mm.find(b"\n", start + SLICE, stop) + 1 or stop
            yield start, cut
            start = cut

    def good_lines(self, start, stop, words):
        """How many lines from start have `words` fields, up to the first that has
        not, and where they end."""
        good = 0
        for a, b in self.slices(start, stop):
            raw = np.frombuffer(self.mm[a:b], dtype=np.uint8)
            white = _WHITE[raw]
            firsts = ~white  # the first byte of each field
            firsts[1:] &= white[:-1]
            ends = np.flatnonzero(raw == 10)
            # Fields before each line's end, less those before the line's start.
            before = np.searchsorted(np.flatnonzero(firsts), ends)
            counts = np.diff(before, prepend=0)
            wrong = np.flatnonzero(counts != words)
            if wrong.size:
                first = int(wrong[0])
                return good + first, a + (int(ends[first - 1]) + 1 if first else 0)
            good += ends.size
        return good, stop

    def parse(self, start, stop, rows, words):
        """The numbers of the lines [start, stop) as int16 (rows, words), or None when
        one is not a plain decimal number."""
        out = np.empty((rows, words), dtype=np.int16)
        row = 0
        for a, b in self.slices(start, stop):
            with warnings.catch_warnings():
                warnings.simplefilter("error", DeprecationWarning)  # numpy's "could not be read"
                try:
                    values = np.fromstring(self.mm[a:b], dtype=np.int64, sep=" ")
                except (DeprecationWarning, ValueError):
                    return None
            if values.size % words or row + values.size // words > rows:
                return None
            n = values.size // words
            out[row:row + n] = values.clip(-32768, 32767).reshape(n, words)
            row += n
        return out if row == rows else None


def _native_records(mapped, start, stop, words):
    """The compiled parser's records from start, (rows, words), and where they
    end; None when a field is not a plain number."""
    lines = _native.count_lines(mapped.mm, start, stop)
    out = np.empty((lines, words), dtype=np.int16)
    rows, end, plain = _native.parse_into(mapped.mm, start, stop, words, out)
    if not plain:
        return None
    return (out if rows == lines else out[:rows].copy()), end


def _block(mapped, at, path):
    """The header at `at`, its records, and where reading goes on; None when the
    header has fewer than 21 lines after it."""
    records_start = mapped.line_end(at, HEADER_LINES)
    if records_start is None:
        return None
    header = _header(mapped.mm[at:records_start].split(b"\n")[:HEADER_LINES], path)
    gates = header.get("Gates", 0)
    if gates < 0:
        raise ValueError(f"{path}: header 'Gates' is negative: {gates}")
    stop = mapped.next_label(records_start)
    words = 2 * gates
    values = None
    if words and _native is not None:
        parsed = _native_records(mapped, records_start, stop, words)
        if parsed is not None:
            values, records_end = parsed
            rows = values.shape[0]
    elif words:
        rows, records_end = mapped.good_lines(records_start, stop, words)
        values = mapped.parse(records_start, records_end, rows, words)
    if values is None:  # not as the station writes them: line by line, as before
        lines = mapped.mm[records_start:stop].split(b"\n")[:-1]
        flat, rows = _records(lines, words)
        records_end = mapped.line_end(records_start, rows)
        return header, _as_records(flat, rows, gates), records_end
    return header, values.reshape(rows, gates, 2), records_end


def read(path):
    """Every (header, records) pair of a data file, in file order.

    header: a dict keyed by the file's labels ("Gates", "IPP", ...), numbers as
    int (float for "Dwell time"). records: an int16 array shaped (records,
    gates, 2), ip at [..., 0] and qp at [..., 1]. A last line cut short, as a
    file being written or a power cut leaves it, is dropped with a warning.
    """
    with open(path, "rb") as f:
        if os.fstat(f.fileno()).st_size == 0:
            raise ValueError(f"{path}: not a Zarv data file (no 'File Path = ' header)")
        mm = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    try:
        mapped = _Mapped(mm, path)
        if mapped.end < len(mm):
            warnings.warn(f"{path}: dropped a last line cut short ({len(mm) - mapped.end} bytes)",
                          stacklevel=2)
        blocks = []
        at = mapped.next_label(0)
        while at < mapped.end:
            block = _block(mapped, at, path)
            if block is None:
                break  # a header cut short: nothing after it can be a whole one
            header, records, at = block
            blocks.append((header, records))
            at = mapped.next_label(at)
    finally:
        mm.close()
    if not blocks:
        raise ValueError(f"{path}: not a Zarv data file (no 'File Path = ' header)")
    return blocks


def data_files(data_dir):
    """Every data file under data_dir (yyyymmddhhnnss_beamN.txt), directory by directory."""
    for root, _, names in sorted(os.walk(data_dir)):
        for name in sorted(names):
            if name.endswith(".txt") and "_beam" in name:
                yield os.path.join(root, name)


def record_period(header):
    """Seconds from one record to the next: IPP (microseconds) x Integrations."""
    return header["IPP"] * 1e-6 * max(header.get("Integrations", 1), 1)


def series(records, gate):
    """Gate (1-based) as complex ip + j qp, one value per record."""
    return records[:, gate - 1, 0].astype(np.float64) + 1j * records[:, gate - 1, 1]
