"""The winds as WMO BUFR, decoded by ecCodes' own tools (bufr_dump, bufr_get,
bufr_compare) and compared with the NetCDF wind product of the same recording."""

import json
import os
import shutil
import subprocess

import numpy as np
import pytest

from zarvdata import bufr, winds
from zarvdata.geometry import Geometry

pytestmark = pytest.mark.skipif(not shutil.which("bufr_dump"),
                                reason="ecCodes' tools are not installed (libeccodes-tools)")
ENV = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), ".."))


def run_tool(module, *args):
    return subprocess.run(["/usr/bin/python3", "-m", module, *map(str, args)], env=ENV,
                          capture_output=True, text=True, timeout=300)


def decoded(path):
    """Each element of the message's data as bufr_dump gives it: key -> values in order."""
    dump = subprocess.run(["bufr_dump", "-jf", str(path)], capture_output=True, text=True,
                          check=True).stdout
    values = {}
    for element in json.loads(dump)["messages"]:
        values.setdefault(element["key"], []).append(element["value"])
    return values


def header(path, keys):
    out = subprocess.run(["bufr_get", "-p", ",".join(keys), str(path)], capture_output=True,
                         text=True, check=True).stdout.split()
    return dict(zip(keys, out))


@pytest.fixture(scope="module")
def products(atmospheres, tmp_path_factory):
    """zarv-bufr's messages and zarv-winds' NetCDF of the strong-echo recording."""
    out = tmp_path_factory.mktemp("bufr")
    result = run_tool("zarvdata.bufr", atmospheres["strong"], out / "messages")
    assert result.returncode == 0, result.stderr
    assert run_tool("zarvdata.winds", atmospheres["strong"], out / "winds.nc").returncode == 0
    return sorted((out / "messages").glob("*.bufr")), out / "winds.nc"


def missing_or(tolerance):
    return lambda got, want: (got is None) if not np.isfinite(want) else abs(got - want) <= tolerance


def test_every_period_decodes_to_the_netcdf_winds(products):
    import xarray as xr
    messages, netcdf = products
    with xr.open_dataset(netcdf) as ds:
        ends = ds.time_bnds.values[:, 1]
        good = (ds.wind_quality_flag.values == winds.GOOD).any(axis=1)
        assert len(messages) == good.sum() >= 2
        for path in messages:
            got = decoded(path)
            when = np.datetime64(f"{got['year'][0]:04d}-{got['month'][0]:02d}-"
                                 f"{got['day'][0]:02d}T{got['hour'][0]:02d}:"
                                 f"{got['minute'][0]:02d}", "ns")
            index = int(np.nonzero(ends == when)[0][0])
            period = ds.isel(time=index)
            assert got["timePeriod"] == [-1]  # minutes, ending at the message's time
            assert got["timeSignificance"] == [None, 2]
            assert got["height"] == list(np.rint(period.height.values + 380).astype(int))
            flags = period.wind_quality_flag.values
            for key, name, tolerance in (("u", "eastward_wind", 0.05),
                                         ("v", "northward_wind", 0.05),
                                         ("w", "upward_air_velocity", 0.005)):
                want = np.where(flags == winds.GOOD, period[name].values, np.nan)
                for value, truth in zip(got[key], want):
                    assert missing_or(tolerance)(value, truth), (key, got[key], want)
            quality = got["qualityInformation"]
            assert quality[0::2] == quality[1::2]
            assert all(q == 0 for q, f in zip(quality[0::2], flags) if f == winds.GOOD)


