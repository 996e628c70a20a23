"""The radar in physical units. config.txt may give the carrier, the system delay,
each beam's direction and the station's position; the station keeps them in the
dwell journal (the "radar" object of each line), never in the data files.

Range r = c t / 2, t being a gate's delay after the pulse ("Start time" plus
(gate - 1) x "Resolution", in ns) less range_offset. Height z = r cos(zenith).
Radial velocity is positive away from the radar: an approaching echo has a
positive Doppler frequency f, so v = -lambda f / 2, lambda = c / radar_frequency.
The Nyquist velocity is lambda / (4 T) for record period T."""

import dataclasses

import numpy as np

SPEED_OF_LIGHT = 299792458.0  # m/s
BEAMS = (1, 2, 3)
CONSENSUS_KEYS = ("consensus_period", "consensus_window", "consensus_min_fraction")


@dataclasses.dataclass(frozen=True)
class Geometry:
    """What config.txt said of the radar; None where it said nothing."""

    radar_frequency: float = None  # Hz
    range_offset: float = 0.0  # ns
    zenith: dict = dataclasses.field(default_factory=dict)  # beam -> degrees
    azimuth: dict = dataclasses.field(default_factory=dict)  # beam -> degrees from north to east
    station_latitude: float = None
    station_longitude: float = None
    station_altitude: float = None
    snr_threshold: float = None  # dB
    dc_notch: int = 0
    consensus: dict = dataclasses.field(default_factory=dict)  # the consensus_* keys given
    station_name: str = None  # config.txt's station_name and wigos_id
    wigos_id: str = None

    @property
    def known(self):
        """Physical axes need the carrier; without it, gates and hertz."""
        return self.radar_frequency is not None

    @property
    def wavelength(self):
        return SPEED_OF_LIGHT / self.radar_frequency

    @classmethod
    def from_journal(cls, radar, station=None):
        """From a journal line's "radar" and "station" objects (config.txt's key
        names)."""
        radar, station = radar or {}, station or {}
        return cls(radar_frequency=radar.get("radar_frequency"),
                   range_offset=radar.get("range_offset", 0.0),
                   zenith={b: radar[f"beam{b}_zenith"] for b in BEAMS if f"beam{b}_zenith" in radar},
                   azimuth={b: radar[f"beam{b}_azimuth"] for b in BEAMS
                            if f"beam{b}_azimuth" in radar},
                   station_latitude=radar.get("station_latitude"),
                   station_longitude=radar.get("station_longitude"),
                   station_altitude=radar.get("station_altitude"),
                   snr_threshold=radar.get("snr_threshold"),
                   dc_notch=int(radar.get("dc_notch", 0)),
                   consensus={k: radar[k] for k in CONSENSUS_KEYS if k in radar},
                   station_name=station.get("name"), wigos_id=station.get("wigos_id"))

    def gate_range(self, header, gates=None):
        """Each gate's range in metres, from the data file's header."""
        gates = np.arange(1, (gates or header["Gates"]) + 1)
        delay_ns = header["Start time"] + (gates - 1) * header["Resolution"] - self.range_offset
        return SPEED_OF_LIGHT * delay_ns * 1e-9 / 2

    def height(self, ranges, beam):
        """Height above the radar along the beam; None when its zenith is unknown."""
        if beam not in self.zenith:
            return None
        return np.asarray(ranges) * np.cos(np.radians(self.zenith[beam]))

    def radial_velocity(self, doppler_hz):
        return -self.wavelength * np.asarray(doppler_hz) / 2

    def nyquist_velocity(self, period):
        return self.wavelength / (4 * period)
