#!/bin/sh
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs the whole suite there; any report fails the run. The
# Vintrix processes the tests start are instrumented too and inherit these
# options, so a report in one of them fails its test.
set -eu
cd "$(dirname "$0")/.."
tools/bootstrap.sh --packages-only
[ -f build-asan/CMakeCache.txt ] ||
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINTRIX_SANITIZE=ON
cmake --build build-asan --parallel "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp":print_suppressions=0
ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" --timeout 900
