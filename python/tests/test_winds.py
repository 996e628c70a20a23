"""Winds against a simulated atmosphere of known wind, with a least-squares solve
written here as the oracle for the retrieval's geometry."""

import os
import shutil
import subprocess

import numpy as np
import pytest

from cf_rules import cf_problems
from conftest import WIND, built
from zarvdata import spectral, winds

def oracle(radial, zenith, azimuth):
    """u, v, w from the normal equations, solved by Cramer's rule."""
    z, a = np.radians(zenith), np.radians(azimuth)
    rows = np.array([[np.sin(zi) * np.sin(ai), np.sin(zi) * np.cos(ai), np.cos(zi)]
                     for zi, ai in zip(z, a)])
    normal, right = rows.T @ rows, rows.T @ np.asarray(radial)
    det = np.linalg.det(normal)
    out = []
    for k in range(3):
        m = normal.copy()
        m[:, k] = right
        out.append(np.linalg.det(m) / det)
    return np.array(out)


def test_the_least_squares_agrees_with_the_oracle_for_any_beams():
    rng = np.random.default_rng(3)
    for beams in (3, 5):
        zenith = rng.uniform(5, 25, beams)
        zenith[0] = 0 if beams == 3 else zenith[0]
        azimuth = rng.uniform(0, 360, beams)
        truth = np.array([7.0, 2.5, -0.4])
        radial = winds.beam_matrix(zenith, azimuth) @ truth + rng.normal(0, 0.1, beams)
        wind, error = winds.solve_wind(radial, zenith, azimuth)
        assert np.allclose(wind, oracle(radial, zenith, azimuth), atol=1e-9)
        assert np.all(error > 0)
    # A beam without a consensus leaves two: no wind, rather than a wrong one.
    wind, _ = winds.solve_wind([1.0, np.nan, 2.0], [0, 15, 15], [0, 90, 0])
    assert np.isnan(wind).all()
    # Two beams along one line cannot tell u from v.
    wind, _ = winds.solve_wind([1.0, 1.0, 2.0], [0, 15, 15], [0, 90, 90])
    assert np.isnan(wind).all()


def test_the_consensus_keeps_the_largest_set_within_the_window():
    values = [2.0, 2.5, 1.8, 2.2, 14.0, -9.0, np.nan, 2.1]
    mean, count, error = winds.consensus(values, window=1.0, min_fraction=0.5)
    assert count == 5 and mean == 2.1  # the median of the five kept
    # The standard error of that mean: sqrt(0.268 / 4) / sqrt(5).
    assert error == pytest.approx(0.1157583690, rel=1e-9)
    # Two sets of two that share a value: the tighter one, whatever the order.
    for order in ([1.0, 1.9, 2.6], [2.6, 1.0, 1.9]):
        assert winds.consensus(order, window=1.0, min_fraction=0.5)[:2] == (pytest.approx(2.25), 2)
    # Two with nothing in common: a tie keeps neither, however low the fraction.
    for order in ([0.0, 0.9, 5.0, 5.2, 20.0], [5.2, 20.0, 0.9, 5.0, 0.0]):
        mean, count, _ = winds.consensus(order, window=1.0, min_fraction=0.2)
        assert np.isnan(mean) and count == 2
    # Half the votes is not more than half; nor is a bird's three against the air's three.
    mean, count, _ = winds.consensus([-9.6, 2.4, 2.5, 2.3, 30.0, -20.0], 4.0, 0.5)
    assert np.isnan(mean) and count == 3
    assert np.isnan(winds.consensus([-9.6, -9.5, -9.7, 2.4, 2.5, 2.3], 4.0, 0.4)[0])
    # One value alone: its mean, and no error to give.
    mean, count, error = winds.consensus([3.0], window=1.0, min_fraction=0.5)
    assert (mean, count) == (3.0, 1) and np.isnan(error)
    # Too few agree: no value, but the count says how many did.
    mean, count, _ = winds.consensus([1.0, 5.0, 9.0, np.nan], window=1.0, min_fraction=0.5)
    assert np.isnan(mean) and count == 1
    # The NaN of invalid moments counts against the fraction.
    mean, _, _ = winds.consensus([1.0, 1.1, np.nan, np.nan, np.nan], 1.0, 0.5)
    assert np.isnan(mean)
    assert np.isnan(winds.consensus([], 1.0, 0.5)[0])


def errors(ds):
    """Each component's error in the whole consensus periods (the run's first and
    last are cut short: a beam may have no dwell in them)."""
    return [np.abs(ds[name].values[1:-1] - truth)
            for name, truth in zip(("eastward_wind", "northward_wind", "upward_air_velocity"), WIND)]