def test_the_station_survives_the_round_trip(products):
    messages, _ = products
    got = decoded(messages[0])
    assert (got["wigosIdentifierSeries"], got["wigosIssuerOfIdentifier"],
            got["wigosIssueNumber"], got["wigosLocalIdentifierCharacter"]) == (
        [0], [20000], [0], ["01010"])
    assert (got["blockNumber"], got["stationNumber"]) == ([1], [10])
    assert got["latitude"][0] == pytest.approx(69.2999, abs=1e-5)
    assert got["longitude"][0] == pytest.approx(-16.03125, abs=1e-4)
    assert got["heightOfStationGroundAboveMeanSeaLevel"] == [380]
    assert got["upperAirRemoteSensingInstrumentType"] == [3]
    assert got["meanFrequency"] == [pytest.approx(1290e6)]
    assert header(messages[0], ["edition", "dataCategory", "unexpandedDescriptors",
                                "masterTablesVersionNumber"]) == {
        "edition": "4", "dataCategory": "2", "unexpandedDescriptors": "309024",
        "masterTablesVersionNumber": "36"}


def test_ecCodes_finds_the_netcdf_values_in_the_message(products, tmp_path):
    """The NetCDF product read back and coded again is the message zarv-bufr
    wrote, by ecCodes' own comparison."""
    import xarray as xr
    messages, netcdf = products
    with xr.open_dataset(netcdf) as ds:
        geometry = Geometry(
            radar_frequency=float(ds.radar_frequency_hz), station_latitude=float(ds.latitude),
            station_longitude=float(ds.longitude), station_altitude=float(ds.altitude),
            wigos_id=ds.wigos_id)
        assert ds.station_name == "Andøya test"
        index = int(np.nonzero((ds.wind_quality_flag.values == winds.GOOD).any(axis=1))[0][0])
        again = bufr.write_period(ds.load(), index, geometry, tmp_path)
    original = [p for p in messages if p.name == os.path.basename(again)][0]
    result = subprocess.run(["bufr_compare", str(original), again], capture_output=True,
                            text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    # And the comparison does see a changed wind.
    changed = tmp_path / "changed.bufr"
    subprocess.run(["bufr_set", "-s", "unpack=1,#1#u=9.9,pack=1", again, str(changed)], check=True)
    assert subprocess.run(["bufr_compare", str(original), str(changed)],
                          capture_output=True).returncode != 0


def test_winds_flagged_anything_but_good_are_coded_missing(products, atmospheres, tmp_path):
    profiles, geometry = winds.profiles_and_geometry(atmospheres["strong"])
    index = int(np.nonzero((profiles.wind_quality_flag.values == winds.GOOD).any(axis=1))[0][0])
    flags = profiles.wind_quality_flag.values
    flags[index, :3] = [winds.CONTAMINATION_SUSPECTED, winds.CONSENSUS_FAILED, winds.GOOD]
    got = decoded(bufr.write_period(profiles, index, geometry, tmp_path))
    assert got["u"][:2] == [None, None] and got["v"][:2] == [None, None]
    assert got["w"][:2] == [None, None] and got["u"][2] is not None
    assert got["qualityInformation"][:6] == [1, 1, None, None, 0, 0]
    assert got["u"][2] == pytest.approx(profiles.eastward_wind.values[index, 2], abs=0.05)


def test_a_station_without_identity_or_position_is_refused(atmospheres, tmp_path):
    result = run_tool("zarvdata.bufr", atmospheres["weak"], tmp_path / "out")
    assert result.returncode == 1
    assert "no wigos_id, station_latitude, station_longitude, station_altitude" in result.stderr
    assert not (tmp_path / "out").exists()


def test_the_live_station_writes_the_same_messages_as_zarv_bufr(products, atmospheres):
    """bufr_dir in config.txt: the station wrote each period's message as it
    closed, from its live winds; ecCodes finds them zarv-bufr's, to one step of
    the coding (the live and the product's winds agree to well within it)."""
    messages, _ = products
    live = sorted((atmospheres["strong"].parent / "bufr").glob("*.bufr"))
    assert [p.name for p in live] == [p.name for p in messages]
    for ours, theirs in zip(live, messages):
        result = subprocess.run(["bufr_compare", "-A", "0.011", str(ours), str(theirs)],
                                capture_output=True, text=True)
        assert result.returncode == 0, result.stdout + result.stderr
