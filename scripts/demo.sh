#!/usr/bin/env bash
# The main job: a whole filling on the built-in emulator. Builds only what the demo runs (the
# dorv program, which hosts the emulator itself, with what it links): no test suites, windows
# or benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
TARGETS="dorv" BUILD_DIR=build scripts/build.sh
exec build/tools/dorv demo "$@"
