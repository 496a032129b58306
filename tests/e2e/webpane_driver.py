"""Drives the web-view plug-in of a running velmo from the Dart side.

WebKit start-up is slow, so each test module shares one velmo on its own
private desktop (fixture `webpane`, module scope); tests keep apart by
giving their views ids of their own, and every event is picked by id.

    def test_x(webpane):
        webpane.attach("x", html="<title>T</title>")
        webpane.wait_title("x", "T")

Pages talk back through their title: tests load pages whose scripts write
what they saw into document.title, and read it from "onTitleChanged".
"""

import os
import subprocess
import time
from pathlib import Path

import pytest

import desktop
import standard_codec as c
from conftest import App, private_env
from dart_side import DartSide

CHANNEL = "velmo/webpane"
OK = c.Success(None)


class Webpane:
    """The Dart end of "velmo/webpane" in one running host."""

    def __init__(self, app):
        self.app = app
        self.dart = app.dart
        # How "onNavigationRequest" is answered, per view id: a callable
        # taking the call's arguments and returning what the driver replies
        # (codec reply or dart_side.NEVER). Views not listed get true.
        self.navigation = {}
        self.dart.answer(CHANNEL, "onNavigationRequest", self._navigation)

    def _navigation(self, args):
        decide = self.navigation.get(args.get("id"))
        return decide(args) if decide else c.Success(True)

    # -- Dart to host ------------------------------------------------------

    def call(self, method, args=None):
        return self.dart.call(CHANNEL, method, args)

    def attach(self, view_id, **args):
        reply = self.call("attach", {"id": view_id, **args})
        assert reply == OK, reply

    def detach(self, view_id):
        assert self.call("detach", {"id": view_id}) == OK

    def set_rect(self, view_id, **rect):
        assert self.call("setRect", {"id": view_id, **rect}) == OK

    # -- host to Dart ------------------------------------------------------

    def events(self, view_id, method):
        """Arguments of every `method` call for `view_id` so far."""
        return [call.args for call in self.dart.calls_of(CHANNEL, method)
                if isinstance(call.args, dict) and
                call.args.get("id") == view_id]

    def wait_event(self, view_id, method, match=None, count=1, timeout=None):
        """Waits until `count` calls of `method` for `view_id` whose
        arguments contain the entries of the dict `match` have arrived;
        returns the arguments of the last of them."""
        match = match or {}
        found = []

        def seen():
            found[:] = [a for a in self.events(view_id, method)
                        if all(a.get(k) == v for k, v in match.items())]
            return len(found) >= count

        try:
            self.dart.wait_until(seen, timeout)
        except TimeoutError:
            raise TimeoutError(
                f"no {method} {match} #{count} of {view_id!r}; it sent "
                f"{self.history(view_id)[-12:]}") from None
        return found[count - 1]

    def history(self, view_id):
        """(method, arguments) of every call for `view_id`, texts cut short,
        for failure messages."""
        return [(call.method, {k: (v[:80] if isinstance(v, str) else v)
                               for k, v in call.args.items()})
                for call in self.dart.calls_of(CHANNEL)
                if isinstance(call.args, dict) and
                call.args.get("id") == view_id]

    def wait_title(self, view_id, title, count=1):
        return self.wait_event(view_id, "onTitleChanged", {"title": title},
                               count)

    def titles(self, view_id):
        return [a["title"] for a in self.events(view_id, "onTitleChanged")]

    def wait_loaded(self, view_id, url, count=1):
        return self.wait_event(view_id, "onLoadFinished", {"url": url}, count)

    def wait_asked(self, view_id, url, user, count=1):
        """Waits for "onNavigationRequest" of `url` with "isUserInitiated"
        `user`."""
        return self.wait_event(view_id, "onNavigationRequest",
                               {"url": url, "isUserInitiated": user}, count)

    # -- the host ----------------------------------------------------------

    def click(self, x, y):
        """A real mouse click at (x, y) of the main window."""
        wid = self.app.wait_window()
        subprocess.run(["xdotool", "mousemove", "--window", str(wid),
                        str(x), str(y), "click", "1"],
                       env=self.app.env, check=True, timeout=15)

    def click_until_title(self, view_id, x, y, title, timeout=15):
        """Clicks at (x, y) until the page of `view_id` shows `title`: for
        moves that change no size, which the page cannot report, so the
        click may land before the overlay has placed the view anew."""
        deadline = time.monotonic() + timeout
        while title not in self.titles(view_id):
            if time.monotonic() > deadline:
                raise TimeoutError(f"no title {title!r} for {view_id!r}")
            self.click(x, y)
            time.sleep(0.2)

    def web_processes(self):
        """Pids of the host's WebKit web processes."""
        return children_named(self.app.pid, "WebKitWebProces")

    def resident_kib(self):
        with open(f"/proc/{self.app.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmRSS")

    def alive(self):
        return (self.app.proc.poll() is None and
                self.call("isAvailable") == c.Success(True))


def children_named(pid, comm):
    """Pids of the direct children of `pid` whose command name is `comm`
    (as the kernel keeps it: at most 15 characters)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        if ppid == pid and name == comm:
            found.append(int(entry))
    return found


def file_url(path):
    return Path(path).resolve().as_uri()


def write_page(directory, name, body):
    path = Path(directory) / name
    path.write_text(body, encoding="utf-8")
    return file_url(path)


def start_host(directory, program, extra_env=None):
    """Starts `program` on a private desktop in `directory` with a Dart side;
    returns (app, stop)."""
    directory = Path(directory)
    display = desktop.Display(directory).__enter__()
    bus = desktop.Bus(directory, "session").__enter__()
    env = private_env(directory, display, bus)
    env.update(extra_env or {})
    dart_dir = directory / "dart"
    dart_dir.mkdir()
    app = App([program], env, directory / "host.log", DartSide(dart_dir))

    def stop():
        app.stop()
        bus.__exit__(None, None, None)
        display.__exit__(None, None, None)

    try:
        app.dart.wait_connected()
        app.wait_window()
    except BaseException:
        stop()
        raise
    return app, stop


def support_dir(build_dir):
    """Where the build puts the plug-in's test support programs."""
    return Path(build_dir) / "webpane_testing"


@pytest.fixture(scope="module")
def webpane(tmp_path_factory, build_dir, velmo_path):
    """One velmo per test module, with its Dart side wrapped in Webpane. It
    sees the test camera (a GStreamer device provider) as its only camera."""
    directory = tmp_path_factory.mktemp("webpane")
    app, stop = start_host(directory, velmo_path, {
        "GST_PLUGIN_PATH": str(support_dir(build_dir) / "gstreamer"),
        "GST_REGISTRY": str(directory / "gstreamer-registry.bin"),
    })
    try:
        yield Webpane(app)
        assert app.proc.poll() is None, app.log()
    finally:
        stop()
