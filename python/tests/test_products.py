"""The products in physical units, on a recording made with the radar's geometry
in config.txt under another time zone: UTC times, range and velocity axes worked
out here from the geometry, CF rules checked here, and the quicklook looked at."""

import datetime
import warnings

import numpy as np
import pytest

import zarvdata
from cf_rules import cf_problems
from conftest import GATES, GEOMETRY, STATION_TZ
from zarvdata import convert, quicklook

C = 299792458.0
WAVELENGTH = C / float(GEOMETRY["radar_frequency"])


def trigger(path):
    return np.datetime64(zarvdata.journal(path)[0]["trigger_start"].rstrip("Z"), "ns")


def test_times_are_utc_although_the_station_kept_indian_time(geometry_files):
    for path in geometry_files:
        header = zarvdata.read(path)[0][0]
        entry = zarvdata.journal(path)[0]
        assert entry["time_zone"] == STATION_TZ and entry["utc_offset"] == "+05:30"
        # The file's stamp is local time, taken just before the relay wait, in whole seconds.
        local = zarvdata.timing.stamp_utc(header, STATION_TZ)
        lead = (trigger(path) - local) / np.timedelta64(1, "s")
        assert 0 <= lead < 3, lead
        times = zarvdata.open_dataset(path).time.values
        period = zarvdata.record_period(header)
        assert times[0] == trigger(path) + np.timedelta64(round(period * 5e8), "ns")
        assert zarvdata.record_times(path)[0] == trigger(path)


def test_without_a_journal_the_time_zone_is_asked_for(geometry_files, copy_of):
    path = copy_of(geometry_files[0])
    header = zarvdata.read(path)[0][0]
    with pytest.warns(UserWarning, match="no time zone given"):
        as_utc = zarvdata.record_times(path)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        kolkata = zarvdata.record_times(path, tz=STATION_TZ)
        offset = zarvdata.record_times(path, tz=datetime.timedelta(hours=5, minutes=30))
    assert as_utc[0] - kolkata[0] == np.timedelta64(330, "m")
    assert np.array_equal(kolkata, offset)
    stamp = datetime.datetime.strptime(header["Time Stamp"], "%Y%m%d%H%M%S")
    assert kolkata[0] == np.datetime64(stamp - datetime.timedelta(hours=5.5), "ns")


def test_range_height_and_beam_from_the_geometry(geometry_files):
    for path in geometry_files:
        header = zarvdata.read(path)[0][0]
        ds = zarvdata.open_dataset(path)
        gates = np.arange(1, GATES + 1)
        delay_ns = header["Start time"] + (gates - 1) * header["Resolution"] - 500
        assert np.allclose(ds.range.values, C * delay_ns * 1e-9 / 2)
        assert np.array_equal(ds.gate.values, gates)
        beam = header["Beam Direction"]
        assert (ds.beam.values == beam).all()
        zenith = float(GEOMETRY[f"beam{beam}_zenith"])
        assert np.allclose(ds.height.values[0], ds.range.values * np.cos(np.radians(zenith)))
        assert ds.ip.dims == ("time", "range")
        assert np.array_equal(ds.ip.values, zarvdata.read(path)[0][1][..., 0])


def test_radial_velocity_of_the_simulated_echo(geometry_files):
    """Gate g carries +2g Hz: an echo coming closer at lambda g m/s."""
    for path in geometry_files:
        m = zarvdata.moments_dataset(path)
        if not m.time.size:
            continue
        period = zarvdata.record_period(zarvdata.read(path)[0][0])
        gates = np.arange(1, GATES + 1)
        unfolded = 2 * gates < 1 / (2 * period) - 1
        expected = -WAVELENGTH * gates[unfolded]
        got = m.radial_velocity.values[:, unfolded]
        bin_velocity = WAVELENGTH / 2 / (zarvdata.POINTS * period)
        assert np.all(np.abs(got - expected) < bin_velocity), got - expected
        assert m.attrs["nyquist_velocity_m_s"] == pytest.approx(WAVELENGTH / (4 * period))
        assert (m.blocks.values <= zarvdata.BLOCKS).all() and (m.blocks.values >= 1).all()
        assert (m.quality_flag.values == 0).all()  # every echo trusted
        strict = zarvdata.moments_dataset(path, snr_threshold=60)
        assert np.isnan(strict.radial_velocity.values).all()
        assert np.isfinite(strict.snr.values).all()
        assert (strict.quality_flag.values == 1).all()  # below the threshold, and said so
        assert strict.quality_flag.attrs["flag_meanings"] == "good below_threshold not_determined"


