"""The station as a screen reader meets it: zarv-sim on an X server, read over
AT-SPI. Every value in the main window, About, the graph (its newest values
too), the radar view and the winds (the latest profile once a run has ended)
is read with what it is; the views are windows; Tab leaves the operator log;
Escape closes a view.

Usage (in a session bus and an X server, as accessibility.sh starts it):
    /usr/bin/python3 atspi_check.py <zarv-sim> <config.txt to start from>
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

BOUND_S = 20.0


class Failure(Exception):
    pass


def wait_for(what, probe, bound_s=BOUND_S):
    """The probe's first true answer within the bound, or a Failure naming what."""
    deadline = time.monotonic() + bound_s
    while time.monotonic() < deadline:
        try:
            answer = probe()
        except gi.repository.GLib.Error:
            answer = None  # the object went while we read it: read again
        if answer:
            return answer
        time.sleep(0.1)
    raise Failure(f"{what}: not seen within {bound_s:.0f} s")


def children(node):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield child


def walk(node, depth=0):
    yield node
    if depth < 14:
        for child in children(node):
            yield from walk(child, depth + 1)


def showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def find(root, role, name_pattern):
    for node in walk(root):
        if node.get_role_name() == role and re.fullmatch(name_pattern, node.get_name() or "", re.DOTALL):
            return node
    return None


def application(name):
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        if app.get_name() == name:
            return app
    return None


def window(app, role, title):
    for child in children(app):
        if child.get_role_name() == role and child.get_name() == title and showing(child):
            return child
    return None


def press(node):
    if node.get_n_actions() == 0:
        raise Failure(f"{node.get_role_name()} '{node.get_name()}' has no action")
    node.do_action(0)


def label_names(root):
    return [n.get_name() for n in walk(root) if n.get_role_name() == "label"]


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, timeout=10)


def activate(pid, title):
    """Gives the program's X window of that title the keyboard."""
    ids = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name", f"^{title}$"],
                         capture_output=True, text=True, timeout=10).stdout.split()
    if not ids:
        raise Failure(f"no X window titled {title}")
    xdotool("windowfocus", "--sync", ids[0])


def focused(root):
    for node in walk(root):
        if node.get_state_set().contains(Atspi.StateType.FOCUSED):
            return node
    return None


def check_main_window(app, pid):
    main = wait_for("the main window", lambda: window(app, "frame", "Zarv"))
    # Recording: every status-line field reads what it is and what it shows.
    # Start runs until Stop, so it is pressed by its key: an action's reply
    # would come only when the run ends.
    activate(pid, "Zarv")
    xdotool("key", "F5")
    expected = {
        "Run": r"Run Beam \d · [\d.]+ / [\d.]+ s · .+",
        "Data file": r"Data file \S+_beam\d\.txt",
        "Recording rate": r"Recording rate \d+ rec/s · [\d.]+ MB/s",
        "Free space": r"Free space [\d.]+ GB free.*",
        "Status": r"Status .+",
    }
    for what, pattern in expected.items():
        wait_for(f"'{what}' read with its value",
                 lambda p=pattern: find(main, "label", p))
    # A whole dwell recorded first: the winds take whole dwells.
    wait_for("the second dwell", lambda: find(main, "label", r"Run Beam [23] · .+"))
    press(find(main, "push button", "Stop"))
    wait_for("the run's summary read", lambda: find(main, "label", r"Run Last run: \d+ dwells, .+"))
    return main


def open_winds(app, main):
    press(wait_for("View > Winds", lambda: find(main, "menu item", "Winds")))
    return wait_for("the Winds window", lambda: window(app, "frame", "Winds"))


def check_winds(winds):
    """The run has ended and closed its consensus period: the profile plot reads
    the latest profile, height by height."""
    profile = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d UTC: \d+\.\d\d km .+")
    try:
        wait_for("the latest wind profile read",
                 lambda: [n for n in walk(winds) if n.get_name() == "Latest wind profile"
                          and profile.fullmatch(n.get_description() or "")])
    except Failure:
        seen = [(n.get_name(), n.get_description()) for n in walk(winds)]
        raise Failure(f"the latest wind profile read: not seen; the Winds window holds {seen}")
    wait_for("the Winds status read with its value",
             lambda: find(winds, "label", r"Winds Latest profile: .+"))


def check_views(app, main):
    press(find(main, "push button", "Graph"))
    graph = wait_for("the Graph window", lambda: window(app, "frame", "Graph"))
    wait_for("the graph's capture read with its value",
             lambda: find(graph, "label", r"Capture .*\d.*"))
    # The plot itself says its newest values, as a sighted reader sees them.
    newest = re.compile(r"newest ip -?\d+ and qp -?\d+ at [\d.]+ ms")
    wait_for("the graph's newest values read",
             lambda: [n for n in walk(graph) if n.get_name() == "ip and qp of the gate"
                      and newest.fullmatch(n.get_description() or "")])
    press(find(main, "push button", "Radar View"))
    radar = wait_for("the Radar View window", lambda: window(app, "frame", "Radar View"))
    wait_for("the radar view's moments read", lambda: find(radar, "label", r"Moments( .*)?"))


def check_about(app, main):
    press(wait_for("Help > About", lambda: find(main, "menu item", "About")))
    about = wait_for("the About window", lambda: window(app, "dialog", "About"))
    names = wait_for("the identity read", lambda: [
        n for n in label_names(about) if re.fullmatch(r"Serial number \d+", n)])
    for caption in ("Application revision", "Firmware revision", "Hardware revision"):
        wait_for(f"'{caption}' read with its value",
                 lambda c=caption: find(about, "label", rf"{c} \S+"))
    return names


def check_keys(app, main, pid):
    activate(pid, "Zarv")
    log = find(main, "text", "Operator log")
    log.grab_focus()
    wait_for("the operator log focused", lambda: focused(main) == log or None)
    xdotool("key", "Tab")
    def past_the_log():
        now = focused(main)
        return now if now is not None and now != log else None

    next_one = wait_for("focus past the log", past_the_log)
    if next_one.get_role_name() not in ("push button", "check box", "progress bar"):
        raise Failure(f"Tab from the log reached {next_one.get_role_name()} "
                      f"'{next_one.get_name()}', not the toolbar")
    activate(pid, "Radar View")
    xdotool("key", "Escape")
    wait_for("Escape closing the radar view",
             lambda: window(app, "frame", "Radar View") is None)


def main(program, config):
    station = tempfile.mkdtemp(prefix="zarv-atspi-")
    try:
        with open(config) as src, open(os.path.join(station, "config.txt"), "w") as dst:
            for line in src:
                key = line.split("=", 1)[0].strip()
                if key == "data_dir":
                    line = f"data_dir = {station}/data\n"
                elif key == "dwell_time":
                    line = "dwell_time = 1\n"
                dst.write(line)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(station, "xdg"),
                   ZARV_SIM_FLASH=os.path.join(station, "flash.bin"))
        proc = subprocess.Popen([os.path.abspath(program)], cwd=station, env=env)
        try:
            name = os.path.basename(program)
            app = wait_for(f"{name} on the accessibility bus", lambda: application(name))
            main_window = wait_for("the main window", lambda: window(app, "frame", "Zarv"))
            winds = open_winds(app, main_window)
            check_main_window(app, proc.pid)
            check_winds(winds)
            check_views(app, main_window)
            check_about(app, main_window)
            check_keys(app, main_window, proc.pid)
        finally:
            proc.terminate()
            proc.wait(timeout=30)
    except (Failure, subprocess.SubprocessError) as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(station, ignore_errors=True)
    print("ok: every value read, the views are windows, Tab and Escape work")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
