"""The Zarv station's data files in numpy: reading, Doppler spectra and moments."""

from .reader import read, record_period, series
from .spectral import (BLOCKS, POINTS, SNR_THRESHOLD_DB, Spectra, bin_frequencies, moments,
                       power_db, spectra)
from .timing import gaps, journal, record_times

__all__ = ["read", "record_period", "series", "spectra", "moments", "power_db",
           "bin_frequencies", "POINTS", "BLOCKS", "SNR_THRESHOLD_DB", "Spectra", "record_times", "journal", "gaps"]
__version__ = "1.0.0"
