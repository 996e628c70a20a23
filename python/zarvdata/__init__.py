"""The Zarv station's data files in numpy and xarray: reading, UTC times, Doppler
spectra and moments, physical axes."""

__version__ = "1.1.0"  # before the modules: they name it in their products

from .dataset import geometry_of, moments_dataset, open_dataset
from .geometry import SPEED_OF_LIGHT, Geometry
from .reader import read, record_period, series
from .spectral import (BLOCKS, POINTS, SNR_THRESHOLD_DB, Spectra, bin_frequencies,
                       default_snr_threshold, moments, power_db, spectra)
from .timing import gaps, journal, record_times

__all__ = ["read", "record_period", "series", "spectra", "moments", "power_db",
           "bin_frequencies", "POINTS", "BLOCKS", "SNR_THRESHOLD_DB", "default_snr_threshold",
           "Spectra",
           "record_times", "journal", "gaps", "open_dataset", "moments_dataset", "geometry_of",
           "Geometry", "SPEED_OF_LIGHT", "open_archive"]


def open_archive(data_dir, tz=None):
    """Every dwell under data_dir as one lazy xarray Dataset (see zarvdata.archive);
    imported when first used, so that python3 -m zarvdata.archive runs clean."""
    from .archive import open_archive as opened
    return opened(data_dir, tz)
