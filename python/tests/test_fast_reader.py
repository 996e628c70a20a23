"""The mapped reader against the line-by-line one on every file the tests record,
and on files that are not as the station writes them."""

import os
import warnings

import numpy as np
import pytest

import zarvdata
from zarvdata import reader


@pytest.fixture(params=["compiled", "numpy"], autouse=True)
def parser(request, monkeypatch):
    """Each test once with the compiled parser and once with numpy's."""
    if request.param == "numpy":
        monkeypatch.setattr(reader, "_native", None)
    elif reader._native is None:
        if os.environ.get("ZARVDATA_EXPECT_COMPILED") == "1":
            pytest.fail("the build made _zarvdata_parse, but zarvdata did not find it")
        pytest.skip("no compiled parser in this build")
    return request.param


def both(path):
    """What each reader gives: its blocks, or the error it raises; and its warnings."""
    out = []
    for read in (reader.read, reader.read_by_lines):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                result = read(path)
            except (ValueError, OSError) as error:
                result = type(error).__name__ + str(error)
        out.append((result, [str(w.message) for w in caught]))
    return out


def assert_same(path):
    (fast, fast_warnings), (slow, slow_warnings) = both(path)
    assert fast_warnings == slow_warnings
    if isinstance(slow, str):
        assert fast == slow
        return
    assert len(fast) == len(slow)
    for (fh, fr), (sh, sr) in zip(fast, slow):
        assert fh == sh
        assert fr.dtype == sr.dtype == np.int16 and fr.shape == sr.shape
        assert np.array_equal(fr, sr)


def test_every_recorded_file_reads_the_same_both_ways(data_files, geometry_files):
    for path in list(data_files) + list(geometry_files):
        assert_same(path)


def random_number(rng):
    """A field as the station writes it or wider: a sign or none, leading zeros, 1 to 10 digits."""
    digits = "".join(str(d) for d in rng.integers(0, 10, size=rng.integers(1, 11)))
    return (str(rng.choice(["", "", "-", "+"])) + digits).encode()


def test_appended_torn_and_odd_files_read_the_same_both_ways(data_files, copy_of, monkeypatch):
    monkeypatch.setattr(reader, "SLICE", 4096)  # many slices, their edges everywhere
    rng = np.random.default_rng(5)
    source = data_files[0].read_bytes()
    lines = source.split(b"\n")
    header, body = b"\n".join(lines[:21]) + b"\n", lines[21:-1]
    cases = {
        "appended": source + source,
        "torn": source + source[:500],
        "torn header": source + header[:300],
        "header cut short": source + b"\n".join(lines[:10]) + b"\n",
        "garbage before": b"hello\r\nworld\r\n" + source,
        "garbage between": source + b"noise 1 2 3\r\n" + source,
        "a short line": header + b"\n".join(body[:5] + [b"1 2 3\r"] + body[5:]) + b"\n",
        "a word that is no number": header + b"\n".join(body[:7] + [body[7].replace(b" ", b" x", 1)]
                                                         + body[8:]) + b"\n",
        "a float": header + b"\n".join(body[:3] + [body[3].replace(b" ", b".5 ", 1)]
                                       + body[4:]) + b"\n",
        "no gates": header.replace(b"Gates = 30", b"Gates = 0") + b"\r\n \r\n1 2\r\n",
        "negative gates": header.replace(b"Gates = 30", b"Gates = -1") + b"1 2\r\n",
        "big values": header + b"\n".join([b" ".join([b"40000", b"-40000"] * 30) + b" \r"] * 3)
                       + b"\n",
        "a plus sign and leading zeros": header + b"\n".join(
            body[:2] + [body[2].replace(b" ", b" +007 ", 1)] + body[3:]) + b"\n",
        "an underscore in a number": header + b"\n".join(
            body[:2] + [body[2].replace(b" ", b" 1_0 ", 1)] + body[3:]) + b"\n",
        "tabs and a lone sign": header + b"\n".join(
            [body[0].replace(b" ", b"\t")] + body[1:4] + [body[4].replace(b" ", b" - ", 1)]
            + body[5:]) + b"\n",
        "numbers of every width": header + b"".join(
            b" ".join(random_number(rng) for _ in range(60)) + b" \r\n" for _ in range(300)),
        "two numbers run together": header + b"\n".join(
            body[:2] + [b" ".join([b"12-3"] + [b"7"] * 58) + b" \r"] + body[2:]) + b"\n",
        "no records": header,
        "empty": b"",
        "no header": b"1 2 3\r\n",
    }
    for name, data in cases.items():
        path = copy_of(data_files[0], name.replace(" ", "_") + ".txt")
        path.write_bytes(data)
        assert_same(path), name


def test_the_mapped_path_needs_little_more_memory_than_its_records(data_files, tmp_path, parser):
    import tracemalloc
    big = tmp_path / "big.txt"
    source = data_files[0].read_bytes()
    lines = source.split(b"\n")
    header, body = b"\n".join(lines[:21]) + b"\n", b"\n".join(lines[21:-1]) + b"\n"
    big.write_bytes(header + body * max(1, (20 << 20) // len(body)))
    tracemalloc.start()
    [(_, records)] = zarvdata.read(big)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    # The compiled parser writes nothing but the array; numpy's a slice more.
    assert peak < (1.2 if parser == "compiled" else 2) * records.nbytes, (peak, records.nbytes)
