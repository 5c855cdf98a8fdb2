#!/usr/bin/python3
"""The program's windows as a screen reader reads them (AT-SPI).
atspi.py dump: a line per shown node: ROLE NAME DESCRIPTION TEXT (a box's) STATES X,Y (in its window), tab-separated.
atspi.py await-name ROLE SECONDS [COUNT]: prints "listening", then the first COUNT (1) new names of nodes of that role."""
import sys

import pyatspi
from gi.repository import GLib

STATES = {"checked": pyatspi.STATE_CHECKED, "focused": pyatspi.STATE_FOCUSED, "selected": pyatspi.STATE_SELECTED}


def walk(node, origin=None):
    # Qt gives screen places for WINDOW_COORDS as well: places are taken from the window's corner here.
    x, y = node.queryComponent().getPosition(pyatspi.DESKTOP_COORDS)
    origin, role, states = origin or (x, y), node.getRoleName(), node.getState()
    text = node.queryText().getText(0, -1) if role == "text" else ""
    words = " ".join(word for word, state in STATES.items() if states.contains(state))
    fields = (role, node.name, node.description, text, words, f"{x - origin[0]},{y - origin[1]}")
    yield "\t".join((f or "").replace("\t", " ").replace("\n", " ").replace("\r", " ") for f in fields)
    for child in node:
        if child is not None:
            yield from walk(child, origin)


def dump():
    apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Norvale"]
    windows = [w for a in apps for w in a if w is not None and w.getState().contains(pyatspi.STATE_SHOWING)]
    print("\n".join(line for w in windows for line in walk(w)))
    return 0 if apps else 1


def await_name(role, seconds, count=1):
    status, left = [1], [int(count)]

    def changed(event):
        # Qt sends the node, not its new name: read the name afresh.
        event.source.clear_cache()
        if event.source.getRoleName() == role:
            print(event.source.name, flush=True)
            left[0] -= 1
            if left[0] == 0:
                status[0] = 0
                pyatspi.Registry.stop()

    pyatspi.Registry.registerEventListener(changed, "object:property-change:accessible-name")
    # The program learns of a new listener through a signal of the registry: give it a moment.
    GLib.timeout_add(300, lambda: print("listening", flush=True))
    GLib.timeout_add(int(float(seconds) * 1000), pyatspi.Registry.stop)
    pyatspi.Registry.start()
    return status[0]


if __name__ == "__main__":
    pyatspi.setTimeout(10000, 15000)  # the library's 0.8 s is short for a display on a loaded machine
    if sys.argv[1:] == ["dump"] or sys.argv[1:2] == ["await-name"] and len(sys.argv) in (4, 5):
        sys.exit(dump() if sys.argv[1] == "dump" else await_name(*sys.argv[2:]))
    sys.exit(__doc__)
