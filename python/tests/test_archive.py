"""open_archive: a data tree as one lazy Dataset, laid out from the journals."""

import json
import os
import pathlib
import shutil
import warnings

import numpy as np
import pytest

import zarvdata
from zarvdata.archive import open_archive

pytest.importorskip("dask")


def copy_tree(station, tmp_path):
    target = tmp_path / "data"
    shutil.copytree(station / "data", target)
    return target


def test_the_archive_holds_every_dwell_in_time_order_read_only_when_computed(station, tmp_path,
                                                                            monkeypatch):
    data = copy_tree(station, tmp_path)
    files = sorted(data.rglob("*_beam*.txt"))
    reads = []
    real_read = zarvdata.archive.read
    monkeypatch.setattr(zarvdata.archive, "read", lambda p: reads.append(p) or real_read(p))
    ds = open_archive(data)
    assert reads == []  # laid out from the journals and the headers alone
    assert ds.ip.data.numblocks[0] == len(files)  # a chunk per dwell
    expected_times = np.concatenate([zarvdata.record_times(p, at="middle") for p in files])
    order = np.argsort(expected_times, kind="stable")
    assert np.array_equal(ds.time.values, expected_times[order])
    records = np.concatenate([zarvdata.read(p)[0][1] for p in files])[order]
    assert np.array_equal(ds.ip.values, records[..., 0])
    assert np.array_equal(ds.qp.values, records[..., 1])
    beams = np.concatenate([np.full(zarvdata.read(p)[0][1].shape[0],
                                    zarvdata.read(p)[0][0]["Beam Direction"]) for p in files])
    assert np.array_equal(ds.beam.values, beams[order])


def test_gaps_missing_files_and_a_file_without_a_journal(station, tmp_path):
    data = copy_tree(station, tmp_path)
    journal = next(data.rglob("dwells.jsonl"))
    entries = [json.loads(line) for line in journal.read_text().splitlines()]
    # A gap of 300 records in the first dwell, after its 20th record.
    entries[0]["discontinuities"] = [{"record": 20, "missing": 300, "cause": "framing",
                                      "at": "2030-01-01T00:00:10.000Z"}]
    # Beam 2's file is gone; the last dwell's journal line is gone.
    gone = journal.parent / entries[1]["file"]
    gone.unlink()
    unjournaled = journal.parent / entries[-1]["file"]
    journal.write_text("".join(json.dumps(e) + "\n" for e in entries[:-1]))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        ds = open_archive(data, tz="UTC")
    said = " ".join(str(w.message) for w in caught)
    assert "in the journal but not on disk" in said
    assert "no time zone given" not in said
    first = zarvdata.read(journal.parent / entries[0]["file"])[0][1]
    period = entries[0]["record_period_s"]
    gap_record = np.datetime64("2030-01-01T00:00:10", "ns") + np.timedelta64(
        round(period * 5e8), "ns")
    assert gap_record in ds.time.values  # the record after the gap at its own time
    assert ds.time.size == sum(zarvdata.read(p)[0][1].shape[0]
                               for p in data.rglob("*_beam*.txt"))
    assert 2 not in set(ds.beam.values[:first.shape[0]])
    tail = zarvdata.read(unjournaled)[0][1]
    assert np.array_equal(ds.ip.values[ds.beam.values == zarvdata.read(unjournaled)[0][0][
        "Beam Direction"]][-tail.shape[0]:], tail[..., 0])


def test_dwells_appended_to_one_file_each_keep_their_own_records(station, tmp_path):
    """Two dwells in one file, as when a dwell gets the name of the one before it:
    each journal line takes its own block of the file."""
    data = copy_tree(station, tmp_path)
    journal = next(data.rglob("dwells.jsonl"))
    entries = [json.loads(line) for line in journal.read_text().splitlines()]
    assert [e["beam"] for e in entries[:2]] == [1, 2]
    first, second = (journal.parent / e["file"] for e in entries[:2])
    own = [zarvdata.read(p)[0][1] for p in (first, second)]
    first.write_bytes(first.read_bytes() + second.read_bytes())
    second.unlink()
    entries[1]["file"] = entries[0]["file"]
    journal.write_text("".join(json.dumps(e) + "\n" for e in entries))
    ds = open_archive(data)
    assert ds.attrs["dwells"] == len(entries)
    beam2 = ds.beam.values == 2
    assert np.array_equal(ds.ip.values[beam2], own[1][..., 0])
    assert np.array_equal(ds.qp.values[beam2], own[1][..., 1])
    assert np.array_equal(ds.ip.values[ds.beam.values == 1][:own[0].shape[0]], own[0][..., 0])


