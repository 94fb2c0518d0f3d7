#!/bin/sh
# Sets up what is missing, builds, and runs every test.
set -eu
cd "$(dirname "$0")"
tools/bootstrap.sh
ctest --test-dir build --output-on-failure --parallel "$(nproc)"
