"""Record times from the dwell journal: every record at its UTC time, gaps kept
open, and data without a journal still placed."""

import json
import os
import subprocess

import numpy as np
import pytest

import zarvdata
from conftest import built, station_config


def test_every_record_of_a_steady_run_is_a_period_after_the_trigger(data_files):
    for path in data_files:
        [(header, records)] = zarvdata.read(path)
        times = zarvdata.record_times(path)
        [entry] = zarvdata.journal(path)
        assert times.dtype == np.dtype("datetime64[ns]")
        assert len(times) == records.shape[0] == entry["records_written"]
        assert times[0] == np.datetime64(entry["trigger_start"].rstrip("Z"), "ns")
        steps = np.diff(times).astype(np.int64)
        assert np.all(steps == round(zarvdata.record_period(header) * 1e9))
        assert entry["discontinuities"] == []


def test_a_gap_in_the_journal_is_kept_open(data_files, copy_of):
    path = copy_of(data_files[0])
    [(header, records)] = zarvdata.read(path)
    period = zarvdata.record_period(header)
    entry = zarvdata.journal(data_files[0])[0]
    entry["discontinuities"] = [{"record": 20, "missing": 300, "cause": "framing",
                                 "at": "2026-12-08T07:00:13.250Z"}]
    entry["trigger_start"] = "2026-12-08T07:00:10.000Z"
    (path.parent / "dwells.jsonl").write_text(json.dumps(entry) + "\n")
    times = zarvdata.record_times(path)
    assert times[19] == np.datetime64("2026-12-08T07:00:10", "ns") + np.timedelta64(
        round(19 * period * 1e9), "ns")
    assert times[20] == np.datetime64("2026-12-08T07:00:13.250", "ns")
    assert times[21] - times[20] == np.timedelta64(round(period * 1e9), "ns")
    [[gap]] = zarvdata.gaps(path)
    assert gap["missing"] == 300 and gap["record"] == 20


def test_data_without_a_journal_is_placed_from_its_time_stamp(data_files, copy_of):
    path = copy_of(data_files[0])
    [(header, records)] = zarvdata.read(path)
    with pytest.warns(UserWarning, match="no dwell journal"):
        times = zarvdata.record_times(path)
    stamp = header["Time Stamp"]
    assert str(times[0]).startswith(f"{stamp[:4]}-{stamp[4:6]}-{stamp[6:8]}T{stamp[8:10]}")
    assert len(times) == records.shape[0]


def waveform(frames, beam, gate, ipp_s):
    """The simulated controller's ip and qp of a gate at those frame numbers."""
    t = frames * ipp_s
    amplitude = 2000.0 - 50.0 * gate
    angle = 2 * np.pi * (2.0 * gate) * t + (beam - 1) * np.pi / 3
    return np.round(amplitude * np.cos(angle)), np.round(amplitude * np.sin(angle))


def test_a_stalled_reader_leaves_its_gap_in_place(tmp_path):
    """zarv-sim with its reader held up for 1.5 s: the records after the hole
    sit at their true time, to within 10 ms."""
    config = station_config()
    for key, value in {"ipp": "100", "integrations": "1", "gates": "8", "dwell_time": "3"}.items():
        config = "\n".join(f"{key} = {value}" if line.split("=")[0].strip() == key else line
                           for line in config.splitlines()) + "\n"
    (tmp_path / "config.txt").write_text(config)
    # The stall is the controller's own: on virtual time it holds the reader
    # for 1.5 s of the controller's time, whatever the machine's load.
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZARV_SIM_CLOCK="virtual",
               ZARV_SIM_SPEED=os.environ.get("ZARV_TEST_CLOCK_RATE", "8"),
               ZARV_SIM_FAULTS="stall-at=0.8,stall-for=1.5")
    result = subprocess.run([built("ZARV_SIM", "zarv-sim"), "--headless", "--duration", "3.3"],
                            cwd=tmp_path, env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "missing after record" in result.stdout
    path = sorted((tmp_path / "data").rglob("*_beam1.txt"))[0]
    [(header, records)] = zarvdata.read(path)
    times = zarvdata.record_times(path)
    [[gap]] = zarvdata.gaps(path)
    assert gap["missing"] > 5000
    jump = (times[gap["record"]] - times[gap["record"] - 1]).astype(np.int64) / 1e9
    assert jump == pytest.approx((gap["missing"] + 1) * 1e-4, abs=2e-3)
    # After the gap (the record that a framing error may have mixed left out),
    # each record holds the frame made at its time, give or take 10 ms.
    ipp_s = 1e-4
    trigger = np.datetime64(zarvdata.journal(path)[0]["trigger_start"].rstrip("Z"), "ns")
    after = np.arange(gap["record"] + 1, records.shape[0])
    frames = ((times[after] - trigger).astype(np.int64) / 1e9 / ipp_s).round()
    best = min(range(-100, 101), key=lambda d: np.abs(
        waveform(frames[:50] + d, 1, 3, ipp_s)[0] - records[after[:50], 2, 0]).sum())
    ip, qp = waveform(frames + best, 1, 3, ipp_s)
    assert np.array_equal(ip, records[after, 2, 0])
    assert np.array_equal(qp, records[after, 2, 1])
    assert abs(best) <= 100  # 10 ms of frames


def test_a_dwell_cut_by_a_kill_takes_the_stations_zone_from_its_nearest_journal_line(tmp_path):
    """zarv-sim killed with SIGKILL during a dwell, in a zone half an hour off
    whole hours: the cut dwell has no journal line and its file's time stamp is
    local time. Readers place it in the zone of the station's nearest journal
    line, not the machine's, and say so."""
    import signal
    import time

    from zarvdata.archive import open_archive

    (tmp_path / "config.txt").write_text(station_config())
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TZ="America/St_Johns",
               ZARV_SIM_CLOCK="virtual", ZARV_SIM_SPEED=os.environ.get("ZARV_TEST_CLOCK_RATE", "8"))
    process = subprocess.Popen([built("ZARV_SIM", "zarv-sim"), "--headless"], cwd=tmp_path,
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    data = tmp_path / "data"

    def cut_dwell_on_disk():
        lines = sum(len(p.read_text().splitlines()) for p in data.rglob("dwells.jsonl"))
        files = sorted(data.rglob("*_beam*.txt"))
        return lines >= 2 and len(files) > lines and files[-1].read_bytes().count(b"\n") > 30

    try:
        deadline = time.monotonic() + 60
        while not cut_dwell_on_disk() and time.monotonic() < deadline:
            time.sleep(0.005)
        process.send_signal(signal.SIGKILL)
        process.wait(timeout=10)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert cut_dwell_on_disk(), "no dwell without its journal line within 60 s"
    cut = sorted(data.rglob("*_beam*.txt"))[-1]
    with pytest.warns(UserWarning, match="nearest journal line"):
        times = zarvdata.record_times(cut)
    journaled = [p for p in sorted(data.rglob("*_beam*.txt")) if p != cut]
    last_end = max(zarvdata.record_times(p)[-1] for p in journaled)
    # The file's stamp counts whole seconds; the machine's zone would be 3.5 h off.
    assert abs((times[0] - last_end).astype(np.int64) / 1e9) < 3
    with pytest.warns(UserWarning, match=f"placed in the zone.*{cut.name}"):
        ds = open_archive(data)
    assert cut.name in ds.attrs["dwells_placed_by_nearest_journal_zone"]
    with pytest.warns(UserWarning, match="nearest journal line"):
        middles = zarvdata.record_times(cut, at="middle")
    assert np.isin(middles, ds.time.values).all()
