#!/usr/bin/env bash
# The main job: a whole filling on the built-in emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Only what the demo runs: the host program (it hosts the emulator itself).
TARGETS="dorv" BUILD_DIR=build scripts/build.sh
exec build/tools/dorv demo "$@"
