import subprocess

import numpy as np
import pytest

import zarvdata
from conftest import BLOCKS, GATES, POINTS


def folded(hz, period):
    span = 1 / period
    return hz - span * np.floor(hz / span + 0.5)


def averaging_gain(hz, n, tau):
    return np.abs(np.sin(np.pi * hz * n * tau) / (n * np.sin(np.pi * hz * tau)))


def expected_db(g):
    amplitude = (2000 - 50 * g) * averaging_gain(2.0 * g, 10, 1e-3)
    return 10 * np.log10(amplitude ** 2)


def test_each_gate_shows_the_simulated_echo(full_dwells):
    beams = set()
    for path in full_dwells:
        header, records = zarvdata.read(path)[0]
        period = zarvdata.record_period(header)
        freqs, power = zarvdata.spectra(records, period, POINTS, BLOCKS)
        assert power.shape == (GATES, POINTS)
        m = zarvdata.moments(zarvdata.Spectra(freqs, power, BLOCKS, period))
        bin_hz = 1 / (POINTS * period)
        gates = np.arange(1, GATES + 1)
        target = folded(2.0 * gates, period)
        distance = np.abs(np.argmax(power, axis=1) - (np.round(target / bin_hz) + POINTS // 2))
        assert np.all(np.minimum(distance, POINTS - distance) <= 1), path
        assert np.all(np.abs(m["mean_hz"] - target) <= bin_hz / 2), (path, m["mean_hz"] - target)
        assert np.allclose(m["power_db"], expected_db(gates), atol=0.1)
        assert np.allclose(zarvdata.power_db(records), expected_db(gates), atol=0.1)
        assert np.all(m["snr_db"] > 30)
        assert freqs[0] == pytest.approx(-1 / (2 * period))
        beams.add(header["Beam Direction"])
    assert beams == {1, 2, 3}


def view_numbers(radar_numbers, path, *args):
    out = subprocess.run([radar_numbers, str(path), *map(str, args)],
                         capture_output=True, text=True, check=True).stdout
    return np.array([[float(v) for v in line.split()] for line in out.splitlines()])


def test_the_numbers_agree_with_the_radar_views(data_files, radar_numbers):
    """Every dwell, the short last one too: Python uses the blocks its spectra
    averaged, as the view does, and marks the same gates invalid."""
    for path in data_files:
        view = view_numbers(radar_numbers, path, POINTS, BLOCKS, 20)
        header, records = zarvdata.read(path)[0]
        period = zarvdata.record_period(header)
        s = zarvdata.spectra(records, period, POINTS, BLOCKS)
        if not s.blocks:
            assert np.all(view[:, 10] == 0)
            continue
        m = zarvdata.moments(s, snr_threshold=20)
        assert view.shape == (GATES, 11)
        assert np.all(view[:, 10] == s.blocks)
        assert np.allclose(view[:, 2], m["power_db"], atol=0.01)
        assert np.allclose(view[:, 3], m["snr_db"], atol=0.01)
        assert np.array_equal(view[:, 9].astype(bool), m["valid"])
        valid = m["valid"]
        assert np.allclose(view[valid, 4], m["mean_hz"][valid], atol=0.01)
        assert np.allclose(view[valid, 5], m["width_hz"][valid], atol=0.01)
        assert np.all(np.isnan(m["mean_hz"][~valid]))
        assert np.array_equal(view[:, 7].astype(int), m["peak_bin"])
        assert np.allclose(view[:, 8], zarvdata.power_db(records), atol=0.01)


def test_too_few_records_give_no_spectrum_and_points_must_be_a_power_of_two():
    records = np.zeros((10, 3, 2), dtype=np.int16)
    freqs, power = zarvdata.spectra(records, 0.01, 16, 4)
    assert power.shape == (3, 0) and freqs.size == 16
    assert zarvdata.moments(zarvdata.spectra(records, 0.01, 16, 4))["mean_hz"].size == 0
    with pytest.raises(ValueError):
        zarvdata.spectra(records, 0.01, 12)


def test_an_echo_across_the_folding_frequency_keeps_its_mean():
    n = np.arange(512)
    x = 1000 * (np.exp(2j * np.pi * 49.2 * n * 0.01) + np.exp(-2j * np.pi * 49.2 * n * 0.01 + 1j))
    records = np.stack([x.real, x.imag], axis=-1)[:, None, :].round().astype(np.int16)
    m = zarvdata.moments(zarvdata.spectra(records, 0.01, 128, 4))
    assert abs(abs(m["mean_hz"][0]) - 50) < 0.5
    assert m["width_hz"][0] < 2
