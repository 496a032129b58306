"""The installed form and the README run command."""

import os
import subprocess

REPO = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))

PLUGIN_LIBRARIES = [
    "libdesktop_drop_plugin.so", "libemoji_picker_flutter_plugin.so",
    "libfile_selector_linux_plugin.so",
    "libflutter_secure_storage_linux_plugin.so",
    "libflutter_timezone_plugin.so", "libflutter_webrtc_plugin.so",
    "libwebpane_plugin.so", "libmaps_launcher_plugin.so",
    "libmedia_kit_libs_linux_plugin.so", "libmedia_kit_video_plugin.so",
    "libopen_file_linux_plugin.so", "libpasteboard_plugin.so",
    "librecord_linux_plugin.so", "libscreen_retriever_linux_plugin.so",
    "libsqlite3_flutter_libs_plugin.so", "liburl_launcher_linux_plugin.so",
    "libwindow_manager_plugin.so",
]


def dynamic_section(path):
    return subprocess.run(["readelf", "-d", str(path)], capture_output=True,
                          text=True, check=True).stdout


def test_cmake_install_places_bundle_and_desktop_integration(build_dir,
                                                             tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", str(build_dir), "--prefix",
                    str(prefix)], check=True, capture_output=True, timeout=300)
    bundle = prefix / "lib" / "velmo"
    assert os.path.realpath(prefix / "bin" / "velmo") == \
        str(bundle / "velmo")
    for lib in ["libflutter_linux_gtk.so"] + PLUGIN_LIBRARIES:
        assert (bundle / "lib" / lib).is_file(), lib
    assert (bundle / "data" / "app_icon.png").is_file()
    assert (bundle / "data" / "flutter_assets" / "assets" / "icons" /
            "splash_logo.png").is_file()

    dynamic = dynamic_section(bundle / "velmo")
    assert "[$ORIGIN/lib:$ORIGIN/../../lib]" in dynamic
    needed = [line.split("[")[1].rstrip("]") for line in dynamic.splitlines()
              if "(NEEDED)" in line]
    assert set(PLUGIN_LIBRARIES + ["libflutter_linux_gtk.so"]) <= set(needed)
    ldd = subprocess.run(["ldd", str(bundle / "velmo")],
                         capture_output=True, text=True).stdout
    assert "not found" not in ldd
    # Started through the link (no display): the libraries load, GTK stops.
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY")
           and not k.startswith("DBUS_")}
    run = subprocess.run([str(prefix / "bin" / "velmo")], env=env,
                         capture_output=True, text=True, timeout=60)
    assert "error while loading shared libraries" not in run.stderr
    assert "cannot open display" in run.stderr

    desktop_file = prefix / "share" / "applications" / "com.velmo.pro.desktop"
    metainfo = prefix / "share" / "metainfo" / "com.velmo.pro.metainfo.xml"
    icon = (prefix / "share" / "icons" / "hicolor" / "256x256" / "apps" /
            "com.velmo.pro.png")
    assert icon.is_file()
    subprocess.run(["desktop-file-validate", str(desktop_file)], check=True)
    subprocess.run(["appstreamcli", "validate", "--no-net", str(metainfo)],
                   check=True, capture_output=True)
    entry = desktop_file.read_text()
    assert "Exec=velmo %u\n" in entry
    assert "MimeType=x-scheme-handler/velmo;\n" in entry
    assert "Icon=com.velmo.pro\n" in entry
    assert "DBusActivatable" not in entry


def test_run_command_writes_a_screenshot_of_the_window(build_dir, tmp_path):
    shot = tmp_path / "shot.png"
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY")
           and not k.startswith("DBUS_")}
    env.update(VELMO_BUILD_DIR=str(build_dir), VELMO_SCREENSHOT=str(shot))
    out = subprocess.run([os.path.join(REPO, "scripts", "run.sh")], env=env,
                         capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stdout + out.stderr
    assert f"screenshot: {shot}" in out.stdout
    with open(shot, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"
    # The window manager drew the title it was given.
    assert os.path.getsize(shot) > 1000
