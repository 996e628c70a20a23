"""A data file as an xarray Dataset: its samples (open_dataset) and the moments
of its Doppler spectra (moments_dataset), each time in UTC, range in metres and
velocity in m/s when the dwell journal knows the radar's geometry."""

import numpy as np

from .describe import SNR_ATTRS
from .geometry import Geometry
from .reader import read, record_period
from .spectral import BLOCKS, POINTS, default_snr_threshold, moments, spectra
from .timing import journal, record_times


def geometry_of(path, geometry=None):
    """The geometry to use for a data file: the one given, else its journal's."""
    if geometry is not None:
        return geometry
    entries = journal(path)
    if not entries:
        return Geometry()
    return Geometry.from_journal(entries[0].get("radar"), entries[0].get("station"))


def _gate_axis(header, gates, geometry):
    """The gate dimension's name and coordinates: range in metres when known."""
    numbers = np.arange(1, gates + 1)
    if not geometry.known:
        return "gate", {"gate": ("gate", numbers, {"long_name": "sample gate number",
                                                   "units": "1"})}
    ranges = geometry.gate_range(header, gates)
    coords = {"range": ("range", ranges, {"long_name": "distance from the radar along the beam",
                                          "units": "m"}),
              "gate": ("range", numbers, {"long_name": "sample gate number", "units": "1"})}
    return "range", coords


def _heights(ranges_dim, geometry, header, gates, beams):
    """Height above the radar for each record's beam, when every beam's zenith is known."""
    if ranges_dim != "range" or any(b not in geometry.zenith for b in set(beams)):
        return {}
    ranges = geometry.gate_range(header, gates)
    return {"height": (("time", "range"),
                       np.stack([geometry.height(ranges, b) for b in beams]) if len(beams)
                       else np.zeros((0, gates)),
                       {"standard_name": "height", "long_name": "height above the radar",
                        "units": "m"})}


def add_position(dataset, geometry):
    """Where the station stands, as CF scalar coordinates (in place of the
    station_* attributes)."""
    for name, value, standard, units in (
            ("latitude", geometry.station_latitude, "latitude", "degrees_north"),
            ("longitude", geometry.station_longitude, "longitude", "degrees_east"),
            ("altitude", geometry.station_altitude, "altitude", "m")):
        if value is not None:
            dataset.coords[name] = ((), float(value), {"standard_name": standard, "units": units})
            dataset.attrs.pop(f"station_{name}", None)


def _header_text(header):
    return "\n".join(f"{label} = {value}" for label, value in header.items())


def _blocks_of(path, blocks=None):
    blocks = read(path) if blocks is None else blocks
    gates = {records.shape[1] for _, records in blocks}
    if len(gates) > 1:
        raise ValueError(f"{path}: its blocks have different numbers of gates {sorted(gates)}")
    return blocks


def open_dataset(path, tz=None, geometry=None):
    """The records of a data file: ip and qp on (time, range or gate), time in UTC
    at the middle of each record's integration, the beam of each record, and
    range in metres (with height when the beams' zenith angles are known)."""
    import xarray as xr

    blocks = _blocks_of(path)
    header = blocks[0][0]
    geometry = geometry_of(path, geometry)
    records = np.concatenate([r for _, r in blocks])
    beams = np.concatenate([np.full(r.shape[0], h.get("Beam Direction", 0), dtype=np.int32)
                            for h, r in blocks])
    dim, coords = _gate_axis(header, records.shape[1], geometry)
    coords["time"] = ("time", record_times(path, tz=tz, at="middle", blocks=blocks),
                      {"standard_name": "time", "long_name": "UTC time, middle of the record"})
    coords["beam"] = ("time", beams, {"long_name": "beam direction of the record", "units": "1"})
    coords.update(_heights(dim, geometry, header, records.shape[1], beams))
    variables = {
        "ip": (("time", dim), records[..., 0], {"long_name": "in-phase average", "units": "1"}),
        "qp": (("time", dim), records[..., 1], {"long_name": "quadrature average", "units": "1"}),
    }
    return xr.Dataset(variables, coords=coords, attrs=_attributes(path, header, geometry))


def _attributes(path, header, geometry):
    attrs = {"record_period_s": record_period(header), "zarv_header": _header_text(header),
             "source": f"Zarv radar station data file {path}"}
    if geometry.known:
        attrs["radar_frequency_hz"] = geometry.radar_frequency
        attrs["range_offset_ns"] = geometry.range_offset
    for name in ("station_latitude", "station_longitude", "station_altitude"):
        if getattr(geometry, name) is not None:
            attrs[name] = getattr(geometry, name)
    return attrs


