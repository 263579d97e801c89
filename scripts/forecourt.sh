#!/usr/bin/env bash
# The forecourt service on the emulator: installs, builds the service and the emulator only,
# and runs `dorv-forecourt --emulator` (2 lines x 4 pumps x 2 nozzles) on 127.0.0.1:8050.
# Arguments go to dorv-forecourt (e.g. --listen 127.0.0.1:9000 --emulator-flow 10).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
TARGETS="dorv-forecourt dorv-emulator" BUILD_DIR=build scripts/build.sh
exec build/forecourt/dorv-forecourt --emulator "$@"
