"""A StatusNotifierWatcher for the end-to-end tests, on the session bus of
its environment. Prints "ready" once it owns its name and "register <name>"
for every RegisterStatusNotifierItem call; with --reject it answers those
with an error. Ends on SIGTERM, leaving the bus as a watcher that exits or
restarts does."""

import signal
import sys

from gi.repository import Gio, GLib

NAME = "org.kde.StatusNotifierWatcher"
XML = """<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem">
      <arg name="service" type="s" direction="in"/>
    </method>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  </interface>
</node>"""

reject = "--reject" in sys.argv[1:]
loop = GLib.MainLoop()


def on_call(conn, sender, path, interface, method, params, invocation):
    (service,) = params.unpack()
    print(f"register {service}", flush=True)
    if reject:
        invocation.return_dbus_error(
            "org.kde.StatusNotifierWatcher.Error.Refused", "tray is full")
    else:
        invocation.return_value(None)


def on_get(conn, sender, path, interface, name):
    return GLib.Variant("b", True)


conn = Gio.bus_get_sync(Gio.BusType.SESSION, None)
info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
conn.register_object("/StatusNotifierWatcher", info, on_call, on_get, None)
Gio.bus_own_name_on_connection(
    conn, NAME, Gio.BusNameOwnerFlags.NONE,
    lambda *a: print("ready", flush=True), lambda *a: loop.quit())
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
loop.run()
