#!/usr/bin/env bash
# Every test: installs what is missing, builds, runs the whole suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
BUILD_DIR=build scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
