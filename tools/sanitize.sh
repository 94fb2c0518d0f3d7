#!/bin/sh
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs the whole suite there; any report fails the run. The
# Vintrix processes the tests start are instrumented too and inherit these
# options, so a report in one of them fails its test. (CI builds build/ this
# way instead and runs it through ./test.sh: see .ci/run.)
set -eu
cd "$(dirname "$0")/.."
tools/bootstrap.sh --packages-only
[ -f build-asan/CMakeCache.txt ] ||
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINTRIX_SANITIZE=ON
cmake --build build-asan --parallel "$(nproc)"
. tools/sanitizer-options.sh
ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" --timeout 900
