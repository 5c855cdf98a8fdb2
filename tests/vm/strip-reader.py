#!/usr/bin/python3
"""The display's windows as a screen reader reads them, over the AT-SPI bus, for a test in the VM,
where each new python takes seconds: one process, which answers each line "read" on its standard
input with a line per shown label, status bar or alert, ROLE NAME X,Y (in its window),
tab-separated, and a line ".". Plain D-Bus calls: no listener is registered, so the display sends
no events that nobody reads, and nothing is cached."""
import sys

from gi.repository import Gio, GLib

ACCESSIBLE = "org.a11y.atspi.Accessible"
SHOWING = 25  # AtspiStateType
TEXTS = ("label", "status bar", "alert")


def connect():
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                GLib.VariantType("(s)"), 0, 10000, None).unpack()[0]
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)


def call(bus, node, interface, method, answer, arguments=None):
    return bus.call_sync(node[0], node[1], interface, method, arguments, GLib.VariantType(answer), 0, 10000,
                         None).unpack()


def name(bus, node):
    return call(bus, node, "org.freedesktop.DBus.Properties", "Get", "(v)",
                GLib.Variant("(ss)", (ACCESSIBLE, "Name")))[0]


def position(bus, node):
    return call(bus, node, "org.a11y.atspi.Component", "GetPosition", "(ii)", GLib.Variant("(u)", (0,)))


# Every call is a round trip to a display that emulation slows down: only the texts are read whole.
def walk(bus, node, origin):
    role = call(bus, node, ACCESSIBLE, "GetRoleName", "(s)")[0]
    if role in TEXTS:
        x, y = position(bus, node)
        text = name(bus, node).replace("\t", " ").replace("\n", " ")
        yield f"{role}\t{text}\t{x - origin[0]},{y - origin[1]}"
    for child in call(bus, node, ACCESSIBLE, "GetChildren", "(a(so))")[0]:
        yield from walk(bus, child, origin)


def read(bus):
    root = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
    for app in call(bus, root, ACCESSIBLE, "GetChildren", "(a(so))")[0]:
        if name(bus, app) != "Norvale":
            continue
        for window in call(bus, app, ACCESSIBLE, "GetChildren", "(a(so))")[0]:
            states = call(bus, window, ACCESSIBLE, "GetState", "(au)")[0]
            if states and states[0] >> SHOWING & 1:
                print("\n".join(walk(bus, window, position(bus, window))))


if __name__ == "__main__":
    bus = None
    for request in sys.stdin:
        if request.strip() == "read":
            # The buses come up while the test goes on: whatever failed is tried afresh next time.
            try:
                bus = bus or connect()
                read(bus)
            except GLib.Error as error:
                print(f"error\t{error.message}")
                bus = None if bus and bus.is_closed() else bus
            print(".", flush=True)
