"""What the moments make of Gaussian echoes of known width, SNR and mean, made
in the frequency domain here (as the tests make them) and measured with the
station's spectra and moments: the mean width and SNR read, and their biases,
at 128 points and 8 spectra of 10 ms records (bins of 0.78 Hz), 200 gates a
case (seeded: the same figures on every machine).

Usage: python3 bench/moment_biases.py"""

import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))

from zarvdata import spectral  # noqa: E402

PERIOD, NOISE, MEAN = 0.01, 100.0, 10.0
POINTS, BLOCKS, GATES = 128, 8, 200
CASES = [(0.5, 20), (0.5, 0), (2.0, 10), (2.0, 0), (2.0, -5), (8.0, 10), (8.0, 0), (8.0, -5)]


def echo(rng, count, snr_db, width):
    freqs = np.fft.fftfreq(count, PERIOD)
    offset = (freqs - MEAN + 0.5 / PERIOD) % (1 / PERIOD) - 0.5 / PERIOD
    shape = np.exp(-0.5 * (offset / width) ** 2)
    density = shape / shape.sum() * NOISE * 10 ** (snr_db / 10)
    phases = rng.normal(size=count) + 1j * rng.normal(size=count)
    signal = np.fft.ifft(np.sqrt(density / 2) * phases) * count
    noise = np.sqrt(NOISE / 2) * (rng.normal(size=count) + 1j * rng.normal(size=count))
    return signal + noise


def main():
    rng = np.random.default_rng(7)
    print(f"{POINTS} points x {BLOCKS} spectra, {GATES} gates a case")
    print("width | SNR | width read (mean) | width bias | SNR read (median) | SNR bias | "
          "trusted")
    for width, snr_db in CASES:
        x = np.stack([echo(rng, POINTS * BLOCKS, snr_db, width) for _ in range(GATES)], axis=1)
        records = np.stack([x.real, x.imag], axis=-1)
        m = spectral.moments(spectral.spectra(records, PERIOD, POINTS, BLOCKS), snr_threshold=-60)
        w = np.nanmean(m["width_hz"])
        snr = np.median(m["snr_db"])
        trusted = spectral.moments(spectral.spectra(records, PERIOD, POINTS, BLOCKS))["valid"]
        print(f"{width} Hz | {snr_db} dB | {w:.2f} Hz | {w - width:+.2f} Hz | {snr:.1f} dB | "
              f"{snr - snr_db:+.1f} dB | {100 * trusted.mean():.0f} %")
    return 0


if __name__ == "__main__":
    sys.exit(main())
