#!/bin/sh
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs the whole suite there; any report fails the run.
set -eu
cd "$(dirname "$0")/.."
tools/bootstrap.sh
[ -f build-asan/CMakeCache.txt ] ||
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVINTRIX_SANITIZE=ON
cmake --build build-asan --parallel "$(nproc)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)"
