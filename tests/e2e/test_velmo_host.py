"""The application host end to end: the real velmo under Xvfb with a
private session bus, the driver playing its Dart side."""

import re
import shutil
import subprocess

import pytest

import desktop
import standard_codec as c
from conftest import App, private_env

LINKS = "com.velmo.pro/external_link"
CALL_AUDIO = "flutter_callkit_incoming"
TITLE = "Velmo Messenger"

REGISTRARS = [
    "DesktopDropPlugin", "EmojiPickerFlutterPlugin", "FileSelectorPlugin",
    "FlutterSecureStorageLinuxPlugin", "FlutterTimezonePlugin",
    "FlutterWebRTCPlugin", "WebpanePlugin", "MapsLauncherPlugin",
    "MediaKitLibsLinuxPlugin", "MediaKitVideoPlugin", "OpenFileLinuxPlugin",
    "PasteboardPlugin", "RecordLinuxPlugin", "ScreenRetrieverLinuxPlugin",
    "Sqlite3FlutterLibsPlugin", "UrlLauncherPlugin", "WindowManagerPlugin",
]


def take_pending(dart):
    reply = dart.call(LINKS, "takePending")
    assert isinstance(reply, c.Success), reply
    return reply.value


def icon_sizes(env, wid):
    """Sizes of the images in a window's _NET_WM_ICON, in order."""
    out = subprocess.run(
        ["xprop", "-len", "4000000", "-id", str(wid), "-f", "_NET_WM_ICON", "32c",
         "_NET_WM_ICON"], env=env, capture_output=True, text=True,
        timeout=30).stdout
    if "=" not in out:
        return []
    words = [int(x) for x in re.findall(r"\d+", out.split("=", 1)[1])]
    sizes = []
    while len(words) >= 2:
        width, height = words[0], words[1]
        assert width == height, (width, height)
        sizes.append(width)
        words = words[2 + width * height:]
    return sizes


def sync_with_primary(env):
    """Returns once the primary instance's main loop has handled everything
    earlier launches sent it: a later launch does not wait for the primary
    to act, but the primary answers action-group calls in arrival order on
    its main loop."""
    subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=com.velmo.pro",
         "/com/velmo/pro", "org.gtk.Actions.List"],
        env=env, check=True, capture_output=True, timeout=15)


def second_launch(start_velmo, *args):
    """A later launch: returns its exit status, checking it opened no
    window and started no engine."""
    app = start_velmo(*args)
    status = app.wait_exit()
    sync_with_primary(app.env)
    assert not app.dart.accepts_connection(0.2), "proxy started an engine"
    assert desktop.all_windows_of(app.env, app.pid) == []
    return status


def test_first_launch(start_velmo, desktop_env):
    env = dict(desktop_env)
    env["PULSE_PROP_application.name"] = "Kept"
    env.pop("PULSE_PROP_application.id", None)
    app = start_velmo("a", "velmo:one", "velmo:two", env=env)
    info = app.dart.wait_connected()
    # The sound-server labels are written only where not already set.
    assert {name: app.dart.getenv(f"PULSE_PROP_application.{name}")
            for name in ("name", "id", "icon_name")} == {
        "name": "Kept", "id": "com.velmo.pro", "icon_name": "com.velmo.pro"}
    assert info["entrypointArguments"] == ["a", "velmo:one", "velmo:two"]
    dart = app.dart
    dart.wait_until(lambda: len(dart.registrars) == len(REGISTRARS))
    assert dart.registrars == REGISTRARS

    # Only the first qualifying argument reaches link intake.
    assert take_pending(dart) == ["velmo:one"]
    assert take_pending(dart) == []
    assert dart.call(LINKS, "other") == c.NotImplementedReply()

    assert dart.call(CALL_AUDIO, "getCurrentOutput") == c.Success(None)
    assert dart.call(CALL_AUDIO, "getCurrentOutput", {"x": 1}) == \
        c.Success(None)
    assert dart.call(CALL_AUDIO, "endCall") == c.NotImplementedReply()

    # Without a window manager GDK reports none, so the title is plain.
    wid = app.wait_window()
    assert desktop.window_title(app.env, wid) == TITLE
    assert app.proc.poll() is None


def test_window_is_not_mapped_before_the_first_frame(start_velmo):
    app = start_velmo()
    dart = app.dart
    dart.wait_connected(hold_first_frame=True)
    # Activation is complete once the last plug-in and link intake run.
    dart.wait_until(lambda: len(dart.registrars) == len(REGISTRARS))
    assert take_pending(dart) == []
    assert desktop.all_windows_of(app.env, app.pid), "window not created"
    assert app.windows() == []
    assert not dart.first_frame

    dart.release_first_frame()
    dart.wait_first_frame()
    app.wait_window()