def test_strong_echoes_give_the_wind_within_0_2_m_s_for_tilted_beams(atmospheres):
    ds = winds.wind_profiles(atmospheres["strong"])
    assert ds.time.size >= 2
    assert np.nanmin(ds.snr.values) >= 10
    for error in errors(ds):
        assert np.isfinite(error[:, 0]).all() and len(error) >= 2  # the lowest height
        assert np.nanmax(error) < 0.2
    assert ds.beam_zenith.values.tolist() == [8, 20, 20]


def test_echoes_at_0_db_give_the_wind_within_the_stated_bounds(atmospheres):
    ds = winds.wind_profiles(atmospheres["weak"])
    assert -7 < np.nanmedian(ds.snr.values) < 1
    u, v, w = errors(ds)
    assert np.isfinite(u[:, 0]).all() and len(u) >= 2
    assert np.nanmax(u) < 1.0 and np.nanmax(v) < 1.0 and np.nanmax(w) < 0.3


def test_the_consensus_rejects_outliers_that_a_plain_mean_keeps(atmospheres, monkeypatch):
    # The demo's window, and a fraction that a period with a few more aircraft
    # than usual keeps: an aircraft inside the window barely moves the median.
    with_consensus = winds.wind_profiles(atmospheres["outliers"], window=4.0, min_fraction=0.4)
    for kept in errors(with_consensus):
        assert np.isfinite(kept).mean() > 0.5  # the oblique beams never reach the top two
        assert np.nanmedian(kept) < 0.05 and np.nanmax(kept) < 0.5

    def plain_mean(values, window, min_fraction, total=None):
        values = np.asarray(values, dtype=float)
        finite = values[np.isfinite(values)]
        return (finite.mean() if finite.size else np.nan), finite.size, np.nan

    monkeypatch.setattr(winds, "consensus", plain_mean)
    plain = winds.wind_profiles(atmospheres["outliers"])
    assert max(np.nanmedian(e) for e in errors(plain)) > 1.0


def test_birds_in_half_the_gates_are_left_out_of_the_spectra(atmospheres, monkeypatch):
    ds = winds.wind_profiles(atmospheres["birds"])
    good = ds.wind_quality_flag.values[1:-1] == 0
    assert good.mean() > 0.5
    for error in errors(ds):
        assert np.nanmax(np.where(good, error, np.nan)) < 0.5
    # Some spectra were left out, most were kept.
    kept = ds.spectra_kept_fraction.values
    assert 0.6 < np.nanmean(kept) < 0.99
    # Without the rejection the birds decide many dwells' velocities.
    monkeypatch.setattr(spectral, "CLUTTER_RATIO", np.inf)
    unfiltered = winds.wind_profiles(atmospheres["birds"])
    good = unfiltered.wind_quality_flag.values[1:-1] == 0
    worst = max(np.nanmax(np.where(good, e, np.nan)) for e in errors(unfiltered))
    assert worst > 1.0 or good.mean() < 0.3


def test_a_missing_beam_gives_no_wind_rather_than_a_wrong_one(atmospheres, tmp_path):
    copy = tmp_path / "data"
    shutil.copytree(atmospheres["strong"], copy)
    for path in copy.rglob("*_beam2.txt"):
        path.unlink()
    ds = winds.wind_profiles(copy)
    assert np.isnan(ds.eastward_wind.values).all()
    assert (ds.consensus_count.sel(beam=2).values == 0).all()


def test_without_geometry_there_is_no_wind_and_the_tool_says_why(station, tmp_path, capsys):
    with pytest.raises(ValueError, match="no radar_frequency"):
        winds.wind_profiles(station / "data")
    assert winds.main([str(station / "data"), str(tmp_path / "w.nc")]) == 1
    assert "no winds: the dwell journals give no radar_frequency" in capsys.readouterr().err


