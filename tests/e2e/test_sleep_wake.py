"""Sleep and wake end to end: python3-dbusmock's logind on a private
system bus sends "PrepareForSleep"; the Dart side hears of it."""

import subprocess

from gi.repository import GLib

import desktop
import standard_codec as c
from desktop_bus import (  # noqa: F401 (fixtures)
    LOGIND_PATH, logind, system_client)

SYSTEM = "com.velmo.pro/desktop_system"
SUBSCRIBED = "Subscribed to logind PrepareForSleep"
UNEXPECTED = "PrepareForSleep delivered an unexpected signature: "
NO_BUS = "Sleep/wake catch-up disabled: cannot reach the system bus: "


def start_listening(start_velmo, env, client):
    """Starts velmo and returns once its subscription is in force: after it
    says it subscribed, a ping to its system-bus connection comes back only
    once the bus has handled the match rule velmo sent before."""
    app = start_velmo(env=dict(env, G_MESSAGES_DEBUG="all"))
    app.dart.wait_connected()
    desktop.wait_for(lambda: SUBSCRIBED in app.log(), what="the subscription")
    velmo = client.connection_of_pid(app.pid)
    assert velmo is not None
    client.ping(velmo)
    return app


def calls(dart):
    return [(call.method, call.args) for call in dart.calls_of(SYSTEM)]


def test_sleep_and_wake_reach_the_dart_side(start_velmo, system_bus_env,
                                            logind, system_client):
    app = start_listening(start_velmo, system_bus_env, system_client)
    dart = app.dart
    logind.emit("b", True)
    dart.wait_for_call(SYSTEM, "onSystemWillSleep")
    logind.emit("b", False)
    dart.wait_for_call(SYSTEM, "onSystemWake")
    assert calls(dart) == [("onSystemWillSleep", None), ("onSystemWake", None)]
    log = app.log()
    assert log.count(SUBSCRIBED) == 1
    assert log.count("logind PrepareForSleep(true) -> onSystemWillSleep") == 1
    assert log.count("logind PrepareForSleep(false) -> onSystemWake") == 1
    assert dart.call(SYSTEM, "onSystemWake") == c.NotImplementedReply()

    # A later launch activates the running instance; still one monitor, so
    # one call per signal.
    second = start_velmo(env=system_bus_env, dart=False)
    assert second.wait_exit() == 0
    subprocess.run(["dbus-send", "--session", "--print-reply",
                    "--dest=com.velmo.pro", "/com/velmo/pro",
                    "org.gtk.Actions.List"], env=system_bus_env, check=True,
                   capture_output=True, timeout=15)
    logind.emit("b", True)
    dart.wait_for_call(SYSTEM, "onSystemWillSleep", count=2)
    logind.emit("b", False)
    dart.wait_for_call(SYSTEM, "onSystemWake", count=2)
    assert [method for method, _ in calls(dart)] == [
        "onSystemWillSleep", "onSystemWake"] * 2


def test_wrong_signatures_and_other_senders_are_ignored(
        start_velmo, system_bus_env, logind, system_client):
    app = start_listening(start_velmo, system_bus_env, system_client)
    dart = app.dart
    # Not logind: the bus name is not this sender's. Once velmo answered the
    # ping it has received this signal, so anything it caused comes before
    # what the last signal below causes.
    system_client.conn.emit_signal(
        None, LOGIND_PATH, "org.freedesktop.login1.Manager", "PrepareForSleep",
        GLib.Variant("(b)", (True,)))
    system_client.ping(system_client.connection_of_pid(app.pid))
    logind.emit("s", "true")
    logind.emit("bb", True, True)
    logind.emit("b", False)  # arrives after everything above
    dart.wait_for_call(SYSTEM, "onSystemWake")
    assert calls(dart) == [("onSystemWake", None)]
    log = app.log()
    assert log.count(UNEXPECTED) == 2
    assert log.count(UNEXPECTED + "(s)") == 1
    assert log.count(UNEXPECTED + "(bb)") == 1


def test_without_a_system_bus(start_velmo, desktop_env, tmp_path):
    env = dict(desktop_env,
               DBUS_SYSTEM_BUS_ADDRESS=f"unix:path={tmp_path}/no-system-bus")
    app = start_velmo(env=env)
    app.dart.wait_connected()
    desktop.wait_for(lambda: NO_BUS in app.log(), what="the warning")
    app.wait_window()  # the application is otherwise unaffected
    assert app.dart.call("com.velmo.pro/tray", "isAvailable") == \
        c.Success(False)
    assert app.log().count(NO_BUS) == 1
    assert app.dart.calls_of(SYSTEM) == []