def test_a_day_is_made_again_when_a_file_or_a_setting_changes(station, tmp_path):
    netCDF4 = pytest.importorskip("netCDF4")
    from zarvdata.daily import fingerprint, up_to_date
    files = sorted(str(p) for p in copy_tree(station, tmp_path).rglob("*_beam*.txt"))
    settings = {"institution": "here"}
    out = tmp_path / "zarv-20261209.nc"
    with netCDF4.Dataset(out, "w") as nc:
        nc.zarv_inputs = fingerprint(files, settings)
    # The same inputs, however listed: skipped.
    assert up_to_date(out, fingerprint(list(reversed(files)), dict(settings)))
    assert not up_to_date(out, fingerprint(files, {"institution": "elsewhere"}))
    assert not up_to_date(out, fingerprint(files[:-1], settings))
    # A file that grew, its time kept; then one touched, its size kept.
    stat = os.stat(files[0])
    with open(files[0], "ab") as f:
        f.write(b"0 0\r\n")
    os.utime(files[0], ns=(stat.st_atime_ns, stat.st_mtime_ns))
    assert not up_to_date(out, fingerprint(files, settings))
    os.truncate(files[0], stat.st_size)
    os.utime(files[0], ns=(stat.st_atime_ns, stat.st_mtime_ns + 1_000_000_000))
    assert not up_to_date(out, fingerprint(files, settings))
    os.utime(files[0], ns=(stat.st_atime_ns, stat.st_mtime_ns))
    assert up_to_date(out, fingerprint(files, settings))


def test_an_empty_tree_is_refused_clearly(tmp_path):
    with pytest.raises(ValueError, match="no data files"):
        open_archive(tmp_path)


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def cluster(tmp_path):
    """A dask-scheduler and a dask-worker started as processes on localhost, as on
    a cluster; the worker finds zarvdata as an installed package would be found."""
    import subprocess
    pytest.importorskip("distributed")
    port = free_port()
    env = dict(os.environ, PYTHONPATH=str(pathlib.Path(zarvdata.__file__).parents[1]))
    logs = open(tmp_path / "cluster.log", "w")
    scheduler = subprocess.Popen(["/usr/bin/python3", "-m", "distributed.cli.dask_scheduler",
                                  "--host", "127.0.0.1", "--port", str(port),
                                  "--dashboard-address", ":0"], env=env, stdout=logs,
                                 stderr=subprocess.STDOUT)
    address = f"tcp://127.0.0.1:{port}"
    worker = subprocess.Popen(["/usr/bin/python3", "-m", "distributed.cli.dask_worker", address,
                               "--nworkers", "1", "--nthreads", "1", "--no-dashboard"],
                              env=env, stdout=logs, stderr=subprocess.STDOUT)
    from distributed import Client
    try:
        with Client(address, timeout=60) as client:
            client.wait_for_workers(1, timeout=60)
        yield address
    finally:
        for process in (worker, scheduler):
            process.terminate()
        for process in (worker, scheduler):
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
        logs.close()


def shifted_copy(data, days):
    """The tree's files once more, their journal saying they were recorded days later."""
    source = next(data.rglob("dwells.jsonl")).parent
    target = data / f"later{days}"
    shutil.copytree(source, target)
    journal = target / "dwells.jsonl"
    lines = []
    for line in journal.read_text().splitlines():
        entry = json.loads(line)
        start = np.datetime64(entry["trigger_start"].rstrip("Z")) + np.timedelta64(days, "D")
        entry["trigger_start"] = str(start) + "Z"
        lines.append(json.dumps(entry))
    journal.write_text("\n".join(lines) + "\n")
    return target


