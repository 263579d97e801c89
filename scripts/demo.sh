#!/usr/bin/env bash
# The main job: a whole filling on the built-in emulator. Builds only what the demo runs (the
# dorv program and the emulator, with what they link) into build-demo: no test suites, windows
# or benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DDORV_BUILD_TESTS=OFF \
  -DDORV_BUILD_QT=OFF -DDORV_BUILD_BENCH=OFF -DDORV_BUILD_FUZZ=OFF >/dev/null
cmake --build "$build" --target dorv dorv-emulator -j "$(nproc)"
exec "$build/tools/dorv" demo "$@"
