"""The tray item and its menu end to end: the real velmo on a private
session bus with a StatusNotifierWatcher of the test's own, read and
clicked the way a tray host does."""

import subprocess

from gi.repository import GLib

import desktop
import standard_codec as c
from desktop_bus import (  # noqa: F401 (fixtures)
    session_client, settle, wait_for_value, watcher)

TRAY = "com.velmo.pro/tray"
BADGE = "com.velmo.pro/badge_manager"
ITEM_PATH = "/StatusNotifierItem"
ITEM = "org.kde.StatusNotifierItem"
MENU_PATH = "/StatusNotifierItem/Menu"
MENU = "com.canonical.dbusmenu"
LAUNCHER = "com.canonical.Unity.LauncherEntry"
REGISTERED = "tray_icon: StatusNotifierItem registered; close-to-hide enabled"
UNAVAILABLE = "tray_icon: StatusNotifierItem unavailable; close-to-quit"
TITLE = "Velmo Messenger"


def item_name(app):
    return f"org.kde.StatusNotifierItem-{app.pid}-1"


def availability(dart):
    return [call.args for call in dart.calls_of(TRAY, "onAvailabilityChanged")]


def click(item_id, event="clicked"):
    return (item_id, event, GLib.Variant("i", 0), 0)


def event_group(*events):
    return GLib.Variant("(a(isvu))", (list(events),))


def start_with_item(start_velmo, client, env=None):
    """Starts velmo and waits until its tray item owns its bus name."""
    app = start_velmo(env=env)
    app.dart.wait_connected()
    client.wait_for(lambda: client.has_owner(item_name(app)),
                    what="the tray item's bus name")
    return app


def is_hidden(env, wid):
    return "_NET_WM_STATE_HIDDEN" in (
        desktop.window_property(env, wid, "_NET_WM_STATE") or "")


def test_watcher_present_at_start(start_velmo, watcher, session_client):
    tray = watcher()
    app = start_with_item(start_velmo, session_client)
    dart = app.dart
    name = item_name(app)
    assert tray.wait_registered() == [name]
    dart.wait_for_call(TRAY, "onAvailabilityChanged")
    assert dart.call(TRAY, "isAvailable") == c.Success(True)

    def item(prop):
        return session_client.get(name, ITEM_PATH, ITEM, prop)

    # As a tray host reads the item. No theme has the application's icon
    # here, so hosts fall back to the pixmap of the bundle's splash logo.
    props = ["Category", "Id", "Title", "Status", "WindowId", "IconName",
             "OverlayIconName", "AttentionIconName", "ToolTip", "ItemIsMenu",
             "Menu"]
    assert {p: item(p) for p in props} == {
        "Category": "Communications", "Id": "com.velmo.pro", "Title": TITLE,
        "Status": "Active", "WindowId": 0, "IconName": "",
        "OverlayIconName": "", "AttentionIconName": "",
        "ToolTip": ("", [], TITLE, ""), "ItemIsMenu": False,
        "Menu": MENU_PATH}
    [(width, height, pixels)] = item("IconPixmap")
    assert (width, height, len(pixels)) == (64, 64, 64 * 64 * 4)
    for method, args in [("ContextMenu", "(ii)"), ("Scroll", "(is)")]:
        params = GLib.Variant(args, (3, 4) if args == "(ii)" else
                              (120, "vertical"))
        assert session_client.call(name, ITEM_PATH, ITEM, method, params) == ()

    # Titles follow the unread count; only changes are announced.
    session_client.subscribe(interface=ITEM)
    titles = [(0, TITLE), (1, f"{TITLE} \u2014 1 unread"),
              (12000, f"{TITLE} \u2014 9999 unread"), (-3, TITLE),
              (7, f"{TITLE} \u2014 7 unread"), (7, f"{TITLE} \u2014 7 unread")]
    for count, title in titles:
        assert dart.call(BADGE, "updateBadge", count) == c.Success(None)
        assert item("Title") == title
        assert item("ToolTip") == ("", [], title, "")
    session_client.ping(name)
    session_client.pump()
    assert len(session_client.signals_of("NewTitle")) == 4
    assert len(session_client.signals_of("NewToolTip")) == 4

    assert availability(dart) == [True]
    assert app.log().count(REGISTERED) == 1
    assert "tray_icon: RegisterStatusNotifierItem failed" not in app.log()


