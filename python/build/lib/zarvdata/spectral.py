"""Doppler spectra and their moments, computed as the station's radar view does."""

import numpy as np

POINTS = 64  # values per spectrum, a power of two
BLOCKS = 4   # spectra averaged
_TINY = 1e-12


def _decibels(value):
    return 10.0 * np.log10(np.maximum(value, _TINY))


def bin_frequencies(points, period):
    """Bin i lies at (i - M/2) / (M T) hertz: bin 0 is -1/(2T)."""
    return (np.arange(points) - points // 2) / (points * period)


def spectra(records, period, points=POINTS, blocks=BLOCKS):
    """Every gate's Doppler power spectrum from records shaped (n, gates, 2).

    Hann-windowed FFTs of `points` values, averaged over up to `blocks` blocks
    ending with the last record, scaled so that a gate's bins add up to its
    mean power. Returns (frequencies in Hz, power shaped (gates, points));
    power has no rows' worth of bins when fewer than `points` records exist.
    """
    if points < 2 or points & (points - 1):
        raise ValueError("points must be a power of two")
    x = records[..., 0].astype(np.float64) + 1j * records[..., 1]
    used = min(blocks, x.shape[0] // points)
    freqs = bin_frequencies(points, period)
    if used < 1:
        return freqs, np.zeros((x.shape[1], 0))
    window = np.sin(np.pi * np.arange(points) / points) ** 2
    tail = x[x.shape[0] - used * points:].reshape(used, points, x.shape[1])
    spectrum = np.fft.fft(tail * window[None, :, None], axis=1)
    power = (np.abs(spectrum) ** 2).sum(axis=0) / (points * (window ** 2).sum() * used)
    return freqs, np.fft.fftshift(power, axes=0).T


def hildebrand_sekhon(power, blocks):
    """Noise level per bin: the mean of the largest set of lowest bins whose
    spread is no more than white noise averaged `blocks` times shows."""
    ordered = np.sort(power)
    n = np.arange(1, ordered.size + 1)
    mean = np.cumsum(ordered) / n
    variance = np.cumsum(ordered ** 2) / n - mean ** 2
    fits = np.nonzero(variance * max(blocks, 1) <= mean ** 2)[0]
    return mean[fits[-1]] if fits.size else ordered[0]


def _gate_moments(power, period, blocks):
    n = power.size
    noise = hildebrand_sekhon(power, blocks)
    peak = int(np.argmax(power))
    excess = power - noise
    above = excess > 0
    if not above.any():
        return noise, 0.0, np.nan, np.nan, np.nan, peak
    offsets = ((np.arange(n) - peak + n + n // 2) % n) - n // 2
    weights = excess[above]
    total = weights.sum()
    mean_offset = (weights * offsets[above]).sum() / total
    width = np.sqrt((weights * (offsets[above] - mean_offset) ** 2).sum() / total)
    bin_hz = 1.0 / (n * period)
    nyquist = n // 2 * bin_hz
    mean = (bin_frequencies(n, period)[peak] + mean_offset * bin_hz + nyquist) % (2 * nyquist)
    return noise, total, mean - nyquist, width * bin_hz, _decibels(total / max(noise * n, _TINY)), peak


def moments(power, period, blocks=BLOCKS):
    """Per gate, from spectra shaped (gates, points): the Hildebrand-Sekhon noise
    per bin, the signal power above it (linear and dB), SNR in dB, the mean
    Doppler frequency within +-1/(2T) and the spectral width in Hz, and the
    peak bin. Frequencies are taken about the peak, so an echo across the
    folding frequency keeps its mean and width. A dict of arrays."""
    power = np.atleast_2d(power)
    keys = ("noise", "power", "mean_hz", "width_hz", "snr_db", "peak_bin")
    rows = [_gate_moments(p, period, blocks) for p in power] if power.shape[1] else []
    out = {k: np.array([r[i] for r in rows], dtype=float) for i, k in enumerate(keys)}
    out["peak_bin"] = out["peak_bin"].astype(int)
    out["power_db"] = _decibels(out["power"])
    return out


def power_db(records):
    """Each gate's mean power 10 log10(mean(ip^2 + qp^2)) over the records."""
    values = records.astype(np.float64)
    return _decibels((values ** 2).sum(axis=2).mean(axis=0))
