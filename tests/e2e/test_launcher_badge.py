"""The launcher badge end to end: counts from the Dart side reach a dock
listening on the private session bus as LauncherEntry "Update" signals."""

import standard_codec as c
from desktop_bus import session_client  # noqa: F401 (fixture)

BADGE = "com.velmo.pro/badge_manager"
LAUNCHER = "com.canonical.Unity.LauncherEntry"
URI = "application://com.velmo.pro.desktop"
# The string hash of URI: docks look for the entry here on every run.
PATH = "/com/canonical/unity/launcherentry/3994494888"
BAD_ARGS = c.Error("bad_args", "updateBadge expects an integer count")


def test_counts_reach_the_launcher(start_velmo, session_client):
    app = start_velmo()
    dart = app.dart
    dart.wait_connected()
    session_client.subscribe(interface=LAUNCHER)

    sent = [5, 0, -4, 123456, 7, 7]
    for count in sent:
        assert dart.call(BADGE, "updateBadge", count) == c.Success(None)
    # Neither a text nor a missing count is a count: no signal.
    assert dart.call(BADGE, "updateBadge", "5") == BAD_ARGS
    assert dart.call(BADGE, "updateBadge") == BAD_ARGS
    assert dart.call(BADGE, "setBadge", 1) == c.NotImplementedReply()

    velmo = session_client.connection_of_pid(app.pid)
    session_client.ping(velmo)
    session_client.pump()
    signals = session_client.signals
    assert {(s[0], s[1], s[2], s[3]) for s in signals} == {
        (velmo, PATH, LAUNCHER, "Update")}
    assert [s[4] for s in signals] == [
        (URI, {"count": 5, "count-visible": True}),
        (URI, {"count": 0, "count-visible": False}),
        (URI, {"count": 0, "count-visible": False}),
        (URI, {"count": 9999, "count-visible": True}),
        (URI, {"count": 7, "count-visible": True}),
        (URI, {"count": 7, "count-visible": True}),
    ]
