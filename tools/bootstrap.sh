#!/bin/sh
# Installs the Debian packages the build needs (only those missing), then
# configures and builds into build/. Safe to run again: it does nothing that
# is already done. Extra packages can be asked for as arguments;
# --packages-only first stops after the packages.
set -eu
cd "$(dirname "$0")/.."
packagesOnly=false
if [ "${1:-}" = --packages-only ]; then
  packagesOnly=true
  shift
fi

# libfontconfig-dev: vintrix-studio reads the font configuration early.
# libxcb1-dev: bench/window_open watches windows appear through the X server.
# xvfb, xauth, dbus-daemon, at-spi2-core and libglib2.0-bin (gdbus): the test
# that asks both windows questions over a real accessibility bus.
packages="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-image-formats-plugins
  libcli11-dev libtomlplusplus-dev libpng-dev libturbojpeg0-dev libtiff-dev libwebp-dev libimagequant-dev libdeflate-dev
  libstb-dev libgtest-dev desktop-file-utils appstream
  libfontconfig-dev libxcb1-dev xvfb xauth dbus-daemon at-spi2-core libglib2.0-bin $*"

missing=""
for p in $packages; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
fi

$packagesOnly && exit 0
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)"
