"""Doppler spectra and their moments, computed as the station's radar view does."""

import numpy as np

POINTS = 64  # values per spectrum, a power of two
BLOCKS = 4   # spectra averaged
SNR_THRESHOLD_DB = None  # moments below the threshold are not trusted: NaN; None: by the noise
_TINY = 1e-12
WINDOW_VARIANCE_BINS = 1 / 3  # a pure tone's spread through the Hann window


def default_snr_threshold(points, blocks):
    """The SNR (dB) below which moments are not trusted unless config.txt says:
    what noise alone exceeds in at most one spectrum in 100 for `points` points
    and `blocks` spectra averaged, as the station judges it. Noise's SNR falls 10 dB
    a decade of points and 5 a decade of spectra; the rest was measured on
    windowed noise spectra of 16 to 1024 points and 1 to 256 spectra."""
    n, k = max(points, 2), max(blocks, 1)
    many_points = 0.25 * max(0.0, np.log2(n / 64))
    few_points = 2.0 if points <= 16 else 0.0
    return float(-10 * np.log10(n) - 5 * np.log10(k) + 13.0 + 2.3 / np.sqrt(k) + many_points
                 + few_points)


def _decibels(value):
    return 10.0 * np.log10(np.maximum(value, _TINY))


def bin_frequencies(points, period):
    """Bin i lies at (i - M/2) / (M T) hertz: bin 0 is -1/(2T)."""
    return (np.arange(points) - points // 2) / (points * period)


class Spectra(tuple):
    """Every gate's Doppler power spectrum, with what made it.

    Unpacks as (frequencies in Hz, power shaped (gates, points)); carries
    `blocks`, the spectra actually averaged (fewer than asked when the records
    were short), and `period`, the record period in seconds, so that the
    moments apply the noise test that fits them."""

    def __new__(cls, frequencies, power, blocks, period):
        self = super().__new__(cls, (frequencies, power))
        self.frequencies, self.power, self.blocks, self.period = frequencies, power, blocks, period
        return self


def spectra(records, period, points=POINTS, blocks=BLOCKS):
    """Every gate's Doppler power spectrum from records shaped (n, gates, 2).

    Hann-windowed FFTs of `points` values, averaged over up to `blocks` blocks
    ending with the last record, scaled so that a gate's bins add up to its
    mean power. Returns Spectra; its power has no bins when fewer than `points`
    records exist.
    """
    if points < 2 or points & (points - 1):
        raise ValueError("points must be a power of two")
    x = records[..., 0].astype(np.float64) + 1j * records[..., 1]
    used = min(blocks, x.shape[0] // points)
    freqs = bin_frequencies(points, period)
    if used < 1:
        return Spectra(freqs, np.zeros((x.shape[1], 0)), 0, period)
    window = np.sin(np.pi * np.arange(points) / points) ** 2
    tail = x[x.shape[0] - used * points:].reshape(used, points, x.shape[1])
    spectrum = np.fft.fft(tail * window[None, :, None], axis=1)
    power = (np.abs(spectrum) ** 2).sum(axis=0) / (points * (window ** 2).sum() * used)
    return Spectra(freqs, np.fft.fftshift(power, axes=0).T, used, period)


MOST_STRETCHES = 16  # spectra of one dwell at most: the last ones
HISTORY = 16384  # records of a dwell the live station holds for its winds
CLUTTER_RATIO = 24.0  # a bin this far above its median over the dwell: a passing target
FEWEST_TO_JUDGE = 3  # fewer spectra have no median to judge by


def plan_stretches(dwell_records, held, points):
    """(first record used, stretches): the dwell's records cut into stretches of
    `points` counted from its first record, the last ones that the `held` newest
    records hold whole, MOST_STRETCHES at most."""
    full = dwell_records // points
    tail = dwell_records - full * points
    at_hand = (held - tail) // points if held > tail else 0
    stretches = min(full, at_hand, MOST_STRETCHES)
    return (full - stretches) * points, stretches


def stretch_spectra(records, period, points, first, stretches):
    """One Hann-windowed spectrum per stretch of `points` records from `first`,
    shaped (stretches, gates, points), each scaled as spectra() scales one block."""
    x = records[first:first + stretches * points, :, 0].astype(np.float64) + \
        1j * records[first:first + stretches * points, :, 1]
    window = np.sin(np.pi * np.arange(points) / points) ** 2
    x = x.reshape(stretches, points, x.shape[1])
    spectrum = np.fft.fft(x * window[None, :, None], axis=1)
    power = np.abs(spectrum) ** 2 / (points * (window ** 2).sum())
    return np.fft.fftshift(power, axes=1).transpose(0, 2, 1)


def without_intermittent_clutter(spectra):
    """The mean of each gate's spectra (shaped (stretches, gates, points)) without
    those a passing target dominates: any bin above CLUTTER_RATIO times that
    bin's median over the dwell's spectra. Noise and a steady echo reach that in
    about one bin in 2**24, a periodogram's bin being exponentially distributed
    about its mean. Returns (power (gates, points), NaN for a gate with nothing
    kept, and kept (gates,))."""
    count, gates, points = spectra.shape
    if count < FEWEST_TO_JUDGE:
        return spectra.mean(axis=0), np.full(gates, count)
    medians = np.median(spectra, axis=0)
    dominated = (spectra > CLUTTER_RATIO * medians[None]).any(axis=2)  # (stretches, gates)
    kept = (~dominated).sum(axis=0)
    total = np.where(dominated[..., None], 0.0, spectra).sum(axis=0)
    with np.errstate(invalid="ignore", divide="ignore"):
        power = total / kept[:, None]
    power[kept == 0] = np.nan
    return power, kept


def dwell_spectrum(records, period, points=POINTS, held=HISTORY):
    """One dwell's spectrum per gate as the station's live winds take it: every
    whole stretch of `points` (the last ones that `held` records hold), those a
    passing target dominates left out. A dict: power (gates, points), kept
    (gates,), stretches, first (the first record used) and middle_s (the middle
    of the records used, in seconds after the dwell's first record)."""
    first, stretches = plan_stretches(records.shape[0], min(held, records.shape[0]), points)
    gates = records.shape[1]
    if not stretches:
        return dict(power=np.zeros((gates, 0)), kept=np.zeros(gates, dtype=int), stretches=0,
                    first=first, middle_s=np.nan)
    power, kept = without_intermittent_clutter(
        stretch_spectra(records, period, points, first, stretches))
    return dict(power=power, kept=kept, stretches=stretches, first=first,
                middle_s=(first + stretches * points / 2) * period)


def dwell_moments(spectrum, period, snr_threshold=SNR_THRESHOLD_DB, dc_notch=0):
    """moments() of a dwell_spectrum, each gate with the spectra it kept."""
    power, kept = spectrum["power"], spectrum["kept"]
    gates = power.shape[0]
    out = {k: np.full(gates, np.nan) for k in ("noise", "power", "mean_hz", "width_hz",
                                                "snr_db")}
    for g in range(gates):
        if kept[g] and power.shape[1]:
            m = moments(power[g][None, :], period, int(kept[g]), snr_threshold, dc_notch)
            for key in out:
                out[key][g] = m[key][0]
    out["valid"] = np.isfinite(out["mean_hz"])
    return out


def hildebrand_sekhon(power, blocks):
    """Noise level per bin: the mean of the largest set of lowest bins whose
    spread is no more than white noise averaged `blocks` times shows."""
    ordered = np.sort(power)
    n = np.arange(1, ordered.size + 1)
    mean = np.cumsum(ordered) / n
    variance = np.cumsum(ordered ** 2) / n - mean ** 2
    fits = np.nonzero(variance * max(blocks, 1) <= mean ** 2)[0]
    return mean[fits[-1]] if fits.size else ordered[0]


def _notched(power, blocks, notch):
    """The spectrum with the bins within notch - 1 of 0 Hz set to the noise level
    of the others, and that level."""
    n = power.size
    if notch <= 0 or 2 * notch - 1 >= n:
        return power, hildebrand_sekhon(power, blocks)
    inside = np.abs(np.arange(n) - n // 2) < notch
    noise = hildebrand_sekhon(power[~inside], blocks)
    return np.where(inside, noise, power), noise


def _reach(power, peak, step, noise, room):
    reach = 0
    while reach < room and power[(peak + step * (reach + 1)) % power.size] > noise:
        reach += 1
    return reach


def _gate_moments(measured, period, blocks, notch):
    n = measured.size
    power, noise = _notched(measured, blocks, notch)
    peak = int(np.argmax(power))
    below = _reach(power, peak, -1, noise, n - 1)
    above = _reach(power, peak, +1, noise, n - 1 - below)
    offsets = np.arange(-below, above + 1)
    excess = power[(peak + offsets) % n] - noise
    keep = excess > 0
    weights, offsets = excess[keep], offsets[keep]
    total = weights.sum()
    snr = _decibels(total / max(noise * n, _TINY))
    if total <= 0:
        return noise, 0.0, np.nan, np.nan, snr, peak
    mean_offset = (weights * offsets).sum() / total
    # The Hann window alone spreads a pure tone over a variance of 1/3 bin^2,
    # wherever it falls between bins: that much of the spread is not the echo's.
    width = np.sqrt(max((weights * offsets ** 2).sum() / total - mean_offset ** 2
                        - WINDOW_VARIANCE_BINS, 0.0))
    bin_hz = 1.0 / (n * period)
    nyquist = n // 2 * bin_hz
    mean = (bin_frequencies(n, period)[peak] + mean_offset * bin_hz + nyquist) % (2 * nyquist)
    return noise, total, mean - nyquist, width * bin_hz, snr, peak


def moments(spectra, period=None, blocks=None, snr_threshold=SNR_THRESHOLD_DB, dc_notch=0):
    """Per gate, the moments of the echo region around each spectrum's peak (from
    the peak out to where the spectrum first meets the noise level on each side):
    noise (Hildebrand-Sekhon, per bin), power (the region's excess over it, and
    power_db), snr_db (that power over the noise of the whole band; negative for
    a weak echo), mean_hz (within +-1/(2T)), width_hz, peak_bin and valid.

    spectra: what spectra() returns, which knows its record period and the
    blocks it averaged; a bare array of power shaped (gates, points) needs both
    named. Below snr_threshold (dB; by default default_snr_threshold of the
    spectra's points and blocks) a gate is not valid and its mean and width are
    NaN. dc_notch k replaces the bins within k - 1 of 0 Hz by the noise
    level (ground clutter); 0 keeps them. A dict of arrays."""
    if isinstance(spectra, Spectra):
        if blocks is not None and blocks != spectra.blocks:
            raise ValueError(f"these spectra average {spectra.blocks} blocks, not {blocks}")
        if period is not None and period != spectra.period:
            raise ValueError(f"these spectra have a record period of {spectra.period} s")
        power, period, blocks = spectra.power, spectra.period, spectra.blocks
    else:
        if period is None or blocks is None:
            raise ValueError("bare power needs its record period and the blocks it averages")
        power = spectra
    power = np.atleast_2d(power)
    keys = ("noise", "power", "mean_hz", "width_hz", "snr_db", "peak_bin")
    rows = [_gate_moments(p, period, blocks, dc_notch) for p in power] if power.shape[1] else []
    out = {k: np.array([r[i] for r in rows], dtype=float) for i, k in enumerate(keys)}
    out["peak_bin"] = out["peak_bin"].astype(int)
    out["power_db"] = _decibels(out["power"])
    if snr_threshold is None:
        snr_threshold = default_snr_threshold(power.shape[1], blocks)
    out["threshold_db"] = float(snr_threshold)
    out["valid"] = (out["snr_db"] >= snr_threshold) & np.isfinite(out["mean_hz"])
    out["mean_hz"][~out["valid"]] = np.nan
    out["width_hz"][~out["valid"]] = np.nan
    return out


def power_db(records):
    """Each gate's mean power 10 log10(mean(ip^2 + qp^2)) over the records."""
    values = records.astype(np.float64)
    return _decibels((values ** 2).sum(axis=2).mean(axis=0))
