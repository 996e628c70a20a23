"""zarv-bufr DATA_DIR OUT_DIR: the station's consensus winds as WMO BUFR, one
edition 4 message per consensus period in a file of its own, for the Global
Telecommunication System.

Each message is data category 2 (vertical soundings other than satellite) and
follows the WMO common sequence 3 09 024, wind profiler data: it begins with
3 01 132 (the WIGOS station identifier, WMO block and station number, position
and height of the station, date and time, the instrument's type, a profile
identifier and the maker's model), then the carrier frequency, the averaging
(time averaged over the consensus period, ending at the message's time) and,
per height above sea level, its position, u and v with their quality, w with its
quality, and the vertical resolution. Winds the station flags as anything but
good are coded missing; a suspect wind's quality says so.

Encoded with ecCodes (Debian's python3-eccodes). The station's identity and
position come from the dwell journal (config.txt's wigos_id, station_latitude,
station_longitude and station_altitude), and a message needs all four."""

import argparse
import os
import sys

import numpy as np

SEQUENCE = 309024  # wind profiler data, with the WIGOS identifier
MASTER_TABLE_VERSION = 36  # the first to hold 3 09 024
DATA_CATEGORY = 2  # vertical soundings (other than satellite)
RADAR_WIND_PROFILER = 3  # code table 0 02 006
TIME_AVERAGED = 2  # code table 0 08 021
NOT_SUSPECT, SUSPECT = 0, 1  # code table 0 33 002
MISSING_CENTRE = 65535
MODEL = "Zarv"


def needs(geometry):
    """What the messages need that the journal does not give; empty when nothing."""
    wanted = {"wigos_id": geometry.wigos_id, "station_latitude": geometry.station_latitude,
              "station_longitude": geometry.station_longitude,
              "station_altitude": geometry.station_altitude}
    return [key for key, value in wanted.items() if value is None]


def wmo_numbers(wigos_id):
    """(block, station) of a WIGOS identifier made from a WMO station number
    (0-20000-0-BBSSS), else (None, None)."""
    series, issuer, issue, local = wigos_id.split("-")
    if (series, issuer, issue) == ("0", "20000", "0") and len(local) == 5 and local.isdigit():
        return int(local[:2]), int(local[2:])
    return None, None


def period_values(winds, index, geometry):
    """What one consensus period's message holds, as plain numbers: the time it
    ends, its length in minutes, and per height the height above sea level, u, v,
    w (NaN where missing) and the two qualities."""
    from .winds import GOOD, CONTAMINATION_SUSPECTED
    period = winds.isel(time=index)
    start, end = period.time_bnds.values
    flags = period.wind_quality_flag.values
    good = flags == GOOD
    quality = np.where(good, NOT_SUSPECT, np.where(flags == CONTAMINATION_SUSPECTED, SUSPECT, -1))

    def coded(name):
        return np.where(good, period[name].values, np.nan)

    heights = np.rint(period.height.values + float(geometry.station_altitude))
    return {"end": end, "minutes": int(round((end - start) / np.timedelta64(60, "s"))),
            "height": heights, "u": coded("eastward_wind"), "v": coded("northward_wind"),
            "w": coded("upward_air_velocity"), "quality": quality,
            "resolution": float(np.median(np.diff(period.height.values)))
            if period.height.size > 1 else np.nan}


def _set_header(handle, eccodes, values, levels, centre):
    end = values["end"].astype("datetime64[s]").astype(object)
    for key, value in (("edition", 4), ("masterTableNumber", 0), ("bufrHeaderCentre", centre),
                       ("bufrHeaderSubCentre", 0), ("updateSequenceNumber", 0),
                       ("dataCategory", DATA_CATEGORY), ("internationalDataSubCategory", 255),
                       ("dataSubCategory", 0),
                       ("masterTablesVersionNumber", MASTER_TABLE_VERSION),
                       ("localTablesVersionNumber", 0), ("typicalYear", end.year),
                       ("typicalMonth", end.month), ("typicalDay", end.day),
                       ("typicalHour", end.hour), ("typicalMinute", end.minute),
                       ("typicalSecond", end.second), ("numberOfSubsets", 1),
                       ("observedData", 1), ("compressedData", 0)):
        eccodes.codes_set(handle, key, value)
    eccodes.codes_set_array(handle, "inputExtendedDelayedDescriptorReplicationFactor", [levels])
    eccodes.codes_set(handle, "unexpandedDescriptors", SEQUENCE)
    return end


def _put(handle, eccodes, key, value):
    """A number, or missing where it is NaN."""
    if value is None or (isinstance(value, float) and not np.isfinite(value)):
        eccodes.codes_set_missing(handle, key)
    else:
        eccodes.codes_set(handle, key, value)