def test_watcher_appears_later_and_restarts(start_velmo, watcher,
                                           session_client):
    app = start_with_item(start_velmo, session_client)
    dart = app.dart
    name = item_name(app)
    assert dart.call(TRAY, "isAvailable") == c.Success(False)

    # No tray host can hear a change now; the next read shows it.
    session_client.subscribe(interface=ITEM)
    assert dart.call(BADGE, "updateBadge", 5) == c.Success(None)
    session_client.ping(name)
    session_client.pump()
    assert session_client.signals == []
    assert session_client.get(name, ITEM_PATH, ITEM, "Title") == \
        f"{TITLE} \u2014 5 unread"

    first = watcher()
    assert first.wait_registered() == [name]
    dart.wait_for_call(TRAY, "onAvailabilityChanged")
    assert dart.call(TRAY, "isAvailable") == c.Success(True)
    first.stop()  # the watcher restarts: gone, then back
    dart.wait_for_call(TRAY, "onAvailabilityChanged", count=2)
    assert dart.call(TRAY, "isAvailable") == c.Success(False)
    second = watcher()
    assert second.wait_registered() == [name]
    dart.wait_for_call(TRAY, "onAvailabilityChanged", count=3)

    assert availability(dart) == [True, False, True]
    assert app.log().count(REGISTERED) == 2
    assert app.log().count(UNAVAILABLE) == 1


def test_rejected_registration(start_velmo, watcher, session_client):
    tray = watcher(reject=True)
    app = start_with_item(start_velmo, session_client)
    assert tray.wait_registered() == [item_name(app)]
    desktop.wait_for(
        lambda: "tray_icon: RegisterStatusNotifierItem failed: " in app.log(),
        what="the rejection warning")
    assert "tray is full" in app.log()
    assert app.dart.call(TRAY, "isAvailable") == c.Success(False)
    assert availability(app.dart) == []
    assert REGISTERED not in app.log() and UNAVAILABLE not in app.log()


def test_activate_and_show_bring_back_an_iconified_window(
        start_velmo, window_manager, desktop_env, session_client):
    app = start_with_item(start_velmo, session_client)
    name = item_name(app)
    wid = app.wait_window()

    def minimize():
        subprocess.run(["xdotool", "windowminimize", "--sync", str(wid)],
                       env=desktop_env, timeout=15, check=True)
        desktop.wait_for(lambda: is_hidden(desktop_env, wid),
                         what="the window to be minimized")

    def wait_back():
        desktop.wait_for(lambda: not is_hidden(desktop_env, wid) and
                         wid in app.windows(), what="the window to come back")

    minimize()
    assert session_client.call(name, ITEM_PATH, ITEM, "Activate",
                               GLib.Variant("(ii)", (0, 0))) == ()
    wait_back()

    # "Show Velmo" through "EventGroup", as XFCE and Cinnamon deliver it.
    minimize()
    assert session_client.call(name, MENU_PATH, MENU, "EventGroup",
                               event_group(click(1))) == ([],)
    wait_back()

    minimize()
    assert session_client.call(name, MENU_PATH, MENU, "Event",
                               GLib.Variant("(isvu)", click(1))) == ()
    wait_back()


