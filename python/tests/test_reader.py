import numpy as np
import pytest

import zarvdata
from conftest import GATES


def test_every_recorded_file_reads_as_typed_headers_and_whole_records(data_files):
    beams = set()
    for path in data_files:
        blocks = zarvdata.read(path)
        assert len(blocks) == 1
        header, records = blocks[0]
        assert header["File Path"].endswith(path.name)
        assert path.name.startswith(header["Time Stamp"])
        assert header["Gates"] == GATES and header["IPP"] == 1000 and header["Integrations"] == 10
        assert header["Dwell time"] == 1.5 and isinstance(header["Dwell time"], float)
        assert len(header) == 21
        assert records.dtype == np.int16 and records.shape[1:] == (GATES, 2)
        assert records.shape[0] > 0
        beams.add(header["Beam Direction"])
        assert zarvdata.record_period(header) == pytest.approx(0.01)
    assert beams == {1, 2, 3}


def test_records_match_the_text_line_for_line(full_dwells):
    path = full_dwells[0]
    header, records = zarvdata.read(path)[0]
    lines = path.read_bytes().split(b"\r\n")[21:-1]
    assert len(lines) == records.shape[0]
    assert [int(v) for v in lines[-1].split()] == records[-1].ravel().tolist()
    # ip of gate 1 is the first value, qp of gate 1 the second.
    first = [int(v) for v in lines[0].split()]
    assert (records[0, 0, 0], records[0, 0, 1], records[0, 1, 0]) == tuple(first[:3])
    assert np.array_equal(zarvdata.series(records, 2), records[:, 1, 0] + 1j * records[:, 1, 1])


def test_an_appended_file_gives_one_pair_per_header(data_files, copy_of):
    original = data_files[0]
    target = copy_of(original)
    target.write_bytes(original.read_bytes() * 2)
    blocks = zarvdata.read(target)
    assert len(blocks) == 2
    assert blocks[0][0] == blocks[1][0]
    assert np.array_equal(blocks[0][1], blocks[1][1])


def test_a_dwell_without_records_is_a_block_of_its_own_before_the_next(data_files, copy_of):
    """A dwell stopped before its first record, then one appended: the second
    header begins right where the first one's records would."""
    original = data_files[0]
    data = original.read_bytes()
    header_end = 0
    for _ in range(21):
        header_end = data.index(b"\n", header_end) + 1
    target = copy_of(original)
    target.write_bytes(data[:header_end] + data)
    blocks = zarvdata.read(target)
    assert [b[1].shape[0] for b in blocks] == [0, zarvdata.read(original)[0][1].shape[0]]
    assert np.array_equal(blocks[1][1], zarvdata.read(original)[0][1])


def test_a_torn_last_line_is_dropped_with_a_warning(data_files, copy_of):
    original = data_files[0]
    whole = zarvdata.read(original)[0][1]
    target = copy_of(original)
    data = original.read_bytes()
    target.write_bytes(data[:-7])  # the last line loses its end
    with pytest.warns(UserWarning, match="cut short"):
        header, records = zarvdata.read(target)[0]
    assert np.array_equal(records, whole[:-1])


def test_a_file_that_is_not_a_data_file_is_refused_clearly(tmp_path):
    junk = tmp_path / "notes_beam1.txt"
    junk.write_bytes(b"\x00\xffgarbage\r\n1 2 3\r\n")
    with pytest.raises(ValueError, match="not a Zarv data file"):
        zarvdata.read(junk)
    with pytest.raises(OSError):
        zarvdata.read(tmp_path / "missing.txt")
