#!/usr/bin/env bash
# Installs, from Debian packages, everything the build, the run and the tests need.
# Does nothing when every package is already present.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev llvm
  # libraries the deliverables link
  libgtk-3-dev libwebkit2gtk-4.1-dev libssl-dev libsodium-dev libx11-dev
  # unit tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev protobuf-compiler nlohmann-json3-dev valgrind
  # end-to-end tests: display, buses, window manager, drivers
  xvfb xauth x11-utils dbus dbus-daemon openbox xdotool wmctrl imagemagick libgstreamer1.0-dev
  python3 python3-pytest python3-gi python3-dbus python3-dbusmock
  gir1.2-gtk-3.0 gir1.2-glib-2.0
  # desktop integration checks
  desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
