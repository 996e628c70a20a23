"""How far noise alone reaches in SNR, and the share of noise-only gates the
default threshold trusts, for the FFT sizes the station offers: complex white
noise through the station's own spectra (Hann window) and moments, 2000
spectra each (seeded: the same figures on every machine).

Usage: python3 bench/noise_threshold.py"""

import pathlib
import sys

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))

from zarvdata import spectral  # noqa: E402

SIZES = [(16, 1), (64, 1), (64, 4), (64, 16), (64, 64), (128, 8), (256, 16), (1024, 4)]
TRIALS = 2000


def noise_snr(rng, points, blocks):
    snr = np.empty(TRIALS)
    for t in range(TRIALS):
        noise = rng.normal(size=(points * blocks, 1, 2))
        s = spectral.spectra(noise, 0.01, points, blocks)
        snr[t] = spectral.moments(s)["snr_db"][0]
    return snr


def main():
    rng = np.random.default_rng(2026)
    print("FFT points x spectra | median SNR | 1 in 100 above | 1 in 1000 above | "
          "default threshold | noise trusted at it | at the old -10 dB")
    for points, blocks in SIZES:
        snr = noise_snr(rng, points, blocks)
        threshold = spectral.default_snr_threshold(points, blocks)
        print(f"{points} x {blocks} | {np.median(snr):.1f} dB | {np.percentile(snr, 99):.1f} dB | "
              f"{np.percentile(snr, 99.9):.1f} dB | {threshold:.1f} dB | "
              f"{100 * (snr >= threshold).mean():.2f} % | {100 * (snr >= -10).mean():.1f} %")
    return 0


if __name__ == "__main__":
    sys.exit(main())
