#!/bin/sh
# Installs what is missing (the normal build's packages, plus libstb-dev for
# the stb_rect_pack baseline and imagemagick for the 8-bit comparison),
# builds the benchmark in Release into build-bench/ and prints its tables.
# Arguments go to the benchmark: --quick (one timing round instead of
# three), --no-huge (skip the 65536-pixel sheets), --keep (keep the files).
set -eu
cd "$(dirname "$0")/.."

packages="build-essential cmake pkg-config qt6-base-dev qt6-image-formats-plugins
  libpng-dev libimagequant-dev libgtest-dev libstb-dev imagemagick"
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

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVINTRIX_BENCH=ON >/dev/null
cmake --build build-bench --target vintrix_bench Vintrix --parallel "$(nproc)" >/dev/null
QT_QPA_PLATFORM=offscreen build-bench/bin/vintrix_bench build-bench/bin/Vintrix "$@"
