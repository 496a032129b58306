"""A private desktop for end-to-end tests: an Xvfb display, D-Bus buses
with configurations written here, a window manager, and X11 queries.

Every piece is a context manager that stops what it started, also when the
test fails; the fixtures in conftest.py wrap them per test.
"""

import os
import shutil
import signal
import subprocess
import time

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>{bus_type}</type>
  <listen>unix:dir={directory}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
{extra}  </policy>
</busconfig>
"""


def _stop(proc, timeout=5):
    """Ends a process we started: SIGTERM, then SIGKILL."""
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def wait_for(predicate, timeout=15.0, what="a condition", interval=0.05):
    """Polls `predicate` until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out waiting for {what}")
        time.sleep(interval)


class Display:
    """An Xvfb server on a free display number."""

    def __init__(self, directory, size="1280x800x24"):
        self.directory = str(directory)
        self.size = size
        self.proc = None
        self.name = None

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.size,
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.directory, "xvfb.log"), "wb"))
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        if not number:
            _stop(self.proc)
            raise RuntimeError("Xvfb did not start")
        self.name = f":{number}"
        return self

    def __exit__(self, *exc):
        _stop(self.proc)


class Bus:
    """A private dbus-daemon of the given type ("session" or "system").
    `deny_own` lists names no client may own on it."""

    def __init__(self, directory, bus_type="session", deny_own=()):
        self.directory = os.path.join(str(directory), f"{bus_type}-bus")
        self.bus_type = bus_type
        self.deny_own = deny_own
        self.proc = None
        self.address = None

    def __enter__(self):
        os.makedirs(self.directory, exist_ok=True)
        extra = "".join(f'    <deny own="{name}"/>\n' for name in self.deny_own)
        config = os.path.join(self.directory, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(bus_type=self.bus_type,
                                      directory=self.directory, extra=extra))
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["dbus-daemon", "--nofork", f"--config-file={config}",
             f"--print-address={write_fd}"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.directory, "daemon.log"), "wb"))
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.address = f.readline().strip()
        if not self.address:
            _stop(self.proc)
            raise RuntimeError(f"dbus-daemon ({self.bus_type}) did not start")
        return self

    def __exit__(self, *exc):
        _stop(self.proc)


class WindowManager:
    """openbox on a display; ready once it has claimed the EWMH check
    window."""

    def __init__(self, directory, env):
        self.directory = str(directory)
        self.env = env
        self.proc = None

    def __enter__(self):
        self.proc = subprocess.Popen(
            ["openbox", "--sm-disable"], env=self.env,
            stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.directory, "openbox.log"), "wb"))
        wait_for(lambda: wm_name(self.env), 15, "the window manager")
        return self

    def __exit__(self, *exc):
        _stop(self.proc)


def _x(env, *args):
    return subprocess.run(list(args), env=env, capture_output=True, text=True,
                          timeout=15)


def wm_name(env):
    """The _NET_WM_NAME of the running window manager, or None."""
    check = _x(env, "xprop", "-root", "-notype", "_NET_SUPPORTING_WM_CHECK")
    if "window id #" not in check.stdout:
        return None
    wid = check.stdout.split("#")[-1].strip()
    name = _x(env, "xprop", "-id", wid, "-notype", "_NET_WM_NAME")
    if "=" not in name.stdout:
        return None
    return name.stdout.split("=", 1)[1].strip().strip('"')


def windows_of(env, pid):
    """Ids of the top-level X11 windows that process `pid` has mapped."""
    out = _x(env, "xdotool", "search", "--onlyvisible", "--pid", str(pid))
    return [int(w) for w in out.stdout.split()]


def all_windows_of(env, pid):
    """Ids of every X11 window of `pid`, mapped or not."""
    out = _x(env, "xdotool", "search", "--pid", str(pid))
    return [int(w) for w in out.stdout.split()]


def window_property(env, wid, name):
    """The text of one property of a window, as xprop prints it after '=',
    or None when it is not set."""
    out = _x(env, "xprop", "-id", str(wid), "-notype", name)
    if "=" not in out.stdout:
        return None
    return out.stdout.split("=", 1)[1].strip()


def window_title(env, wid):
    out = _x(env, "xdotool", "getwindowname", str(wid))
    return out.stdout.strip() if out.returncode == 0 else None


def screenshot(env, path):
    """Writes a PNG of the whole screen to `path`."""
    _x(env, "import", "-window", "root", str(path))
    return os.path.exists(path)


def have(program):
    return shutil.which(program) is not None
