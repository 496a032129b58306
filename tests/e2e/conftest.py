"""Fixtures of the end-to-end suite.

Per test: `display` (Xvfb), `session_bus`, `system_bus` (private
dbus-daemons), `desktop_env` (environment pointing at them, with a private
home), `system_bus_env` (the same plus the system bus), `window_manager`
(openbox), and `launch`, which starts a program with a Dart side attached
and stops it at the end. Everything is stopped even when the test fails.
"""

import os
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import desktop  # noqa: E402
from dart_side import DartSide  # noqa: E402

REPO = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def build_dir():
    path = Path(os.environ.get("VELMO_BUILD_DIR", REPO / "build" / "release"))
    if not path.is_dir():
        pytest.fail(f"no build at {path}; set VELMO_BUILD_DIR")
    return path


@pytest.fixture(scope="session")
def velmo_path(build_dir):
    return build_dir / "bundle" / "velmo"


@pytest.fixture
def display(tmp_path):
    with desktop.Display(tmp_path) as d:
        yield d


@pytest.fixture
def session_bus(tmp_path):
    with desktop.Bus(tmp_path, "session") as bus:
        yield bus


@pytest.fixture
def system_bus(tmp_path):
    with desktop.Bus(tmp_path, "system") as bus:
        yield bus


def private_env(tmp_path, display, session_bus):
    """Environment of a program on the private desktop."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("DBUS_", "WAYLAND_", "XDG_", "DISPLAY",
                                "GDK_", "GTK_"))}
    root = tmp_path / "home"
    runtime = tmp_path / "runtime"
    for d in (root, runtime, root / ".config", root / ".local/share",
              root / ".cache"):
        d.mkdir(parents=True, exist_ok=True)
    runtime.chmod(0o700)
    env.update({
        "DISPLAY": display.name,
        "GDK_BACKEND": "x11",
        "HOME": str(root),
        "XDG_RUNTIME_DIR": str(runtime),
        "XDG_CONFIG_HOME": str(root / ".config"),
        "XDG_DATA_HOME": str(root / ".local/share"),
        "XDG_CACHE_HOME": str(root / ".cache"),
        "NO_AT_BRIDGE": "1",
        "GSETTINGS_BACKEND": "memory",
        "LC_ALL": "C.UTF-8",
    })
    if session_bus is not None:
        env["DBUS_SESSION_BUS_ADDRESS"] = session_bus.address
    return env


@pytest.fixture
def desktop_env(tmp_path, display, session_bus):
    return private_env(tmp_path, display, session_bus)


@pytest.fixture
def system_bus_env(desktop_env, system_bus):
    env = dict(desktop_env)
    env["DBUS_SYSTEM_BUS_ADDRESS"] = system_bus.address
    return env


@pytest.fixture
def window_manager(tmp_path, desktop_env):
    with desktop.WindowManager(tmp_path, desktop_env) as wm:
        yield wm


class App:
    """A started program, its log, and (optionally) its Dart side."""

    def __init__(self, argv, env, log_path, dart):
        self.argv = [str(a) for a in argv]
        self.log_path = log_path
        self.dart = dart
        self.env = dict(env)
        if dart is not None:
            self.env.update(dart.env())
        self.proc = subprocess.Popen(
            self.argv, env=self.env, stdin=subprocess.DEVNULL,
            stdout=open(log_path, "wb"), stderr=subprocess.STDOUT)

    @property
    def pid(self):
        return self.proc.pid

    def wait_exit(self, timeout=20):
        return self.proc.wait(timeout)

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def windows(self):
        return desktop.windows_of(self.env, self.pid)

    def wait_window(self, timeout=15):
        return desktop.wait_for(self.windows, timeout, "a mapped window")[0]

    def stop(self):
        desktop._stop(self.proc)
        if self.dart is not None:
            self.dart.close()


@pytest.fixture
def launch(tmp_path, desktop_env):
    """launch(program, *args, dart=True, env=None) -> App. With dart=True
    the program gets its own Dart side (App.dart); call
    App.dart.wait_connected() before talking to it."""
    apps = []

    def start(program, *args, dart=True, env=None):
        n = len(apps)
        side = None
        if dart:
            directory = tmp_path / f"dart{n}"
            directory.mkdir()
            side = DartSide(directory)
        app = App([program, *args], env or desktop_env,
                  tmp_path / f"app{n}.log", side)
        apps.append(app)
        return app

    yield start
    for app in apps:
        app.stop()


@pytest.fixture
def start_velmo(launch, velmo_path):
    """start_velmo(*args, dart=True, env=None) -> App running the bundle's
    velmo. With a Dart side, wait for it with App.dart.wait_connected()."""

    def start(*args, dart=True, env=None):
        return launch(velmo_path, *args, dart=dart, env=env)

    return start
