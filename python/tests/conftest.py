"""Data recorded by the station itself: zarv-sim --headless on the simulated
controller, whose gate g carries a tone of 2000 - 50 g counts at +2 g Hz."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))  # the package from this checkout
GATES = 30  # 2 g Hz passes 1/(2T) = 50 Hz from gate 26 on
POINTS = 64
BLOCKS = 2

# The demo station's settings, with more gates and shorter dwells.
# The simulated controller's time is virtual (ZARV_SIM_CLOCK=virtual): it moves
# only while the station waits for it, at up to this many times the wall clock,
# and the station keeps it: file names, the journal and --duration all follow.
# A loaded machine records the same dwells, only later.
SPEED = os.environ.get("ZARV_TEST_CLOCK_RATE", "8")
CHANGES = {"gates": str(GATES), "dwell_time": "1.5", "relay_swith_time": "10", "data_dir": "data"}


def station_config():
    """The demo's settings without its radar geometry and winds: gates and hertz."""
    lines = (ROOT / "demo" / "config.txt").read_text().splitlines()
    kept = []
    for line in lines:
        key = line.split("=")[0].strip()
        if key in GEOMETRY or key == "snr_threshold" or key.startswith("consensus_"):
            continue
        kept.append(f"{key} = {CHANGES[key]}" if key in CHANGES else line)
    return "\n".join(kept) + "\n"


def built(variable, name):
    path = os.environ.get(variable) or str(ROOT / "build" / "tests" / name)
    if not os.path.exists(path):
        path = str(ROOT / "build" / name)
    if not os.path.exists(path):
        pytest.skip(f"{name} is not built (scripts/build), nor named by {variable}")
    return path


@pytest.fixture(scope="session")
def station(tmp_path_factory):
    """A station directory after 5.6 s of the controller's time: one dwell of
    each beam, and a fourth cut short by --duration about 0.9 s into it."""
    directory = tmp_path_factory.mktemp("station")
    (directory / "config.txt").write_text(station_config())
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZARV_SIM_CLOCK="virtual",
               ZARV_SIM_SPEED=SPEED,
               ZARV_SIM_FLASH=str(directory / "sim_flash.bin"))
    result = subprocess.run([built("ZARV_SIM", "zarv-sim"), "--headless", "--duration", "5.6"],
                            cwd=directory, env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return directory


GEOMETRY = {"radar_frequency": "449e6", "range_offset": "500", "beam1_zenith": "0",
            "beam1_azimuth": "0", "beam2_zenith": "15", "beam2_azimuth": "90",
            "beam3_zenith": "15", "beam3_azimuth": "180", "station_latitude": "69.3",
            "station_longitude": "16.1", "station_altitude": "380"}
STATION_TZ = "Asia/Kolkata"


@pytest.fixture(scope="session")
def geometry_station(tmp_path_factory):
    """A station with its geometry in config.txt, recording in India's time zone
    with thermal noise on the simulated controller: one dwell of each beam."""
    directory = tmp_path_factory.mktemp("geometry")
    keys = "".join(f"{k} = {v}\n" for k, v in GEOMETRY.items())
    (directory / "config.txt").write_text(station_config() + keys)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZARV_SIM_CLOCK="virtual",
               ZARV_SIM_SPEED=SPEED, TZ=STATION_TZ,
               ZARV_SIM_NOISE="400", ZARV_SIM_FLASH=str(directory / "sim_flash.bin"))
    result = subprocess.run([built("ZARV_SIM", "zarv-sim"), "--headless", "--duration", "4.4"],
                            cwd=directory, env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return directory


@pytest.fixture(scope="session")
def geometry_files(geometry_station):
    files = sorted((geometry_station / "data").rglob("*_beam*.txt"))
    assert {p.name[-5] for p in files} >= {"1", "2", "3"}, files
    return files


@pytest.fixture(scope="session")
def data_files(station):
    files = sorted((station / "data").rglob("*_beam*.txt"))
    assert len(files) >= 3, files
    return files


@pytest.fixture(scope="session")
def full_dwells(data_files):
    """The files with enough records for every spectrum; the run's last dwell,
    cut short by --duration, may not have them."""
    files = [p for p in data_files if p.read_bytes().count(b"\n") - 21 >= POINTS * BLOCKS]
    assert len(files) >= 3, files
    return files


@pytest.fixture
def radar_numbers():
    return built("ZARV_RADAR_NUMBERS", "radar_numbers")


@pytest.fixture
def copy_of(tmp_path):
    def copy(path, name=None):
        target = tmp_path / (name or path.name)
        shutil.copyfile(path, target)
        return target
    return copy