def _set_station(handle, eccodes, geometry, end, label):
    series, issuer, issue, local = geometry.wigos_id.split("-")
    block, number = wmo_numbers(geometry.wigos_id)
    for key, value in (("wigosIdentifierSeries", int(series)),
                       ("wigosIssuerOfIdentifier", int(issuer)),
                       ("wigosIssueNumber", int(issue)), ("wigosLocalIdentifierCharacter", local),
                       ("#1#latitude", float(geometry.station_latitude)),
                       ("#1#longitude", float(geometry.station_longitude)),
                       ("heightOfStationGroundAboveMeanSeaLevel",
                        float(geometry.station_altitude)),
                       ("year", end.year), ("month", end.month), ("day", end.day),
                       ("hour", end.hour), ("minute", end.minute),
                       ("upperAirRemoteSensingInstrumentType", RADAR_WIND_PROFILER),
                       ("uniqueIdentifierForProfile", label),
                       ("observingPlatformManufacturerModel", MODEL),
                       ("meanFrequency", float(geometry.radar_frequency)),
                       ("#2#timeSignificance", TIME_AVERAGED)):
        eccodes.codes_set(handle, key, value)
    _put(handle, eccodes, "blockNumber", block)
    _put(handle, eccodes, "stationNumber", number)
    eccodes.codes_set_missing(handle, "#1#timeSignificance")


def encode(values, geometry, centre=MISSING_CENTRE):
    """One period's message as bytes (see period_values)."""
    import eccodes

    levels = len(values["height"])
    handle = eccodes.codes_bufr_new_from_samples("BUFR4")
    try:
        end = _set_header(handle, eccodes, values, levels, centre)
        # Eight characters are all 0 01 079 holds: unique for a station within a year.
        _set_station(handle, eccodes, geometry, end, f"{end:%m%d%H%M}")
        eccodes.codes_set(handle, "timePeriod", -values["minutes"])
        for k in range(levels):
            n = k + 1
            eccodes.codes_set(handle, f"#{n}#height", int(values["height"][k]))
            eccodes.codes_set(handle, f"#{n + 1}#latitude", float(geometry.station_latitude))
            eccodes.codes_set(handle, f"#{n + 1}#longitude", float(geometry.station_longitude))
            for key, name in (("u", "u"), ("v", "v"), ("w", "w")):
                _put(handle, eccodes, f"#{n}#{key}", float(values[name][k]))
            for rank in (2 * k + 1, 2 * k + 2):
                quality = int(values["quality"][k])
                _put(handle, eccodes, f"#{rank}#qualityInformation",
                     quality if quality >= 0 else None)
            _put(handle, eccodes, f"#{n}#verticalResolution",
                 round(values["resolution"]) if np.isfinite(values["resolution"]) else None)
            eccodes.codes_set_missing(handle, f"#{n}#horizontalWidthOfSampledVolume")
        eccodes.codes_set(handle, "pack", 1)
        return eccodes.codes_get_message(handle)
    finally:
        eccodes.codes_release(handle)


def file_name(geometry, end):
    """zarv_<WIGOS identifier>_<yyyymmddHHMM>.bufr, by the time the period ends."""
    stamp = np.datetime64(end, "m").astype(object)
    return f"zarv_{geometry.wigos_id}_{stamp:%Y%m%d%H%M}.bufr"


def write_period(winds, index, geometry, out_dir, centre=MISSING_CENTRE):
    """The period's message written to OUT_DIR (through a temporary name, so that
    a forwarding service never takes half a file); its path, or None when the
    period has no good wind to send."""
    values = period_values(winds, index, geometry)
    if not np.isfinite(values["u"]).any():
        return None
    path = os.path.join(out_dir, file_name(geometry, values["end"]))
    part = path + ".part"
    with open(part, "wb") as f:
        f.write(encode(values, geometry, centre))
    os.replace(part, path)
    return path


def write_messages(data_dir, out_dir, centre=MISSING_CENTRE, say=print):
    """Every consensus period of the data directory with a good wind as a message
    in out_dir; the paths written. Raises ValueError saying what is missing."""
    from .winds import profiles_and_geometry

    winds, geometry = profiles_and_geometry(data_dir)
    missing = needs(geometry)
    if missing:
        raise ValueError(f"{data_dir}: the dwell journals give no {', '.join(missing)}: "
                         "set them in config.txt")
    os.makedirs(out_dir, exist_ok=True)
    written = []
    for index in range(winds.time.size):
        path = write_period(winds, index, geometry, out_dir, centre)
        if path:
            written.append(path)
            say(path)
    if not written:
        raise ValueError(f"{data_dir}: no consensus period has a good wind to send")
    return written


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zarv-bufr", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("data_dir", help="the station's data directory (data_dir of config.txt)")
    parser.add_argument("out_dir", help="where the messages go, made as needed")
    parser.add_argument("--centre", type=int, default=MISSING_CENTRE,
                        help="the originating centre (WMO common code table C-11); missing "
                             "when not given")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.data_dir):
        print(f"zarv-bufr: {args.data_dir}: no such directory", file=sys.stderr)
        return 1
    try:
        written = write_messages(args.data_dir, args.out_dir, args.centre,
                                 say=lambda line: print(line, flush=True))
    except ImportError as error:
        print(f"zarv-bufr: ecCodes is not installed (Debian: python3-eccodes): {error}",
              file=sys.stderr)
        return 1
    except (OSError, ValueError) as error:
        print(f"zarv-bufr: {error}", file=sys.stderr)
        return 1
    print(f"{len(written)} messages in {args.out_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
