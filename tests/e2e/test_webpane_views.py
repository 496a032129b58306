"""Web views end to end in the real velmo: attach and its errors, placement
over the Flutter view, visibility, storage kept per view and in memory,
the web process going away, and what Dart or a page cannot break."""

import os
import signal
import subprocess

import standard_codec as c
from dart_side import NEVER
from webpane_driver import (CHANNEL, OK, Webpane, support_dir,
                            webpane, write_page)  # noqa: F401

# Reports the page's viewport size and visibility, and where it was clicked,
# through its title.
SIZE_PAGE = """<html><head><script>
function report() {
  document.title = innerWidth + 'x' + innerHeight + ' ' +
      document.visibilityState;
}
onload = report;
onresize = report;
document.onvisibilitychange = report;
onmousedown = e => { document.title = 'click ' + e.clientX + ',' + e.clientY; };
</script></head><body></body></html>"""

# Counts a value kept in the view's storage across loads: "?set" stores one
# in a cookie and in localStorage, then reloads the page without it.
STORAGE_PAGE = """<html><head><script>
onload = () => {
  if (location.search == '?set') {
    localStorage.setItem('k', 'kept');
    document.cookie = 'c=kept; max-age=3600';
    location.replace(location.pathname);
    return;
  }
  document.title = 'storage=' + localStorage.getItem('k') +
      ' cookie=' + (document.cookie || 'none');
};
</script></head><body></body></html>"""


def error(code, message):
    return c.Error(code, message, None)


def test_attach_loads_a_url_or_an_html_document(webpane, tmp_path):
    page = write_page(tmp_path, "page.html", "<title>from the file</title>")
    assert webpane.call("isAvailable") == c.Success(True)

    webpane.attach("url", url=page)
    webpane.wait_event("url", "onUrlChanged", {"url": page})
    webpane.wait_title("url", "from the file")
    webpane.wait_loaded("url", page)

    webpane.attach("html", html="<title>inline</title>")
    webpane.wait_title("html", "inline")
    webpane.wait_loaded("html", "about:blank")

    # Both given: the document wins, over "about:blank"; the url is never
    # loaded.
    webpane.attach("both", url=page, html="<title>document</title>")
    webpane.wait_title("both", "document")
    webpane.wait_loaded("both", "about:blank")
    assert {e["url"] for e in webpane.events("both", "onUrlChanged")} == {
        "about:blank"}

    assert webpane.call("attach", {"id": "both", "html": "x"}) == error(
        "duplicate_id", "a view with this id is already attached")
    webpane.attach("", html="<title>empty id</title>")
    webpane.wait_title("", "empty id")
    assert webpane.call("attach", {"id": "", "url": page}) == error(
        "duplicate_id", "a view with this id is already attached")
    assert webpane.call("attach", {"id": "no source", "url": 5}) == error(
        "bad_arguments", "attach requires an id and a url or an html document")

    assert webpane.call("detach", {"id": "never attached"}) == OK
    for args in (None, {}, {"id": 1}):
        assert webpane.call("detach", args) == error(
            "bad_arguments", "detach requires an id")
    for view_id in ("url", "html", "both", ""):
        webpane.detach(view_id)
    # Detached ids are free again.
    webpane.attach("", html="<title>again</title>")
    webpane.wait_title("", "again")
    webpane.detach("")


def test_settings_and_user_script(webpane):
    page = ("<script>document.title = (window.injected || 'not injected') +"
            " ' / ' + navigator.userAgent;</script>")
    webpane.attach("agent", html=page, userAgent="VelmoTest/1",
                   userScript="window.injected = 'injected';")
    webpane.wait_title("agent", "injected / VelmoTest/1")
    # Empty strings count as absent.
    webpane.attach("default agent", html=page, userAgent="", userScript="")
    webpane.dart.wait_until(lambda: webpane.titles("default agent"))
    title = webpane.titles("default agent")[0]
    assert title.startswith("not injected / ") and "AppleWebKit" in title

    webpane.attach("no script", javaScriptEnabled=False,
                   html="<title>static</title><script>document.title = 'ran'"
                        "</script>")
    webpane.wait_loaded("no script", "about:blank")
    webpane.wait_title("no script", "static")
    assert webpane.titles("no script") == ["static"]
    for view_id in ("agent", "default agent", "no script"):
        webpane.detach(view_id)


