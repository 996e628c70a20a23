import datetime
import os
import subprocess
import sys

import numpy as np
import pytest

import zarvdata
from zarvdata import convert, quicklook


def run_module(module, *args):
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), ".."))
    return subprocess.run([sys.executable, "-m", module, *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=120)


def test_convert_round_trips_to_netcdf_and_npy(data_files, tmp_path):
    netCDF4 = pytest.importorskip("netCDF4")
    path = data_files[0]
    header, records = zarvdata.read(path)[0]
    result = run_module("zarvdata.convert", path, tmp_path / "out.nc")
    assert result.returncode == 0, result.stderr
    with netCDF4.Dataset(tmp_path / "out.nc") as nc:
        assert nc.dimensions["time"].size == records.shape[0]
        assert nc.dimensions["gate"].size == records.shape[1]
        assert np.array_equal(nc["ip"][:], records[..., 0])
        assert np.array_equal(nc["qp"][:], records[..., 1])
        assert nc["ip"].dtype == np.int16
        # Counted from the journal's trigger start, in UTC; each record at the
        # middle of its integration.
        trigger = zarvdata.journal(path)[0]["trigger_start"].rstrip("Z")
        assert nc["time"].units.startswith("seconds since " + trigger)
        assert nc["time"].units.endswith("+00:00")
        assert nc["time"][0] == pytest.approx(0.005)
        assert nc["time"][1] - nc["time"][0] == pytest.approx(0.01)
        for label, value in header.items():
            assert f"{label} = {value}" in nc.zarv_header
    assert convert.main([str(path), str(tmp_path / "out.npy")]) == 0
    assert np.array_equal(np.load(tmp_path / "out.npy"), records)


def test_convert_without_a_journal_takes_the_time_zone_it_is_given(data_files, tmp_path,
                                                                    copy_of):
    pytest.importorskip("netCDF4")
    import xarray as xr
    path = copy_of(data_files[0])
    header, records = zarvdata.read(path)[0]
    out = tmp_path / "out.nc"
    assert convert.main([str(path), str(out), "--tz", "America/St_Johns"]) == 0
    stamp = np.datetime64(datetime.datetime.strptime(header["Time Stamp"], "%Y%m%d%H%M%S"), "ns")
    with xr.open_dataset(out) as nc:  # Newfoundland: 3.5 h behind UTC in December
        assert nc.time.values[0] == stamp + np.timedelta64(210, "m") + np.timedelta64(5, "ms")
    assert convert.main([str(path), str(out), "--tz", "Nowhere/Atlantis"]) == 1


def test_convert_says_what_is_wrong(data_files, tmp_path, capsys):
    assert convert.main([str(data_files[0]), str(tmp_path / "out.csv")]) == 1
    assert "must end in .nc or .npy" in capsys.readouterr().err
    assert convert.main([str(tmp_path / "missing.txt"), str(tmp_path / "out.npy")]) == 1
    assert "missing.txt" in capsys.readouterr().err


def test_quicklook_draws_one_picture_per_hour(station, tmp_path):
    pytest.importorskip("matplotlib")
    result = run_module("zarvdata.quicklook", station / "data", tmp_path / "pictures")
    assert result.returncode == 0, result.stderr
    pictures = sorted((tmp_path / "pictures").glob("zarv-*.png"))
    hours = {p.name[:10] for p in (station / "data").rglob("*_beam*.txt")}
    assert [p.name for p in pictures] == [f"zarv-{h}.png" for h in sorted(hours)]
    for picture in pictures:
        data = picture.read_bytes()
        assert data.startswith(b"\x89PNG") and len(data) > 20000


def test_quicklook_refuses_an_empty_or_missing_directory(tmp_path, capsys):
    assert quicklook.main([str(tmp_path), str(tmp_path / "out")]) == 1
    assert "no data files" in capsys.readouterr().err
    assert quicklook.main([str(tmp_path / "missing"), str(tmp_path / "out")]) == 1


def test_quicklook_says_its_progress_draws_one_hour_when_asked_and_skips_what_it_made(
        station, tmp_path, capsys):
    pytest.importorskip("matplotlib")
    out = tmp_path / "pictures"
    assert quicklook.main([str(station / "data"), str(out)]) == 0
    pictures = sorted(out.glob("zarv-*.png"))
    first_run = capsys.readouterr().out.splitlines()
    assert [line.split()[0] for line in first_run] == [str(p) for p in pictures]
    assert first_run[-1].endswith(f"[{len(pictures)}/{len(pictures)}]")
    made = {p: p.stat().st_mtime_ns for p in pictures}
    assert quicklook.main([str(station / "data"), str(out)]) == 0
    assert all("unchanged, skipped" in line for line in capsys.readouterr().out.splitlines())
    assert {p: p.stat().st_mtime_ns for p in pictures} == made
    hour = pictures[0].name[5:15]
    assert quicklook.main([str(station / "data"), str(out), "--hour", hour, "--force"]) == 0
    again = capsys.readouterr().out.splitlines()
    assert len(again) == 1 and hour in again[0] and "skipped" not in again[0]
    assert quicklook.main([str(station / "data"), str(out), "--hour", "1999010100"]) == 1
    assert "no data files for hour 1999010100" in capsys.readouterr().err