def test_the_netcdf_keeps_the_cf_rules_and_opens_in_xarray(geometry_files, tmp_path):
    netCDF4 = pytest.importorskip("netCDF4")
    import xarray as xr
    path = geometry_files[1]
    out = tmp_path / "out.nc"
    assert convert.main([str(path), str(out), "--institution", "Test site"]) == 0
    with netCDF4.Dataset(out) as nc:
        assert cf_problems(nc) == []
        assert nc["radial_velocity"].units == "m s-1"
        assert nc["range"].units == "m"
        assert "Beam Direction = 2" in nc.zarv_header
        assert float(nc["latitude"][...]) == pytest.approx(69.3)
    samples = zarvdata.open_dataset(path)
    with xr.open_dataset(out) as back:
        assert np.abs(back.time.values - samples.time.values).max() <= np.timedelta64(1, "us")
        assert np.array_equal(back.ip.values, samples.ip.values)
        assert np.allclose(back.range.values, samples.range.values)
        moments = zarvdata.moments_dataset(path)
        assert np.abs(back.profile_time.values - moments.time.values).max() <= np.timedelta64(
            1, "us")
        assert np.allclose(back.radial_velocity.values, moments.radial_velocity.values,
                           equal_nan=True)


def test_without_geometry_the_netcdf_stays_in_gates_and_hertz(data_files, tmp_path):
    netCDF4 = pytest.importorskip("netCDF4")
    out = tmp_path / "plain.nc"
    assert convert.main([str(data_files[0]), str(out)]) == 0
    with netCDF4.Dataset(out) as nc:
        assert cf_problems(nc) == []
        assert nc["ip"].dimensions == ("time", "gate")
        assert "radial_velocity" not in nc.variables and nc["mean_doppler"].units == "Hz"


def test_the_cf_check_finds_what_it_looks_for(tmp_path):
    netCDF4 = pytest.importorskip("netCDF4")
    with netCDF4.Dataset(tmp_path / "bad.nc", "w") as nc:
        nc.createDimension("time", 2)
        time = nc.createVariable("time", "f8", ("time",), fill_value=-1.0)
        time.standard_name = "time"
        time.units = "seconds since 2026-12-08 12:00:00"
        nc.createVariable("ip", "i2", ("time",)).standard_name = "in_phase"
        nc.setncattr("Dwell time", 5)
    with netCDF4.Dataset(tmp_path / "bad.nc") as nc:
        problems = "\n".join(cf_problems(nc))
    for expected in ("no global title", "Conventions", "ip has no units", "'in_phase'",
                     "time has a _FillValue", "do not say UTC", "'Dwell time'"):
        assert expected in problems


def test_the_quicklook_is_in_utc_km_and_m_s_without_warnings(geometry_station, tmp_path):
    pytest.importorskip("matplotlib")
    import matplotlib.image
    with warnings.catch_warnings():
        warnings.simplefilter("error", RuntimeWarning)
        written = quicklook.quicklook(geometry_station / "data", tmp_path)
    hours = {str(t.astype("datetime64[h]")) for p in geometry_station.rglob("*_beam*.txt")
             for t in zarvdata.record_times(p)[[0, -1]]}
    assert [p[-14:-4] for p in written] == sorted(h.replace("-", "").replace("T", "")
                                                  for h in hours)
    picture = matplotlib.image.imread(written[0])
    assert picture.shape[0] > 700 and picture.shape[1] > 1100
    strip = picture[60:240, 60:600, :3]  # beam 1's range-time picture: not a blank
    assert strip.std() > 0.05