def test_views_sit_at_their_rectangle_and_take_input(webpane):
    webpane.attach("place", html=SIZE_PAGE)
    webpane.wait_title("place", "1x1 visible")

    webpane.set_rect("place", x=100, y=50, width=200, height=120)
    webpane.wait_title("place", "200x120 visible")
    webpane.click(110, 60)
    webpane.wait_title("place", "click 10,10")

    # Only x moves: y, width and height stay, so the view's far corner is
    # now at (499, 169).
    webpane.set_rect("place", x=300)
    webpane.click_until_title("place", 498, 168, "click 198,118")

    webpane.set_rect("place", width=0)
    webpane.wait_title("place", "1x120 visible")
    webpane.set_rect("place", width=50, height=-3)
    webpane.wait_title("place", "50x1 visible")
    webpane.set_rect("place", width=-7, height=30)
    webpane.wait_title("place", "1x30 visible")
    webpane.detach("place")


def test_hidden_views_keep_their_place_until_shown(webpane):
    webpane.attach("hidden", html=SIZE_PAGE, visible=False, x=10, y=10,
                   width=80, height=60)
    webpane.dart.wait_until(lambda: webpane.titles("hidden"))
    assert all(t.endswith(" hidden") for t in webpane.titles("hidden"))
    assert webpane.call("setVisible", {"id": "hidden"}) == OK
    webpane.wait_title("hidden", "80x60 visible")

    assert webpane.call("setVisible", {"id": "hidden", "visible": False}) == OK
    webpane.wait_title("hidden", "80x60 hidden")
    # Anything but the bool false shows it.
    assert webpane.call("setVisible", {"id": "hidden", "visible": 0}) == OK
    webpane.wait_title("hidden", "80x60 visible", count=2)
    webpane.detach("hidden")


def test_storage_is_per_view_and_ends_with_it(webpane, tmp_path):
    page = write_page(tmp_path, "storage.html", STORAGE_PAGE)
    kept = "storage=kept cookie=c=kept"
    empty = "storage=null cookie=none"

    webpane.attach("first", url=page + "?set")
    webpane.wait_title("first", kept)
    webpane.attach("second", url=page)
    webpane.wait_title("second", empty)

    webpane.detach("first")
    webpane.attach("first", url=page)
    webpane.wait_title("first", empty)
    webpane.detach("first")
    webpane.detach("second")

    # In memory only: WebKit wrote no website data under the home folder.
    home = webpane.app.env["HOME"]
    written = [os.path.join(d, n) for d, dirs, files in os.walk(home)
               for n in dirs + files if "webkit" in n.lower()]
    assert written == []


def test_a_killed_web_process_is_reported_and_the_view_stays(webpane):
    before = set(webpane.web_processes())
    webpane.attach("crash", html="<title>doomed</title>")
    webpane.wait_loaded("crash", "about:blank")
    mine = set(webpane.web_processes()) - before
    assert mine
    for pid in mine:
        os.kill(pid, signal.SIGKILL)
    webpane.wait_event("crash", "onWebProcessTerminated")

    assert webpane.call("attach", {"id": "crash", "html": "x"}) == error(
        "duplicate_id", "a view with this id is already attached")
    webpane.detach("crash")
    assert webpane.alive()


