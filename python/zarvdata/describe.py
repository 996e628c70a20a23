"""What every NetCDF product of the station says of itself: which station it is,
where it stands, how its beams point and what it transmits, with CF's global
attributes. zarv-convert, zarv-winds and zarv-archive all describe their files
from here, through xarray (describe_dataset) or netCDF4 (describe_netcdf)."""

import datetime

import numpy as np

from . import __version__
from .geometry import BEAMS

# SNR in decibels has no unit udunits parses: the values are dimensionless, the
# scale is said in words.
SNR_ATTRS = {"units": "1", "comment": "in decibels: 10 log10 of the power ratio"}


def global_attributes(tool, title, source, institution, geometry, inputs="", feature_type=None):
    """Conventions, title, institution, source, history, the station's identity and
    the carrier, as the global attributes of a product."""
    now = datetime.datetime.now(datetime.timezone.utc)
    attrs = {"Conventions": "CF-1.8", "title": title, "institution": institution,
             "source": source,
             "history": f"{now:%Y-%m-%dT%H:%M:%SZ} {tool} {__version__}"
                        + (f": {inputs}" if inputs else "")}
    if geometry.station_name:
        attrs["station_name"] = geometry.station_name
    if geometry.wigos_id:
        attrs["wigos_id"] = geometry.wigos_id
    if geometry.known:
        attrs["radar_frequency_hz"] = float(geometry.radar_frequency)
        attrs["range_offset_ns"] = float(geometry.range_offset)
    if feature_type:
        attrs["featureType"] = feature_type
    return attrs


def station_label(geometry):
    """What names the station in a file: its WIGOS identifier, else its name."""
    return geometry.wigos_id or geometry.station_name or "zarv"


def position(geometry):
    """(name, value, attributes) of each of latitude, longitude and altitude that
    config.txt gave."""
    found = []
    for name, value, standard, units in (
            ("latitude", geometry.station_latitude, "latitude", "degrees_north"),
            ("longitude", geometry.station_longitude, "longitude", "degrees_east"),
            ("altitude", geometry.station_altitude, "altitude", "m")):
        if value is not None:
            found.append((name, float(value), {"standard_name": standard, "units": units}))
    return found


def beam_directions(geometry):
    """(name, values per beam 1..3, attributes) of the beams' zenith and azimuth,
    when config.txt gave every one of them."""
    if any(b not in geometry.zenith or b not in geometry.azimuth for b in BEAMS):
        return []
    return [("beam_zenith", [float(geometry.zenith[b]) for b in BEAMS],
             {"long_name": "beam angle from the vertical", "units": "degree"}),
            ("beam_azimuth", [float(geometry.azimuth[b]) for b in BEAMS],
             {"long_name": "beam azimuth from north towards east", "units": "degree"})]


STATION_ATTRS = {"cf_role": "timeseries_id", "long_name": "station (WIGOS identifier when known)"}
BEAM_ATTRS = {"long_name": "beam direction", "units": "1"}


def describe_dataset(ds, beam_dim, **attributes):
    """The description added to an xarray Dataset in place: global attributes
    (see global_attributes), the position as scalar coordinates, the station's
    label, and the beams' directions on beam_dim (made when missing)."""
    geometry = attributes["geometry"]
    ds.attrs.update(global_attributes(**attributes))
    for name, value, attrs in position(geometry):
        ds.coords[name] = ((), value, attrs)
        ds.attrs.pop(f"station_{name}", None)
    ds.coords["station"] = ((), station_label(geometry), STATION_ATTRS)
    for name, values, attrs in beam_directions(geometry):
        if beam_dim not in ds.coords:
            ds.coords[beam_dim] = (beam_dim, np.array(BEAMS, dtype=np.int32), BEAM_ATTRS)
        ds[name] = (beam_dim, values, attrs)
    return ds


def describe_netcdf(nc, beam_dim, **attributes):
    """The same description written into an open netCDF4 Dataset; returns the
    names of the scalar coordinates, for the data variables' coordinates."""
    geometry = attributes["geometry"]
    nc.setncatts(global_attributes(**attributes))
    scalars = []
    for name, value, attrs in position(geometry):
        var = nc.createVariable(name, "f8", ())
        var.setncatts(attrs)
        var.assignValue(value)
        scalars.append(name)
    var = nc.createVariable("station", str, ())
    var.setncatts(STATION_ATTRS)
    var[0] = station_label(geometry)
    scalars.append("station")
    directions = beam_directions(geometry)
    if directions and beam_dim not in nc.dimensions:
        nc.createDimension(beam_dim, len(BEAMS))
        var = nc.createVariable(beam_dim, "i4", (beam_dim,))
        var.setncatts(BEAM_ATTRS)
        var[:] = BEAMS
    for name, values, attrs in directions:
        var = nc.createVariable(name, "f8", (beam_dim,))
        var.setncatts({**attrs, "coordinates": " ".join(scalars)})
        var[:] = values
    return scalars
