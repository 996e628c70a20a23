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


@pytest.mark.parametrize("module", ["zarvdata.quicklook", "zarvdata.winds", "zarvdata.archive",
                                    "zarvdata.bufr"])
def test_no_tool_succeeds_on_an_empty_or_missing_directory(module, tmp_path):
    (tmp_path / "empty").mkdir()
    for data in ("empty", "missing"):
        result = run_module(module, tmp_path / data, tmp_path / "out")
        assert result.returncode == 1, (data, result.stdout, result.stderr)
        assert ("no data files" if data == "empty" else "no such directory") in result.stderr
        assert not (tmp_path / "out").exists()


def test_convert_refuses_a_file_without_records(data_files, tmp_path):
    header_only = tmp_path / "header.txt"
    header_only.write_bytes(b"".join(data_files[0].read_bytes().splitlines(True)[:21]))
    for out in ("out.nc", "out.npy"):
        result = run_module("zarvdata.convert", header_only, tmp_path / out)
        assert result.returncode == 1 and "holds no records" in result.stderr, result.stderr
        assert not (tmp_path / out).exists()


def test_the_time_ticks_are_regular_round_times():
    pytest.importorskip("matplotlib")
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.dates as mdates
    import matplotlib.pyplot as plt
    start = np.datetime64("2026-12-09T10:03:17", "s")
    for seconds, step in ((40, 5), (170, 30), (1000, 300), (3599, 600)):
        figure, axes = plt.subplots()
        quicklook.time_axis(axes, (start, start + np.timedelta64(seconds, "s")), mdates)
        ticks = np.array(axes.get_xticks()) * 86400  # days to seconds
        gaps = np.diff(ticks)
        plt.close(figure)
        assert 2 <= len(ticks) <= quicklook.MOST_TICKS + 1, (seconds, ticks)
        assert np.allclose(gaps, gaps[0], atol=1e-3) and abs(gaps[0] - step) < 1e-3, (seconds, gaps)
        assert np.allclose(np.round(ticks) % step, 0, atol=1e-3)


def test_the_latest_profile_drawn_is_the_last_with_winds():
    import xarray as xr
    speed = np.full((4, 3), np.nan)
    speed[1, 2] = 4.0
    speed[2, 0] = 6.0  # the last period, 3, has no wind at any height
    winds = xr.Dataset({"wind_speed": (("time", "height"), speed)})
    assert quicklook.latest_with_winds(winds) == 2
    assert quicklook.latest_with_winds(winds.isel(time=[0, 3])) is None


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
