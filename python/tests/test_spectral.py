import subprocess

import numpy as np
import pytest

import zarvdata
from zarvdata import spectral
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


def test_a_bird_in_two_of_eight_spectra_is_left_out_of_the_dwells_average():
    # Eight spectra of one gate's air, each a little different, as periodograms are.
    spectra = np.array([[1.0 + 0.1 * k] * 16 for k in range(8)])
    spectra[:, 10] += 5.0 + 0.3 * (np.arange(8) % 3)
    clean = spectra[[0, 1, 3, 4, 6, 7]].mean(axis=0)
    spectra[2, 3] += 400  # a bird passing through two of them
    spectra[5, 4] += 100
    power, kept = spectral.without_intermittent_clutter(spectra[:, None, :])
    assert kept.tolist() == [6]
    assert np.allclose(power[0], clean, rtol=0, atol=1e-12)
    # Just below the ratio a strong spectrum stays: the air's own spread.
    spectra[2, 3], spectra[5, 4] = 23.9 * 1.3, 1.5
    assert spectral.without_intermittent_clutter(spectra[:, None, :])[1].tolist() == [8]
    # Two spectra have no median to judge by; birds in every spectrum leave nothing.
    assert spectral.without_intermittent_clutter(spectra[:2, None, :])[1].tolist() == [2]
    birds = np.ones((3, 1, 4))
    for k in range(3):
        birds[k, 0, k] = 1000
    power, kept = spectral.without_intermittent_clutter(birds)
    assert kept.tolist() == [0] and np.isnan(power).all()


def test_a_dwells_stretches_count_from_its_first_record_and_fit_what_is_held():
    assert spectral.plan_stretches(300, 300, 64) == (0, 4)
    assert spectral.plan_stretches(20000, 16384, 64) == (18944, 16)
    assert spectral.plan_stretches(20000, 500, 64) == (19520, 7)
    assert spectral.plan_stretches(100000, 100000, 64)[1] == spectral.MOST_STRETCHES
    assert spectral.plan_stretches(63, 63, 64)[1] == 0
    # The spectrum of a dwell: its middle, and one spectrum per stretch.
    records = np.zeros((300, 2, 2), dtype=np.int16)
    records[:, 0, 0] = 100
    d = spectral.dwell_spectrum(records, 0.01)
    assert (d["stretches"], d["first"], d["kept"].tolist()) == (4, 0, [4, 4])
    assert d["middle_s"] == pytest.approx(1.28)
    assert d["power"][0].sum() == pytest.approx(100 ** 2)  # a gate's bins add up to its power