def test_days_are_made_on_a_separate_scheduler_a_broken_day_is_said_and_the_rest_resume(
        station, tmp_path, cluster):
    import subprocess
    netCDF4 = pytest.importorskip("netCDF4")
    from cf_rules import cf_problems
    data = copy_tree(station, tmp_path)
    shifted_copy(data, 1)
    broken = shifted_copy(data, 2)
    victim = sorted(broken.glob("*_beam*.txt"))[0]
    victim.write_bytes(victim.read_bytes().replace(b"Gates = ", b"Gates = x", 1))
    out = tmp_path / "days"
    env = dict(os.environ, PYTHONPATH=str(pathlib.Path(zarvdata.__file__).parents[1]))

    def run():
        return subprocess.run(["/usr/bin/python3", "-m", "zarvdata.archive", str(data), str(out),
                               "--scheduler", cluster], env=env, capture_output=True, text=True,
                              timeout=300)

    result = run()
    assert result.returncode == 1, result.stdout + result.stderr
    days = sorted(p.name for p in out.glob("*.nc"))
    assert len(days) == 2, (days, result.stdout, result.stderr)
    assert "failed: ValueError" in result.stdout and "is not a number" in result.stderr
    assert not list(out.glob("*.part-*"))
    files = sorted(station.glob("data/**/*_beam*.txt"))
    records = sum(zarvdata.read(p)[0][1].shape[0] for p in files)
    with netCDF4.Dataset(out / days[0]) as nc:
        assert cf_problems(nc) == []
        assert nc.dimensions["time"].size == records
        first = zarvdata.read(files[0])[0][1]
        assert np.array_equal(nc["ip"][:first.shape[0]], first[..., 0])
    again = run()
    assert again.stdout.count("unchanged, skipped") == 2, again.stdout
    assert again.returncode == 1  # the broken day is tried again, and fails again


def test_the_daily_file_describes_itself_as_the_other_products_do(atmospheres, tmp_path):
    netCDF4 = pytest.importorskip("netCDF4")
    import xarray as xr
    from cf_rules import cf_problems
    from zarvdata.archive import plan_days
    from zarvdata.daily import make_day
    from zarvdata.winds import wind_profiles, write_netcdf
    data = atmospheres["strong"]
    days = plan_days(data)
    day, dwells = max(days.items(), key=lambda item: len(item[1]))
    out = tmp_path / "day.nc"
    make_day(day, dwells, out, "print", institution="Test site")
    write_netcdf(wind_profiles(data), tmp_path / "winds.nc", str(data), "Test site")
    with netCDF4.Dataset(out) as nc, netCDF4.Dataset(tmp_path / "winds.nc") as winds:
        assert cf_problems(nc) == []
        assert nc.featureType == "timeSeriesProfile"
        for attr in ("station_name", "wigos_id", "radar_frequency_hz", "range_offset_ns",
                     "Conventions", "institution"):
            assert getattr(nc, attr) == getattr(winds, attr), attr
        assert nc.station_name == "Andøya test" and nc.wigos_id == "0-20000-0-01010"
        for name in ("latitude", "longitude", "altitude", "station"):
            assert nc[name][...] == winds[name][...], name
        assert list(nc["beam_zenith"][:]) == list(winds["beam_zenith"][:]) == [8, 20, 20]
        assert list(nc["beam_azimuth"][:]) == [300, 45, 160]
        for name in ("ip", "snr", "eastward_wind", "consensus_count", "wind_snr"):
            assert {"latitude", "longitude", "altitude", "station"} <= set(
                nc[name].coordinates.split()), name
        assert nc["snr"].units == "1" and "decibels" in nc["snr"].comment
        assert nc["eastward_wind"].ancillary_variables.split() == [
            "eastward_wind_error", "consensus_count", "wind_snr", "wind_quality_flag"]
        assert nc["wind_time"].bounds == "wind_time_bnds"
        assert "time: median" in nc["eastward_wind"].cell_methods
    with xr.open_dataset(out) as ds:
        bounds = ds.wind_time_bnds.values
        assert ((bounds[:, 1] - bounds[:, 0]) == np.timedelta64(60, "s")).all()
        assert (ds.wind_time.values == bounds[:, 0] + np.timedelta64(30, "s")).all()
