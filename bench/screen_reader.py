#!/usr/bin/python3
"""A screen reader's share of the work, for bench/gui_answer.sh: listens on the
accessibility bus to every object event, as Orca does, and reads the name of
each object that sends one with the event's new value. Prints how many it read
when it ends.

Usage: bench/screen_reader.py SECONDS"""

import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

read = 0


def on_event(event):
    global read
    try:
        source = event.source
        said = (source.get_name() or "") + str(event.any_data or "")
        read += 1 if said else 0
    except GLib.Error:
        pass  # the object went before it was read


def main():
    listener = Atspi.EventListener.new(on_event)
    for kind in ("object:property-change", "object:text-changed", "object:value-changed",
                 "object:state-changed", "object:children-changed", "window:"):
        listener.register(kind)
    GLib.timeout_add_seconds(int(sys.argv[1]), lambda: Atspi.event_quit() or False)
    Atspi.event_main()
    print(f"screen reader      {read} events read")


if __name__ == "__main__":
    main()
