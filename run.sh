#!/bin/sh
# Sets up what is missing, builds, and starts Vintrix Studio.
set -eu
cd "$(dirname "$0")"
tools/bootstrap.sh
exec build/bin/vintrix-studio "$@"
