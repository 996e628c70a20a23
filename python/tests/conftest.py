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
# The simulated controller's time runs this many times the wall clock, and the
# station keeps it: file names, the journal and --duration all follow. The
# sanitizer builds set ZARV_TEST_CLOCK_RATE=1.
SPEED = os.environ.get("ZARV_TEST_CLOCK_RATE", "8")
CHANGES = {"gates": str(GATES), "dwell_time": "1.5", "relay_swith_time": "10", "data_dir": "data"}


def station_config():
    lines = (ROOT / "demo" / "config.txt").read_text().splitlines()
    for i, line in enumerate(lines):
        key = line.split("=")[0].strip()
        if key in CHANGES:
            lines[i] = f"{key} = {CHANGES[key]}"
    return "\n".join(lines) + "\n"


def built(variable, name):
    path = os.environ.get(variable) or str(ROOT / "build" / "tests" / name)
    if not os.path.exists(path):
        path = str(ROOT / "build" / name)
    if not os.path.exists(path):
        pytest.skip(f"{name} is not built (scripts/build), nor named by {variable}")
    return path


@pytest.fixture(scope="session")
def station(tmp_path_factory):
    """A station directory after 5.6 s of recording: one dwell of each beam, and
    a fourth cut short by --duration about 0.9 s into it, so that it holds
    records however late its start."""
    directory = tmp_path_factory.mktemp("station")
    (directory / "config.txt").write_text(station_config())
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZARV_SIM_SPEED=SPEED,
               ZARV_SIM_FLASH=str(directory / "sim_flash.bin"))
    result = subprocess.run([built("ZARV_SIM", "zarv-sim"), "--headless", "--duration", "5.6"],
                            cwd=directory, env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return directory


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
