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


IDENTITY = ("station_name", "wigos_id")  # the tests that need one give their own


def station_config():
    """The demo's settings without its radar geometry and winds: gates and hertz."""
    lines = (ROOT / "demo" / "config.txt").read_text().splitlines()
    kept = []
    for line in lines:
        key = line.split("=")[0].strip()
        if key in GEOMETRY or key in IDENTITY or key == "snr_threshold" \
                or key.startswith("consensus_"):
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


# Winds against a simulated atmosphere of known wind.
WIND = (5.0, -3.0, 0.2)
PERIOD = 60  # s: at least two whole consensus periods in a run of 190 s
# The winds need the data, not the station's timing: the simulated controller
# runs fast even where the other tests keep the wall clock's pace.
WIND_SPEED = "32"


def record(tmp_path_factory, name, noise, extra="", env_extra=None, dwell=2):
    directory = tmp_path_factory.mktemp(name)
    # Short dwells: ten of each beam in a period, so that one aircraft is outvoted.
    config = station_config().replace("dwell_time = 1.5", f"dwell_time = {dwell}")
    config = config.replace("gates = 30", "gates = 12")
    (directory / "config.txt").write_text(config + f"consensus_period = {PERIOD}\n" + extra,
                                          encoding="utf-8")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZARV_SIM_CLOCK="virtual",
               ZARV_SIM_SPEED=WIND_SPEED,
               ZARV_SIM_NOISE=str(noise), ZARV_SIM_WIND=",".join(map(str, WIND)),
               ZARV_SIM_FLASH=str(directory / "sim_flash.bin"), **(env_extra or {}))
    return directory, subprocess.Popen(
        [built("ZARV_SIM", "zarv-sim"), "--headless", "--duration", "190"], cwd=directory,
        env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


GEOMETRY_W = ("radar_frequency = 449e6\nbeam1_zenith = 0\nbeam1_azimuth = 0\n"
              "beam2_zenith = 15\nbeam2_azimuth = 90\nbeam3_zenith = 15\nbeam3_azimuth = 0\n")
TILTED = ("radar_frequency = 1290e6\nbeam1_zenith = 8\nbeam1_azimuth = 300\n"
          "beam2_zenith = 20\nbeam2_azimuth = 45\nbeam3_zenith = 20\nbeam3_azimuth = 160\n")
# Where the strong-echo station stands and who it is, for its products.
STATION = ("station_latitude = 69.2999\nstation_longitude = -16.03125\nstation_altitude = 380\n"
           "station_name = Andøya test\nwigos_id = 0-20000-0-01010\nbufr_dir = bufr\n")


@pytest.fixture(scope="session")
def atmospheres(tmp_path_factory):
    """Four stations recording at once: strong echoes with tilted beams, echoes at
    about 0 dB, strong echoes with aircraft, and with birds."""
    runs = {"strong": record(tmp_path_factory, "strong", 100, TILTED + STATION),
            "weak": record(tmp_path_factory, "weak", 700, GEOMETRY_W),
            "outliers": record(tmp_path_factory, "outliers", 100, GEOMETRY_W,
                               {"ZARV_SIM_OUTLIERS": "0.2"}),
            # Dwells of 6 s, nine spectra each: a bird of 1.3 s fills a few of them.
            "birds": record(tmp_path_factory, "birds", 100, GEOMETRY_W,
                            {"ZARV_SIM_BIRDS": "0.5"}, dwell=6)}
    for name, (_, process) in runs.items():
        out, _ = process.communicate(timeout=180)
        assert process.returncode == 0, name + out
    return {name: directory / "data" for name, (directory, _) in runs.items()}