def test_the_product_is_a_cf_time_series_profile_that_xarray_reads_back(atmospheres, tmp_path):
    netCDF4 = pytest.importorskip("netCDF4")
    import xarray as xr
    out = tmp_path / "winds.nc"
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), ".."))
    result = subprocess.run(["/usr/bin/python3", "-m", "zarvdata.winds", str(atmospheres["strong"]),
                             str(out), "--institution", "Test site"], env=env,
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    with netCDF4.Dataset(out) as nc:
        assert cf_problems(nc) == []
        assert nc.featureType == "timeSeriesProfile"
        assert nc["station"].cf_role == "timeseries_id"
        assert nc["wind_from_direction"].units == "degree"
        assert nc["height"].positive == "up"
    made = winds.wind_profiles(atmospheres["strong"])
    with xr.open_dataset(out) as back:
        assert np.array_equal(back.time.values, made.time.values)
        assert np.allclose(back.eastward_wind.values, made.eastward_wind.values, equal_nan=True)
        # The wind blows from the west-north-west: 5 m/s east, 3 m/s south.
        direction = back.wind_from_direction.values
        assert np.nanmax(np.abs(direction - (np.degrees(np.arctan2(-5, 3)) % 360))) < 3


def live_winds(data_dir):
    """What the live station's winds make of the recorded dwells, replayed in the
    order they were recorded: {(middle, height): (u, v, w, valid)}."""
    from zarvdata.dataset import geometry_of
    from zarvdata.reader import data_files, read
    from zarvdata.timing import record_times
    dwells = []
    for path in data_files(data_dir):
        starts, at = record_times(path, at="start"), 0
        for block, (_, records) in enumerate(read(path)):
            if records.shape[0]:
                dwells.append((starts[at], str(path), block))
            at += records.shape[0]
    dwells.sort()
    header = read(dwells[0][1])[0][0]
    g = geometry_of(dwells[0][1])
    c = g.consensus
    beams = " ".join(f"{g.zenith[b]} {g.azimuth[b]}" for b in (1, 2, 3))
    lines = [f"settings {g.radar_frequency} {header['Start time']} {header['Resolution']} "
             f"{g.range_offset} {beams} {c.get('consensus_period', 1800)} "
             f"{c.get('consensus_window', 4)} {c.get('consensus_min_fraction', 0.5)} "
             f"{g.snr_threshold if g.snr_threshold is not None else 'nan'} {g.dc_notch}"]
    lines += [f"dwell {path} {block} {np.datetime_as_string(t, unit='ms')}Z"
              for t, path, block in dwells]
    out = subprocess.run([built("ZARV_LIVE_WINDS", "live_winds")], input="\n".join(lines) + "\n",
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    result = {}
    for line in out.stdout.splitlines():
        middle, height, u, v, w, valid, *counts, flag = line.split()
        key = (np.datetime64(middle.removesuffix("Z"), "ms"), round(float(height), 1))
        result[key] = (float(u), float(v), float(w), valid == "1", [int(c) for c in counts],
                       int(flag))
    return result


@pytest.mark.parametrize("name", ["strong", "weak", "outliers", "birds"])
def test_the_live_window_and_the_product_agree_on_one_recording(atmospheres, name):
    live = live_winds(atmospheres[name])
    ds = winds.wind_profiles(atmospheres[name])
    compared = 0
    for t in ds.time.values:
        for h, height in enumerate(ds.height.values):
            key = (t.astype("datetime64[ms]"), round(float(height), 1))
            assert key in live, key
            u, v, w, valid, counts, flag = live[key]
            product = [float(ds[n].sel(time=t).values[h]) for n in
                       ("eastward_wind", "northward_wind", "upward_air_velocity")]
            assert valid == bool(np.isfinite(product).all()), (key, live[key], product)
            assert counts == ds.consensus_count.sel(time=t).values[h].tolist(), key
            assert flag == int(ds.wind_quality_flag.sel(time=t).values[h]), key
            if valid:
                assert np.allclose([u, v, w], product, atol=0.1), (key, live[key], product)
                compared += 1
    assert compared >= 10
    assert len(live) == ds.time.size * ds.height.size


def test_a_wind_unlike_its_neighbours_is_flagged_as_the_station_flags_it():
    # The numbers of the station's own test.
    wind = np.array([[5.0 + 0.5 * h, -3.0, 0.0] for h in range(7)])
    # A bird the consensus let through: 5.5 m/s off its neighbours' median,
    # where their own spread allows 2 + 3 x 1.11 = 5.3.
    wind[3, 0] = 12.0
    wind[5, 1] = -1.2  # 1.8 m/s off: within the limit
    flags = np.zeros(7, dtype=np.int8)
    winds.flag_discontinuities(wind, flags)
    assert flags.tolist() == [0, 0, 0, 3, 0, 0, 0]
    # 4 m/s off is more than 2, but within what the neighbours' spread allows.
    sheared, flags = wind.copy(), np.zeros(7, dtype=np.int8)
    sheared[3, 0] = 10.5
    winds.flag_discontinuities(sheared, flags)
    assert flags.tolist() == [0] * 7
    # Alone at the top, a wind is judged by the period before.
    before = wind.copy()
    wind[4:6] = np.nan
    wind[6, 1] = 3.0
    alone = np.zeros(7, dtype=np.int8)
    winds.flag_discontinuities(wind, alone)
    assert alone[6] == 0
    flags = np.zeros(7, dtype=np.int8)
    winds.flag_discontinuities(wind, flags, before)
    assert flags[6] == 3 and flags[3] == 3
    # Why a height has no wind.
    assert winds._windless_flag([2, 1, 0]) == winds.BELOW_THRESHOLD
    assert winds._windless_flag([0, 2, 0]) == winds.CONSENSUS_FAILED
    assert winds._windless_flag([2, 4, 1]) == winds.NOT_DETERMINED
