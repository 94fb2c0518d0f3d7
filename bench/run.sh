#!/bin/sh
# Installs what is missing (the normal build's packages, plus libstb-dev for
# the stb_rect_pack baseline, imagemagick for the 8-bit comparison and
# optipng for the file sizes),
# builds the benchmark in Release into build-bench/ and prints its tables.
# Arguments go to the benchmark: --quick (one timing round instead of
# three), --no-huge (skip the 65536-pixel sheets), --keep (keep the files),
# --crunch PATH (time the peer packer crunch on sets A-D beside Vintrix).
set -eu
cd "$(dirname "$0")/.."

tools/bootstrap.sh --packages-only libstb-dev imagemagick optipng

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVINTRIX_BENCH=ON >/dev/null
cmake --build build-bench --target vintrix_bench Vintrix --parallel "$(nproc)" >/dev/null
QT_QPA_PLATFORM=offscreen build-bench/bin/vintrix_bench build-bench/bin/Vintrix "$@"