def test_dart_cannot_break_the_host(webpane):
    webpane.attach("rough", html=SIZE_PAGE)
    webpane.wait_title("rough", "1x1 visible")
    for rect in ({"x": -2**31, "y": 2**31 - 1, "width": 2**31 - 1,
                  "height": 2**31 - 1},
                 {"x": 2**31 - 1, "y": -2**31, "width": 2**31 - 1,
                  "height": 1}):
        webpane.set_rect("rough", **rect)
    webpane.detach("rough")
    # Values are cut to 32 bits: 2**40 + 40 is 40.
    webpane.attach("cut", html=SIZE_PAGE, x=2**32 + 5,
                   width=2**40 + 40, height=2**33 + 30)
    webpane.wait_title("cut", "40x30 visible")
    webpane.click(5 + 39, 29)
    webpane.wait_title("cut", "click 39,29")
    webpane.detach("cut")

    # Strings that are not UTF-8 where the codec expects text.
    def send_with(method, args, placeholder, raw):
        message = c.encode_method_call(method, args)
        assert placeholder in message
        return c.decode_response(webpane.dart.send(
            CHANNEL, message.replace(placeholder, raw)))

    assert send_with("attach", {"id": "bytes", "html": "<title>\x01\x02",
                                "userScript": "document.title='\x01\x02'"},
                     b"\x01\x02", b"\xff\xfe") == OK
    assert send_with("setRect", {"id": "\x01\x02", "x": 1},
                     b"\x01\x02", b"\xc3\x28") == OK
    webpane.detach("bytes")

    # Values of the wrong type count as absent.
    bad_attach = error("bad_arguments",
                       "attach requires an id and a url or an html document")
    for method, args, reply in (
            ("attach", {"id": "typed", "html": "<title>typed</title>",
                        "x": 1.5, "visible": "no", "userScript": ["x"],
                        "javaScriptEnabled": 0}, OK),
            ("attach", 7, bad_attach),
            ("attach", {"id": ["typed"], "html": "x"}, bad_attach),
            ("setVisible", [1, 2], OK),
            ("setRect", {"id": "typed", "width": "wide"}, OK),
            ("bridgeReply", "typed", error(
                "bad_arguments",
                "bridgeReply requires an id and a requestId"))):
        assert webpane.call(method, args) == reply, (method, args)
    webpane.wait_title("typed", "typed")
    webpane.detach("typed")
    webpane.detach("rough")
    assert webpane.alive()


def test_a_hostile_page_cannot_break_the_host(webpane):
    size = 1 << 20
    webpane.attach("hostile", bridgeName="b", width=300, height=200, html=f"""
<script>
const bridge = webkit.messageHandlers.b;
function post(m) {{ try {{ bridge.postMessage(m); }} catch (e) {{}} }}
for (let i = 0; i < 200; i++) post(i);
post('x'.repeat({size}));
post({{toString() {{ throw new Error('no'); }}}});
post('\\ud800 lone surrogate');
document.title = '\\udfff' + 't'.repeat(100000);
for (let i = 0; i < 20; i++) window.open('about:blank#' + i);
setTimeout(() => {{ post('spinning'); for (;;) {{}} }}, 100);
</script>""")
    webpane.wait_event("hostile", "onBridgeRequest", {"message": "spinning"},
                       timeout=60)
    requests = webpane.events("hostile", "onBridgeRequest")
    assert [r["requestId"] for r in requests[:3]] == ["req_0", "req_1",
                                                      "req_2"]
    assert any(len(r["message"]) == size for r in requests)
    # Replies to a page that no longer listens.
    for r in requests[:50]:
        assert webpane.call("bridgeReply", {"id": "hostile",
                                            "requestId": r["requestId"],
                                            "result": "late"}) == OK
    webpane.detach("hostile")
    assert webpane.alive()


def test_without_an_overlay_attach_is_unavailable(launch, build_dir):
    app = launch(support_dir(build_dir) / "webpane_plain_host")
    app.dart.wait_connected()
    assert app.dart.call(CHANNEL, "isAvailable") == c.Success(True)
    assert app.dart.call(CHANNEL, "attach", {"id": "a", "html": "x"}) == \
        error("unavailable", "no GtkOverlay to embed the web view in")
    assert app.dart.call(CHANNEL, "isAvailable") == c.Success(True)
    assert ("webpane: the FlView is not inside a GtkOverlay; the runner in "
            "linux/runner/my_application must add one") in app.log()
    assert app.proc.poll() is None


def test_closing_the_window_with_views_attached_ends_the_run_cleanly(
        start_velmo, window_manager):
    app = start_velmo()
    app.dart.wait_connected()
    wid = app.wait_window()
    panes = Webpane(app)
    # One view waits for a navigation decision, one for a bridge reply.
    panes.navigation["waiting"] = lambda args: NEVER
    panes.attach("waiting", html="<p>x</p>", navigationPolicy=True)
    panes.wait_event("waiting", "onNavigationRequest")
    panes.attach("asking", bridgeName="b", width=100, height=100,
                 html="<script>webkit.messageHandlers.b.postMessage(1)"
                      "</script>")
    panes.wait_event("asking", "onBridgeRequest")

    subprocess.run(["wmctrl", "-i", "-c", hex(wid)], env=app.env,
                   check=True, timeout=15)
    assert app.wait_exit() == 0
    assert "CRITICAL" not in app.log()