def test_menu_as_a_tray_host_reads_it(start_velmo, session_client):
    app = start_with_item(start_velmo, session_client)
    name = item_name(app)
    assert app.dart.call(BADGE, "updateBadge", 3) == c.Success(None)

    def menu(method, signature, *args):
        return session_client.call(name, MENU_PATH, MENU, method,
                                   GLib.Variant(signature, args))

    title_line = (4, {"label": f"{TITLE} \u2014 3 unread", "enabled": False,
                      "visible": True}, [])
    revision, root = menu("GetLayout", "(iias)", 0, -1, [])
    assert revision == 1
    assert root[:2] == (0, {"children-display": "submenu"})
    assert [child[0] for child in root[2]] == [4, 5, 1, 2, 3]
    assert root[2][0] == title_line
    assert root[2][2] == (1, {"label": "Show Velmo", "enabled": True,
                              "visible": True}, [])
    assert menu("GetLayout", "(iias)", 3, 0, ["label"]) == (1, (
        3, {"label": "Quit Velmo", "enabled": True, "visible": True}, []))
    assert menu("GetLayout", "(iias)", 42, 1, []) == (1, (
        42, {"enabled": True, "visible": True}, []))
    (group,) = menu("GetGroupProperties", "(aias)", [], [])
    assert [entry[0] for entry in group] == [0, 4, 5, 1, 2, 3]
    assert menu("GetProperty", "(is)", 4, "enabled") == (False,)
    assert session_client.call_error(
        name, MENU_PATH, MENU, "GetProperty",
        GLib.Variant("(is)", (0, "label"))) == (
        "org.freedesktop.DBus.Error.InvalidArgs", "no property label on item 0")
    assert session_client.get(name, MENU_PATH, MENU, "TextDirection") == "ltr"
    assert session_client.get(name, MENU_PATH, MENU, "Version") == 3


def test_quit_through_event_group_clears_the_badge(start_velmo,
                                                   session_client):
    app = start_with_item(start_velmo, session_client)
    name = item_name(app)
    app.wait_window()
    session_client.subscribe(interface=LAUNCHER)
    assert app.dart.call(BADGE, "updateBadge", 7) == c.Success(None)

    # Two quick clicks on "Quit Velmo": answered, then the window goes once
    # and the application ends normally.
    assert session_client.call(name, MENU_PATH, MENU, "EventGroup",
                               event_group(click(3), click(3))) == ([],)
    assert app.wait_exit() == 0
    log = app.log()
    assert "CRITICAL" not in log, log
    for channel in (TRAY, BADGE, "com.velmo.pro/window_visibility"):
        assert f"closed channel {channel}" not in log

    # The badge's last count was cleared before the process ended.
    session_client.wait_for(lambda: len(session_client.signals) == 2,
                            what="the badge to be cleared")
    counts = [s[4][1] for s in session_client.signals]
    assert counts == [{"count": 7, "count-visible": True},
                      {"count": 0, "count-visible": False}]


def test_quit_through_event_leaves_a_cleared_badge_alone(start_velmo,
                                                          session_client):
    app = start_with_item(start_velmo, session_client)
    name = item_name(app)
    app.wait_window()
    velmo_conn = session_client.connection_of_pid(app.pid)
    session_client.subscribe(interface=LAUNCHER)
    for count in (4, 0):
        assert app.dart.call(BADGE, "updateBadge", count) == c.Success(None)
    assert session_client.call(name, MENU_PATH, MENU, "Event",
                               GLib.Variant("(isvu)", click(3))) == ()
    assert app.wait_exit() == 0
    # Once the bus has seen velmo's connection close, it has passed on
    # everything velmo sent.
    session_client.wait_for(lambda: not session_client.has_owner(velmo_conn),
                            what="velmo to leave the bus")
    session_client.ping("org.freedesktop.DBus")
    session_client.pump()
    assert [s[4][1]["count"] for s in session_client.signals] == [4, 0]


def test_without_a_session_bus_the_channel_still_answers(
        start_velmo, desktop_env, tmp_path):
    env = dict(desktop_env, G_MESSAGES_DEBUG="all",
               DBUS_SESSION_BUS_ADDRESS=f"unix:path={tmp_path}/no-bus")
    app = start_velmo(env=env)
    dart = app.dart
    dart.wait_connected()
    assert dart.call(TRAY, "isAvailable") == c.Success(False)
    assert dart.call(TRAY, "reveal") == c.Success(None)
    assert dart.call(TRAY, "other") == c.NotImplementedReply()
    assert dart.call(BADGE, "updateBadge", 2) == c.Success(None)
    assert dart.call(BADGE, "updateBadge", 3) == c.Success(None)
    app.wait_window()
    log = app.log()
    assert log.count("tray_icon: no session bus (") == 1
    assert log.count("; tray disabled for this session") == 1
    assert log.count("unread_badge: no session bus (") == 1
    assert availability(dart) == []