def _profiles(path, points, blocks, tz, file_blocks):
    """(time at the middle of the records used, beam, Spectra) for each stretch of
    points x blocks records of each dwell; a shorter last stretch of at least
    `points` records averages fewer blocks."""
    times = record_times(path, tz=tz, at="middle", blocks=file_blocks)
    start = 0
    for header, records in file_blocks:
        period = record_period(header)
        span = points * blocks
        for first in range(0, records.shape[0], span):
            part = records[first:first + span]
            s = spectra(part, period, points, blocks)
            if s.blocks:
                used = s.blocks * points
                middle = times[start + first + part.shape[0] - used:start + first + part.shape[0]]
                yield middle[0] + (middle[-1] - middle[0]) / 2, header.get("Beam Direction", 0), s
        start += records.shape[0]


# A moment's quality: trusted, below the SNR threshold, or no spectrum to tell.
MOMENT_FLAG_ATTRS = {"long_name": "quality of the moments",
                     "flag_values": np.array([0, 1, 4], dtype=np.int8),
                     "flag_meanings": "good below_threshold not_determined"}


def moment_flags(snr_db, mean_hz):
    """0 where the moments are trusted, 1 where the SNR is below the threshold, 4
    where there was no spectrum (the winds' flags use the same numbers)."""
    snr_db, mean_hz = np.asarray(snr_db), np.asarray(mean_hz)
    return np.where(np.isfinite(mean_hz), 0, np.where(np.isfinite(snr_db), 1, 4)).astype(np.int8)


def moments_dataset(path, points=POINTS, blocks=BLOCKS, snr_threshold=None, dc_notch=None,
                    tz=None, geometry=None, file_blocks=None):
    """The moments of a data file's Doppler spectra on (time, range or gate): power
    and noise (counts^2), snr (dB), mean_doppler and spectral_width (Hz), and
    radial_velocity (m/s) when the carrier is known; NaN where the SNR is below
    snr_threshold (the journal's, else default_snr_threshold of the points and the
    blocks averaged). One profile per
    points x blocks records of each dwell; `blocks` says how many each averaged.
    file_blocks: what read(path) gave, when the caller has it already."""
    import xarray as xr

    geometry = geometry_of(path, geometry)
    threshold = snr_threshold if snr_threshold is not None else geometry.snr_threshold
    notch = dc_notch if dc_notch is not None else geometry.dc_notch
    file_blocks = _blocks_of(path, file_blocks)
    rows = list(_profiles(path, points, blocks, tz, file_blocks))
    header = file_blocks[0][0]
    gates = header["Gates"]
    dim, coords = _gate_axis(header, gates, geometry)
    found = [moments(s, snr_threshold=threshold, dc_notch=notch) for _, _, s in rows]

    def stack(key):
        return np.stack([m[key] for m in found]) if found else np.zeros((0, gates))

    coords["time"] = ("time", np.array([t for t, _, _ in rows], dtype="datetime64[ns]"),
                      {"standard_name": "time", "long_name": "UTC time, middle of the spectra"})
    coords["beam"] = ("time", np.array([b for _, b, _ in rows], dtype=np.int32),
                      {"long_name": "beam direction", "units": "1"})
    coords.update(_heights(dim, geometry, header, gates, coords["beam"][1]))
    both = ("time", dim)
    variables = {
        "power": (both, stack("power"), {"long_name": "echo power above the noise",
                                         "units": "1"}),
        "noise": (both, stack("noise"), {"long_name": "noise level per Doppler bin",
                                         "units": "1"}),
        "snr": (both, stack("snr_db"), {"long_name": "echo power over the noise of the band",
                                        **SNR_ATTRS}),
        "mean_doppler": (both, stack("mean_hz"), {"long_name": "mean Doppler frequency",
                                                  "units": "Hz"}),
        "spectral_width": (both, stack("width_hz"), {"long_name": "Doppler spectral width",
                                                     "units": "Hz"}),
        "blocks": ("time", np.array([s.blocks for _, _, s in rows], dtype=np.int32),
                   {"long_name": "spectra averaged", "units": "1"}),
        "quality_flag": (both, moment_flags(stack("snr_db"), stack("mean_hz")), MOMENT_FLAG_ATTRS),
    }
    if geometry.known:
        variables["radial_velocity"] = (both, geometry.radial_velocity(stack("mean_hz")), {
            "standard_name": "radial_velocity_of_scatterers_away_from_instrument",
            "long_name": "radial velocity, positive away from the radar", "units": "m s-1"})
    attrs = _attributes(path, header, geometry)
    attrs.update(fft_points=points, snr_threshold_db=threshold if threshold is not None else
                 default_snr_threshold(points, blocks), dc_notch=notch)
    if geometry.known:
        attrs["nyquist_velocity_m_s"] = geometry.nyquist_velocity(record_period(header))
    return xr.Dataset(variables, coords=coords, attrs=attrs)