def test_second_launch_forwards_its_link_and_presents_the_window(
        start_velmo, window_manager, desktop_env):
    first = start_velmo()
    dart = first.dart
    dart.wait_connected()
    wid = first.wait_window()
    assert take_pending(dart) == []  # listening from here on

    subprocess.run(["xdotool", "windowminimize", "--sync", str(wid)],
                   env=desktop_env, timeout=15, check=True)
    desktop.wait_for(lambda: "_NET_WM_STATE_HIDDEN" in (
        desktop.window_property(desktop_env, wid, "_NET_WM_STATE") or ""),
        what="the window to be minimized")

    assert second_launch(start_velmo, "velmo:x") == 0
    assert dart.wait_for_call(LINKS, "open").args == "velmo:x"
    desktop.wait_for(lambda: "_NET_WM_STATE_HIDDEN" not in (
        desktop.window_property(desktop_env, wid, "_NET_WM_STATE") or "")
        and wid in first.windows(), what="the window to come back")

    # Re-activation without a link presents it again; still one window and
    # one engine.
    assert second_launch(start_velmo) == 0
    assert first.windows() == [wid]
    assert not dart.accepts_connection(0.2)
    assert dart.registrars == REGISTRARS
    assert [c.args for c in dart.calls_of(LINKS, "open")] == ["velmo:x"]
    assert take_pending(dart) == []


def test_links_from_later_launches(start_velmo):
    first = start_velmo()
    dart = first.dart
    dart.wait_connected()
    dart.wait_until(lambda: len(dart.registrars) == len(REGISTRARS))

    at_limit = "velmo:" + "a" * (2048 - 6)
    ignored = ["velmo:", "https://velmo.example/x", at_limit + "b"]
    qualifying = ["VELMO:abc", at_limit] + [f"velmo:{n}" for n in range(7)]
    for link in ignored + qualifying:
        assert second_launch(start_velmo, link) == 0

    # Nine qualifying links were held back; the first eight leave, in order.
    assert take_pending(dart) == qualifying[:8]
    assert take_pending(dart) == []
    assert second_launch(start_velmo, "other", "velmo:late") == 0
    assert dart.wait_for_call(LINKS, "open").args == "velmo:late"
    assert take_pending(dart) == []


def test_plain_title_under_a_window_manager(start_velmo, window_manager,
                                            desktop_env):
    assert desktop.wm_name(desktop_env) == "Openbox"
    app = start_velmo()
    app.dart.wait_connected()
    wid = app.wait_window()
    assert desktop.window_property(app.env, wid, "_NET_WM_NAME") == f'"{TITLE}"'
    # A header bar would make the window draw its own frame.
    assert desktop.window_property(app.env, wid, "_GTK_FRAME_EXTENTS") is None


def test_fallback_icon_list(start_velmo):
    app = start_velmo()
    app.dart.wait_connected()
    wid = app.wait_window()
    assert icon_sizes(app.env, wid) == [256, 128, 64, 48, 32, 24, 16]
    assert "window icon" not in app.log()


def test_no_icon_at_all(tmp_path, velmo_path, launch):
    # A bundle without data/: the executable copied, its libraries linked.
    bundle = tmp_path / "bare"
    bundle.mkdir()
    shutil.copy2(velmo_path, bundle / "velmo")
    (bundle / "lib").symlink_to(velmo_path.parent / "lib")
    app = launch(bundle / "velmo")
    app.dart.wait_connected()
    wid = app.wait_window()
    assert app.log().count("window icon: could not load") == 1
    assert str(bundle / "data" / "app_icon.png") in app.log()
    assert icon_sizes(app.env, wid) == []


def test_registration_failure(tmp_path, display, velmo_path):
    with desktop.Bus(tmp_path, "session", deny_own=["com.velmo.pro"]) as bus:
        env = private_env(tmp_path, display, bus)
        from dart_side import DartSide
        directory = tmp_path / "dart"
        directory.mkdir()
        app = App([velmo_path, "velmo:x"], env, tmp_path / "velmo.log",
                  DartSide(directory))
        try:
            assert app.wait_exit() == 1
            assert "Failed to register: " in app.log()
            assert not app.dart.accepts_connection(0.2)
            assert desktop.all_windows_of(env, app.pid) == []
        finally:
            app.stop()


def test_closing_the_window_is_decided_by_the_dart_side(
        start_velmo, window_manager, desktop_env):
    app = start_velmo()
    dart = app.dart
    dart.wait_connected()
    wid = app.wait_window()

    # A ready Dart side that refuses: the window stays.
    asked = []

    def refuse(message):
        asked.append(message)
        return b'[{"response":"cancel"}]'

    dart.answer_raw("flutter/platform", refuse)
    assert dart.send("flutter/platform",
                     b'{"method":"System.initializationComplete",'
                     b'"args":null}') == b"[null]"
    subprocess.run(["wmctrl", "-i", "-c", hex(wid)], env=desktop_env,
                   check=True, timeout=15)
    dart.wait_until(lambda: asked, what="the exit request")
    assert b"System.requestAppExit" in asked[0]
    assert app.proc.poll() is None and app.windows() == [wid]

    # Agreeing ends the run normally (shutdown runs, status 0).
    dart.answer_raw("flutter/platform", lambda m: b'[{"response":"exit"}]')
    subprocess.run(["wmctrl", "-i", "-c", hex(wid)], env=desktop_env,
                   check=True, timeout=15)
    assert app.wait_exit() == 0
