""""isUserVisible" end to end, under a real EWMH window manager (openbox)
driven with xdotool and wmctrl, the way users move the window about."""

import subprocess

import pytest

import desktop
import standard_codec as c
from desktop_bus import wait_for_value

VISIBILITY = "com.velmo.pro/window_visibility"


def run(env, *argv):
    subprocess.run(list(argv), env=env, check=True, timeout=15,
                   capture_output=True)


@pytest.fixture
def shown(start_velmo, window_manager, desktop_env):
    """velmo's window, shown and focused on the first desktop."""
    app = start_velmo()
    app.dart.wait_connected()
    wid = app.wait_window()
    return app, wid


def windows_of_class(env, instance):
    """Mapped windows whose WM_CLASS instance is `instance` (xmessage sets
    no _NET_WM_PID)."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname",
                          f"^{instance}$"], env=env, capture_output=True,
                         text=True, timeout=15)
    return [int(w) for w in out.stdout.split()]


def visible(app):
    reply = app.dart.call(VISIBILITY, "isUserVisible")
    assert isinstance(reply, c.Success), reply
    return reply.value


def expect(app, value, what):
    wait_for_value(lambda: visible(app), value, what=what)


def test_focus_and_minimizing(shown, desktop_env):
    app, wid = shown
    expect(app, True, "the focused window to count as visible")
    assert app.dart.call(VISIBILITY, "other") == c.NotImplementedReply()

    # Another application's window becomes the active one.
    other = subprocess.Popen(["xmessage", "-name", "other", "another window"],
                             env=desktop_env)
    try:
        other_wid = desktop.wait_for(
            lambda: windows_of_class(desktop_env, "other"), 15,
            "the other window")[0]
        run(desktop_env, "xdotool", "windowactivate", "--sync", str(other_wid))
        expect(app, False, "another window to take the focus")
        run(desktop_env, "xdotool", "windowactivate", "--sync", str(wid))
        expect(app, True, "the focus to come back")
    finally:
        desktop._stop(other)

    run(desktop_env, "xdotool", "windowminimize", "--sync", str(wid))
    expect(app, False, "the iconified window to count as hidden")
    run(desktop_env, "xdotool", "windowactivate", "--sync", str(wid))
    expect(app, True, "the restored window")

    run(desktop_env, "xdotool", "windowunmap", "--sync", str(wid))
    expect(app, False, "the unmapped window to count as hidden")


def test_virtual_desktops(shown, desktop_env):
    app, wid = shown
    expect(app, True, "the focused window on the first desktop")

    run(desktop_env, "wmctrl", "-i", "-r", hex(wid), "-t", "1")
    expect(app, False, "the window on another desktop")

    # On all desktops, and focused again.
    run(desktop_env, "xdotool", "set_desktop_for_window", str(wid), "-1")
    desktop.wait_for(lambda: desktop.window_property(
        desktop_env, wid, "_NET_WM_DESKTOP") == "4294967295",
        what="the window to be on all desktops")
    run(desktop_env, "xdotool", "windowactivate", "--sync", str(wid))
    expect(app, True, "the window on all desktops")
    run(desktop_env, "wmctrl", "-s", "2")
    run(desktop_env, "xdotool", "windowactivate", "--sync", str(wid))
    expect(app, True, "the window on all desktops, seen from another")


def test_desktop_properties_are_read_only_where_they_exist(shown,
                                                           desktop_env):
    app, wid = shown
    expect(app, True, "the focused window")
    # Mapped, focused, but said to be on another desktop than the one in
    # view: only the desktop properties can tell.
    run(desktop_env, "xprop", "-id", str(wid), "-f", "_NET_WM_DESKTOP", "32c",
        "-set", "_NET_WM_DESKTOP", "2")
    assert visible(app) is False
    # A window manager that keeps no current desktop: the check is skipped.
    run(desktop_env, "xprop", "-root", "-remove", "_NET_CURRENT_DESKTOP")
    assert visible(app) is True
