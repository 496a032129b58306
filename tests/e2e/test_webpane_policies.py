"""Navigation, new-window, response and permission policies end to end,
with real clicks on real links."""

import os

import pytest

import standard_codec as c
from dart_side import NEVER
from webpane_driver import CHANNEL, file_url, webpane, write_page  # noqa: F401

# Where the links of the start page are, in a view at (0, 0) of 400 x 300.
LINK, NEW_WINDOW, BINARY, MISSING, RELOAD, PIPE = (
    (10, 20), (10, 60), (10, 100), (10, 140), (10, 180), (10, 220))

START_PAGE = """<html><head><title>start</title><style>
body {{ margin: 0; }}
a, button {{ display: block; width: 300px; height: 40px; margin: 0;
            padding: 0; border: 0; }}
</style></head><body>
<a href="{target}">link</a>
<a href="{target}" target="_blank">new window</a>
<a href="{binary}">binary</a>
<a href="{missing}">missing</a>
<button onclick="location.reload()">reload</button>
<a href="{pipe}">pipe</a>
</body></html>"""

PERMISSION_PAGE = """<html><script>
const outcomes = [];
function report(what, outcome) {
  outcomes.push(what + '=' + outcome);
  if (outcomes.length == 3) document.title = outcomes.sort().join(' ');
}
onload = () => {
  navigator.geolocation.getCurrentPosition(
      () => report('geolocation', 'allowed'),
      e => report('geolocation', e.code == e.PERMISSION_DENIED ? 'denied' : e.code));
  Notification.requestPermission().then(p => report('notifications', p));
  if (!navigator.mediaDevices) {
    report('camera', 'unavailable');
    return;
  }
  navigator.mediaDevices.getUserMedia({video: true}).then(
      stream => report('camera', stream.getVideoTracks().length + ' track'),
      e => report('camera', e.name));
};
</script></html>"""


@pytest.fixture(scope="module")
def pages(tmp_path_factory):
    directory = tmp_path_factory.mktemp("pages")
    binary = directory / "data.bin"
    binary.write_bytes(bytes(range(256)) * 64)
    # WebKit cancels the load of anything but a regular file: its
    # "cancelled" network error.
    pipe = directory / "pipe.html"
    os.mkfifo(pipe)
    urls = {
        "target": write_page(directory, "target.html",
                             "<title>target</title><p>target</p>"),
        "binary": file_url(binary),
        "missing": file_url(directory / "missing.html"),
        "pipe": file_url(pipe),
        "permissions": write_page(directory, "permissions.html",
                                  PERMISSION_PAGE),
    }
    urls["start"] = write_page(directory, "start.html",
                               START_PAGE.format(**urls))
    return urls


def attach_start(webpane, pages, view_id, policy=True):
    webpane.attach(view_id, url=pages["start"], navigationPolicy=policy,
                   x=0, y=0, width=400, height=300)
    webpane.wait_loaded(view_id, pages["start"])


def test_link_clicks_and_reloads_wait_for_dart(webpane, pages):
    start, target = pages["start"], pages["target"]
    attach_start(webpane, pages, "nav")
    webpane.wait_asked("nav", start, False)

    webpane.click(*RELOAD)
    webpane.wait_asked("nav", start, False, count=2)
    webpane.wait_loaded("nav", start, count=2)

    webpane.click(*LINK)
    webpane.wait_asked("nav", target, True)
    webpane.wait_loaded("nav", target)
    webpane.detach("nav")


def test_anything_but_true_blocks_the_navigation(webpane, pages):
    target = pages["target"]
    answers = iter([c.Success(False), c.Success("true"), c.Success(None),
                    c.Error("no", "blocked", None), c.NotImplementedReply(),
                    c.Success(True)])
    webpane.navigation["deny"] = (
        lambda args: next(answers) if args["url"] == target
        else c.Success(True))
    attach_start(webpane, pages, "deny")
    # Each blocked click leaves the start page, and its link, in place.
    for count in range(1, 7):
        webpane.click(*LINK)
        webpane.wait_asked("deny", target, True, count=count)
    webpane.wait_loaded("deny", target)
    assert [e["url"] for e in webpane.events("deny", "onUrlChanged")] == [
        pages["start"], target]
    webpane.detach("deny")


def test_new_window_links_open_in_the_same_view(webpane, pages):
    target = pages["target"]
    attach_start(webpane, pages, "popup")
    webpane.click(*NEW_WINDOW)
    webpane.wait_asked("popup", target, True)   # the new window
    webpane.wait_asked("popup", target, False)  # its load, here
    webpane.wait_loaded("popup", target)
    webpane.detach("popup")


def test_undisplayable_responses_are_dropped_and_failures_reported(
        webpane, pages):
    attach_start(webpane, pages, "responses")
    webpane.click(*BINARY)
    webpane.wait_asked("responses", pages["binary"], True)
    webpane.click(*PIPE)
    webpane.wait_asked("responses", pages["pipe"], True)
    webpane.click(*MISSING)
    webpane.wait_event("responses", "onLoadFailed", {"url": pages["missing"]})

    # The dropped response ends in WebKit's "interrupted by a policy
    # change" and the pipe in its "cancelled", neither of which Dart hears
    # of; nor was anything downloaded.
    assert webpane.events("responses", "onLoadFailed") == [
        {"id": "responses", "url": pages["missing"]}]
    assert pages["binary"] not in [
        e["url"] for e in webpane.events("responses", "onUrlChanged")]
    home = webpane.app.env["HOME"]
    assert [n for _, _, files in os.walk(home) for n in files
            if n.startswith("data")] == []
    webpane.detach("responses")


def test_without_the_policy_dart_is_never_asked(webpane, pages):
    start, target = pages["start"], pages["target"]
    webpane.navigation["free"] = lambda args: c.Success(False)
    attach_start(webpane, pages, "free", policy=False)
    webpane.click(*RELOAD)
    webpane.wait_loaded("free", start, count=2)
    webpane.click(*NEW_WINDOW)
    webpane.wait_loaded("free", target)

    webpane.attach("free missing", url=pages["missing"])
    webpane.wait_event("free missing", "onLoadFailed",
                       {"url": pages["missing"]})
    for view_id in ("free", "free missing"):
        assert webpane.events(view_id, "onNavigationRequest") == []
        webpane.detach(view_id)


def test_detaching_while_dart_decides(webpane, pages):
    target = pages["target"]
    webpane.navigation["held"] = lambda args: NEVER
    webpane.attach("held", url=target, navigationPolicy=True)
    webpane.wait_asked("held", target, False)
    [call] = [call for call in webpane.dart.calls_of(CHANNEL,
                                                     "onNavigationRequest")
              if call.args["id"] == "held"]
    webpane.detach("held")
    webpane.dart.respond(call, c.Success(True))
    assert webpane.alive()
    assert webpane.events("held", "onLoadFinished") == []

    # The id starts afresh.
    del webpane.navigation["held"]
    webpane.attach("held", url=target, navigationPolicy=True)
    webpane.wait_loaded("held", target)
    webpane.detach("held")


@pytest.mark.parametrize("media, camera", [(True, "1 track"),
                                           (False, "unavailable")])
def test_permissions(webpane, pages, media, camera):
    view_id = f"permissions {media}"
    webpane.attach(view_id, url=pages["permissions"],
                   allowsMediaCapture=media)
    webpane.wait_title(view_id, f"camera={camera} geolocation=denied "
                                "notifications=denied")
    webpane.detach(view_id)
