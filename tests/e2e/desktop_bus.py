"""D-Bus peers of the desktop services, for the end-to-end tests:

- `BusClient`: a connection of the test's own that calls, reads properties
  and records signals the way tray hosts and docks do;
- `Watcher`: a StatusNotifierWatcher in a process of its own
  (sni_watcher.py) that can appear, vanish, accept or reject registrations;
- `Logind`: python3-dbusmock's logind template on the private system bus,
  which owns "org.freedesktop.login1" and so may send "PrepareForSleep".

Fixtures (import them into a test module): `session_client`,
`system_client`, `watcher` (a factory), `logind`.
"""

import os
import subprocess
import sys
import threading
import time

import pytest
from gi.repository import Gio, GLib

import desktop

HERE = os.path.dirname(os.path.abspath(__file__))
LOGIND = "org.freedesktop.login1"
LOGIND_PATH = "/org/freedesktop/login1"


class BusClient:
    """A connection to a private bus. Signal callbacks run when the test
    waits (`wait_for`), which iterates GLib's default main context."""

    def __init__(self, address):
        self.conn = Gio.DBusConnection.new_for_address_sync(
            address,
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        self.signals = []  # (sender, path, interface, member, args)

    def close(self):
        if not self.conn.is_closed():
            self.conn.close_sync(None)

    def call(self, dest, path, interface, method, params=None,
             timeout_ms=5000):
        """Calls a method and returns its unpacked reply tuple; raises
        GLib.Error for an error reply."""
        reply = self.conn.call_sync(dest, path, interface, method, params,
                                    None, Gio.DBusCallFlags.NONE, timeout_ms,
                                    None)
        return reply.unpack() if reply is not None else None

    def call_error(self, *args, **kwargs):
        """The (D-Bus error name, message) a call fails with, or None."""
        try:
            self.call(*args, **kwargs)
        except GLib.Error as e:
            name = Gio.DBusError.get_remote_error(e)
            prefix = f"GDBus.Error:{name}: "
            message = e.message
            if message.startswith(prefix):
                message = message[len(prefix):]
            return name, message
        return None

    def get(self, dest, path, interface, name):
        return self.call(dest, path, "org.freedesktop.DBus.Properties", "Get",
                         GLib.Variant("(ss)", (interface, name)))[0]

    def bus(self, method, *args, signature=None):
        params = GLib.Variant(signature, args) if signature else None
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", method, params)

    def has_owner(self, name):
        return self.bus("NameHasOwner", name, signature="(s)")[0]

    def connection_of_pid(self, pid):
        """The unique name of the connection process `pid` holds, or None."""
        for name in self.bus("ListNames")[0]:
            if not name.startswith(":"):
                continue
            try:
                owner_pid = self.bus("GetConnectionUnixProcessID", name,
                                     signature="(s)")[0]
            except GLib.Error:
                continue
            if owner_pid == pid:
                return name
        return None

    def ping(self, dest):
        """Returns once `dest` answered: everything it sent before has
        reached us, and everything we sent before has reached the bus."""
        self.call(dest, "/", "org.freedesktop.DBus.Peer", "Ping")

    def subscribe(self, interface=None, member=None, path=None):
        self.conn.signal_subscribe(None, interface, member, path, None,
                                   Gio.DBusSignalFlags.NONE, self._on_signal,
                                   None)
        self.ping("org.freedesktop.DBus")  # the match rule is in place

    def _on_signal(self, conn, sender, path, interface, member, params,
                   *data):
        if interface != "org.freedesktop.DBus":
            self.signals.append((sender, path, interface, member,
                                 params.unpack()))

    def signals_of(self, member):
        return [s for s in self.signals if s[3] == member]

    def pump(self):
        context = GLib.MainContext.default()
        while context.iteration(False):
            pass

    def wait_for(self, predicate, timeout=15, what="a condition"):
        def check():
            self.pump()
            return predicate()
        return desktop.wait_for(check, timeout, what, interval=0.02)


class Watcher:
    """A StatusNotifierWatcher process; `registered` lists the item names
    it was asked to register, in order."""

    def __init__(self, env, reject=False):
        argv = [sys.executable, os.path.join(HERE, "sni_watcher.py")]
        if reject:
            argv.append("--reject")
        self.registered = []
        self._ready = threading.Event()
        self.proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self._read, daemon=True).start()
        if not self._ready.wait(15):
            self.stop()
            raise TimeoutError("the watcher did not start")

    def _read(self):
        for line in self.proc.stdout:
            word, _, rest = line.strip().partition(" ")
            if word == "ready":
                self._ready.set()
            elif word == "register":
                self.registered.append(rest)

    def wait_registered(self, count=1, timeout=15):
        desktop.wait_for(lambda: len(self.registered) >= count, timeout,
                         "a registration with the watcher")
        return self.registered

    def stop(self):
        desktop._stop(self.proc)


class Logind:
    """python3-dbusmock's logind on the bus of `env`'s
    DBUS_SYSTEM_BUS_ADDRESS; `emit` sends "PrepareForSleep" from it."""

    def __init__(self, env, client, log_path):
        self.client = client
        self.proc = subprocess.Popen(
            [sys.executable, "-m", "dbusmock", "--system", "--template",
             "logind"], env=env, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=open(log_path, "wb"))
        desktop.wait_for(lambda: client.has_owner(LOGIND), 15, "logind")

    def emit(self, signature, *args):
        variants = [GLib.Variant(t, a) for t, a in zip(signature, args)]
        self.client.call(LOGIND, LOGIND_PATH, "org.freedesktop.DBus.Mock",
                         "EmitSignal",
                         GLib.Variant("(sssav)", (
                             "org.freedesktop.login1.Manager",
                             "PrepareForSleep", signature, variants)))

    def stop(self):
        desktop._stop(self.proc)


@pytest.fixture
def session_client(session_bus):
    client = BusClient(session_bus.address)
    yield client
    client.close()


@pytest.fixture
def system_client(system_bus):
    client = BusClient(system_bus.address)
    yield client
    client.close()


@pytest.fixture
def watcher(desktop_env):
    """watcher(reject=False) -> a started Watcher, stopped at the end."""
    started = []

    def start(reject=False):
        w = Watcher(desktop_env, reject)
        started.append(w)
        return w

    yield start
    for w in started:
        w.stop()


@pytest.fixture
def logind(tmp_path, system_bus_env, system_client):
    mock = Logind(system_bus_env, system_client, tmp_path / "logind.log")
    yield mock
    mock.stop()


def wait_for_value(function, expected, timeout=15, what="a value"):
    """Polls `function()` until it returns `expected`; returns it."""
    seen = []

    def check():
        seen[:] = [function()]
        return seen[0] == expected

    try:
        desktop.wait_for(check, timeout, what, interval=0.05)
    except TimeoutError:
        raise TimeoutError(f"timed out waiting for {what}: last {seen!r}")
    return seen[0]


def settle(seconds=0.2):
    """A short pause for tests that show nothing more happens."""
    time.sleep(seconds)
